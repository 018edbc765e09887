// Reading and writing a whole file as one block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <system_error>
#include <vector>

#include "support/memory.h"

// What reading a whole file found.
enum class read_outcome : std::uint8_t {
    read,        // the bytes are there
    missing,     // no directory entry has the name
    cannot_open, // an entry that cannot be opened: no permission, a dangling link, locked on Windows
    folder,      // a folder bears the name
    no_length,   // opened, but its length cannot be found
    too_large,   // longer than the limit
    no_memory,   // the heap cannot hold it
    read_failed, // empty, short on reading, or failing to close
};

struct whole_file {
    read_outcome outcome = read_outcome::missing;
    std::error_code open_error; // why an entry could not be opened
    byte_buffer bytes;          // the file's bytes and one zero byte, when read
    std::int32_t length = 0;    // the file's bytes, without the zero
};

// Reads the file at `path` whole if it holds at most `limit` bytes (and at most
// max_buffer_length), or says what kept it from being read. Never ends the program.
whole_file read_whole_file(const std::filesystem::path& path, std::uintmax_t limit = max_buffer_length);

// The bytes of `file` (read from `path`), or the program ended with the message for what kept it
// from being read: "Read error on file: PATH", "Can't find file length: PATH", "File too large:
// PATH" or "Out of memory". Empty only for a missing file. The byte count (without the zero) goes
// to `length` unless it is null.
byte_buffer loaded_or_die(whole_file file, const char* path, std::int32_t* length);

// The file's bytes followed by one zero byte, or empty when no file of that name exists; any
// other failure ends the program, as loaded_or_die says.
byte_buffer load_whole_file(const char* path, std::int32_t* length);

// The bytes of the file at `path` if it holds at most `limit` bytes; empty when it cannot be read.
std::vector<std::uint8_t> read_file_bytes(const std::filesystem::path& path,
                                          std::uintmax_t limit = max_buffer_length);

// Creates `path` for writing in binary mode only if no file has that name, or gives null (with
// errno EEXIST when one has). The Windows C runtime ignores fopen's "x", so it is not used there.
std::FILE* create_new_file(const std::filesystem::path& path);

enum class save_outcome : std::uint8_t { saved, cannot_create, write_failed, declined };

// Replaces the file at `path` (through any symbolic links, to their final target) with `data`
// whole, keeping its permission bits, or leaves it untouched. The bytes go to a temporary file of
// the run's own beside the target, renamed over it once complete. An existing target that cannot
// be opened for writing is left alone, and empty `data` counts as a failed write.
save_outcome replace_file(const std::filesystem::path& path, std::span<const std::uint8_t> data);

// replace_file, asking `still_wanted` once the new bytes are complete, right before they replace
// the file: when it says no, the file is left as it is and the outcome is `declined`.
save_outcome replace_file_if(const std::filesystem::path& path, std::span<const std::uint8_t> data,
                             const std::function<bool()>& still_wanted);

// replace_file, with "Can't create file: PATH" or "Write error on file: PATH" ending the program.
void save_whole_file(const char* path, std::span<const std::uint8_t> data);
