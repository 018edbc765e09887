// The ordered dither's threshold map: blue noise, whose thresholds are spread evenly at every
// level, so that a dithered tone shows no pattern and a gradient no cross-hatch.
#pragma once

#include <cstddef>

inline constexpr std::size_t blue_noise_side = 64;

// The rank of (x, y) in the map, from 0 to 64 x 64 - 1, each rank at one place; the map repeats
// across the plane without a seam.
int blue_noise_rank(std::size_t x, std::size_t y);
