// skinview palette: picks the format and the file name, then writes the device colours.
#include "view/commands/palette.h"

#include <cstdio>
#include <memory>

#include "support/utf8_path.h"
#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/render.h"
#include "view/common/status.h"
#include "view/project/project.h"

namespace fs = std::filesystem;

int run_palette(std::filesystem::path output, std::string format)
{
    if (format.empty()) {
        const std::string extension = utf8_from_path(output.extension());
        format = extension.empty() ? "gpl" : extension.substr(1);
    }
    if (format != "gpl" && format != "act" && format != "pal" && format != "png") {
        std::fprintf(stderr, "skinview: unknown palette format %s: use gpl, act, pal or png\n",
                     format.c_str());
        return status_usage;
    }
    // In a project folder, the colours that its panel shows, so that paint programs show them.
    panel_levels panel;
    if (std::vector<project_problem> problems; !folder_panel(".", panel, problems)) {
        for (const project_problem& problem : problems)
            std::fprintf(stderr, "%s\n", problem_line(problem).c_str());
        return status_problems;
    }
    if (output.empty())
        output = "skin-palette." + format;
    if (!save_palette(output, format, panel)) {
        std::fprintf(stderr, "skinview: cannot write %s\n", printable_path(output).c_str());
        return status_problems;
    }
    std::printf("%s: the 256 device colours%s (%s)\n", printable_path(output).c_str(),
                panel != standard_panel() ? " as the [panel] of skin.toml gives them" : "", format.c_str());
    return status_ok;
}

namespace {

// What the palette command line gives.
struct palette_arguments {
    fs::path output;
    std::string format;
};

} // namespace

void add_palette_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto given = std::make_shared<palette_arguments>();
    CLI::App* command = app.add_subcommand("palette", "Write the 256 device colours as a palette");
    add_path(command, "-o,--output", given->output, "The file to write (default: skin-palette.FORMAT)");
    command
        ->add_option("--format", given->format, "gpl, act, pal or png (default: from the file name, or gpl)")
        ->check(CLI::IsMember({"gpl", "act", "pal", "png"}));
    command->callback(
        [given, &chosen] { chosen = [given] { return run_palette(given->output, given->format); }; });
}
