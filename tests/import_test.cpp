// Importing artwork: every decoder against the image it was made from, the colour choice, and
// skinview import run end to end into folders that skinpack then packs.
#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <functional>
#include <numeric>
#include <set>

#include "skin/bmp_writer.h"
#include "skin/colour_332.h"
#include "tests/test_folder.h"
#include "view/common/quantise.h"
#include "view/decode/decode_image.h"

namespace fs = std::filesystem;

namespace {

using table_rows::by_name;
using table_rows::PrintTo;

// A picture of `width` x `height` whose pixels cycle through `colours` (RGBA).
std::vector<std::uint8_t> pattern(int width, int height,
                                  const std::vector<std::array<std::uint8_t, 4>>& colours)
{
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Rows differ for any number of colours, so that a row stored the wrong way up shows.
            const auto& c = colours[static_cast<std::size_t>(x * 3 + y * 7) % colours.size()];
            rgba.insert(rgba.end(), c.begin(), c.end());
        }
    return rgba;
}

std::vector<std::uint8_t> bytes_of(const rgba_image& image)
{
    const std::span<const std::uint8_t> bytes = rgba_bytes(image);
    return {bytes.begin(), bytes.end()};
}

// Colours that survive 5-bit channels, and a richer set for the forms that keep 8 bits.
const std::vector<std::array<std::uint8_t, 4>> corners{
    {0, 0, 0, 255},     {255, 0, 0, 255},   {0, 255, 0, 255},   {0, 0, 255, 255},
    {255, 255, 0, 255}, {0, 255, 255, 255}, {255, 0, 255, 255}, {255, 255, 255, 255}};
const std::vector<std::array<std::uint8_t, 4>> rich{
    {12, 200, 99, 255}, {250, 3, 140, 255}, {77, 77, 78, 255}, {1, 2, 3, 255}, {200, 180, 160, 255}};
const std::vector<std::array<std::uint8_t, 4>> translucent{
    {12, 200, 99, 255}, {250, 3, 140, 0}, {77, 77, 78, 128}};

class bmp_forms : public ::testing::TestWithParam<bmp_form> {};

TEST_P(bmp_forms, decode_to_the_pixels_they_were_made_from)
{
    const bmp_form form = GetParam();
    const auto& colours = form.bit_count == 1    ? std::vector(corners.begin(), corners.begin() + 2)
                          : form.bit_count == 16 ? corners
                          : form.alpha           ? translucent
                                                 : rich;
    for (const auto& [width, height] : {std::pair{13, 7}, std::pair{1, 1}, std::pair{40, 3}}) {
        const std::vector<std::uint8_t> rgba = pattern(width, height, colours);
        std::string error;
        const rgba_image image = decode_image(encode_bmp(rgba, width, height, form), error);
        EXPECT_EQ(error, "");
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        EXPECT_EQ(bytes_of(image), rgba) << width << "x" << height;
    }
}

INSTANTIATE_TEST_SUITE_P(every_form, bmp_forms,
                         ::testing::Values(bmp_form{"one_bit", 1}, bmp_form{"four_bits", 4},
                                           bmp_form{"eight_bits", 8}, bmp_form{"rle8", 8, 1},
                                           bmp_form{"rle4", 4, 2}, bmp_form{"rle8_top_down", 8, 1, 40, true},
                                           bmp_form{"os2_core_header", 8, 0, 12},
                                           bmp_form{"os2_core_24_bits", 24, 0, 12}, bmp_form{"rgb555", 16},
                                           bmp_form{"rgb565_fields", 16, 3}, bmp_form{"bgr24", 24},
                                           bmp_form{"bgr24_top_down", 24, 0, 40, true},
                                           bmp_form{"xrgb32", 32},
                                           bmp_form{"argb32_v4_header", 32, 3, 108, false, true},
                                           bmp_form{"argb32_alpha_fields", 32, 6, 40, false, true},
                                           bmp_form{"v5_header_palette", 8, 0, 124}),
                         by_name);

