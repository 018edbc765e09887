// What a file holds, told by its first bytes: the one table of image signatures.
#pragma once

#include <cstdint>
#include <span>

enum class image_format : std::uint8_t { unknown, bmp, png, jpeg, gif, tiff, webp };

// The format whose signature the file starts with; unknown where none does (TGA has none).
image_format format_by_signature(std::span<const std::uint8_t> file);

// "BMP", "PNG", "JPEG", "GIF", "TIFF", "WebP", as messages name them; null for unknown.
const char* image_format_label(image_format format);
