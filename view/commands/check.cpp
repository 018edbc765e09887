// skinview check: the diagnosis of a whole skin folder, as a table on stdout.
#include "view/commands/check.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "skin/bmp_format.h"
#include "skin/skin.h"
#include "support/byte_reader.h"
#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/build_project.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

namespace {

// "128x128" as the header has it; the old 12-byte header keeps 16-bit sizes at other offsets. A
// file of another format has no such header: its bytes there are no size.
std::string size_shown(const folder_image& image)
{
    const bitmap_layout& l = image.layout;
    if (image.file.outcome != read_outcome::read || l.problem == bitmap_problem::header_cut_short ||
        !is_bmp_or_unknown(file_bytes(image)))
        return "-";
    if (l.header_size == bmp_core_header_size) {
        byte_reader reader{file_bytes(image)};
        return std::to_string(read_u16(reader, bmp_core_width_at)) + "x" +
               std::to_string(read_u16(reader, bmp_core_height_at));
    }
    return std::to_string(l.width) + "x" + std::to_string(l.height);
}

// Whether a build would write the output `name`.
bool would_write(const build_result& result, const std::string& name)
{
    return std::find(result.written.begin(), result.written.end(), name) != result.written.end();
}

// "skin.skn is up to date", or what is not and that a build mends it.
std::string skin_state(const build_result& result, const fs::path& folder)
{
    std::error_code error;
    if (would_write(result, skin_file_name))
        return fs::is_regular_file(folder / skin_file_name, error)
                   ? std::string(skin_file_name) + " is out of date: run skinview build"
                   : std::string("no ") + skin_file_name + " yet: run skinview build";
    std::string others;
    for (const std::string& name : result.written)
        if (!name.ends_with(".bmp"))
            others += (others.empty() ? "" : " ") + name;
    if (!others.empty())
        return std::string(skin_file_name) + " is up to date, but not " + others + ": run skinview build";
    if (!result.written.empty() || !result.removed.empty())
        return std::string(skin_file_name) + " is up to date, but not all its images: run skinview build";
    return std::string(skin_file_name) + " is up to date";
}

// The diagnosis of a project folder: what build would make now, image by image, against the disk.
int print_project_check(const fs::path& folder, std::FILE* out)
{
    const project_run run = run_project(folder / project_file_name, {.dry_run = true});
    const skin_project& project = run.project;
    const build_result& result = run.build;
    for (const project_problem& problem : result.problems)
        std::fprintf(out, "%s\n", problem_line(problem).c_str());
    if (!result.problems.empty()) {
        std::fprintf(out, "summary: %s; skinview build writes nothing until %s mended\n",
                     counted(result.problems.size(), "problem").c_str(),
                     result.problems.size() == 1 ? "it is" : "they are");
        return status_problems;
    }
    std::vector<std::string> labels;
    int width = 0;
    for (const project_slot& slot : result.slots) {
        labels.push_back(slot_label(project, slot));
        width = std::max(width, static_cast<int>(labels.back().size()));
    }
    std::size_t stale = 0;
    std::size_t missing = 0;
    for (std::size_t i = 0; i < result.slots.size(); ++i) {
        const project_slot& slot = result.slots[i];
        const std::string size = std::to_string(slot.image.side) + "x" + std::to_string(slot.image.side);
        std::error_code error;
        const bool written = would_write(result, slot.place.file_name);
        const bool there = fs::exists(fs::symlink_status(folder / slot.place.file_name, error));
        stale += written && there;
        missing += written && !there;
        std::fprintf(out, "%-12s %-9s %-*s %s\n", slot.place.file_name.c_str(), size.c_str(), width,
                     labels[i].c_str(),
                     !written ? "ok"
                     : there  ? "out of date"
                              : "missing");
    }
    for (const std::string& name : result.removed)
        std::fprintf(out, "%-12s %-9s %-*s %s\n", name.c_str(), "-", width, "-",
                     "left over: skinview build removes it");
    std::fprintf(out, "summary: %s, %zu out of date, %zu missing",
                 counted(result.slots.size(), "image").c_str(), stale, missing);
    if (!result.removed.empty())
        std::fprintf(out, ", %zu left over", result.removed.size());
    std::fprintf(out, "; skin of %zu bytes; %s\n", result.skin.size(), skin_state(result, folder).c_str());
    return result.written.empty() && result.removed.empty() ? status_ok : status_problems;
}

} // namespace

int run_check(const fs::path& folder)
{
    if (holds_project(folder))
        return print_project_check(folder, stdout);
    return print_check(scan_skin_folder(folder), folder, stdout);
}

int print_check(const skin_folder& scan, const fs::path& folder, std::FILE* out)
{
    int refused = 0;
    const folder_image* first_refused = nullptr;
    std::size_t pictures = 0;
    for (const folder_image& image : scan.images) {
        const std::string size = size_shown(image);
        std::fprintf(out, "%-12s %-9s %s\n", image.name.c_str(), size.c_str(),
                     image.problem.empty() ? "ok" : printable(image.problem).c_str());
        if (!image.problem.empty() && refused++ == 0)
            first_refused = &image;
        pictures += !image.icon;
    }
    std::fprintf(out, "pictures: %zu, the series ends at %s (missing)\n", pictures, scan.picture_end.c_str());
    std::fprintf(out, "icons: %zu, the series ends at %s (missing)\n", scan.images.size() - pictures,
                 scan.icon_end.c_str());
    for (const std::string& warning : scan.warnings)
        std::fprintf(out, "warning: %s\n", printable(warning).c_str());
    for (const std::string& note : scan.notes)
        std::fprintf(out, "note: %s\n", printable(note).c_str());

    std::fprintf(out, "summary: %s, %d with problems, %s", counted(scan.images.size(), "image").c_str(),
                 refused, counted(scan.warnings.size(), "warning").c_str());
    if (scan.images.empty()) {
        std::fprintf(out, "; no images: skinpack would write no skin\n");
        return status_problems;
    }
    if (first_refused != nullptr) {
        std::fprintf(out, "; skinpack would stop at %s\n", first_refused->name.c_str());
        return status_problems;
    }
    const std::vector<std::uint8_t> skin = skin_bytes(scan);
    std::fprintf(out, "; skin of %zu bytes", skin.size());
    std::error_code error;
    if (!fs::is_regular_file(folder / skin_file_name, error))
        std::fprintf(out, "; no %s yet\n", skin_file_name);
    else if (read_file_bytes(folder / skin_file_name) == skin)
        std::fprintf(out, "; %s is up to date\n", skin_file_name);
    else
        std::fprintf(out, "; %s is out of date: run skinpack\n", skin_file_name);
    return scan.warnings.empty() ? status_ok : status_problems;
}

bool packable_or_explained(const skin_folder& scan, const fs::path& folder)
{
    const bool refused = std::any_of(scan.images.begin(), scan.images.end(),
                                     [](const folder_image& image) { return !image.problem.empty(); });
    if (!scan.images.empty() && !refused)
        return true;
    print_check(scan, folder, stderr);
    return false;
}

void add_check_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto folder = std::make_shared<fs::path>(".");
    CLI::App* command = app.add_subcommand("check", "Diagnose every image of a skin folder");
    add_path(command, "DIR", *folder, "The skin folder (default: here)")->check(existing_folder());
    command->callback([folder, &chosen] { chosen = [folder] { return run_check(*folder); }; });
}
