// Skin assembly: every numbered image of the folder, converted and written as one skin file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "support/file_io.h"
#include "support/memory.h"

// The names of the two input series, tried from index 0 upward, and of the output.
inline constexpr const char* picture_pattern = "bmp%u.bmp";
inline constexpr const char* icon_pattern = "icon%02u.bmp";
inline constexpr const char* skin_file_name = "skin.skn";

// The name that `pattern` (picture_pattern or icon_pattern) gives the image at `index`.
std::string series_name(const char* pattern, std::uint32_t index);

// The numbered BMP of the `index`-th picture or icon: "bmp3.bmp", "icon07.bmp".
std::string numbered_name(bool icon, std::uint32_t index);

// What one name of a series finds. A series is read from index 0 upward and ends at the first
// name that no directory entry has (read_outcome::missing); anything else that keeps a file from
// being read is a fault of that image, never the end of the series.
struct series_member {
    std::string name; // "bmp3.bmp"
    whole_file file;
};

// Looks up the member of the series `pattern` at `index` in `folder` (empty: the working folder)
// and reads it whole. Never ends the program; skinpack and skinview both walk the series with it.
series_member read_series_member(const std::filesystem::path& folder, const char* pattern,
                                 std::uint32_t index);

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
