// BMP decoding: the header read and checked up front, then one plain loop per storage form.
#include "view/decode/bmp_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <vector>

#include "skin/bmp_format.h"
#include "support/byte_reader.h"

namespace {

// One channel of a bit-field pixel: where its bits are and how to scale them to 8 bits.
struct channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t top = 0; // the largest value of the channel's bits
};

channel make_channel(std::uint32_t mask)
{
    if (mask == 0)
        return {};
    const int shift = std::countr_zero(mask);
    return {mask, shift, (std::uint64_t{1} << std::bit_width(mask >> shift)) - 1};
}

std::uint8_t extract(const channel& c, std::uint32_t value, std::uint8_t absent)
{
    if (c.mask == 0)
        return absent;
    const std::uint64_t bits = (value & c.mask) >> c.shift;
    return static_cast<std::uint8_t>((bits * 255 + c.top / 2) / c.top);
}

struct bmp_header {
    std::uint64_t pixel_offset = 0;
    std::uint32_t header_size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // rows, whichever way they are stored
    bool top_down = false;
    std::uint16_t bit_count = 0;
    std::uint32_t compression = bmp_uncompressed;
    std::array<channel, 4> channels; // red, green, blue, alpha
    std::vector<std::array<std::uint8_t, 4>> palette;
};

// Reads and checks every header field; the pixels are then read without further checks.
bool read_header(byte_reader& reader, bmp_header& h, decode_problem& problem)
{
    h.pixel_offset = read_u32(reader, bmp_pixel_offset_at);
    h.header_size = read_u32(reader, bmp_header_size_at);
    std::uint32_t colours_used = 0;
    std::size_t entry_size = bmp_colour_entry_size;
    // A field counts only if the header is long enough to hold it; later ones take their defaults.
    const auto holds_field = [&h](std::uint64_t at, std::uint64_t width) {
        return at + width <= bmp_file_header_size + h.header_size;
    };
    if (h.header_size == bmp_core_header_size) {
        h.width = read_u16(reader, bmp_core_width_at);
        h.height = read_u16(reader, bmp_core_height_at);
        h.bit_count = read_u16(reader, bmp_core_bit_count_at);
        entry_size = bmp_core_colour_entry_size;
    } else if (holds_field(bmp_bit_count_at, 2)) {
        h.width = read_i32(reader, bmp_width_at);
        h.height = read_i32(reader, bmp_height_at);
        h.bit_count = read_u16(reader, bmp_bit_count_at);
        h.compression =
            holds_field(bmp_compression_at, 4) ? read_u32(reader, bmp_compression_at) : bmp_uncompressed;
        colours_used = holds_field(bmp_colours_used_at, 4) ? read_u32(reader, bmp_colours_used_at) : 0;
    } else {
        problem.failure = decode_failure::bmp_unknown_header;
        problem.bmp_header = h.header_size;
        return false;
    }
    if (reader.overrun) {
        problem.failure = decode_failure::bmp_ends_in_header;
        return false;
    }
    h.top_down = h.height < 0;
    h.height = h.top_down ? -h.height : h.height;
    problem.width = static_cast<std::uint64_t>(std::max<std::int64_t>(h.width, 0));
    problem.height = static_cast<std::uint64_t>(std::max<std::int64_t>(h.height, 0));
    if (problem.width == 0 || problem.height == 0) {
        problem.failure = decode_failure::no_pixels;
        return false;
    }
    if (problem.width * problem.height > max_image_pixels) {
        problem.failure = decode_failure::too_many_pixels;
        return false;
    }

    const std::uint16_t bits = h.bit_count;
    const bool fields = h.compression == bmp_bit_fields || h.compression == bmp_alpha_bit_fields;
    const bool known = (h.compression == bmp_uncompressed &&
                        (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
                       (h.compression == bmp_rle8 && bits == 8) || (h.compression == bmp_rle4 && bits == 4) ||
                       (fields && (bits == 16 || bits == 32));
    if (!known) {
        problem.failure = decode_failure::bmp_unsupported_form;
        problem.bits = bits;
        problem.compression = h.compression;
        return false;
    }

    // Masks follow a 40-byte header, or lie inside a larger one, at the same offset.
    std::uint64_t table_offset = bmp_file_header_size + h.header_size;
    if (fields) {
        const bool alpha = h.compression == bmp_alpha_bit_fields || holds_field(bmp_channel_masks_at + 12, 4);
        for (std::size_t c = 0; c < (alpha ? 4u : 3u); ++c)
            h.channels[c] = make_channel(read_u32(reader, bmp_channel_masks_at + 4 * c));
        if (h.header_size == bmp_info_header_size)
            table_offset += alpha ? 16 : 12;
    } else if (bits == 16) {
        h.channels = {make_channel(0x7C00), make_channel(0x03E0), make_channel(0x001F), {}};
    } else if (bits == 32) {
        h.channels = {make_channel(0xFF0000), make_channel(0xFF00), make_channel(0xFF), {}};
    }

    if (bits <= 8) {
        const std::uint32_t entries =
            std::min<std::uint32_t>(colours_used == 0 ? 1u << bits : colours_used, 256);
        const std::span<const std::uint8_t> table = read_bytes(reader, table_offset, entries * entry_size);
        for (std::size_t at = 0; at < table.size(); at += entry_size)
            h.palette.push_back({table[at + 2], table[at + 1], table[at], 255});
    }
    if (reader.overrun) {
        problem.failure = decode_failure::bmp_ends_in_table;
        return false;
    }
    return true;
}

// Where stored row `stored` (0 = the first in the file) goes in the picture.
std::size_t picture_row(const bmp_header& h, std::int64_t stored)
{
    return static_cast<std::size_t>(h.top_down ? stored : h.height - 1 - stored);
}

void put_index(const bmp_header& h, std::uint8_t* pixel, unsigned index)
{
    static constexpr std::array<std::uint8_t, 4> black{0, 0, 0, 255};
    const std::array<std::uint8_t, 4>& colour = index < h.palette.size() ? h.palette[index] : black;
    std::copy(colour.begin(), colour.end(), pixel);
}

// Whether an uncompressed image's rows are all in the file; the last row may lack its padding.
bool plain_pixels_fit(const byte_reader& reader, const bmp_header& h)
{
    const auto width = static_cast<std::uint64_t>(h.width);
    const std::uint64_t stride = (width * h.bit_count + 31) / 32 * 4;
    return holds(reader, h.pixel_offset,
                 stride * static_cast<std::uint64_t>(h.height - 1) + (width * h.bit_count + 7) / 8);
}

void decode_plain(byte_reader& reader, const bmp_header& h, rgba_image& image)
{
    const auto width = static_cast<std::uint64_t>(h.width);
    const std::uint64_t row_bytes = (width * h.bit_count + 7) / 8;
    const std::uint64_t stride = (width * h.bit_count + 31) / 32 * 4;
    for (std::int64_t stored = 0; stored < h.height; ++stored) {
        const std::span<const std::uint8_t> row =
            read_bytes(reader, h.pixel_offset + static_cast<std::uint64_t>(stored) * stride, row_bytes);
        std::uint8_t* out = image.rgba.get() + picture_row(h, stored) * width * 4;
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            switch (h.bit_count) {
            case 1:
            case 4:
            case 8: {
                const std::size_t bit = x * h.bit_count;
                const std::size_t shift = 8 - h.bit_count - bit % 8;
                put_index(h, out, row[bit / 8] >> shift & ((1u << h.bit_count) - 1));
                break;
            }
            case 24:
                out[0] = row[3 * x + 2];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x];
                out[3] = 255;
                break;
            default: {
                const std::size_t size = h.bit_count / 8u;
                std::uint32_t value = 0;
                for (std::size_t i = size; i-- > 0;)
                    value = value << 8 | row[size * x + i];
                for (std::size_t c = 0; c < 4; ++c)
                    out[c] = extract(h.channels[c], value, c == 3 ? 255 : 0);
            }
            }
        }
    }
}

