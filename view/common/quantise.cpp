// Colour reduction to 3-3-2: nearest device levels, Floyd-Steinberg or Bayer dithering.
#include "view/common/quantise.h"

#include <stb/stb_image_resize.h>

#include <algorithm>
#include <cmath>

#include "skin/colour_332.h"
#include "view/common/render.h"

namespace {

// A channel's device levels (8 for red and green, 4 for blue), as the device expands them.
struct levels {
    int count = 0;
    std::array<int, 8> value{};
    std::array<std::uint8_t, 256> nearest{}; // the level closest to each 8-bit value
};

levels make_levels(int bits)
{
    levels l;
    l.count = 1 << bits;
    for (int v = 0; v < l.count; ++v)
        l.value[static_cast<std::size_t>(v)] = device_level(bits, static_cast<unsigned>(v));
    // The levels rise, so the nearest one only moves up as the value does; a tie takes the lower.
    std::size_t level = 0;
    for (int x = 0; x < 256; ++x) {
        while (static_cast<int>(level) + 1 < l.count && l.value[level + 1] - x < x - l.value[level])
            ++level;
        l.nearest[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(level);
    }
    return l;
}

const std::array<levels, 3>& device_levels()
{
    static const std::array<levels, 3> all{make_levels(channel_bits_332[0]), make_levels(channel_bits_332[1]),
                                           make_levels(channel_bits_332[2])};
    return all;
}

// The level of a value that dithering may have pushed out of range.
int level_of(const levels& l, int value)
{
    return l.nearest[static_cast<std::size_t>(std::clamp(value, 0, 255))];
}

std::uint8_t pack(const std::array<int, 3>& level)
{
    return pack_levels_332(static_cast<unsigned>(level[0]), static_cast<unsigned>(level[1]),
                           static_cast<unsigned>(level[2]));
}

// The 8x8 Bayer threshold of (x, y), from 0 to 63.
int bayer(std::size_t x, std::size_t y)
{
    int value = 0;
    for (int bit = 2; bit >= 0; --bit) {
        const std::size_t xb = x >> (2 - bit) & 1;
        const std::size_t yb = y >> (2 - bit) & 1;
        value |= static_cast<int>((xb ^ yb) << 1 | yb) << (2 * bit);
    }
    return value;
}

// `value` / `divisor` to the nearest whole, halves away from zero, so that errors of either sign
// weigh alike: rounding negative ones toward zero would lighten every dithered tone.
int rounded_quotient(int value, int divisor)
{
    return (value >= 0 ? value + divisor / 2 : value - divisor / 2) / divisor;
}

void floyd_steinberg(std::span<const std::uint8_t> rgb, std::size_t width, std::size_t height,
                     std::vector<std::uint8_t>& out)
{
    const std::array<levels, 3>& all = device_levels();
    // Errors carried in 256ths of a unit, with a guard pixel on each side of the row: each error
    // is taken in sixteenths and spread by weights in sixteenths, so that no fraction of it is
    // dropped on the way, as whole-unit errors would drop it (by up to 0.4 of a unit on a flat tone).
    constexpr int unit = 256;
    std::vector<int> here((width + 2) * 3);
    std::vector<int> below((width + 2) * 3);
    for (std::size_t y = 0; y < height; ++y) {
        const bool forward = y % 2 == 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t x = forward ? i : width - 1 - i;
            const std::size_t at = y * width + x;
            const std::size_t e = (x + 1) * 3; // this pixel in the error rows
            const std::size_t ahead = forward ? e + 3 : e - 3;
            const std::size_t behind = forward ? e - 3 : e + 3;
            std::array<int, 3> level{};
            for (std::size_t c = 0; c < 3; ++c) {
                const int wanted = std::clamp(rgb[at * 3 + c] * unit + here[e + c], 0, 255 * unit);
                level[c] = level_of(all[c], rounded_quotient(wanted, unit));
                const int shown = all[c].value[static_cast<std::size_t>(level[c])] * unit;
                const int error = rounded_quotient(wanted - shown, unit / 16);
                here[ahead + c] += error * 7;
                below[behind + c] += error * 3;
                below[e + c] += error * 5;
                below[ahead + c] += error;
            }
            out[at] = pack(level);
        }
        here.swap(below);
        std::fill(below.begin(), below.end(), 0);
    }
}

} // namespace

std::vector<std::uint8_t> flatten(const rgba_image& image, rgb_colour background)
{
    const std::span<const std::uint8_t> rgba = rgba_bytes(image);
    const std::size_t pixels = rgba.size() / 4;
    std::vector<std::uint8_t> rgb(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned alpha = rgba[i * 4 + 3];
        for (std::size_t c = 0; c < 3; ++c)
            rgb[i * 3 + c] = static_cast<std::uint8_t>(
                (rgba[i * 4 + c] * alpha + background[c] * (255 - alpha) + 127) / 255);
    }
    return rgb;
}

std::vector<std::uint8_t> fit_square(std::span<const std::uint8_t> rgb, int width, int height, int side,
                                     rgb_colour background)
{
    const double scale = std::min(static_cast<double>(side) / width, static_cast<double>(side) / height);
    const int out_width = std::clamp(static_cast<int>(std::lround(width * scale)), 1, side);
    const int out_height = std::clamp(static_cast<int>(std::lround(height * scale)), 1, side);
    std::vector<std::uint8_t> scaled(static_cast<std::size_t>(out_width) *
                                     static_cast<std::size_t>(out_height) * 3);
    stbir_resize_uint8(rgb.data(), width, height, 0, scaled.data(), out_width, out_height, 0, 3);

    const auto size = static_cast<std::size_t>(side);
    std::vector<std::uint8_t> square = make_canvas(side, side, background).rgb;
    const auto left = static_cast<std::size_t>((side - out_width) / 2);
    const auto top = static_cast<std::size_t>((side - out_height) / 2);
    const std::size_t row_bytes = static_cast<std::size_t>(out_width) * 3;
    for (std::size_t y = 0; y < static_cast<std::size_t>(out_height); ++y)
        std::copy_n(scaled.begin() + static_cast<std::ptrdiff_t>(y * row_bytes), row_bytes,
                    square.begin() + static_cast<std::ptrdiff_t>(((top + y) * size + left) * 3));
    return square;
}

std::vector<std::uint8_t> quantise_332(std::span<const std::uint8_t> rgb, int width, int height,
                                       dither_method method)
{
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    std::vector<std::uint8_t> out(w * h);
    if (method == dither_method::floyd_steinberg) {
        floyd_steinberg(rgb, w, h, out);
        return out;
    }
    const std::array<levels, 3>& all = device_levels();
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t at = y * w + x;
            // Offsets of -1/2 to +1/2 of a level step, by the pixel's place in the pattern.
            const int threshold = method == dither_method::ordered ? 2 * bayer(x, y) + 1 - 64 : 0;
            std::array<int, 3> level{};
            for (std::size_t c = 0; c < 3; ++c) {
                const int step = 255 / (all[c].count - 1);
                level[c] = level_of(all[c], rgb[at * 3 + c] + threshold * step / 128);
            }
            out[at] = pack(level);
        }
    }
    return out;
}
