// skinview: each subcommand, as its command file declares it, wired to the routine it chose.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "view/commands/build.h"
#include "view/commands/check.h"
#include "view/commands/import.h"
#include "view/commands/index.h"
#include "view/commands/init.h"
#include "view/commands/palette.h"
#include "view/commands/preview.h"
#include "view/commands/studio.h"
#include "view/commands/unpack.h"
#include "view/common/status.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/utf8_arguments.h"
#endif

namespace {

#ifdef _WIN32
// The console's output code page before this run: the setting outlives the process.
UINT console_code_page = 0;

// Gives the console back the code page it had.
void restore_console_code_page()
{
    SetConsoleOutputCP(console_code_page);
}
#endif

// Messages are UTF-8, file names in any script included: a Windows console is told so for this
// run, or it would show them in its own code page. Redirected output is UTF-8 either way.
void console_takes_utf8()
{
#ifdef _WIN32
    console_code_page = GetConsoleOutputCP();
    if (console_code_page != 0 && console_code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restore_console_code_page);
#endif
}

// A double-click in Explorer: the artist gets the studio on the folder, not a help text in a
// window that closes at once.
int run_from_explorer()
{
    const int status = run_studio({});
    if (status != status_ok) {
        std::cerr << "Press Enter to close this window.\n";
        std::cin.get();
    }
    return status;
}

// skinview, given its arguments as UTF-8.
int run(int argc, const char* const* argv)
{
    console_takes_utf8();
    if (argc == 1 && started_from_explorer())
        return run_from_explorer();
    CLI::App app{"Checks a skin folder, previews its skin, gives the device palette, and imports artwork."};
    app.set_version_flag("--version", "skinview " SKINPACK_VERSION);
    app.require_subcommand(0, 1); // so that a mistyped command is named in the error
    // Options are spelt the same everywhere, so "/skins" is a folder on Windows too, not an option.
    app.allow_windows_style_options(false);
    std::function<int()> chosen;
    add_check_command(app, chosen);
    add_preview_command(app, chosen);
    add_palette_command(app, chosen);
    add_unpack_command(app, chosen);
    add_import_command(app, chosen);
    add_index_command(app, chosen);
    add_build_command(app, chosen);
    add_init_command(app, chosen);
    add_studio_command(app, chosen);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? status_ok : status_usage;
    }
    if (!chosen) {
        std::cerr << "A subcommand is required\n" << app.help();
        return status_usage;
    }
    return chosen();
}

} // namespace

#ifdef _WIN32
// Windows gives wmain the arguments in UTF-16, which holds every script.
int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<const char*> texts;
    for (const std::string& argument : arguments)
        texts.push_back(argument.c_str());
    return run(argc, texts.data());
}
#else
// Elsewhere the arguments are the names' own bytes, which path_from_utf8 keeps as they are.
int main(int argc, char** argv)
{
    return run(argc, argv);
}
#endif
