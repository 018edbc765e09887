// skinview: the command line of each subcommand, wired to the routine that carries it out.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "support/utf8_path.h"
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

namespace fs = std::filesystem;

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

// The arguments are UTF-8 on every system, so a path is made of one by the one rule; CLI11's own
// conversion to a path, and its checks of one, would read the ANSI code page on Windows.
CLI::Option* add_path(CLI::App* command, const std::string& name, fs::path& path,
                      const std::string& description)
{
    return command->add_option_function<std::string>(
        name, [&path](const std::string& text) { path = path_from_utf8(text); }, description);
}

// The same, for a list of paths.
CLI::Option* add_path(CLI::App* command, const std::string& name, std::vector<fs::path>& paths,
                      const std::string& description)
{
    return command->add_option_function<std::vector<std::string>>(
        name,
        [&paths](const std::vector<std::string>& texts) {
            for (const std::string& text : texts)
                paths.push_back(path_from_utf8(text));
        },
        description);
}

// The type of what the UTF-8 text names, or not_found.
fs::file_type named_type(const std::string& text)
{
    std::error_code error;
    return fs::status(path_from_utf8(text), error).type();
}

// CLI11's ExistingDirectory and ExistingPath, with the name read as UTF-8.
const CLI::Validator existing_folder(
    [](std::string& text) {
        const fs::file_type type = named_type(text);
        if (type == fs::file_type::not_found || type == fs::file_type::none)
            return "Directory does not exist: " + text;
        return type == fs::file_type::directory ? std::string() : "Directory is actually a file: " + text;
    },
    "DIR");
const CLI::Validator existing_path(
    [](std::string& text) {
        const fs::file_type type = named_type(text);
        return type == fs::file_type::not_found || type == fs::file_type::none
                   ? "Path does not exist: " + text
                   : std::string();
    },
    "PATH(existing)");

