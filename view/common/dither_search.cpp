// Direct binary search over the device's colours. The error is the difference in light seen
// through CIELAB linearised at the source's colour (lightness and chroma weighted as CIEDE2000
// weighs them), each of lightness and the two opponent channels low-passed by its own Gaussian,
// and a little of each pixel's own lightness error.
// It is kept as each channel's error correlated with its filter's autocorrelation, so that a trial
// change costs a few lookups and only a kept change touches the neighbourhood.
#include "view/common/dither_search.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int max_passes = 8;
// The eye's low-pass: lightness at about the device's pixel, the two opponent colours a little
// wider. Wider still (1.5 pixels) leaves colour noise that is seen up close, for little gain farther.
constexpr std::array<float, 3> filter_sigma{1.0f, 1.1f, 1.1f};
// The lightness error of each pixel on its own also counts, a little: without it the search
// trades a sharper pattern for strong pixel-to-pixel noise in lightness, which the filter hides
// but which shows as lost structure. On the quality corpus, 0.07 left small icons and interface
// art a little below diffusion's SSIM of luma, and 0.12 cost photos 15% of their filtered error.
constexpr std::array<float, 3> pixel_weight{0.1f, 0.0f, 0.0f};
constexpr float least_gain = 1e-4f; // a change that lowers the error by less is not kept
constexpr std::array<int, 3> level_byte{1 << 5, 1 << 2, 1};
constexpr std::array<int, 3> level_count{8, 8, 4};

// One channel's autocorrelation of its filter: the same row of weights in x and in y.
struct correlation {
    int radius = 0;
    std::vector<float> weight; // for the offsets -radius to radius
};

// The autocorrelation of a normalised Gaussian of `sigma`, cut where it falls under a hundredth.
correlation make_correlation(float sigma)
{
    const int reach = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> filter(static_cast<std::size_t>(2 * reach + 1));
    float total = 0;
    for (int k = -reach; k <= reach; ++k)
        total += filter[static_cast<std::size_t>(k + reach)] =
            std::exp(-0.5f * static_cast<float>(k * k) / (sigma * sigma));
    for (float& f : filter)
        f /= total;
    correlation out;
    out.radius = static_cast<int>(std::ceil(3 * sigma * std::numbers::sqrt2_v<float>));
    for (int d = -out.radius; d <= out.radius; ++d) {
        float sum = 0;
        for (int k = std::max(-reach, -reach - d); k <= std::min(reach, reach - d); ++k)
            sum +=
                filter[static_cast<std::size_t>(k + reach)] * filter[static_cast<std::size_t>(k + d + reach)];
        out.weight.push_back(sum);
    }
    return out;
}

// How a small change of light at a pixel moves lightness and the two opponent colours as the eye
// sees them there: CIELAB differentiated at `at`, divided by CIEDE2000's lightness and chroma weights.
using jacobian = std::array<light_rgb, 3>;

jacobian local_model(const light_rgb& at)
{
    static constexpr std::array<light_rgb, 3> to_xyz{
        {{0.4124564f / 0.95047f, 0.3575761f / 0.95047f, 0.1804375f / 0.95047f},
         {0.2126729f, 0.7151522f, 0.0721750f},
         {0.0193339f / 1.08883f, 0.1191920f / 1.08883f, 0.9503041f / 1.08883f}}};
    light_rgb f{};
    light_rgb slope{};
    for (std::size_t c = 0; c < 3; ++c) {
        const float t = to_xyz[c][0] * at[0] + to_xyz[c][1] * at[1] + to_xyz[c][2] * at[2];
        const bool cube = t > 216.0f / 24389;
        f[c] = cube ? std::cbrt(t) : (24389.0f / 27 * t + 16) / 116;
        slope[c] = cube ? 1 / (3 * f[c] * f[c]) : 24389.0f / 27 / 116;
    }
    const float l50 = (116 * f[1] - 66) * (116 * f[1] - 66);
    const float sl = 1 + 0.015f * l50 / std::sqrt(20 + l50);
    const float sc = 1 + 0.045f * std::hypot(500 * (f[0] - f[1]), 200 * (f[1] - f[2]));
    jacobian j{};
    for (std::size_t c = 0; c < 3; ++c) {
        const float dx = to_xyz[0][c] * slope[0];
        const float dy = to_xyz[1][c] * slope[1];
        const float dz = to_xyz[2][c] * slope[2];
        j[0][c] = 116 * dy / sl;
        j[1][c] = 500 * (dx - dy) / sc;
        j[2][c] = 200 * (dy - dz) / sc;
    }
    return j;
}

