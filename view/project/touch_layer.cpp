// Touch-up layers: the layer's file read into codes, its faults found, laid over a conversion.
#include "view/project/touch_layer.h"

#include <algorithm>
#include <cstdio>

#include <stb/stb_image_write.h>

#include "skin/colour_332.h"
#include "view/decode/decode_image.h"

namespace {

// The level of `levels` that is `value`; -1 when none is.
int level_of(std::span<const std::uint8_t> levels, std::uint8_t value)
{
    const auto at = std::find(levels.begin(), levels.end(), value);
    return at == levels.end() ? -1 : static_cast<int>(at - levels.begin());
}

// The code whose standard expansion `colour` is, else the code `panel` shows as `colour` (a layer
// painted with the project's palette); -1 when none is. The standard one wins, as the studio
// writes it.
int code_of(const rgb_colour& colour, const panel_levels& panel)
{
    const std::uint8_t code = pack_332(colour[0], colour[1], colour[2]);
    if (expand_332(code) == colour)
        return code;
    const int red = level_of(panel.red, colour[0]);
    const int green = level_of(panel.green, colour[1]);
    const int blue = level_of(panel.blue, colour[2]);
    return red < 0 || green < 0 || blue < 0 ? -1 : red << 5 | green << 2 | blue;
}

// "#RRGGBB".
std::string hex(const rgb_colour& colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", colour[0], colour[1], colour[2]);
    return text;
}

// Appends the PNG writer's bytes to a vector.
void append(void* out, void* data, int size)
{
    auto* bytes = static_cast<const std::uint8_t*>(data);
    static_cast<std::vector<std::uint8_t>*>(out)->insert(static_cast<std::vector<std::uint8_t>*>(out)->end(),
                                                         bytes, bytes + size);
}

} // namespace

touch_layer read_touch_layer(std::span<const std::uint8_t> file, int side, unsigned frames,
                             const panel_levels& panel)
{
    touch_layer layer;
    const rgba_image image = decode_image(file, layer.decode_error);
    if (!image.rgba || image.width <= 0) {
        layer.fault = layer_fault::undecodable;
        return layer;
    }
    layer.width = image.width;
    layer.height = image.height;
    const bool whole = image.height % side == 0 && image.height > 0 &&
                       (frames == 0 || image.height == side * static_cast<int>(frames));
    if (image.width != side || !whole) {
        layer.fault = layer_fault::wrong_size;
        return layer;
    }
    const std::span<const std::uint8_t> rgba = rgba_bytes(image);
    layer.values.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(image.height), -1);
    for (std::size_t i = 0; i < layer.values.size(); ++i) {
        const std::uint8_t alpha = rgba[i * 4 + 3];
        layer.colour = {rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]};
        layer.x = static_cast<int>(i % static_cast<std::size_t>(side));
        layer.y = static_cast<int>(i / static_cast<std::size_t>(side));
        if (alpha != 0 && alpha != 255)
            layer.fault = layer_fault::partly_transparent;
        else if (alpha == 255 && (layer.values[i] = code_of(layer.colour, panel)) < 0)
            layer.fault = layer_fault::not_device_colour;
        if (layer.fault != layer_fault::none)
            return layer;
    }
    return layer;
}

std::string layer_fault_text(const touch_layer& layer, int side, unsigned frames)
{
    // Appended, not concatenated: g++ 12 at -O3 warns falsely on "(" + std::string.
    std::string at = "(";
    at.append(std::to_string(layer.x)).append(", ").append(std::to_string(layer.y)).append("): ");
    switch (layer.fault) {
    case layer_fault::none:
        return {};
    case layer_fault::undecodable:
        return layer.decode_error;
    case layer_fault::wrong_size:
        return std::to_string(layer.width) + "x" + std::to_string(layer.height) +
               " pixels: the layer must be " + std::to_string(side) + " wide and " +
               (frames == 0 ? "a whole number of " + std::to_string(side) + "-pixel frames"
                            : std::to_string(side * static_cast<int>(frames))) +
               " tall";
    case layer_fault::partly_transparent:
        return at + "partly transparent: a pixel of the layer is fully transparent or opaque";
    case layer_fault::not_device_colour: {
        rgb_colour nearest{};
        key_byte(layer.colour, nearest);
        return at + hex(layer.colour) + " is not a device colour; the nearest is " + hex(nearest);
    }
    }
    return {};
}

unsigned layer_frames(const touch_layer& layer, int side)
{
    return side > 0 ? static_cast<unsigned>(layer.values.size() / (static_cast<std::size_t>(side) * side))
                    : 0;
}

void lay_touch(std::vector<std::uint8_t>& block, int side, const touch_layer& layer, unsigned frame)
{
    const std::size_t area = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    const std::size_t first = area * frame;
    if (block.size() != area || layer.values.size() < first + area)
        return;
    for (std::size_t i = 0; i < area; ++i)
        if (layer.values[first + i] >= 0)
            block[i] = static_cast<std::uint8_t>(layer.values[first + i]);
}

std::vector<std::uint8_t> layer_png(std::span<const int> values, int side)
{
    std::vector<std::uint8_t> rgba(values.size() * 4, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < 0)
            continue;
        const auto colour = expand_332(static_cast<std::uint8_t>(values[i]));
        rgba[i * 4] = colour[0];
        rgba[i * 4 + 1] = colour[1];
        rgba[i * 4 + 2] = colour[2];
        rgba[i * 4 + 3] = 255;
    }
    std::vector<std::uint8_t> png;
    const int height = side > 0 ? static_cast<int>(values.size()) / side : 0;
    stbi_write_png_to_func(append, &png, side, height, 4, rgba.data(), side * 4);
    return png;
}
