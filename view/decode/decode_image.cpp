// Image decoding: stb's decoders with every allocation held to the declared image's needs.
#include "view/decode/decode_image.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/byte_reader.h"

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
    static constexpr std::array<std::uint8_t, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static constexpr std::array<std::uint8_t, 4> data_type{'I', 'D', 'A', 'T'};
    byte_reader reader{file};
    if (!std::ranges::equal(read_bytes(reader, 0, 8), signature))
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

} // namespace

#define STBI_MALLOC(size) limited_malloc(size)
#define STBI_REALLOC(block, size) limited_realloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
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

// What stb must know before it decodes: the image's declared size, checked against
// max_image_pixels with nothing decoded yet. False, with `error` set, when it is refused.
bool stb_size_checked(std::span<const std::uint8_t> file, int& width, int& height, std::string& error)
{
    if (file.size() > INT_MAX) {
        error = "the file is too large";
        return false;
    }
    if (png_starts_with_empty_data(file)) {
        error = "the image is damaged (its first data chunk is empty)";
        return false;
    }
    int channels = 0;
    allocation_limit = file.size() + (std::size_t{1} << 20);
    if (stbi_info_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels) == 0) {
        error =
            std::string(stbi_failure_reason()) == "too large"
                ? "it declares more pixels than the " + std::to_string(max_image_pixels) + " skinview takes"
                : "not an image skinview can read (BMP, PNG, JPEG, GIF or TGA)";
        return false;
    }
    const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (width <= 0 || height <= 0 || pixels > max_image_pixels) {
        error = "it declares " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels, more than the " + std::to_string(max_image_pixels) + " skinview takes";
        return false;
    }
    return true;
}

} // namespace

rgba_image decode_image(std::span<const std::uint8_t> file, std::string& error)
{
    if (looks_like_bmp(file))
        return decode_bmp(file, error);
    int width = 0;
    int height = 0;
    if (!stb_size_checked(file, width, height, error))
        return {};
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // The largest honest need: the compressed data, and 16-bit RGBA rows with a filter byte each.
    allocation_limit = file.size() + pixels * 8 + static_cast<std::size_t>(height) + (std::size_t{1} << 20);
    int channels = 0;
    stbi_uc* decoded =
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 4);
    if (decoded == nullptr) {
        error = std::string("the image is damaged or cut short (") + stbi_failure_reason() + ")";
        return {};
    }
    return {width, height, byte_buffer(decoded)}; // stb's memory is the C heap's, as byte_buffer's
}

std::vector<rgba_image> decode_frames(std::span<const std::uint8_t> file, std::string& error)
{
    std::vector<rgba_image> frames;
    static constexpr std::array<std::uint8_t, 3> gif_signature{'G', 'I', 'F'};
    if (file.size() < 3 || !std::equal(gif_signature.begin(), gif_signature.end(), file.begin())) {
        rgba_image image = decode_image(file, error);
        if (image.rgba)
            frames.push_back(std::move(image));
        return frames;
    }
    // The declared size is checked as every image's is, before any frame is decoded.
    int declared_width = 0;
    int declared_height = 0;
    if (!stb_size_checked(file, declared_width, declared_height, error))
        return frames;
    const auto frame_bytes =
        static_cast<std::size_t>(declared_width) * static_cast<std::size_t>(declared_height) * 4;
    // stb grows one buffer frame by frame, so its cap bounds the frames' pixels together.
    allocation_limit = file.size() + static_cast<std::size_t>(max_image_pixels) * 4 + (std::size_t{1} << 20);
    int width = 0;
    int height = 0;
    int count = 0;
    int channels = 0;
    stbi_uc* decoded = stbi_load_gif_from_memory(file.data(), static_cast<int>(file.size()), nullptr, &width,
                                                 &height, &count, &channels, 4);
    const std::string too_many =
        "its frames hold more pixels than the " + std::to_string(max_image_pixels) + " skinview takes";
    if (decoded == nullptr) {
        const std::string reason = stbi_failure_reason();
        error = reason == "outofmem" ? too_many : "the image is damaged or cut short (" + reason + ")";
        return frames;
    }
    byte_buffer all(decoded);
    const std::uint64_t pixels = std::uint64_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height) *
                                 static_cast<unsigned>(count);
    if (width != declared_width || height != declared_height || count <= 0 || pixels > max_image_pixels) {
        error = too_many;
        return frames;
    }
    if (count == 1) { // a still GIF: stb's buffer is the frame
        frames.push_back({width, height, std::move(all)});
        return frames;
    }
    for (int frame = 0; frame < count; ++frame) {
        byte_buffer rgba(static_cast<std::uint8_t*>(std::malloc(frame_bytes)));
        if (!rgba) {
            error = "out of memory";
            return {};
        }
        std::memcpy(rgba.get(), all.get() + static_cast<std::size_t>(frame) * frame_bytes, frame_bytes);
        frames.push_back({width, height, std::move(rgba)});
    }
    return frames;
}

const char* image_format_name(std::span<const std::uint8_t> file)
{
    using namespace std::string_view_literals;
    struct signature {
        std::size_t at;
        std::string_view bytes;
        const char* name;
    };
    static constexpr std::array<signature, 8> signatures{{
        {0, "BM"sv, "BMP"},
        {0, "\x89PNG\r\n\x1A\n"sv, "PNG"},
        {0, "\xFF\xD8\xFF"sv, "JPEG"},
        {0, "GIF87a"sv, "GIF"},
        {0, "GIF89a"sv, "GIF"},
        {0, "II*\0"sv, "TIFF"},
        {0, "MM\0*"sv, "TIFF"},
        {8, "WEBP"sv, "WebP"},
    }};
    for (const signature& s : signatures) {
        if (file.size() >= s.at + s.bytes.size() &&
            std::equal(s.bytes.begin(), s.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(s.at),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            return s.name;
    }
    return nullptr;
}
