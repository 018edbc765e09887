// skinview init: the folder's images, as skinpack reads them, listed as entries that take each
// BMP as it is, so that building the new project changes no file.
#include "view/commands/init.h"

#include <algorithm>
#include <cstdio>

#include "view/commands/check.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

int run_init(const fs::path& folder)
{
    const fs::path file = folder / project_file_name;
    const std::string shown = file.lexically_normal().string();
    std::error_code code;
    if (fs::exists(fs::symlink_status(file, code))) {
        std::fprintf(stderr, "skinview: %s exists: init never replaces it\n", shown.c_str());
        return status_problems;
    }
    const skin_folder scan = scan_skin_folder(folder);
    if (!packable_or_explained(scan, folder))
        return status_problems;
    skin_project project{.file = file};
    for (const folder_image& image : scan.images)
        project.entries.push_back(
            {.name = image_stem(image.name), .icon = image.icon, .sources = {image.name}, .as_is = true});
    const std::string text = project_text(project);
    switch (save_project_text(file, std::nullopt, text)) {
    case project_save::saved:
        break;
    case project_save::changed_meanwhile:
        std::fprintf(stderr, "skinview: %s appeared meanwhile: init never replaces it\n", shown.c_str());
        return status_problems;
    case project_save::cannot_write:
        std::fprintf(stderr, "skinview: cannot write %s\n", shown.c_str());
        return status_problems;
    }
    std::printf("%s: %s, each taking its BMP as it is\n", shown.c_str(),
                counted(project.entries.size(), "entry", "entries").c_str());
    return status_ok;
}
