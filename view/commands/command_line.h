// What the subcommands' command lines are made of: paths read as UTF-8, and their checks. Each
// command file adds its own subcommand, whose callback sets the routine that app/ then runs.
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>
#include <vector>

// An option or positional that names a path. The arguments are UTF-8 on every system, so a path
// is made of one by the one rule; CLI11's own conversion to a path, and its checks of one, would
// read the ANSI code page on Windows.
CLI::Option* add_path(CLI::App* command, const std::string& name, std::filesystem::path& path,
                      const std::string& description);

// The same, for a list of paths.
CLI::Option* add_path(CLI::App* command, const std::string& name, std::vector<std::filesystem::path>& paths,
                      const std::string& description);

// CLI11's ExistingDirectory, with the name read as UTF-8.
const CLI::Validator& existing_folder();

// CLI11's ExistingPath, with the name read as UTF-8.
const CLI::Validator& existing_path();
