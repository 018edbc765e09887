// Who owns each file that skinview build would write or remove, and so whether build may touch it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "view/common/skin_header.h"
#include "view/project/problem.h"
#include "view/project/project.h"

// Output files as read so far, by name; nothing for one that is no regular file.
using disk_files = std::map<std::string, std::optional<std::vector<std::uint8_t>>>;

// What the rule looks at in one output folder; whatever build may not touch is told in `problems`.
struct output_folder {
    const std::filesystem::path& out;
    const std::map<std::string, std::uint64_t>& written;        // the last build's files, name -> hash
    const std::map<std::string, const project_entry*>& sources; // every source, by where it lies
    const build_options& options;
    disk_files& disk; // output files read so far
    std::vector<project_problem>& problems;
};

// The bytes of the output file `name` in `out` as they are now, read once; null when there is no such file.
const std::vector<std::uint8_t>* on_disk(disk_files& disk, const std::filesystem::path& out,
                                         const std::string& name);

// Whether nothing stands in the way of a file that build owns by its name (the record, the depfile,
// the stamp); else why is told in `problems`.
bool check_fixed(const std::filesystem::path& path, const build_options& options,
                 const std::filesystem::path& out, std::vector<project_problem>& problems);

enum class output_check : std::uint8_t {
    unchanged, // holds the bytes already: left as it is, and build's from now on
    write,     // may take the new bytes
    refused,   // in the way, and told
};

// What becomes of the output `name` that is to hold `bytes`.
output_check check_output(output_folder& folder, const std::string& name,
                          const std::vector<std::uint8_t>& bytes);

// The numbered BMPs that must go: those of the last build the project no longer needs, and any
// file that skinpack would read after the last picture or icon.
std::vector<std::string> plan_removals(output_folder& folder, const skin_contents& contents);
