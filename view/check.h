// skinview check: one line per image, where each series ends, and whether the skin is current.
#pragma once

#include <filesystem>

// Prints the diagnosis of `folder`; status_problems when skinpack would fail or skip a file.
int run_check(const std::filesystem::path& folder);
