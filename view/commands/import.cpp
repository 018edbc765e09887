// skinview import: decode, flatten, fit, quantise, and save as an 8-bit BMP of device colours.
#include "view/commands/import.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <memory>

#include "skin/skin.h"
#include "support/file_io.h"
#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/convert.h"
#include "view/common/dither_names.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/decode/decode_image.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

namespace {

// Reads and converts one source; on failure says why in `error`.
converted_image convert_source(const fs::path& source, const convert_options& options, std::string& error)
{
    const std::vector<std::uint8_t> file = read_source(source, error);
    if (file.empty())
        return {};
    const rgba_image image = decode_image(file, error);
    if (!image.rgba)
        return {};
    return convert_image(image, options, error);
}

// The first index from `from` on of a series in `folder` whose file does not exist.
unsigned first_gap(const fs::path& folder, const char* pattern, unsigned from)
{
    std::error_code error;
    for (unsigned index = from;; ++index)
        if (!fs::exists(fs::symlink_status(folder / series_name(pattern, index), error)))
            return index;
}

// The [panel] table of the --panel file into `panel`; false, with its problems told, when it has
// problems or none.
bool read_panel_option(const fs::path& file, panel_levels& panel)
{
    std::vector<project_problem> problems;
    std::optional<panel_levels> read;
    if (load_panel(file, read, problems) && !read)
        problems.push_back({.file = file, .kind = problem_kind::missing_key, .text = "has no [panel] table"});
    for (const project_problem& problem : problems)
        std::fprintf(stderr, "skinview: --panel %s\n", problem_line(problem).c_str());
    panel = read.value_or(panel);
    return problems.empty();
}

} // namespace

int run_import(const import_options& options)
{
    convert_options conversion{.size = options.size, .dither = options.dither};
    if (!parse_colour(options.background, conversion.background)) {
        std::fprintf(stderr, "skinview: --background takes a colour as RRGGBB, not %s\n",
                     printable(options.background).c_str());
        return status_usage;
    }
    rgb_colour key{};
    if (!options.key.empty() && !parse_colour(options.key, key)) {
        std::fprintf(stderr, "skinview: --key takes a colour as RRGGBB, not %s\n",
                     printable(options.key).c_str());
        return status_usage;
    }
    if (!options.key.empty()) {
        rgb_colour nearest{};
        conversion.key = key_byte(key, nearest);
        if (!conversion.key) {
            std::fprintf(stderr, "skinview: --key %s is not a device colour; the nearest is %02X%02X%02X\n",
                         options.key.c_str(), nearest[0], nearest[1], nearest[2]);
            return status_usage;
        }
    }
    if (!options.panel.empty() && !read_panel_option(options.panel, conversion.panel))
        return status_usage;
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
        const std::string name = printable_path(source);
        std::string error;
        const converted_image result = convert_source(source, conversion, error);
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
        const std::string shown = printable_path(destination.lexically_normal());
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
        std::bitset<256> colours; // a set of 256 bits: a tree of bytes cost a tenth of the import
        for (const std::uint8_t pixel : result.block)
            colours.set(pixel);
        std::printf("%s -> %s (%dx%d, %zu colour%s)\n", name.c_str(), shown.c_str(), result.side, result.side,
                    colours.count(), colours.count() == 1 ? "" : "s");
    }
    return failures == 0 ? status_ok : status_problems;
}

namespace {

// What the import command line gives: the options, and the dither by its name.
struct import_arguments {
    import_options import;
    std::string dither = "none";
};

} // namespace

void add_import_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto given = std::make_shared<import_arguments>();
    import_options& import = given->import;
    CLI::App* command = app.add_subcommand(
        "import", "Make any artwork (PNG, JPEG, GIF, TGA, BMP) into a BMP that skinpack takes");
    add_path(command, "SRC", import.sources, "The images to import, in order")->required();
    add_path(command, "--into", import.into, "The skin folder to add them to (default: here)")
        ->check(existing_folder());
    command->add_option("--as", import.as, "picture or icon (default: icons for 16x16 results)")
        ->check(CLI::IsMember({"picture", "icon"}));
    command->add_option("--start", import.start,
                        "The first index to write (default: the first missing one of the series)");
    add_path(command, "-o,--output", import.output, "The file to write, for a single source");
    command->add_option("--size", import.size, "Scale sources of other sizes to fit 16x16 or 128x128")
        ->check(CLI::IsMember({16, 128}));
    command->add_option("--dither", given->dither, dither_help())->check(CLI::IsMember(dither_names()));
    command->add_option("--background", import.background,
                        "The colour under transparent pixels, RRGGBB (default: 000000)");
    command->add_option("--key", import.key,
                        "A device colour, RRGGBB, that fully transparent pixels take and no other "
                        "pixel does");
    add_path(command, "--panel", import.panel,
             "A TOML file whose [panel] table gives the colours the device's levels show "
             "(default: the standard levels)");
    command->add_flag("--force", import.force, "Replace files that exist");
    command->callback([given, &chosen] {
        given->import.dither = parse_dither(given->dither).value_or(dither_method::none);
        chosen = [given] { return run_import(given->import); };
    });
}
