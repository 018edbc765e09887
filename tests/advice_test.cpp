// The fixes that check and build suggest, followed as a user would: each suggested command must
// succeed, leave its source as it was, and make the folder pack; where import cannot read the file,
// no command is suggested.
#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include <fstream>
#include <sstream>

#include "skin/bmp_writer.h"
#include "tests/test_folder.h"

namespace fs = std::filesystem;

namespace {

void append(void* context, void* data, int size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
}

// A side x side RGBA picture in four flat quarters.
std::vector<std::uint8_t> quarters(int side)
{
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int q = (y < side / 2 ? 0 : 2) + (x < side / 2 ? 0 : 1);
            rgba.insert(rgba.end(), {static_cast<std::uint8_t>(q & 1 ? 255 : 0),
                                     static_cast<std::uint8_t>(q & 2 ? 255 : 0), 96, 255});
        }
    return rgba;
}

std::vector<std::uint8_t> png(int side)
{
    std::vector<std::uint8_t> out;
    stbi_write_png_to_func(append, &out, side, side, 4, quarters(side).data(), side * 4);
    return out;
}

std::vector<std::uint8_t> jpeg(int side)
{
    std::vector<std::uint8_t> out;
    stbi_write_jpg_to_func(append, &out, side, side, 4, quarters(side).data(), 90);
    return out;
}

std::vector<std::uint8_t> bmp(int side, bmp_form form)
{
    return encode_bmp(quarters(side), side, side, form);
}

// A BMP whose compression field says its pixels are a PNG inside it, as some encoders write.
std::vector<std::uint8_t> bmp_wrapping_png()
{
    std::vector<std::uint8_t> file = bmp_bytes(bmp_image{.bit_count = 0, .compression = 5});
    const std::vector<std::uint8_t> inner = png(16);
    file.insert(file.end(), inner.begin(), inner.end());
    return file;
}

std::vector<std::uint8_t> cut_short(std::vector<std::uint8_t> file)
{
    file.resize(file.size() - 9);
    return file;
}

void write_text(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

struct advice_case {
    const char* name;
    const char* file;              // where the artwork goes
    std::vector<std::uint8_t> art; // its bytes
    const char* project;           // skin.toml, or null to run check on the numbered folder
    std::string advice;            // the whole diagnosis and fix, as printed after the file's name
};

void PrintTo(const advice_case& c, std::ostream* out)
{
    *out << c.name;
}

class advice : public folder_test, public ::testing::WithParamInterface<advice_case> {};

TEST_P(advice, is_true_and_safe_when_followed)
{
    const advice_case& c = GetParam();
    fs::create_directories((folder / c.file).parent_path());
    write_file(folder / c.file, c.art);
    if (c.project != nullptr)
        write_text(folder / "skin.toml", c.project);
    const std::vector<std::string> verb{c.project != nullptr ? "build" : "check"};
    run_result result = run_skinview(folder, {.arguments = verb});
    ASSERT_EQ(result.status, 1) << result.out << result.err;
    const std::string printed = c.project != nullptr ? result.err : result.out;
    ASSERT_NE(printed.find(c.advice + "\n"), std::string::npos) << printed;

    // Follow it: a rename first where it asks for one, then the command, or the edit of skin.toml.
    std::string source = c.file;
    if (const std::size_t rename = c.advice.find("rename it "); rename != std::string::npos) {
        const std::size_t end = c.advice.find(',', rename);
        source = c.advice.substr(rename + 10, end - rename - 10);
        fs::rename(folder / c.file, folder / source);
    }
    const std::vector<std::uint8_t> original = read_file(folder / source);
    if (const std::size_t run = c.advice.find("run skinview "); run != std::string::npos) {
        result = run_skinview(folder, {.arguments = words(c.advice.substr(run + 13))});
        ASSERT_EQ(result.status, 0) << result.err;
    } else if (c.advice.ends_with("drop as_is to import it")) {
        std::string text = c.project;
        text.erase(text.find("as_is = true\n"), 13);
        write_text(folder / "skin.toml", text);
    } else {
        return; // nothing to run: the advice names what would work
    }
    if (c.advice.find("import " + source + " -o " + source) == std::string::npos) {
        EXPECT_EQ(read_file(folder / source), original) << "the source was written over";
    }
    result = run_skinview(folder, {.arguments = verb});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(run_skinpack(folder).status, 0);
}

const char* const as_is_rocket =
    "[[picture]]\nname = \"rocket\"\nsource = \"art/rocket.jpg\"\nas_is = true\n";
const char* const as_is_logo = "[[icon]]\nname = \"logo\"\nsource = \"art/logo.bmp\"\nas_is = true\n";
const char* const as_is_adopted = "[[icon]]\nname = \"icon00\"\nsource = \"icon00.bmp\"\nas_is = true\n";
const std::string unreadable = ": skinview import cannot read it either: open it in a paint program and save "
                               "it as PNG or as an 8-bit BMP";

INSTANTIATE_TEST_SUITE_P(
    refused_art, advice,
    ::testing::Values(
        advice_case{"rle8_in_place", "bmp0.bmp", bmp(16, {"rle8", 8, 1}), nullptr,
                    "RLE8-compressed: run skinview import bmp0.bmp -o bmp0.bmp --force"},
        advice_case{"wrong_size_in_place", "bmp0.bmp", bmp(32, {"8-bit", 8}), nullptr,
                    "is 32x32: must be 16x16 or 128x128: run skinview import bmp0.bmp -o bmp0.bmp --size 128 "
                    "--force"},
        advice_case{"short_header_in_place", "icon00.bmp", bmp(16, {"os2-16", 8, 0, 16}), nullptr,
                    "old OS/2 bitmap (16-byte header): run skinview import icon00.bmp -o icon00.bmp --force"},
        advice_case{"png_under_a_bmp_name", "icon00.bmp", png(16), nullptr,
                    "a PNG image, not a BMP: rename it icon00.png, then run skinview import icon00.png -o "
                    "icon00.bmp"},
        advice_case{"large_jpeg_under_an_icon_name", "icon00.bmp", jpeg(40), nullptr,
                    "a JPEG image, not a BMP: rename it icon00.jpg, then run skinview import icon00.jpg -o "
                    "icon00.bmp --size 16"},
        advice_case{"two_bit_palette", "bmp0.bmp", bmp_bytes(bmp_image{.bit_count = 2}), nullptr,
                    "2 bits per pixel, not 8" + unreadable},
        advice_case{"png_inside_a_bmp", "bmp0.bmp", bmp_wrapping_png(), nullptr,
                    "a PNG inside a BMP (compression 5)" + unreadable},
        advice_case{"cut_short", "bmp0.bmp", cut_short(bmp(16, {"8-bit", 8})), nullptr,
                    "file ends before its pixels: the file is damaged"},
        advice_case{"as_is_jpeg", "art/rocket.jpg", jpeg(128), as_is_rocket,
                    "skin.toml:1: picture \"rocket\": art/rocket.jpg: a JPEG image, not a BMP: drop as_is to "
                    "import it"},
        advice_case{"as_is_rle8_source", "art/logo.bmp", bmp(16, {"rle8", 8, 1}), as_is_logo,
                    "skin.toml:1: icon \"logo\": art/logo.bmp: RLE8-compressed: drop as_is to import it"},
        advice_case{"as_is_adopted_bmp", "icon00.bmp", bmp(16, {"rle4", 4, 2}), as_is_adopted,
                    "skin.toml:1: icon \"icon00\": icon00.bmp: 4 bits per pixel, not 8: run skinview import "
                    "icon00.bmp -o "
                    "icon00.bmp --force"}));

} // namespace
