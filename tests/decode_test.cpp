// GIF frames as a browser composes them, GIFs refused with a reason, and the sentence shown for
// every decoder failure.
#include <gtest/gtest.h>

#include <algorithm>

#include "skin/bmp_writer.h"
#include "tests/gif_writer.h"
#include "tests/test_folder.h"
#include "view/decode/decode_image.h"
#include "view/decode/signature.h"

namespace {

using table_rows::by_name;
using table_rows::PrintTo;

// A 4x4 frame as one character a pixel: r, g, b, w for red, green, blue and white, '.' transparent.
std::vector<std::uint8_t> frame_of(const std::vector<std::string>& rows)
{
    std::vector<std::uint8_t> rgba;
    for (const std::string& row : rows)
        for (const char c : row)
            rgba.insert(rgba.end(), {static_cast<std::uint8_t>(c == 'r' || c == 'w' ? 255 : 0),
                                     static_cast<std::uint8_t>(c == 'g' || c == 'w' ? 255 : 0),
                                     static_cast<std::uint8_t>(c == 'b' || c == 'w' ? 255 : 0),
                                     static_cast<std::uint8_t>(c == '.' ? 0 : 255)});
    return rgba;
}

std::vector<std::vector<std::uint8_t>> frames_of(const std::vector<rgba_image>& frames)
{
    std::vector<std::vector<std::uint8_t>> all;
    for (const rgba_image& frame : frames) {
        EXPECT_EQ(frame.width, 4);
        EXPECT_EQ(frame.height, 4);
        const std::span<const std::uint8_t> bytes = rgba_bytes(frame);
        all.emplace_back(bytes.begin(), bytes.end());
    }
    return all;
}

struct gif_case {
    const char* file; // under tests/regressions, unless `bytes` are given
    std::vector<std::vector<std::string>> frames;
    std::vector<std::uint8_t> bytes;
    std::vector<int> delays_ms; // of each frame; none: the ten hundredths that each control block gives
};

void PrintTo(const gif_case& c, std::ostream* out)
{
    *out << c.file;
}

class regression_gifs : public ::testing::TestWithParam<gif_case> {};

TEST_P(regression_gifs, decode_to_the_frames_a_browser_shows)
{
    const std::vector<std::uint8_t> file =
        !GetParam().bytes.empty() ? GetParam().bytes
                                  : read_file(std::filesystem::path(SKINPACK_REGRESSIONS) / GetParam().file);
    std::string error;
    const std::vector<rgba_image> frames = decode_frames(file, error);
    EXPECT_EQ(error, "");
    std::vector<std::vector<std::uint8_t>> expected;
    for (const auto& rows : GetParam().frames)
        expected.push_back(frame_of(rows));
    EXPECT_EQ(frames_of(frames), expected);
    std::vector<int> delays;
    for (const rgba_image& frame : frames)
        delays.push_back(frame.delay_ms);
    EXPECT_EQ(delays,
              GetParam().delays_ms.empty() ? std::vector<int>(expected.size(), 100) : GetParam().delays_ms);
    const rgba_image first = decode_image(file, error);
    ASSERT_TRUE(first.rgba);
    EXPECT_EQ(std::vector(rgba_bytes(first).begin(), rgba_bytes(first).end()), expected[0]);
}

// Red, then a green square that takes the method, a blue one that takes it too with its last
// pixel transparent, then a white corner (see sample_gifs).
const std::vector<std::string> red{"rrrr", "rrrr", "rrrr", "rrrr"};
const std::vector<std::string> green_square{"rrrr", "rggr", "rggr", "rrrr"};

// A control block before the first frame only: its clearing, transparent green and delay (one
// hundredth, 10 ms, which the page plays as a tenth of a second) are
// that frame's, and a frame without one is left, opaque, with no delay said.
const gif_file first_controlled{
    .palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}},
    .frames = {{.width = 4,
                .height = 4,
                .disposal = 2,
                .transparent = 1,
                .delay = 1,
                .indices = std::vector<std::uint8_t>(16, 0)},
               {.left = 1, .top = 1, .width = 2, .height = 2, .control = false, .indices = {1, 1, 1, 1}},
               {.control = false, .indices = {3}}}};