// Run-length pixels: pairs of (count, index) and escapes for line ends, jumps and literal runs.
bool decode_run_lengths(byte_reader& reader, const bmp_header& h, rgba_image& image, decode_problem& problem)
{
    const bool four = h.compression == bmp_rle4;
    std::int64_t x = 0;
    std::int64_t y = 0; // stored rows, from the first in the file
    std::uint64_t at = h.pixel_offset;
    // Sets `count` pixels from x on, each from `index_of(i)`; what passes the row is dropped.
    const auto put_run = [&](std::int64_t count, auto index_of) {
        const std::int64_t n = std::clamp<std::int64_t>(h.width - x, 0, count);
        if (y < h.height)
            for (std::int64_t i = 0; i < n; ++i)
                put_index(h,
                          image.rgba.get() + (picture_row(h, y) * static_cast<std::size_t>(h.width) +
                                              static_cast<std::size_t>(x + i)) *
                                                 4,
                          index_of(i));
        x += count;
    };
    while (y < h.height) {
        const std::uint8_t count = read_u8(reader, at);
        const std::uint8_t value = read_u8(reader, at + 1);
        if (reader.overrun)
            break;
        at += 2;
        if (count > 0) {
            put_run(count, [&](std::int64_t i) { return four ? (i % 2 ? value & 15u : value >> 4) : value; });
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            x += read_u8(reader, at);
            y += read_u8(reader, at + 1);
            at += 2;
        } else {
            const std::uint64_t bytes = four ? (value + 1u) / 2 : value;
            const std::span<const std::uint8_t> literal = read_bytes(reader, at, bytes);
            if (reader.overrun)
                break;
            put_run(value, [&](std::int64_t i) {
                const std::uint8_t byte = literal[static_cast<std::size_t>(four ? i / 2 : i)];
                return four ? (i % 2 ? byte & 15u : byte >> 4) : byte;
            });
            at += bytes + bytes % 2; // literal runs are padded to 16 bits
        }
    }
    if (y >= h.height)
        return true;
    problem.failure = decode_failure::bmp_ends_in_pixels;
    return false;
}

} // namespace

rgba_image decode_bmp(std::span<const std::uint8_t> file, decode_problem& problem)
{
    byte_reader reader{file};
    bmp_header h;
    problem.format = "BMP";
    if (!read_header(reader, h, problem))
        return {};
    const bool run_lengths = h.compression == bmp_rle8 || h.compression == bmp_rle4;
    if (!run_lengths && !plain_pixels_fit(reader, h)) {
        problem.failure = decode_failure::bmp_ends_in_pixels;
        return {};
    }
    rgba_image image{static_cast<int>(h.width), static_cast<int>(h.height), nullptr};
    // Run-length images start transparent: the pixels they skip show the background.
    image.rgba.reset(
        static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(h.width * h.height), 4)));
    if (!image.rgba) {
        problem.failure = decode_failure::out_of_memory;
        return {};
    }
    if (!run_lengths)
        decode_plain(reader, h, image);
    else if (!decode_run_lengths(reader, h, image, problem))
        return {};
    return image;
}
