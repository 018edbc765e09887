// skinview run end to end: its diagnoses and statuses, the stale-skin check, and its PNG output
// decoded back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "skin/bmp_writer.h"
#include "tests/test_folder.h"
#include "view/decode/decode_image.h"

namespace fs = std::filesystem;

namespace {

struct rgb_image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

rgb_image load_png(const fs::path& path)
{
    std::string error;
    const rgba_image decoded = decode_image(read_file(path), error);
    rgb_image image{decoded.width, decoded.height, {}};
    const std::span<const std::uint8_t> rgba = rgba_bytes(decoded);
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        image.rgb.insert(image.rgb.end(), rgba.begin() + static_cast<std::ptrdiff_t>(i),
                         rgba.begin() + static_cast<std::ptrdiff_t>(i + 3));
    return image;
}

std::size_t count_colour(const rgb_image& image, rgb colour)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3)
        count +=
            image.rgb[i] == colour.red && image.rgb[i + 1] == colour.green && image.rgb[i + 2] == colour.blue;
    return count;
}

std::uint8_t pack_332(const std::uint8_t* rgb)
{
    return static_cast<std::uint8_t>((rgb[0] >> 5) << 5 | (rgb[1] >> 5) << 2 | rgb[2] >> 6);
}

struct check_case {
    const char* name;
    std::function<void(const fs::path&)> prepare;
    std::vector<std::string> lines; // each must appear whole in the output
    int status;
    bool unprivileged = false;          // run as nobody when the tests run as root, so permissions count
    bool posix_only = false;            // Windows programs see no POSIX symbolic links
    std::vector<std::string> arguments; // after "check"
};

void PrintTo(const check_case& c, std::ostream* out)
{
    *out << c.name;
}

class check : public folder_test, public ::testing::WithParamInterface<check_case> {};