// skinview, given its arguments as UTF-8.
int run(int argc, const char* const* argv)
{
    console_takes_utf8();
    // A double-click in Explorer: the artist gets the studio on the folder, not a help text
    // in a window that closes at once.
    if (argc == 1 && started_from_explorer()) {
        const int status = run_studio({});
        if (status != status_ok) {
            std::cerr << "Press Enter to close this window.\n";
            std::cin.get();
        }
        return status;
    }
    CLI::App app{"Checks a skin folder, previews its skin, gives the device palette, and imports artwork."};
    app.set_version_flag("--version", "skinview " SKINPACK_VERSION);
    app.require_subcommand(0, 1); // so that a mistyped command is named in the error
    // Options are spelt the same everywhere, so "/skins" is a folder on Windows too, not an option.
    app.allow_windows_style_options(false);

    fs::path check_folder = ".";
    CLI::App* check_command = app.add_subcommand("check", "Diagnose every image of a skin folder");
    add_path(check_command, "DIR", check_folder, "The skin folder (default: here)")->check(existing_folder);

    preview_options view;
    CLI::App* preview_command =
        app.add_subcommand("preview", "Render the skin as the device shows it, as a PNG");
    add_path(preview_command, "DIR", view.folder, "The skin folder (default: here)")->check(existing_folder);
    add_path(preview_command, "-o,--output", view.output, "The PNG to write (default: skin-preview.png)");
    preview_command->add_option("--scale", view.scale, "Pixels per image pixel (default: 2)")
        ->check(CLI::Range(1, 16));
    preview_command->add_flag("--compare", view.compare, "Put each original beside its converted version");
    preview_command->add_flag(
        "--error", view.error,
        "Put a heat map of where the eye sees each image differ from its original (blurred "
        "CIEDE2000: black none, white 10 or more) beside it, and print each image's mean");

    fs::path palette_output;
    std::string palette_format;
    CLI::App* palette_command = app.add_subcommand("palette", "Write the 256 device colours as a palette");
    add_path(palette_command, "-o,--output", palette_output,
             "The file to write (default: skin-palette.FORMAT)");
    palette_command
        ->add_option("--format", palette_format, "gpl, act, pal or png (default: from the file name, or gpl)")
        ->check(CLI::IsMember({"gpl", "act", "pal", "png"}));

    fs::path unpack_skin;
    fs::path unpack_folder = ".";
    fs::path unpack_output = "skin-unpacked";
    CLI::App* unpack_command = app.add_subcommand("unpack", "Cut a skin file back into one PNG per image");
    add_path(unpack_command, "SKIN", unpack_skin, "The skin file")->required();
    add_path(unpack_command, "DIR", unpack_folder,
             "The folder of the images it was built from (default: here)")
        ->check(existing_folder);
    add_path(unpack_command, "-o,--output", unpack_output, "Where the PNGs go (default: skin-unpacked)");

    import_options import;
    CLI::App* import_command = app.add_subcommand(
        "import", "Make any artwork (PNG, JPEG, GIF, TGA, BMP) into a BMP that skinpack takes");
    add_path(import_command, "SRC", import.sources, "The images to import, in order")->required();
    add_path(import_command, "--into", import.into, "The skin folder to add them to (default: here)")
        ->check(existing_folder);
    import_command->add_option("--as", import.as, "picture or icon (default: icons for 16x16 results)")
        ->check(CLI::IsMember({"picture", "icon"}));
    import_command->add_option("--start", import.start,
                               "The first index to write (default: the first missing one of the series)");
    add_path(import_command, "-o,--output", import.output, "The file to write, for a single source");
    import_command->add_option("--size", import.size, "Scale sources of other sizes to fit 16x16 or 128x128")
        ->check(CLI::IsMember({16, 128}));
    std::string dither = "none";
    import_command
        ->add_option("--dither", dither,
                     "none (default), floyd-steinberg, ordered or refined; none and ordered keep still "
                     "pixels of animation frames steady, refined keeps them but near what moved, "
                     "floyd-steinberg does not. refined searches the ordered pattern for the least "
                     "error the eye sees: the closest, for final art, at up to a tenth of a second "
                     "a 128x128 frame")
        ->check(CLI::IsMember({"none", "floyd-steinberg", "ordered", "refined"}));
    import_command->add_option("--background", import.background,
                               "The colour under transparent pixels, RRGGBB (default: 000000)");
    import_command->add_option("--key", import.key,
                               "A device colour, RRGGBB, that fully transparent pixels take and no other "
                               "pixel does");
    import_command->add_flag("--force", import.force, "Replace files that exist");

    fs::path index_folder = ".";
    fs::path index_output;
    std::string index_format;
    CLI::App* index_command =
        app.add_subcommand("index", "Write where each image lies in the skin, as a C header or JSON");
    add_path(index_command, "DIR", index_folder, "The skin folder (default: here)")->check(existing_folder);
    add_path(index_command, "-o,--output", index_output, "The file to write (default: stdout)");
    index_command->add_option("--format", index_format, "c or json (default: from the file name, or c)")
        ->check(CLI::IsMember({"c", "json"}));

    build_command build;
    CLI::App* build_command_line = app.add_subcommand(
        "build", "Build a skin project (skin.toml) into the numbered BMPs, skin.skn, skin.h and skin.json");
    add_path(build_command_line, "DIR", build.project,
             "The project's folder, or its project file (default: here)")
        ->check(existing_path);
    add_path(build_command_line, "--out", build.options.out,
             "Where the outputs go (default: the project's folder)");
    build_command_line->add_flag("--embed", build.options.embed,
                                 "Also write skin_data.c, the skin as a C array");
    add_path(build_command_line, "--depfile", build.options.depfile,
             "Write the outputs' dependencies there, in Makefile syntax");
    add_path(build_command_line, "--stamp", build.options.stamp,
             "Rewrite this file on every build, and name it first in the depfile");
    build_command_line->add_flag("--force", build.options.force,
                                 "Replace or remove files in the way that build did not write");
    build_command_line->add_flag("--watch", build.watch,
                                 "Build again whenever the project or a source changes");

    fs::path init_folder = ".";
    CLI::App* init_command =
        app.add_subcommand("init", "Write a skin.toml for a folder of numbered BMPs, taking each as it is");
    add_path(init_command, "DIR", init_folder, "The skin folder (default: here)")->check(existing_folder);

    studio_options studio;
    bool no_browser = false;
    CLI::App* studio_command = app.add_subcommand(
        "studio", "Open the skin project in a page of the browser, live, on this computer only");
    add_path(studio_command, "DIR", studio.folder, "The project folder (default: here)")
        ->check(existing_folder);
    studio_command->add_option("--port", studio.port, "The port to listen on (default: any free one)")
        ->check(CLI::Range(1, 65535));
    studio_command->add_flag("--no-browser", no_browser, "Print the address but open no browser");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? status_ok : status_usage;
    }
    if (app.get_subcommands().empty()) {
        std::cerr << "A subcommand is required\n" << app.help();
        return status_usage;
    }
    if (*check_command)
        return run_check(check_folder);
    if (*preview_command)
        return run_preview(view);
    if (*palette_command)
        return run_palette(palette_output, palette_format);
    if (*import_command) {
        import.dither = dither == "refined"           ? dither_method::refined
                        : dither == "ordered"         ? dither_method::ordered
                        : dither == "floyd-steinberg" ? dither_method::floyd_steinberg
                                                      : dither_method::none;
        return run_import(import);
    }
    if (*studio_command) {
        studio.open_browser = !no_browser;
        return run_studio(studio);
    }
    if (*index_command)
        return run_index(index_folder, index_output, index_format);
    if (*build_command_line)
        return run_build(build);
    if (*init_command)
        return run_init(init_folder);
    return run_unpack(unpack_skin, unpack_folder, unpack_output);
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
