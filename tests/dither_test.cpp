// The colour choice of import: the means that dithered tones keep, still pixels in moving frames,
// the blue-noise map, and exact pixels for small inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "skin/colour_332.h"
#include "view/common/blue_noise.h"
#include "view/common/dither_names.h"
#include "view/common/perceptual_error.h"
#include "view/common/quantise.h"
#include "view/common/render.h"

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
    EXPECT_EQ(dither_row_of(c.method).steady_frames, c.changed_outside == 0) << "as the table says";
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
        for (const dither_row& row : dither_rows()) {
            const std::vector<std::uint8_t> block = quantise_332(rgb, side, side, row.method, key);
            EXPECT_EQ(std::count(block.begin(), block.end(), key), 0)
                << "key " << +key << ", dither " << row.name;
        }
    }
}

// Each dither by the name that skin.toml and --dither spell, and the help that lists them.
TEST(dither_names, spell_each_dither)
{
    const std::vector<std::pair<const char*, std::optional<dither_method>>> cases{
        {"none", dither_method::none},
        {"floyd-steinberg", dither_method::floyd_steinberg},
        {"ordered", dither_method::ordered},
        {"refined", dither_method::refined},
        {"Ordered", std::nullopt},
        {"fs", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, method] : cases) {
        EXPECT_EQ(parse_dither(name), method) << name;
        EXPECT_STREQ(method ? dither_name(*method) : name, name);
    }
    EXPECT_EQ(dither_help(),
              "none (default), floyd-steinberg, ordered or refined; none, ordered and refined keep "
              "still pixels of animation frames steady, floyd-steinberg does not. refined: The diffused "
              "pattern searched for the least error the eye sees: the closest, steady in animations "
              "but near what moves, up to a tenth of a second a 128x128 frame; for final art");
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
    panel_levels panel = standard_panel();
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
    EXPECT_EQ(quantise_332(c.rgb, c.width, c.height, c.method, {}, nullptr, c.panel), c.expected);
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
        // On uneven levels, the nearest by value: red 100 takes level 4 (110), green 181 level 6
        // (210), blue 100 and 30 level 2 (120) and 1 (40); the standard ones give 0x75 and 0xE0.
        quantise_case{
            "uneven_levels",
            3,
            1,
            {10, 20, 80, 100, 181, 100, 255, 0, 30},
            dither_method::none,
            {0x05, 0x9A, 0xE1},
            {{0, 20, 45, 75, 110, 150, 200, 255}, {0, 10, 30, 60, 100, 150, 210, 255}, {0, 40, 120, 255}}},
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

// 16x16 greys in a checkerboard of `dark` and `light`, dark in the top left corner.
std::vector<std::uint8_t> checkerboard(std::uint8_t dark, std::uint8_t light)
{
    std::vector<std::uint8_t> values;
    for (int i = 0; i < 256; ++i)
        values.push_back((i % 16 + i / 16) % 2 ? light : dark);
    return greys(values);
}

// The error measure sees what the eye sees from arm's length: black and white pixels in turn
// (0.5 in linear light) as the grey of the same light, 188; blurred in encoded values, or not at
// all, they would be far from it. Edge pixels aside, whose blur repeats them outwards.
TEST(perceptual_error, sees_pixels_together_as_the_eye_does)
{
    const struct {
        const char* name;
        std::uint8_t grey;        // the source, flat
        std::uint8_t dark, light; // the result's checkerboard
        double least, most;       // of the interior's largest difference
    } cases[] = {
        {"same_grey", 188, 188, 188, 0, 0},
        {"checkerboard_of_the_same_light", 188, 0, 255, 0, 1},
        {"black_against_white", 0, 255, 255, 99.9, 100.1},
    };
    for (const auto& c : cases) {
        const std::vector<double> error =
            perceptual_error(checkerboard(c.grey, c.grey), checkerboard(c.dark, c.light), 16, 16);
        ASSERT_EQ(error.size(), 256u) << c.name;
        double largest = 0;
        for (int y = 3; y < 13; ++y)
            for (int x = 3; x < 13; ++x)
                largest = std::max(largest, error[static_cast<std::size_t>(y * 16 + x)]);
        EXPECT_GE(largest, c.least) << c.name;
        EXPECT_LE(largest, c.most) << c.name;
    }
}

// The search lowers the error the eye sees well below that of the diffusion it starts from, on a
// flat grey between two levels and on an edge between two such greys (90 and 170).
TEST(quantise_332, refined_sees_less_error_than_its_start)
{
    std::vector<std::uint8_t> edge;
    for (int p = 0; p < 32 * 32; ++p)
        for (const std::uint8_t c : p % 32 < 16 ? rgb_colour{90, 90, 90} : rgb_colour{170, 170, 170})
            edge.push_back(c);
    const struct {
        const char* name;
        std::vector<std::uint8_t> rgb; // 32x32
        double diffused, refined;      // the mean error seen: at least, at most
    } cases[] = {
        {"flat_tone", flat(32 * 32, {140, 140, 140}), 1.6, 1.4}, // 1.64 and 1.32 when written
        {"edge", edge, 1.9, 1.65},                               // 1.95 and 1.55
    };
    const auto seen = [](const std::vector<std::uint8_t>& rgb, dither_method method) {
        const std::vector<double> error =
            perceptual_error(rgb, block_to_rgb(quantise_332(rgb, 32, 32, method), standard_panel()), 32, 32);
        return std::accumulate(error.begin(), error.end(), 0.0) / static_cast<double>(error.size());
    };
    for (const auto& c : cases) {
        EXPECT_GE(seen(c.rgb, dither_method::floyd_steinberg), c.diffused) << c.name;
        EXPECT_LE(seen(c.rgb, dither_method::refined), c.refined) << c.name;
    }
}

} // namespace