// An image given as one character a pixel, top row first: '.' transparent, a digit the entry
// of `palette` (RGB) that it names, opaque.
std::vector<std::uint8_t> picture(const std::vector<std::string>& rows, const std::vector<rgb>& palette)
{
    std::vector<std::uint8_t> rgba;
    for (const std::string& row : rows)
        for (const char c : row) {
            const rgb colour = c == '.' ? rgb{} : palette[static_cast<std::size_t>(c - '0')];
            rgba.insert(rgba.end(), {colour.red, colour.green, colour.blue,
                                     static_cast<std::uint8_t>(c == '.' ? 0 : 255)});
        }
    return rgba;
}

const std::vector<rgb> four_colours{{0, 0, 0}, {200, 10, 90}, {5, 250, 30}, {60, 70, 240}};

// A 6x4 run-length file of `four_colours`, its pixels `stream`.
std::vector<std::uint8_t> run_length_file(std::uint16_t bits, const std::vector<std::uint8_t>& stream)
{
    std::vector<std::uint8_t> file = bmp_bytes(bmp_image{.width = 6,
                                                         .height = 4,
                                                         .bit_count = bits,
                                                         .compression = bits == 8 ? 1u : 2u,
                                                         .palette = four_colours});
    file.resize(14 + 40 + 4 * four_colours.size());
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

// An 8-bit file of `four_colours` with an information header of `size` bytes (16 to 39), its
// table right behind it; below 36 bytes no count of colours is read, so the table is whole.
std::vector<std::uint8_t> small_header_file(std::uint32_t size)
{
    return bmp_bytes(bmp_image{.width = 4,
                               .height = 2,
                               .header_size = size,
                               .palette = four_colours,
                               .pixels = {1, 0, 2, 3, 3, 2, 0, 1},
                               .gap = 1024});
}

struct decode_case {
    const char* name;
    std::vector<std::uint8_t> file;
    int width;
    int height;
    std::vector<std::uint8_t> rgba;
};

class bmp_files : public ::testing::TestWithParam<decode_case> {};

TEST_P(bmp_files, decode_to_exactly_these_pixels)
{
    std::string error;
    const rgba_image image = decode_image(GetParam().file, error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(image.width, GetParam().width);
    EXPECT_EQ(image.height, GetParam().height);
    EXPECT_EQ(bytes_of(image), GetParam().rgba);
}

// Stored bottom row first: two of entry 1, a jump 3 right and 1 up to set one pixel of entry 2,
// a line end, three of entry 3, then the end of the bitmap before a run that must not be drawn.
const std::vector<std::string> jumped{"......", "333...", ".....2", "11...."};
const std::vector<std::string> small_header_picture{"1023", "3201"};

INSTANTIATE_TEST_SUITE_P(
    literal, bmp_files,
    ::testing::Values(
        decode_case{"rle8_jump_and_end", run_length_file(8, {2, 1, 0, 2, 3, 1, 1, 2, 0, 0, 3, 3, 0, 1, 6, 1}),
                    6, 4, picture(jumped, four_colours)},
        decode_case{"rle4_jump_and_end",
                    run_length_file(4, {2, 0x11, 0, 2, 3, 1, 1, 0x20, 0, 0, 3, 0x33, 0, 1, 6, 0x11}), 6, 4,
                    picture(jumped, four_colours)},
        decode_case{"header_of_16_bytes", small_header_file(16), 4, 2,
                    picture(small_header_picture, four_colours)},
        decode_case{"header_of_20_bytes", small_header_file(20), 4, 2,
                    picture(small_header_picture, four_colours)},
        decode_case{"header_of_39_bytes", small_header_file(39), 4, 2,
                    picture(small_header_picture, four_colours)},
        // 5-6-5 fields of 3, 11 and 3: 255 * 3 / 31 = 24.7 and 255 * 11 / 63 = 44.5, rounded.
        decode_case{"bit_fields_widen_by_rounding",
                    encode_bmp({24, 44, 24, 255}, 1, 1, {"rgb565", 16, 3}),
                    1,
                    1,
                    {25, 45, 25, 255}},
        // Entry 4 of a table of four is outside it: black.
        decode_case{
            "index_at_the_table_size",
            bmp_bytes(bmp_image{.width = 4, .height = 1, .palette = four_colours, .pixels = {4, 1, 4, 2}}),
            4,
            1,
            {0, 0, 0, 255, 200, 10, 90, 255, 0, 0, 0, 255, 5, 250, 30, 255}}),
    by_name);

// Inputs that once crashed a decoder, or would crash a careless one: each decodes whole, every
// frame too, or is refused with a reason (the sanitizer build catches any bad access).
TEST(decode_image, regression_inputs_decode_or_are_refused)
{
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(SKINPACK_REGRESSIONS)) {
        std::string error;
        const rgba_image image = decode_image(read_file(entry.path()), error);
        EXPECT_NE(!image.rgba, error.empty()) << entry.path().filename();
        std::string frames_error;
        const bool no_frames = decode_frames(read_file(entry.path()), frames_error).empty();
        EXPECT_NE(no_frames, frames_error.empty()) << entry.path().filename();
        ++files;
    }
    EXPECT_GT(files, 0);
}

// stb's deflate, which its PNG writer uses; the header declares only the writer.
extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len, int quality);

