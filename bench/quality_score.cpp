// Scores device images against their source as the eye sees them at the device's pixel size: both
// blurred by a Gaussian of one pixel in linear light, then the mean CIEDE2000 difference.
// Usage: quality_score SOURCE RESULT...   (one score a line, in the order of the results)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "support/file_io.h"
#include "view/decode/decode_image.h"

namespace {

struct linear_image {
    int width = 0;
    int height = 0;
    std::vector<std::array<double, 3>> pixels;
};

double to_linear(double encoded)
{
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// The file's pixels in linear light, or an empty image with a message on stderr.
linear_image read_linear(const char* path)
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
    linear_image out{image.width, image.height, std::vector<std::array<double, 3>>(rgba.size() / 4)};
    for (std::size_t i = 0; i < out.pixels.size(); ++i)
        for (std::size_t c = 0; c < 3; ++c)
            out.pixels[i][c] = to_linear(rgba[i * 4 + c] / 255.0);
    return out;
}

// A separable Gaussian blur of sigma 1 pixel, the edge pixels repeated outwards.
void blur(linear_image& image)
{
    constexpr int radius = 3;
    std::array<double, 2 * radius + 1> weight{};
    double total = 0;
    for (int k = -radius; k <= radius; ++k)
        total += weight[static_cast<std::size_t>(k + radius)] = std::exp(-0.5 * k * k);
    for (double& w : weight)
        w /= total;
    const auto pass = [&](int dx, int dy) {
        std::vector<std::array<double, 3>> out(image.pixels.size());
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                std::array<double, 3> sum{};
                for (int k = -radius; k <= radius; ++k) {
                    const int sx = std::clamp(x + k * dx, 0, image.width - 1);
                    const int sy = std::clamp(y + k * dy, 0, image.height - 1);
                    const auto& p = image.pixels[static_cast<std::size_t>(sy * image.width + sx)];
                    for (std::size_t c = 0; c < 3; ++c)
                        sum[c] += weight[static_cast<std::size_t>(k + radius)] * p[c];
                }
                out[static_cast<std::size_t>(y * image.width + x)] = sum;
            }
        image.pixels.swap(out);
    };
    pass(1, 0);
    pass(0, 1);
}

// CIE L*a*b* (D65 white) of a linear sRGB colour.
std::array<double, 3> lab(const std::array<double, 3>& rgb)
{
    const double x = (0.4124564 * rgb[0] + 0.3575761 * rgb[1] + 0.1804375 * rgb[2]) / 0.95047;
    const double y = 0.2126729 * rgb[0] + 0.7151522 * rgb[1] + 0.0721750 * rgb[2];
    const double z = (0.0193339 * rgb[0] + 0.1191920 * rgb[1] + 0.9503041 * rgb[2]) / 1.08883;
    const auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

// The CIEDE2000 difference of two L*a*b* colours.
double ciede2000(const std::array<double, 3>& one, const std::array<double, 3>& two)
{
    constexpr double pi = std::numbers::pi;
    const auto degrees = [](double radians) { return radians * 180 / pi; };
    const auto radians = [](double deg) { return deg * pi / 180; };
    const double c1 = std::hypot(one[1], one[2]);
    const double c2 = std::hypot(two[1], two[2]);
    const double c_mean7 = std::pow((c1 + c2) / 2, 7);
    const double g = 0.5 * (1 - std::sqrt(c_mean7 / (c_mean7 + std::pow(25.0, 7))));
    const double a1 = (1 + g) * one[1];
    const double a2 = (1 + g) * two[1];
    const double cp1 = std::hypot(a1, one[2]);
    const double cp2 = std::hypot(a2, two[2]);
    const auto hue = [&](double a, double b) {
        if (a == 0 && b == 0)
            return 0.0;
        const double h = degrees(std::atan2(b, a));
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(a1, one[2]);
    const double h2 = hue(a2, two[2]);
    const double dl = two[0] - one[0];
    const double dc = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = h2 - h1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dH = 2 * std::sqrt(cp1 * cp2) * std::sin(radians(dh / 2));
    const double l_mean = (one[0] + two[0]) / 2;
    const double cp_mean = (cp1 + cp2) / 2;
    double h_mean = h1 + h2;
    if (cp1 * cp2 != 0) {
        if (std::abs(h1 - h2) <= 180)
            h_mean /= 2;
        else
            h_mean = h_mean < 360 ? (h_mean + 360) / 2 : (h_mean - 360) / 2;
    }
    const double t = 1 - 0.17 * std::cos(radians(h_mean - 30)) + 0.24 * std::cos(radians(2 * h_mean)) +
                     0.32 * std::cos(radians(3 * h_mean + 6)) - 0.20 * std::cos(radians(4 * h_mean - 63));
    const double d_theta = 30 * std::exp(-std::pow((h_mean - 275) / 25, 2));
    const double cp_mean7 = std::pow(cp_mean, 7);
    const double rc = 2 * std::sqrt(cp_mean7 / (cp_mean7 + std::pow(25.0, 7)));
    const double l50 = (l_mean - 50) * (l_mean - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double sc = 1 + 0.045 * cp_mean;
    const double sh = 1 + 0.015 * cp_mean * t;
    const double rt = -std::sin(radians(2 * d_theta)) * rc;
    return std::sqrt(std::pow(dl / sl, 2) + std::pow(dc / sc, 2) + std::pow(dH / sh, 2) +
                     rt * (dc / sc) * (dH / sh));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: quality_score SOURCE RESULT...\n");
        return 2;
    }
    linear_image source = read_linear(argv[1]);
    if (source.pixels.empty())
        return 1;
    blur(source);
    std::vector<std::array<double, 3>> source_lab(source.pixels.size());
    std::transform(source.pixels.begin(), source.pixels.end(), source_lab.begin(), lab);
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        linear_image result = read_linear(argv[i]);
        if (result.width != source.width || result.height != source.height) {
            std::fprintf(stderr, "quality_score: %s is not the size of %s\n", argv[i], argv[1]);
            std::printf("nan\n");
            status = 1;
            continue;
        }
        blur(result);
        double sum = 0;
        for (std::size_t p = 0; p < source_lab.size(); ++p)
            sum += ciede2000(source_lab[p], lab(result.pixels[p]));
        std::printf("%.4f\n", sum / static_cast<double>(source_lab.size()));
    }
    return status;
}
