// A GIF writer with a real LZW encoder, so that decoders meet strings of codes, not only literals.
#include "tests/gif_writer.h"

#include <bit>
#include <map>

namespace {

void put_u16(std::vector<std::uint8_t>& out, int value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
}

// The LZW codes of `indices`, packed least significant bit first into sub-blocks.
void put_lzw(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& indices, int code_size)
{
    const int clear = 1 << code_size;
    std::vector<std::uint8_t> packed;
    std::uint32_t bits = 0;
    int bit_count = 0;
    int next = clear + 2;
    const auto emit = [&](int code) {
        // A reader adds each entry one code late, so it reads this code as wide as next - 1 needs.
        const int width = std::min(12, static_cast<int>(std::bit_width(static_cast<unsigned>(next - 1))));
        bits |= static_cast<std::uint32_t>(code) << bit_count;
        for (bit_count += width; bit_count >= 8; bit_count -= 8, bits >>= 8)
            packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    };
    std::map<std::pair<int, int>, int> table;
    emit(clear);
    int current = -1;
    for (const std::uint8_t index : indices) {
        if (current < 0) {
            current = index;
            continue;
        }
        const auto found = table.find({current, index});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        emit(current);
        table[{current, index}] = next++;
        if (next == 4096) { // full: start again
            emit(clear);
            table.clear();
            next = clear + 2;
        }
        current = index;
    }
    if (current >= 0)
        emit(current);
    emit(clear + 1);
    if (bit_count > 0)
        packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    out.push_back(static_cast<std::uint8_t>(code_size));
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t size = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(static_cast<std::uint8_t>(size));
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                   packed.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    out.push_back(0);
}

} // namespace

std::vector<std::uint8_t> gif_bytes(const gif_file& gif)
{
    std::vector<std::uint8_t> out{'G', 'I', 'F', '8', '9', 'a'};
    put_u16(out, gif.width);
    put_u16(out, gif.height);
    const int table_bits = std::max(1, static_cast<int>(std::bit_width(gif.palette.size() - 1)));
    out.insert(out.end(), {static_cast<std::uint8_t>(0x80 | (table_bits - 1)), 0, 0});
    for (const auto& colour : gif.palette)
        out.insert(out.end(), colour.begin(), colour.end());
    for (const gif_picture& frame : gif.frames) {
        if (frame.control)
            out.insert(out.end(),
                       {0x21, 0xF9, 4,
                        static_cast<std::uint8_t>(frame.disposal << 2 | (frame.transparent >= 0 ? 1 : 0)),
                        static_cast<std::uint8_t>(frame.delay), static_cast<std::uint8_t>(frame.delay >> 8),
                        static_cast<std::uint8_t>(std::max(frame.transparent, 0)), 0});
        out.push_back(0x2C);
        put_u16(out, frame.left);
        put_u16(out, frame.top);
        put_u16(out, frame.width);
        put_u16(out, frame.height);
        out.push_back(frame.interlaced ? 0x40 : 0);
        std::vector<std::uint8_t> stored = frame.indices;
        if (frame.interlaced) {
            stored.clear();
            for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
                for (int y = first; y < frame.height; y += step)
                    stored.insert(stored.end(), frame.indices.begin() + y * frame.width,
                                  frame.indices.begin() + (y + 1) * frame.width);
        }
        put_lzw(out, stored, std::max(2, table_bits));
    }
    out.push_back(0x3B);
    return out;
}

namespace {
const std::vector<std::array<std::uint8_t, 3>> colours{
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
} // namespace

gif_file disposal_sample(int disposal)
{
    // All red; a green square in the middle; a blue one lower right, its last pixel
    // transparent; a white pixel in the corner.
    return {.palette = colours,
            .frames = {
                {.width = 4, .height = 4, .disposal = 1, .indices = std::vector<std::uint8_t>(16, 0)},
                {.left = 1, .top = 1, .width = 2, .height = 2, .disposal = disposal, .indices = {1, 1, 1, 1}},
                {.left = 2,
                 .top = 2,
                 .width = 2,
                 .height = 2,
                 .disposal = disposal,
                 .transparent = 3,
                 .indices = {2, 2, 2, 3}},
                {.indices = {3}}}};
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> sample_gifs()
{
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    for (int disposal = 0; disposal < 4; ++disposal)
        files.emplace_back("gif-disposal-" + std::to_string(disposal) + ".gif",
                           gif_bytes(disposal_sample(disposal)));
    // All red; a green 3x3 hanging off the lower right, cleared; a frame wholly to the right;
    // an interlaced column of white, green, blue, white down the left edge.
    const gif_file outside{
        .palette = colours,
        .frames = {{.width = 4, .height = 4, .indices = std::vector<std::uint8_t>(16, 0)},
                   {.left = 2,
                    .top = 2,
                    .width = 3,
                    .height = 3,
                    .disposal = 2,
                    .indices = std::vector<std::uint8_t>(9, 1)},
                   {.left = 10, .top = 1, .width = 2, .height = 2, .indices = {2, 2, 2, 2}},
                   {.width = 1, .height = 4, .interlaced = true, .indices = {3, 1, 2, 3}}}};
    files.emplace_back("gif-frames-outside-canvas.gif", gif_bytes(outside));
    return files;
}
