// Any artwork an artist may bring, decoded to RGBA: BMP and GIF by our own decoders, the rest by stb.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "view/decode/bmp_decoder.h"

// Decodes a BMP, PNG, JPEG, GIF (its first frame) or TGA, told apart by content. On failure
// gives an empty image and says why in `error`. No decoder may allocate much more than the
// pixels that the header declares, which are checked against max_image_pixels first.
rgba_image decode_image(std::span<const std::uint8_t> file, std::string& error);

// Every frame of an animated GIF, in order, each the whole canvas as a browser shows it; any other
// image as one frame. The frames together may hold no more than max_image_pixels.
std::vector<rgba_image> decode_frames(std::span<const std::uint8_t> file, std::string& error);
