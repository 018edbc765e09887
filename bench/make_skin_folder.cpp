// Fills a folder with numbered 128x128 pictures and 16x16 icons, for the example and benchmark.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "skin/bmp_writer.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_skin_folder DIR PICTURES ICONS\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const auto pictures = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    const auto icons = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    std::filesystem::create_directories(folder);
    char name[32];
    for (unsigned i = 0; i < pictures; ++i) {
        std::snprintf(name, sizeof name, "bmp%u.bmp", i);
        write_file(folder / name, bmp_bytes(sample_image(128, i)));
    }
    for (unsigned i = 0; i < icons; ++i) {
        std::snprintf(name, sizeof name, "icon%02u.bmp", i);
        write_file(folder / name, bmp_bytes(sample_image(16, i)));
    }
    return 0;
}
