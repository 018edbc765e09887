// Pictures of 3-3-2 pixels: the colours the device shows, sheets of images, PNG and palette files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "skin/colour_332.h"

// An RGB picture, rows from the top, three bytes a pixel.
struct canvas {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

canvas make_canvas(int width, int height, std::array<std::uint8_t, 3> background);

// Draws a `side` x `side` RGB image at (x, y), each pixel a `scale` x `scale` square.
void draw_image(canvas& sheet, std::span<const std::uint8_t> rgb, int side, int x, int y, int scale);

// Draws `text` (digits, letters drawn in lower case, "/-_.", and blanks for anything else) with a
// 3x5 font.
void draw_label(canvas& sheet, const std::string& text, int x, int y, int scale);
constexpr int label_width(const std::string& text, int scale)
{
    return static_cast<int>(text.size()) * 4 * scale;
}
constexpr int label_height(int scale)
{
    return 5 * scale;
}

// The 3-3-2 block expanded to RGB as `panel` shows it.
std::vector<std::uint8_t> block_to_rgb(std::span<const std::uint8_t> block,
                                       const panel_levels& panel = standard_panel());

// A PNG of `width` x `height` pixels of `channels` bytes each (3: RGB, 4: RGBA), rows from the
// top; empty when it cannot be made.
std::vector<std::uint8_t> png_file(int width, int height, int channels, std::span<const std::uint8_t> pixels);

// Writes `picture` as a PNG, replacing any file there whole; false when it cannot be written.
bool save_png(const std::filesystem::path& path, const canvas& picture);

// The 256 device colours, as `panel` shows them, as the bytes of a palette file: "gpl" (GIMP), "act" (Adobe
// colour table), "pal" (JASC) or "png" (a 16x16 grid of swatches); empty for any other format.
std::vector<std::uint8_t> palette_file(const std::string& format,
                                       const panel_levels& panel = standard_panel());

// Writes palette_file(format) to `path`, replacing any file there whole. False when it cannot be
// written.
bool save_palette(const std::filesystem::path& path, const std::string& format,
                  const panel_levels& panel = standard_panel());
