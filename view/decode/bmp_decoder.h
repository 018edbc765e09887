// Decoding every BMP form that paint programs write, into RGBA pixels.
#pragma once

#include <cstdint>
#include <span>

#include "view/decode/decode_failure.h"
#include "view/decode/image.h"

// Images that declare more pixels than this are refused before any pixel memory is allocated.
inline constexpr std::uint64_t max_image_pixels = std::uint64_t{1} << 25;

// Decodes a BMP of 1, 4, 8, 16, 24 or 32 bits a pixel with a 12- to 124-byte information header,
// stored either way up, uncompressed, RLE8, RLE4 or with bit fields. Pixels that a run-length
// image skips are transparent. On failure gives an empty image and says why in `problem`.
rgba_image decode_bmp(std::span<const std::uint8_t> file, decode_problem& problem);