// A plane correlated in x then y with `weights` (centred); outside the image, zero, or with
// `clamp` the edge pixel repeated.
void convolve(std::vector<float>& plane, std::size_t width, std::size_t height, const correlation& weights,
              bool clamp)
{
    const auto w = static_cast<int>(width);
    const auto h = static_cast<int>(height);
    std::vector<float> out(plane.size());
    const auto pass = [&](int step, int along, int lines, int stride) {
        for (int line = 0; line < lines; ++line)
            for (int i = 0; i < along; ++i) {
                float sum = 0;
                for (int d = -weights.radius; d <= weights.radius; ++d) {
                    int j = i + d;
                    if (j < 0 || j >= along) {
                        if (!clamp)
                            continue;
                        j = std::clamp(j, 0, along - 1);
                    }
                    sum += weights.weight[static_cast<std::size_t>(d + weights.radius)] *
                           plane[static_cast<std::size_t>(line * stride + j * step)];
                }
                out[static_cast<std::size_t>(line * stride + i * step)] = sum;
            }
        plane.swap(out);
    };
    pass(1, w, h, w);
    pass(w, h, w, 1);
}

struct search_state {
    const search_image& image;
    std::span<const std::uint8_t> active;
    std::vector<std::uint8_t>& block;
    std::vector<jacobian> model;            // per pixel
    std::array<correlation, 3> kernel;      // per seen channel
    std::array<std::vector<float>, 3> seen; // each channel's error correlated with its kernel
    std::array<float, 3> centre{};          // each kernel at no offset
    // Per pixel and channel, the device levels at or below and at or above its source's light:
    // the only two it may take, so that no pixel strays from its colour to be made up elsewhere.
    std::vector<std::array<std::uint8_t, 3>> lowest;
    std::vector<std::array<std::uint8_t, 3>> highest;
};

// Whether `byte` lies within pixel `at`'s levels.
bool within(const search_state& s, std::size_t at, int byte)
{
    const std::array<int, 3> level{byte >> 5, byte >> 2 & 7, byte & 3};
    for (std::size_t c = 0; c < 3; ++c)
        if (level[c] < s.lowest[at][c] || level[c] > s.highest[at][c])
            return false;
    return true;
}

// Each pixel's two levels per channel around its source's light.
void find_levels(search_state& s)
{
    for (const light_rgb& wanted : s.image.source) {
        std::array<std::uint8_t, 3> low{};
        std::array<std::uint8_t, 3> high{};
        for (std::size_t c = 0; c < 3; ++c) {
            int k = 0;
            while (k + 1 < level_count[c] &&
                   s.image.palette[static_cast<std::size_t>((k + 1) * level_byte[c])][c] <= wanted[c])
                ++k;
            low[c] = static_cast<std::uint8_t>(k);
            const bool exact = s.image.palette[static_cast<std::size_t>(k * level_byte[c])][c] >= wanted[c];
            high[c] = static_cast<std::uint8_t>(exact || k + 1 == level_count[c] ? k : k + 1);
        }
        s.lowest.push_back(low);
        s.highest.push_back(high);
    }
}

// What changing a pixel's light by `change` does to its three seen channels.
light_rgb seen_change(const jacobian& j, const light_rgb& change)
{
    light_rgb out{};
    for (std::size_t k = 0; k < 3; ++k)
        out[k] = j[k][0] * change[0] + j[k][1] * change[1] + j[k][2] * change[2];
    return out;
}

// The difference in light between two device bytes.
light_rgb light_step(const search_image& image, std::size_t from, std::size_t to)
{
    return {image.palette[to][0] - image.palette[from][0], image.palette[to][1] - image.palette[from][1],
            image.palette[to][2] - image.palette[from][2]};
}

