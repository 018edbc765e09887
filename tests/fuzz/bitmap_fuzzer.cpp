// libFuzzer target: any bytes through the import decoders (ours for BMP, stb's behind the size
// limit for the rest, every frame of a GIF too), then the skin's checked conversion, and where it
// accepts them the reading of the image's own colours and skinpack's fatal form of the conversion.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "skin/bitmap.h"
#include "view/decode/decode_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string error;
    const rgba_image image = decode_image({data, size}, error);
    const auto pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    if (rgba_bytes(image).size() != pixels * 4 || !image.rgba == error.empty() || pixels > max_image_pixels)
        std::abort();             // an image must come whole and within the limit, or with a reason alone
    std::uint64_t all_frames = 0; // an animation's frames each whole, and together within the limit
    for (const rgba_image& frame : decode_frames({data, size}, error)) {
        const auto frame_pixels =
            static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height);
        if (rgba_bytes(frame).size() != frame_pixels * 4)
            std::abort();
        all_frames += frame_pixels;
    }
    if (all_frames > max_image_pixels)
        std::abort();

    // An exact-size heap copy, as the tools hold a loaded file, so any overread is caught.
    byte_buffer file(static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(size, 1))));
    std::memcpy(file.get(), data, size);
    const bitmap_conversion converted = try_convert_bitmap({file.get(), size});
    const bitmap_layout& layout = converted.layout;
    if (layout.problem != bitmap_problem::none) {
        if (converted.block)
            std::abort(); // a refused image comes without a block
        return 0;         // convert_bitmap would end the program, which libFuzzer counts as a crash
    }
    if (!converted.block || layout.side * layout.side > static_cast<std::int32_t>(size))
        std::abort(); // no block, or accepted a file too short for its own pixels

    if (bitmap_true_colours({data, size}, layout).size() !=
        static_cast<std::size_t>(layout.side * layout.side) * 3)
        std::abort();

    // skinpack's fatal form hands over the file and must give the same block.
    auto length = static_cast<std::int32_t>(size);
    const byte_buffer block = convert_bitmap(std::move(file), length, "fuzz.bmp");
    if (length != layout.side * layout.side ||
        !std::equal(block.get(), block.get() + length, converted.block.get()))
        std::abort();
    return 0;
}
