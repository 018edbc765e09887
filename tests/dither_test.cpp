// The colour choice of import: the means that dithered tones keep, still pixels in moving frames,
// the blue-noise map, and exact pixels for small inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "skin/colour_332.h"
#include "view/common/blue_noise.h"
#include "view/common/perceptual_error.h"
#include "view/common/quantise.h"

namespace {

std::vector<std::uint8_t> flat(int pixels, rgb_colour tone)
{
    std::vector<std::uint8_t> rgb;
    for (int i = 0; i < pixels; ++i)
        rgb.insert(rgb.end(), tone.begin(), tone.end());
    return rgb;
}

// The mean light that the device shows for a block, per channel, as the 8-bit sRGB value of the
// same light: what the eye sees of a dithered tone from far enough away.
std::array<double, 3> seen_mean(const std::vector<std::uint8_t>& block)
{
    const auto light = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const auto encoded = [](double l) {
        return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    };
    std::array<double, 3> sum{};
    for (const std::uint8_t pixel : block) {
        const rgb_colour shown = expand_332(pixel);
        for (std::size_t c = 0; c < 3; ++c)
            sum[c] += light(shown[c] / 255.0);
    }
    for (double& s : sum)
        s = 255 * encoded(s / static_cast<double>(block.size()));
    return sum;
}

struct tone_case {
    const char* name;
    dither_method method;
    int side;
    std::vector<rgb_colour> tones;
    double within; // of the tone itself, in 8-bit units of each channel
};

void PrintTo(const tone_case& c, std::ostream* out)
{
    *out << c.name;
}

class flat_tones : public ::testing::TestWithParam<tone_case> {};

// Dithering in light keeps the light of a flat tone: lightening or darkening some tones, mixing the
// encoded values instead of light, or losing some of the carried error shows as a shifted mean.
TEST_P(flat_tones, keep_their_mean_light)
{
    const tone_case& c = GetParam();
    for (const rgb_colour& tone : c.tones) {
        const std::array<double, 3> mean =
            seen_mean(quantise_332(flat(c.side * c.side, tone), c.side, c.side, c.method));
        for (std::size_t ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(mean[ch], tone[ch], c.within)
                << "tone " << +tone[0] << ", " << +tone[1] << ", " << +tone[2] << " channel " << ch;
    }
}

std::vector<rgb_colour> every_grey()
{
    std::vector<rgb_colour> tones;
    for (int v = 0; v < 256; ++v)
        tones.push_back(
            {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v)});
    return tones;
}

const std::vector<rgb_colour> some_colours{{100, 160, 120}, {250, 20, 30}, {12, 40, 200}, {180, 150, 60}};

INSTANTIATE_TEST_SUITE_P(
    dithers, flat_tones,
    ::testing::Values(tone_case{"diffusion_greys", dither_method::floyd_steinberg, 128, every_grey(), 0.25},
                      tone_case{"diffusion_colours", dither_method::floyd_steinberg, 128, some_colours, 0.25},
                      // One whole tile of the map holds every threshold once.
                      tone_case{"ordered_greys", dither_method::ordered, 64, every_grey(), 0.25},
                      tone_case{"ordered_colours", dither_method::ordered, 64, some_colours, 0.25},
                      tone_case{"refined_greys",
                                dither_method::refined,
                                32,
                                {{30, 30, 30}, {140, 140, 140}, {230, 230, 230}},
                                1.0}),
    [](const auto& test) { return std::string(test.param.name); });

// Without dithering a flat tone becomes its nearest level, channel by channel.
TEST(quantise_332, no_dither_takes_the_nearest_level)
{
    const std::vector<std::uint8_t> plain =
        quantise_332(flat(64, {100, 160, 120}), 8, 8, dither_method::none);
    EXPECT_EQ(plain, std::vector<std::uint8_t>(64, 3 << 5 | 4 << 2 | 1)); // 109, 146, 85
}

struct frames_case {
    const char* name;
    dither_method method;
    bool after_first;    // the second frame quantised after the first
    int reach;           // how far around the square's two places changes are allowed
    int changed_outside; // pixels changed farther away
};

void PrintTo(const frames_case& c, std::ostream* out)
{
    *out << c.name;
}

class moving_square : public ::testing::TestWithParam<frames_case> {};

// Two frames of a 10x10 square moving over a gradient: a positional dither changes nothing outside
// the square's two places; error diffusion carries the change on into the rest of the frame.
TEST_P(moving_square, changes_only_what_moved)
{
    constexpr int side = 48;
    const auto frame = [](int left, int top) {
        std::vector<std::uint8_t> rgb;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const bool square = x >= left && x < left + 10 && y >= top && y < top + 10;
                const rgb_colour colour = square ? rgb_colour{230, 40, 60}
                                                 : rgb_colour{static_cast<std::uint8_t>(x * 5),
                                                              static_cast<std::uint8_t>(60 + y * 3), 128};
                rgb.insert(rgb.end(), colour.begin(), colour.end());
            }
        return rgb;
    };
    const frames_case& c = GetParam();
    const std::vector<std::uint8_t> one = frame(10, 12);
    const std::vector<std::uint8_t> first = quantise_332(one, side, side, c.method);
    const earlier_frame earlier{one, first};
    const std::vector<std::uint8_t> second =
        quantise_332(frame(13, 15), side, side, c.method, {}, c.after_first ? &earlier : nullptr);
    int changed = 0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const bool under_square =
                x >= 10 - c.reach && x < 23 + c.reach && y >= 12 - c.reach && y < 25 + c.reach;
            const auto at = static_cast<std::size_t>(y * side + x);
            changed += !under_square && first[at] != second[at] ? 1 : 0;
        }
    EXPECT_EQ(changed, c.changed_outside);
}

