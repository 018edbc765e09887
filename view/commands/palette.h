// skinview palette: the 256 device colours as a palette file for paint programs.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace CLI {
class App;
}

// Writes the palette to `output` (default "skin-palette.FORMAT") in `format`, or in the format
// its extension names when `format` is empty.
int run_palette(std::filesystem::path output, std::string format);

// Adds the subcommand palette to `app`; once it is parsed, `chosen` carries it out.
void add_palette_command(CLI::App& app, std::function<int()>& chosen);
