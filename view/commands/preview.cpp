// skinview preview: lays the accepted images out in labelled rows, pages the rows, draws each page.
// In a project folder the images are those build would make now, named by their entries.
#include "view/commands/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "skin/bitmap.h"
#include "skin/skin.h"
#include "support/file_io.h"
#include "support/utf8_path.h"
#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/convert.h"
#include "view/common/perceptual_error.h"
#include "view/common/render.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/build_project.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

namespace {

// A page holds at most this many pixels (about 100 MB of RGB) unless one row alone is larger,
// so that a large scale over thousands of images cannot exhaust memory.
constexpr std::int64_t page_pixel_budget = std::int64_t{32} << 20;

// One image of the sheet: what the device shows, what it was made from, and how it is named.
struct shown_image {
    std::string name;  // as the --error lines name it: "bmp0.bmp", or `icon00.bmp "battery"`
    std::string label; // drawn above it
    bool icon = false;
    int side = 0;
    std::span<const std::uint8_t> block; // 3-3-2 pixels
    const folder_image* file = nullptr;  // a numbered BMP, whose own colours are its original
    std::vector<std::uint8_t> original;  // else the RGB it came from; empty: the block's own
};

struct cell {
    const shown_image* image;
    int x;
};

struct row {
    std::vector<cell> cells;
    int width = 0;
    int height = 0;
};

struct page {
    std::vector<const row*> rows;
    int width = 0;
    int height = 0;
};

// How many images each cell shows side by side: the device's, and the original and error map.
int panels(const preview_options& options)
{
    return 1 + (options.compare ? 1 : 0) + (options.error ? 1 : 0);
}

// Rows of at most four large cells, pictures first, the icons from a new row.
std::vector<row> lay_out_rows(const std::vector<shown_image>& images, const preview_options& options, int gap)
{
    const int scale = options.scale;
    const int row_limit = 4 * (128 * scale * panels(options) + gap);
    std::vector<row> rows(1);
    bool icons_started = false;
    for (const shown_image& image : images) {
        const int side = image.side * scale;
        const int cell_width =
            std::max(side * panels(options) + (panels(options) - 1) * gap, label_width(image.label, scale));
        row* current = &rows.back();
        if (!current->cells.empty() &&
            ((image.icon && !icons_started) || current->width + cell_width > row_limit))
            current = &rows.emplace_back();
        icons_started = icons_started || image.icon;
        const int x = current->cells.empty() ? gap : current->width;
        current->cells.push_back({&image, x});
        current->width = x + cell_width + gap;
        current->height = std::max(current->height, label_height(scale) + scale + side);
    }
    return rows;
}

std::vector<page> split_into_pages(const std::vector<row>& rows, int gap)
{
    std::vector<page> pages(1);
    for (const row& r : rows) {
        page* current = &pages.back();
        const int width = std::max({current->width, r.width, gap});
        if (!current->rows.empty() &&
            std::int64_t{width} * (current->height + r.height + gap) > page_pixel_budget)
            current = &pages.emplace_back();
        if (current->rows.empty())
            current->height = gap; // the top margin
        current->rows.push_back(&r);
        current->width = std::max({current->width, r.width, gap});
        current->height += r.height + gap;
    }
    return pages;
}

// Draws a page; with --error, adds a line per image to `errors`, measured against its original.
canvas draw_page(const page& p, const preview_options& options, int gap, std::string& errors)
{
    const int scale = options.scale;
    canvas sheet = make_canvas(p.width, p.height, {40, 40, 40});
    int y = gap;
    for (const row* r : p.rows) {
        for (const cell& c : r->cells) {
            const shown_image& image = *c.image;
            const int side = image.side;
            const int top = y + label_height(scale) + scale;
            draw_label(sheet, image.label, c.x, y, scale);
            int left = c.x;
            const std::vector<std::uint8_t> device = block_to_rgb(image.block, options.panel);
            std::vector<std::uint8_t> original;
            if (options.compare || options.error)
                original = image.file != nullptr
                               ? bitmap_true_colours(file_bytes(*image.file), image.file->layout)
                               : image.original;
            if (original.size() != device.size())
                original = device;
            if (options.compare) {
                draw_image(sheet, original, side, left, top, scale);
                left += side * scale + gap;
            }
            draw_image(sheet, device, side, left, top, scale);
            if (options.error) {
                const std::vector<double> error = perceptual_error(original, device, side, side);
                draw_image(sheet, error_heat_map(error), side, left + side * scale + gap, top, scale);
                char line[64];
                std::snprintf(line, sizeof line, ": mean error %.2f\n", mean_error(error));
                errors += "  " + image.name + line;
            }
        }
        y += r->height + gap;
    }
    return sheet;
}

// "skin-preview.png" alone, or "skin-preview-2.png" for the second of several pages.
fs::path page_path(const fs::path& output, std::size_t number, std::size_t count)
{
    if (count == 1)
        return output;
    fs::path path = output;
    path.replace_filename(path_from_utf8(utf8_from_path(output.stem()) + "-" + std::to_string(number) +
                                         utf8_from_path(output.extension())));
    return path;
}

// Lays out, pages and writes the sheets of `images`, one line per page; `total` counts the images
// left out too.
int write_sheets(const std::vector<shown_image>& images, std::size_t total, const preview_options& options)
{
    const int gap = 4 * options.scale;
    const std::vector<row> rows = lay_out_rows(images, options, gap);
    const std::vector<page> pages = split_into_pages(rows, gap);
    std::size_t shown = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const fs::path path = page_path(options.output, i + 1, pages.size());
        std::string errors;
        if (!save_png(path, draw_page(pages[i], options, gap, errors))) {
            std::fprintf(stderr, "skinview: cannot write %s\n", printable_path(path).c_str());
            return status_problems;
        }
        std::size_t drawn = 0;
        for (const row* r : pages[i].rows)
            drawn += r->cells.size();
        shown += drawn;
        std::printf("%s: %s", printable_path(path).c_str(), counted(drawn, "image").c_str());
        if (i + 1 == pages.size() && shown < total)
            std::printf(", %zu with problems left out (see skinview check)", total - shown);
        std::printf("\n%s", errors.c_str());
    }
    return shown < total ? status_problems : status_ok;
}

