// Reading and writing a whole file as one block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>

#include "support/memory.h"

// The file's bytes followed by one zero byte, or empty when the file cannot be opened.
// The byte count (without the zero) goes to `length` unless it is null.
byte_buffer load_whole_file(const char* path, std::int32_t* length);

// Creates `path` for writing in binary mode only if no file has that name, or gives null (with
// errno EEXIST when one has). The Windows C runtime ignores fopen's "x", so it is not used there.
std::FILE* create_new_file(const std::filesystem::path& path);

enum class save_outcome : std::uint8_t { saved, cannot_create, write_failed };

// Replaces the file at `path` (through any symbolic links, to their final target) with `data`
// whole, keeping its permission bits, or leaves it untouched. The bytes go to a temporary file of
// the run's own beside the target, renamed over it once complete. An existing target that cannot
// be opened for writing is left alone, and empty `data` counts as a failed write.
save_outcome replace_file(const std::filesystem::path& path, std::span<const std::uint8_t> data);

// replace_file, with "Can't create file: PATH" or "Write error on file: PATH" ending the program.
void save_whole_file(const char* path, std::span<const std::uint8_t> data);
