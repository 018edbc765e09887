// skinview: the command line of each subcommand, wired to the routine that carries it out.
#include <CLI/CLI.hpp>

#include <iostream>

#include "view/check.h"
#include "view/palette.h"
#include "view/preview.h"
#include "view/status.h"
#include "view/unpack.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    CLI::App app{"Checks a skin folder, previews its skin, and gives the device palette."};
    app.set_version_flag("--version", "skinview " SKINPACK_VERSION);
    app.require_subcommand(0, 1); // so that a mistyped command is named in the error

    fs::path check_folder = ".";
    CLI::App* check_command = app.add_subcommand("check", "Diagnose every image of a skin folder");
    check_command->add_option("DIR", check_folder, "The skin folder (default: here)")
        ->check(CLI::ExistingDirectory);

    preview_options view;
    CLI::App* preview_command =
        app.add_subcommand("preview", "Render the skin as the device shows it, as a PNG");
    preview_command->add_option("DIR", view.folder, "The skin folder (default: here)")
        ->check(CLI::ExistingDirectory);
    preview_command->add_option("-o,--output", view.output, "The PNG to write (default: skin-preview.png)");
    preview_command->add_option("--scale", view.scale, "Pixels per image pixel (default: 2)")
        ->check(CLI::Range(1, 16));
    preview_command->add_flag("--compare", view.compare, "Put each original beside its converted version");

    fs::path palette_output;
    std::string palette_format;
    CLI::App* palette_command = app.add_subcommand("palette", "Write the 256 device colours as a palette");
    palette_command->add_option("-o,--output", palette_output,
                                "The file to write (default: skin-palette.FORMAT)");
    palette_command
        ->add_option("--format", palette_format, "gpl, act, pal or png (default: from the file name, or gpl)")
        ->check(CLI::IsMember({"gpl", "act", "pal", "png"}));

    fs::path unpack_skin;
    fs::path unpack_folder = ".";
    fs::path unpack_output = "skin-unpacked";
    CLI::App* unpack_command = app.add_subcommand("unpack", "Cut a skin file back into one PNG per image");
    unpack_command->add_option("SKIN", unpack_skin, "The skin file")->required();
    unpack_command
        ->add_option("DIR", unpack_folder, "The folder of the images it was built from (default: here)")
        ->check(CLI::ExistingDirectory);
    unpack_command->add_option("-o,--output", unpack_output, "Where the PNGs go (default: skin-unpacked)");

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
    return run_unpack(unpack_skin, unpack_folder, unpack_output);
}
