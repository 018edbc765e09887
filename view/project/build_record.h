// The record that skinview build keeps in the output folder: what it wrote, what it read, and
// what each conversion gave, so that the next build redoes only what changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// What the last build knew about a source, so that an unchanged one need not be read.
struct source_stamp {
    std::uint64_t hash = 0;
    std::uintmax_t size = 0;
    long long time = 0;
};

// The build record: the files build wrote, the sources it read, and what each conversion gave.
struct build_record {
    std::map<std::string, std::uint64_t> files;  // output name -> hash of the bytes written
    std::map<std::string, source_stamp> sources; // source as written -> stamp
    std::map<std::uint64_t, std::vector<std::uint64_t>> conversions; // key -> hash of each frame's BMP
    std::map<std::uint64_t, std::vector<int>> delays; // key -> each frame's time on show, in ms, if said
};

// The record of the last build; empty when there is none, or it is of another version.
build_record read_record(const std::filesystem::path& path);

// The record's text, as the next read_record takes it back.
std::string record_text(const build_record& record);