// The change in the whole error when pixel `at` changes by `d` in its seen channels.
float toggle_gain(const search_state& s, std::size_t at, const light_rgb& d)
{
    float gain = 0;
    for (std::size_t k = 0; k < 3; ++k)
        gain += d[k] * (2 * s.seen[k][at] + d[k] * s.centre[k]);
    return gain;
}

// Adds a kept change of pixel (x, y) by `d` to the correlated error around it.
void apply_change(search_state& s, int x, int y, const light_rgb& d)
{
    const auto w = static_cast<int>(s.image.width);
    const auto h = static_cast<int>(s.image.height);
    for (std::size_t k = 0; k < 3; ++k) {
        const correlation& c = s.kernel[k];
        for (int dy = std::max(-c.radius, -y); dy <= std::min(c.radius, h - 1 - y); ++dy) {
            const float row = d[k] * c.weight[static_cast<std::size_t>(dy + c.radius)];
            float* line = s.seen[k].data() + static_cast<std::ptrdiff_t>((y + dy) * w + x);
            for (int dx = std::max(-c.radius, -x); dx <= std::min(c.radius, w - 1 - x); ++dx)
                line[dx] += row * c.weight[static_cast<std::size_t>(dx + c.radius)];
        }
        s.seen[k][static_cast<std::size_t>(y * w + x)] += pixel_weight[k] * d[k];
    }
}

// The search's start: each pixel's model, and the error of the starting pattern correlated.
search_state start_search(const search_image& image, std::span<const std::uint8_t> active,
                          std::vector<std::uint8_t>& block)
{
    search_state s{image, active, block, {}, {}, {}, {}};
    const std::size_t n = image.width * image.height;
    for (std::size_t k = 0; k < 3; ++k) {
        s.kernel[k] = make_correlation(filter_sigma[k]);
        const float middle = s.kernel[k].weight[static_cast<std::size_t>(s.kernel[k].radius)];
        s.centre[k] = middle * middle + pixel_weight[k];
    }
    // The colour the eye sees around each pixel, where the model is taken.
    std::array<std::vector<float>, 3> around;
    correlation blur = make_correlation(filter_sigma[0] / std::numbers::sqrt2_v<float>);
    for (std::size_t c = 0; c < 3; ++c) {
        around[c].resize(n);
        for (std::size_t p = 0; p < n; ++p)
            around[c][p] = image.source[p][c];
        convolve(around[c], image.width, image.height, blur, true);
    }
    for (std::size_t k = 0; k < 3; ++k)
        s.seen[k].resize(n);
    find_levels(s);
    for (std::size_t p = 0; p < n; ++p) {
        s.model.push_back(local_model({around[0][p], around[1][p], around[2][p]}));
        const light_rgb& shown = image.palette[block[p]];
        const light_rgb d =
            seen_change(s.model[p], {shown[0] - image.source[p][0], shown[1] - image.source[p][1],
                                     shown[2] - image.source[p][2]});
        for (std::size_t k = 0; k < 3; ++k)
            s.seen[k][p] = d[k];
    }
    for (std::size_t k = 0; k < 3; ++k) {
        const std::vector<float> own = s.seen[k];
        convolve(s.seen[k], image.width, image.height, s.kernel[k], false);
        for (std::size_t p = 0; p < n; ++p)
            s.seen[k][p] += pixel_weight[k] * own[p];
    }
    return s;
}

// A trial change: how much it lowers the error, and the toggle's new byte or the swap's neighbour.
struct trial {
    float gain = -least_gain; // only a change that lowers the error by more is taken
    int byte = -1;
    int with = -1;
};

