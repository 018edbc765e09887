// skinview check: one line per image, where each series ends, and whether the skin is current.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>

#include "view/common/skin_folder.h"

namespace CLI {
class App;
}

// Prints the diagnosis of `folder`; status_problems when skinpack would fail or skip a file. In a
// project folder, the images that build would make now, each against its numbered BMP on disk;
// status_problems when the project has a problem or the folder is not what build would leave.
int run_check(const std::filesystem::path& folder);

// Prints the diagnosis of a scanned folder to `out`, with the status run_check gives.
int print_check(const skin_folder& scan, const std::filesystem::path& folder, std::FILE* out);

// For the commands that need a folder skinpack packs: false, with the diagnosis on stderr, when
// it has no images or skinpack would refuse one.
bool packable_or_explained(const skin_folder& scan, const std::filesystem::path& folder);

// Adds the subcommand check to `app`; once it is parsed, `chosen` carries it out.
void add_check_command(CLI::App& app, std::function<int()>& chosen);
