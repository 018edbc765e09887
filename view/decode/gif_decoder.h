// Decoding GIFs, still or animated, frame by frame as a browser composes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "view/decode/decode_failure.h"
#include "view/decode/image.h"

// The first `max_frames` frames of a GIF, each the whole canvas as shown once that frame is drawn:
// the canvas starts transparent, a frame is clipped to it, and each frame's disposal (leave,
// clear to transparent, restore what was before) is applied before the next is drawn. The frames
// together may hold no more than max_image_pixels. On failure gives none and says why in `problem`.
std::vector<rgba_image> decode_gif(std::span<const std::uint8_t> file, std::size_t max_frames,
                                   decode_problem& problem);
