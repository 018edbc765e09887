// Builds BMP files in memory, valid or deliberately odd, for tests and sample folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

struct rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

struct bmp_image {
    std::int32_t width = 16;
    std::int32_t height = 16; // negative: rows stored top-down
    std::uint16_t bit_count = 8;
    std::uint32_t compression = 0;
    std::uint32_t header_size = 40; // 40, 108 or 124 in the wild
    std::vector<rgb> palette{rgb{}, rgb{255, 255, 255}};
    std::vector<std::uint8_t> pixels; // top row first; empty: all index 0
    std::uint32_t gap = 0;            // bytes between the colour table and the pixels
};

// The file bytes of `image`: the pixel rows are stored bottom row first unless the height is
// negative, and every header field (including bfOffBits) is consistent.
std::vector<std::uint8_t> bmp_bytes(const bmp_image& image);

// How a BMP stores its pixels, for the forms that paint programs write.
struct bmp_form {
    const char* name;
    std::uint16_t bit_count;
    std::uint32_t compression = 0; // 0, 1 (RLE8), 2 (RLE4), 3 (bit fields) or 6 (with alpha)
    std::uint32_t header_size = 40;
    bool top_down = false;
    bool alpha = false; // 32-bit bit fields with an alpha mask
};

// An RGBA picture (four bytes a pixel, top row first) as a BMP of `form`. Palettised forms need
// no more colours than their bits can index; 16-bit forms keep the top 5 (or 6) bits of each.
std::vector<std::uint8_t> encode_bmp(const std::vector<std::uint8_t>& rgba, int width, int height,
                                     const bmp_form& form);

// A table in which entry i is the colour whose 3-3-2 byte is i, so a converted block holds the
// pixel indices themselves.
std::vector<rgb> identity_palette();

// A `side` x `side` image over the identity palette with a colour sweep shifted by `seed`.
bmp_image sample_image(std::int32_t side, unsigned seed);

// Writes `bytes` to `path`, replacing any file there.
void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
