// Times quantise_332 alone, one frame at a time in one process, per dither and image side: the
// median over the images of the fastest of a few runs of each, in the process's processor time
// (which a busy machine does not inflate) and on the clock.
// Usage: dither_time RUNS IMAGE...   (the images square, 16x16 or 128x128)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/file_io.h"
#include "view/common/quantise.h"
#include "view/decode/decode_image.h"

namespace {

// The milliseconds of processor time and on the clock that the fastest of `runs` quantisations
// of `rgb` took.
std::pair<double, double> fastest_ms(const std::vector<std::uint8_t>& rgb, int side, dither_method method,
                                     int runs)
{
    std::pair<double, double> best{1e9, 1e9};
    for (int run = 0; run < runs; ++run) {
        const std::clock_t processor = std::clock();
        const auto start = std::chrono::steady_clock::now();
        const std::vector<std::uint8_t> block = quantise_332(rgb, side, side, method);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        const double used = 1000.0 * static_cast<double>(std::clock() - processor) / CLOCKS_PER_SEC;
        best = {std::min(best.first, used + (block.empty() ? 1 : 0)), std::min(best.second, took.count())};
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: dither_time RUNS IMAGE...\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    const std::vector<std::pair<const char*, dither_method>> methods{
        {"none", dither_method::none},
        {"floyd-steinberg", dither_method::floyd_steinberg},
        {"ordered", dither_method::ordered},
        {"refined", dither_method::refined}};
    std::map<std::pair<int, std::string>, std::vector<double>> processor;
    std::map<std::pair<int, std::string>, std::vector<double>> clock;
    for (int i = 2; i < argc; ++i) {
        const whole_file file = read_whole_file(argv[i], 1 << 24);
        std::string error;
        const rgba_image image =
            file.outcome == read_outcome::read
                ? decode_image({file.bytes.get(), static_cast<std::size_t>(file.length)}, error)
                : rgba_image{};
        if (!image.rgba || image.width != image.height) {
            std::fprintf(stderr, "dither_time: %s: not a square image\n", argv[i]);
            return 1;
        }
        const std::vector<std::uint8_t> rgb = flatten(image, {0, 0, 0});
        for (const auto& [name, method] : methods) {
            const auto [used, took] = fastest_ms(rgb, image.width, method, runs);
            processor[{image.width, name}].push_back(used);
            clock[{image.width, name}].push_back(took);
        }
    }
    for (auto& [what, used] : processor) {
        std::vector<double>& took = clock[what];
        std::sort(used.begin(), used.end());
        std::sort(took.begin(), took.end());
        std::printf(
            "%dx%d %-16s processor %7.2f ms median, %7.2f most; clock %7.2f median, %7.2f most; %zu images\n",
            what.first, what.first, what.second.c_str(), used[used.size() / 2], used.back(),
            took[took.size() / 2], took.back(), used.size());
    }
    return 0;
}
