// BMP writer: the file and information headers, a colour table, then the rows.
#include "skin/bmp_writer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "skin/bmp_format.h"

namespace {

void put_le(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The signature and the fields that every form shares.
void put_file_header(std::vector<std::uint8_t>& out, std::uint32_t header_size, std::size_t pixel_offset)
{
    out[bmp_signature_at] = 'B';
    out[bmp_signature_at + 1] = 'M';
    put_le(out, bmp_file_size_at, static_cast<std::uint32_t>(out.size()), 4);
    put_le(out, bmp_pixel_offset_at, static_cast<std::uint32_t>(pixel_offset), 4);
    put_le(out, bmp_header_size_at, header_size, 4);
}

void push_le(std::vector<std::uint8_t>& out, std::uint32_t value, int width)
{
    out.resize(out.size() + static_cast<std::size_t>(width));
    put_le(out, out.size() - static_cast<std::size_t>(width), value, width);
}

// One row of palette indices, run-length coded: runs of equal pixels, and on odd rows a literal
// run in front, so that both forms of the code are exercised.
void push_rle_row(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& row, bool four,
                  bool literal)
{
    std::size_t x = 0;
    if (literal && row.size() >= 3) {
        const std::size_t count = std::min<std::size_t>(row.size(), 255);
        out.push_back(0);
        out.push_back(static_cast<std::uint8_t>(count));
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < count; ++i) {
            if (!four)
                bytes.push_back(row[i]);
            else if (i % 2 == 0)
                bytes.push_back(static_cast<std::uint8_t>(row[i] << 4));
            else
                bytes.back() = static_cast<std::uint8_t>(bytes.back() | row[i]);
        }
        if (bytes.size() % 2 != 0)
            bytes.push_back(0);
        out.insert(out.end(), bytes.begin(), bytes.end());
        x = count;
    }
    while (x < row.size()) {
        std::size_t run = 1;
        while (x + run < row.size() && row[x + run] == row[x] && run < 255)
            ++run;
        out.push_back(static_cast<std::uint8_t>(run));
        out.push_back(four ? static_cast<std::uint8_t>(row[x] << 4 | row[x]) : row[x]);
        x += run;
    }
    out.push_back(0);
    out.push_back(0);
}

} // namespace

