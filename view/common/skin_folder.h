// A skin folder seen as skinpack sees it, with every problem found instead of the first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "skin/bitmap.h"

struct folder_image {
    std::string name;
    bool icon = false;
    std::vector<std::uint8_t> file;  // the whole file
    bitmap_layout layout;            // meaningful when the file could be read
    std::string problem;             // what is wrong and how to mend it; empty when fine
    std::vector<std::uint8_t> block; // the converted 3-3-2 pixels when fine
};

struct skin_folder {
    std::vector<folder_image> images; // pictures, then icons, in skin order
    std::string picture_end;          // the first picture name that does not exist
    std::string icon_end;
    std::vector<std::string> warnings; // files that the series will never reach, and why
};

// Walks both series of `folder` as skinpack does, but reads on past refused images.
skin_folder scan_skin_folder(const std::filesystem::path& folder);

// The plain-words diagnosis of a refused bitmap at `path`, with the fix: where skinview import
// can mend it, the command that does.
std::string explain_problem(const bitmap_layout& layout, const std::string& path, bool icon);

// The name that `pattern` (picture_pattern or icon_pattern) gives the image at `index`.
std::string series_name(const char* pattern, unsigned index);

// "bmp3" for "bmp3.bmp": the name without its extension.
std::string image_stem(const std::string& name);

// The bytes of a file; empty when it cannot be read.
std::vector<std::uint8_t> read_file_bytes(const std::filesystem::path& path);

// The skin that skinpack would write; meaningful only when no image has a problem.
std::vector<std::uint8_t> skin_bytes(const skin_folder& folder);
