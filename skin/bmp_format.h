// Where the fields of a BMP file lie: the 14-byte file header, then the information header,
// the 40-byte one (and its longer successors) or the old 12-byte one. All are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

// 64-bit, so that adding a 32-bit header size from a file cannot wrap.
inline constexpr std::uint64_t bmp_file_header_size = 14;
inline constexpr std::uint32_t bmp_info_header_size = 40;
inline constexpr std::uint32_t bmp_core_header_size = 12; // 16-bit sizes, 3-byte colours

// The file header.
inline constexpr std::size_t bmp_signature_at = 0;     // 2 bytes, "BM"
inline constexpr std::size_t bmp_file_size_at = 2;     // 4
inline constexpr std::size_t bmp_pixel_offset_at = 10; // 4, where the pixel array starts

// The information header: its size comes first, whatever its form.
inline constexpr std::size_t bmp_header_size_at = 14; // 4

// The 40-byte header and those that extend it.
inline constexpr std::size_t bmp_width_at = 18;         // 4, signed
inline constexpr std::size_t bmp_height_at = 22;        // 4, signed; negative: rows top-down
inline constexpr std::size_t bmp_planes_at = 26;        // 2, always 1
inline constexpr std::size_t bmp_bit_count_at = 28;     // 2
inline constexpr std::size_t bmp_compression_at = 30;   // 4
inline constexpr std::size_t bmp_image_size_at = 34;    // 4
inline constexpr std::size_t bmp_x_resolution_at = 38;  // 4, pixels per metre
inline constexpr std::size_t bmp_y_resolution_at = 42;  // 4
inline constexpr std::size_t bmp_colours_used_at = 46;  // 4; 0: all that the bits can index
inline constexpr std::size_t bmp_channel_masks_at = 54; // 4 each: red, green, blue, alpha

// The 12-byte header.
inline constexpr std::size_t bmp_core_width_at = 18;     // 2
inline constexpr std::size_t bmp_core_height_at = 20;    // 2
inline constexpr std::size_t bmp_core_planes_at = 22;    // 2
inline constexpr std::size_t bmp_core_bit_count_at = 24; // 2

// Colour-table entries: blue, green, red and (but for the 12-byte header) a reserved byte.
inline constexpr std::size_t bmp_colour_entry_size = 4;
inline constexpr std::size_t bmp_core_colour_entry_size = 3;

// Values of the compression field.
inline constexpr std::uint32_t bmp_uncompressed = 0;
inline constexpr std::uint32_t bmp_rle8 = 1;
inline constexpr std::uint32_t bmp_rle4 = 2;
inline constexpr std::uint32_t bmp_bit_fields = 3;
inline constexpr std::uint32_t bmp_jpeg = 4; // the pixels are a JPEG file; 24-bit RLE in OS/2's forms
inline constexpr std::uint32_t bmp_png = 5;  // the pixels are a PNG file
inline constexpr std::uint32_t bmp_alpha_bit_fields = 6;
