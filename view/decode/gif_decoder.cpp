// GIF decoding of our own: the frame structure read through a bounded reader, the LZW codes
// decoded into a bounded table, and the frames composed on one canvas, clipped to it.
#include "view/decode/gif_decoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "support/byte_reader.h"
#include "view/decode/bmp_decoder.h"

namespace {

constexpr std::uint8_t extension_block = 0x21;
constexpr std::uint8_t image_block = 0x2C;
constexpr std::uint8_t trailer_block = 0x3B;
constexpr std::uint8_t control_label = 0xF9;
constexpr int max_code_bits = 12;

enum class disposal : std::uint8_t { leave, clear, restore };

// One frame as its blocks declare it; its codes are read only when it is drawn.
struct gif_frame {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool interlaced = false;
    std::span<const std::uint8_t> palette; // three bytes an entry
    int transparent = -1;                  // the index drawn as nothing, or none
    disposal after = disposal::leave;
    int delay_ms = 0; // as the control block gives it, in hundredths of a second
    int code_size = 0;
    std::uint64_t data_at = 0; // the first sub-block of its codes
};

struct gif_layout {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<gif_frame> frames;
};

// The offset just past a chain of sub-blocks that starts at `at`; marks the reader overrun if
// the file ends inside it.
std::uint64_t skip_sub_blocks(byte_reader& reader, std::uint64_t at)
{
    while (!reader.overrun) {
        const std::uint8_t size = read_u8(reader, at);
        at += 1 + std::uint64_t{size};
        if (size == 0)
            break;
    }
    if (!holds(reader, 0, at))
        reader.overrun = true;
    return at;
}

// Browsers take method 4 as "restore" too; other unknown methods leave the frame.
disposal disposal_of(std::uint8_t flags)
{
    const int method = flags >> 2 & 7;
    return method == 2 ? disposal::clear : method == 3 || method == 4 ? disposal::restore : disposal::leave;
}

// Reads the blocks up to the trailer (or the end of the file, which some writers leave it at),
// stopping after `max_frames` frames. Refuses a file cut inside a block.
bool read_layout(std::span<const std::uint8_t> file, std::size_t max_frames, gif_layout& layout,
                 decode_problem& problem)
{
    byte_reader reader{file};
    layout.width = read_u16(reader, 6);
    layout.height = read_u16(reader, 8);
    const std::uint8_t screen_flags = read_u8(reader, 10);
    std::uint64_t at = 13;
    std::span<const std::uint8_t> global;
    if (screen_flags & 0x80) {
        global = read_bytes(reader, at, 3u << ((screen_flags & 7) + 1));
        at += global.size();
    }
    gif_frame next;
    while (!reader.overrun && at < file.size() && layout.frames.size() < max_frames) {
        const std::uint8_t block = read_u8(reader, at);
        if (block == trailer_block)
            break;
        if (block == extension_block) {
            if (read_u8(reader, at + 1) == control_label && read_u8(reader, at + 2) >= 4) {
                const std::uint8_t flags = read_u8(reader, at + 3);
                next.after = disposal_of(flags);
                next.transparent = flags & 1 ? read_u8(reader, at + 6) : -1;
                next.delay_ms = read_u16(reader, at + 4) * 10;
            }
            at = skip_sub_blocks(reader, at + 2);
            continue;
        }
        if (block != image_block)
            break; // browsers stop at an unknown block and show the frames before it
        next.left = read_u16(reader, at + 1);
        next.top = read_u16(reader, at + 3);
        next.width = read_u16(reader, at + 5);
        next.height = read_u16(reader, at + 7);
        const std::uint8_t flags = read_u8(reader, at + 9);
        next.interlaced = (flags & 0x40) != 0;
        at += 10;
        next.palette = global;
        if (flags & 0x80) {
            next.palette = read_bytes(reader, at, 3u << ((flags & 7) + 1));
            at += next.palette.size();
        }
        next.code_size = read_u8(reader, at);
        next.data_at = at + 1;
        at = skip_sub_blocks(reader, at + 1);
        if (next.palette.empty() && !reader.overrun) {
            problem.failure = decode_failure::gif_no_colour_table;
            return false;
        }
        if ((next.code_size < 1 || next.code_size > 8) && !reader.overrun) {
            problem.failure = decode_failure::gif_bad_code_size;
            return false;
        }
        layout.frames.push_back(next);
        next = {}; // a control block governs only the frame right behind it
    }
    if (reader.overrun) {
        problem.failure = decode_failure::ends_early;
        return false;
    }
    if (layout.frames.empty()) {
        problem.failure = decode_failure::gif_no_frames;
        return false;
    }
    return true;
}

// Where one frame's pixels go: its place on the canvas, in its rows' order, clipped.
struct painter {
    std::uint8_t* canvas = nullptr;
    std::int64_t canvas_width = 0;
    std::int64_t canvas_height = 0;
    const gif_frame* frame = nullptr;
    std::int64_t column = 0;
    std::int64_t row = 0;
    int pass = 0; // of an interlaced frame: rows 0, 4, 2, 1 on, every 8, 8, 4, 2
    bool full = false;
};

// Draws the next pixel of the frame, the colour of palette entry `index`.
void paint(painter& p, unsigned index)
{
    const gif_frame& f = *p.frame;
    const std::int64_t x = f.left + p.column;
    const std::int64_t y = f.top + p.row;
    if (static_cast<int>(index) != f.transparent && x < p.canvas_width && y < p.canvas_height) {
        std::uint8_t* pixel = p.canvas + (y * p.canvas_width + x) * 4;
        if (index < f.palette.size() / 3) // an entry past the table is black, as browsers show it
            std::memcpy(pixel, &f.palette[index * 3], 3);
        else
            std::memset(pixel, 0, 3);
        pixel[3] = 255;
    }
    if (++p.column < f.width)
        return;
    p.column = 0;
    static constexpr std::array<int, 4> first_row{0, 4, 2, 1};
    static constexpr std::array<int, 4> step{8, 8, 4, 2};
    if (!f.interlaced) {
        p.full = ++p.row >= f.height;
        return;
    }
    p.row += step[static_cast<std::size_t>(p.pass)];
    while (p.row >= f.height && p.pass < 3)
        p.row = first_row[static_cast<std::size_t>(++p.pass)];
    p.full = p.row >= f.height;
}

// The codes of a frame, read bit by bit from its sub-blocks.
struct code_stream {
    byte_reader reader;
    std::uint64_t at = 0;
    std::uint8_t left_in_block = 0;
    std::uint32_t bits = 0;
    int bit_count = 0;
    bool ended = false;
};

// The next code of `width` bits, or -1 where the sub-blocks end.
int next_code(code_stream& s, int width)
{
    while (s.bit_count < width) {
        if (s.left_in_block == 0) {
            s.left_in_block = read_u8(s.reader, s.at++);
            if (s.left_in_block == 0 || s.reader.overrun)
                return -1;
        }
        s.bits |= std::uint32_t{read_u8(s.reader, s.at++)} << s.bit_count;
        s.bit_count += 8;
        --s.left_in_block;
    }
    const int code = static_cast<int>(s.bits & ((1u << width) - 1));
    s.bits >>= width;
    s.bit_count -= width;
    return code;
}

// Decodes a frame's LZW codes and paints its pixels until the frame is full, the codes end or a
// code is impossible; as browsers do, what was decoded stays drawn and the rest is left as it was.
void draw_frame(std::span<const std::uint8_t> file, painter& p)
{
    const gif_frame& f = *p.frame;
    if (f.width == 0 || f.height == 0)
        return;
    code_stream s{.reader = {file}, .at = f.data_at};
    const int clear = 1 << f.code_size;
    std::array<std::uint16_t, 1 << max_code_bits> prefix{};
    std::array<std::uint8_t, 1 << max_code_bits> suffix{};
    std::array<std::uint8_t, 1 << max_code_bits> first{}; // the first index of each code's string
    std::array<std::uint8_t, 1 << max_code_bits> string{};
    for (int code = 0; code < clear; ++code)
        suffix[static_cast<std::size_t>(code)] = first[static_cast<std::size_t>(code)] =
            static_cast<std::uint8_t>(code);
    int next = clear + 2;
    int width = f.code_size + 1;
    int previous = -1;
    while (!p.full) {
        const int code = next_code(s, width);
        if (code < 0 || code == clear + 1)
            return;
        if (code == clear) {
            next = clear + 2;
            width = f.code_size + 1;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code > clear)
                return;
            paint(p, static_cast<unsigned>(code));
            previous = code;
            continue;
        }
        if (code > next || (code == next && next == 1 << max_code_bits))
            return;
        const auto prior = static_cast<std::size_t>(previous);
        const std::uint8_t head = code == next ? first[prior] : first[static_cast<std::size_t>(code)];
        if (next < 1 << max_code_bits) {
            const auto added = static_cast<std::size_t>(next);
            prefix[added] = static_cast<std::uint16_t>(previous);
            suffix[added] = head;
            first[added] = first[prior];
            if (++next == 1 << width && width < max_code_bits)
                ++width;
        }
        std::size_t length = 0; // the string, last index first; each prefix is an earlier code
        int c = code;
        for (; c >= clear; c = prefix[static_cast<std::size_t>(c)])
            string[length++] = suffix[static_cast<std::size_t>(c)];
        string[length++] = static_cast<std::uint8_t>(c);
        while (length > 0 && !p.full)
            paint(p, string[--length]);
        previous = code;
    }
}

} // namespace

