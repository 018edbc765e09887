// Skin folder scan: the series, the diagnosis of each image, and the files no series reaches.
#include "view/common/skin_folder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "skin/bmp_format.h"
#include "skin/skin.h"
#include "support/utf8_path.h"
#include "view/decode/decode_image.h"
#include "view/decode/signature.h"

namespace fs = std::filesystem;

namespace {

// "too many levels of symbolic links" for the system's "Too many levels of symbolic links".
std::string lower_first(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// The plain-words diagnosis of a series member that is there but cannot be read, with the fix.
std::string read_problem(const whole_file& file)
{
    switch (file.outcome) {
    case read_outcome::read:
    case read_outcome::missing:
        return "";
    case read_outcome::cannot_open:
        if (file.open_error == std::errc::permission_denied ||
            file.open_error == std::errc::operation_not_permitted)
            return "cannot be read: permission denied: make it readable for you, or close the program "
                   "that holds it";
        if (file.open_error == std::errc::no_such_file_or_directory)
            return "cannot be read: a link to a file that does not exist: mend or remove the link";
        return "cannot be read: " + lower_first(file.open_error.message()) + ": mend or remove it";
    case read_outcome::folder:
        return "is a folder: rename or remove it";
    case read_outcome::no_length:
        return "cannot be read: its length cannot be found";
    case read_outcome::too_large:
        return "file is over 2 GiB: skinpack cannot take it";
    case read_outcome::no_memory:
        return "not enough memory to read it";
    case read_outcome::read_failed:
        return "file is empty or cannot be read";
    }
    return "";
}

// Checks and converts one image that its series has reached, as skinpack would.
void diagnose(const fs::path& folder, folder_image& image)
{
    image.problem = read_problem(image.file);
    if (image.file.outcome != read_outcome::read)
        return;
    bitmap_conversion converted = try_convert_bitmap(file_bytes(image));
    image.layout = converted.layout;
    image.block = std::move(converted.block);
    if (image.layout.problem != bitmap_problem::none)
        image.problem = explain_problem(file_bytes(image), image.layout,
                                        utf8_from_path((folder / image.name).lexically_normal()), image.icon,
                                        mend_at::in_place);
    else if (!image.block)
        image.problem = "not enough memory to convert it";
}

// Reads one series up to its first missing name, which it returns.
std::string scan_series(const fs::path& folder, const char* pattern, bool icon,
                        std::vector<folder_image>& images)
{
    for (std::uint32_t index = 0;; ++index) {
        series_member member = read_series_member(folder, pattern, index);
        if (member.file.outcome == read_outcome::missing)
            return member.name;
        folder_image image{.name = std::move(member.name), .icon = icon, .file = std::move(member.file)};
        diagnose(folder, image);
        images.push_back(std::move(image));
    }
}

std::string lower_case(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The digits of a name like "bmp12.bmp" or "ICON7.BMP" (any case), or "" for any other name.
std::string series_digits(const std::string& name, bool& icon)
{
    const std::string lower = lower_case(name);
    icon = lower.starts_with("icon");
    const std::size_t prefix = icon ? 4 : 3;
    if (!(icon || lower.starts_with("bmp")) || !lower.ends_with(".bmp") || lower.size() < prefix + 5)
        return "";
    const std::string digits = lower.substr(prefix, lower.size() - prefix - 4);
    const bool numeric =
        std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    return numeric && digits.size() <= 9 ? digits : "";
}

// Why a file that looks like part of a series will never be read, or "" if it will be. A file
// read only because the file system ignores case gets a note in `scan`.
std::string unreached_reason(const fs::path& folder, const std::string& name, skin_folder& scan)
{
    bool icon = false;
    const std::string digits = series_digits(name, icon);
    if (digits.empty())
        return "";
    const unsigned long index = std::strtoul(digits.c_str(), nullptr, 10);
    const std::string proper = numbered_name(icon, static_cast<unsigned>(index));
    // Where the file system matches names in any case (Windows), opening the proper name opens
    // this very file, "BMP1.BMP" for bmp1.bmp, so the series reads it; elsewhere it would not.
    std::error_code error;
    const bool same_file =
        name == proper || fs::equivalent(folder / path_from_utf8(name), folder / proper, error);
    if (!same_file)
        return name + " will never be read: the name must be " + proper;
    const std::string& end = icon ? scan.icon_end : scan.picture_end;
    const unsigned long end_index = std::strtoul(end.c_str() + (icon ? 4 : 3), nullptr, 10);
    if (index > end_index)
        return name + " will never be read: " + end + " is missing";
    if (name != proper && lower_case(name) == proper) // not a link to it ("bmp01.bmp"): the same name
        scan.notes.push_back(name + " is read as " + proper +
                             " here, but not where names must match exactly (Linux): rename it " + proper);
    return "";
}

} // namespace

bool is_bmp_or_unknown(std::span<const std::uint8_t> file)
{
    const image_format format = format_by_signature(file);
    return format == image_format::unknown || format == image_format::bmp;
}

std::string explain_problem(std::span<const std::uint8_t> file, const bitmap_layout& layout,
                            const std::string& path, bool icon, mend_at mend)
{
    const char* format = image_format_label(format_by_signature(file));
    const bool bmp = is_bmp_or_unknown(file);
    const auto damaged = [](const char* what) { return std::string(what) + ": the file is damaged"; };
    std::string diagnosis;
    if (!bmp) {
        diagnosis = std::string("a ") + format + " image, not a BMP";
    } else if (layout.compression == bmp_jpeg || layout.compression == bmp_png) {
        diagnosis = layout.bit_count == 24 && layout.compression == bmp_jpeg
                        ? "24-bit RLE-compressed"
                        : std::string("a ") + (layout.compression == bmp_png ? "PNG" : "JPEG") +
                              " inside a BMP (compression " + std::to_string(layout.compression) + ")";
    } else {
        switch (layout.problem) {
        case bitmap_problem::none:
            return "";
        case bitmap_problem::header_cut_short:
            return damaged("file ends inside its header");
        case bitmap_problem::pixels_cut_short:
            return damaged("file ends before its pixels");
        case bitmap_problem::colours_cut_short:
            return damaged("file ends before the colours its pixels use");
        case bitmap_problem::short_header:
            diagnosis = layout.header_size == bmp_core_header_size || layout.header_size == 16
                            ? "old OS/2 bitmap (" + std::to_string(layout.header_size) + "-byte header)"
                            : "unknown " + std::to_string(layout.header_size) + "-byte header";
            break;
        case bitmap_problem::wrong_dimensions:
            if ((layout.width == 16 || layout.width == 128) && layout.height == -layout.width)
                diagnosis = "top-down rows";
            else
                diagnosis = "is " + std::to_string(layout.width) + "x" + std::to_string(layout.height) +
                            ": must be 16x16 or 128x128";
            break;
        case bitmap_problem::wrong_bit_count:
            diagnosis = layout.bit_count > 8
                            ? std::to_string(layout.bit_count) + "-bit colour"
                            : std::to_string(layout.bit_count) + (layout.bit_count == 1 ? " bit" : " bits") +
                                  " per pixel, not 8";
            break;
        case bitmap_problem::compressed:
            diagnosis = layout.compression == bmp_rle8 ? "RLE8-compressed"
                        : layout.compression == bmp_rle4
                            ? "RLE4-compressed"
                            : "compressed (method " + std::to_string(layout.compression) + ")";
            break;
        }
    }

    // Only a fix that import can carry out is offered; the file is decoded to know.
    std::string error;
    const rgba_image decoded = decode_image(file, error);
    if (!decoded.rgba)
        return diagnosis + ": skinview import cannot read it either: open it in a paint program and save it "
                           "as PNG or as an 8-bit BMP";
    if (mend == mend_at::build)
        return diagnosis + ": drop as_is to import it";
    const bool own_side = decoded.width == decoded.height && (decoded.width == 16 || decoded.width == 128);
    const std::string size = own_side ? "" : icon ? " --size 16" : " --size 128";
    if (bmp)
        return diagnosis + ": run skinview import " + path + " -o " + path + size + " --force";
    // Other artwork under a BMP's name keeps its own bytes: renamed, it is the import's source.
    std::string format_name = format;
    std::transform(format_name.begin(), format_name.end(), format_name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string renamed = image_stem(path) + (format_name == "jpeg" ? ".jpg" : "." + format_name);
    return diagnosis + ": rename it " + renamed + ", then run skinview import " + renamed + " -o " + path +
           size;
}

skin_folder scan_skin_folder(const fs::path& folder)
{
    skin_folder scan;
    scan.picture_end = scan_series(folder, picture_pattern, false, scan.images);
    scan.icon_end = scan_series(folder, icon_pattern, true, scan.images);
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(utf8_from_path(entry.path().filename()));
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (std::string reason = unreached_reason(folder, name, scan); !reason.empty())
            scan.warnings.push_back(std::move(reason));
    }
    return scan;
}

bool is_series_name(const std::string& name)
{
    bool icon = false;
    const std::string digits = series_digits(name, icon);
    return !digits.empty() &&
           name == numbered_name(icon, static_cast<unsigned>(std::strtoul(digits.c_str(), nullptr, 10)));
}

std::string image_stem(const std::string& name)
{
    return name.substr(0, name.rfind('.'));
}

std::span<const std::uint8_t> file_bytes(const folder_image& image)
{
    if (image.file.outcome != read_outcome::read)
        return {};
    return {image.file.bytes.get(), static_cast<std::size_t>(image.file.length)};
}

std::span<const std::uint8_t> block_bytes(const folder_image& image)
{
    if (!image.block)
        return {};
    return {image.block.get(), static_cast<std::size_t>(image.layout.side * image.layout.side)};
}

std::vector<std::uint8_t> skin_bytes(const skin_folder& folder)
{
    std::vector<std::uint8_t> skin;
    for (const folder_image& image : folder.images) {
        const std::span<const std::uint8_t> block = block_bytes(image);
        skin.insert(skin.end(), block.begin(), block.end());
    }
    return skin;
}
