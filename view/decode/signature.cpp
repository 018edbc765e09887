// Image signatures, one row each.
#include "view/decode/signature.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct signature {
    std::size_t at; // where in the file the bytes are
    std::string_view bytes;
    image_format format;
};

using namespace std::string_view_literals;

// Every JPEG starts with its start-of-image marker and the first byte of the next one (FF D8 FF).
constexpr std::array<signature, 8> signatures{{
    {0, "BM"sv, image_format::bmp},
    {0, "\x89PNG\r\n\x1A\n"sv, image_format::png},
    {0, "\xFF\xD8\xFF"sv, image_format::jpeg},
    {0, "GIF87a"sv, image_format::gif},
    {0, "GIF89a"sv, image_format::gif},
    {0, "II*\0"sv, image_format::tiff},
    {0, "MM\0*"sv, image_format::tiff},
    {8, "WEBP"sv, image_format::webp},
}};

} // namespace

image_format format_by_signature(std::span<const std::uint8_t> file)
{
    for (const signature& s : signatures)
        if (file.size() >= s.at + s.bytes.size() &&
            std::equal(s.bytes.begin(), s.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(s.at),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            return s.format;
    return image_format::unknown;
}

const char* image_format_label(image_format format)
{
    switch (format) {
    case image_format::unknown:
        return nullptr;
    case image_format::bmp:
        return "BMP";
    case image_format::png:
        return "PNG";
    case image_format::jpeg:
        return "JPEG";
    case image_format::gif:
        return "GIF";
    case image_format::tiff:
        return "TIFF";
    case image_format::webp:
        return "WebP";
    }
    return nullptr;
}
