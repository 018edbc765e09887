// Skin projects end to end: skinview build and init in fresh folders, against what skinpack packs
// there, the header compiled as firmware would, every refusal, the incremental and safe rewrites,
// and --watch.
#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "skin/bmp_writer.h"
#include "skin/colour_332.h"
#include "tests/gif_writer.h"
#include "tests/test_folder.h"
#include "view/commands/build.h"
#include "view/common/render.h"
#include "view/project/build_project.h"
#include "view/project/project.h"
#include "view/project/touch_layer.h"

namespace fs = std::filesystem;

namespace {

void write_bytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    write_file(path, bytes);
}

void write_text(const fs::path& path, const std::string& text)
{
    write_bytes(path, {text.begin(), text.end()});
}

// The device byte of pixel (x, y) in the test pictures: a sweep shifted by `seed`.
std::uint8_t sweep(int x, int y, unsigned seed)
{
    return static_cast<std::uint8_t>(static_cast<unsigned>(x + 7 * y) + seed);
}

// A PNG of `channels` bytes a pixel (3: RGB, 4: RGBA).
std::vector<std::uint8_t> png_bytes(int width, int height, const std::vector<std::uint8_t>& pixels,
                                    int channels = 3)
{
    std::vector<std::uint8_t> png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(context);
            out->insert(out->end(), static_cast<std::uint8_t*>(data),
                        static_cast<std::uint8_t*>(data) + size);
        },
        &png, width, height, channels, pixels.data(), width * channels);
    return png;
}

// A PNG whose every pixel is a device colour, so that it converts to sweep()'s bytes exactly.
void write_png(const fs::path& path, int width, int height, unsigned seed)
{
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::array<std::uint8_t, 3> colour = expand_332(sweep(x, y, seed));
            rgb.insert(rgb.end(), colour.begin(), colour.end());
        }
    write_bytes(path, png_bytes(width, height, rgb));
}

// An animated GIF of `side` x `side` frames over the 256 device colours, one frame per seed.
std::vector<std::uint8_t> sweep_gif(int side, const std::vector<unsigned>& seeds)
{
    gif_file gif{.width = side, .height = side};
    for (unsigned b = 0; b < 256; ++b)
        gif.palette.push_back(expand_332(static_cast<std::uint8_t>(b)));
    for (const unsigned seed : seeds) {
        gif_picture frame{.width = side, .height = side};
        for (int i = 0; i < side * side; ++i)
            frame.indices.push_back(static_cast<std::uint8_t>(sweep(i % side, i / side, seed)));
        gif.frames.push_back(frame);
    }
    return gif_bytes(gif);
}

std::vector<std::uint8_t> sweep_block(int side, unsigned seed)
{
    std::vector<std::uint8_t> block;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            block.push_back(sweep(x, y, seed));
    return block;
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t length)
{
    if (at + length > bytes.size())
        return {};
    return {bytes.begin() + static_cast<std::ptrdiff_t>(at),
            bytes.begin() + static_cast<std::ptrdiff_t>(at + length)};
}

// Every file below `folder` with its bytes and time stamp.
struct file_state {
    std::vector<std::uint8_t> bytes;
    fs::file_time_type time;
    bool operator==(const file_state&) const = default;
};

std::map<std::string, file_state> snapshot(const fs::path& folder)
{
    std::map<std::string, file_state> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).generic_string()] = {read_file(entry.path()),
                                                                          entry.last_write_time()};
    return files;
}

