// Windows' command line as UTF-8 text, which is what the options and the paths they name take
// everywhere (see utf8_path.h). Windows only: elsewhere main's arguments are that text already.
#pragma once

#include <string>
#include <vector>

// The arguments that wmain gets in UTF-16, which holds every script, each made UTF-8 once; main's
// own would be in the ANSI code page, which loses letters outside it.
std::vector<std::string> utf8_arguments(int argc, const wchar_t* const* argv);
