// skinview index: the skin's table of contents, for firmware, as a C header or as JSON.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace CLI {
class App;
}

// Writes where each image of `folder` lies in the skin, to `output` or stdout, in `format` ("c"
// or "json"; when empty, from the output's extension, else C). A folder that skinpack would
// refuse gets its diagnosis on stderr instead, and status_problems.
int run_index(const std::filesystem::path& folder, const std::filesystem::path& output, std::string format);

// Adds the subcommand index to `app`; once it is parsed, `chosen` carries it out.
void add_index_command(CLI::App& app, std::function<int()>& chosen);
