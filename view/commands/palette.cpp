// skinview palette: picks the format and the file name, then writes the device colours.
#include "view/commands/palette.h"

#include <cstdio>

#include "support/utf8_path.h"
#include "support/utf8_text.h"
#include "view/common/render.h"
#include "view/common/status.h"

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
    if (output.empty())
        output = "skin-palette." + format;
    if (!save_palette(output, format)) {
        std::fprintf(stderr, "skinview: cannot write %s\n", printable_path(output).c_str());
        return status_problems;
    }
    std::printf("%s: the 256 device colours (%s)\n", printable_path(output).c_str(), format.c_str());
    return status_ok;
}