std::vector<rgba_image> decode_gif(std::span<const std::uint8_t> file, std::size_t max_frames,
                                   decode_problem& problem)
{
    problem.format = "GIF";
    gif_layout layout;
    if (!read_layout(file, max_frames, layout, problem))
        return {};
    problem.width = static_cast<std::uint64_t>(layout.width);
    problem.height = static_cast<std::uint64_t>(layout.height);
    problem.frames = layout.frames.size();
    const std::uint64_t pixels = problem.width * problem.height;
    if (pixels == 0) {
        problem.failure = decode_failure::no_pixels;
        return {};
    }
    if (pixels > max_image_pixels) {
        problem.failure = decode_failure::too_many_pixels;
        return {};
    }
    if (pixels * layout.frames.size() > max_image_pixels) {
        problem.failure = decode_failure::frames_too_many_pixels;
        return {};
    }
    // Frames are decoded pixel by pixel even where they lie outside the canvas; their declared
    // areas together are held to the same limit, so that a small file cannot make long work.
    std::uint64_t areas = 0;
    for (const gif_frame& frame : layout.frames)
        areas += static_cast<std::uint64_t>(frame.width * frame.height);
    if (areas > max_image_pixels) {
        problem.failure = decode_failure::gif_frames_too_large;
        return {};
    }
    const std::size_t bytes = static_cast<std::size_t>(pixels) * 4;
    std::vector<std::uint8_t> canvas(bytes);
    std::vector<std::uint8_t> saved; // the canvas before a frame that is to be undone
    std::vector<rgba_image> frames;
    for (const gif_frame& frame : layout.frames) {
        if (frame.after == disposal::restore)
            saved = canvas;
        painter p{.canvas = canvas.data(),
                  .canvas_width = layout.width,
                  .canvas_height = layout.height,
                  .frame = &frame};
        draw_frame(file, p);
        byte_buffer rgba(static_cast<std::uint8_t*>(std::malloc(bytes)));
        if (!rgba) {
            problem.failure = decode_failure::out_of_memory;
            return {};
        }
        std::memcpy(rgba.get(), canvas.data(), bytes);
        frames.push_back({static_cast<int>(layout.width), static_cast<int>(layout.height), std::move(rgba),
                          frame.delay_ms});
        if (frame.after == disposal::restore)
            canvas.swap(saved);
        else if (frame.after == disposal::clear)
            for (std::int64_t y = frame.top; y < std::min(frame.top + frame.height, layout.height); ++y)
                for (std::int64_t x = frame.left; x < std::min(frame.left + frame.width, layout.width); ++x)
                    std::memset(&canvas[static_cast<std::size_t>((y * layout.width + x) * 4)], 0, 4);
    }
    return frames;
}
