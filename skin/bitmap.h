// Checking a palettised bitmap and converting it into a block of 3-3-2 pixels.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "support/memory.h"

enum class bitmap_problem : std::uint8_t {
    none,
    header_cut_short,  // the file ends inside the header fields that are read
    short_header,      // an information header under 40 bytes: the fields read are not its own
    wrong_dimensions,  // not 16x16 or 128x128; a top-down image has a negative height
    wrong_bit_count,   // not 8 bits per pixel
    compressed,        // not stored uncompressed
    pixels_cut_short,  // the pixel array runs past the end of the file
    colours_cut_short, // a pixel names a colour-table entry that the file does not hold
};

// What a bitmap's header says, and whether the skin can take the image.
struct bitmap_layout {
    bitmap_problem problem = bitmap_problem::none;
    std::int32_t width = 0; // the stored fields, for reports
    std::int32_t height = 0;
    std::uint16_t bit_count = 0;
    std::uint32_t compression = 0;
    std::uint32_t header_size = 0;
    std::int32_t side = 0; // 16 or 128 once the dimensions are accepted
    std::uint64_t table_offset = 0;
    std::uint32_t table_entries = 0; // colour-table entries inside the file, at most 256
    std::uint64_t pixel_offset = 0;
};

// Reads the header of the BMP file in `file` and checks that a skin can hold the image,
// without ending the program. Nothing outside `file` is read.
bitmap_layout describe_bitmap(std::span<const std::uint8_t> file);

// A bitmap's description and, when the skin takes it, its pixel block: side x side bytes of
// 3-3-2 colour, top row first. The block is empty when the image is refused or the heap is
// exhausted.
struct bitmap_conversion {
    bitmap_layout layout;
    byte_buffer block;
};

// Checks and converts the BMP file in `file`, without ending the program.
bitmap_conversion try_convert_bitmap(std::span<const std::uint8_t> file);

// try_convert_bitmap for skinpack: takes over the `length` bytes of a BMP file, releases them and
// gives back the pixel block; `length` then holds the block's size. A refused image ends the
// program, "Truncated image file: NAME" or "Wrong image format"; `name` is the file's name.
byte_buffer convert_bitmap(byte_buffer file, std::int32_t& length, const char* name);

// The colour of every pixel as the file stores it, top row first, three bytes (red, green, blue)
// a pixel; empty unless `layout` is the accepting description of `file`.
std::vector<std::uint8_t> bitmap_true_colours(std::span<const std::uint8_t> file,
                                              const bitmap_layout& layout);
