// Why an image could not be decoded, from any decoder, and the one sentence shown for each.
#pragma once

#include <cstdint>
#include <string>

// What went wrong; `stb` stands for a failure that stb names by its own reason.
enum class decode_failure : std::uint8_t {
    none,
    not_an_image,
    file_too_large,
    no_pixels,
    too_many_pixels,
    frames_too_many_pixels,
    out_of_memory,
    ends_early,
    damaged_header,
    png_empty_data,
    jpeg_impossible_tables,
    gif_no_frames,
    gif_no_colour_table,
    gif_bad_code_size,
    gif_frames_too_large,
    bmp_unknown_header,
    bmp_unsupported_form,
    bmp_ends_in_header,
    bmp_ends_in_table,
    bmp_ends_in_pixels,
    stb,
};

// A failure with what its sentence names: the format ("PNG"), the declared size, the frames.
struct decode_problem {
    decode_failure failure = decode_failure::none;
    const char* format = "image";
    const char* stb_reason = ""; // for decode_failure::stb
    std::uint64_t width = 0;     // the declared size
    std::uint64_t height = 0;
    std::uint64_t frames = 0;
    std::uint32_t bmp_header = 0; // a BMP's information header size, bits a pixel and compression
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
};

// The sentence for `problem`: what is wrong and what to do.
std::string describe(const decode_problem& problem);