TEST_P(check, diagnoses_every_image_and_sets_the_status)
{
    if (GetParam().posix_only && testing_windows_build())
        GTEST_SKIP() << "symbolic links are a POSIX matter";
    GetParam().prepare(folder);
    std::vector<std::string> arguments{"check"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const run_result result =
        run_skinview(folder, {.arguments = arguments, .unprivileged = GetParam().unprivileged});
    EXPECT_EQ(result.status, GetParam().status) << result.out << result.err;
    for (const std::string& line : GetParam().lines)
        EXPECT_NE(result.out.find(line + "\n"), std::string::npos) << "missing: " << line << "\nin:\n"
                                                                   << result.out;
}

// A bad bmp0.bmp, then a good bmp1.bmp that must still be checked.
std::function<void(const fs::path&)> first_picture(bmp_image bad)
{
    return [bad](const fs::path& f) {
        write_file(f / "bmp0.bmp", bmp_bytes(bad));
        write_file(f / "bmp1.bmp", bmp_bytes(sample_image(16, 1)));
    };
}

const std::string good_second = "bmp1.bmp     16x16     ok";
const std::string repair = "run skinview import bmp0.bmp -o bmp0.bmp --force";
// скин: a folder named in another script, as artists on Windows name theirs.
const std::string skin_folder = "\u0441\u043a\u0438\u043d";
// The head of a 16x16 RGBA PNG.
const std::string png_head("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0", 29);
const std::string cannot_import =
    "skinview import cannot read it either: open it in a paint program and save it as PNG or as an 8-bit BMP";

INSTANTIATE_TEST_SUITE_P(
    skinview_folders, check,
    ::testing::Values(
        check_case{
            "wrong_size",
            first_picture(bmp_image{.width = 32, .height = 32}),
            {"bmp0.bmp     32x32     is 32x32: must be 16x16 or 128x128: run skinview import bmp0.bmp -o "
             "bmp0.bmp --size 128 --force",
             good_second},
            1},
        check_case{"rle8",
                   first_picture(bmp_image{.compression = 1}),
                   {"bmp0.bmp     16x16     RLE8-compressed: " + repair, good_second},
                   1},
        check_case{"rle4",
                   [](const fs::path& f) {
                       write_file(f / "bmp0.bmp",
                                  encode_bmp(std::vector<std::uint8_t>(16 * 16 * 4), 16, 16, {"rle4", 4, 2}));
                   },
                   {"bmp0.bmp     16x16     4 bits per pixel, not 8: " + repair},
                   1},
        // An 8-bit file that claims RLE4 is beyond import too: no command is offered for it.
        check_case{"rle4_claimed_by_8_bits",
                   first_picture(bmp_image{.compression = 2}),
                   {"bmp0.bmp     16x16     RLE4-compressed: " + cannot_import, good_second},
                   1},
        check_case{"four_bits",
                   first_picture(bmp_image{.bit_count = 4}),
                   {"bmp0.bmp     16x16     4 bits per pixel, not 8: " + repair, good_second},
                   1},
        check_case{"one_bit",
                   first_picture(bmp_image{.bit_count = 1}),
                   {"bmp0.bmp     16x16     1 bit per pixel, not 8: " + repair, good_second},
                   1},
        check_case{"os2_header",
                   [](const fs::path& f) {
                       write_file(f / "icon00.bmp", encode_bmp(std::vector<std::uint8_t>(16 * 16 * 4), 16, 16,
                                                               {"os2", 8, 0, 12}));
                   },
                   {"icon00.bmp   16x16     old OS/2 bitmap (12-byte header): run skinview import "
                    "icon00.bmp -o icon00.bmp --force"},
                   1},
        check_case{"true_colour",
                   [](const fs::path& f) {
                       write_file(f / "bmp0.bmp",
                                  encode_bmp(std::vector<std::uint8_t>(16 * 16 * 4), 16, 16, {"24-bit", 24}));
                   },
                   {"bmp0.bmp     16x16     24-bit colour: " + repair},
                   1},
        check_case{"true_colour_cut_short",
                   first_picture(bmp_image{.bit_count = 24}),
                   {"bmp0.bmp     16x16     24-bit colour: " + cannot_import, good_second},
                   1},
        check_case{"top_down",
                   first_picture(bmp_image{.height = -16}),
                   {"bmp0.bmp     16x-16    top-down rows: " + repair, good_second},
                   1},
        // A square stored top-down is mended by import; any other negative height is a wrong size.
        check_case{
            "tall_negative_height",
            first_picture(bmp_image{.width = 16, .height = -128}),
            {"bmp0.bmp     16x-128   is 16x-128: must be 16x16 or 128x128: run skinview import bmp0.bmp "
             "-o bmp0.bmp --size 128 --force",
             good_second},
            1},
        check_case{
            "top_down_wrong_square",
            first_picture(bmp_image{.width = 32, .height = -32}),
            {"bmp0.bmp     32x-32    is 32x-32: must be 16x16 or 128x128: run skinview import bmp0.bmp "
             "-o bmp0.bmp --size 128 --force",
             good_second},
            1},
        check_case{"os2_header_cut_short",
                   [](const fs::path& f) {
                       std::vector<std::uint8_t> bytes =
                           encode_bmp(std::vector<std::uint8_t>(16 * 16 * 4), 16, 16, {"os2", 8, 0, 12});
                       bytes.resize(22); // the file ends inside its 12-byte header
                       write_file(f / "icon00.bmp", bytes);
                   },
                   {"icon00.bmp   -         file ends inside its header: the file is damaged"},
                   1},
        check_case{"cut_short",
                   [](const fs::path& f) {
                       std::vector<std::uint8_t> bytes = bmp_bytes(sample_image(128, 0));
                       bytes.erase(bytes.end() - 100, bytes.end());
                       write_file(f / "bmp0.bmp", bytes);
                   },
                   {"bmp0.bmp     128x128   file ends before its pixels: the file is damaged"},
                   1},
        check_case{"folder_huge_and_empty_files",
                   [](const fs::path& f) {
                       fs::create_directory(f / "bmp0.bmp");
                       write_file(f / "bmp1.bmp", {});
                       fs::resize_file(f / "bmp1.bmp", std::uint64_t{1} << 31);
                       write_file(f / "bmp2.bmp", {});
                   },
                   {"bmp0.bmp     -         is a folder: rename or remove it",
                    "bmp1.bmp     -         file is over 2 GiB: skinpack cannot take it",
                    "bmp2.bmp     -         file is empty or cannot be read"},
                   1},
        // What skinpack stops at with "Read error on file", not where the series ends.
        check_case{"unreadable_file",
                   [](const fs::path& f) {
                       write_file(f / "bmp0.bmp", bmp_bytes(sample_image(16, 0)));
                       write_file(f / "bmp1.bmp", bmp_bytes(sample_image(16, 1)));
                       fs::permissions(f / "bmp1.bmp", fs::perms::none);
                       write_file(f / "bmp2.bmp", bmp_bytes(sample_image(16, 2)));
                   },
                   {"bmp1.bmp     -         cannot be read: permission denied: make it readable for you, or "
                    "close the program that holds it",
                    "bmp2.bmp     16x16     ok", "pictures: 3, the series ends at bmp3.bmp (missing)",
                    "summary: 3 images, 1 with problems, 0 warnings; skinpack would stop at bmp1.bmp"},
                   1,
                   true},
        check_case{"dangling_link",
                   [](const fs::path& f) { fs::create_symlink("gone.bmp", f / "icon00.bmp"); },
                   {"icon00.bmp   -         cannot be read: a link to a file that does not exist: mend or "
                    "remove the link",
                    "icons: 1, the series ends at icon01.bmp (missing)"},
                   1,
                   false,
                   true},
        check_case{
            "gap_and_unpadded_icon",
            [](const fs::path& f) {
                for (const char* name : {"bmp0.bmp", "bmp1.bmp", "bmp5.bmp", "icon00.bmp", "icon1.bmp"})
                    write_file(f / name, bmp_bytes(sample_image(16, 0)));
            },
            {"pictures: 2, the series ends at bmp2.bmp (missing)",
             "icons: 1, the series ends at icon01.bmp (missing)",
             "warning: bmp5.bmp will never be read: bmp2.bmp is missing",
             "warning: icon1.bmp will never be read: the name must be icon01.bmp"},
            1},
        check_case{
            "empty_folder",
            [](const fs::path&) {},
            {"summary: 0 images, 0 with problems, 0 warnings; no images: skinpack would write no skin"},
            1},
        check_case{"all_good",
                   [](const fs::path& f) {
                       write_file(f / "bmp0.bmp", bmp_bytes(sample_image(128, 0)));
                       write_file(f / "icon00.bmp", bmp_bytes(sample_image(16, 0)));
                   },
                   {"bmp0.bmp     128x128   ok", "icon00.bmp   16x16     ok",
                    "summary: 2 images, 0 with problems, 0 warnings; skin of 16640 bytes; no skin.skn yet"},
                   0},
        // Its IHDR lies where a BMP header keeps the size: 4096x101191680 it would read.
        check_case{"png_saved_as_bmp",
                   [](const fs::path& f) {
                       std::vector<std::uint8_t> bytes(png_head.begin(), png_head.end());
                       bytes.resize(64); // past a BMP's headers
                       write_file(f / "icon00.bmp", bytes);
                   },
                   {"icon00.bmp   -         a PNG image, not a BMP: " + cannot_import},
                   1},
        check_case{"folder_named_with_a_control_character",
                   [](const fs::path& f) {
                       fs::create_directory(f / "a\tb");
                       write_file(f / "a\tb" / "bmp0.bmp", bmp_bytes(bmp_image{.compression = 1}));
                   },
                   {"bmp0.bmp     16x16     RLE8-compressed: run skinview import a\\x09b/bmp0.bmp -o "
                    "a\\x09b/bmp0.bmp --force"},
                   1,
                   false,
                   true,
                   {"a\tb"}},
        check_case{"folder_named_in_another_script",
                   [](const fs::path& f) {
                       fs::create_directory(f / skin_folder);
                       write_file(f / skin_folder / "icon00.bmp", bmp_bytes(sample_image(16, 0)));
                   },
                   {"icon00.bmp   16x16     ok",
                    "summary: 1 image, 0 with problems, 0 warnings; skin of 256 bytes; no skin.skn yet"},
                   0,
                   false,
                   false,
                   {skin_folder}}),
    [](const auto& test) { return std::string(test.param.name); });

using skinview_test = folder_test;

TEST_F(skinview_test, check_tells_whether_the_skin_is_up_to_date)
{
    write_file(folder / "bmp0.bmp", bmp_bytes(sample_image(16, 0)));
    ASSERT_EQ(run_skinpack(folder).status, 0);
    run_result result = run_skinview(folder, {.arguments = {"check", folder.string()}});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("skin.skn is up to date\n"), std::string::npos) << result.out;

    write_file(folder / "bmp0.bmp", bmp_bytes(sample_image(16, 1)));
    result = run_skinview(folder, {.arguments = {"check"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("skin.skn is out of date: run skinpack\n"), std::string::npos) << result.out;
}

// check reads names as skinpack does: on Windows a name in other case is the member itself (with a
// note for folders bound for Linux), on Linux it is another file that no series reaches. Either
// way the skin skinpack wrote is current.
TEST_F(skinview_test, check_matches_names_as_skinpack_does)
{
    for (const char* name : {"bmp0.bmp", "BMP1.BMP", "Icon00.Bmp", "ICON1.BMP"})
        write_file(folder / name, bmp_bytes(sample_image(16, 0)));
    ASSERT_EQ(run_skinpack(folder).status, 0);
    const run_result result = run_skinview(folder, {.arguments = {"check"}});
    const std::string never = "warning: ICON1.BMP will never be read: the name must be icon01.bmp\n";
    const std::string expected =
        testing_windows_build()
            ? "bmp0.bmp     16x16     ok\nbmp1.bmp     16x16     ok\nicon00.bmp   16x16     ok\n"
              "pictures: 2, the series ends at bmp2.bmp (missing)\n"
              "icons: 1, the series ends at icon01.bmp (missing)\n" +
                  never +
                  "note: BMP1.BMP is read as bmp1.bmp here, but not where names must match exactly (Linux): "
                  "rename it bmp1.bmp\n"
                  "note: Icon00.Bmp is read as icon00.bmp here, but not where names must match exactly "
                  "(Linux): "
                  "rename it icon00.bmp\n"
                  "summary: 3 images, 0 with problems, 1 warning; skin of 768 bytes; skin.skn is up to "
                  "date\n"
            : "bmp0.bmp     16x16     ok\npictures: 1, the series ends at bmp1.bmp (missing)\n"
              "icons: 0, the series ends at icon00.bmp (missing)\n"
              "warning: BMP1.BMP will never be read: the name must be bmp1.bmp\n" +
                  never +
                  "warning: Icon00.Bmp will never be read: the name must be icon00.bmp\n"
                  "summary: 1 image, 0 with problems, 3 warnings; skin of 256 bytes; skin.skn is up to "
                  "date\n";
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.status, 1);
}

// A project of a picture and an icon of two frames, in colours that the device shows exactly.
const std::string small_project = "[[picture]]\nname = \"sky\"\nsource = \"sky.bmp\"\n"
                                  "[[icon]]\nname = \"spinner\"\nsource = [\"s1.bmp\", \"s2.bmp\"]\n";

void write_text(const fs::path& path, const std::string& text)
{
    write_file(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void write_small_project(const fs::path& folder)
{
    write_file(folder / "sky.bmp",
               bmp_bytes(bmp_image{.width = 128, .height = 128, .palette = {{73, 182, 85}}}));
    write_file(folder / "s1.bmp", bmp_bytes(bmp_image{.palette = {{255, 255, 255}}}));
    write_file(folder / "s2.bmp", bmp_bytes(bmp_image{.palette = {{0, 0, 0}}}));
    write_text(folder / "skin.toml", small_project);
}

struct project_check_case {
    const char* name;
    std::function<void(const fs::path&)> change; // after a build
    std::string out;
    int status;
};

void PrintTo(const project_check_case& c, std::ostream* out)
{
    *out << c.name;
}

class project_check : public folder_test, public ::testing::WithParamInterface<project_check_case> {};

// In a project folder check names each image by its entry and compares it with what build would
// write now; a problem is told as build tells it.
TEST_P(project_check, names_images_by_their_entries)
{
    write_small_project(folder);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    GetParam().change(folder);
    const run_result result = run_skinview(folder, {.arguments = {"check"}});
    EXPECT_EQ(result.out, GetParam().out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    skin_projects, project_check,
    ::testing::Values(
        project_check_case{"built", [](const fs::path&) {},
                           "bmp0.bmp     128x128   \"sky\"         ok\n"
                           "icon00.bmp   16x16     \"spinner\" 1/2 ok\n"
                           "icon01.bmp   16x16     \"spinner\" 2/2 ok\n"
                           "summary: 3 images, 0 out of date, 0 missing; skin of 16896 bytes; skin.skn is up "
                           "to date\n",
                           0},
        project_check_case{
            "source_changed",
            [](const fs::path& f) {
                write_file(f / "s2.bmp", bmp_bytes(bmp_image{.palette = {{255, 255, 255}, {}}}));
            },
            "bmp0.bmp     128x128   \"sky\"         ok\n"
            "icon00.bmp   16x16     \"spinner\" 1/2 ok\n"
            "icon01.bmp   16x16     \"spinner\" 2/2 out of date\n"
            "summary: 3 images, 1 out of date, 0 missing; skin of 16896 bytes; skin.skn is out "
            "of date: run skinview build\n",
            1},
        project_check_case{"image_removed", [](const fs::path& f) { fs::remove(f / "icon00.bmp"); },
                           "bmp0.bmp     128x128   \"sky\"         ok\n"
                           "icon00.bmp   16x16     \"spinner\" 1/2 missing\n"
                           "icon01.bmp   16x16     \"spinner\" 2/2 ok\n"
                           "summary: 3 images, 0 out of date, 1 missing; skin of 16896 bytes; skin.skn is up "
                           "to date, but not all its images: run skinview build\n",
                           1},
        project_check_case{"source_missing",
                           [](const fs::path& f) {
                               write_text(f / "skin.toml",
                                          small_project +
                                              "[[icon]]\nname = \"battery\"\nsource = \"battery.png\"\n");
                           },
                           "skin.toml:7: icon \"battery\": battery.png: no such file\n"
                           "summary: 1 problem; skinview build writes nothing until it is mended\n",
                           1}),
    [](const auto& test) { return std::string(test.param.name); });

struct usage_case {
    std::vector<std::string> arguments;
    int status;
    std::string shown; // on stdout or stderr
};

TEST_F(skinview_test, command_line_statuses)
{
    for (const usage_case& c :
         {usage_case{{}, 2, "A subcommand is required"}, usage_case{{"bogus"}, 2, "bogus"},
          usage_case{{"--version"}, 0, "skinview 1.0.0"}, usage_case{{"check", "--help"}, 0, "Usage:"},
          usage_case{{"check", "no-such-folder"}, 2, "no-such-folder"},
          usage_case{{"check", skin_folder}, 2, "Directory does not exist: " + skin_folder + "\n"},
          usage_case{{"build", skin_folder}, 2, "Path does not exist: " + skin_folder + "\n"},
          usage_case{{"preview", "--scale", "0"}, 2, "--scale"},
          usage_case{{"palette", "--format", "bmp"}, 2, "bmp"}, usage_case{{"unpack"}, 2, "SKIN"},
          usage_case{
              {"import", "a.png", "--dither", "fs"}, 2, "fs not in {none,floyd-steinberg,ordered,refined}"},
          usage_case{{"import", "a.png", "--background", "red"}, 2, "--background takes a colour as RRGGBB"},
          usage_case{{"index", "--format", "xml"}, 2, "xml"}}) {
        const run_result result = run_skinview(folder, {.arguments = c.arguments});
        const std::string shown = result.out + result.err;
        EXPECT_EQ(result.status, c.status) << shown;
        EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
    }
}

// skinpack, then skinview unpack, gives back exactly the 3-3-2 pixels of every image.
TEST_F(skinview_test, unpack_gives_back_the_skin_pixels)
{
    std::vector<std::pair<std::string, bmp_image>> images{{"bmp0", sample_image(128, 4)},
                                                          {"bmp1", sample_image(16, 5)},
                                                          {"icon00", sample_image(16, 6)},
                                                          {"icon01", sample_image(128, 7)}};
    images[1].second.header_size = 124;
    for (const auto& [name, image] : images)
        write_file(folder / (name + ".bmp"), bmp_bytes(image));
    ASSERT_EQ(run_skinpack(folder).status, 0);

    const run_result result = run_skinview(folder, {.arguments = {"unpack", "skin.skn", "-o", "out"}});
    ASSERT_EQ(result.status, 0) << result.err;
    for (const auto& [name, image] : images) {
        const rgb_image png = load_png(folder / "out" / (name + ".png"));
        ASSERT_EQ(png.width, image.width) << name;
        ASSERT_EQ(png.height, image.height) << name;
        std::vector<std::uint8_t> packed;
        for (std::size_t i = 0; i < png.rgb.size(); i += 3)
            packed.push_back(pack_332(&png.rgb[i]));
        EXPECT_EQ(packed, image.pixels) << name; // the identity palette: each pixel is its own byte
    }
}

TEST_F(skinview_test, unpack_refuses_a_skin_that_does_not_fit_the_images)
{
    write_file(folder / "bmp0.bmp", bmp_bytes(sample_image(16, 0)));
    write_file(folder / "skin.skn", std::vector<std::uint8_t>(300));
    const run_result result = run_skinview(folder, {.arguments = {"unpack", "skin.skn"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "skinview: skin.skn has 300 bytes, but the images in . make 256 (1 image): it was not built "
              "from these images\n");
    EXPECT_FALSE(fs::exists(folder / "skin-unpacked"));
}

// The levels that the device shows for a field's bits: eight for red and green, four for blue.
constexpr std::array<int, 8> eight_levels{0, 36, 73, 109, 146, 182, 219, 255};
constexpr std::array<int, 4> four_levels{0, 85, 170, 255};

// A project on a measured panel: 100, 181, 100 lies nearest red level 4 (110), green 6 (210) and
// blue 2 (120) there (levels 3, 5 and 1 of the standard ones), so the skin holds 0x9A, which every
// command shows as the panel does (110, 210, 120), never as the standard 146, 219, 170.
TEST_F(skinview_test, a_project_is_shown_in_its_panels_colours)
{
    write_file(folder / "a.bmp", bmp_bytes(bmp_image{.palette = {{100, 181, 100}}}));
    const std::string text =
        "[panel]\nred = [0, 20, 45, 75, 110, 150, 200, 255]\ngreen = [0, 10, 30, 60, 100, "
        "150, 210, 255]\nblue = [0, 40, 120, 255]\n[[icon]]\nname = \"a\"\nsource = \"a.bmp\"\n";
    write_file(folder / "skin.toml", {text.begin(), text.end()});
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    EXPECT_EQ(read_file(folder / "skin.skn"), std::vector<std::uint8_t>(256, 0x9A));
    const struct {
        std::vector<std::string> arguments;
        const char* file;
        std::size_t panel_colours; // pixels of 110, 210, 120
    } shown[] = {{{"preview", "--scale", "1"}, "skin-preview.png", 256},
                 {{"unpack", "skin.skn", "-o", "out"}, "out/icon00.png", 256},
                 {{"palette", "-o", "p.act"}, "p.act", 1}};
    for (const auto& row : shown) {
        ASSERT_EQ(run_skinview(folder, {.arguments = row.arguments}).status, 0) << row.file;
        const rgb_image image = std::string(row.file).ends_with(".png")
                                    ? load_png(folder / row.file)
                                    : rgb_image{0, 0, read_file(folder / row.file)};
        EXPECT_EQ(count_colour(image, {110, 210, 120}), row.panel_colours) << row.file;
        EXPECT_EQ(count_colour(image, {146, 219, 170}), 0u) << row.file;
    }
}

// The colours the device shows, in every palette format.
TEST_F(skinview_test, palettes_hold_the_device_colours)
{
    ASSERT_EQ(run_skinview(folder, {.arguments = {"palette", "-o", "colours.act"}}).status, 0);
    const std::vector<std::uint8_t> act = read_file(folder / "colours.act");
    ASSERT_EQ(act.size(), 768u);
    for (std::size_t pixel = 0; pixel < 256; ++pixel) {
        EXPECT_EQ(act[3 * pixel], eight_levels[pixel >> 5]) << pixel;
        EXPECT_EQ(act[3 * pixel + 1], eight_levels[pixel >> 2 & 7]) << pixel;
        EXPECT_EQ(act[3 * pixel + 2], four_levels[pixel & 3]) << pixel;
    }

    ASSERT_EQ(run_skinview(folder, {.arguments = {"palette", "--format", "png", "-o", "grid.png"}}).status,
              0);
    const rgb_image grid = load_png(folder / "grid.png");
    ASSERT_EQ(grid.width, 256);
    ASSERT_EQ(grid.height, 256);
    for (int pixel = 0; pixel < 256; ++pixel) {
        const std::size_t at = ((pixel / 16 * 16 + 8) * 256 + pixel % 16 * 16 + 8) * 3u;
        ASSERT_TRUE(std::equal(grid.rgb.begin() + static_cast<std::ptrdiff_t>(at),
                               grid.rgb.begin() + static_cast<std::ptrdiff_t>(at + 3),
                               act.begin() + pixel * 3))
            << "swatch " << pixel;
    }

    ASSERT_EQ(run_skinview(folder, {.arguments = {"palette"}}).status, 0);
    const std::vector<std::uint8_t> gpl = read_file(folder / "skin-palette.gpl");
    std::istringstream lines(std::string(gpl.begin(), gpl.end()));
    std::string line;
    for (const char* header : {"GIMP Palette", "Name: 3-3-2 device colours", "Columns: 16", "#"}) {
        std::getline(lines, line);
        EXPECT_EQ(line, header);
    }
    for (int pixel = 0; pixel < 256 && std::getline(lines, line); ++pixel) {
        const std::string expected = std::to_string(eight_levels[pixel >> 5]) + ' ' +
                                     std::to_string(eight_levels[pixel >> 2 & 7]) + ' ' +
                                     std::to_string(four_levels[pixel & 3]) + '\t' + std::to_string(pixel);
        EXPECT_EQ(line, expected);
    }
    EXPECT_FALSE(std::getline(lines, line)) << "more than 256 colours";
    ASSERT_EQ(run_skinview(folder, {.arguments = {"palette", "-o", "x.pal"}}).status, 0);
    const std::vector<std::uint8_t> pal = read_file(folder / "x.pal");
    EXPECT_TRUE(std::string(pal.begin(), pal.end()).starts_with("JASC-PAL\r\n0100\r\n256\r\n0 0 0\r\n"));
}

// An empty folder gets no sheet. A colour that 3-3-2 cannot hold: the preview shows the device's
// colour, and with --compare the original beside it, each pixel scaled to a square. A refused
// image is left out and said so; each label is drawn in the 3x5 font.
TEST_F(skinview_test, preview_shows_the_converted_colours_scaled)
{
    const rgb original{200, 100, 30};
    const rgb shown{219, 109, 0};
    constexpr std::size_t pixels = 128 * 128 + 16 * 16;

    run_result result = run_skinview(folder, {.arguments = {"preview"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "skinview: no images in .\n");
    EXPECT_FALSE(fs::exists(folder / "skin-preview.png"));

    write_file(folder / "bmp0.bmp", bmp_bytes(bmp_image{.width = 128, .height = 128, .palette = {original}}));
    write_file(folder / "icon00.bmp", bmp_bytes(bmp_image{.palette = {original}}));
    ASSERT_EQ(run_skinview(folder, {.arguments = {"preview", "--scale", "3"}}).status, 0);
    rgb_image sheet = load_png(folder / "skin-preview.png");
    EXPECT_EQ(count_colour(sheet, shown), pixels * 9);
    EXPECT_EQ(count_colour(sheet, original), 0u);

    write_file(folder / "icon01.bmp", bmp_bytes(bmp_image{.compression = 1}));
    result = run_skinview(folder, {.arguments = {"preview", "--compare", "--scale", "1", "-o", "both.png"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "both.png: 2 images, 1 with problems left out (see skinview check)\n");
    sheet = load_png(folder / "both.png");
    EXPECT_EQ(count_colour(sheet, shown), pixels);
    EXPECT_EQ(count_colour(sheet, original), pixels);

    // The "b" of the first label, at the sheet's margin of four pixels.
    const char* b_glyph[] = {"#  ", "#  ", "###", "# #", "###"};
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 3; ++column) {
            const std::size_t at = (static_cast<std::size_t>(4 + row) * sheet.width + 4 + column) * 3;
            EXPECT_EQ(sheet.rgb[at] == 255, b_glyph[row][column] == '#') << row << ", " << column;
        }
}

// The error map of flat images, whose blur changes nothing: a device colour is shown exactly, and a
// grey of 31 shows as black, which is CIEDE2000's L* difference over its weight: L* 11.7579 of
// sRGB 31, weighted 1 + 0.015 (L*/2 - 50)^2 / sqrt(20 + (L*/2 - 50)^2) = 1.65844, gives 7.0897,
// drawn 2.1269 of the way up black, red, yellow, white.
TEST_F(skinview_test, preview_maps_and_prints_the_error)
{
    struct flat_case {
        rgb original;
        const char* mean;
        rgb map;
    };
    const flat_case cases[] = {
        {{255, 255, 255}, "0.00", {0, 0, 0}},
        {{73, 182, 85}, "0.00", {0, 0, 0}},
        {{31, 31, 31}, "7.09", {255, 255, 32}},
    };
    for (const flat_case& c : cases) {
        write_file(folder / "bmp0.bmp",
                   bmp_bytes(bmp_image{.width = 128, .height = 128, .palette = {c.original}}));
        const run_result result = run_skinview(folder, {.arguments = {"preview", "--error", "--scale", "1"}});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out,
                  std::string("skin-preview.png: 1 image\n  bmp0.bmp: mean error ") + c.mean + "\n");
        const rgb_image sheet = load_png(folder / "skin-preview.png");
        EXPECT_EQ(count_colour(sheet, c.map), 128u * 128u) << c.mean;
    }
}

// In a project folder preview draws what build would make now, before any build, each image
// labelled with its entry's name ("sky" in the 3x5 font) and measured against its own source.
TEST_F(skinview_test, preview_names_a_projects_images_by_their_entries)
{
    write_small_project(folder);
    const run_result result = run_skinview(folder, {.arguments = {"preview", "--error", "--scale", "1"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "skin-preview.png: 3 images\n  bmp0.bmp \"sky\": mean error 0.00\n"
                          "  icon00.bmp \"spinner\" 1/2: mean error 0.00\n"
                          "  icon01.bmp \"spinner\" 2/2: mean error 0.00\n");
    const rgb_image sheet = load_png(folder / "skin-preview.png");
    const char* sky[] = {"    #       ", " ## # # # # ", "#   ##  ### ", "  # # #   # ", "##  # # ##  "};
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 12; ++column) {
            const std::size_t at = (static_cast<std::size_t>(4 + row) * sheet.width + 4 + column) * 3;
            EXPECT_EQ(sheet.rgb[at] == 255, sky[row][column] == '#') << row << ", " << column;
        }
}

// Windows users name folders with a drive letter and backslashes; Wine maps Z: to the root.
TEST_F(skinview_test, folders_may_be_given_as_windows_paths)
{
    if (!testing_windows_build())
        GTEST_SKIP() << "drive letters are a Windows matter";
    std::string windows = "Z:" + folder.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    write_file(root / "art.bmp", bmp_bytes(sample_image(16, 3)));
    const run_result imported = run_skinview(root, {.arguments = {"import", "art.bmp", "--into", windows}});
    EXPECT_EQ(imported.status, 0) << imported.err;
    const run_result checked = run_skinview(root, {.arguments = {"check", windows}});
    EXPECT_EQ(checked.status, 0) << checked.err;
    EXPECT_NE(checked.out.find("icon00.bmp   16x16     ok\n"), std::string::npos) << checked.out;
}

// What a firmware author does with the index: compile against the header (as C89 and as C++,
// warnings as errors) or read the JSON, find every image's block in the skin, and check the
// skin against SKIN_CRC32.
TEST_F(skinview_test, index_locates_every_image_as_c_and_as_json)
{
    const std::vector<std::pair<std::string, std::int32_t>> images{
        {"bmp0.bmp", 128}, {"bmp1.bmp", 16}, {"bmp2.bmp", 16}, {"icon00.bmp", 128}};
    for (std::size_t i = 0; i < images.size(); ++i)
        write_file(folder / images[i].first,
                   bmp_bytes(sample_image(images[i].second, static_cast<unsigned>(i))));
    ASSERT_EQ(run_skinpack(folder).status, 0);
    const std::vector<std::uint8_t> skin = read_file(folder / "skin.skn");

    run_result result = run_skinview(folder, {.arguments = {"index", "-o", "skin_index.h"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "skin_index.h: 4 images, 33280 bytes (c)\n");
    write_file(folder / "find.c", [] {
        const std::string program = R"(#include <stdio.h>
#define SKIN_TABLE
#include "skin_index.h"
static const unsigned long offsets[SKIN_IMAGE_COUNT] = SKIN_OFFSETS;
static const unsigned long sides[SKIN_IMAGE_COUNT] = SKIN_SIDES;
int main(void)
{
    unsigned long i, crc = 0xFFFFFFFFul;
    int c, k;
    FILE *skin = fopen("skin.skn", "rb");
    while (skin != NULL && (c = getc(skin)) != EOF)
        for (crc ^= (unsigned long)c, k = 0; k < 8; ++k)
            crc = (crc & 1ul) ? 0xEDB88320ul ^ (crc >> 1) : crc >> 1;
    printf("%d\n", (crc ^ 0xFFFFFFFFul) == SKIN_CRC32);
    printf("%lu %lu %lu %lu\n", (unsigned long)SKIN_SIZE, (unsigned long)SKIN_IMAGE_COUNT,
           (unsigned long)SKIN_PICTURE_COUNT, (unsigned long)SKIN_ICON_COUNT);
    printf("%lu %lu %lu %lu\n", (unsigned long)SKIN_BMP1_OFFSET, (unsigned long)SKIN_BMP1_SIDE,
           (unsigned long)SKIN_ICON00_OFFSET, (unsigned long)SKIN_ICON00_SIDE);
    for (i = 0; i < SKIN_IMAGE_COUNT; ++i)
        printf("%lu:%lu ", offsets[i], sides[i]);
    for (i = 0; i < SKIN_ENTRY_COUNT; ++i)
        printf("\n%s %lu %u %u", skin_table[i].name, skin_table[i].offset, skin_table[i].side, skin_table[i].frames);
    return 0;
}
)";
        return std::vector<std::uint8_t>(program.begin(), program.end());
    }());
    const std::string expected = "1\n33280 4 3 1\n16384 16 16896 128\n0:128 16384:16 16640:16 16896:128 "
                                 "\nbmp0 0 128 1\nbmp1 16384 16 1\nbmp2 16640 16 1\nicon00 16896 128 1";
    for (const std::string compiler : {"cc -std=c89", "c++ -x c++ -std=c++98"}) {
        const std::string command = "cd " + folder.string() + " && " + compiler +
                                    " -Wall -Wextra -pedantic -Werror find.c -o find && ./find > found.txt";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(read_file(folder / "found.txt"),
                  std::vector<std::uint8_t>(expected.begin(), expected.end()));
    }

    result = run_skinview(folder, {.arguments = {"index", "--format", "json"}});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json index = nlohmann::json::parse(result.out);
    EXPECT_EQ(index["size"], skin.size());
    ASSERT_EQ(index["images"].size(), images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const nlohmann::json& image = index["images"][i];
        const auto side = static_cast<std::size_t>(images[i].second);
        EXPECT_EQ(image["name"], images[i].first);
        EXPECT_EQ(image["series"], i < 3 ? "picture" : "icon");
        EXPECT_EQ(image["index"], i < 3 ? i : i - 3);
        EXPECT_EQ(image["side"], side);
        EXPECT_EQ(image["size"], side * side);
        const auto offset = image["offset"].get<std::size_t>();
        const std::vector<std::uint8_t> pixels =
            sample_image(images[i].second, static_cast<unsigned>(i)).pixels;
        ASSERT_LE(offset + side * side, skin.size());
        EXPECT_TRUE(
            std::equal(pixels.begin(), pixels.end(), skin.begin() + static_cast<std::ptrdiff_t>(offset)))
            << images[i].first;
    }

    write_file(folder / "icon01.bmp", bmp_bytes(bmp_image{.compression = 1}));
    result = run_skinview(folder, {.arguments = {"index", "-o", "again.json"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("icon01.bmp   16x16     RLE8-compressed"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(folder / "again.json"));
}

// A sheet too large for memory is split into pages, each named after the output.
TEST_F(skinview_test, preview_pages_a_large_sheet)
{
    for (const char* name : {"bmp0.bmp", "bmp1.bmp", "bmp2.bmp", "bmp3.bmp", "bmp4.bmp"})
        write_file(folder / name, bmp_bytes(sample_image(128, 0)));
    const run_result result = run_skinview(folder, {.arguments = {"preview", "--scale", "16"}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "skin-preview-1.png: 4 images\nskin-preview-2.png: 1 image\n");
    EXPECT_EQ(load_png(folder / "skin-preview-2.png").width, 16 * (128 + 4 + 4));
    EXPECT_FALSE(fs::exists(folder / "skin-preview.png"));
}

} // namespace
