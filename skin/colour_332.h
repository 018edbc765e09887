// The 3-3-2 colour model of the device: a pixel byte holds three bits of red, three of green and
// two of blue. Packing takes the top bits of each 8-bit channel; the device shows each field
// with its bits repeated to fill eight, so 0 stays 0 and the top level becomes 255.
#pragma once

#include <array>
#include <cstdint>

inline constexpr std::array<int, 3> channel_bits_332{3, 3, 2}; // red, green, blue

// The pixel byte of one level per channel (red and green 0 to 7, blue 0 to 3).
constexpr std::uint8_t pack_levels_332(unsigned red, unsigned green, unsigned blue)
{
    return static_cast<std::uint8_t>(red << 5 | green << 2 | blue);
}

// The pixel byte of an 8-bit colour as skinpack packs it: the top bits of each channel, no rounding.
constexpr std::uint8_t pack_332(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return pack_levels_332(red >> 5u, green >> 5u, blue >> 6u);
}

// The 8-bit value the device shows for `level` of a channel of `bits` bits (3 or 2).
constexpr std::uint8_t device_level(int bits, unsigned level)
{
    return static_cast<std::uint8_t>(bits == 3 ? level << 5 | level << 2 | level >> 1 : level * 0x55);
}

// The 8-bit red, green and blue the device shows for a pixel byte.
constexpr std::array<std::uint8_t, 3> expand_332(std::uint8_t pixel)
{
    return {device_level(3, pixel >> 5u), device_level(3, pixel >> 2u & 7u), device_level(2, pixel & 3u)};
}

// The sRGB value that each level of each channel shows on a panel, rising from black. A real
// panel's levels are rarely evenly spaced in light: these are what it was measured to show.
struct panel_levels {
    std::array<std::uint8_t, 8> red{};
    std::array<std::uint8_t, 8> green{};
    std::array<std::uint8_t, 4> blue{};
    friend constexpr bool operator==(const panel_levels&, const panel_levels&) = default;
};

// The panel that shows each level as expand_332 does: what a skin without a [panel] assumes.
constexpr panel_levels standard_panel()
{
    panel_levels panel;
    for (unsigned level = 0; level < 8; ++level)
        panel.red[level] = panel.green[level] = device_level(3, level);
    for (unsigned level = 0; level < 4; ++level)
        panel.blue[level] = device_level(2, level);
    return panel;
}

// The 8-bit red, green and blue that `panel` shows for a pixel byte.
constexpr std::array<std::uint8_t, 3> panel_colour(const panel_levels& panel, std::uint8_t pixel)
{
    return {panel.red[pixel >> 5u], panel.green[pixel >> 2u & 7u], panel.blue[pixel & 3u]};
}
