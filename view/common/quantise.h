// Bringing true-colour artwork to the device: compositing, scaling to a square, and choosing
// 3-3-2 colours with or without dithering.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "skin/colour_332.h"
#include "view/decode/image.h"

using rgb_colour = std::array<std::uint8_t, 3>;

// `none` and `ordered` are positional: a pixel's result depends on its colour and place only, so
// a pixel that stays the same from one frame to the next stays the same on the device; `refined`
// keeps it too, but for pixels within steady_reach of a change.
enum class dither_method : std::uint8_t {
    none,            // the nearest device level, channel by channel
    floyd_steinberg, // the error in light spread to the neighbours, serpentine, colours chosen perceptually
    ordered,         // a blue-noise threshold map, in light
    refined,         // the diffused result searched for the pattern of least error as the eye sees it
};

// A frame already quantised, that the refined dither of the next frame keeps where its source
// stays the same: the search then works only near the pixels that changed.
struct earlier_frame {
    std::span<const std::uint8_t> rgb;   // its source
    std::span<const std::uint8_t> block; // its result
};

// How far from a changed pixel the refined dither of a later frame may change still pixels.
inline constexpr int steady_reach = 6;

// The image over `background`, three bytes (red, green, blue) a pixel.
std::vector<std::uint8_t> flatten(const rgba_image& image, rgb_colour background);

// An RGB image scaled (by a windowed filter) to fit inside `side` x `side`, aspect ratio kept,
// centred on `background`.
std::vector<std::uint8_t> fit_square(std::span<const std::uint8_t> rgb, int width, int height, int side,
                                     rgb_colour background);

// The 3-3-2 byte of every pixel of an RGB image, among the colours that `panel` shows, as
// `method` says. A `key` byte is never given: a pixel that would take it takes the nearest of the
// key's neighbours instead. With `earlier` of the same size, the refined dither starts from it.
std::vector<std::uint8_t> quantise_332(std::span<const std::uint8_t> rgb, int width, int height,
                                       dither_method method, std::optional<std::uint8_t> key = {},
                                       const earlier_frame* earlier = nullptr,
                                       const panel_levels& panel = standard_panel());
