// skinview preview: lays the accepted images out in labelled rows, pages the rows, draws each page.
#include "view/commands/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "skin/skin.h"
#include "support/utf8_path.h"
#include "view/common/perceptual_error.h"
#include "view/common/render.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

namespace {

// A page holds at most this many pixels (about 100 MB of RGB) unless one row alone is larger,
// so that a large scale over thousands of images cannot exhaust memory.
constexpr std::int64_t page_pixel_budget = std::int64_t{32} << 20;

struct cell {
    const folder_image* image;
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
std::vector<row> lay_out_rows(const skin_folder& scan, const preview_options& options, int gap)
{
    const int scale = options.scale;
    const int row_limit = 4 * (128 * scale * panels(options) + gap);
    std::vector<row> rows(1);
    bool icons_started = false;
    for (const folder_image& image : scan.images) {
        if (!image.problem.empty())
            continue;
        const int side = image.layout.side * scale;
        const int cell_width = std::max(side * panels(options) + (panels(options) - 1) * gap,
                                        label_width(image_stem(image.name), scale));
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

// What each numbered image of a project folder was converted from, by file name: its entry's
// source flattened and fitted, converted afresh. Images of as_is entries are their own source,
// and so are all from an entry on that cannot be converted, whose frames cannot be counted.
std::map<std::string, std::vector<std::uint8_t>> project_sources(const fs::path& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> sources;
    skin_project project;
    std::vector<project_problem> problems;
    std::error_code code;
    if (!fs::exists(folder / project_file_name, code) ||
        !load_project(folder / project_file_name, project, problems))
        return sources;
    unsigned pictures = 0;
    unsigned icons = 0;
    for (std::size_t i = 0; i < project.entries.size(); ++i) {
        const project_entry& entry = project.entries[i];
        std::vector<project_slot> slots;
        if (!entry.as_is) {
            slots = convert_entry(project, i, entry.dither.value_or(project.dither), problems);
            if (slots.empty())
                break;
        }
        const std::size_t count = entry.as_is ? entry.sources.size() : slots.size();
        for (std::size_t frame = 0; frame < count; ++frame) {
            const std::string name = numbered_name(entry.icon, entry.icon ? icons++ : pictures++);
            if (!entry.as_is)
                sources[name] = std::move(slots[frame].image.source);
        }
    }
    return sources;
}

// Draws a page; with --error, adds a line per image to `errors`, measured against `sources`
// where it names the image, else against the BMP's own colours.
canvas draw_page(const page& p, const preview_options& options, int gap,
                 const std::map<std::string, std::vector<std::uint8_t>>& sources, std::string& errors)
{
    const int scale = options.scale;
    canvas sheet = make_canvas(p.width, p.height, {40, 40, 40});
    int y = gap;
    for (const row* r : p.rows) {
        for (const cell& c : r->cells) {
            const folder_image& image = *c.image;
            const int side = image.layout.side;
            const int top = y + label_height(scale) + scale;
            draw_label(sheet, image_stem(image.name), c.x, y, scale);
            int left = c.x;
            const std::vector<std::uint8_t> source = bitmap_true_colours(file_bytes(image), image.layout);
            if (options.compare) {
                draw_image(sheet, source, side, left, top, scale);
                left += side * scale + gap;
            }
            const std::vector<std::uint8_t> device = block_to_rgb(block_bytes(image));
            draw_image(sheet, device, side, left, top, scale);
            if (options.error) {
                const auto converted = sources.find(image.name);
                std::vector<double> error;
                if (converted != sources.end())
                    error = perceptual_error(converted->second, device, side, side);
                if (error.empty()) // not converted afresh, or since drawn at another side
                    error = perceptual_error(source, device, side, side);
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

} // namespace

int run_preview(const preview_options& options)
{
    const skin_folder scan = scan_skin_folder(options.folder);
    if (scan.images.empty()) {
        std::fprintf(stderr, "skinview: no images in %s\n", utf8_from_path(options.folder).c_str());
        return status_problems;
    }
    const int gap = 4 * options.scale;
    const std::vector<row> rows = lay_out_rows(scan, options, gap);
    const std::vector<page> pages = split_into_pages(rows, gap);
    const std::map<std::string, std::vector<std::uint8_t>> sources =
        options.error ? project_sources(options.folder) : std::map<std::string, std::vector<std::uint8_t>>{};
    std::size_t shown = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const fs::path path = page_path(options.output, i + 1, pages.size());
        std::string errors;
        if (!save_png(path, draw_page(pages[i], options, gap, sources, errors))) {
            std::fprintf(stderr, "skinview: cannot write %s\n", utf8_from_path(path).c_str());
            return status_problems;
        }
        std::size_t images = 0;
        for (const row* r : pages[i].rows)
            images += r->cells.size();
        shown += images;
        std::printf("%s: %s", utf8_from_path(path).c_str(), counted(images, "image").c_str());
        if (i + 1 == pages.size() && shown < scan.images.size())
            std::printf(", %zu with problems left out (see skinview check)", scan.images.size() - shown);
        std::printf("\n%s", errors.c_str());
    }
    return shown < scan.images.size() ? status_problems : status_ok;
}
