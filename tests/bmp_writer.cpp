// BMP writer for tests: the file and information headers, a colour table, then the rows.
#include "tests/bmp_writer.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace {

void put_le(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

std::vector<std::uint8_t> bmp_bytes(const bmp_image& image)
{
    const auto width = static_cast<std::size_t>(std::abs(image.width));
    const auto rows = static_cast<std::size_t>(std::abs(image.height));
    const std::size_t table_offset = 14 + image.header_size;
    const std::size_t pixel_offset = table_offset + 4 * image.palette.size() + image.gap;
    std::vector<std::uint8_t> pixels = image.pixels;
    pixels.resize(width * rows);

    std::vector<std::uint8_t> out(pixel_offset + pixels.size());
    out[0] = 'B';
    out[1] = 'M';
    put_le(out, 2, static_cast<std::uint32_t>(out.size()), 4);
    put_le(out, 10, static_cast<std::uint32_t>(pixel_offset), 4);
    put_le(out, 14, image.header_size, 4);
    put_le(out, 18, static_cast<std::uint32_t>(image.width), 4);
    put_le(out, 22, static_cast<std::uint32_t>(image.height), 4);
    put_le(out, 26, 1, 2);
    put_le(out, 28, image.bit_count, 2);
    put_le(out, 30, image.compression, 4);
    put_le(out, 34, static_cast<std::uint32_t>(pixels.size()), 4);
    put_le(out, 46, static_cast<std::uint32_t>(image.palette.size()), 4);
    for (std::size_t i = 0; i < image.palette.size(); ++i) {
        out[table_offset + 4 * i] = image.palette[i].blue;
        out[table_offset + 4 * i + 1] = image.palette[i].green;
        out[table_offset + 4 * i + 2] = image.palette[i].red;
    }
    for (std::size_t row = 0; row < rows; ++row) {
        const std::size_t stored = image.height < 0 ? row : rows - 1 - row;
        for (std::size_t column = 0; column < width; ++column)
            out[pixel_offset + stored * width + column] = pixels[row * width + column];
    }
    return out;
}

std::vector<rgb> identity_palette()
{
    std::vector<rgb> palette(256);
    for (unsigned i = 0; i < 256; ++i)
        palette[i] = {static_cast<std::uint8_t>(i & 0xE0), static_cast<std::uint8_t>((i << 3) & 0xE0),
                      static_cast<std::uint8_t>((i << 6) & 0xC0)};
    return palette;
}

bmp_image sample_image(std::int32_t side, unsigned seed)
{
    bmp_image image{.width = side, .height = side, .palette = identity_palette()};
    const auto count = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    image.pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t row = i / static_cast<std::size_t>(side);
        const std::size_t column = i % static_cast<std::size_t>(side);
        image.pixels[i] = static_cast<std::uint8_t>(row * 2 + column + seed * 37);
    }
    return image;
}

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush())
        throw std::runtime_error("cannot write " + path.string());
}