std::vector<std::uint8_t> encode_bmp(const std::vector<std::uint8_t>& rgba, int width, int height,
                                     const bmp_form& form)
{
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const bool core = form.header_size == bmp_core_header_size;
    const bool palettised = form.bit_count <= 8;
    std::vector<std::array<std::uint8_t, 4>> palette;
    std::vector<std::uint8_t> indices(w * h);
    for (std::size_t i = 0; palettised && i < w * h; ++i) {
        const std::array<std::uint8_t, 4> colour{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], 255};
        auto found = std::find(palette.begin(), palette.end(), colour);
        if (found == palette.end())
            found = palette.insert(palette.end(), colour);
        indices[i] = static_cast<std::uint8_t>(found - palette.begin());
    }
    if (palette.size() > (std::size_t{1} << form.bit_count))
        throw std::invalid_argument("too many colours for the form");
    // Headers without a count of colours used (the OS/2 forms) carry a full table.
    if (form.header_size < bmp_info_header_size && palettised)
        palette.resize(std::size_t{1} << form.bit_count);

    // Bit fields: 5-6-5 for 16 bits, and an alpha mask in the top byte for 32 with alpha.
    const std::array<std::uint32_t, 4> masks =
        form.bit_count == 16
            ? std::array<std::uint32_t, 4>{0xF800, 0x07E0, 0x001F, 0}
            : std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, form.alpha ? 0xFF000000 : 0};
    const bool fields = form.compression == bmp_bit_fields || form.compression == bmp_alpha_bit_fields;

    std::vector<std::uint8_t> pixels;
    const std::size_t stride = (w * form.bit_count + 31) / 32 * 4;
    for (std::size_t stored = 0; stored < h; ++stored) {
        const std::size_t y = form.top_down ? stored : h - 1 - stored;
        if (form.compression == bmp_rle8 || form.compression == bmp_rle4) {
            const std::vector<std::uint8_t> row(indices.begin() + static_cast<std::ptrdiff_t>(y * w),
                                                indices.begin() + static_cast<std::ptrdiff_t>((y + 1) * w));
            push_rle_row(pixels, row, form.compression == bmp_rle4, stored % 2 == 1);
            continue;
        }
        std::vector<std::uint8_t> row(stride);
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* p = &rgba[4 * (y * w + x)];
            if (palettised) {
                const std::size_t bit = x * form.bit_count;
                row[bit / 8] = static_cast<std::uint8_t>(
                    row[bit / 8] | indices[y * w + x] << (8 - form.bit_count - bit % 8));
            } else if (form.bit_count == 24) {
                row[3 * x] = p[2];
                row[3 * x + 1] = p[1];
                row[3 * x + 2] = p[0];
            } else {
                std::uint32_t value = 0;
                if (form.bit_count == 16 && fields)
                    value = static_cast<std::uint32_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
                else if (form.bit_count == 16)
                    value = static_cast<std::uint32_t>((p[0] >> 3) << 10 | (p[1] >> 3) << 5 | p[2] >> 3);
                else
                    value = static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[0]) << 16 |
                            static_cast<std::uint32_t>(p[1]) << 8 | p[2];
                std::vector<std::uint8_t> bytes;
                push_le(bytes, value, form.bit_count / 8);
                std::copy(bytes.begin(), bytes.end(),
                          row.begin() + static_cast<std::ptrdiff_t>(x * bytes.size()));
            }
        }
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    if (form.compression == bmp_rle8 || form.compression == bmp_rle4) {
        pixels.push_back(0);
        pixels.push_back(1);
    }

    std::vector<std::uint8_t> out(static_cast<std::size_t>(bmp_file_header_size + form.header_size));
    if (core) {
        put_le(out, bmp_core_width_at, static_cast<std::uint32_t>(width), 2);
        put_le(out, bmp_core_height_at, static_cast<std::uint32_t>(height), 2);
        put_le(out, bmp_core_planes_at, 1, 2);
        put_le(out, bmp_core_bit_count_at, form.bit_count, 2);
    } else {
        // Masks sit right behind the 40 bytes, inside a larger header or after a 40-byte one.
        const bool masks_follow = fields || form.header_size > bmp_info_header_size;
        const std::size_t mask_count =
            !masks_follow                                                                         ? 0
            : form.compression == bmp_alpha_bit_fields || form.header_size > bmp_info_header_size ? 4
                                                                                                  : 3;
        out.resize(std::max<std::size_t>(out.size(), bmp_channel_masks_at + 4 * mask_count));
        put_le(out, bmp_width_at, static_cast<std::uint32_t>(width), 4);
        put_le(out, bmp_height_at, static_cast<std::uint32_t>(form.top_down ? -height : height), 4);
        put_le(out, bmp_planes_at, 1, 2);
        put_le(out, bmp_bit_count_at, form.bit_count, 2);
        put_le(out, bmp_compression_at, form.compression, 4);
        put_le(out, bmp_image_size_at, static_cast<std::uint32_t>(pixels.size()), 4);
        put_le(out, bmp_x_resolution_at, 2835, 4);
        put_le(out, bmp_y_resolution_at, 2835, 4);
        put_le(out, bmp_colours_used_at, static_cast<std::uint32_t>(palette.size()), 4);
        for (std::size_t c = 0; c < mask_count; ++c)
            put_le(out, bmp_channel_masks_at + 4 * c, fields ? masks[c] : 0, 4);
        // A shorter header (the 16-byte OS/2 form) keeps only the fields that fit in it.
        if (form.header_size < bmp_info_header_size)
            out.resize(bmp_file_header_size + form.header_size);
    }
    for (const std::array<std::uint8_t, 4>& colour : palette) {
        out.push_back(colour[2]);
        out.push_back(colour[1]);
        out.push_back(colour[0]);
        if (!core)
            out.push_back(0);
    }
    const std::size_t pixel_offset = out.size();
    out.insert(out.end(), pixels.begin(), pixels.end());
    put_file_header(out, form.header_size, pixel_offset);
    return out;
}

std::vector<std::uint8_t> bmp_bytes(const bmp_image& image)
{
    const auto width = static_cast<std::size_t>(std::abs(image.width));
    const auto rows = static_cast<std::size_t>(std::abs(image.height));
    const auto table_offset = static_cast<std::size_t>(bmp_file_header_size + image.header_size);
    const std::size_t pixel_offset = table_offset + 4 * image.palette.size() + image.gap;
    std::vector<std::uint8_t> pixels = image.pixels;
    pixels.resize(width * rows);

    std::vector<std::uint8_t> out(pixel_offset + pixels.size());
    put_file_header(out, image.header_size, pixel_offset);
    put_le(out, bmp_width_at, static_cast<std::uint32_t>(image.width), 4);
    put_le(out, bmp_height_at, static_cast<std::uint32_t>(image.height), 4);
    put_le(out, bmp_planes_at, 1, 2);
    put_le(out, bmp_bit_count_at, image.bit_count, 2);
    put_le(out, bmp_compression_at, image.compression, 4);
    put_le(out, bmp_image_size_at, static_cast<std::uint32_t>(pixels.size()), 4);
    put_le(out, bmp_colours_used_at, static_cast<std::uint32_t>(image.palette.size()), 4);
    for (std::size_t i = 0; i < image.palette.size(); ++i) {
        const std::size_t at = table_offset + bmp_colour_entry_size * i;
        out[at] = image.palette[i].blue;
        out[at + 1] = image.palette[i].green;
        out[at + 2] = image.palette[i].red;
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