INSTANTIATE_TEST_SUITE_P(
    literal, regression_gifs,
    ::testing::Values(
        gif_case{"gif-disposal-0.gif",
                 {red, green_square, {"rrrr", "rggr", "rgbb", "rrbr"}, {"wrrr", "rggr", "rgbb", "rrbr"}}},
        gif_case{"gif-disposal-1.gif",
                 {red, green_square, {"rrrr", "rggr", "rgbb", "rrbr"}, {"wrrr", "rggr", "rgbb", "rrbr"}}},
        gif_case{"gif-disposal-2.gif",
                 {red, green_square, {"rrrr", "r..r", "r.bb", "rrbr"}, {"wrrr", "r..r", "r...", "rr.."}}},
        gif_case{"gif-disposal-3.gif",
                 {red, green_square, {"rrrr", "rrrr", "rrbb", "rrbr"}, {"wrrr", "rrrr", "rrrr", "rrrr"}}},
        // Method 4 restores, as browsers take it.
        gif_case{"disposal-4.gif",
                 {red, green_square, {"rrrr", "rrrr", "rrbb", "rrbr"}, {"wrrr", "rrrr", "rrrr", "rrrr"}},
                 gif_bytes(disposal_sample(4))},
        gif_case{"control-first-only.gif",
                 {red, {"....", ".gg.", ".gg.", "...."}, {"w...", ".gg.", ".gg.", "...."}},
                 gif_bytes(first_controlled),
                 {10, 0, 0}},
        // Clipped, cleared where it was drawn; drawn nowhere; an interlaced column.
        gif_case{"gif-frames-outside-canvas.gif",
                 {red,
                  {"rrrr", "rrrr", "rrgg", "rrgg"},
                  {"rrrr", "rrrr", "rr..", "rr.."},
                  {"wrrr", "grrr", "br..", "wr.."}}}),
    [](const auto& test) {
        std::string name = test.param.file;
        std::replace(name.begin(), name.end(), '-', '_');
        return name.substr(0, name.size() - 4);
    });

struct picture_case {
    const char* name;
    std::size_t colours;
    int width;
    int height;
    bool interlaced;
};

class gif_pictures : public ::testing::TestWithParam<picture_case> {};

// Pictures of every code size, long enough to fill the code table and start it again.
TEST_P(gif_pictures, decode_to_the_indices_they_were_made_from)
{
    const auto [name, colours, width, height, interlaced] = GetParam();
    gif_file gif{.width = width, .height = height};
    for (std::size_t i = 0; i < colours; ++i)
        gif.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                               static_cast<std::uint8_t>(i * 7)});
    gif_picture picture{.width = width, .height = height, .interlaced = interlaced};
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < width * height; ++i) {
        // Runs and repeats, so that the encoder writes strings as well as single indices.
        const auto index = static_cast<std::uint8_t>((i / 3 + i * i / 97) % static_cast<int>(colours));
        picture.indices.push_back(index);
        const auto& c = gif.palette[index];
        expected.insert(expected.end(), {c[0], c[1], c[2], 255});
    }
    gif.frames = {picture};
    std::string error;
    const std::vector<rgba_image> frames = decode_frames(gif_bytes(gif), error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(std::vector(rgba_bytes(frames[0]).begin(), rgba_bytes(frames[0]).end()), expected);
}

INSTANTIATE_TEST_SUITE_P(every_code_size, gif_pictures,
                         ::testing::Values(picture_case{"two_colours", 2, 7, 5, false},
                                           picture_case{"four_colours_interlaced", 4, 9, 21, true},
                                           picture_case{"sixteen_colours_full_table", 16, 200, 120, false},
                                           picture_case{"all_colours_full_table", 256, 160, 90, true}),
                         by_name);

