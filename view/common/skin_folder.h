// A skin folder seen as skinpack sees it, with every problem found instead of the first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "skin/bitmap.h"
#include "skin/skin.h"
#include "support/file_io.h"

struct folder_image {
    std::string name;
    bool icon = false;
    whole_file file;      // what reading it found, and the whole file when it could be read
    bitmap_layout layout; // meaningful when the file could be read
    std::string problem;  // what is wrong and how to mend it; empty when fine
    byte_buffer block;    // the converted 3-3-2 pixels when fine, layout.side squared bytes
};

// The image's file bytes, or none when it could not be read.
std::span<const std::uint8_t> file_bytes(const folder_image& image);

// The image's 3-3-2 pixels, or none when it has a problem.
std::span<const std::uint8_t> block_bytes(const folder_image& image);

struct skin_folder {
    std::vector<folder_image> images; // pictures, then icons, in skin order
    std::string picture_end;          // the first picture name that does not exist
    std::string icon_end;
    std::vector<std::string> warnings; // files that the series will never reach, and why
    std::vector<std::string> notes;    // files read under a series name only because case is ignored here
};

// Walks both series of `folder` as skinpack does, but reads on past refused images.
skin_folder scan_skin_folder(const std::filesystem::path& folder);

// Where the mend of a refused bitmap may write.
enum class mend_at : std::uint8_t {
    in_place, // a numbered BMP, which skinview import may replace
    build,    // a project's as-is source, left as it is: build imports it once as_is is dropped
};

// Whether `file` is a BMP or of no format known, so that its header fields mean what they say: a
// PNG saved as icon00.bmp has none to show.
bool is_bmp_or_unknown(std::span<const std::uint8_t> file);

// The plain-words diagnosis of the refused bitmap `file` at `path`, with a fix that works when
// followed: a command only where skinview import can read the file, and never one that writes
// over the file it reads, but for a numbered BMP mended in place.
std::string explain_problem(std::span<const std::uint8_t> file, const bitmap_layout& layout,
                            const std::string& path, bool icon, mend_at mend);

// Whether a series reads a file of this name: "bmp3.bmp" or "icon07.bmp", exactly so spelt.
bool is_series_name(const std::string& name);

// "bmp3" for "bmp3.bmp": the name without its extension.
std::string image_stem(const std::string& name);

// The skin that skinpack would write; meaningful only when no image has a problem.
std::vector<std::uint8_t> skin_bytes(const skin_folder& folder);
