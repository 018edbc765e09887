// skinview import: any artwork made into a BMP that skinpack takes, in the device's colours.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "view/common/quantise.h"

namespace CLI {
class App;
}

struct import_options {
    std::vector<std::filesystem::path> sources;
    std::filesystem::path into = ".";
    std::string as;                // "picture", "icon", or empty: icons for 16x16 results
    std::optional<unsigned> start; // the first index to write; default: the series' first gap
    std::filesystem::path output;  // names the output of a single source instead
    int size = 0;                  // 16 or 128: scale sources of other sizes to fit
    dither_method dither = dither_method::none;
    std::string background = "000000"; // RRGGBB, with or without '#'
    std::string key;                   // RRGGBB of a device colour for transparent pixels, or empty
    bool force = false;                // replace existing files
    std::filesystem::path panel;       // a TOML file whose [panel] gives the device's colours, or empty
};

// Imports every source in turn, one line on stdout per output and on stderr per failure.
// status_ok when all were written, status_problems when any failed.
int run_import(const import_options& options);

// Adds the subcommand import to `app`; once it is parsed, `chosen` carries it out.
void add_import_command(CLI::App& app, std::function<int()>& chosen);