void append_be(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void append_chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data)
{
    append_be(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = start; i < png.size(); ++i) {
        crc ^= png[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
    }
    append_be(png, ~crc);
}

// A PNG of any colour type and of 8 or 16 bits; `samples` holds each row's channel values,
// 16-bit ones big-endian.
std::vector<std::uint8_t> png_bytes(int width, int height, int depth, int colour_type,
                                    const std::vector<std::uint8_t>& samples,
                                    const std::vector<std::uint8_t>& palette = {},
                                    const std::vector<std::uint8_t>& transparency = {})
{
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    append_be(header, static_cast<std::uint32_t>(width));
    append_be(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(),
                  {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0, 0});
    append_chunk(png, "IHDR", header);
    if (!palette.empty())
        append_chunk(png, "PLTE", palette);
    if (!transparency.empty())
        append_chunk(png, "tRNS", transparency);
    std::vector<std::uint8_t> raw;
    const std::size_t row = samples.size() / static_cast<std::size_t>(height);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), samples.begin() + static_cast<std::ptrdiff_t>(y * row),
                   samples.begin() + static_cast<std::ptrdiff_t>((y + 1) * row));
    }
    int length = 0;
    const byte_buffer zlib(stbi_zlib_compress(raw.data(), static_cast<int>(raw.size()), &length, 8));
    append_chunk(png, "IDAT", {zlib.get(), zlib.get() + length});
    append_chunk(png, "IEND", {});
    return png;
}

struct png_case {
    const char* name;
    int colour_type;
    int depth;
    int width = 5;
    int height = 3;
};

class png_types : public ::testing::TestWithParam<png_case> {};

