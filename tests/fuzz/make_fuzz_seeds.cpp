// Writes the fuzzer's seed corpus: small valid and nearly valid BMPs of every layout.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/bmp_writer.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    int count = 0;
    const auto save = [&](const bmp_image& image) {
        write_file(folder / ("seed" + std::to_string(count++) + ".bmp"), bmp_bytes(image));
    };
    for (const std::int32_t side : {16, 128}) {
        for (const std::uint32_t header_size : {40u, 108u, 124u}) {
            bmp_image image = sample_image(side, static_cast<unsigned>(count));
            image.header_size = header_size;
            save(image);

            bmp_image short_table{.width = side, .height = side, .header_size = header_size};
            short_table.palette = {{10, 200, 30}, {250, 5, 128}};
            short_table.pixels.assign(static_cast<std::size_t>(side * side), 1);
            short_table.gap = 7; // bytes between the table and the pixels
            save(short_table);

            for (const bmp_image& refused :
                 {bmp_image{.width = side, .height = -side, .header_size = header_size},
                  bmp_image{.width = side, .height = side, .compression = 1, .header_size = header_size},
                  bmp_image{.width = side, .height = side, .bit_count = 24, .header_size = header_size}})
                save(refused);
        }
    }
    return 0;
}
