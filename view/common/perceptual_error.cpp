// The perceptual error: blurred in linear light, compared in CIE L*a*b* by CIEDE2000.
#include "view/common/perceptual_error.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

struct linear_image {
    int width = 0;
    int height = 0;
    std::vector<std::array<double, 3>> pixels;
};

// An sRGB channel (0 to 1) in linear light.
double to_linear(double encoded)
{
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// The pixels of an sRGB image in linear light.
linear_image to_linear_image(std::span<const std::uint8_t> rgb, int width, int height)
{
    linear_image out{width, height, std::vector<std::array<double, 3>>(rgb.size() / 3)};
    for (std::size_t i = 0; i < out.pixels.size(); ++i)
        for (std::size_t c = 0; c < 3; ++c)
            out.pixels[i][c] = to_linear(rgb[i * 3 + c] / 255.0);
    return out;
}

// A separable Gaussian blur of `sigma` pixels, the edge pixels repeated outwards.
void blur(linear_image& image, double sigma)
{
    const int radius = static_cast<int>(std::ceil(3 * sigma));
    std::vector<double> weight(static_cast<std::size_t>(2 * radius + 1));
    double total = 0;
    for (int k = -radius; k <= radius; ++k)
        total += weight[static_cast<std::size_t>(k + radius)] = std::exp(-0.5 * k * k / (sigma * sigma));
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

std::vector<double> perceptual_error(std::span<const std::uint8_t> source,
                                     std::span<const std::uint8_t> result, int width, int height,
                                     double blur_sigma)
{
    const auto size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    if (width <= 0 || height <= 0 || source.size() != size || result.size() != size)
        return {};
    linear_image one = to_linear_image(source, width, height);
    linear_image two = to_linear_image(result, width, height);
    blur(one, blur_sigma);
    blur(two, blur_sigma);
    std::vector<double> error(one.pixels.size());
    for (std::size_t p = 0; p < error.size(); ++p)
        error[p] = ciede2000(lab(one.pixels[p]), lab(two.pixels[p]));
    return error;
}

double mean_error(const std::vector<double>& error)
{
    double sum = 0;
    for (const double e : error)
        sum += e;
    return error.empty() ? 0 : sum / static_cast<double>(error.size());
}

// The error map's colours: black where the eye sees no difference, through red and yellow to white
// at 10 units of CIEDE2000 and more (a difference plainly seen).
std::vector<std::uint8_t> error_heat_map(const std::vector<double>& error)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(error.size() * 3);
    for (const double e : error) {
        const double t = std::clamp(e / 10, 0.0, 1.0) * 3;
        for (int c = 0; c < 3; ++c)
            rgb.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(t - c, 0.0, 1.0) * 255)));
    }
    return rgb;
}
