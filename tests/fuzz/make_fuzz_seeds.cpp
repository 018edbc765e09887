// Writes the fuzzer's seed corpus: small valid and nearly valid BMPs of every layout, BMPs of
// the other forms that import reads, PNG, JPEG and TGA images, and animated GIFs that use every
// disposal method, interlacing, transparency and frames outside the canvas.
#include <stb/stb_image_write.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "skin/bmp_writer.h"
#include "tests/gif_writer.h"

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
    std::vector<std::uint8_t> rgba(16 * 16 * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<std::uint8_t>(i % 4 == 3 ? (i * 5) | 0x80 : i * 7);
    for (const bmp_form& form :
         {bmp_form{"rle8", 8, 1}, bmp_form{"rle4", 4, 2}, bmp_form{"core", 8, 0, 12}, bmp_form{"one_bit", 1},
          bmp_form{"fields", 16, 3}, bmp_form{"alpha", 32, 3, 108, false, true},
          bmp_form{"top_down", 24, 0, 40, true}}) {
        std::vector<std::uint8_t> limited = rgba;
        for (std::size_t i = 0; i < limited.size(); ++i) // few enough colours for any palette
            limited[i] = form.bit_count <= 4 ? (i / 4 % 2 ? 255 : 0) : limited[i];
        if (form.bit_count == 8)
            for (std::size_t i = 0; i < limited.size(); ++i)
                limited[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 255 : i / 4 % 200);
        write_file(folder / (std::string("form-") + form.name + ".bmp"), encode_bmp(limited, 16, 16, form));
    }
    const auto save_encoded = [](void* context, void* data, int size) {
        auto* path = static_cast<std::filesystem::path*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        write_file(*path, {bytes, bytes + size});
    };
    std::filesystem::path path = folder / "rgba.png";
    stbi_write_png_to_func(save_encoded, &path, 16, 16, 4, rgba.data(), 64);
    path = folder / "rgb.jpg";
    stbi_write_jpg_to_func(save_encoded, &path, 16, 16, 4, rgba.data(), 90);
    path = folder / "rgba.tga";
    stbi_write_tga_to_func(save_encoded, &path, 16, 16, 4, rgba.data());
    for (const auto& [name, bytes] : sample_gifs())
        write_file(folder / name, bytes);
    return 0;
}
