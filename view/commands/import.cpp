// skinview import: decode, flatten, fit, quantise, and save as an 8-bit BMP of device colours.
#include "view/commands/import.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "skin/bmp_writer.h"
#include "skin/colour_332.h"
#include "skin/skin.h"
#include "support/file_io.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/decode/decode_image.h"

namespace fs = std::filesystem;

namespace {

// Sources larger than this are refused unread; a real 128x128 source is far smaller.
constexpr std::uintmax_t max_source_bytes = std::uintmax_t{256} << 20;

bool parse_colour(std::string text, rgb_colour& colour)
{
    if (text.starts_with('#'))
        text.erase(0, 1);
    if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    for (std::size_t c = 0; c < 3; ++c)
        colour[c] = static_cast<std::uint8_t>(std::stoi(text.substr(2 * c, 2), nullptr, 16));
    return true;
}

// An uncompressed bottom-up 8-bit BMP whose colour-table entry b is byte b as the device shows
// it, so that every pixel index is its own skin byte.
std::vector<std::uint8_t> device_bmp(std::span<const std::uint8_t> block, int side)
{
    bmp_image image{.width = side, .height = side, .palette = std::vector<rgb>(256)};
    for (std::size_t b = 0; b < 256; ++b) {
        const std::array<std::uint8_t, 3> colour = expand_332(static_cast<std::uint8_t>(b));
        image.palette[b] = {colour[0], colour[1], colour[2]};
    }
    image.pixels.assign(block.begin(), block.end());
    return bmp_bytes(image);
}

struct converted {
    std::vector<std::uint8_t> block; // 3-3-2 bytes, top row first
    int side = 0;
};

// Reads and converts one source; on failure says why in `error`.
converted convert_source(const fs::path& source, const import_options& options, rgb_colour background,
                         std::string& error)
{
    std::error_code code;
    if (!fs::is_regular_file(source, code)) {
        error = fs::exists(source, code) ? "not a file" : "no such file";
        return {};
    }
    if (fs::file_size(source, code) > max_source_bytes) {
        error = "the file is over 256 MiB";
        return {};
    }
    const std::vector<std::uint8_t> file = read_file_bytes(source, max_source_bytes);
    if (file.empty()) {
        error = "the file is empty or cannot be read";
        return {};
    }
    const rgba_image image = decode_image(file, error);
    if (!image.rgba)
        return {};
    const bool square_side = image.width == image.height && (image.width == 16 || image.width == 128);
    if (options.size == 0 && !square_side) {
        error = "is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                ": give --size 16 or --size 128 to scale it to fit";
        return {};
    }
    converted result;
    result.side = options.size != 0 ? options.size : image.width;
    std::vector<std::uint8_t> rgb = flatten(image, background);
    if (image.width != result.side || image.height != result.side)
        rgb = fit_square(rgb, image.width, image.height, result.side, background);
    result.block = quantise_332(rgb, result.side, result.side, options.dither);
    return result;
}

// The first index from `from` on of a series in `folder` whose file does not exist.
unsigned first_gap(const fs::path& folder, const char* pattern, unsigned from)
{
    std::error_code error;
    for (unsigned index = from;; ++index)
        if (!fs::exists(fs::symlink_status(folder / series_name(pattern, index), error)))
            return index;
}

} // namespace

int run_import(const import_options& options)
{
    rgb_colour background{};
    if (!parse_colour(options.background, background)) {
        std::fprintf(stderr, "skinview: --background takes a colour as RRGGBB, not %s\n",
                     options.background.c_str());
        return status_usage;
    }
    if (!options.output.empty() && options.sources.size() != 1) {
        std::fprintf(stderr, "skinview: -o names the output of one source, but %zu were given\n",
                     options.sources.size());
        return status_usage;
    }

    int failures = 0;
    // The next index to try in each series; without --start, the search for a gap goes on from it.
    unsigned next_picture = options.start.value_or(0);
    unsigned next_icon = options.start.value_or(0);
    for (const fs::path& source : options.sources) {
        const std::string name = source.string();
        std::string error;
        const converted result = convert_source(source, options, background, error);
        fs::path destination = options.output;
        if (result.block.empty()) {
            std::fprintf(stderr, "skinview: %s: %s\n", name.c_str(), error.c_str());
            ++failures;
            continue;
        }
        if (destination.empty()) {
            const bool icon = options.as.empty() ? result.side == 16 : options.as == "icon";
            const char* pattern = icon ? icon_pattern : picture_pattern;
            unsigned& next = icon ? next_icon : next_picture;
            if (!options.start)
                next = first_gap(options.into, pattern, next); // found again if this write fails
            destination = options.into / series_name(pattern, options.start ? next++ : next);
        }
        const std::string shown = destination.lexically_normal().string();
        std::error_code code;
        if (!options.force && fs::exists(fs::symlink_status(destination, code))) {
            std::fprintf(stderr, "skinview: %s: %s exists: give --force to replace it\n", name.c_str(),
                         shown.c_str());
            ++failures;
            continue;
        }
        if (replace_file(destination, device_bmp(result.block, result.side)) != save_outcome::saved) {
            std::fprintf(stderr, "skinview: %s: cannot write %s\n", name.c_str(), shown.c_str());
            ++failures;
            continue;
        }
        const std::set<std::uint8_t> colours(result.block.begin(), result.block.end());
        std::printf("%s -> %s (%dx%d, %zu colours)\n", name.c_str(), shown.c_str(), result.side, result.side,
                    colours.size());
    }
    return failures == 0 ? status_ok : status_problems;
}
