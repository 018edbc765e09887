// skinview palette: the 256 device colours as a palette file for paint programs.
#pragma once

#include <filesystem>
#include <string>

// Writes the palette to `output` (default "skin-palette.FORMAT") in `format`, or in the format
// its extension names when `format` is empty.
int run_palette(std::filesystem::path output, std::string format);