struct gif_refusal {
    const char* name;
    std::vector<std::uint8_t> file;
    std::string error;
    std::size_t frames; // when it decodes
};

const std::vector<std::array<std::uint8_t, 3>> two{{255, 0, 0}, {0, 0, 255}};

// `gif`'s bytes with `edit` applied.
std::vector<std::uint8_t> edited(const gif_file& gif, void (*edit)(std::vector<std::uint8_t>&))
{
    std::vector<std::uint8_t> bytes = gif_bytes(gif);
    edit(bytes);
    return bytes;
}

const gif_file one_pixel{.width = 1, .height = 1, .palette = two, .frames = {{.indices = {1}}}};

class gif_files : public ::testing::TestWithParam<gif_refusal> {};

TEST_P(gif_files, decode_or_are_refused_with_a_reason)
{
    std::string error;
    EXPECT_EQ(decode_frames(GetParam().file, error).size(), GetParam().frames);
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    literal, gif_files,
    ::testing::Values(
        gif_refusal{"no_trailer", edited(one_pixel, [](auto& b) { b.pop_back(); }), "", 1},
        gif_refusal{"unknown_block_ends_it", edited(one_pixel, [](auto& b) { b.back() = 0x99; }), "", 1},
        gif_refusal{"cut_inside_the_codes", edited(one_pixel, [](auto& b) { b.erase(b.end() - 3, b.end()); }),
                    "the GIF ends early: save it again", 0},
        gif_refusal{"cut_inside_the_colour_table",
                    edited(one_pixel, [](auto& b) { b.erase(b.begin() + 15, b.end()); }),
                    "the GIF ends early: save it again", 0},
        gif_refusal{"no_colour_table",
                    edited(one_pixel,
                           [](auto& b) {
                               b.erase(b.begin() + 10, b.begin() + 19);
                               b.insert(b.begin() + 10, {0, 0, 0});
                           }),
                    "the GIF has a frame without colours: save it again", 0},
        gif_refusal{"code_size_of_nine", edited(one_pixel, [](auto& b) { b[b.size() - 6] = 9; }),
                    "the GIF is damaged (a frame's code size is impossible): save it again", 0},
        gif_refusal{"no_frames",
                    edited(one_pixel,
                           [](auto& b) {
                               b.erase(b.begin() + 19, b.end());
                               b.push_back(0x3B);
                           }),
                    "the GIF holds no frames: save it again", 0},
        gif_refusal{"no_pixels", edited(one_pixel, [](auto& b) { b[6] = 0; }),
                    "the GIF declares no pixels (0x1): save it again", 0},
        gif_refusal{"too_many_pixels", edited(one_pixel, [](auto& b) { b[7] = b[9] = 0x20; }),
                    "the GIF is 8193x8193 pixels, more than the 33554432 skinview takes: scale it down", 0},
        // 4097 x 8193 declared in a 1x1 picture, each pixel decoded to find where it goes.
        gif_refusal{
            "frame_far_outside",
            edited(one_pixel,
                   [](auto& b) {
                       b[b.size() - 10] = 0x10;
                       b[b.size() - 8] = 0x20;
                   }),
            "the GIF's frames reach far outside its 1x1 pixels, more than the 33554432 skinview takes: "
            "save it again",
            0},
        gif_refusal{"frames_hold_too_many_pixels",
                    gif_bytes({.width = 4096,
                               .height = 4096,
                               .palette = two,
                               .frames = {{.indices = {1}}, {.indices = {1}}, {.indices = {0}}}}),
                    "the GIF's 3 frames of 4096x4096 pixels hold more than the 33554432 skinview takes: use "
                    "fewer or smaller frames",
                    0}),
    by_name);

// `bytes` cut to its first `size`.
std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

