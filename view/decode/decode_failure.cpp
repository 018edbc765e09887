// The one table from a decoder's failure to the sentence an artist reads.
#include "view/decode/decode_failure.h"

#include <array>
#include <cstring>

#include "view/decode/bmp_decoder.h"

namespace {

struct failure_text {
    decode_failure failure;
    const char* stb_reason; // for decode_failure::stb; null in the row that takes any other
    const char* text;       // {format}, {size}, {frames}, {limit}, {header}, {bits}, {compression}
};

// clang-format off
constexpr std::array<failure_text, 40> failure_texts{{
    {decode_failure::not_an_image, nullptr, "not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA"},
    {decode_failure::file_too_large, nullptr, "the file is larger than the 2 GiB skinview reads"},
    {decode_failure::no_pixels, nullptr, "the {format} declares no pixels ({size}): save it again"},
    {decode_failure::too_many_pixels, nullptr,
     "the {format} is {size} pixels, more than the {limit} skinview takes: scale it down"},
    {decode_failure::frames_too_many_pixels, nullptr,
     "the {format}'s {frames} frames of {size} pixels hold more than the {limit} skinview takes: "
     "use fewer or smaller frames"},
    {decode_failure::out_of_memory, nullptr,
     "there is not enough memory to decode the {format}: close other programs and try again"},
    {decode_failure::ends_early, nullptr, "the {format} ends early: save it again"},
    {decode_failure::damaged_header, nullptr, "the {format} is damaged or cut short: save it again"},
    {decode_failure::png_empty_data, nullptr, "the PNG is damaged (its first data chunk is empty): save it again"},
    {decode_failure::jpeg_impossible_tables, nullptr,
     "the JPEG is damaged (its Huffman tables are impossible): save it again"},
    {decode_failure::gif_no_frames, nullptr, "the GIF holds no frames: save it again"},
    {decode_failure::gif_no_colour_table, nullptr, "the GIF has a frame without colours: save it again"},
    {decode_failure::gif_bad_code_size, nullptr, "the GIF is damaged (a frame's code size is impossible): save it again"},
    {decode_failure::gif_frames_too_large, nullptr,
     "the GIF's frames reach far outside its {size} pixels, more than the {limit} skinview takes: "
     "save it again"},
    {decode_failure::bmp_unknown_header, nullptr,
     "the BMP has a header of {header} bytes, which skinview does not know: save it again as PNG"},
    {decode_failure::bmp_unsupported_form, nullptr,
     "the BMP is of {bits} bits a pixel with compression {compression}, which skinview cannot read: "
     "save it again as PNG"},
    {decode_failure::bmp_ends_in_header, nullptr, "the BMP ends inside its header: save it again"},
    {decode_failure::bmp_ends_in_table, nullptr, "the BMP ends inside its colour table: save it again"},
    {decode_failure::bmp_ends_in_pixels, nullptr, "the BMP ends before all its pixels: save it again"},
    // stb's decoders name their failures with short reasons of their own.
    {decode_failure::stb, "outofdata", "the {format} ends early: save it again"},
    {decode_failure::stb, "read past buffer", "the {format} ends early: save it again"},
    {decode_failure::stb, "no IDAT", "the {format} ends before its pixels: save it again"},
    {decode_failure::stb, "not enough pixels", "the {format} holds fewer pixels than it declares: save it again"},
    // Under the allocation cap, a stream that would need more memory than its size is damaged.
    {decode_failure::stb, "outofmem", "the {format} is damaged or cut short (its data does not fit its size): save it again"},
    {decode_failure::stb, "output buffer limit", "the {format} is damaged or cut short (its data does not fit its size): save it again"},
    {decode_failure::stb, "bad codelengths", "the {format}'s compressed data is damaged: save it again"},
    {decode_failure::stb, "bad huffman code", "the {format}'s compressed data is damaged: save it again"},
    {decode_failure::stb, "bad dist", "the {format}'s compressed data is damaged: save it again"},
    {decode_failure::stb, "zlib corrupt", "the {format}'s compressed data is damaged: save it again"},
    {decode_failure::stb, "bad zlib header", "the {format}'s compressed data is damaged: save it again"},
    {decode_failure::stb, "bad code lengths", "the {format}'s compressed data is damaged: save it again"},
    {decode_failure::stb, "too large", "the {format} declares more pixels than the {limit} skinview takes: scale it down"},
    {decode_failure::stb, "0-pixel image", "the {format} declares no pixels: save it again"},
    {decode_failure::stb, "0 width", "the {format} declares no pixels: save it again"},
    {decode_failure::stb, "1/2/4/8/16-bit only", "the {format} has a bit depth skinview cannot read: save it again with 8 bits a channel"},
    {decode_failure::stb, "only 8-bit", "the {format} has a bit depth skinview cannot read: save it again with 8 bits a channel"},
    {decode_failure::stb, "no header height", "the {format} gives its height only after its pixels, which skinview cannot read: save it again"},
    {decode_failure::stb, "bad png sig", "not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA"},
    {decode_failure::stb, "unknown image type", "not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA"},
    {decode_failure::stb, nullptr, "the {format} is damaged: save it again"},
}};
// clang-format on

// `text` with every `name` replaced by `value`.
std::string replaced(std::string text, const std::string& name, const std::string& value)
{
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
        text.replace(at, name.size(), value);
    return text;
}

} // namespace

std::string describe(const decode_problem& problem)
{
    const failure_text* row = nullptr;
    for (const failure_text& candidate : failure_texts)
        if (candidate.failure == problem.failure &&
            (candidate.stb_reason == nullptr || std::strcmp(candidate.stb_reason, problem.stb_reason) == 0)) {
            row = &candidate;
            break;
        }
    if (row == nullptr)
        return "";
    std::string text = replaced(row->text, "{format}", problem.format);
    text = replaced(text, "{size}", std::to_string(problem.width) + "x" + std::to_string(problem.height));
    text = replaced(text, "{frames}", std::to_string(problem.frames));
    text = replaced(text, "{limit}", std::to_string(max_image_pixels));
    text = replaced(text, "{header}", std::to_string(problem.bmp_header));
    text = replaced(text, "{bits}", std::to_string(problem.bits));
    return replaced(text, "{compression}", std::to_string(problem.compression));
}
