// Image decoding: our own BMP and GIF decoders, and stb's others with every allocation held to
// the declared image's needs.
#include "view/decode/decode_image.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/byte_reader.h"
#include "view/decode/gif_decoder.h"
#include "view/decode/signature.h"

namespace {

// What one allocation of the decoder running now may take. A compressed stream that would
// inflate past what its declared size needs (a decompression bomb) is cut off here.
std::size_t allocation_limit = 0;

void* limited_malloc(std::size_t size)
{
    return size > allocation_limit ? nullptr : std::malloc(size);
}

void* limited_realloc(void* block, std::size_t size)
{
    return size > allocation_limit ? nullptr : std::realloc(block, size);
}

// stb copies an empty first image-data chunk of a PNG through a null pointer, which is undefined
// behaviour; no encoder writes one, so such a file is refused before stb sees it.
bool png_starts_with_empty_data(std::span<const std::uint8_t> file)
{
    static constexpr std::array<std::uint8_t, 4> data_type{'I', 'D', 'A', 'T'};
    byte_reader reader{file};
    if (format_by_signature(file) != image_format::png)
        return false;
    for (std::uint64_t at = 8;;) {
        const std::span<const std::uint8_t> length = read_bytes(reader, at, 4); // big-endian
        const std::span<const std::uint8_t> type = read_bytes(reader, at + 4, 4);
        if (reader.overrun)
            return false;
        const std::uint32_t bytes = std::uint32_t{length[0]} << 24 | std::uint32_t{length[1]} << 16 |
                                    std::uint32_t{length[2]} << 8 | length[3];
        if (std::ranges::equal(type, data_type))
            return bytes == 0;
        at += 12 + std::uint64_t{bytes}; // length, type, data and checksum
    }
}

// A JPEG marker segment's length, which is big-endian and counts itself.
std::uint64_t segment_length(byte_reader& reader, std::uint64_t marker)
{
    return std::uint64_t{read_u8(reader, marker + 2)} << 8 | read_u8(reader, marker + 3);
}

// Whether the Huffman tables of the segment at `marker` are ones stb would write past its arrays
// for: it fills a table of at most 256 codes with as many as the table declares (up to 4080).
// Tables are read as stb reads them: while the length lasts, with zeros past the file's end.
bool huffman_segment_overflows(byte_reader& reader, std::uint64_t marker)
{
    const std::uint64_t end = marker + 2 + segment_length(reader, marker);
    for (std::uint64_t table = marker + 4; table < end && table < reader.bytes.size();) {
        const std::uint8_t kind = read_u8(reader, table); // class and slot; stb stops at a wrong one
        if (kind >> 4 > 1 || (kind & 15) > 3)
            return false;
        std::uint64_t codes = 0;
        for (std::uint64_t length = 1; length <= 16; ++length)
            codes += read_u8(reader, table + length);
        if (codes > 256)
            return true;
        table += 17 + codes;
    }
    return false;
}

// Whether a JPEG holds a Huffman table that would overflow stb's. Up to the first scan, segments
// are walked by their lengths, as stb walks them, so metadata is never mistaken for a table. From
// there on, stb may take any FF C4 for a table, even one inside damaged compressed data, so every
// one is checked; a real JPEG has a few dozen, and a file with thousands is refused before
// reading them could take long.
bool jpeg_has_impossible_huffman_tables(std::span<const std::uint8_t> file)
{
    static constexpr std::uint8_t huffman_tables = 0xC4;
    static constexpr std::uint8_t start_of_scan = 0xDA;
    static constexpr int most_segments = 4096;
    byte_reader reader{file};
    std::uint64_t at = 0; // stb takes any number of FF bytes before the start marker
    while (at < file.size() && read_u8(reader, at) == 0xFF)
        ++at;
    if (at == 0 || at == file.size() || read_u8(reader, at) != 0xD8)
        return false;
    ++at;
    while (at + 1 < file.size() && read_u8(reader, at) == 0xFF && read_u8(reader, at + 1) != start_of_scan) {
        if (read_u8(reader, at + 1) == 0xFF) { // a fill byte
            ++at;
            continue;
        }
        if (read_u8(reader, at + 1) == huffman_tables && huffman_segment_overflows(reader, at))
            return true;
        at += 2 + segment_length(reader, at);
    }
    int segments = 0;
    for (; at + 1 < file.size(); ++at) {
        if (read_u8(reader, at) != 0xFF || read_u8(reader, at + 1) != huffman_tables)
            continue;
        if (++segments > most_segments || huffman_segment_overflows(reader, at))
            return true;
    }
    return false;
}

} // namespace