// Our BMP decoder's failures, each with what its sentence names.
TEST(decode_image, names_what_is_wrong_with_a_bmp)
{
    const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases{
        {bmp_bytes({.bit_count = 24, .compression = 1}), "the BMP is of 24 bits a pixel with compression 1, "
                                                         "which skinview cannot read: save it again as PNG"},
        {bmp_bytes({.header_size = 14}),
         "the BMP has a header of 14 bytes, which skinview does not know: save it again as PNG"},
        {cut(bmp_bytes({}), 30), "the BMP ends inside its header: save it again"},
        {cut(bmp_bytes({}), 60), "the BMP ends inside its colour table: save it again"},
        {cut(bmp_bytes({}), 300), "the BMP ends before all its pixels: save it again"},
        {bmp_bytes({.width = 0}), "the BMP declares no pixels (0x16): save it again"},
        {cut(bmp_bytes({.width = 9000, .height = 4000}), 2000),
         "the BMP is 9000x4000 pixels, more than the 33554432 skinview takes: scale it down"},
    };
    for (const auto& [file, text] : cases) {
        std::string error;
        EXPECT_FALSE(decode_image(file, error).rgba);
        EXPECT_EQ(error, text);
    }
}

// A file is told by its first bytes; starts that only resemble a signature are no format.
TEST(format_by_signature, tells_a_file_by_its_first_bytes)
{
    using namespace std::string_view_literals;
    const std::vector<std::pair<std::string_view, image_format>> cases{
        {"BM\x36\x04"sv, image_format::bmp},
        {"\x89PNG\r\n\x1A\n"sv, image_format::png},
        {"\x89PNG"sv, image_format::unknown},
        {"\xFF\xD8\xFF\xE0"sv, image_format::jpeg},
        {"\xFF\xD8\x00\x10"sv, image_format::unknown},
        {"GIF87a"sv, image_format::gif},
        {"GIF89a"sv, image_format::gif},
        {"GIF88a"sv, image_format::unknown},
        {"II*\0"sv, image_format::tiff},
        {"MM\0*"sv, image_format::tiff},
        {"RIFF\0\0\0\0WEBP"sv, image_format::webp},
        {""sv, image_format::unknown},
    };
    for (const auto& [start, format] : cases) {
        const std::vector<std::uint8_t> file(start.begin(), start.end());
        EXPECT_EQ(format_by_signature(file), format) << testing::PrintToString(file);
    }
}

struct message_case {
    decode_problem problem;
    std::string text;
};

