// Colour reduction to 3-3-2: nearest device levels, or dithered in light by error diffusion or
// by a blue-noise map.
#include "view/common/quantise.h"

#include <stb/stb_image_resize.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "skin/colour_332.h"
#include "view/common/blue_noise.h"
#include "view/common/dither_search.h"
#include "view/common/render.h"

namespace {

// A channel's device levels (8 for red and green, 4 for blue), as the panel shows them.
struct levels {
    int count = 0;
    std::array<int, 8> value{};
    std::array<std::uint8_t, 256> nearest{}; // the level closest to each 8-bit value
};

levels make_levels(std::span<const std::uint8_t> shown)
{
    levels l;
    l.count = static_cast<int>(shown.size());
    std::copy(shown.begin(), shown.end(), l.value.begin());
    // The levels rise, so the nearest one only moves up as the value does; a tie takes the lower.
    std::size_t level = 0;
    for (int x = 0; x < 256; ++x) {
        while (static_cast<int>(level) + 1 < l.count && l.value[level + 1] - x < x - l.value[level])
            ++level;
        l.nearest[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(level);
    }
    return l;
}

std::uint8_t pack(const std::array<int, 3>& level)
{
    return pack_levels_332(static_cast<unsigned>(level[0]), static_cast<unsigned>(level[1]),
                           static_cast<unsigned>(level[2]));
}

// The light of an 8-bit sRGB value, from 0 to 1.
float to_linear(int encoded)
{
    const double v = encoded / 255.0;
    return static_cast<float>(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
}

using oklab = std::array<float, 3>;

constexpr std::array<int, 3> level_byte{1 << 5, 1 << 2, 1}; // a level's worth of each channel in a byte

// The eye's response to a cone's light x: its cube root, to within a few parts in a thousand,
// which is all the choice between neighbouring colours needs (a first guess from the float's
// exponent, then one Newton step); near black, CIELAB's straight line, without which black would
// seem farther from a very dark grey than a dim red is.
float response(float x)
{
    if (x <= 0.008856f)
        return 7.787f * x + 16.0f / 116;
    const float y = std::bit_cast<float>(std::bit_cast<std::uint32_t>(x) / 3 + 709921077u);
    return (2 * y + x / (y * y)) * (1.0f / 3);
}

// The square of the distance between two OKLab colours.
float squared_distance(const oklab& one, const oklab& two)
{
    return (one[0] - two[0]) * (one[0] - two[0]) + (one[1] - two[1]) * (one[1] - two[1]) +
           (one[2] - two[2]) * (one[2] - two[2]);
}

// A linear sRGB colour in OKLab (with the straight toe near black), where distance follows
// perceived difference.
oklab to_oklab(float r, float g, float b)
{
    const float l = response(0.4122214708f * r + 0.5363325363f * g + 0.0514459929f * b);
    const float m = response(0.2119034982f * r + 0.6806995451f * g + 0.1073969566f * b);
    const float s = response(0.0883024619f * r + 0.2817188376f * g + 0.6299787005f * b);
    return {0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s,
            1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s,
            0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s};
}

constexpr std::size_t light_steps = 1024;

// What the dithers need to know of the device's colours, in light and in OKLab.
struct light_model {
    panel_levels panel;
    std::array<levels, 3> channel;                     // each channel's levels as the panel shows them
    std::array<float, 256> linear{};                   // each 8-bit value's light
    std::array<std::array<float, 8>, 3> level_light{}; // each channel's levels' light
    std::array<oklab, 256> palette{};                  // each pixel byte's colour in OKLab
    // Per channel and 8-bit value: the level at or below it, and how far (0 to 1, in light) the
    // value lies from there towards the next level.
    std::array<std::array<std::uint8_t, 256>, 3> floor_level{};
    std::array<std::array<float, 256>, 3> fraction{};
    // Per channel, the level at or below each 1024th of the light, to start the search from.
    std::array<std::array<std::uint8_t, light_steps + 1>, 3> level_near{};
    std::array<std::array<float, 3>, 256> palette_light{}; // each pixel byte's light per channel
};

// The model of `panel`'s colours.
light_model make_model(const panel_levels& panel)
{
    light_model m{.panel = panel,
                  .channel = {make_levels(panel.red), make_levels(panel.green), make_levels(panel.blue)}};
    for (int v = 0; v < 256; ++v)
        m.linear[static_cast<std::size_t>(v)] = to_linear(v);
    for (std::size_t c = 0; c < 3; ++c) {
        const levels& l = m.channel[c];
        for (std::size_t k = 0; k < static_cast<std::size_t>(l.count); ++k)
            m.level_light[c][k] = m.linear[static_cast<std::size_t>(l.value[k])];
        std::size_t k = 0;
        for (int v = 0; v < 256; ++v) {
            while (static_cast<int>(k) + 1 < l.count && l.value[k + 1] <= v)
                ++k;
            const std::size_t next = std::min(k + 1, static_cast<std::size_t>(l.count - 1));
            const float span = m.level_light[c][next] - m.level_light[c][k];
            m.floor_level[c][static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(k);
            m.fraction[c][static_cast<std::size_t>(v)] =
                span > 0 ? std::clamp((m.linear[static_cast<std::size_t>(v)] - m.level_light[c][k]) / span,
                                      0.0f, 1.0f)
                         : 0;
        }
        k = 0;
        for (std::size_t step = 0; step <= light_steps; ++step) {
            while (static_cast<int>(k) + 1 < l.count &&
                   m.level_light[c][k + 1] <= static_cast<float>(step) / light_steps)
                ++k;
            m.level_near[c][step] = static_cast<std::uint8_t>(k);
        }
    }
    for (std::size_t p = 0; p < 256; ++p) {
        const rgb_colour shown = panel_colour(panel, static_cast<std::uint8_t>(p));
        m.palette_light[p] = {m.linear[shown[0]], m.linear[shown[1]], m.linear[shown[2]]};
        m.palette[p] = to_oklab(m.linear[shown[0]], m.linear[shown[1]], m.linear[shown[2]]);
    }
    return m;
}

// The model of `panel`: the standard one made once, any other kept while it is the one in use,
// as a build converts every image for one panel.
const light_model& model(const panel_levels& panel)
{
    static const light_model standard = make_model(standard_panel());
    if (panel == standard.panel)
        return standard;
    thread_local std::optional<light_model> other;
    if (!other || !(other->panel == panel))
        other = make_model(panel);
    return *other;
}

// The device colour nearest `target` among the key's neighbours (one level up or down in one
// channel), for a pixel that would otherwise take the key.
std::uint8_t beside_key(const light_model& m, std::uint8_t key, const oklab& target)
{
    const std::array<int, 3> level{key >> 5, key >> 2 & 7, key & 3};
    int best = -1;
    float best_distance = 0;
    for (std::size_t c = 0; c < 3; ++c)
        for (const int step : {-1, 1}) {
            if (level[c] + step < 0 || level[c] + step >= m.channel[c].count)
                continue;
            const auto candidate = static_cast<std::size_t>(key + step * level_byte[c]);
            const float distance = squared_distance(m.palette[candidate], target);
            if (best < 0 || distance < best_distance) {
                best = static_cast<int>(candidate);
                best_distance = distance;
            }
        }
    return static_cast<std::uint8_t>(best);
}

// Error diffusion: each pixel takes the device colour perceptually nearest (in OKLab) among the
// eight around the light it should have, and the difference in light goes on to its neighbours,
// rows serpentine. Light, not the encoded value, is what the eye averages, so mid-tones keep
// their brightness; choosing perceptually keeps the noise where it shows least.
void floyd_steinberg(const light_model& m, std::span<const std::uint8_t> rgb, std::size_t width,
                     std::size_t height, std::optional<std::uint8_t> key, std::vector<std::uint8_t>& out)
{
    const std::array<levels, 3>& all = m.channel;
    // A guard pixel on each side of the rows, so that error spread past an edge needs no test.
    std::vector<float> here((width + 2) * 3);
    std::vector<float> below((width + 2) * 3);
    for (std::size_t y = 0; y < height; ++y) {
        const bool forward = y % 2 == 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t x = forward ? i : width - 1 - i;
            const std::size_t at = y * width + x;
            const std::size_t e = (x + 1) * 3; // this pixel in the error rows
            const std::size_t ahead = forward ? e + 3 : e - 3;
            const std::size_t behind = forward ? e - 3 : e + 3;
            // The light wanted, error included, and what the device can show of it; the error is
            // kept whole even where no colour reaches it, or a dark tone would lose the negative
            // error of each lit pixel and lighten, but bounded, so that it cannot run away.
            std::array<float, 3> wanted{};
            std::array<float, 3> reach{};
            // The colour of the levels at or below the light, and the step up from it per channel:
            // none from the top level, nor where the light wanted is below black.
            int base = 0;
            std::array<int, 3> up{};
            for (std::size_t c = 0; c < 3; ++c) {
                wanted[c] = std::clamp(m.linear[rgb[at * 3 + c]] + here[e + c], -0.5f, 1.5f);
                reach[c] = std::clamp(wanted[c], 0.0f, 1.0f);
                int k = m.level_near[c][static_cast<std::size_t>(reach[c] * light_steps)];
                if (k + 1 < all[c].count && m.level_light[c][static_cast<std::size_t>(k + 1)] <= reach[c])
                    ++k;
                base += k * level_byte[c];
                up[c] = k + 1 < all[c].count && wanted[c] > 0 ? level_byte[c] : 0;
            }
            const oklab target = to_oklab(reach[0], reach[1], reach[2]);
            std::array<std::size_t, 8> candidate{};
            std::array<float, 8> distance{};
            for (unsigned corner = 0; corner < 8; ++corner) {
                candidate[corner] = static_cast<std::size_t>(
                    base + (corner & 1 ? up[0] : 0) + (corner & 2 ? up[1] : 0) + (corner & 4 ? up[2] : 0));
                distance[corner] = squared_distance(m.palette[candidate[corner]], target);
            }
            // The nearest, found pairwise so that the comparisons do not wait on one another.
            for (unsigned half = 4; half > 0; half /= 2)
                for (unsigned k = 0; k < half; ++k) {
                    const bool nearer = distance[k + half] < distance[k];
                    candidate[k] = nearer ? candidate[k + half] : candidate[k];
                    distance[k] = std::min(distance[k + half], distance[k]);
                }
            std::size_t best = candidate[0];
            if (key && best == *key)
                best = beside_key(m, *key, target);
            for (std::size_t c = 0; c < 3; ++c) {
                const float error = wanted[c] - m.palette_light[best][c];
                here[ahead + c] += error * (7.0f / 16);
                below[behind + c] += error * (3.0f / 16);
                below[e + c] += error * (5.0f / 16);
                below[ahead + c] += error * (1.0f / 16);
            }
            out[at] = static_cast<std::uint8_t>(best);
        }
        // Error spread past the row's ends goes on to the pixel below instead, where the next
        // row starts, so that little is lost and a dark tone keeps its few lit pixels.
        const std::size_t last = width * 3; // the last pixel; its guard follows
        for (std::size_t c = 0; c < 3; ++c) {
            below[3 + c] += below[c] + (forward ? 0 : here[c]);
            below[last + c] += below[last + 3 + c] + (forward ? here[last + 3 + c] : 0);
            below[c] = below[last + 3 + c] = 0;
        }
        here.swap(below);
        std::fill(below.begin(), below.end(), 0.0f);
    }
}

constexpr std::size_t icon_side = 16;
// In a small icon, a channel less than this far (in light) from a level takes the level: the few
// scattered pixels a step away that would keep the light show more than the light lost.
constexpr float icon_snap = 0.1f;

// Ordered dithering by the blue-noise map: each channel goes up from the level below it where
// its place's threshold is under how far its light lies towards the next level, so a flat tone
// keeps its light, and a pixel's result depends on its colour and place alone.
void ordered(const light_model& m, std::span<const std::uint8_t> rgb, std::size_t width, std::size_t height,
             std::vector<std::uint8_t>& out)
{
    constexpr float map_area = blue_noise_side * blue_noise_side;
    const bool icon = width <= icon_side && height <= icon_side;
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = y * width + x;
            const float threshold = (static_cast<float>(blue_noise_rank(x, y)) + 0.5f) / map_area;
            std::array<int, 3> level{};
            for (std::size_t c = 0; c < 3; ++c) {
                const std::uint8_t v = rgb[at * 3 + c];
                float fraction = m.fraction[c][v];
                if (icon)
                    fraction = fraction < icon_snap ? 0 : fraction > 1 - icon_snap ? 1 : fraction;
                level[c] = m.floor_level[c][v] + (fraction > threshold ? 1 : 0);
            }
            out[at] = pack(level);
        }
}

// Marks the pixels within steady_reach (in x and y) of a marked one.
void widen(std::vector<std::uint8_t>& marked, std::size_t width, std::size_t height)
{
    const auto reach = static_cast<std::size_t>(steady_reach);
    const auto pass = [&](std::size_t step, std::size_t along, std::size_t lines, std::size_t stride) {
        std::vector<std::uint8_t> out(marked.size());
        for (std::size_t line = 0; line < lines; ++line)
            for (std::size_t i = 0; i < along; ++i)
                for (std::size_t j = i > reach ? i - reach : 0; j <= std::min(along - 1, i + reach); ++j)
                    if (marked[line * stride + j * step] != 0) {
                        out[line * stride + i * step] = 1;
                        break;
                    }
        marked.swap(out);
    };
    pass(1, width, height, width);
    pass(width, height, width, 1);
}

// The refined start of a frame after `earlier`: a pixel whose source is the same keeps its earlier
// byte, and only pixels near one whose source changed (or that held the key, which a transparent
// pixel may have had) may change. The pixels that may change are marked.
std::vector<std::uint8_t> steady_start(std::span<const std::uint8_t> rgb, const earlier_frame& earlier,
                                       std::optional<std::uint8_t> key, std::vector<std::uint8_t>& out)
{
    std::vector<std::uint8_t> active(out.size());
    for (std::size_t p = 0; p < out.size(); ++p) {
        const bool same = std::equal(rgb.begin() + static_cast<std::ptrdiff_t>(p * 3),
                                     rgb.begin() + static_cast<std::ptrdiff_t>(p * 3 + 3),
                                     earlier.rgb.begin() + static_cast<std::ptrdiff_t>(p * 3));
        if (same && !(key && earlier.block[p] == *key))
            out[p] = earlier.block[p];
        else
            active[p] = 1;
    }
    return active;
}

// The refined dither: the error-diffused pattern in `out` searched for the least error that the
// eye sees, or, after an earlier frame of the same size, its pattern searched near the changes only.
// Diffusion is the start because it keeps each pixel's own light, which the search then trades only
// where the eye gains: from blue noise the search kept less structure (SSIM of luma 0.64 against
// 0.70 for diffusion alone on the quality corpus, where it is now above it in every class).
void refine(const light_model& m, std::span<const std::uint8_t> rgb, std::size_t width, std::size_t height,
            std::optional<std::uint8_t> key, const earlier_frame* earlier, std::vector<std::uint8_t>& out)
{
    std::vector<std::uint8_t> active;
    if (earlier != nullptr && earlier->rgb.size() == rgb.size() && earlier->block.size() == out.size()) {
        active = steady_start(rgb, *earlier, key, out);
        if (std::find(active.begin(), active.end(), 1) == active.end())
            return;
        widen(active, width, height);
    }
    std::vector<light_rgb> light(width * height);
    for (std::size_t p = 0; p < light.size(); ++p)
        light[p] = {m.linear[rgb[p * 3]], m.linear[rgb[p * 3 + 1]], m.linear[rgb[p * 3 + 2]]};
    search_pattern({light, width, height, m.palette_light, key}, active, out);
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
                                       dither_method method, std::optional<std::uint8_t> key,
                                       const earlier_frame* earlier, const panel_levels& panel)
{
    const light_model& m = model(panel);
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    std::vector<std::uint8_t> out(w * h);
    if (method == dither_method::floyd_steinberg || method == dither_method::refined) {
        floyd_steinberg(m, rgb, w, h, key, out);
        if (method == dither_method::refined)
            refine(m, rgb, w, h, key, earlier, out);
        return out;
    }
    if (method == dither_method::ordered) {
        ordered(m, rgb, w, h, out);
    } else {
        const std::array<levels, 3>& all = m.channel;
        for (std::size_t at = 0; at < w * h; ++at) {
            std::array<int, 3> level{};
            for (std::size_t c = 0; c < 3; ++c)
                level[c] = all[c].nearest[rgb[at * 3 + c]];
            out[at] = pack(level);
        }
    }
    // By the pixel's own colour, so that the choice stays positional.
    if (key) {
        for (std::size_t at = 0; at < w * h; ++at)
            if (out[at] == *key)
                out[at] = beside_key(
                    m, *key,
                    to_oklab(m.linear[rgb[at * 3]], m.linear[rgb[at * 3 + 1]], m.linear[rgb[at * 3 + 2]]));
    }
    return out;
}
