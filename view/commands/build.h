// skinview build: a skin project made into the numbered BMPs, the skin and its header, once or
// on every change.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "view/project/build_project.h"
#include "view/project/project.h"

namespace CLI {
class App;
}

struct build_command {
    std::filesystem::path project = "."; // a folder holding skin.toml, or the project file itself
    build_options options;
    bool watch = false; // build again whenever the project file or a source changes
};

// Builds the project, with one line on stdout, or its problems on stderr and status_problems.
// With watch, goes on until Ctrl-C, one line per rebuild.
int run_build(const build_command& command);

// Adds the subcommand build to `app`; once it is parsed, `chosen` carries it out.
void add_build_command(CLI::App& app, std::function<int()>& chosen);

// What stderr shows of a build `elapsed` into it once `done` of `total` entries are converted:
// one line rewritten in place, only on a terminal and only past a second; the last one wipes it.
std::string progress_text(std::size_t done, std::size_t total, std::chrono::milliseconds elapsed,
                          bool terminal);
