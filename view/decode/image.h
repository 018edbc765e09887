// A decoded image: RGBA pixels, as every decoder gives them and the quantiser takes them.
#pragma once

#include <cstdint>
#include <span>

#include "support/memory.h"

// An image as RGBA, rows from the top, four bytes a pixel. The bytes come zeroed from the heap,
// so pages that a sparse run-length image never touches cost no memory.
struct rgba_image {
    int width = 0;
    int height = 0;
    byte_buffer rgba; // width x height x 4 bytes; empty when nothing was decoded
    int delay_ms = 0; // how long an animation's frame shows, as its file says; 0: not said
};

// The image's bytes, or none.
std::span<const std::uint8_t> rgba_bytes(const rgba_image& image);