// At most this many glyphs in a label: as wide as a picture at any scale.
constexpr std::size_t longest_label = 32;

// The drawn label of a project's image: its entry's name, and for a frame "2/4" after it.
std::string drawn_label(const skin_project& project, const project_slot& slot)
{
    const std::string frame = frame_number(slot);
    return project.entries[slot.entry].name.substr(0, longest_label - frame.size()) + frame;
}

// What a project's image was made from (taken from the slot): the RGB its conversion started
// from (converted afresh when the build took it from the last one), or an as_is BMP's own colours.
std::vector<std::uint8_t> original_of(const skin_project& project, project_slot& slot,
                                      std::map<std::size_t, std::vector<project_slot>>& converted)
{
    if (!slot.image.source.empty())
        return std::move(slot.image.source);
    const project_entry& entry = project.entries[slot.entry];
    if (entry.as_is) {
        // Read as build reads a source: a regular file of bounded size, whatever is there now.
        std::string error;
        const std::vector<std::uint8_t> file =
            read_source(source_path(project, entry.sources.at(slot.frame)), error);
        return bitmap_true_colours(file, try_convert_bitmap(file).layout);
    }
    auto [at, fresh] = converted.try_emplace(slot.entry);
    if (fresh) {
        std::vector<project_problem> problems;
        at->second = convert_entry(project, slot.entry, entry.dither.value_or(project.dither), problems);
    }
    return slot.frame < at->second.size() ? at->second[slot.frame].image.source : std::vector<std::uint8_t>();
}

// The sheets of what build would make of the project now, or its problems as build tells them.
int preview_project(const preview_options& options)
{
    project_run run = run_project(options.folder / project_file_name, {.dry_run = true});
    const skin_project& project = run.project;
    build_result& result = run.build;
    for (const project_problem& problem : result.problems)
        std::fprintf(stderr, "%s\n", problem_line(problem).c_str());
    if (!result.problems.empty())
        return status_problems;
    preview_options shown = options;
    shown.panel = project.panel;
    std::vector<shown_image> images;
    std::map<std::size_t, std::vector<project_slot>> converted; // entries converted afresh
    for (project_slot& slot : result.slots)
        images.push_back({.name = slot.place.file_name + " " + slot_label(project, slot),
                          .label = drawn_label(project, slot),
                          .icon = slot.place.icon,
                          .side = slot.image.side,
                          .block = slot.image.block,
                          .original = options.compare || options.error ? original_of(project, slot, converted)
                                                                       : std::vector<std::uint8_t>()});
    return write_sheets(images, images.size(), shown);
}

} // namespace

int run_preview(const preview_options& options)
{
    if (holds_project(options.folder))
        return preview_project(options);
    const skin_folder scan = scan_skin_folder(options.folder);
    if (scan.images.empty()) {
        std::fprintf(stderr, "skinview: no images in %s\n", printable_path(options.folder).c_str());
        return status_problems;
    }
    std::vector<shown_image> images;
    for (const folder_image& image : scan.images)
        if (image.problem.empty())
            images.push_back({.name = image.name,
                              .label = image_stem(image.name),
                              .icon = image.icon,
                              .side = image.layout.side,
                              .block = block_bytes(image),
                              .file = &image});
    return write_sheets(images, scan.images.size(), options);
}

void add_preview_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto view = std::make_shared<preview_options>();
    CLI::App* command = app.add_subcommand("preview", "Render the skin as the device shows it, as a PNG");
    add_path(command, "DIR", view->folder, "The skin folder (default: here)")->check(existing_folder());
    add_path(command, "-o,--output", view->output, "The PNG to write (default: skin-preview.png)");
    command->add_option("--scale", view->scale, "Pixels per image pixel (default: 2)")
        ->check(CLI::Range(1, 16));
    command->add_flag("--compare", view->compare, "Put each original beside its converted version");
    command->add_flag("--error", view->error,
                      "Put a heat map of where the eye sees each image differ from its original (blurred "
                      "CIEDE2000: black none, white 10 or more) beside it, and print each image's mean");
    command->callback([view, &chosen] { chosen = [view] { return run_preview(*view); }; });
}
