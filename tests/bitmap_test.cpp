// Bitmap checks and conversion: colour packing, row order, refusals and reads near the end.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "skin/bitmap.h"
#include "skin/bmp_writer.h"
#include "tests/test_folder.h"

namespace {

using table_rows::by_name;
using table_rows::PrintTo;

// An exact-size heap copy, so that a sanitizer sees any read beyond the file.
byte_buffer to_buffer(std::span<const std::uint8_t> bytes)
{
    byte_buffer buffer(static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(bytes.size(), 1))));
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    return buffer;
}

std::vector<std::uint8_t> convert(std::span<const std::uint8_t> file)
{
    auto length = static_cast<std::int32_t>(file.size());
    const byte_buffer block = convert_bitmap(to_buffer(file), length, "test.bmp");
    return {block.get(), block.get() + length};
}

void put_u32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct packing_case {
    rgb colour;
    std::uint8_t packed;
};

void PrintTo(const packing_case& c, std::ostream* out)
{
    *out << +c.colour.red << "," << +c.colour.green << "," << +c.colour.blue;
}

class colour_packing : public ::testing::TestWithParam<packing_case> {};

TEST_P(colour_packing, every_pixel_takes_the_packed_colour)
{
    const bmp_image image{.palette = {GetParam().colour}};
    EXPECT_EQ(convert(bmp_bytes(image)), std::vector<std::uint8_t>(256, GetParam().packed));
}

INSTANTIATE_TEST_SUITE_P(table, colour_packing,
                         ::testing::Values(packing_case{{255, 255, 255}, 0xFF}, packing_case{{0, 0, 0}, 0x00},
                                           packing_case{{255, 0, 0}, 0xE0}, packing_case{{0, 255, 0}, 0x1C},
                                           packing_case{{0, 0, 255}, 0x03},
                                           packing_case{{128, 128, 128}, 0x92},
                                           packing_case{{31, 31, 63}, 0x00}, packing_case{{32, 32, 64}, 0x25},
                                           packing_case{{224, 0, 192}, 0xE3}));

TEST(convert_bitmap, stored_first_row_becomes_the_bottom_row)
{
    bmp_image image{.palette = {{0, 0, 0}, {255, 0, 0}}};
    image.pixels.assign(256, 0);
    std::fill(image.pixels.end() - 16, image.pixels.end(), 1); // bottom row: stored first
    const std::vector<std::uint8_t> file = bmp_bytes(image);
    ASSERT_EQ(file[54 + 8], 1); // the writer did store it first

    std::vector<std::uint8_t> expected(256, 0x00);
    std::fill(expected.end() - 16, expected.end(), 0xE0);
    EXPECT_EQ(convert(file), expected);
}

struct layout_case {
    std::int32_t side;
    std::uint32_t header_size;
};

void PrintTo(const layout_case& c, std::ostream* out)
{
    *out << c.side << "x" << c.side << ", " << c.header_size << "-byte header";
}

class every_layout : public ::testing::TestWithParam<layout_case> {
  protected:
    bmp_image image() const { return sample_image(GetParam().side, 3); }
    std::vector<std::uint8_t> file() const
    {
        bmp_image sample = image();
        sample.header_size = GetParam().header_size;
        return bmp_bytes(sample);
    }
};

INSTANTIATE_TEST_SUITE_P(sides_and_headers, every_layout,
                         ::testing::Values(layout_case{16, 40}, layout_case{16, 108}, layout_case{16, 124},
                                           layout_case{128, 40}, layout_case{128, 108},
                                           layout_case{128, 124}));

TEST_P(every_layout, block_holds_each_pixel_in_place)
{
    EXPECT_EQ(convert(file()), image().pixels);
}

// Every proper prefix must be refused as cut short, reading nothing past its end.
TEST_P(every_layout, every_truncation_is_refused_without_reading_past_the_end)
{
    const std::vector<std::uint8_t> whole = file();
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const byte_buffer prefix = to_buffer({whole.data(), size});
        const bitmap_problem problem = describe_bitmap({prefix.get(), size}).problem;
        ASSERT_TRUE(problem == bitmap_problem::header_cut_short ||
                    problem == bitmap_problem::pixels_cut_short ||
                    problem == bitmap_problem::colours_cut_short)
            << "prefix of " << size << " bytes";
    }
    EXPECT_EQ(describe_bitmap(whole).problem, bitmap_problem::none);
}

