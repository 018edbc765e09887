// skinview init: a skin.toml for a folder of numbered BMPs, each entry taking its BMP as it is.
#pragma once

#include <filesystem>
#include <functional>

namespace CLI {
class App;
}

// Writes DIR/skin.toml, never over one that exists; status_problems when it cannot.
int run_init(const std::filesystem::path& folder);

// Adds the subcommand init to `app`; once it is parsed, `chosen` carries it out.
void add_init_command(CLI::App& app, std::function<int()>& chosen);
