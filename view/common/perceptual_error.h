// How far the eye sees two images of one size apart at the device's pixel size: both blurred by
// a Gaussian of one pixel (or `blur` pixels, as seen from farther) in linear light, then the
// CIEDE2000 difference pixel by pixel.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The difference at each pixel of two sRGB images (3 bytes a pixel, top row first) of
// `width` x `height`; empty when either is not that size.
std::vector<double> perceptual_error(std::span<const std::uint8_t> source,
                                     std::span<const std::uint8_t> result, int width, int height,
                                     double blur = 1.0);

// The mean of the differences; 0 for none.
double mean_error(const std::vector<double>& error);

// The differences as RGB for the eye: black where none is seen, through red and yellow to white
// at 10 and more (a difference plainly seen).
std::vector<std::uint8_t> error_heat_map(const std::vector<double>& error);
