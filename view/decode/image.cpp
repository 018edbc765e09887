// A decoded image's pixels as bytes.
#include "view/decode/image.h"

std::span<const std::uint8_t> rgba_bytes(const rgba_image& image)
{
    if (!image.rgba)
        return {};
    return {image.rgba.get(),
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4};
}
