// skinview: checks a skin folder, previews its skin, writes the device palette, unpacks a skin.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "skin/skin.h"
#include "view/render.h"
#include "view/skin_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr int status_ok = 0;
constexpr int status_problems = 1;
constexpr int status_usage = 2;

std::string stem(const std::string& name)
{
    return name.substr(0, name.rfind('.'));
}

int check(const fs::path& folder)
{
    const skin_folder scan = scan_skin_folder(folder);
    int refused = 0;
    const folder_image* first_refused = nullptr;
    std::size_t pictures = 0;
    for (const folder_image& image : scan.images) {
        const bitmap_layout& l = image.layout;
        const bool sized = !image.file.empty() && l.problem != bitmap_problem::header_cut_short;
        const std::string size = sized ? std::to_string(l.width) + "x" + std::to_string(l.height) : "-";
        std::printf("%-12s %-9s %s\n", image.name.c_str(), size.c_str(),
                    image.problem.empty() ? "ok" : image.problem.c_str());
        if (!image.problem.empty() && refused++ == 0)
            first_refused = &image;
        pictures += !image.icon;
    }
    std::printf("pictures: %zu, the series ends at %s (missing)\n", pictures, scan.picture_end.c_str());
    std::printf("icons: %zu, the series ends at %s (missing)\n", scan.images.size() - pictures,
                scan.icon_end.c_str());
    for (const std::string& warning : scan.warnings)
        std::printf("warning: %s\n", warning.c_str());

    std::printf("summary: %zu images, %d with problems, %zu warnings", scan.images.size(), refused,
                scan.warnings.size());
    if (scan.images.empty()) {
        std::printf("; no images: skinpack would write no skin\n");
        return status_problems;
    }
    if (first_refused != nullptr) {
        std::printf("; skinpack would stop at %s\n", first_refused->name.c_str());
        return status_problems;
    }
    const std::vector<std::uint8_t> skin = skin_bytes(scan);
    std::printf("; skin of %zu bytes", skin.size());
    std::error_code error;
    if (!fs::is_regular_file(folder / skin_file_name, error))
        std::printf("; no %s yet\n", skin_file_name);
    else if (read_file_bytes(folder / skin_file_name) == skin)
        std::printf("; %s is up to date\n", skin_file_name);
    else
        std::printf("; %s is out of date: run skinpack\n", skin_file_name);
    return scan.warnings.empty() ? status_ok : status_problems;
}

struct preview_options {
    fs::path folder = ".";
    fs::path output = "skin-preview.png";
    int scale = 2;
    bool compare = false;
};

int preview(const preview_options& options)
{
    const skin_folder scan = scan_skin_folder(options.folder);
    if (scan.images.empty()) {
        std::fprintf(stderr, "skinview: no images in %s\n", options.folder.string().c_str());
        return status_problems;
    }
    const int scale = options.scale;
    const int gap = 4 * scale;
    const int row_limit = 4 * (128 * scale * (options.compare ? 2 : 1) + gap);

    // Lay the cells out in rows, pictures first, the icons from a new row.
    struct placed {
        const folder_image* image;
        int x, y;
    };
    std::vector<placed> cells;
    int x = gap, y = gap, row_height = 0, width = 0;
    bool icons_started = false;
    for (const folder_image& image : scan.images) {
        if (!image.problem.empty())
            continue;
        const int side = image.layout.side * scale;
        const int cell_width = std::max(side * (options.compare ? 2 : 1) + (options.compare ? gap : 0),
                                        label_width(stem(image.name), scale));
        const int cell_height = label_height(scale) + scale + side;
        if ((image.icon && !icons_started && x > gap) || x + cell_width > row_limit) {
            x = gap;
            y += row_height + gap;
            row_height = 0;
        }
        icons_started = icons_started || image.icon;
        cells.push_back({&image, x, y});
        x += cell_width + gap;
        width = std::max(width, x);
        row_height = std::max(row_height, cell_height);
    }
    canvas sheet = make_canvas(std::max(width, gap), y + row_height + gap, {40, 40, 40});
    for (const placed& cell : cells) {
        const folder_image& image = *cell.image;
        const int side = image.layout.side;
        const int top = cell.y + label_height(scale) + scale;
        draw_label(sheet, stem(image.name), cell.x, cell.y, scale);
        int left = cell.x;
        if (options.compare) {
            draw_image(sheet, bitmap_true_colours(image.file, image.layout), side, left, top, scale);
            left += side * scale + gap;
        }
        draw_image(sheet, block_to_rgb(image.block), side, left, top, scale);
    }
    if (!save_png(options.output, sheet)) {
        std::fprintf(stderr, "skinview: cannot write %s\n", options.output.string().c_str());
        return status_problems;
    }
    const std::size_t skipped = scan.images.size() - cells.size();
    std::printf("%s: %zu images", options.output.string().c_str(), cells.size());
    if (skipped > 0)
        std::printf(", %zu with problems left out (see skinview check)", skipped);
    std::printf("\n");
    return skipped > 0 ? status_problems : status_ok;
}

