// skinview preview: the skin as the device shows it, as PNG contact sheets.
#pragma once

#include <filesystem>
#include <functional>

#include "skin/colour_332.h"

namespace CLI {
class App;
}

struct preview_options {
    std::filesystem::path folder = ".";
    std::filesystem::path output = "skin-preview.png";
    int scale = 2;
    bool compare = false; // each original beside its converted version
    bool error = false;   // each image's perceptual error as a heat map beside it, and its mean printed
    panel_levels panel = standard_panel(); // the colours the device shows: a project's [panel]
};

// Writes the sheet, split over "NAME-1.png", "NAME-2.png", ... when one would be too large.
int run_preview(const preview_options& options);

// Adds the subcommand preview to `app`; once it is parsed, `chosen` carries it out.
void add_preview_command(CLI::App& app, std::function<int()>& chosen);
