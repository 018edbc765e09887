// Scores device images against their source as the eye sees them at the device's pixel size: both
// blurred by a Gaussian of one pixel in linear light, then the mean CIEDE2000 difference.
// Usage: quality_score SOURCE RESULT...   (one score a line, in the order of the results)
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
            std::printf("nan\n");
            status = 1;
            continue;
        }
        std::printf("%.4f\n", mean_error(error));
    }
    return status;
}
