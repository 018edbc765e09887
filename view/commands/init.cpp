// skinview init: the folder's images, as skinpack reads them, listed as entries that take each
// BMP as it is, so that building the new project changes no file.
#include "view/commands/init.h"

#include <cstdio>
#include <memory>

#include "support/utf8_text.h"
#include "view/commands/check.h"
#include "view/commands/command_line.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/init_project.h"

namespace fs = std::filesystem;

int run_init(const fs::path& folder)
{
    const folder_init made = init_project(folder, false);
    const std::string shown = printable_path(made.project.file.lexically_normal());
    switch (made.outcome) {
    case init_outcome::made:
        std::printf("%s: %s, each taking its BMP as it is\n", shown.c_str(),
                    counted(made.project.entries.size(), "entry", "entries").c_str());
        return status_ok;
    case init_outcome::exists:
        std::fprintf(stderr, "skinview: %s exists: init never replaces it\n", shown.c_str());
        break;
    case init_outcome::appeared_meanwhile:
        std::fprintf(stderr, "skinview: %s appeared meanwhile: init never replaces it\n", shown.c_str());
        break;
    case init_outcome::cannot_write:
        std::fprintf(stderr, "skinview: cannot write %s\n", shown.c_str());
        break;
    case init_outcome::refused:
        // The whole diagnosis, as check gives it: the refused images among those that pass.
        print_check(made.scan, folder, stderr);
        break;
    }
    return status_problems;
}

void add_init_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto folder = std::make_shared<fs::path>(".");
    CLI::App* command =
        app.add_subcommand("init", "Write a skin.toml for a folder of numbered BMPs, taking each as it is");
    add_path(command, "DIR", *folder, "The skin folder (default: here)")->check(existing_folder());
    command->callback([folder, &chosen] { chosen = [folder] { return run_init(*folder); }; });
}
