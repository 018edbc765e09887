// An entry's touch-up layer: an RGBA PNG of device colours painted over its conversion, read,
// checked pixel by pixel, and laid over the converted frames.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "skin/colour_332.h"
#include "view/common/convert.h"

// What can be wrong with a layer file once its bytes are read.
enum class layer_fault : std::uint8_t {
    none,
    undecodable,        // no image
    wrong_size,         // not side wide and side x frames tall
    partly_transparent, // alpha neither 0 nor 255
    not_device_colour,  // opaque, but no code's colour, standard or the panel's
};

// A layer as read: one value a pixel, frame after frame, -1 for transparent, else the code.
struct touch_layer {
    std::vector<int> values; // side x side x frames
    layer_fault fault = layer_fault::none;
    int x = 0; // the pixel at fault, within the whole file
    int y = 0;
    rgb_colour colour{}; // the colour at fault
    int width = 0;       // the file's, for wrong_size
    int height = 0;
    std::string decode_error; // for undecodable
};

// The layer in `file`, which must be `side` wide and `side` x `frames` tall (`frames` 0: any
// whole number of frames, at least one); a pixel is a code's standard colour or its `panel` one.
touch_layer read_touch_layer(std::span<const std::uint8_t> file, int side, unsigned frames,
                             const panel_levels& panel);

// What is wrong with a layer, in words, after its file name: "(3, 4): ...".
std::string layer_fault_text(const touch_layer& layer, int side, unsigned frames);

// How many frames a faultless layer of `side` holds.
unsigned layer_frames(const touch_layer& layer, int side);

// `block` (frame `frame` of its entry) with each opaque pixel of the layer put in.
void lay_touch(std::vector<std::uint8_t>& block, int side, const touch_layer& layer, unsigned frame);

// The PNG of a layer: -1 transparent, else the code's standard expansion, opaque.
std::vector<std::uint8_t> layer_png(std::span<const int> values, int side);
