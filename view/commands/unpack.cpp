// skinview unpack: checks that the skin fits the folder's images, then writes a PNG per block.
#include "view/commands/unpack.h"

#include <cstdio>
#include <memory>

#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/render.h"
#include "view/common/skin_folder.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

int run_unpack(const fs::path& skin_path, const fs::path& folder, const fs::path& output)
{
    std::error_code error;
    if (!fs::is_regular_file(skin_path, error)) {
        std::fprintf(stderr, "skinview: cannot read %s\n", printable_path(skin_path).c_str());
        return status_problems;
    }
    panel_levels panel; // a project's images are shown as its panel shows them
    if (std::vector<project_problem> problems; !folder_panel(folder, panel, problems)) {
        for (const project_problem& problem : problems)
            std::fprintf(stderr, "%s\n", problem_line(problem).c_str());
        return status_problems;
    }
    const std::vector<std::uint8_t> skin = read_file_bytes(skin_path);
    const skin_folder scan = scan_skin_folder(folder);
    std::size_t expected = 0;
    for (const folder_image& image : scan.images) {
        if (image.layout.side == 0) {
            std::fprintf(stderr, "skinview: cannot tell the size of %s: %s\n", image.name.c_str(),
                         printable(image.problem).c_str());
            return status_problems;
        }
        expected += static_cast<std::size_t>(image.layout.side * image.layout.side);
    }
    if (skin.size() != expected) {
        std::fprintf(stderr,
                     "skinview: %s has %zu bytes, but the images in %s make %zu (%s): it was not built "
                     "from these images\n",
                     printable_path(skin_path).c_str(), skin.size(), printable_path(folder).c_str(), expected,
                     counted(scan.images.size(), "image").c_str());
        return status_problems;
    }
    fs::create_directories(output, error);
    std::size_t at = 0;
    for (const folder_image& image : scan.images) {
        const auto size = static_cast<std::size_t>(image.layout.side * image.layout.side);
        canvas picture{image.layout.side, image.layout.side, block_to_rgb({skin.data() + at, size}, panel)};
        at += size;
        const fs::path path = output / (image_stem(image.name) + ".png");
        if (!save_png(path, picture)) {
            std::fprintf(stderr, "skinview: cannot write %s\n", printable_path(path).c_str());
            return status_problems;
        }
    }
    std::printf("%s: %s\n", printable_path(output).c_str(), counted(scan.images.size(), "image").c_str());
    return status_ok;
}

namespace {

// What the unpack command line gives.
struct unpack_arguments {
    fs::path skin;
    fs::path folder = ".";
    fs::path output = "skin-unpacked";
};

} // namespace

void add_unpack_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto given = std::make_shared<unpack_arguments>();
    CLI::App* command = app.add_subcommand("unpack", "Cut a skin file back into one PNG per image");
    add_path(command, "SKIN", given->skin, "The skin file")->required();
    add_path(command, "DIR", given->folder, "The folder of the images it was built from (default: here)")
        ->check(existing_folder());
    add_path(command, "-o,--output", given->output, "Where the PNGs go (default: skin-unpacked)");
    command->callback([given, &chosen] {
        chosen = [given] { return run_unpack(given->skin, given->folder, given->output); };
    });
}
