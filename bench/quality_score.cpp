// Scores device images against their source as the eye sees them: the mean CIEDE2000 difference
// after a Gaussian blur of one pixel in linear light (at the device's pixel size), the same after
// a blur of two pixels (seen from farther), and the structural similarity of their luma.
// Usage: quality_score SOURCE RESULT...   (a line of three scores for each result, in order)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/file_io.h"
#include "view/common/perceptual_error.h"
#include "view/decode/decode_image.h"

namespace {

struct rgb_picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// The file's pixels as RGB, or an empty picture with a message on stderr.
rgb_picture read_rgb(const char* path)
{
    const whole_file file = read_whole_file(path, 1 << 28);
    if (file.outcome != read_outcome::read) {
        std::fprintf(stderr, "quality_score: cannot read %s\n", path);
        return {};
    }
    std::string error;
    const rgba_image image = decode_image({file.bytes.get(), static_cast<std::size_t>(file.length)}, error);
    if (!image.rgba) {
        std::fprintf(stderr, "quality_score: %s: %s\n", path, error.c_str());
        return {};
    }
    const std::span<const std::uint8_t> rgba = rgba_bytes(image);
    rgb_picture out{image.width, image.height, {}};
    out.rgb.reserve(rgba.size() / 4 * 3);
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        out.rgb.insert(out.rgb.end(), rgba.begin() + static_cast<std::ptrdiff_t>(i),
                       rgba.begin() + static_cast<std::ptrdiff_t>(i + 3));
    return out;
}

// The luma (0 to 255) of every pixel, as the structural measure compares it.
std::vector<double> luma(const rgb_picture& picture)
{
    std::vector<double> out(picture.rgb.size() / 3);
    for (std::size_t p = 0; p < out.size(); ++p)
        out[p] = 0.299 * picture.rgb[p * 3] + 0.587 * picture.rgb[p * 3 + 1] + 0.114 * picture.rgb[p * 3 + 2];
    return out;
}

// The plane blurred by the structural measure's window, a Gaussian of 1.5 pixels, edges repeated.
std::vector<double> window(const std::vector<double>& plane, int width, int height)
{
    constexpr int radius = 5;
    std::vector<double> weight;
    double total = 0;
    for (int k = -radius; k <= radius; ++k)
        total += weight.emplace_back(std::exp(-0.5 * k * k / (1.5 * 1.5)));
    std::vector<double> across(plane.size());
    std::vector<double> out(plane.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = -radius; k <= radius; ++k)
                across[static_cast<std::size_t>(y * width + x)] +=
                    weight[static_cast<std::size_t>(k + radius)] / total *
                    plane[static_cast<std::size_t>(y * width + std::clamp(x + k, 0, width - 1))];
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = -radius; k <= radius; ++k)
                out[static_cast<std::size_t>(y * width + x)] +=
                    weight[static_cast<std::size_t>(k + radius)] / total *
                    across[static_cast<std::size_t>(std::clamp(y + k, 0, height - 1) * width + x)];
    return out;
}

// The mean structural similarity (SSIM) of the two pictures' luma; 1 for the same.
double structural_similarity(const rgb_picture& one, const rgb_picture& two)
{
    const std::vector<double> a = luma(one);
    const std::vector<double> b = luma(two);
    std::vector<double> aa(a.size());
    std::vector<double> bb(a.size());
    std::vector<double> ab(a.size());
    for (std::size_t p = 0; p < a.size(); ++p) {
        aa[p] = a[p] * a[p];
        bb[p] = b[p] * b[p];
        ab[p] = a[p] * b[p];
    }
    const std::vector<double> ma = window(a, one.width, one.height);
    const std::vector<double> mb = window(b, one.width, one.height);
    const std::vector<double> saa = window(aa, one.width, one.height);
    const std::vector<double> sbb = window(bb, one.width, one.height);
    const std::vector<double> sab = window(ab, one.width, one.height);
    constexpr double c1 = (0.01 * 255) * (0.01 * 255);
    constexpr double c2 = (0.03 * 255) * (0.03 * 255);
    double sum = 0;
    for (std::size_t p = 0; p < a.size(); ++p) {
        const double va = saa[p] - ma[p] * ma[p];
        const double vb = sbb[p] - mb[p] * mb[p];
        const double cov = sab[p] - ma[p] * mb[p];
        sum += (2 * ma[p] * mb[p] + c1) * (2 * cov + c2) /
               ((ma[p] * ma[p] + mb[p] * mb[p] + c1) * (va + vb + c2));
    }
    return sum / static_cast<double>(a.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: quality_score SOURCE RESULT...\n");
        return 2;
    }
    const rgb_picture source = read_rgb(argv[1]);
    if (source.rgb.empty())
        return 1;
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        const rgb_picture result = read_rgb(argv[i]);
        const std::vector<double> error =
            perceptual_error(source.rgb, result.rgb, source.width, source.height);
        if (error.empty() || result.width != source.width) {
            std::fprintf(stderr, "quality_score: %s is not the size of %s\n", argv[i], argv[1]);
            std::printf("nan\tnan\tnan\n");
            status = 1;
            continue;
        }
        const std::vector<double> farther =
            perceptual_error(source.rgb, result.rgb, source.width, source.height, 2.0);
        std::printf("%.4f\t%.4f\t%.4f\n", mean_error(error), mean_error(farther),
                    structural_similarity(source, result));
    }
    return status;
}
