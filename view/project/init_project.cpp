// Making a project of a numbered folder: its images, as skinpack reads them, listed as entries
// that take each BMP as it is.
#include "view/project/init_project.h"

namespace fs = std::filesystem;

namespace {

// Why skinpack would refuse the folder, one problem per refused image; none when it packs.
std::vector<project_problem> refusals(const skin_folder& scan, const fs::path& folder, bool empty_allowed)
{
    std::vector<project_problem> problems;
    if (scan.images.empty() && !empty_allowed)
        problems.push_back({.file = folder,
                            .kind = problem_kind::no_images,
                            .text = "no numbered images: skinpack would write no skin"});
    for (const folder_image& image : scan.images)
        if (!image.problem.empty())
            problems.push_back({.file = folder / image.name,
                                .kind = image.file.outcome == read_outcome::read
                                            ? problem_kind::wrong_image
                                            : problem_kind::unreadable_source,
                                .text = image.problem});
    return problems;
}

} // namespace

folder_init init_project(const fs::path& folder, bool empty_allowed)
{
    folder_init made{.project = {.file = folder / project_file_name}};
    std::error_code code;
    if (fs::exists(fs::symlink_status(made.project.file, code))) {
        made.outcome = init_outcome::exists;
        return made;
    }
    made.scan = scan_skin_folder(folder);
    made.problems = refusals(made.scan, folder, empty_allowed);
    if (!made.problems.empty()) {
        made.outcome = init_outcome::refused;
        return made;
    }
    for (const folder_image& image : made.scan.images)
        made.project.entries.push_back(
            {.name = image_stem(image.name), .icon = image.icon, .sources = {image.name}, .as_is = true});
    made.project.text = project_text(made.project);
    switch (save_project_text(made.project.file, std::nullopt, made.project.text)) {
    case project_save::saved:
        made.outcome = init_outcome::made;
        break;
    case project_save::changed_meanwhile:
        made.outcome = init_outcome::appeared_meanwhile;
        break;
    case project_save::cannot_write:
        made.outcome = init_outcome::cannot_write;
        break;
    }
    return made;
}
