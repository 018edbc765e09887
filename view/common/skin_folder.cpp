// Skin folder scan: the series, the diagnosis of each image, and the files no series reaches.
#include "view/common/skin_folder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "skin/skin.h"

namespace fs = std::filesystem;

namespace {

// Reads and checks one image; false when it does not exist, which ends its series.
bool read_image(const fs::path& path, folder_image& image)
{
    std::error_code error;
    if (fs::is_directory(path, error)) {
        image.problem = "is a folder: rename or remove it";
        return true;
    }
    if (!fs::exists(path, error))
        return false;
    if (fs::file_size(path, error) > max_buffer_length) {
        image.problem = "file is over 2 GiB: skinpack cannot take it";
        return true;
    }
    image.file = read_file_bytes(path);
    if (image.file.empty()) {
        image.problem = "file is empty or cannot be read";
        return true;
    }
    image.layout = describe_bitmap(image.file);
    if (image.layout.problem != bitmap_problem::none) {
        image.problem = explain_problem(image.layout, path.lexically_normal().string(), image.icon);
        return true;
    }
    // The conversion takes over a heap copy, as it does a loaded file.
    auto length = static_cast<std::int32_t>(image.file.size());
    byte_buffer copy = alloc_zeroed_or_die(image.file.size());
    std::memcpy(copy.get(), image.file.data(), image.file.size());
    const byte_buffer block = convert_bitmap(std::move(copy), length, image.name.c_str());
    image.block.assign(block.get(), block.get() + length);
    return true;
}

// Reads one series up to its first missing name, which it returns.
std::string scan_series(const fs::path& folder, const char* pattern, bool icon,
                        std::vector<folder_image>& images)
{
    for (unsigned index = 0;; ++index) {
        folder_image image{.name = series_name(pattern, index), .icon = icon};
        if (!read_image(folder / image.name, image))
            return image.name;
        images.push_back(std::move(image));
    }
}

// The digits of a name like "bmp12.bmp" or "ICON7.BMP" (any case), or "" for any other name.
std::string series_digits(const std::string& name, bool& icon)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    icon = lower.starts_with("icon");
    const std::size_t prefix = icon ? 4 : 3;
    if (!(icon || lower.starts_with("bmp")) || !lower.ends_with(".bmp") || lower.size() < prefix + 5)
        return "";
    const std::string digits = lower.substr(prefix, lower.size() - prefix - 4);
    const bool numeric =
        std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    return numeric && digits.size() <= 9 ? digits : "";
}

// Why a file that looks like part of a series will never be read, or "" if it will be.
std::string unreached_reason(const std::string& name, const skin_folder& scan)
{
    bool icon = false;
    const std::string digits = series_digits(name, icon);
    if (digits.empty())
        return "";
    const unsigned long index = std::strtoul(digits.c_str(), nullptr, 10);
    const std::string proper =
        series_name(icon ? icon_pattern : picture_pattern, static_cast<unsigned>(index));
    if (name != proper)
        return name + " will never be read: the name must be " + proper;
    const std::string& end = icon ? scan.icon_end : scan.picture_end;
    const unsigned long end_index = std::strtoul(end.c_str() + (icon ? 4 : 3), nullptr, 10);
    if (index > end_index)
        return name + " will never be read: " + end + " is missing";
    return "";
}

} // namespace

std::string explain_problem(const bitmap_layout& layout, const std::string& path, bool icon)
{
    // The command that mends the file in place, with any options it needs.
    const auto import_fix = [&path](const std::string& options) {
        return "run skinview import " + path + " -o " + path + options + " --force";
    };
    const std::string repair = import_fix("");
    const std::string size = std::to_string(layout.width) + "x" + std::to_string(layout.height);
    // The old OS/2 header puts 16-bit sizes where the fields are read, so every check misreads it.
    if (layout.header_size == 12 && layout.problem != bitmap_problem::header_cut_short)
        return "old OS/2 bitmap (12-byte header): " + repair;
    switch (layout.problem) {
    case bitmap_problem::none:
        return "";
    case bitmap_problem::header_cut_short:
        return "file ends inside its header: the file is damaged";
    case bitmap_problem::wrong_dimensions:
        if ((layout.width == 16 || layout.width == 128) && layout.height == -layout.width)
            return "top-down rows: " + repair;
        return "is " + size +
               ": must be 16x16 or 128x128: " + import_fix(icon ? " --size 16" : " --size 128");
    case bitmap_problem::wrong_bit_count:
        if (layout.bit_count > 8)
            return std::to_string(layout.bit_count) + "-bit colour: " + repair;
        return std::to_string(layout.bit_count) + (layout.bit_count == 1 ? " bit" : " bits") +
               " per pixel, not 8: " + repair;
    case bitmap_problem::compressed:
        if (layout.compression == 1)
            return "RLE8-compressed: " + repair;
        if (layout.compression == 2)
            return "RLE4-compressed: " + repair;
        return "compressed (method " + std::to_string(layout.compression) + "): save it uncompressed";
    case bitmap_problem::pixels_cut_short:
        return "file ends before its pixels: the file is damaged";
    case bitmap_problem::colours_cut_short:
        return "file ends before the colours its pixels use: the file is damaged";
    }
    return "";
}

skin_folder scan_skin_folder(const fs::path& folder)
{
    skin_folder scan;
    scan.picture_end = scan_series(folder, picture_pattern, false, scan.images);
    scan.icon_end = scan_series(folder, icon_pattern, true, scan.images);
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (std::string reason = unreached_reason(name, scan); !reason.empty())
            scan.warnings.push_back(std::move(reason));
    }
    return scan;
}

std::string series_name(const char* pattern, unsigned index)
{
    char name[32];
    std::snprintf(name, sizeof name, pattern, index);
    return name;
}

std::string image_stem(const std::string& name)
{
    return name.substr(0, name.rfind('.'));
}

std::vector<std::uint8_t> read_file_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> skin_bytes(const skin_folder& folder)
{
    std::vector<std::uint8_t> skin;
    for (const folder_image& image : folder.images)
        skin.insert(skin.end(), image.block.begin(), image.block.end());
    return skin;
}
