// Reading and writing a whole file as one block.
#pragma once

#include <cstdint>
#include <span>

#include "support/memory.h"

// The file's bytes followed by one zero byte, or empty when the file cannot be opened.
// The byte count (without the zero) goes to `length` unless it is null.
byte_buffer load_whole_file(const char* path, std::int32_t* length);

// Replaces `path` with `data` whole, or leaves any existing file there untouched.
void save_whole_file(const char* path, std::span<const std::uint8_t> data);