// The best toggle at pixel `at`: its channels each a level up, down or the same (so that a grey
// may trade a step of two channels for one of the third), within its levels, never to the key.
void try_toggles(const search_state& s, std::size_t at, trial& best)
{
    const int byte = s.block[at];
    const std::array<int, 3> level{byte >> 5, byte >> 2 & 7, byte & 3};
    for (int move = 0; move < 27; ++move) {
        const std::array<int, 3> step{move % 3 - 1, move / 3 % 3 - 1, move / 9 - 1};
        const int moved = (step[0] != 0) + (step[1] != 0) + (step[2] != 0);
        if (moved == 0)
            continue;
        int next = byte;
        bool inside = true;
        for (std::size_t c = 0; c < 3; ++c) {
            inside = inside && level[c] + step[c] >= 0 && level[c] + step[c] < level_count[c];
            next += step[c] * level_byte[c];
        }
        if (!inside || (s.image.key && next == *s.image.key) || !within(s, at, next))
            continue;
        const light_rgb d = seen_change(
            s.model[at], light_step(s.image, static_cast<std::size_t>(byte), static_cast<std::size_t>(next)));
        const float gain = toggle_gain(s, at, d);
        if (gain < best.gain)
            best = {gain, next, -1};
    }
}

// The best swap of pixel (x, y)'s colour with one of its eight neighbours'.
void try_swaps(const search_state& s, int x, int y, trial& best)
{
    const auto w = static_cast<int>(s.image.width);
    const auto h = static_cast<int>(s.image.height);
    const auto at = static_cast<std::size_t>(y * w + x);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int qx = x + dx;
            const int qy = y + dy;
            if ((dx == 0 && dy == 0) || qx < 0 || qy < 0 || qx >= w || qy >= h)
                continue;
            const auto q = static_cast<std::size_t>(qy * w + qx);
            if (s.block[q] == s.block[at] || (!s.active.empty() && s.active[q] == 0) ||
                !within(s, at, s.block[q]) || !within(s, q, s.block[at]))
                continue;
            const light_rgb step = light_step(s.image, s.block[at], s.block[q]);
            const light_rgb dp = seen_change(s.model[at], step);
            const light_rgb dq = seen_change(s.model[q], {-step[0], -step[1], -step[2]});
            float gain = toggle_gain(s, at, dp) + toggle_gain(s, q, dq);
            for (std::size_t k = 0; k < 3; ++k) {
                const correlation& c = s.kernel[k];
                gain += 2 * dp[k] * dq[k] * c.weight[static_cast<std::size_t>(dx + c.radius)] *
                        c.weight[static_cast<std::size_t>(dy + c.radius)];
            }
            if (gain < best.gain)
                best = {gain, -1, static_cast<int>(q)};
        }
}

// Takes the best trial at pixel (x, y) when it lowers the error; true when something changed.
bool visit(search_state& s, int x, int y)
{
    const auto w = static_cast<int>(s.image.width);
    const auto at = static_cast<std::size_t>(y * w + x);
    trial best;
    try_toggles(s, at, best);
    try_swaps(s, x, y, best);
    const std::size_t byte = s.block[at];
    if (best.byte >= 0) {
        apply_change(
            s, x, y,
            seen_change(s.model[at], light_step(s.image, byte, static_cast<std::size_t>(best.byte))));
        s.block[at] = static_cast<std::uint8_t>(best.byte);
        return true;
    }
    if (best.with < 0)
        return false;
    const auto q = static_cast<std::size_t>(best.with);
    const light_rgb step = light_step(s.image, byte, s.block[q]);
    apply_change(s, x, y, seen_change(s.model[at], step));
    apply_change(s, best.with % w, best.with / w, seen_change(s.model[q], {-step[0], -step[1], -step[2]}));
    std::swap(s.block[at], s.block[q]);
    return true;
}

} // namespace

void search_pattern(const search_image& image, std::span<const std::uint8_t> active,
                    std::vector<std::uint8_t>& block)
{
    if (image.width == 0 || image.height == 0)
        return;
    search_state s = start_search(image, active, block);
    const auto w = static_cast<int>(image.width);
    const auto h = static_cast<int>(image.height);
    for (int pass = 0; pass < max_passes; ++pass) {
        bool changed = false;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (active.empty() || active[static_cast<std::size_t>(y * w + x)] != 0)
                    changed = visit(s, x, y) || changed;
        if (!changed)
            break;
    }
}