INSTANTIATE_TEST_SUITE_P(dithers, moving_square,
                         ::testing::Values(frames_case{"none", dither_method::none, false, 0, 0},
                                           frames_case{"ordered", dither_method::ordered, false, 0, 0},
                                           frames_case{"floyd_steinberg", dither_method::floyd_steinberg,
                                                       false, 0, 908},
                                           // After the first frame, only within a few pixels of the square.
                                           frames_case{"refined_after", dither_method::refined, true, 10, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

// A key colour is never given to a pixel, whatever the dither, even where the source is exactly
// the key's colour or ramps through it.
TEST(quantise_332, never_gives_the_key)
{
    constexpr int side = 64;
    for (const std::uint8_t key : std::array<std::uint8_t, 5>{0x00, 0xFF, 0x92, 0x6D, 0x1C}) {
        const rgb_colour colour = expand_332(key);
        std::vector<std::uint8_t> rgb = flat(side * side / 2, colour);
        for (int y = 0; y < side / 2; ++y)
            for (int x = 0; x < side; ++x)
                rgb.insert(rgb.end(), {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 8),
                                       static_cast<std::uint8_t>(255 - x * 4)});
        for (const dither_method method : {dither_method::none, dither_method::floyd_steinberg,
                                           dither_method::ordered, dither_method::refined}) {
            const std::vector<std::uint8_t> block = quantise_332(rgb, side, side, method, key);
            EXPECT_EQ(std::count(block.begin(), block.end(), key), 0)
                << "key " << +key << ", dither " << static_cast<int>(method);
        }
    }
}

// The map holds every rank once.
TEST(blue_noise, holds_every_rank_once)
{
    std::vector<int> ranks;
    for (std::size_t y = 0; y < blue_noise_side; ++y)
        for (std::size_t x = 0; x < blue_noise_side; ++x)
            ranks.push_back(blue_noise_rank(x, y));
    std::sort(ranks.begin(), ranks.end());
    std::vector<int> expected(ranks.size());
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ranks, expected);
}

struct spread_case {
    int below; // the pixels whose rank is below this are set
    int share; // of an 8x8 window
    int spread;
};

class blue_noise_spread : public ::testing::TestWithParam<spread_case> {};

// At every threshold the set pixels are spread evenly: every 8x8 window, across the map's seams
// too, holds nearly its share of them. Random thresholds would range about three times as far, and
// a map that did not tile would break the windows across its edges.
TEST_P(blue_noise_spread, fills_every_window_evenly)
{
    const spread_case& c = GetParam();
    int fewest = 64;
    int most = 0;
    for (std::size_t top = 0; top < blue_noise_side; ++top)
        for (std::size_t left = 0; left < blue_noise_side; ++left) {
            int set = 0;
            for (std::size_t y = top; y < top + 8; ++y)
                for (std::size_t x = left; x < left + 8; ++x)
                    set += blue_noise_rank(x, y) < c.below ? 1 : 0;
            fewest = std::min(fewest, set);
            most = std::max(most, set);
        }
    EXPECT_GE(fewest, c.share - c.spread);
    EXPECT_LE(most, c.share + c.spread);
}

INSTANTIATE_TEST_SUITE_P(thresholds, blue_noise_spread,
                         ::testing::Values(spread_case{256, 4, 3}, spread_case{1024, 16, 4},
                                           spread_case{2048, 32, 5}, spread_case{3584, 56, 3}));

// clang-format off
const std::vector<std::uint8_t> blue_noise_pattern_of_140{
    0x92, 0x92, 0x92, 0x6D, 0x91, 0x92, 0x92, 0x6D,
    0x91, 0x91, 0x91, 0x92, 0x92, 0x6D, 0x92, 0x92,
    0x92, 0x6D, 0x92, 0x92, 0x91, 0x92, 0x91, 0x91,
    0x92, 0x92, 0x91, 0x6D, 0x92, 0x91, 0x92, 0x92,
    0x6D, 0x92, 0x92, 0x92, 0x92, 0x6D, 0x92, 0x6D,
    0x92, 0x91, 0x6D, 0x92, 0x91, 0x92, 0x91, 0x92,
    0x92, 0x91, 0x92, 0x92, 0x6D, 0x92, 0x91, 0x92,
    0x91, 0x92, 0x91, 0x91, 0x92, 0x92, 0x6D, 0x92};
// clang-format on

struct quantise_case {
    const char* name;
    int width;
    int height;
    std::vector<std::uint8_t> rgb;
    dither_method method;
    std::vector<std::uint8_t> expected;
};

void PrintTo(const quantise_case& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<std::uint8_t> greys(const std::vector<std::uint8_t>& values)
{
    std::vector<std::uint8_t> rgb;
    for (const std::uint8_t v : values)
        rgb.insert(rgb.end(), {v, v, v});
    return rgb;
}

class quantise_cases : public ::testing::TestWithParam<quantise_case> {};

TEST_P(quantise_cases, give_exactly_these_pixels)
{
    const quantise_case& c = GetParam();
    EXPECT_EQ(quantise_332(c.rgb, c.width, c.height, c.method), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    literal, quantise_cases,
    ::testing::Values(
        // 18, 91, 164 and 237 lie halfway between two red or green levels.
        quantise_case{"a_tie_takes_the_lower_level",
                      3,
                      1,
                      {18, 91, 42, 164, 237, 43, 19, 92, 128},
                      dither_method::none,
                      {0x08, 0x99, 0x2E}},
        // Rows serpentine, the error carried in light by 7, 3, 5 and 1 sixteenths, each pixel the
        // perceptually nearest of the colours around its light (so greys may take a tint, as 165
        // takes 146, 182, 170): any other order, weights, space or choice changes some pixel.
        quantise_case{"floyd_steinberg",
                      4,
                      3,
                      greys({10, 165, 60, 100, 255, 180, 55, 85, 105, 255, 205, 25}),
                      dither_method::floyd_steinberg,
                      {0x00, 0x96, 0x45, 0x6D, 0xFF, 0xB6, 0x44, 0x49, 0x69, 0xFF, 0xBB, 0x40}},
        // A grey of 140 lies 0.81 of the way in light from 109 to 146 in red and green, and 0.55
        // from 85 to 170 in blue: places ranked below 3330 in the map go up to 146, below 2257 blue
        // to 170 (0x92 both, 0x91 red and green only, 0x6D neither). The map's corner ranks begin
        // 1281, 797, 170, 3953, 2327: transposed, shifted or in encoded values, some pixel differs.
        quantise_case{"blue_noise_pattern_of_a_flat_grey", 8, 8, flat(64, {140, 140, 140}),
                      dither_method::ordered, blue_noise_pattern_of_140}),
    [](const auto& test) { return std::string(test.param.name); });

// 32x32 of `left` on the left half and `right` on the right.
std::vector<std::uint8_t> halves(rgb_colour left, rgb_colour right)
{
    std::vector<std::uint8_t> rgb;
    for (int p = 0; p < 32 * 32; ++p)
        rgb.insert(rgb.end(), p % 32 < 16 ? left.begin() : right.begin(),
                   p % 32 < 16 ? left.end() : right.end());
    return rgb;
}

struct refined_case {
    const char* name;
    std::vector<std::uint8_t> rgb; // 32x32
    double most;                   // mean perceptual error allowed
};

void PrintTo(const refined_case& c, std::ostream* out)
{
    *out << c.name;
}

class refined_cases : public ::testing::TestWithParam<refined_case> {};

// The search comes near the least error the eye can see, and the same image gives the same
// pattern every time.
TEST_P(refined_cases, come_near_the_optimum_every_time)
{
    const refined_case& c = GetParam();
    const std::vector<std::uint8_t> block = quantise_332(c.rgb, 32, 32, dither_method::refined);
    std::vector<std::uint8_t> shown;
    for (const std::uint8_t pixel : block) {
        const rgb_colour colour = expand_332(pixel);
        shown.insert(shown.end(), colour.begin(), colour.end());
    }
    EXPECT_LE(mean_error(perceptual_error(c.rgb, shown, 32, 32)), c.most);
    EXPECT_EQ(quantise_332(c.rgb, 32, 32, dither_method::refined), block);
}

INSTANTIATE_TEST_SUITE_P(
    optima, refined_cases,
    ::testing::Values(
        // Device colours are their own optimum: nothing to dither, on either side of the edge.
        refined_case{"device_colours", halves(expand_332(0x92), expand_332(0xFF)), 0.0},
        // Between two levels, the two mixed finely, and an edge between two such tones: the ordered
        // start leaves 1.78, 1.15 and 1.72.
        refined_case{"grey_between_levels", flat(32 * 32, {140, 140, 140}), 1.25},
        refined_case{"colour_between_levels", flat(32 * 32, {100, 160, 120}), 0.9},
        refined_case{"edge_between_tones", halves({140, 140, 140}, {60, 60, 60}), 1.2}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
