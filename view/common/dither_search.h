// The refined dither's search: a device pattern changed pixel by pixel, each change kept where it
// lowers the error that a model of the eye sees, filtered in linear light.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

using light_rgb = std::array<float, 3>; // linear light per channel, 0 to 1

struct search_image {
    std::span<const light_rgb> source; // each pixel's wanted light, top row first
    std::size_t width = 0;
    std::size_t height = 0;
    std::span<const light_rgb, 256> palette; // the light that each device byte shows
    std::optional<std::uint8_t> key;         // a byte that no change may give
};

// Improves `block` (device bytes, one a pixel) in place until no trial change lowers the error or
// the passes run out: a pixel's channels each a level up, down or the same, or its colour swapped
// with a neighbour's, a pixel only ever taking the levels just below and above its own light. Only
// pixels whose `active` byte is non-zero change (every pixel when it is empty).
void search_pattern(const search_image& image, std::span<const std::uint8_t> active,
                    std::vector<std::uint8_t>& block);
