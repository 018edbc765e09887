// The record that skinview build keeps in the output folder: what it wrote, what it read, and
// what each conversion gave, so that the next build redoes only what changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the last build knew about a source, so that an unchanged one need not be read.
struct source_stamp {
    std::uint64_t hash = 0;
    std::uintmax_t size = 0;
    long long time = 0;
};

// An output's size and modification time as the system gives them, which vouch for the bytes
// build wrote or found there for as long as they stay.
struct file_stamp {
    std::uintmax_t size = 0;
    long long time = 0;
    bool operator==(const file_stamp&) const = default;
};

// The build record: the files build wrote, the sources it read, and what each conversion gave.
struct build_record {
    std::map<std::string, std::uint64_t> files;  // output name -> hash of the bytes written
    std::map<std::string, file_stamp> stamps;    // output name -> its stamp, when known
    std::map<std::string, source_stamp> sources; // source as written -> stamp
    std::map<std::uint64_t, std::vector<std::uint64_t>> conversions; // key -> hash of each frame's BMP
    std::map<std::uint64_t, std::vector<int>> delays; // key -> each frame's time on show, in ms, if said
    // key -> each frame's device codes before a touch-up layer, for conversions of touched entries
    std::map<std::uint64_t, std::vector<std::vector<std::uint8_t>>> untouched;
};

// The record of the last build; empty when there is none, or it is of another version.
build_record read_record(const std::filesystem::path& path);

// The record's text, as the next read_record takes it back.
std::string record_text(const build_record& record);

// The stamp of the regular file at `path`, links followed, in one status call; nothing when there
// is no regular file.
std::optional<file_stamp> output_stamp_of(const std::filesystem::path& path);