TEST_P(png_types, decode_to_the_pixels_they_were_made_from)
{
    const auto [name, type, depth, width, height] = GetParam();
    const bool grey = type == 0 || type == 4;
    const std::vector<std::array<std::uint8_t, 4>> colours =
        grey ? std::vector<std::array<std::uint8_t, 4>>{{10, 10, 10, 255},
                                                        {200, 200, 200, 0},
                                                        {99, 99, 99, 128}}
             : translucent;
    std::vector<std::uint8_t> expected = pattern(width, height, colours);
    std::vector<std::uint8_t> samples;
    std::vector<std::uint8_t> palette;
    std::vector<std::uint8_t> alphas;
    for (const auto& c : colours) {
        palette.insert(palette.end(), c.begin(), c.begin() + 3);
        alphas.push_back(c[3]);
    }
    for (std::size_t i = 0; i < expected.size(); i += 4) {
        const std::uint8_t* p = &expected[i];
        std::vector<std::uint8_t> channels{p, p + 4};
        if (type == 0)
            channels = {p[0]};
        else if (type == 4)
            channels = {p[0], p[3]};
        else if (type == 2)
            channels.pop_back();
        else if (type == 3)
            channels = {
                static_cast<std::uint8_t>(std::find(colours.begin(), colours.end(),
                                                    std::array<std::uint8_t, 4>{p[0], p[1], p[2], p[3]}) -
                                          colours.begin())};
        for (const std::uint8_t v : channels) {
            samples.push_back(v);
            if (depth == 16)
                samples.push_back(v); // v * 257, whose high byte is v
        }
        if (type == 0 || type == 2)
            expected[i + 3] = 255;
    }
    std::string error;
    const rgba_image image = decode_image(png_bytes(width, height, depth, type, samples,
                                                    type == 3 ? palette : std::vector<std::uint8_t>{},
                                                    type == 3 ? alphas : std::vector<std::uint8_t>{}),
                                          error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(bytes_of(image), expected);
}

INSTANTIATE_TEST_SUITE_P(every_type, png_types,
                         ::testing::Values(png_case{"grey", 0, 8}, png_case{"grey_alpha", 4, 8},
                                           png_case{"rgb", 2, 8}, png_case{"rgba", 6, 8},
                                           png_case{"indexed_with_alpha", 3, 8}, png_case{"rgb16", 2, 16},
                                           png_case{"rgba16", 6, 16},
                                           // Its 16-bit pixels take twice the memory of the result.
                                           png_case{"rgba16_large", 6, 16, 1024, 512}),
                         by_name);

struct png_refusal {
    const char* name;
    std::vector<std::uint8_t> file;
    std::string error; // empty: it decodes
};

// A 1x1 grey PNG with `chunks` between its header and its data.
std::vector<std::uint8_t>
png_with(const std::vector<std::pair<const char*, std::vector<std::uint8_t>>>& chunks)
{
    std::vector<std::uint8_t> png = png_bytes(1, 1, 8, 0, {7});
    std::vector<std::uint8_t> inserted;
    for (const auto& [type, data] : chunks)
        append_chunk(inserted, type, data);
    png.insert(png.begin() + 33, inserted.begin(), inserted.end()); // after the signature and IHDR
    return png;
}

class png_files : public ::testing::TestWithParam<png_refusal> {};

TEST_P(png_files, decode_or_are_refused_as_they_should)
{
    std::string error;
    const rgba_image image = decode_image(GetParam().file, error);
    EXPECT_EQ(error, GetParam().error);
    const std::vector<std::uint8_t> grey_pixel{7, 7, 7, 255};
    EXPECT_EQ(bytes_of(image), GetParam().error.empty() ? grey_pixel : std::vector<std::uint8_t>{});
    std::string frames_error; // a PNG, animated or not, is one frame
    EXPECT_EQ(decode_frames(GetParam().file, frames_error).size(), GetParam().error.empty() ? 1u : 0u);
}

const std::vector<std::uint8_t> gamma{0, 0, 0xB1, 0x8F};

INSTANTIATE_TEST_SUITE_P(
    literal, png_files,
    ::testing::Values(
        png_refusal{"chunks_before_the_data", png_with({{"gAMA", gamma}, {"tEXt", {'a', 0, 'b'}}}), ""},
        // An animation's control chunks are passed over: its default image is its one frame.
        png_refusal{
            "animated_png",
            png_with({{"acTL", {0, 0, 0, 2, 0, 0, 0, 0}}, {"fcTL", std::vector<std::uint8_t>(26, 1)}}), ""},
        png_refusal{"cut_inside_its_header",
                    [] {
                        std::vector<std::uint8_t> png = png_with({});
                        png.resize(20);
                        return png;
                    }(),
                    "the PNG is damaged or cut short: save it again"},
        // The guard must find the empty chunk behind others, each with its checksum.
        png_refusal{"empty_first_data_chunk_behind_others", png_with({{"gAMA", gamma}, {"IDAT", {}}}),
                    "the PNG is damaged (its first data chunk is empty): save it again"},
        // A pixel that inflates to 4 MiB: cut off when the inflater grows its buffer.
        png_refusal{"decompression_bomb", png_bytes(1, 1, 8, 0, std::vector<std::uint8_t>(4 << 20, 7)),
                    "the PNG is damaged or cut short (its data does not fit its size): save it again"}),
    by_name);

// A 16x16 grey JPEG with `before_frame` right after its start and `before_end` in place of its end.
std::vector<std::uint8_t> jpeg_with(const std::vector<std::uint8_t>& before_frame,
                                    const std::vector<std::uint8_t>& before_end = {0xFF, 0xD9})
{
    std::vector<std::uint8_t> jpeg;
    const std::vector<std::uint8_t> grey(16 * 16 * 4, 128);
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto& out = *static_cast<std::vector<std::uint8_t>*>(context);
            out.insert(out.end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
        },
        &jpeg, 16, 16, 4, grey.data(), 90);
    jpeg.resize(jpeg.size() - 2);
    jpeg.insert(jpeg.end(), before_end.begin(), before_end.end());
    jpeg.insert(jpeg.begin() + 2, before_frame.begin(), before_frame.end());
    return jpeg;
}