// Every byte of the headers and the colour table set to 0x00, to 0xFF and flipped in each bit:
// each variant must be refused, or converted reading nothing outside the file. With the identity
// table in place, each converted pixel is the index stored for it, bottom row first, wherever
// the variant's pixel offset points, unless it names the entry that was changed.
TEST_P(every_layout, every_header_or_table_byte_change_converts_or_is_refused)
{
    const std::vector<std::uint8_t> whole = file();
    const std::uint64_t table_start = describe_bitmap(whole).table_offset;
    const std::size_t table_end = 14 + GetParam().header_size + 4 * 256;
    const auto side = static_cast<std::size_t>(GetParam().side);
    int converted = 0;
    int refused = 0;
    for (std::size_t at = 0; at < table_end; ++at) {
        std::vector<std::uint8_t> values{0x00, 0xFF};
        for (int bit = 0; bit < 8; ++bit)
            values.push_back(static_cast<std::uint8_t>(whole[at] ^ 1 << bit));
        for (const std::uint8_t value : values) {
            std::vector<std::uint8_t> changed = whole;
            changed[at] = value;
            const bitmap_layout layout = describe_bitmap(changed);
            if (layout.problem != bitmap_problem::none) {
                ++refused;
                continue;
            }
            ++converted;
            const std::vector<std::uint8_t> block = convert(changed);
            if (layout.table_offset != table_start)
                continue; // the colours come from elsewhere in the file
            const auto changed_entry = at >= table_start ? (at - table_start) / 4 : std::uint64_t{256};
            std::vector<std::uint8_t> expected(side * side);
            for (std::size_t i = 0; i < expected.size(); ++i) {
                const std::size_t row = i / side;
                const std::uint8_t index = changed[static_cast<std::size_t>(layout.pixel_offset) +
                                                   (side - 1 - row) * side + i % side];
                expected[i] = index == changed_entry ? block[i] : index;
            }
            ASSERT_EQ(block, expected) << "byte " << at << " set to " << +value;
        }
    }
    EXPECT_GT(converted, 0);
    EXPECT_GT(refused, 0);
}

TEST(convert_bitmap, ignores_the_signature)
{
    const bmp_image image = sample_image(16, 1);
    std::vector<std::uint8_t> file = bmp_bytes(image);
    file[0] = 'X';
    file[1] = 'Y';
    EXPECT_EQ(convert(file), image.pixels);
}

// A header under 40 bytes does not hold the fields read at 30 and on: whatever they hold, it is refused.
TEST(convert_bitmap, refuses_headers_under_40_bytes)
{
    std::vector<std::uint8_t> file = bmp_bytes(sample_image(16, 2));
    for (const std::uint32_t header_size : {0u, 12u, 16u, 39u}) {
        put_u32(file, 14, header_size);
        EXPECT_EQ(describe_bitmap(file).problem, bitmap_problem::short_header) << "biSize " << header_size;
    }
}

struct refusal_case {
    const char* name;
    std::function<void(bmp_image&)> change;
    bitmap_problem problem;
};

class refusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(refusal, is_described)
{
    bmp_image image;
    GetParam().change(image);
    EXPECT_EQ(describe_bitmap(bmp_bytes(image)).problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    formats, refusal,
    ::testing::Values(
        refusal_case{"narrow", [](bmp_image& i) { i.width = 128; }, bitmap_problem::wrong_dimensions},
        refusal_case{"flat", [](bmp_image& i) { i.height = 128; }, bitmap_problem::wrong_dimensions},
        refusal_case{"side_32", [](bmp_image& i) { i.width = i.height = 32; },
                     bitmap_problem::wrong_dimensions},
        refusal_case{"side_0", [](bmp_image& i) { i.width = i.height = 0; },
                     bitmap_problem::wrong_dimensions},
        refusal_case{"top_down", [](bmp_image& i) { i.height = -16; }, bitmap_problem::wrong_dimensions},
        refusal_case{"bits_24", [](bmp_image& i) { i.bit_count = 24; }, bitmap_problem::wrong_bit_count},
        refusal_case{"bits_4", [](bmp_image& i) { i.bit_count = 4; }, bitmap_problem::wrong_bit_count},
        refusal_case{"rle8", [](bmp_image& i) { i.compression = 1; }, bitmap_problem::compressed},
        refusal_case{"bitfields", [](bmp_image& i) { i.compression = 3; }, bitmap_problem::compressed},
        // The dimensions are checked first, then the depth, then the compression.
        refusal_case{"all_wrong",
                     [](bmp_image& i) {
                         i.width = 32;
                         i.bit_count = 24;
                         i.compression = 1;
                     },
                     bitmap_problem::wrong_dimensions},
        refusal_case{"depth_and_compression",
                     [](bmp_image& i) {
                         i.bit_count = 24;
                         i.compression = 1;
                     },
                     bitmap_problem::wrong_bit_count}),
    by_name);

// A 16x16 file of index-0 pixels at byte 54, then `table` as its colour table, placed last
// through the header size.
std::vector<std::uint8_t> table_at_end(const std::vector<std::uint8_t>& table, std::uint8_t last_pixel)
{
    bmp_image image{.palette = {}};
    image.pixels.assign(256, 0);
    image.pixels.back() = last_pixel;
    std::vector<std::uint8_t> file = bmp_bytes(image);
    put_u32(file, 14, static_cast<std::uint32_t>(file.size() - 14));
    file.insert(file.end(), table.begin(), table.end());
    return file;
}

TEST(describe_bitmap, short_table_is_fine_while_pixels_name_only_present_entries)
{
    const std::vector<std::uint8_t> two_entries{0,   0, 255, 0,
                                                255, 0, 0}; // red, then blue lacking its reserved byte
    std::vector<std::uint8_t> expected(256, 0xE0);
    expected[255] = 0x03;
    EXPECT_EQ(convert(table_at_end(two_entries, 1)), expected);
    EXPECT_EQ(describe_bitmap(table_at_end(two_entries, 1)).table_entries, 2u);
    EXPECT_EQ(describe_bitmap(table_at_end(two_entries, 2)).problem, bitmap_problem::colours_cut_short);

    const std::vector<std::uint8_t> one_and_a_bit{0, 0, 255, 0, 255, 0};
    EXPECT_EQ(describe_bitmap(table_at_end(one_and_a_bit, 1)).problem, bitmap_problem::colours_cut_short);
    EXPECT_EQ(describe_bitmap(table_at_end(one_and_a_bit, 0)).problem, bitmap_problem::none);
}

// Offsets near 2^32 must not wrap around into the file.
TEST(describe_bitmap, huge_offsets_are_refused)
{
    const std::vector<std::uint8_t> valid = bmp_bytes(bmp_image{});
    struct offset_case {
        std::size_t field;
        std::uint32_t value;
        bitmap_problem problem;
    };
    for (const offset_case& c :
         {offset_case{10, 0xFFFFFF00u, bitmap_problem::pixels_cut_short},
          offset_case{10, 0xFFFFFFFFu, bitmap_problem::pixels_cut_short},
          offset_case{10, static_cast<std::uint32_t>(valid.size() - 255), bitmap_problem::pixels_cut_short},
          offset_case{14, 0xFFFFFFFFu, bitmap_problem::colours_cut_short},
          offset_case{14, 0xFFFFFFF2u, bitmap_problem::colours_cut_short}}) {
        std::vector<std::uint8_t> file = valid;
        put_u32(file, c.field, c.value);
        EXPECT_EQ(describe_bitmap(file).problem, c.problem) << "field " << c.field << " = " << c.value;
    }
}

TEST(describe_bitmap, reports_the_fields_it_read)
{
    bmp_image image = sample_image(128, 0);
    image.header_size = 124;
    image.gap = 10;
    const bitmap_layout layout = describe_bitmap(bmp_bytes(image));
    EXPECT_EQ(layout.problem, bitmap_problem::none);
    EXPECT_EQ(layout.side, 128);
    EXPECT_EQ(layout.header_size, 124u);
    EXPECT_EQ(layout.table_offset, 138u);
    EXPECT_EQ(layout.pixel_offset, 138u + 1024 + 10);
    EXPECT_EQ(layout.table_entries, 256u);
}

TEST(convert_bitmap_death, refused_formats_and_truncations_end_the_program)
{
    std::vector<std::uint8_t> file = bmp_bytes(bmp_image{.bit_count = 24});
    EXPECT_EXIT(convert(file), ::testing::ExitedWithCode(1), "^Wrong image format\n$");
    file = bmp_bytes(bmp_image{});
    file.pop_back();
    EXPECT_EXIT(convert(file), ::testing::ExitedWithCode(1), "^Truncated image file: test\\.bmp\n$");
}

} // namespace