int palette(fs::path output, std::string format)
{
    if (format.empty()) {
        const std::string extension = output.extension().string();
        format = extension.empty() ? "gpl" : extension.substr(1);
    }
    if (format != "gpl" && format != "act" && format != "pal" && format != "png") {
        std::fprintf(stderr, "skinview: unknown palette format %s: use gpl, act, pal or png\n",
                     format.c_str());
        return status_usage;
    }
    if (output.empty())
        output = "skin-palette." + format;
    if (!save_palette(output, format)) {
        std::fprintf(stderr, "skinview: cannot write %s\n", output.string().c_str());
        return status_problems;
    }
    std::printf("%s: the 256 device colours (%s)\n", output.string().c_str(), format.c_str());
    return status_ok;
}

int unpack(const fs::path& skin_path, const fs::path& folder, const fs::path& output)
{
    std::error_code error;
    if (!fs::is_regular_file(skin_path, error)) {
        std::fprintf(stderr, "skinview: cannot read %s\n", skin_path.string().c_str());
        return status_problems;
    }
    const std::vector<std::uint8_t> skin = read_file_bytes(skin_path);
    const skin_folder scan = scan_skin_folder(folder);
    std::size_t expected = 0;
    for (const folder_image& image : scan.images) {
        if (image.layout.side == 0) {
            std::fprintf(stderr, "skinview: cannot tell the size of %s: %s\n", image.name.c_str(),
                         image.problem.c_str());
            return status_problems;
        }
        expected += static_cast<std::size_t>(image.layout.side * image.layout.side);
    }
    if (skin.size() != expected) {
        std::fprintf(stderr,
                     "skinview: %s has %zu bytes, but the %zu images in %s make %zu: it was not built "
                     "from these images\n",
                     skin_path.string().c_str(), skin.size(), scan.images.size(), folder.string().c_str(),
                     expected);
        return status_problems;
    }
    fs::create_directories(output);
    std::size_t at = 0;
    for (const folder_image& image : scan.images) {
        const auto size = static_cast<std::size_t>(image.layout.side * image.layout.side);
        canvas picture{image.layout.side, image.layout.side, block_to_rgb({skin.data() + at, size})};
        at += size;
        const fs::path path = output / (stem(image.name) + ".png");
        if (!save_png(path, picture)) {
            std::fprintf(stderr, "skinview: cannot write %s\n", path.string().c_str());
            return status_problems;
        }
    }
    std::printf("%s: %zu images\n", output.string().c_str(), scan.images.size());
    return status_ok;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Checks a skin folder, previews its skin, and gives the device palette."};
    app.set_version_flag("--version", "skinview " SKINPACK_VERSION);
    app.require_subcommand(0, 1); // so that a mistyped command is named in the error

    fs::path check_folder = ".";
    CLI::App* check_command = app.add_subcommand("check", "Diagnose every image of a skin folder");
    check_command->add_option("DIR", check_folder, "The skin folder (default: here)")
        ->check(CLI::ExistingDirectory);

    preview_options view;
    CLI::App* preview_command =
        app.add_subcommand("preview", "Render the skin as the device shows it, as a PNG");
    preview_command->add_option("DIR", view.folder, "The skin folder (default: here)")
        ->check(CLI::ExistingDirectory);
    preview_command->add_option("-o,--output", view.output, "The PNG to write (default: skin-preview.png)");
    preview_command->add_option("--scale", view.scale, "Pixels per image pixel (default: 2)")
        ->check(CLI::Range(1, 16));
    preview_command->add_flag("--compare", view.compare, "Put each original beside its converted version");

    fs::path palette_output;
    std::string palette_format;
    CLI::App* palette_command = app.add_subcommand("palette", "Write the 256 device colours as a palette");
    palette_command->add_option("-o,--output", palette_output,
                                "The file to write (default: skin-palette.FORMAT)");
    palette_command
        ->add_option("--format", palette_format, "gpl, act, pal or png (default: from the file name, or gpl)")
        ->check(CLI::IsMember({"gpl", "act", "pal", "png"}));

    fs::path unpack_skin;
    fs::path unpack_folder = ".";
    fs::path unpack_output = "skin-unpacked";
    CLI::App* unpack_command = app.add_subcommand("unpack", "Cut a skin file back into one PNG per image");
    unpack_command->add_option("SKIN", unpack_skin, "The skin file")->required();
    unpack_command
        ->add_option("DIR", unpack_folder, "The folder of the images it was built from (default: here)")
        ->check(CLI::ExistingDirectory);
    unpack_command->add_option("-o,--output", unpack_output, "Where the PNGs go (default: skin-unpacked)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? status_ok : status_usage;
    }
    if (app.get_subcommands().empty()) {
        std::cerr << "A subcommand is required\n" << app.help();
        return status_usage;
    }
    if (*check_command)
        return check(check_folder);
    if (*preview_command)
        return preview(view);
    if (*palette_command)
        return palette(palette_output, palette_format);
    return unpack(unpack_skin, unpack_folder, unpack_output);
}
