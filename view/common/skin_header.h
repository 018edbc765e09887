// The skin's table of contents: which numbered BMP each image is and where its block lies, for
// firmware as a C header or JSON, which skinview index and skinview build both write; and for
// build, the skin as C data and the Makefile rule of its files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// An image's place in the skin: which numbered BMP it is, and where its block lies.
struct image_place {
    bool icon = false;
    unsigned side = 0;
    unsigned index = 0;    // within its series
    std::string file_name; // "bmp3.bmp"
    std::uint64_t offset = 0;
};

// A project's name for a run of images: one, or the frames of an animation.
struct header_name {
    std::string name;      // as written
    std::string c_name;    // its upper-case C form, for SKIN_<C_NAME>_OFFSET
    std::size_t first = 0; // index of its first image
    unsigned frame_count = 1;
    bool frames = false;             // an animation, which also gets SKIN_<C_NAME>_FRAME_COUNT
    std::optional<std::uint8_t> key; // its own key byte, for SKIN_<C_NAME>_KEY where it differs
};

struct skin_contents {
    std::optional<std::uint8_t> key; // the project's key byte, for SKIN_KEY
    std::vector<image_place> images; // in skin order
    std::vector<header_name> names;  // none for a plain folder
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
};

// Numbers images whose series and side are set, in skin order (pictures first, then icons), as
// skinpack reads them: each its index in its series, its numbered BMP and its block's offset, the
// blocks one after another from 0. Returns the skin's size.
std::uint64_t number_images(std::vector<image_place>& images);

// "BMP3" for "bmp3.bmp": the stem that names an image's macros.
std::string macro_stem(const std::string& file_name);

// Plain C89 that C++ takes too: macros, so that any number of files may include it, and a static
// table of the names for files that define SKIN_TABLE. `made_by` ends the opening comment, saying
// what generated it and when to again. `contents` holds at least one image.
std::string skin_c_header(const skin_contents& contents, const std::string& guard,
                          const std::string& made_by);

std::string skin_json(const skin_contents& contents);

// The skin as a C array named skin_data, for devices without a file system.
std::string skin_data_text(std::span<const std::uint8_t> skin);

// A path as the build record and the depfile spell it: UTF-8, forward slashes.
std::string path_text(const std::filesystem::path& path);

// The Makefile rule that `targets` (after `stamp`, unless it is empty) depend on every input.
std::string depfile_text(const std::filesystem::path& stamp,
                         const std::vector<std::filesystem::path>& targets,
                         const std::vector<std::filesystem::path>& inputs);