#define STBI_MALLOC(size) limited_malloc(size)
#define STBI_REALLOC(block, size) limited_realloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_TGA
// Sizes are judged here against max_image_pixels, so stb should report them rather than refuse.
#define STBI_MAX_DIMENSIONS 0x7FFFFFFF
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

// The format that stb will take a file for, as the messages name it.
const char* stb_format(std::span<const std::uint8_t> file)
{
    const image_format format = format_by_signature(file);
    return format == image_format::png || format == image_format::jpeg ? image_format_label(format) : "TGA";
}

// What stb must know before it decodes: the image's declared size, checked against
// max_image_pixels with nothing decoded yet. False, with `problem` set, when it is refused.
bool stb_size_checked(std::span<const std::uint8_t> file, int& width, int& height, decode_problem& problem)
{
    problem.format = stb_format(file);
    if (file.size() > INT_MAX) {
        problem.failure = decode_failure::file_too_large;
        return false;
    }
    if (png_starts_with_empty_data(file)) {
        problem.failure = decode_failure::png_empty_data;
        return false;
    }
    if (jpeg_has_impossible_huffman_tables(file)) {
        problem.failure = decode_failure::jpeg_impossible_tables;
        return false;
    }
    int channels = 0;
    allocation_limit = file.size() + (std::size_t{1} << 20);
    if (stbi_info_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels) == 0) {
        // A file that starts as a PNG or JPEG does is one, damaged; anything else, taken for a
        // TGA, which has no signature, is most likely no image at all.
        const bool too_large = std::strcmp(stbi_failure_reason(), "too large") == 0;
        problem.failure = too_large                                 ? decode_failure::stb
                          : std::strcmp(problem.format, "TGA") != 0 ? decode_failure::damaged_header
                                                                    : decode_failure::not_an_image;
        problem.stb_reason = stbi_failure_reason();
        return false;
    }
    problem.width = static_cast<std::uint64_t>(std::max(width, 0));
    problem.height = static_cast<std::uint64_t>(std::max(height, 0));
    if (problem.width == 0 || problem.height == 0) {
        problem.failure = decode_failure::no_pixels;
        return false;
    }
    if (problem.width * problem.height > max_image_pixels) {
        problem.failure = decode_failure::too_many_pixels;
        return false;
    }
    return true;
}

// The first frame of any image, or nothing with `problem` set.
rgba_image decode_first(std::span<const std::uint8_t> file, decode_problem& problem)
{
    const image_format format = format_by_signature(file);
    if (format == image_format::bmp)
        return decode_bmp(file, problem);
    if (format == image_format::gif) {
        std::vector<rgba_image> frames = decode_gif(file, 1, problem);
        return frames.empty() ? rgba_image{} : std::move(frames[0]);
    }
    int width = 0;
    int height = 0;
    if (!stb_size_checked(file, width, height, problem))
        return {};
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // The largest honest need: the compressed data, and 16-bit RGBA rows with a filter byte each.
    allocation_limit = file.size() + pixels * 8 + static_cast<std::size_t>(height) + (std::size_t{1} << 20);
    int channels = 0;
    stbi_uc* decoded =
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 4);
    if (decoded == nullptr) {
        problem.failure = decode_failure::stb;
        problem.stb_reason = stbi_failure_reason();
        return {};
    }
    return {width, height, byte_buffer(decoded)}; // stb's memory is the C heap's, as byte_buffer's
}

} // namespace

rgba_image decode_image(std::span<const std::uint8_t> file, std::string& error)
{
    decode_problem problem;
    rgba_image image = decode_first(file, problem);
    if (!image.rgba)
        error = describe(problem);
    return image;
}

std::vector<rgba_image> decode_frames(std::span<const std::uint8_t> file, std::string& error)
{
    if (format_by_signature(file) != image_format::gif) {
        std::vector<rgba_image> frames;
        rgba_image image = decode_image(file, error);
        if (image.rgba)
            frames.push_back(std::move(image));
        return frames;
    }
    decode_problem problem;
    std::vector<rgba_image> frames = decode_gif(file, SIZE_MAX, problem);
    if (frames.empty())
        error = describe(problem);
    return frames;
}
