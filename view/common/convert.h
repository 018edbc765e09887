// Artwork made into a skin image: the one conversion that import and project builds share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "view/common/quantise.h"
#include "view/decode/bmp_decoder.h"

struct convert_options {
    int size = 0; // 16 or 128: scale other sizes to fit; 0: the image must be 16x16 or 128x128
    dither_method dither = dither_method::none;
    rgb_colour background{};
    std::optional<std::uint8_t> key;       // the byte of fully transparent pixels, which no other takes
    panel_levels panel = standard_panel(); // the colours that the codes are chosen to show
};

struct converted_image {
    std::vector<std::uint8_t> block; // 3-3-2 bytes, top row first; empty on failure
    int side = 0;
    std::vector<std::uint8_t> source; // the RGB the block was quantised from: flattened and fitted
    int delay_ms = 0;                 // the frame's time on show, as its file says; 0: not said
};

// Sources larger than this are refused unread; a real 128x128 source is far smaller.
inline constexpr std::uintmax_t max_source_bytes = std::uintmax_t{256} << 20;

// Changes whenever convert_image gives other blocks (or build keeps other facts of them) for the
// same image and options, so that images kept from a build by an older skinview are made again.
inline constexpr unsigned conversion_revision = 5;

// A colour written RRGGBB, with or without a leading '#'.
bool parse_colour(std::string text, rgb_colour& colour);

// The device byte of a key colour; nothing when the colour is no device colour, which
// `nearest` then holds the nearest device colour to.
std::optional<std::uint8_t> key_byte(const rgb_colour& colour, rgb_colour& nearest);

// The whole of an artwork file; empty with the reason in `error` when it is missing, not a
// file, over max_source_bytes, empty or unreadable.
std::vector<std::uint8_t> read_source(const std::filesystem::path& source, std::string& error);

// A decoded image flattened on the background, fitted to its square and quantised; after the
// `earlier` frame of an animation, still pixels stay as they were there.
converted_image convert_image(const rgba_image& image, const convert_options& options, std::string& error,
                              const converted_image* earlier = nullptr);

// An uncompressed bottom-up 8-bit BMP whose colour-table entry b is byte b as the device shows
// it, so that every pixel index is its own skin byte.
std::vector<std::uint8_t> device_bmp(std::span<const std::uint8_t> block, int side);

// The block and side that a BMP written by device_bmp holds (no source); an empty block when
// `bmp` is not the size of one.
converted_image device_block(std::span<const std::uint8_t> bmp);
