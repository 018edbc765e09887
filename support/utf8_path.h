// The one rule where paths meet text: text is UTF-8 on every system. A std::filesystem::path made
// from a std::string, or its string(), would use Windows' ANSI code page instead, which loses or
// refuses letters outside it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The path that UTF-8 text names.
std::filesystem::path path_from_utf8(std::string_view text);

// A path's name as UTF-8 text, its separators as the system writes them.
std::string utf8_from_path(const std::filesystem::path& path);
