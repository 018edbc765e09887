// skinview init: a skin.toml for a folder of numbered BMPs, each entry taking its BMP as it is.
#pragma once

#include <filesystem>

// Writes DIR/skin.toml, never over one that exists; status_problems when it cannot.
int run_init(const std::filesystem::path& folder);