// The names whose files were added, changed or removed between two snapshots.
std::vector<std::string> changed(const std::map<std::string, file_state>& before,
                                 const std::map<std::string, file_state>& after)
{
    std::vector<std::string> names;
    for (const auto& [name, state] : after)
        if (!before.contains(name) || before.at(name) != state)
            names.push_back(name);
    for (const auto& [name, state] : before)
        if (!after.contains(name))
            names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// Lets the clock move past the last write, so that a rewrite shows in the time stamps.
void tick()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

using project_test = folder_test;

using table_rows::by_name;
using table_rows::PrintTo;

// A project of every kind of entry: the skin is the one skinpack packs from the folder it leaves,
// and firmware finds every name, frame count and the CRC in the header.
TEST_F(project_test, builds_the_skin_skinpack_packs_and_a_header_that_names_it)
{
    write_png(folder / "art/splash.png", 200, 150, 1);
    write_png(folder / "art/battery.png", 16, 16, 3);
    write_bytes(folder / "art/spinner.gif", sweep_gif(128, {10, 20, 30}));
    write_png(folder / "art/wifi 0.png", 16, 16, 5);
    write_png(folder / "art/wifi 1.png", 16, 16, 6);
    write_text(folder / "skin.toml", R"([defaults]
background = "#102030"

[[picture]]
name = "splash"
source = "art/splash.png"
dither = "floyd-steinberg"

[[icon]]
name = "battery"
source = "art/battery.png"

[[picture]]
name = "spinner"
source = "art/spinner.gif"

[[icon]]
name = "wi-fi"
source = ["art/wifi 0.png", "art/wifi 1.png"]
dither = "ordered"
)");
    run_result result = run_skinview(folder, {.arguments = {"build", "--embed", "--depfile", "skin.d"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.substr(0, result.out.find(", crc32")), "skin.skn: 7 images, 66304 bytes");
    const std::vector<std::uint8_t> built = read_file(folder / "skin.skn");
    fs::remove(folder / "skin.skn");
    ASSERT_EQ(run_skinpack(folder).status, 0);
    EXPECT_EQ(read_file(folder / "skin.skn"), built);
    for (unsigned frame = 0; frame < 3; ++frame)
        EXPECT_EQ(slice(built, 16384 * (1 + frame), 16384), sweep_block(128, 10 * (frame + 1))) << frame;
    EXPECT_EQ(slice(built, 65536, 256), sweep_block(16, 3));

    const nlohmann::json index = nlohmann::json::parse(read_file(folder / "skin.json"));
    EXPECT_EQ(index["images"][3]["entry"], "spinner");
    EXPECT_EQ(index["images"][3]["frame"], 2);
    EXPECT_EQ(index["images"][6]["entry"], "wi-fi");
    const std::vector<std::uint8_t> depfile_bytes = read_file(folder / "skin.d");
    const std::string depfile(depfile_bytes.begin(), depfile_bytes.end());
    EXPECT_NE(depfile.find("skin_data.c: "), std::string::npos) << depfile;
    EXPECT_NE(depfile.find("/art/wifi\\ 1.png\n"), std::string::npos) << depfile;
    // A key for the project and another for one icon: every source is converted again.
    std::vector<std::uint8_t> keyed = read_file(folder / "skin.toml");
    std::string keyed_text(keyed.begin(), keyed.end());
    keyed_text.replace(keyed_text.find("\n"), 1, "\nkey = \"#FF00FF\"\n");
    keyed_text.replace(keyed_text.find("art/battery.png\"\n"), 17, "art/battery.png\"\nkey = \"#000000\"\n");
    write_text(folder / "skin.toml", keyed_text);
    result = run_skinview(folder, {.arguments = {"build", "--embed"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.ends_with("; 5 decoded; wrote bmp0.bmp bmp1.bmp bmp2.bmp bmp3.bmp skin.skn skin.h "
                                     "skin.json skin_data.c\n"))
        << result.out;
    if (testing_windows_build())
        return; // the C compilers here make Linux programs
    // A second file with its own copy of the table, which links beside the first.
    write_text(folder / "table.c", R"(#include <string.h>
#define SKIN_TABLE
#include "skin.h"
unsigned long find(const char *name);
unsigned long find(const char *name)
{
    unsigned i;
    for (i = 0; i < SKIN_ENTRY_COUNT; ++i)
        if (strcmp(skin_table[i].name, name) == 0)
            return skin_table[i].offset;
    return 0;
}
)");
    write_text(folder / "check.c", R"(#include <stdio.h>
#define SKIN_TABLE
#include "skin.h"
extern const unsigned char skin_data[SKIN_SIZE];
static const unsigned long offsets[SKIN_IMAGE_COUNT] = SKIN_OFFSETS;
unsigned long find(const char *name);
int main(void)
{
    unsigned long crc = 0xFFFFFFFFul, length = 0;
    int c, k;
    unsigned e;
    FILE *skin = fopen("skin.skn", "rb");
    while (skin != NULL && (c = getc(skin)) != EOF) {
        if (length < SKIN_SIZE && (unsigned char)c != skin_data[length])
            return 2;
        ++length;
        crc ^= (unsigned long)c;
        for (k = 0; k < 8; ++k)
            crc = (crc & 1ul) ? 0xEDB88320ul ^ (crc >> 1) : crc >> 1;
    }
    crc ^= 0xFFFFFFFFul;
    printf("%lu %lu %lu %lu %lu %lu %lu\n", (unsigned long)SKIN_SPLASH_OFFSET, (unsigned long)SKIN_SPINNER_OFFSET,
           (unsigned long)SKIN_SPINNER_FRAME_COUNT, (unsigned long)SKIN_BATTERY_OFFSET,
           (unsigned long)SKIN_BATTERY_SIDE, (unsigned long)SKIN_WI_FI_OFFSET, (unsigned long)SKIN_WI_FI_FRAME_COUNT);
    printf("%lu %lu %d\n", offsets[6], length, crc == SKIN_CRC32 && length == SKIN_SIZE);
    printf("%lu %lu %lu %lu\n", (unsigned long)SKIN_SPLASH_INDEX, (unsigned long)SKIN_SPINNER_INDEX,
           (unsigned long)SKIN_BATTERY_INDEX, (unsigned long)SKIN_WI_FI_INDEX);
    for (e = 0; e < SKIN_ENTRY_COUNT; ++e)
        printf("%s %lu %u %u\n", skin_table[e].name, skin_table[e].offset, skin_table[e].side, skin_table[e].frames);
    printf("%lu\n", find("wi-fi"));
#ifdef SKIN_WI_FI_KEY
    return 3;
#endif
    printf("%u %u\n", SKIN_KEY, SKIN_BATTERY_KEY);
    return 0;
}
)");
    const std::string expected = "0 16384 3 65536 16 65792 2\n66048 66304 1\n0 1 0 1\nsplash 0 128 1\n"
                                 "spinner 16384 128 3\nbattery 65536 16 1\nwi-fi 65792 16 2\n65792\n227 0\n";
    for (const std::string compiler : {"cc -std=c89", "c++ -x c++ -std=c++98"}) {
        const std::string command =
            "cd '" + folder.string() + "' && " + compiler +
            " -Wall -Wextra -pedantic -Werror check.c table.c skin_data.c -o check && ./check > checked.txt";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(read_file(folder / "checked.txt"),
                  std::vector<std::uint8_t>(expected.begin(), expected.end()));
    }
}

// A project with the sources its rows name: a.png (16 x 16), b.png (128 x 128) and notes.png, no image.
void write_project(const fs::path& folder, const std::string& project)
{
    write_png(folder / "a.png", 16, 16, 0);
    write_png(folder / "b.png", 128, 128, 0);
    write_text(folder / "notes.png", "not a picture");
    write_text(folder / "skin.toml", project);
}

// An unknown key, two clashing names, a missing source and a source that is no image.
const std::string every_kind_at_once = "[[icon]]\nname = \"wi-fi\"\nsource = \"a.png\"\ncolour = \"red\"\n"
                                       "[[icon]]\nname = \"wi fi\"\nsource = \"a.png\"\n"
                                       "[[icon]]\nname = \"Battery\"\nsource = \"missing.png\"\n"
                                       "[[icon]]\nname = \"battery\"\nsource = \"notes.png\"\n";

struct refusal_case {
    const char* name;
    std::string project;
    std::string err;
};

class project_refusals : public folder_test, public ::testing::WithParamInterface<refusal_case> {};

// Each mistake is one line naming the file, the line and the entry, all are reported, and
// nothing at all is written.
TEST_P(project_refusals, say_where_and_write_nothing)
{
    write_project(folder, GetParam().project);
    const auto before = snapshot(folder);
    const run_result result = run_skinview(folder, {.arguments = {"build"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, GetParam().err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(changed(before, snapshot(folder)), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    every_mistake, project_refusals,
    ::testing::Values(
        refusal_case{
            "unknown_entry_key", "[[icon]]\nname = \"a\"\nsource = \"a.png\"\nsizes = 16\n",
            "skin.toml:4: icon \"a\": unknown key \"sizes\": the keys are name, source, size, dither, "
            "background, key, as_is, touch\n"},
        refusal_case{"unknown_table", "[[pictures]]\nname = \"a\"\n",
                     "skin.toml:1: unknown key \"pictures\": the tables are [defaults], [panel], "
                     "[[picture]], [[icon]]\n"},
        refusal_case{
            "panel_levels_falling_out_of_range_miscounted_or_unknown",
            "[panel]\nred = [0, 20, 45, 45, 110, 150, 200, 256]\ngreen = [0, 10, 30]\n"
            "blue = \"0 40 120 255\"\ngamma = 2.2\n",
            "skin.toml:2: panel: red level 3 is 45, not above level 2 (45): the levels rise from black\n"
            "skin.toml:2: panel: red level 7 is 256: a level is from 0 to 255\n"
            "skin.toml:3: panel: green lists 3 levels: it takes 8, from black up\n"
            "skin.toml:4: panel: blue must be a list of 4 whole numbers from 0 to 255\n"
            "skin.toml:5: panel: unknown key \"gamma\": the keys are red, green, blue\n"},
        refusal_case{"panel_not_a_table", "panel = 3\n", "skin.toml:1: panel must be a table ([panel])\n"},
        refusal_case{"sizes_of_wrong_type_and_value",
                     "[[icon]]\nname = \"a\"\nsource = \"a.png\"\nsize = \"16\"\n\n"
                     "[[icon]]\nname = \"b\"\nsource = \"a.png\"\nsize = 64\n",
                     "skin.toml:4: icon \"a\": size must be 16 or 128: write it without quotes (16)\n"
                     "skin.toml:9: icon \"b\": size must be 16 or 128\n"},
        // Paths written the Windows way: "\b" in double quotes is a backspace, and in single quotes
        // a backslash is no separator on Linux.
        refusal_case{
            "paths_with_backslashes",
            "[[icon]]\nname = \"battery\"\nsource = \"art\\battery.png\"\n"
            "[[icon]]\nname = \"wifi\"\nsource = 'art\\wifi.png'\n",
            "skin.toml:1: icon \"battery\": art\\x08attery.png: no such file: write the path with '/' "
            "between folders (art/icon.png), which works on every system\n"
            "skin.toml:4: icon \"wifi\": art\\wifi.png: no such file: write the path with '/' between "
            "folders (art/icon.png), which works on every system\n"},
        refusal_case{"name_with_a_backspace", "[[icon]]\nname = \"bat\\btery\"\nsource = \"a.png\"\n",
                     "skin.toml:1: icon \"bat\\x08tery\": the name must give a C name: letters, digits, '_', "
                     "'-' or ' ', not a digit first\n"},
        refusal_case{"saved_as_utf16", std::string("\xFF\xFE[\0[\0i\0c\0o\0n\0]\0]\0", 18),
                     "skin.toml:1: the file is UTF-16: save it as UTF-8\n"},
        refusal_case{"missing_source", "[[icon]]\nname = \"battery\"\nsource = \"art/battery.png\"\n",
                     "skin.toml:1: icon \"battery\": art/battery.png: no such file\n"},
        refusal_case{"folder_as_source", "[[icon]]\nname = \"a\"\nsource = \".\"\n",
                     "skin.toml:1: icon \"a\": .: not a file\n"},
        refusal_case{
            "undecodable_source", "[[icon]]\nname = \"a\"\nsource = \"notes.png\"\n",
            "skin.toml:1: icon \"a\": notes.png: not an image skinview can read: save it as PNG, BMP, "
            "JPEG, GIF or TGA\n"},
        refusal_case{
            "one_c_name_twice",
            "[[icon]]\nname = \"Battery\"\nsource = \"a.png\"\n[[icon]]\nname = \"battery\"\nsource = "
            "\"a.png\"\n[[picture]]\nname = \"a-b\"\nsource = \"b.png\"\n[[picture]]\nname = \"a_b\"\n"
            "source = \"b.png\"\n",
            "skin.toml:4: icon \"battery\": its C name BATTERY is also that of icon \"Battery\" (line 1)\n"
            "skin.toml:10: picture \"a_b\": its C name A_B is also that of picture \"a-b\" (line 7)\n"},
        refusal_case{
            "names_that_are_no_c_names",
            "[[icon]]\nname = \"9lives\"\nsource = \"a.png\"\n[[icon]]\nname = \"caf\xc3\xa9\"\nsource "
            "= \"a.png\"\n[[icon]]\nname = \"\"\nsource = \"a.png\"\n",
            "skin.toml:1: icon \"9lives\": the name must give a C name: letters, digits, '_', '-' or ' "
            "', not a digit first\n"
            "skin.toml:4: icon \"caf\xc3\xa9\": the name must give a C name: letters, digits, '_', '-' "
            "or ' ', not a digit first\n"
            "skin.toml:8: icon: the name must give a C name: letters, digits, '_', '-' or ' ', not a "
            "digit first\n"},
        refusal_case{"no_frames", "[[picture]]\nname = \"spinner\"\nsource = []\n",
                     "skin.toml:3: picture \"spinner\": source lists no frames\n"},
        refusal_case{"frames_of_two_sides",
                     "[[picture]]\nname = \"spinner\"\nsource = [\"b.png\", \"a.png\"]\n",
                     "skin.toml:1: picture \"spinner\": its frames are of different sides (128 and 16): give "
                     "size = 16 or size = 128\n"},
        refusal_case{"no_name_nor_source", "[[icon]]\nsize = 16\n",
                     "skin.toml:1: icon: has no name: add name = \"...\"\n"
                     "skin.toml:1: icon: has no source: add source = \"PATH\"\n"},
        refusal_case{"unknown_dither_and_bad_backgrounds",
                     "[defaults]\nbackground = \"red\"\ndither = 2\n\n[[icon]]\nname = \"a\"\nsource = "
                     "\"a.png\"\ndither = \"fs\"\nbackground = \"#12345\"\n",
                     "skin.toml:2: defaults: background must be a colour written \"#RRGGBB\"\n"
                     "skin.toml:3: defaults: dither must be \"none\", \"floyd-steinberg\", \"ordered\" or "
                     "\"refined\"\n"
                     "skin.toml:8: icon \"a\": dither must be \"none\", \"floyd-steinberg\", \"ordered\" or "
                     "\"refined\"\n"
                     "skin.toml:9: icon \"a\": background must be a colour written \"#RRGGBB\"\n"},
        refusal_case{
            "as_is_with_options", "[[icon]]\nname = \"a\"\nsource = \"a.png\"\nas_is = true\nsize = 16\n",
            "skin.toml:1: icon \"a\": as_is takes the BMP as it is: size, dither, background and key "
            "do not apply\n"},
        refusal_case{
            "keys_that_are_no_device_colours",
            "[defaults]\nkey = \"#203040\"\n\n[[icon]]\nname = \"a\"\nsource = \"a.png\"\nkey = "
            "\"ff00fe\"\n[[icon]]\nname = \"b\"\nsource = \"a.png\"\nkey = 0xFF00FF\n"
            "[[icon]]\nname = \"c\"\nsource = \"a.png\"\nas_is = true\nkey = \"#FF00FF\"\n",
            "skin.toml:2: defaults: key #203040 is not a device colour; the nearest is #242455\n"
            "skin.toml:7: icon \"a\": key ff00fe is not a device colour; the nearest is #FF00FF\n"
            "skin.toml:11: icon \"b\": key must be a colour written \"#RRGGBB\"\n"
            "skin.toml:12: icon \"c\": as_is takes the BMP as it is: size, dither, background and key "
            "do not apply\n"},
        refusal_case{"as_is_of_a_refused_bmp",
                     "[[icon]]\nname = \"a\"\nsource = \"a.png\"\nas_is = \"yes\"\n",
                     "skin.toml:4: icon \"a\": as_is must be true or false\n"},
        refusal_case{
            "as_is_quoted", "[[icon]]\nname = \"a\"\nsource = \"a.png\"\nas_is = \"true\"\n",
            "skin.toml:4: icon \"a\": as_is must be true or false: write it without quotes (true)\n"},
        refusal_case{
            "name_of_another_numbered_image",
            "[[picture]]\nname = \"bmp1\"\nsource = \"b.png\"\n[[picture]]\nname = \"bmp0\"\n"
            "source = \"b.png\"\n",
            "skin.toml:1: picture \"bmp1\": its macros SKIN_BMP1_... would also be those of bmp1.bmp, "
            "another image: choose another name\n"
            "skin.toml:4: picture \"bmp0\": its macros SKIN_BMP0_... would also be those of bmp0.bmp, "
            "another image: choose another name\n"},
        refusal_case{"not_toml", "[[icon]\nname = \"a\"\n",
                     "skin.toml:1: Error while parsing table header: expected ']', saw '\\n'\n"},
        refusal_case{"no_images", "[defaults]\ndither = \"ordered\"\n",
                     "skin.toml: lists no images: add a [[picture]] or an [[icon]]\n"},
        refusal_case{"every_kind_at_once", every_kind_at_once,
                     "skin.toml:4: icon \"wi-fi\": unknown key \"colour\": the keys are name, source, size, "
                     "dither, background, key, as_is, touch\n"
                     "skin.toml:5: icon \"wi fi\": its C name WI_FI is also that of icon \"wi-fi\" (line 1)\n"
                     "skin.toml:8: icon \"Battery\": missing.png: no such file\n"
                     "skin.toml:11: icon \"battery\": its C name BATTERY is also that of icon \"Battery\" "
                     "(line 8)\n"
                     "skin.toml:11: icon \"battery\": notes.png: not an image skinview can read: save it as "
                     "PNG, BMP, JPEG, GIF or TGA\n"}),
    by_name);

using found = std::tuple<int, std::optional<std::size_t>, problem_kind>; // line, entry, kind

struct found_case {
    const char* name;
    std::string project;
    std::vector<found> problems;
};

class found_problems : public folder_test, public ::testing::WithParamInterface<found_case> {};

// Load and build tell every problem they can find in one run, each on the entry it concerns;
// an entry is converted unless what it gives depends on a problem of its own.
TEST_P(found_problems, are_told_at_once_each_on_its_entry)
{
    write_project(folder, GetParam().project);
    skin_project project;
    std::vector<project_problem> loaded;
    load_project(folder / "skin.toml", project, loaded);
    std::vector<found> problems;
    for (const project_problem& problem : build_project(project, loaded, {}).problems)
        problems.emplace_back(problem.line, problem.entry, problem.kind);
    EXPECT_EQ(problems, GetParam().problems);
}

using enum problem_kind;

INSTANTIATE_TEST_SUITE_P(
    every_kind, found_problems,
    ::testing::Values(
        found_case{"every_kind_at_once",
                   every_kind_at_once,
                   {{4, 0, unknown_key},
                    {5, 1, name_clash},
                    {8, 2, missing_source},
                    {11, 3, name_clash},
                    {11, 3, undecodable_source}}},
        found_case{
            "two_entries_on_one_line",
            "icon = [{name = \"a\", source = \"notes.png\"}, {name = \"b\", source = \"missing.png\"}]\n",
            {{1, 1, missing_source}, {1, 0, undecodable_source}}},
        // Pictures and icons are read in the order of their lines, each problem on its entry.
        found_case{"an_icon_after_a_picture",
                   "[[picture]]\nname = \"p\"\nsource = \"b.png\"\n[[icon]]\nname = \"i\"\nsource = "
                   "\"a.png\"\nsize = 64\n",
                   {{7, 1, bad_value}}},
        found_case{"a_bad_value_leaves_its_entry_unconverted",
                   "[[icon]]\nname = \"a\"\nsource = \"notes.png\"\nsize = 64\n",
                   {{4, 0, bad_value}}},
        found_case{"images_the_entries_cannot_take",
                   "[[picture]]\nname = \"spinner\"\nsource = [\"b.png\", \"a.png\"]\n[[icon]]\nname = "
                   "\"own\"\nsource = \"a.png\"\nas_is = true\n[[icon]]\nname = \"9\"\nsource = \"a.png\"\n",
                   {{8, 2, bad_name}, {1, 0, wrong_image}, {4, 1, wrong_image}}},
        found_case{"no_toml_stops_everything",
                   "[[icon]\nname = \"a\"\nsource = \"notes.png\"\n",
                   {{1, std::nullopt, syntax}}},
        found_case{"nothing_listed", "[defaults]\ndither = \"ordered\"\n", {{0, std::nullopt, no_images}}}),
    by_name);

// Build rewrites what changed and nothing else, and decodes only the sources that changed.
TEST_F(project_test, rebuilds_only_what_changed)
{
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "two.png", 128, 128, 2);
    write_png(folder / "icon.png", 16, 16, 3);
    const std::string project =
        "[[picture]]\nname = \"one\"\nsource = \"one.png\"\n\n[[picture]]\nname = \"two\"\nsource = "
        "\"two.png\"\n\n[[icon]]\nname = \"icon\"\nsource = \"icon.png\"\n";
    write_text(folder / "skin.toml", project);
    run_result result = run_skinview(folder, {.arguments = {"build"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("; 3 decoded; wrote bmp0.bmp bmp1.bmp icon00.bmp skin.skn skin.h skin.json\n"),
              std::string::npos)
        << result.out;
    const std::vector<std::uint8_t> first = read_file(folder / "skin.skn");

    struct step {
        const char* name;
        std::function<void()> change;
        const char* says; // the end of the output line
        std::vector<std::string> changed;
    };
    const std::vector<step> steps{
        {"nothing", [] {}, "; 0 decoded; up to date\n", {}},
        {"a time stamp",
         [&] {
             fs::last_write_time(folder / "two.png",
                                 fs::last_write_time(folder / "two.png") + std::chrono::seconds(5));
         },
         "; 0 decoded; up to date\n",
         {".skinview-build", "two.png"}},
        {"one source",
         [&] { write_png(folder / "icon.png", 16, 16, 9); },
         "; 1 decoded; wrote icon00.bmp skin.skn skin.h skin.json\n",
         {".skinview-build", "icon.png", "icon00.bmp", "skin.h", "skin.json", "skin.skn"}},
        {"the order",
         [&] {
             write_text(
                 folder / "skin.toml",
                 "[[picture]]\nname = \"two\"\nsource = \"two.png\"\n\n[[picture]]\nname = \"one\"\nsource = "
                 "\"one.png\"\n\n[[icon]]\nname = \"icon\"\nsource = \"icon.png\"\n");
         },
         "; 0 decoded; wrote bmp0.bmp bmp1.bmp skin.skn skin.h skin.json\n",
         {".skinview-build", "bmp0.bmp", "bmp1.bmp", "skin.h", "skin.json", "skin.skn", "skin.toml"}},
    };
    for (const step& s : steps) {
        tick();
        const auto before = snapshot(folder);
        s.change();
        result = run_skinview(folder, {.arguments = {"build"}});
        ASSERT_EQ(result.status, 0) << s.name << ": " << result.err;
        EXPECT_TRUE(result.out.ends_with(s.says)) << s.name << ": " << result.out;
        EXPECT_EQ(changed(before, snapshot(folder)), s.changed) << s.name;
    }
    const std::vector<std::uint8_t> swapped = read_file(folder / "skin.skn");
    EXPECT_EQ(slice(swapped, 0, 16384), slice(first, 16384, 16384));
    EXPECT_EQ(slice(swapped, 16384, 16384), slice(first, 0, 16384));
    EXPECT_EQ(slice(swapped, 32768, 256), sweep_block(16, 9));
}

struct foreign_case {
    const char* name;
    std::function<void(const fs::path&)> meddle; // after a first build
    std::string project;                         // then built from this
    std::string err;                             // without --force
    std::vector<std::string> forced;             // what --force then changes
};

class foreign_files : public folder_test, public ::testing::WithParamInterface<foreign_case> {};

const std::string two_pictures =
    "[[picture]]\nname = \"one\"\nsource = \"one.png\"\n[[picture]]\nname = \"two\"\nsource = \"two.png\"\n";
const std::string first_picture = "[[picture]]\nname = \"one\"\nsource = \"one.png\"\n";

// A file that build did not write, or that changed since, is neither replaced nor removed
// without --force; then the folder packs to the skin that build wrote.
TEST_P(foreign_files, are_kept_unless_forced)
{
    const foreign_case& c = GetParam();
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "two.png", 128, 128, 2);
    write_text(folder / "skin.toml", first_picture);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    c.meddle(folder);
    write_text(folder / "skin.toml", c.project);
    tick();
    const auto before = snapshot(folder);
    run_result result = run_skinview(folder, {.arguments = {"build"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(changed(before, snapshot(folder)), std::vector<std::string>{});
    result = run_skinview(folder, {.arguments = {"build", "--force"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(changed(before, snapshot(folder)), c.forced);
    const std::vector<std::uint8_t> built = read_file(folder / "skin.skn");
    ASSERT_EQ(run_skinpack(folder).status, 0);
    EXPECT_EQ(read_file(folder / "skin.skn"), built);
}

INSTANTIATE_TEST_SUITE_P(
    in_the_way, foreign_files,
    ::testing::Values(
        foreign_case{
            "own_file_edited",
            [](const fs::path& f) { write_text(f / "bmp0.bmp", "edited"); },
            first_picture,
            "bmp0.bmp: changed since skinview build wrote it: move it away, or give --force to replace it\n",
            {".skinview-build", "bmp0.bmp"}}, // the record stamps the BMP written again
        foreign_case{"file_of_its_own",
                     [](const fs::path& f) { write_text(f / "bmp1.bmp", "mine"); },
                     two_pictures,
                     "bmp1.bmp: not written by skinview build: move it away, or give --force to replace it\n",
                     {".skinview-build", "bmp1.bmp", "skin.h", "skin.json", "skin.skn"}},
        foreign_case{
            "file_skinpack_would_read",
            [](const fs::path& f) { write_bytes(f / "bmp1.bmp", bmp_bytes(sample_image(16, 1))); },
            first_picture,
            "bmp1.bmp: not written by skinview build, and skinpack would read it after the project's "
            "last image: move it away, or give --force to remove it\n",
            {"bmp1.bmp"}},
        foreign_case{"removed_entry_edited",
                     [](const fs::path& f) {
                         write_text(f / "skin.toml", two_pictures);
                         ASSERT_EQ(run_skinview(f, {.arguments = {"build"}}).status, 0);
                         write_text(f / "bmp1.bmp", "edited");
                     },
                     first_picture,
                     "bmp1.bmp: changed since skinview build wrote it, and skinpack would read it as part of "
                     "the skin: move it away, or give --force to remove it\n",
                     {".skinview-build", "bmp1.bmp", "skin.h", "skin.json", "skin.skn"}}),
    by_name);

struct owner_case {
    const char* name;
    std::function<void(const fs::path& folder)> place; // after a first build
    std::string err;                                   // from build; "" when it succeeds
    std::string forced_err;                            // from build --force
    std::string inside_err; // before those, from a build that may write only inside the folder
};

class ownership : public folder_test, public ::testing::WithParamInterface<owner_case> {};

const std::string changed_bmp1 = "bmp1.bmp: changed since skinview build wrote it: move it away, or give "
                                 "--force to replace it\n";
const std::string foreign_bmp1 =
    "bmp1.bmp: not written by skinview build: move it away, or give --force to replace it\n";
const std::string stale_source = "bmp1.bmp: is the source of icon \"two\", and skinpack would read it as "
                                 "part of the skin: move it elsewhere\n";
const std::string dangling_h = "skin.h: a link to nothing: build makes no file through it: remove the link\n";
const std::string picture_source =
    "bmp1.bmp: is the source of picture \"two\": move that source elsewhere and name it there first\n";
const std::string fifo_h = "skin.h: not a regular file: move it away\n";
const std::string fifo_record = ".skinview-build: not a regular file: move it away\n";
const std::string link_to_mine = "skin.h: a link to a file that skinview build did not write: move it away, "
                                 "or give --force to replace it\n";

// A second picture made from `source`, a name for bmp1.bmp, which build would write.
void second_picture_from(const fs::path& folder, const std::string& source)
{
    write_text(folder / "skin.toml",
               first_picture + "[[picture]]\nname = \"two\"\nsource = \"" + source + "\"\nsize = 16\n");
}

// Whatever is at a path that build would write, it is written only when build owns it (or is
// forced to), never opened unless it is a file, and nothing is made outside the folder.
TEST_P(ownership, decides_what_build_may_write)
{
    if (testing_windows_build())
        GTEST_SKIP() << "FIFOs and links as Linux makes them";
    const owner_case& c = GetParam();
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "two.png", 128, 128, 2);
    write_text(folder / "skin.toml", two_pictures);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    write_png(folder / "two.png", 128, 128, 3); // so that bmp1.bmp, skin.skn, skin.h and skin.json change
    c.place(folder);
    const auto outside = [&] {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(root))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = outside();
    skin_project project;
    std::vector<project_problem> problems;
    ASSERT_TRUE(load_project(folder / "skin.toml", project, problems));
    std::string inside;
    for (const project_problem& problem : build_project(project, problems, {.inside_only = true}).problems)
        inside += problem_line(problem, folder) + "\n";
    EXPECT_EQ(inside, c.inside_err);

    run_result result = run_skinview(folder, {.arguments = {"build"}});
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1);
    result = run_skinview(folder, {.arguments = {"build", "--force"}});
    EXPECT_EQ(result.err, c.forced_err);
    EXPECT_EQ(outside(), before);
}

INSTANTIATE_TEST_SUITE_P(
    every_owner, ownership,
    ::testing::Values(
        owner_case{"absent", [](const fs::path& f) { fs::remove(f / "bmp1.bmp"); }, "", "", ""},
        owner_case{"ours", [](const fs::path&) {}, "", "", ""},
        owner_case{"ours_changed", [](const fs::path& f) { write_text(f / "bmp1.bmp", "edited"); },
                   changed_bmp1, "", changed_bmp1},
        owner_case{"foreign",
                   [](const fs::path& f) {
                       fs::remove(f / ".skinview-build");
                       fs::remove(f / "bmp0.bmp");
                       fs::remove(f / "skin.skn");
                       fs::remove(f / "skin.h");
                       fs::remove(f / "skin.json");
                   },
                   foreign_bmp1, "", foreign_bmp1},
        owner_case{"source", [](const fs::path& f) { second_picture_from(f, "bmp1.bmp"); }, picture_source,
                   picture_source, picture_source},
        owner_case{"source_spelt_otherwise", [](const fs::path& f) { second_picture_from(f, "./bmp1.bmp"); },
                   picture_source, picture_source, picture_source},
        owner_case{"source_through_a_link",
                   [](const fs::path& f) {
                       fs::create_symlink("bmp1.bmp", f / "art.bmp");
                       second_picture_from(f, "art.bmp");
                   },
                   picture_source, picture_source, picture_source},
        owner_case{"stale_image_that_is_a_source",
                   [](const fs::path& f) {
                       write_text(f / "skin.toml", first_picture + "[[icon]]\nname = \"two\"\nsource = "
                                                                   "\"bmp1.bmp\"\nsize = 16\n");
                   },
                   stale_source, stale_source, stale_source},
        owner_case{"fifo",
                   [](const fs::path& f) {
                       fs::remove(f / "skin.h");
                       ASSERT_EQ(::mkfifo((f / "skin.h").c_str(), 0644), 0);
                   },
                   fifo_h, fifo_h, fifo_h},
        owner_case{"fifo_record",
                   [](const fs::path& f) {
                       fs::remove(f / ".skinview-build");
                       ASSERT_EQ(::mkfifo((f / ".skinview-build").c_str(), 0644), 0);
                   },
                   fifo_record, fifo_record, fifo_record},
        owner_case{"dangling_link_inside",
                   [](const fs::path& f) {
                       fs::remove(f / "skin.h");
                       fs::create_symlink("gone/skin.h", f / "skin.h");
                   },
                   dangling_h, dangling_h, dangling_h},
        owner_case{"dangling_link_outside",
                   [](const fs::path& f) {
                       fs::remove(f / "skin.h");
                       fs::create_symlink("../outside.h", f / "skin.h");
                   },
                   dangling_h, dangling_h, dangling_h},
        owner_case{"link_to_our_own_file",
                   [](const fs::path& f) {
                       fs::rename(f / "skin.h", f / "kept.h");
                       fs::create_symlink("kept.h", f / "skin.h");
                   },
                   "", "", ""},
        owner_case{"link_to_our_own_file_outside",
                   [](const fs::path& f) {
                       fs::rename(f / "skin.h", f / "../firmware.h");
                       fs::create_symlink("../firmware.h", f / "skin.h");
                   },
                   "", "",
                   "skin.h: a link out of the project folder: the studio writes nothing outside it: remove "
                   "the link\n"},
        owner_case{"link_to_a_file_of_its_own",
                   [](const fs::path& f) {
                       fs::remove(f / "skin.h");
                       write_text(f / "mine.h", "mine");
                       fs::create_symlink("mine.h", f / "skin.h");
                   },
                   link_to_mine, "", link_to_mine}),
    by_name);

struct second_build_case {
    const char* name;
    std::function<void(const fs::path&)> change; // between a first build and the second
    std::vector<std::string> arguments;          // of the second
    std::string err;
    std::function<void(const fs::path&)> check; // after it
};

class second_build : public folder_test, public ::testing::WithParamInterface<second_build_case> {};

// A flat mid-grey that no device colour matches: dithers give other pixels than the nearest colour.
const std::vector<std::uint8_t> grey_png = png_bytes(16, 16, std::vector<std::uint8_t>(16 * 16 * 3, 100));

// grey.png built with no dither: the levels 109, 109, 85.
void skin_still_grey(const fs::path& folder)
{
    EXPECT_EQ(read_file(folder / "skin.skn"), std::vector<std::uint8_t>(256, 0x6D));
}

// Lets the unprivileged second build replace what the first one wrote.
void open_outputs(const fs::path& folder)
{
    for (const char* name : {"skin.skn", "skin.h", "skin.json", "icon00.bmp", ".skinview-build"})
        fs::permissions(folder / name, fs::perms::all);
}

// Sources whose names are in other scripts (art/фон.png, art/été.png) beside grey.png; été.png
// holds no image unless `ete_is_an_image`.
void write_named_in_any_script(const fs::path& folder, bool ete_is_an_image)
{
    write_png(folder / "art" / "\u0444\u043e\u043d.png", 16, 16, 1);
    if (ete_is_an_image)
        write_png(folder / "art" / "\u00e9t\u00e9.png", 16, 16, 2);
    else
        write_text(folder / "art" / "\u00e9t\u00e9.png", "not a picture");
    write_text(folder / "skin.toml", "[[icon]]\nname = \"grey\"\nsource = \"grey.png\"\n"
                                     "[[icon]]\nname = \"fon\"\nsource = \"art/\u0444\u043e\u043d.png\"\n"
                                     "[[icon]]\nname = \"ete\"\nsource = \"art/\u00e9t\u00e9.png\"\n");
}

// What the second build finds of the first, and of what happened since, is taken for what it is.
TEST_P(second_build, takes_what_happened_since_the_first)
{
    const second_build_case& c = GetParam();
    write_bytes(folder / "grey.png", grey_png);
    write_text(folder / "skin.toml", "[[icon]]\nname = \"grey\"\nsource = \"grey.png\"\n");
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    skin_still_grey(folder);
    c.change(folder);
    const run_result result = run_skinview(folder, {.arguments = c.arguments, .unprivileged = true});
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1);
    c.check(folder);
}

INSTANTIATE_TEST_SUITE_P(
    every_change, second_build,
    ::testing::Values(
        second_build_case{"unreadable_project",
                          [](const fs::path& f) { fs::permissions(f / "skin.toml", fs::perms::none); },
                          {"build"},
                          "skin.toml: cannot be read\n",
                          [](const fs::path&) {}},
        second_build_case{"another_dither",
                          [](const fs::path& f) {
                              write_text(
                                  f / "skin.toml",
                                  "[[icon]]\nname = \"grey\"\nsource = \"grey.png\"\ndither = \"ordered\"\n");
                              open_outputs(f);
                          },
                          {"build"},
                          "",
                          [](const fs::path& f) {
                              EXPECT_NE(read_file(f / "skin.skn"), std::vector<std::uint8_t>(256, 0x6D));
                          }},
        second_build_case{
            "numbered_image_replaced_by_another",
            [](const fs::path& f) {
                std::vector<std::uint8_t> bmp = read_file(f / "icon00.bmp");
                bmp.back() = 0x00; // the last pixel of the top row: still a BMP build wrote
                write_bytes(f / "icon00.bmp", bmp);
            },
            {"build"},
            "icon00.bmp: changed since skinview build wrote it: move it away, or give --force to "
            "replace it\n",
            skin_still_grey},
        // A record of before stamps: the edited BMP is read, and found changed all the same.
        second_build_case{"numbered_image_replaced_under_a_record_without_stamps",
                          [](const fs::path& f) {
                              const std::vector<std::uint8_t> record = read_file(f / ".skinview-build");
                              std::string text(record.begin(), record.end());
                              for (std::size_t at; (at = text.find("\nstamp ")) != std::string::npos;)
                                  text.erase(at, text.find('\n', at + 1) - at);
                              write_text(f / ".skinview-build", text);
                              std::vector<std::uint8_t> bmp = read_file(f / "icon00.bmp");
                              bmp.back() = 0x00;
                              write_bytes(f / "icon00.bmp", bmp);
                          },
                          {"build"},
                          "icon00.bmp: changed since skinview build wrote it: move it away, or give --force "
                          "to replace it\n",
                          skin_still_grey},
        second_build_case{
            "skin_replaced_by_as_many_bytes",
            [](const fs::path& f) { write_bytes(f / "skin.skn", std::vector<std::uint8_t>(256)); },
            {"build"},
            "skin.skn: changed since skinview build wrote it: move it away, or give --force to "
            "replace it\n",
            [](const fs::path& f) { EXPECT_EQ(read_file(f / "skin.skn"), std::vector<std::uint8_t>(256)); }},
        // Paths are UTF-8 in skin.toml and in messages on every system, whatever Windows' code page.
        second_build_case{"sources_named_in_any_script",
                          [](const fs::path& f) {
                              write_named_in_any_script(f, true);
                              open_outputs(f);
                          },
                          {"build"},
                          "",
                          [](const fs::path& f) {
                              std::vector<std::uint8_t> skin(256, 0x6D);
                              for (const unsigned seed : {1u, 2u}) {
                                  const std::vector<std::uint8_t> block = sweep_block(16, seed);
                                  skin.insert(skin.end(), block.begin(), block.end());
                              }
                              EXPECT_EQ(read_file(f / "skin.skn"), skin);
                          }},
        second_build_case{"a_source_named_in_any_script_that_is_no_image",
                          [](const fs::path& f) { write_named_in_any_script(f, false); },
                          {"build"},
                          "skin.toml:7: icon \"ete\": art/\u00e9t\u00e9.png: not an image skinview can read: "
                          "save it as PNG, BMP, JPEG, GIF or TGA\n",
                          skin_still_grey},
        // A project folder named in another script (проект), as artists on Windows name theirs.
        second_build_case{"project_folder_named_in_another_script",
                          [](const fs::path& f) {
                              const fs::path project = f / "\u043f\u0440\u043e\u0435\u043a\u0442";
                              write_bytes(project / "grey.png", grey_png);
                              write_text(project / "skin.toml",
                                         "[[icon]]\nname = \"grey\"\nsource = \"grey.png\"\n");
                              fs::permissions(project, fs::perms::all);
                          },
                          {"build", "\u043f\u0440\u043e\u0435\u043a\u0442"},
                          "",
                          [](const fs::path& f) {
                              EXPECT_EQ(read_file(f / "\u043f\u0440\u043e\u0435\u043a\u0442" / "skin.skn"),
                                        std::vector<std::uint8_t>(256, 0x6D));
                          }},
        second_build_case{"up_to_date_with_a_depfile",
                          [](const fs::path&) {},
                          {"build", "--depfile", "skin.d"},
                          "",
                          [](const fs::path& f) {
                              const std::vector<std::uint8_t> rule = read_file(f / "skin.d");
                              const std::string text(rule.begin(), rule.end());
                              // A Windows build names the files as Windows sees them (Wine: Z: is the root).
                              const std::string grey =
                                  (testing_windows_build() ? "Z:" : "") + (f / "grey.png").string();
                              EXPECT_TRUE(text.ends_with("/skin.toml " + grey + "\n")) << text;
                          }}),
    by_name);

// A pixel of a touch-up layer: (x, y) and its RGBA.
struct layer_pixel {
    int x, y;
    std::array<std::uint8_t, 4> rgba;
    int code = -1; // what it paints, when not its colour's standard code
};

struct touch_case {
    const char* name;
    std::string entry;               // the lines of icon "a" after its name; its layer is a.touch.png
    int height;                      // of the layer, 16 wide
    std::vector<layer_pixel> pixels; // over a transparent layer
    std::string err;                 // empty: it builds
    int fill = -1;                   // drawn from nothing: the byte of every untouched pixel
    std::string after = "";          // the lines after the entry
};

class touch_ups : public folder_test, public ::testing::WithParamInterface<touch_case> {};

constexpr std::array<std::uint8_t, 4> red{255, 0, 0, 255}, blue{0, 0, 255, 255}, magenta{255, 0, 255, 255};

// The layer over the entry's conversion: the skin is the untouched one with exactly the painted
// pixels in their device bytes, whatever the dither, and skinpack packs the folder to it. A layer
// that is no layer is told at its line, with the pixel, and nothing is written.
TEST_P(touch_ups, lay_each_pixel_over_the_conversion)
{
    const touch_case& c = GetParam();
    write_bytes(folder / "grey.png", grey_png);
    write_bytes(folder / "art/a.bmp", bmp_bytes(sample_image(16, 1)));
    write_bytes(folder / "frames.gif", sweep_gif(16, {1, 2}));
    std::vector<std::uint8_t> rgba(16 * static_cast<std::size_t>(c.height) * 4, 0);
    for (const layer_pixel& p : c.pixels)
        std::copy(p.rgba.begin(), p.rgba.end(), rgba.begin() + (p.y * 16 + p.x) * 4);
    write_bytes(folder / "a.touch.png", png_bytes(16, c.height, rgba, 4));
    const std::string head = "[[icon]]\nname = \"a\"\n";
    std::vector<std::uint8_t> expected;
    if (c.fill < 0) {
        write_text(folder / "skin.toml", head + c.entry + c.after);
        ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
        expected = read_file(folder / "skin.skn");
    } else {
        expected.assign(16 * static_cast<std::size_t>(c.height), static_cast<std::uint8_t>(c.fill));
    }
    for (const layer_pixel& p : c.pixels)
        expected.at(static_cast<std::size_t>(p.y * 16 + p.x)) =
            p.code >= 0 ? static_cast<std::uint8_t>(p.code) : pack_332(p.rgba[0], p.rgba[1], p.rgba[2]);
    write_text(folder / "skin.toml", head + c.entry + "touch = \"a.touch.png\"\n" + c.after);
    const auto before = snapshot(folder);
    const run_result result = run_skinview(folder, {.arguments = {"build"}});
    EXPECT_EQ(result.err, c.err);
    ASSERT_EQ(result.status, c.err.empty() ? 0 : 1);
    if (!c.err.empty()) {
        EXPECT_EQ(changed(before, snapshot(folder)), std::vector<std::string>{});
        return;
    }
    EXPECT_EQ(read_file(folder / "skin.skn"), expected);
    fs::remove(folder / "skin.skn");
    ASSERT_EQ(run_skinpack(folder).status, 0);
    EXPECT_EQ(read_file(folder / "skin.skn"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    every_layer, touch_ups,
    ::testing::Values(
        touch_case{"none", "source = \"grey.png\"\ndither = \"none\"\n", 16, {{3, 2, red}, {15, 15, blue}}},
        touch_case{"floyd_steinberg",
                   "source = \"grey.png\"\ndither = \"floyd-steinberg\"\n",
                   16,
                   {{3, 2, red}, {4, 2, blue}, {0, 15, red}}},
        touch_case{
            "ordered", "source = \"grey.png\"\ndither = \"ordered\"\n", 16, {{3, 2, red}, {15, 0, blue}}},
        touch_case{
            "refined", "source = \"grey.png\"\ndither = \"refined\"\n", 16, {{3, 2, red}, {8, 8, blue}}},
        touch_case{"the_key_colour_paints_the_key",
                   "source = \"grey.png\"\nkey = \"#FF00FF\"\n",
                   16,
                   {{1, 1, magenta}, {2, 1, red}}},
        // Painted with the project's palette: red 110, green 100 and blue 120 are the panel's levels 4, 4
        // and 2; its standard colours paint their codes too.
        touch_case{
            "a_panel_colour_paints_its_code",
            "source = \"grey.png\"\n",
            16,
            {{3, 2, {110, 100, 120, 255}, 0x92}, {4, 2, red}},
            "",
            -1,
            "[panel]\nred = [0, 20, 45, 75, 110, 150, 200, 255]\ngreen = [0, 10, 30, 60, 100, 150, 210, "
            "255]\nblue = [0, 40, 120, 255]\n"},
        touch_case{"frames_as_a_strip", "source = \"frames.gif\"\n", 32, {{1, 4, red}, {1, 20, blue}}},
        touch_case{
            "over_a_bmp_as_is", "source = \"art/a.bmp\"\nas_is = true\n", 16, {{0, 0, red}, {9, 3, blue}}},
        touch_case{
            "drawn_on_its_background", "size = 16\nbackground = \"#00FF00\"\n", 16, {{5, 5, red}}, "", 0x1C},
        touch_case{"drawn_frames_on_the_key",
                   "size = 16\nkey = \"#FF00FF\"\n",
                   32,
                   {{5, 5, red}, {6, 30, blue}},
                   "",
                   0xE3},
        touch_case{
            "partly_transparent",
            "source = \"grey.png\"\n",
            16,
            {{4, 1, {255, 0, 0, 128}}},
            "skin.toml:4: icon \"a\": a.touch.png: (4, 1): partly transparent: a pixel of the layer is "
            "fully transparent or opaque\n"},
        touch_case{"not_a_device_colour",
                   "source = \"grey.png\"\n",
                   16,
                   {{2, 3, {18, 52, 86, 255}}},
                   "skin.toml:4: icon \"a\": a.touch.png: (2, 3): #123456 is not a device colour; the "
                   "nearest is #002455\n"},
        touch_case{"not_whole_frames",
                   "source = \"grey.png\"\n",
                   20,
                   {},
                   "skin.toml:4: icon \"a\": a.touch.png: 16x20 pixels: the layer must be 16 wide and a "
                   "whole number of 16-pixel frames tall\n"},
        touch_case{"fewer_frames_than_the_source",
                   "source = \"frames.gif\"\n",
                   16,
                   {},
                   "skin.toml:4: icon \"a\": a.touch.png: 16x16 pixels: the layer must be 16 wide and 32 "
                   "tall\n"}),
    by_name);

// A changed layer rebuilds its own entry alone, laid over what the last build kept of its
// conversion, so nothing is decoded unless that is damaged; a new dither keeps every stroke.
TEST_F(project_test, a_changed_layer_rebuilds_only_its_entry)
{
    write_bytes(folder / "grey.png", grey_png);
    write_png(folder / "b.png", 16, 16, 4);
    write_bytes(folder / "a.touch.png", layer_png(std::vector<int>(256, 0xE0), 16));
    const std::string a = "[[icon]]\nname = \"a\"\nsource = \"grey.png\"\ntouch = \"a.touch.png\"\n";
    const std::string b = "[[icon]]\nname = \"b\"\nsource = \"b.png\"\n";
    write_text(folder / "skin.toml", a + b);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    const auto paint = [&](int code) {
        std::vector<int> painted(256, -1);
        painted[17] = code;
        write_bytes(folder / "a.touch.png", layer_png(painted, 16));
    };
    const struct {
        const char* name;
        std::function<void()> change;
        const char* says; // the end of the output line
        std::vector<std::string> changed;
        std::uint8_t pixel;               // (1, 1), painted
        std::optional<std::uint8_t> last; // (15, 15), the conversion's
    } steps[] = {
        {"a new layer",
         [&] { paint(0x03); },
         "; 0 decoded; wrote icon00.bmp skin.skn skin.h skin.json\n",
         {".skinview-build", "a.touch.png", "icon00.bmp", "skin.h", "skin.json", "skin.skn"},
         0x03,
         0x6D},
        {"a damaged record",
         [&] {
             const std::vector<std::uint8_t> record = read_file(folder / ".skinview-build");
             std::string text(record.begin(), record.end());
             text[text.find('\n', text.find("\nuntouched ") + 1) - 1] ^= 1; // the last pixel's code
             write_text(folder / ".skinview-build", text);
             paint(0x1C);
         },
         "; 1 decoded; wrote icon00.bmp skin.skn skin.h skin.json\n",
         {".skinview-build", "a.touch.png", "icon00.bmp", "skin.h", "skin.json", "skin.skn"},
         0x1C,
         0x6D},
        {"a new dither",
         [&] { write_text(folder / "skin.toml", a + "dither = \"ordered\"\n" + b); },
         "; 1 decoded; wrote icon00.bmp skin.skn skin.h skin.json\n",
         {".skinview-build", "icon00.bmp", "skin.h", "skin.json", "skin.skn", "skin.toml"},
         0x1C,
         std::nullopt},
    };
    for (const auto& step : steps) {
        tick();
        const auto before = snapshot(folder);
        step.change();
        const run_result result = run_skinview(folder, {.arguments = {"build"}});
        EXPECT_TRUE(result.out.ends_with(step.says)) << step.name << ": " << result.out;
        EXPECT_EQ(changed(before, snapshot(folder)), step.changed) << step.name;
        const std::vector<std::uint8_t> skin = read_file(folder / "skin.skn");
        EXPECT_EQ(skin.at(17), step.pixel) << step.name;
        if (step.last) {
            EXPECT_EQ(skin.at(255), *step.last) << step.name;
        }
        EXPECT_EQ(slice(skin, 256, 256), sweep_block(16, 4)) << step.name;
    }
}

struct dry_run_case {
    const char* name;
    std::function<void(const fs::path&)> since; // after a first build; none: nothing built yet
    bool depfile = false;                       // and a stamp, and skin_data.c
    std::vector<std::string> written;           // what the dry run says a build would write
    std::vector<std::string> removed;
};

void PrintTo(const dry_run_case& c, std::ostream* out)
{
    *out << c.name;
}

class dry_run : public folder_test, public ::testing::WithParamInterface<dry_run_case> {};

// A dry run changes no file, not even its time stamp, yet says what a build would write and
// remove, and gives the skin that it writes.
TEST_P(dry_run, changes_nothing_and_tells_what_a_build_would)
{
    const dry_run_case& c = GetParam();
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "two.png", 128, 128, 2);
    write_text(folder / "skin.toml", two_pictures);
    if (c.since) {
        ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
        c.since(folder);
    }
    tick();
    skin_project project;
    std::vector<project_problem> problems;
    ASSERT_TRUE(load_project(folder / "skin.toml", project, problems));
    build_options options{.embed = c.depfile};
    if (c.depfile) {
        options.depfile = folder / "skin.d";
        options.stamp = folder / "skin.stamp";
    }
    const auto before = snapshot(folder);
    options.dry_run = true;
    const build_result dry = build_project(project, problems, options);
    EXPECT_EQ(changed(before, snapshot(folder)), std::vector<std::string>{});
    EXPECT_TRUE(dry.problems.empty());
    EXPECT_EQ(dry.written, c.written);
    EXPECT_EQ(dry.removed, c.removed);
    options.dry_run = false;
    const build_result built = build_project(project, problems, options);
    EXPECT_EQ(dry.skin, built.skin);
    EXPECT_EQ(dry.slots.size(), built.slots.size());
    EXPECT_EQ(built.written, c.written);
    EXPECT_EQ(built.removed, c.removed);
}

INSTANTIATE_TEST_SUITE_P(
    every_state, dry_run,
    ::testing::Values(dry_run_case{"nothing_built_yet",
                                   nullptr,
                                   false,
                                   {"bmp0.bmp", "bmp1.bmp", "skin.skn", "skin.h", "skin.json"},
                                   {}},
                      dry_run_case{"a_source_changed",
                                   [](const fs::path& f) {
                                       tick(); // so that the source's time stamp shows the change
                                       write_png(f / "two.png", 128, 128, 3);
                                   },
                                   false,
                                   {"bmp1.bmp", "skin.skn", "skin.h", "skin.json"},
                                   {}},
                      dry_run_case{"an_entry_removed",
                                   [](const fs::path& f) { write_text(f / "skin.toml", first_picture); },
                                   false,
                                   {"skin.skn", "skin.h", "skin.json"},
                                   {"bmp1.bmp"}},
                      dry_run_case{
                          "with_a_depfile_and_a_stamp", [](const fs::path&) {}, true, {"skin_data.c"}, {}}));

// A numbered BMP that cannot be removed is said so, and stays build's to remove next time.
// A GIF's frame times reach the slots, for the studio to play them, also when the next build
// takes the frames back from the last one instead of decoding them.
TEST_F(project_test, keeps_each_frames_time_on_show_across_builds)
{
    const struct {
        std::vector<int> hundredths;
        std::vector<int> ms;
    } cases[] = {
        {{5, 20, 0}, {50, 200, 0}},
        {{0, 5, 20}, {0, 50, 200}}, // a record read up to a first 0 would lose the others
    };
    for (const auto& c : cases) {
        gif_file gif{.width = 16, .height = 16, .palette = {{0, 0, 0}, {255, 255, 255}}};
        for (const int delay : c.hundredths)
            gif.frames.push_back(
                {.width = 16, .height = 16, .delay = delay, .indices = std::vector<std::uint8_t>(256)});
        fs::remove_all(folder);
        write_bytes(folder / "blink.gif", gif_bytes(gif));
        write_text(folder / "skin.toml", "[[icon]]\nname = \"blink\"\nsource = \"blink.gif\"\n");
        for (const unsigned decoded : {1u, 0u}) {
            skin_project project;
            std::vector<project_problem> loaded;
            ASSERT_TRUE(load_project(folder / "skin.toml", project, loaded));
            const build_result built = build_project(project, loaded, {});
            ASSERT_TRUE(built.problems.empty());
            EXPECT_EQ(built.decoded, decoded);
            std::vector<int> delays;
            for (const project_slot& slot : built.slots)
                delays.push_back(slot.image.delay_ms);
            EXPECT_EQ(delays, c.ms) << decoded << " decoded";
        }
    }
}

TEST_F(project_test, a_failed_removal_is_a_problem)
{
    if (testing_windows_build() || ::geteuid() != 0)
        GTEST_SKIP() << "needs to hand files to another user";
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "two.png", 128, 128, 2);
    write_text(folder / "skin.toml", two_pictures);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build", "--out", "out"}}).status, 0);
    // A folder where anyone may make files but only its owner may remove them: all but
    // bmp1.bmp become the unprivileged build's own.
    for (const char* name : {"", "bmp0.bmp", "skin.skn", "skin.h", "skin.json", ".skinview-build"})
        ASSERT_EQ(::chown((folder / "out" / name).c_str(), 65534, 65534), 0) << name;
    ASSERT_EQ(::chown((folder / "out").c_str(), 0, 0), 0);
    fs::permissions(folder / "out", fs::perms::all | fs::perms::sticky_bit);
    write_text(folder / "skin.toml", first_picture);
    const run_result result =
        run_skinview(folder, {.arguments = {"build", "--out", "out"}, .unprivileged = true});
    EXPECT_EQ(result.err, "out/bmp1.bmp: cannot remove it: Operation not permitted\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(fs::exists(folder / "out" / "bmp1.bmp"));
    fs::permissions(folder / "out", fs::perms::all);
    const run_result again = run_skinview(folder, {.arguments = {"build", "--out", "out"}});
    EXPECT_EQ(again.err, "");
    EXPECT_TRUE(again.out.ends_with("; removed bmp1.bmp\n")) << again.out;
}

// A source reached through a link to a numbered BMP is still that file: never replaced, even forced.
TEST_F(project_test, never_replaces_a_source_under_another_name)
{
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "bmp1.bmp", 128, 128, 2);
    fs::create_symlink("bmp1.bmp", folder / "two.png");
    write_text(folder / "skin.toml", two_pictures);
    const std::vector<std::uint8_t> art = read_file(folder / "bmp1.bmp");
    const run_result result = run_skinview(folder, {.arguments = {"build", "--force"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, picture_source);
    EXPECT_EQ(read_file(folder / "bmp1.bmp"), art);
}

// An entry taken away takes its numbered BMP with it, so the folder still packs to the skin.
TEST_F(project_test, removes_the_image_of_a_removed_entry)
{
    write_png(folder / "one.png", 128, 128, 1);
    write_png(folder / "two.png", 128, 128, 2);
    write_text(folder / "skin.toml", two_pictures);
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    write_text(folder / "skin.toml", first_picture);
    const run_result result = run_skinview(folder, {.arguments = {"build"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.ends_with("; 0 decoded; wrote skin.skn skin.h skin.json; removed bmp1.bmp\n"))
        << result.out;
    EXPECT_FALSE(fs::exists(folder / "bmp1.bmp"));
    EXPECT_EQ(read_file(folder / "skin.skn").size(), 16384u);
}

// A folder of numbered BMPs becomes a project without a file changing, and builds to the
// skin that skinpack packed before, however its BMPs were written.
TEST_F(project_test, init_then_build_changes_nothing)
{
    bmp_image large = sample_image(128, 1);
    large.header_size = 124;
    large.gap = 3;
    write_bytes(folder / "bmp0.bmp", bmp_bytes(large));
    write_bytes(folder / "bmp1.bmp", bmp_bytes(sample_image(16, 2)));
    write_bytes(folder / "icon00.bmp", bmp_bytes(bmp_image{.palette = {{200, 10, 70}}}));
    ASSERT_EQ(run_skinpack(folder).status, 0);
    tick();
    const auto packed = snapshot(folder);
    run_result result = run_skinview(folder, {.arguments = {"init"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "skin.toml: 3 entries, each taking its BMP as it is\n");
    result = run_skinview(folder, {.arguments = {"build"}});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.ends_with("; 0 decoded; wrote skin.h skin.json\n")) << result.out;
    EXPECT_EQ(changed(packed, snapshot(folder)),
              (std::vector<std::string>{".skinview-build", "skin.h", "skin.json", "skin.toml"}));
    result = run_skinview(folder, {.arguments = {"init"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "skinview: skin.toml exists: init never replaces it\n");
}

struct save_case {
    const char* name;
    std::optional<std::string> on_disk;   // skin.toml before the save; nothing: no such file
    std::optional<std::string> based_on;  // what the edit was made from
    std::optional<std::string> meanwhile; // a hand edit just before the last check
    project_save outcome;
    std::string after; // skin.toml's bytes then
};

// An edit replaces skin.toml only while it holds what the edit was made from, up to the last
// moment: a hand edit made at any point before stands.
TEST_F(project_test, saves_an_edit_only_over_the_text_it_was_made_from)
{
    const std::vector<save_case> cases{
        {"unchanged", "a = 1\n", "a = 1\n", std::nullopt, project_save::saved, "edited\n"},
        {"hand_edit_before", "a = 2\n", "a = 1\n", std::nullopt, project_save::changed_meanwhile, "a = 2\n"},
        {"hand_edit_during", "a = 1\n", "a = 1\n", "a = 3\n", project_save::changed_meanwhile, "a = 3\n"},
        {"emptied_during", "a = 1\n", "a = 1\n", "", project_save::changed_meanwhile, ""},
        {"new_file", std::nullopt, std::nullopt, std::nullopt, project_save::saved, "edited\n"},
        {"made_during_init", std::nullopt, std::nullopt, "mine\n", project_save::changed_meanwhile, "mine\n"},
        {"there_before_init", "mine\n", std::nullopt, std::nullopt, project_save::changed_meanwhile,
         "mine\n"},
    };
    const fs::path file = folder / "skin.toml";
    for (const save_case& c : cases) {
        fs::remove(file);
        if (c.on_disk)
            write_text(file, *c.on_disk);
        const auto hand_edit = [&] {
            if (c.meanwhile)
                write_text(file, *c.meanwhile);
        };
        EXPECT_EQ(save_project_text(file, c.based_on, "edited\n", hand_edit), c.outcome) << c.name;
        const std::vector<std::uint8_t> after = read_file(file);
        EXPECT_EQ(std::string(after.begin(), after.end()), c.after) << c.name;
        EXPECT_EQ(leftover_temporaries(folder), std::vector<std::string>{}) << c.name;
    }
}

struct text_edit_case {
    const char* name;
    std::string before;
    std::function<void(skin_project&)> edit;
    std::optional<std::string> after; // nothing: the studio cannot edit it without a rewrite
};

// A commented project in three parts: its defaults, a picture and an icon.
const std::string head = "# My skin\n[defaults]\ndither = \"ordered\" # house style\n\n";
const std::string splash_comment = "# The splash screen\n[[picture]]\n";
const std::string splash =
    splash_comment + "name = \"splash\"   # shown first\nsource = \"art/caf\xc3\xa9.png\" # caf\xc3\xa9\n"
                     "as_is = true\n";
const std::string charging_entry = "# Charging\n[[icon]]\nname = \"battery\"\n";
const std::string charging =
    charging_entry + "source = [\"a.png\",\n          \"b.png\"] # two frames\nbackground = \"#102030\"\n";
const std::string commented = head + splash + "\n" + charging;

// An edit rewrites only the values it changes; comments, blank lines and layout stay, and an
// entry moved or removed takes its comment lines with it.
TEST_F(project_test, edits_keep_every_byte_they_do_not_change)
{
    const std::vector<text_edit_case> cases{
        {"rename", commented, [](skin_project& p) { p.entries[0].name = "boot"; },
         head + splash_comment +
             "name = \"boot\"   # shown first\nsource = \"art/caf\xc3\xa9.png\" # caf\xc3\xa9\nas_is = "
             "true\n\n" +
             charging},
        {"import_an_adopted_bmp", commented,
         [](skin_project& p) {
             p.entries[0].sources = {"art/bmp0.bmp"};
             p.entries[0].as_is = false;
             p.entries[0].dither = dither_method::none;
         },
         head + splash_comment +
             "name = \"splash\"   # shown first\nsource = \"art/bmp0.bmp\" # caf\xc3\xa9\ndither = "
             "\"none\"\n\n" +
             charging},
        {"one_frame_and_default_background", commented,
         [](skin_project& p) {
             p.entries[1].sources = {"c.png"};
             p.entries[1].background.reset();
         },
         head + splash + "\n" + charging_entry + "source = \"c.png\" # two frames\n"},
        {"move_up", commented, [](skin_project& p) { std::swap(p.entries[0], p.entries[1]); },
         head + charging + "\n" + splash},
        {"remove_the_first", commented, [](skin_project& p) { p.entries.erase(p.entries.begin()); },
         head + charging},
        {"remove_the_last", commented, [](skin_project& p) { p.entries.pop_back(); }, head + splash},
        {"add", "[[icon]]\nname = \"a\" # first\nsource = \"a.png\"",
         [](skin_project& p) { p.entries.push_back({.name = "b", .icon = false, .sources = {"art/b.png"}}); },
         "[[icon]]\nname = \"a\" # first\nsource = \"a.png\"\n\n[[picture]]\nname = \"b\"\nsource = "
         "\"art/b.png\"\n"},
        {"defaults_between_entries",
         "[[icon]]\nname = \"a\"\nsource = \"a.png\"\n\n[defaults]\nbackground = \"#000000\"\n\n"
         "[[icon]]\nname = \"b\"\nsource = \"b.png\"\n",
         [](skin_project& p) { p.entries.pop_back(); },
         "[[icon]]\nname = \"a\"\nsource = \"a.png\"\n\n[defaults]\nbackground = \"#000000\"\n\n"},
        {"to_the_other_series",
         "# not a [[picture]] any more\n[[ picture ]] # splash\nname = \"a\"\nsource = \"a.png\"\n",
         [](skin_project& p) { p.entries[0].icon = true; },
         "# not a [[picture]] any more\n[[ icon ]] # splash\nname = \"a\"\nsource = \"a.png\"\n"},
        {"inline_tables", "icon = [{name = \"a\", source = \"a.png\"}, {name = \"b\", source = \"b.png\"}]\n",
         [](skin_project& p) { p.entries[0].name = "c"; }, std::nullopt},
    };
    for (const text_edit_case& c : cases) {
        write_text(folder / "skin.toml", c.before);
        skin_project loaded;
        std::vector<project_problem> problems;
        load_project(folder / "skin.toml", loaded, problems); // the sources need not be there
        skin_project edited = loaded;
        c.edit(edited);
        EXPECT_EQ(edited_text(loaded, edited), c.after) << c.name;
    }
}

// What the studio shows: an entry converted with each dither, frame by frame, writing nothing.
// In a project folder the error is measured against each entry's source: a flat grey of 10 becomes
// black, exact in the BMP but L* 2.74175 away from the source, weighted 1.72637 by CIEDE2000: 1.588.
// An as_is BMP is its own source.
TEST_F(project_test, preview_measures_the_error_against_the_source)
{
    write_bytes(folder / "grey.png", png_bytes(16, 16, std::vector<std::uint8_t>(16 * 16 * 3, 10)));
    write_text(folder / "skin.toml", "[[icon]]\nname = \"grey\"\nsource = \"grey.png\"\n\n[[icon]]\nname = "
                                     "\"own\"\nsource = \"own.bmp\"\nas_is = true\n");
    write_bytes(folder / "own.bmp", bmp_bytes(bmp_image{.palette = {{31, 31, 31}}}));
    ASSERT_EQ(run_skinview(folder, {.arguments = {"build"}}).status, 0);
    const run_result result = run_skinview(folder, {.arguments = {"preview", "--error"}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(
        result.out,
        "skin-preview.png: 2 images\n  icon00.bmp \"grey\": mean error 1.59\n  icon01.bmp \"own\": mean "
        "error 7.09\n");
}

TEST_F(project_test, converts_one_entry_with_a_chosen_dither_and_writes_nothing)
{
    write_png(folder / "icon.png", 16, 16, 3);
    write_bytes(folder / "spinner.gif", sweep_gif(16, {4, 5}));
    write_text(folder / "skin.toml", "[[icon]]\nname = \"icon\"\nsource = \"icon.png\"\n[[icon]]\nname = "
                                     "\"spinner\"\nsource = \"spinner.gif\"\ndither = \"ordered\"\n");
    skin_project project;
    std::vector<project_problem> problems;
    ASSERT_TRUE(load_project(folder / "skin.toml", project, problems));
    const auto before = snapshot(folder);
    const std::vector<project_slot> frames = convert_entry(project, 1, dither_method::none, problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(frames.size(), 2u);
    for (unsigned frame = 0; frame < 2; ++frame) {
        EXPECT_EQ(frames[frame].frame, frame);
        EXPECT_EQ(frames[frame].frame_count, 2u);
        EXPECT_EQ(frames[frame].image.side, 16);
        EXPECT_EQ(frames[frame].image.block, sweep_block(16, 4 + frame));
    }
    write_bytes(folder / "still.gif", sweep_gif(16, {6})); // one frame: one slot, not an animation
    project.entries[1].sources = {"still.gif"};
    const std::vector<project_slot> still = convert_entry(project, 1, dither_method::none, problems);
    ASSERT_EQ(still.size(), 1u);
    EXPECT_EQ(still[0].frame_count, 1u);
    EXPECT_EQ(still[0].image.block, sweep_block(16, 6));
    // Refined frames: the later one keeps the earlier one's pixels away from the one that changed.
    gif_file blink{.width = 16, .height = 16, .palette = {{100, 100, 100}, {230, 40, 60}}};
    blink.frames.assign(2,
                        gif_picture{.width = 16, .height = 16, .indices = std::vector<std::uint8_t>(256, 0)});
    blink.frames[1].indices[0] = 1;
    write_bytes(folder / "still.gif", gif_bytes(blink));
    const std::vector<project_slot> refined = convert_entry(project, 1, dither_method::refined, problems);
    ASSERT_EQ(refined.size(), 2u);
    int far_changes = 0;
    for (std::size_t i = 0; i < 256; ++i)
        far_changes += (i % 16 > 10 || i / 16 > 10) && refined[0].image.block[i] != refined[1].image.block[i];
    EXPECT_EQ(far_changes, 0);
    // A flat mid-grey that no device colour matches: the dithers must differ from the nearest colour.
    write_bytes(folder / "icon.png", png_bytes(16, 16, std::vector<std::uint8_t>(16 * 16 * 3, 100)));
    const auto blocks = [&](dither_method dither) {
        return convert_entry(project, 0, dither, problems).at(0).image.block;
    };
    EXPECT_EQ(blocks(dither_method::none), std::vector<std::uint8_t>(256, 0x6D)) << "the levels 109, 109, 85";
    EXPECT_NE(blocks(dither_method::ordered), blocks(dither_method::none));
    EXPECT_NE(blocks(dither_method::floyd_steinberg), blocks(dither_method::none));
    EXPECT_EQ(changed(before, snapshot(folder)), (std::vector<std::string>{"icon.png", "still.gif"}));
}

struct watch_case {
    const char* name;
    std::string project;
    std::function<void(const fs::path&)> before;    // before it starts
    std::function<void(const fs::path&)> meanwhile; // while it watches
    std::string out;                                // a line it prints
    std::string err;
    std::size_t builds; // after the first
};

// --watch builds again once per change, keeps the last good skin through a broken project
// file, watches a source named before it exists, sees a source made readable or unreadable
// without being saved, and ends on Ctrl-C. Each step waits for what the watcher says, and every
// file is written whole in one rename, so that however slow the machine no look sees half a save.
TEST_F(project_test, watch_builds_once_per_change)
{
    background_program program;
    const auto told = [&](const std::string& text, bool from_err) {
        return !wait_for_line(program, text, std::chrono::seconds(60), from_err).empty();
    };
    const auto whole = [](const fs::path& path, const std::function<void(const fs::path&)>& write) {
        write(path.string() + ".part");
        fs::rename(path.string() + ".part", path);
    };
    const std::string icon = "[[icon]]\nname = \"icon\"\nsource = \"icon.png\"\n";
    const auto nothing = [](const fs::path&) {};
    const auto readable = [](bool yes) {
        return [yes](const fs::path& f) {
            fs::permissions(f / "icon.png", yes ? fs::perms{0644} : fs::perms::none);
        };
    };
    const auto art = [](unsigned seed) {
        return [seed](const fs::path& f) { write_png(f / "icon.png", 16, 16, seed); };
    };
    const auto text = [](const std::string& written) {
        return [written](const fs::path& path) { write_text(path, written); };
    };
    std::vector<watch_case> cases{
        // The source, changed while the project file is broken, is still followed.
        {"broken_then_mended", icon, nothing,
         [&](const fs::path& f) {
             whole(f / "skin.toml", text("[[icon]\n"));
             EXPECT_TRUE(told("skin.toml changed: skin.toml:1: Error while parsing table header", true));
             whole(f / "icon.png", [](const fs::path& path) { write_png(path, 16, 16, 7); });
             EXPECT_TRUE(told("icon.png changed: skin.toml:1: Error while parsing table header", true));
             whole(f / "skin.toml", text(icon));
         },
         "skin.toml changed: skin.skn: 1 image, 256 bytes", "", 3},
        {"source_made_later", "[[icon]]\nname = \"icon\"\nsource = \"art/new.png\"\n", nothing,
         [&](const fs::path& f) {
             whole(f / "art/new.png", [](const fs::path& path) { write_png(path, 16, 16, 7); });
         },
         testing_windows_build() ? "art\\new.png changed: skin.skn: 1 image, 256 bytes"
                                 : "art/new.png changed: skin.skn: 1 image, 256 bytes",
         "skin.toml:1: icon \"icon\": art/new.png: no such file\n", 1},
    };
    // Permissions as Linux has them.
    const std::vector<watch_case> permission_cases{
        {"made_readable", icon,
         [&](const fs::path& f) {
             art(7)(f);
             readable(false)(f);
         },
         readable(true), "icon.png changed: skin.skn: 1 image, 256 bytes",
         "skin.toml:1: icon \"icon\": icon.png: the file is empty or cannot be read\n", 1},
        // The last build's record still holds the source, whose size and time are as they were.
        {"made_unreadable", icon, art(7), readable(false), "icon.png changed: skin.skn: 1 image, 256 bytes",
         "", 1},
    };
    if (!testing_windows_build())
        cases.insert(cases.end(), permission_cases.begin(), permission_cases.end());
    for (const watch_case& c : cases) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        write_png(folder / "icon.png", 16, 16, 1);
        write_text(folder / "skin.toml", c.project);
        c.before(folder);
        // Run as nobody when the tests run as root, so that permissions count.
        program = start_skinview(
            folder, {.arguments = {"build", "--watch"}, .unprivileged = !testing_windows_build()});
        EXPECT_TRUE(told("watching ", false)) << c.name;
        c.meanwhile(folder);
        EXPECT_TRUE(told(c.out, false)) << c.name;
        // A second build of the same change would follow at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(program.pid, SIGINT);
        const run_result result = finish_background(program, std::chrono::seconds(60));
        EXPECT_NE(result.out.find(c.out), std::string::npos) << c.name << ": " << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.name << ": " << result.err;
        std::size_t builds = 0;
        for (const std::string& said : {result.out, result.err})
            for (std::size_t at = said.find(" changed: "); at != std::string::npos;
                 at = said.find(" changed: ", at + 1))
                ++builds;
        EXPECT_EQ(builds, c.builds) << c.name << ": " << result.out << result.err;
        EXPECT_EQ(read_file(folder / "skin.skn"), sweep_block(16, 7)) << c.name;
        if (!testing_windows_build()) {
            EXPECT_EQ(result.status, 0) << c.name;
            EXPECT_TRUE(result.out.ends_with("stopped watching\n")) << c.name << ": " << result.out;
        }
    }
}

struct progress_case {
    const char* name;
    std::size_t done; // of 40 entries
    long long elapsed_ms;
    bool terminal;
    std::string text;
};

class build_progress : public ::testing::TestWithParam<progress_case> {};

// A long build shows how far it is on a terminal, one line rewritten, and wipes it at the end;
// stderr that is no terminal gets nothing.
TEST_P(build_progress, shows_only_on_a_terminal_past_a_second)
{
    const progress_case& c = GetParam();
    EXPECT_EQ(progress_text(c.done, 40, std::chrono::milliseconds(c.elapsed_ms), c.terminal), c.text);
}

INSTANTIATE_TEST_SUITE_P(every_moment, build_progress,
                         ::testing::Values(progress_case{"within_a_second", 3, 999, true, ""},
                                           progress_case{"past_a_second", 3, 1000, true,
                                                         "\rbuilding: 3 of 40 entries"},
                                           progress_case{"not_a_terminal", 3, 5000, false, ""},
                                           progress_case{"last_wipes_the_line", 40, 5000, true,
                                                         "\r" + std::string(26, ' ') + "\r"}),
                         by_name);

} // namespace
