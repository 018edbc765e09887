// Builds GIF files in memory, still or animated, for the tests and the fuzzer's seeds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct gif_picture {
    int left = 0;
    int top = 0;
    int width = 1;
    int height = 1;
    int disposal = 0;     // 0 to 7 as written in the control block
    bool control = true;  // whether a control block comes before it
    int transparent = -1; // the index written as transparent, or none
    bool interlaced = false;
    int delay = 10;                    // hundredths of a second on show
    std::vector<std::uint8_t> indices; // width x height, top row first
};

struct gif_file {
    int width = 4;
    int height = 4;
    std::vector<std::array<std::uint8_t, 3>> palette; // 2 to 256 entries, a power of two
    std::vector<gif_picture> frames;
};

// The bytes of `gif`: one global colour table, a control block before each frame that asks for
// one, and each frame's indices LZW-compressed with the smallest code size its table allows (at
// least 2).
std::vector<std::uint8_t> gif_bytes(const gif_file& gif);

// A 4x4 animation of red, green, blue and white whose middle two frames, smaller than the canvas,
// take the disposal method `disposal`.
gif_file disposal_sample(int disposal);

// Small animations on a 4x4 canvas of red, green, blue and white: one for each disposal method
// with frames smaller than the canvas, and one with frames partly and wholly outside it.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> sample_gifs();
