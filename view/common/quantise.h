// Bringing true-colour artwork to the device: compositing, scaling to a square, and choosing
// 3-3-2 colours with or without dithering.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "view/decode/image.h"

using rgb_colour = std::array<std::uint8_t, 3>;

// `none` and `ordered` are positional: a pixel's result depends on its colour and place only, so
// a pixel that stays the same from one frame to the next stays the same on the device.
enum class dither_method : std::uint8_t {
    none,            // the nearest device level, channel by channel
    floyd_steinberg, // the error in light spread to the neighbours, serpentine, colours chosen perceptually
    ordered,         // a blue-noise threshold map, in light
};

// The image over `background`, three bytes (red, green, blue) a pixel.
std::vector<std::uint8_t> flatten(const rgba_image& image, rgb_colour background);

// An RGB image scaled (by a windowed filter) to fit inside `side` x `side`, aspect ratio kept,
// centred on `background`.
std::vector<std::uint8_t> fit_square(std::span<const std::uint8_t> rgb, int width, int height, int side,
                                     rgb_colour background);

// The 3-3-2 byte of every pixel of an RGB image, among the levels that the device shows, as
// `method` says. A `key` byte is never given: a pixel that would take it takes the nearest of the
// key's neighbours instead.
std::vector<std::uint8_t> quantise_332(std::span<const std::uint8_t> rgb, int width, int height,
                                       dither_method method, std::optional<std::uint8_t> key = {});
