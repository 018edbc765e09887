// Rendering 3-3-2 pixels: colour expansion, a tiny label font, and PNG and palette output.
#include "view/common/render.h"

#include <stb/stb_image_write.h>

#include <string_view>

#include "skin/colour_332.h"
#include "support/file_io.h"

namespace {

// Digits 0-9, then the letters of "bmpicon", the other letters, and "/-_.": five rows of three
// bits each.
constexpr std::array<std::array<std::uint8_t, 5>, 40> glyphs{{
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {4, 4, 7, 5, 7}, {0, 7, 7, 5, 5},
    {0, 7, 5, 7, 4}, {2, 0, 2, 2, 2}, {0, 7, 4, 4, 7}, {0, 7, 5, 5, 7}, {0, 6, 5, 5, 5}, // b m p i c o n
    {0, 6, 1, 5, 7}, {1, 1, 7, 5, 7}, {0, 7, 7, 4, 7}, {3, 4, 6, 4, 4}, {0, 7, 4, 5, 7}, // a d e f g
    {4, 4, 7, 5, 5}, {1, 0, 1, 5, 7}, {4, 5, 6, 5, 5}, {4, 4, 4, 4, 3}, {0, 7, 5, 7, 1}, // h j k l q
    {0, 7, 4, 4, 4}, {0, 3, 4, 1, 6}, {2, 7, 2, 2, 3}, {0, 5, 5, 5, 7}, {0, 5, 5, 5, 2}, // r s t u v
    {0, 5, 5, 7, 7}, {0, 5, 2, 2, 5}, {0, 5, 7, 1, 6}, {0, 7, 2, 4, 7},                  // w x y z
    {1, 1, 2, 4, 4}, {0, 0, 7, 0, 0}, {0, 0, 0, 0, 7}, {0, 0, 0, 0, 2},                  // / - _ .
}};

int glyph_index(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    const std::string_view letters = "bmpicon"
                                     "adefghjklqrstuvwxyz/-_.";
    const std::size_t at = letters.find(c);
    return at == std::string_view::npos ? -1 : 10 + static_cast<int>(at);
}

void fill(canvas& sheet, int x, int y, int size, std::array<std::uint8_t, 3> colour)
{
    for (int row = y; row < y + size && row < sheet.height; ++row)
        for (int column = x; column < x + size && column < sheet.width; ++column)
            std::copy(colour.begin(), colour.end(),
                      sheet.rgb.begin() + (static_cast<std::ptrdiff_t>(row) * sheet.width + column) * 3);
}

} // namespace

canvas make_canvas(int width, int height, std::array<std::uint8_t, 3> background)
{
    canvas sheet{width, height, {}};
    sheet.rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (std::size_t i = 0; i < sheet.rgb.size(); i += 3)
        std::copy(background.begin(), background.end(), sheet.rgb.begin() + static_cast<std::ptrdiff_t>(i));
    return sheet;
}

void draw_image(canvas& sheet, std::span<const std::uint8_t> rgb, int side, int x, int y, int scale)
{
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const std::size_t at = (static_cast<std::size_t>(row) * static_cast<std::size_t>(side) +
                                    static_cast<std::size_t>(column)) *
                                   3;
            fill(sheet, x + column * scale, y + row * scale, scale, {rgb[at], rgb[at + 1], rgb[at + 2]});
        }
    }
}

void draw_label(canvas& sheet, const std::string& text, int x, int y, int scale)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int glyph = glyph_index(text[i]);
        if (glyph < 0)
            continue;
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 3; ++column)
                if (glyphs[static_cast<std::size_t>(glyph)][static_cast<std::size_t>(row)] >> (2 - column) &
                    1)
                    fill(sheet, x + (static_cast<int>(i) * 4 + column) * scale, y + row * scale, scale,
                         {255, 255, 255});
    }
}

std::vector<std::uint8_t> block_to_rgb(std::span<const std::uint8_t> block, const panel_levels& panel)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(block.size() * 3);
    for (const std::uint8_t pixel : block) {
        const std::array<std::uint8_t, 3> colour = panel_colour(panel, pixel);
        rgb.insert(rgb.end(), colour.begin(), colour.end());
    }
    return rgb;
}

std::vector<std::uint8_t> png_file(int width, int height, int channels, std::span<const std::uint8_t> pixels)
{
    std::vector<std::uint8_t> png;
    const auto append = [](void* context, void* data, int size) {
        auto& out = *static_cast<std::vector<std::uint8_t>*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out.insert(out.end(), bytes, bytes + size);
    };
    if (stbi_write_png_to_func(append, &png, width, height, channels, pixels.data(), width * channels) == 0)
        png.clear();
    return png;
}

bool save_png(const std::filesystem::path& path, const canvas& picture)
{
    const std::vector<std::uint8_t> png = png_file(picture.width, picture.height, 3, picture.rgb);
    return !png.empty() && replace_file(path, png) == save_outcome::saved;
}

std::vector<std::uint8_t> palette_file(const std::string& format, const panel_levels& panel)
{
    if (format == "png") {
        constexpr int swatch = 16;
        canvas grid = make_canvas(16 * swatch, 16 * swatch, {0, 0, 0});
        for (int i = 0; i < 256; ++i)
            fill(grid, i % 16 * swatch, i / 16 * swatch, swatch,
                 panel_colour(panel, static_cast<std::uint8_t>(i)));
        return png_file(grid.width, grid.height, 3, grid.rgb);
    }
    if (format != "gpl" && format != "act" && format != "pal")
        return {};
    std::string out;
    if (format == "gpl")
        out = "GIMP Palette\nName: 3-3-2 device colours\nColumns: 16\n#\n";
    else if (format == "pal")
        out = "JASC-PAL\r\n0100\r\n256\r\n";
    for (int i = 0; i < 256; ++i) {
        const std::array<std::uint8_t, 3> c = panel_colour(panel, static_cast<std::uint8_t>(i));
        const std::string channels =
            std::to_string(c[0]) + ' ' + std::to_string(c[1]) + ' ' + std::to_string(c[2]);
        if (format == "act")
            out.append(c.begin(), c.end());
        else if (format == "pal")
            out += channels + "\r\n";
        else
            out += channels + '\t' + std::to_string(i) + '\n';
    }
    return {out.begin(), out.end()};
}

bool save_palette(const std::filesystem::path& path, const std::string& format, const panel_levels& panel)
{
    const std::vector<std::uint8_t> bytes = palette_file(format, panel);
    return !bytes.empty() && replace_file(path, bytes) == save_outcome::saved;
}
