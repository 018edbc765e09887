// Palettised bitmap conversion: header checks up front, then a table-driven pixel loop.
#include "skin/bitmap.h"

#include <algorithm>
#include <array>
#include <utility>

#include "skin/bmp_format.h"
#include "skin/colour_332.h"
#include "support/byte_reader.h"
#include "support/fatal.h"

namespace {

constexpr std::uint64_t colour_entry_size = bmp_colour_entry_size;

// The colour-table bytes of an accepted bitmap; the last entry may lack its reserved byte.
std::span<const std::uint8_t> colour_table(byte_reader& reader, const bitmap_layout& layout)
{
    return read_bytes(reader, layout.table_offset,
                      std::uint64_t{layout.table_entries} * colour_entry_size - 1);
}

// Row `row` of an accepted bitmap, counted from the top; BMP stores the bottom row first.
std::span<const std::uint8_t> stored_row(byte_reader& reader, const bitmap_layout& layout, std::size_t row)
{
    const auto side = static_cast<std::uint64_t>(layout.side);
    return read_bytes(reader, layout.pixel_offset + (side - 1 - row) * side, side);
}

} // namespace

bitmap_layout describe_bitmap(std::span<const std::uint8_t> file)
{
    byte_reader reader{file};
    bitmap_layout layout;
    layout.pixel_offset = read_u32(reader, bmp_pixel_offset_at);
    layout.header_size = read_u32(reader, bmp_header_size_at);
    layout.width = read_i32(reader, bmp_width_at);
    layout.height = read_i32(reader, bmp_height_at);
    layout.bit_count = read_u16(reader, bmp_bit_count_at);
    layout.compression = read_u32(reader, bmp_compression_at);
    if (reader.overrun) {
        layout.problem = bitmap_problem::header_cut_short;
        return layout;
    }

    // A shorter header (the 12- and 16-byte OS/2 forms) ends before the compression field, and its
    // colour table starts where that field is read: judged by those bytes, the image would pass
    // with every colour wrong.
    if (layout.header_size < bmp_info_header_size)
        layout.problem = bitmap_problem::short_header;
    else if (layout.width == 16 && layout.height == 16)
        layout.side = 16;
    else if (layout.width == 128 && layout.height == 128)
        layout.side = 128;
    else
        layout.problem = bitmap_problem::wrong_dimensions;
    if (layout.problem == bitmap_problem::none && layout.bit_count != 8)
        layout.problem = bitmap_problem::wrong_bit_count;
    if (layout.problem == bitmap_problem::none && layout.compression != bmp_uncompressed)
        layout.problem = bitmap_problem::compressed;
    if (layout.problem != bitmap_problem::none)
        return layout;

    // Writers with a larger information header put the colour table behind it.
    layout.table_offset = bmp_file_header_size + std::uint64_t{layout.header_size};
    // An entry counts once its blue, green and red bytes are inside; the reserved byte is unused.
    if (layout.table_offset < file.size()) {
        const std::uint64_t entries = (file.size() - layout.table_offset + 1) / colour_entry_size;
        layout.table_entries = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, 256));
    }

    const auto side = static_cast<std::uint64_t>(layout.side);
    const std::span<const std::uint8_t> pixels = read_bytes(reader, layout.pixel_offset, side * side);
    if (reader.overrun) {
        layout.problem = bitmap_problem::pixels_cut_short;
        return layout;
    }
    if (*std::ranges::max_element(pixels) >= layout.table_entries)
        layout.problem = bitmap_problem::colours_cut_short;
    return layout;
}

bitmap_conversion try_convert_bitmap(std::span<const std::uint8_t> file)
{
    bitmap_conversion result{.layout = describe_bitmap(file)};
    const bitmap_layout& layout = result.layout;
    if (layout.problem != bitmap_problem::none)
        return result;

    byte_reader reader{file};
    // Only entries that pixels may name are inside the file; the rest of the table stays 0.
    std::array<std::uint8_t, 256> colour_of{};
    const std::span<const std::uint8_t> table = colour_table(reader, layout);
    for (std::uint32_t entry = 0; entry < layout.table_entries; ++entry) {
        const std::size_t at = entry * colour_entry_size;
        colour_of[entry] = pack_332(table[at + 2], table[at + 1], table[at]);
    }

    const auto side = static_cast<std::size_t>(layout.side);
    result.block = alloc_zeroed(side * side);
    for (std::size_t row = 0; result.block && row < side; ++row) {
        const std::span<const std::uint8_t> stored = stored_row(reader, layout, row);
        std::uint8_t* out = result.block.get() + row * side;
        for (std::size_t column = 0; column < side; ++column)
            out[column] = colour_of[stored[column]];
    }
    return result;
}

byte_buffer convert_bitmap(byte_buffer file, std::int32_t& length, const char* name)
{
    bitmap_conversion result = try_convert_bitmap({file.get(), static_cast<std::size_t>(length)});
    file.reset();
    switch (result.layout.problem) {
    case bitmap_problem::none:
        break;
    case bitmap_problem::header_cut_short:
    case bitmap_problem::pixels_cut_short:
    case bitmap_problem::colours_cut_short:
        fatal_exit("Truncated image file: %s", name);
    case bitmap_problem::short_header:
    case bitmap_problem::wrong_dimensions:
    case bitmap_problem::wrong_bit_count:
    case bitmap_problem::compressed:
        fatal_exit("Wrong image format");
    }
    if (!result.block)
        fatal_exit("Out of memory");
    length = result.layout.side * result.layout.side;
    return std::move(result.block);
}

std::vector<std::uint8_t> bitmap_true_colours(std::span<const std::uint8_t> file, const bitmap_layout& layout)
{
    if (layout.problem != bitmap_problem::none)
        return {};
    byte_reader reader{file};
    const std::span<const std::uint8_t> table = colour_table(reader, layout);
    const auto side = static_cast<std::size_t>(layout.side);
    std::vector<std::uint8_t> colours(side * side * 3);
    std::size_t out = 0;
    for (std::size_t row = 0; row < side; ++row) {
        for (const std::uint8_t index : stored_row(reader, layout, row)) {
            const std::size_t at = index * colour_entry_size;
            colours[out++] = table[at + 2];
            colours[out++] = table[at + 1];
            colours[out++] = table[at];
        }
    }
    return colours;
}
