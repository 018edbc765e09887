// Skin assembly: every numbered image of the folder, converted and written as one skin file.
#pragma once

#include <cstdint>
#include <span>

#include "support/memory.h"

// The names of the two input series, tried from index 0 upward, and of the output.
inline constexpr const char* picture_pattern = "bmp%u.bmp";
inline constexpr const char* icon_pattern = "icon%02u.bmp";
inline constexpr const char* skin_file_name = "skin.skn";

// The pixel blocks gathered so far; `capacity` bytes are allocated, `length` are in use.
struct skin_buffer {
    byte_buffer bytes;
    std::int32_t length = 0;
    std::int32_t capacity = 0;
};

// Copies `block` to the end of the skin, growing it geometrically; a skin that would pass
// 2^31 - 1 bytes ends the program.
void append_block(skin_buffer& skin, std::span<const std::uint8_t> block);

// Converts the picture series, then the icon series, of the working directory into "skin.skn".
void build_skin();
