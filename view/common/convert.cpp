// The conversion of artwork: read, flatten, fit, quantise; the device BMP that holds it, and back.
#include "view/common/convert.h"
#include "skin/bmp_format.h"
#include "skin/colour_332.h"
#include "skin/skin.h"
#include "support/file_io.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "view/common/render.h"
#include "view/common/skin_folder.h"

namespace fs = std::filesystem;

namespace {

// Where device_bmp puts its colour table (behind the file and information headers) and its
// pixels (behind the table's 256 colours).
constexpr std::size_t device_bmp_table = bmp_file_header_size + bmp_info_header_size;
constexpr std::size_t device_bmp_pixels = device_bmp_table + 256 * bmp_colour_entry_size;

void put_le(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

bool parse_colour(std::string text, rgb_colour& colour)
{
    if (text.starts_with('#'))
        text.erase(0, 1);
    if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    for (std::size_t c = 0; c < 3; ++c)
        colour[c] = static_cast<std::uint8_t>(std::stoi(text.substr(2 * c, 2), nullptr, 16));
    return true;
}

std::optional<std::uint8_t> key_byte(const rgb_colour& colour, rgb_colour& nearest)
{
    const std::uint8_t byte = quantise_332(colour, 1, 1, dither_method::none)[0];
    nearest = expand_332(byte);
    return nearest == colour ? std::optional<std::uint8_t>(byte) : std::nullopt;
}

std::vector<std::uint8_t> read_source(const fs::path& source, std::string& error)
{
    std::error_code code;
    if (!fs::is_regular_file(source, code)) { // nor opened: a pipe or a device could block
        error = fs::exists(source, code) ? "not a file" : "no such file";
        return {};
    }
    const whole_file file = read_whole_file(source, max_source_bytes);
    if (file.outcome == read_outcome::read)
        return {file.bytes.get(), file.bytes.get() + file.length};
    // The size is checked as the file is read, so one that grew meanwhile is still refused.
    error = file.outcome == read_outcome::too_large ? "the file is over 256 MiB"
                                                    : "the file is empty or cannot be read";
    return {};
}

converted_image convert_image(const rgba_image& image, const convert_options& options, std::string& error,
                              const converted_image* earlier)
{
    const bool square_side = image.width == image.height && (image.width == 16 || image.width == 128);
    if (options.size == 0 && !square_side) {
        error = "is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                ": give --size 16 or --size 128 to scale it to fit";
        return {};
    }
    converted_image result;
    result.side = options.size != 0 ? options.size : image.width;
    std::vector<std::uint8_t> rgb = flatten(image, options.background);
    const bool scaled = image.width != result.side || image.height != result.side;
    if (scaled)
        rgb = fit_square(rgb, image.width, image.height, result.side, options.background);
    const earlier_frame before{earlier != nullptr ? earlier->source : std::span<const std::uint8_t>{},
                               earlier != nullptr ? earlier->block : std::span<const std::uint8_t>{}};
    result.block =
        quantise_332(rgb, result.side, result.side, options.dither, options.key, &before, options.panel);
    if (options.key) {
        // The alpha, scaled as the colours are, with nothing around the scaled image.
        const std::span<const std::uint8_t> rgba = rgba_bytes(image);
        std::vector<std::uint8_t> alpha(rgba.size() / 4 * 3);
        for (std::size_t i = 0; i < alpha.size(); ++i)
            alpha[i] = rgba[i / 3 * 4 + 3];
        if (scaled)
            alpha = fit_square(alpha, image.width, image.height, result.side, {0, 0, 0});
        for (std::size_t i = 0; i < result.block.size(); ++i)
            if (alpha[i * 3] == 0)
                result.block[i] = *options.key;
    }
    result.source = std::move(rgb);
    return result;
}

std::vector<std::uint8_t> device_bmp(std::span<const std::uint8_t> block, int side)
{
    const auto size = static_cast<std::size_t>(side);
    std::vector<std::uint8_t> bmp(device_bmp_pixels + size * size);
    bmp[bmp_signature_at] = 'B';
    bmp[bmp_signature_at + 1] = 'M';
    put_le(bmp, bmp_file_size_at, static_cast<std::uint32_t>(bmp.size()), 4);
    put_le(bmp, bmp_pixel_offset_at, device_bmp_pixels, 4);
    put_le(bmp, bmp_header_size_at, bmp_info_header_size, 4);
    put_le(bmp, bmp_width_at, static_cast<std::uint32_t>(side), 4);
    put_le(bmp, bmp_height_at, static_cast<std::uint32_t>(side), 4);
    put_le(bmp, bmp_planes_at, 1, 2);
    put_le(bmp, bmp_bit_count_at, 8, 2);
    put_le(bmp, bmp_image_size_at, static_cast<std::uint32_t>(size * size), 4);
    put_le(bmp, bmp_colours_used_at, 256, 4);
    for (std::size_t b = 0; b < 256; ++b) {
        const std::array<std::uint8_t, 3> colour = expand_332(static_cast<std::uint8_t>(b));
        std::uint8_t* entry = bmp.data() + device_bmp_table + b * bmp_colour_entry_size;
        entry[0] = colour[2];
        entry[1] = colour[1];
        entry[2] = colour[0];
    }
    for (std::size_t row = 0; row < size; ++row)
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>((size - 1 - row) * size), size,
                    bmp.begin() + static_cast<std::ptrdiff_t>(device_bmp_pixels + row * size));
    return bmp;
}

converted_image device_block(std::span<const std::uint8_t> bmp)
{
    for (const int side : {16, 128}) {
        const auto size = static_cast<std::size_t>(side);
        if (bmp.size() != device_bmp_pixels + size * size)
            continue;
        converted_image image{.block = std::vector<std::uint8_t>(size * size), .side = side};
        for (std::size_t row = 0; row < size; ++row)
            std::memcpy(image.block.data() + (size - 1 - row) * size,
                        bmp.data() + device_bmp_pixels + row * size, size);
        return image;
    }
    return {};
}