// Every row of the table from failure to sentence.
TEST(describe, says_what_is_wrong_and_what_to_do)
{
    const auto stb = [](const char* reason, const char* format) {
        return decode_problem{.failure = decode_failure::stb, .format = format, .stb_reason = reason};
    };
    const std::vector<message_case> cases{
        {{.failure = decode_failure::not_an_image},
         "not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA"},
        {{.failure = decode_failure::file_too_large}, "the file is larger than the 2 GiB skinview reads"},
        {{.failure = decode_failure::no_pixels, .format = "TGA", .width = 0, .height = 0},
         "the TGA declares no pixels (0x0): save it again"},
        {{.failure = decode_failure::too_many_pixels, .format = "BMP", .width = 40000, .height = 1000},
         "the BMP is 40000x1000 pixels, more than the 33554432 skinview takes: scale it down"},
        {{.failure = decode_failure::frames_too_many_pixels,
          .format = "GIF",
          .width = 100,
          .height = 90,
          .frames = 4000},
         "the GIF's 4000 frames of 100x90 pixels hold more than the 33554432 skinview takes: use fewer or "
         "smaller "
         "frames"},
        {{.failure = decode_failure::out_of_memory, .format = "BMP"},
         "there is not enough memory to decode the BMP: close other programs and try again"},
        {{.failure = decode_failure::ends_early, .format = "GIF"}, "the GIF ends early: save it again"},
        {{.failure = decode_failure::damaged_header, .format = "JPEG"},
         "the JPEG is damaged or cut short: save it again"},
        {{.failure = decode_failure::png_empty_data},
         "the PNG is damaged (its first data chunk is empty): save it again"},
        {{.failure = decode_failure::gif_no_frames}, "the GIF holds no frames: save it again"},
        {{.failure = decode_failure::gif_no_colour_table},
         "the GIF has a frame without colours: save it again"},
        {{.failure = decode_failure::gif_bad_code_size},
         "the GIF is damaged (a frame's code size is impossible): save it again"},
        {{.failure = decode_failure::gif_frames_too_large, .format = "GIF", .width = 4, .height = 4},
         "the GIF's frames reach far outside its 4x4 pixels, more than the 33554432 skinview takes: save it "
         "again"},
        {{.failure = decode_failure::bmp_unknown_header, .bmp_header = 20},
         "the BMP has a header of 20 bytes, which skinview does not know: save it again as PNG"},
        {{.failure = decode_failure::bmp_unsupported_form, .bits = 24, .compression = 1},
         "the BMP is of 24 bits a pixel with compression 1, which skinview cannot read: save it again as "
         "PNG"},
        {{.failure = decode_failure::bmp_ends_in_header}, "the BMP ends inside its header: save it again"},
        {{.failure = decode_failure::bmp_ends_in_table},
         "the BMP ends inside its colour table: save it again"},
        {{.failure = decode_failure::bmp_ends_in_pixels},
         "the BMP ends before all its pixels: save it again"},
        {stb("outofdata", "PNG"), "the PNG ends early: save it again"},
        {stb("read past buffer", "PNG"), "the PNG ends early: save it again"},
        {stb("no IDAT", "PNG"), "the PNG ends before its pixels: save it again"},
        {stb("not enough pixels", "PNG"), "the PNG holds fewer pixels than it declares: save it again"},
        {stb("outofmem", "PNG"),
         "the PNG is damaged or cut short (its data does not fit its size): save it again"},
        {stb("output buffer limit", "PNG"),
         "the PNG is damaged or cut short (its data does not fit its size): save it again"},
        {stb("bad codelengths", "PNG"), "the PNG's compressed data is damaged: save it again"},
        {stb("bad huffman code", "JPEG"), "the JPEG's compressed data is damaged: save it again"},
        {stb("bad dist", "PNG"), "the PNG's compressed data is damaged: save it again"},
        {stb("zlib corrupt", "PNG"), "the PNG's compressed data is damaged: save it again"},
        {stb("bad zlib header", "PNG"), "the PNG's compressed data is damaged: save it again"},
        {stb("bad code lengths", "JPEG"), "the JPEG's compressed data is damaged: save it again"},
        {stb("too large", "PNG"),
         "the PNG declares more pixels than the 33554432 skinview takes: scale it down"},
        {stb("0-pixel image", "PNG"), "the PNG declares no pixels: save it again"},
        {stb("0 width", "JPEG"), "the JPEG declares no pixels: save it again"},
        {stb("1/2/4/8/16-bit only", "PNG"),
         "the PNG has a bit depth skinview cannot read: save it again with 8 bits a channel"},
        {stb("only 8-bit", "JPEG"),
         "the JPEG has a bit depth skinview cannot read: save it again with 8 bits a channel"},
        {stb("no header height", "JPEG"),
         "the JPEG gives its height only after its pixels, which skinview cannot read: save it again"},
        {stb("bad png sig", "PNG"), "not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA"},
        {stb("unknown image type", "TGA"),
         "not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA"},
        {stb("bad SOS len", "JPEG"), "the JPEG is damaged: save it again"},
        {stb("\xff\xfe", "TGA"), "the TGA is damaged: save it again"},
    };
    for (const message_case& c : cases)
        EXPECT_EQ(describe(c.problem), c.text)
            << static_cast<int>(c.problem.failure) << " " << c.problem.stb_reason;
}

} // namespace