// Huffman tables that would overflow the decoder's are refused wherever it would read them, and
// only there: bytes like one inside metadata are left alone.
TEST(decode_image, refuses_jpeg_huffman_tables_past_256_codes)
{
    const std::string refused = "the JPEG is damaged (its Huffman tables are impossible): save it again";
    std::vector<std::uint8_t> many_empty_segments;
    for (int i = 0; i < 5000; ++i)
        many_empty_segments.insert(many_empty_segments.end(), {0xFF, 0xC4, 0x00, 0x02});
    many_empty_segments.insert(many_empty_segments.end(), {0xFF, 0xD9});
    const struct {
        const char* name;
        std::vector<std::uint8_t> file;
        std::string error;
    } cases[] = {
        {"plain", jpeg_with({}), ""},
        {"like_a_table_inside_metadata",
         jpeg_with({0xFF, 0xE1, 0x00, 0x09, 0xFF, 0xC4, 0x00, 0x40, 0x00, 0xFF, 0xFF}), ""},
        {"257_codes", jpeg_with({0xFF, 0xC4, 0x00, 0x13, 0x00, 0xFF, 0x02}), refused},
        {"257_codes_after_fill_bytes", {0xFF, 0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x13, 0x00, 0xFF, 0x02}, refused},
        // A good table of one code, then one of 257 in the same segment.
        {"257_codes_in_the_second_table",
         jpeg_with({0xFF, 0xC4, 0x00, 0x25, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                    0,    0x05, 0x01, 0xFF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         refused},
        {"counts_past_the_end_after_the_scan", jpeg_with({}, {0xFF, 0xC4, 0x10, 0x00, 0x00, 0xFF, 0x02}),
         refused},
        {"thousands_of_segments_after_the_scan", jpeg_with({}, many_empty_segments), refused},
    };
    for (const auto& c : cases) {
        std::string error;
        const rgba_image image = decode_image(c.file, error);
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(!image.rgba, !c.error.empty()) << c.name;
    }
    std::string error;
    decode_image(read_file(fs::path(SKINPACK_REGRESSIONS) / "jpeg-huffman-table-over-256-codes.jpg"), error);
    EXPECT_EQ(error, refused);
}

std::vector<std::uint8_t> png_of(int width, int height, const std::vector<std::uint8_t>& rgba)
{
    std::vector<std::uint8_t> png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto& out = *static_cast<std::vector<std::uint8_t>*>(context);
            out.insert(out.end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
        },
        &png, width, height, 4, rgba.data(), width * 4);
    return png;
}

using import_test = folder_test;

// Every device colour comes back as its own byte: import, then skinpack.
TEST_F(import_test, every_device_colour_round_trips_through_skinpack)
{
    std::vector<std::uint8_t> rgba;
    for (int pixel = 0; pixel < 256; ++pixel) {
        const auto colour = expand_332(static_cast<std::uint8_t>(pixel));
        rgba.insert(rgba.end(), {colour[0], colour[1], colour[2], 255});
    }
    write_file(root / "all.png", png_of(16, 16, rgba));
    for (const char* dither : {"none", "ordered", "floyd-steinberg"}) {
        fs::remove_all(folder);
        fs::create_directory(folder);
        const run_result result =
            run_skinview(folder, {.arguments = {"import", "../all.png", "--dither", dither}});
        EXPECT_EQ(result.out, "../all.png -> icon00.bmp (16x16, 256 colours)\n") << result.err;
        ASSERT_EQ(run_skinpack(folder).status, 0);
        std::vector<std::uint8_t> expected(256);
        std::iota(expected.begin(), expected.end(), std::uint8_t{0});
        EXPECT_EQ(read_file(folder / "skin.skn"), expected) << dither;
    }
}

struct import_case {
    const char* name;
    std::function<void(const fs::path&)> prepare; // the folder holds a.png, 16x16, all (200, 40, 0)
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> files; // what the folder holds afterwards, besides the sources
};

class import_runs : public folder_test, public ::testing::WithParamInterface<import_case> {};

TEST_P(import_runs, write_what_they_say_and_nothing_else)
{
    write_file(folder / "a.png", png_of(16, 16, pattern(16, 16, {{200, 40, 0, 255}})));
    GetParam().prepare(folder);
    std::vector<std::string> arguments{"import"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const run_result result = run_skinview(folder, {.arguments = arguments});
    std::string out = result.out;
    if (testing_windows_build()) // which names a file in a folder with a backslash
        std::replace(out.begin(), out.end(), '\\', '/');
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_EQ(out, GetParam().out);
    EXPECT_EQ(result.err, GetParam().err);
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() != ".png" &&
            entry.path().extension() != ".src")
            files.push_back(fs::relative(entry.path(), folder).generic_string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, GetParam().files);
}

// ёлка and скин: names in another script, as artists on Windows give their files and folders.
const std::string fir = "\u0451\u043b\u043a\u0430";
const std::string skin_folder = "\u0441\u043a\u0438\u043d";

INSTANTIATE_TEST_SUITE_P(
    cases, import_runs,
    ::testing::Values(
        import_case{"appends_to_each_series",
                    [](const fs::path& f) {
                        write_file(f / "icon00.bmp", bmp_bytes(sample_image(16, 0)));
                        write_file(f / "big.png", png_of(128, 128, pattern(128, 128, rich)));
                    },
                    {"a.png", "big.png", "a.png"},
                    0,
                    "a.png -> icon01.bmp (16x16, 1 colour)\nbig.png -> bmp0.bmp (128x128, 5 colours)\n"
                    "a.png -> icon02.bmp (16x16, 1 colour)\n",
                    "",
                    {"bmp0.bmp", "icon00.bmp", "icon01.bmp", "icon02.bmp"}},
        import_case{"as_and_start",
                    [](const fs::path&) {},
                    {"a.png", "a.png", "--as", "picture", "--start", "4"},
                    0,
                    "a.png -> bmp4.bmp (16x16, 1 colour)\na.png -> bmp5.bmp (16x16, 1 colour)\n",
                    "",
                    {"bmp4.bmp", "bmp5.bmp"}},
        import_case{"start_for_icons",
                    [](const fs::path&) {},
                    {"a.png", "a.png", "--start", "7"},
                    0,
                    "a.png -> icon07.bmp (16x16, 1 colour)\na.png -> icon08.bmp (16x16, 1 colour)\n",
                    "",
                    {"icon07.bmp", "icon08.bmp"}},
        import_case{"a_panel_file_with_too_few_levels",
                    [](const fs::path& f) {
                        write_file(f / "p.toml", {'[', 'p', 'a', 'n', 'e', 'l', ']', '\n', 'b', 'l', 'u', 'e',
                                                  '=', '[', '1', ']'});
                    },
                    {"a.png", "--panel", "p.toml"},
                    2,
                    "",
                    "skinview: --panel p.toml:2: panel: blue lists 1 level: it takes 4, from black up\n",
                    {"p.toml"}},
        import_case{"no_overwrite_without_force",
                    [](const fs::path& f) {
                        write_file(f / "bmp0.bmp", {'k', 'e', 'e', 'p'});
                    },
                    {"a.png", "-o", "bmp0.bmp"},
                    1,
                    "",
                    "skinview: a.png: bmp0.bmp exists: give --force to replace it\n",
                    {"bmp0.bmp"}},
        import_case{
            "refusals_write_nothing_but_the_rest_goes_on",
            [](const fs::path& f) {
                write_file(f / "text.src", {'h', 'e', 'l', 'l', 'o'});
                std::vector<std::uint8_t> cut = png_of(16, 16, pattern(16, 16, rich));
                cut.resize(cut.size() / 2);
                write_file(f / "cut.png", cut);
                write_file(f / "wide.png", png_of(20, 10, pattern(20, 10, rich)));
                std::vector<std::uint8_t> huge = png_of(1, 1, pattern(1, 1, rich));
                huge[18] = huge[22] = 0x1F; // 8000x8000
                huge[19] = huge[23] = 0x40;
                write_file(f / "huge.png", huge);
            },
            {"text.src", "cut.png", "wide.png", "huge.png", "missing.png", "a.png"},
            1,
            "a.png -> icon00.bmp (16x16, 1 colour)\n",
            "skinview: text.src: not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA\n"
            "skinview: cut.png: the PNG ends early: save it again\n"
            "skinview: wide.png: is 20x10: give --size 16 or --size 128 to scale it to fit\n"
            "skinview: huge.png: the PNG is 8000x8000 pixels, more than the 33554432 skinview takes: "
            "scale it down\n"
            "skinview: missing.png: no such file\n",
            {"icon00.bmp"}},
        import_case{"usage_errors",
                    [](const fs::path&) {},
                    {"a.png", "a.png", "-o", "x.bmp"},
                    2,
                    "",
                    "skinview: -o names the output of one source, but 2 were given\n",
                    {}},
        import_case{"named_in_another_script",
                    [](const fs::path& f) {
                        fs::create_directory(f / skin_folder);
                        fs::copy_file(f / "a.png", f / (fir + ".png"));
                        fs::copy_file(f / "a.png", f / skin_folder / (fir + ".png"));
                    },
                    {fir + ".png", skin_folder + "/" + fir + ".png", "--into", skin_folder},
                    0,
                    fir + ".png -> " + skin_folder + "/icon00.bmp (16x16, 1 colour)\n" + skin_folder + "/" +
                        fir + ".png -> " + skin_folder + "/icon01.bmp (16x16, 1 colour)\n",
                    "",
                    {skin_folder + "/icon00.bmp", skin_folder + "/icon01.bmp"}},
        import_case{"output_named_in_another_script",
                    [](const fs::path& f) { fs::copy_file(f / "a.png", f / (fir + ".png")); },
                    {fir + ".png", "-o", fir + ".bmp"},
                    0,
                    fir + ".png -> " + fir + ".bmp (16x16, 1 colour)\n",
                    "",
                    {fir + ".bmp"}},
        import_case{"key_not_a_device_colour",
                    [](const fs::path&) {},
                    {"a.png", "--key", "808080"},
                    2,
                    "",
                    "skinview: --key 808080 is not a device colour; the nearest is 9292AA\n",
                    {}}),
    by_name);

// Transparent pixels take the background; a source of another size is scaled to fit, centred,
// with the background around it. The result is an uncompressed 8-bit BMP of the device colours.
TEST_F(import_test, transparency_and_scaling_use_the_background)
{
    std::vector<std::uint8_t> rgba; // 32x16: white on the left half, transparent on the right
    for (int i = 0; i < 32 * 16; ++i)
        rgba.insert(rgba.end(), {255, 255, 255, static_cast<std::uint8_t>(i % 32 < 16 ? 255 : 0)});
    write_file(folder / "wide.png", png_of(32, 16, rgba));
    const run_result result = run_skinview(folder, {.arguments = {"import", "wide.png", "--size", "16",
                                                                  "--background", "#FF0000", "-o", "x.bmp"}});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::uint8_t> bmp = read_file(folder / "x.bmp");
    // clang-format off
    const std::vector<std::uint8_t> header{
        'B', 'M', 0x36, 5, 0, 0, 0, 0, 0, 0, 0x36, 4, 0, 0, // 1334 bytes, pixels at 1078
        40, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0,               // 16x16, bottom-up
        1, 0, 8, 0, 0, 0, 0, 0, 0, 1, 0, 0};                 // one plane, 8 bits, uncompressed, 256 bytes
    // clang-format on
    ASSERT_GE(bmp.size(), header.size());
    EXPECT_EQ(std::vector(bmp.begin(), bmp.begin() + static_cast<std::ptrdiff_t>(header.size())), header);
    write_file(folder / "bmp0.bmp", bmp);
    ASSERT_EQ(run_skinpack(folder).status, 0);
    const std::vector<std::uint8_t> skin = read_file(folder / "skin.skn");
    ASSERT_EQ(skin.size(), 256u);
    // 32x16 becomes 16x8 in rows 4 to 11: white, then red; the filter blends columns 6 to 9.
    for (std::size_t row = 0; row < 16; ++row)
        for (std::size_t column = 0; column < 16; ++column) {
            const bool band = row >= 4 && row < 12;
            if (band && column >= 6 && column < 10)
                continue;
            EXPECT_EQ(skin[row * 16 + column], band && column < 6 ? 0xFF : 0xE0) << row << ", " << column;
        }
}

// With a key, fully transparent pixels take exactly the key's byte and no other pixel does, not
// even one of the key's own colour; a half-transparent one is composed over the background.
TEST_F(import_test, transparent_pixels_take_the_key_and_no_other_does)
{
    std::vector<std::uint8_t> rgba; // columns 0-7 transparent, 8 half-transparent white, 9-15 magenta
    for (int i = 0; i < 16 * 16; ++i) {
        const int column = i % 16;
        rgba.insert(rgba.end(), column < 8    ? std::initializer_list<std::uint8_t>{255, 0, 255, 0}
                                : column == 8 ? std::initializer_list<std::uint8_t>{255, 255, 255, 128}
                                              : std::initializer_list<std::uint8_t>{255, 0, 255, 255});
    }
    write_file(folder / "keyed.png", png_of(16, 16, rgba));
    for (const char* dither : {"none", "ordered", "floyd-steinberg"}) {
        const run_result result =
            run_skinview(folder, {.arguments = {"import", "keyed.png", "--key", "#FF00FF", "--dither", dither,
                                                "-o", "bmp0.bmp", "--force"}});
        ASSERT_EQ(result.status, 0) << result.err;
        ASSERT_EQ(run_skinpack(folder).status, 0);
        const std::vector<std::uint8_t> skin = read_file(folder / "skin.skn");
        ASSERT_EQ(skin.size(), 256u);
        for (std::size_t i = 0; i < skin.size(); ++i)
            if (i % 16 < 8)
                EXPECT_EQ(skin[i], 0xE3) << dither << " at " << i;
            else
                EXPECT_NE(skin[i], 0xE3) << dither << " at " << i;
    }
}

// A refused BMP mended in place: check names the command, and after it skinpack takes the file.
TEST_F(import_test, repairs_a_refused_bitmap_in_place)
{
    const std::vector<std::uint8_t> rgba = pattern(16, 16, corners);
    write_file(folder / "bmp0.bmp", encode_bmp(rgba, 16, 16, {"rle8", 8, 1}));
    const std::string command = "run skinview import bmp0.bmp -o bmp0.bmp --force";
    EXPECT_NE(run_skinview(folder, {.arguments = {"check"}}).out.find("RLE8-compressed: " + command),
              std::string::npos);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"import", "bmp0.bmp", "-o", "bmp0.bmp", "--force"}}).status,
              0);
    ASSERT_EQ(run_skinpack(folder).status, 0);
    // The corners as device bytes, in the order pattern() cycles through them.
    const std::uint8_t packed[] = {0x00, 0xE0, 0x1C, 0x03, 0xFC, 0x1F, 0xE3, 0xFF};
    std::vector<std::uint8_t> expected;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            expected.push_back(packed[(x * 3 + y * 7) % 8]);
    EXPECT_EQ(read_file(folder / "skin.skn"), expected);
}

} // namespace
