// Who owns each file that skinview build would write or remove, and so whether build may touch it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/file_identity.h"
#include "support/file_io.h"
#include "view/common/skin_header.h"
#include "view/project/build_project.h"
#include "view/project/build_record.h"
#include "view/project/problem.h"

// An output file as found, looked at once however often the build asks: vouched for by its stamp,
// or read into one block and hashed.
struct disk_file {
    file_stamp stamp;       // as found
    bool vouched = false;   // the stamp is the record's: it holds the bytes of the record's hash
    bool read_yet = false;  // `read` holds what reading it gave
    whole_file read;        // read.length bytes; none when it could not be read
    std::uint64_t hash = 0; // of its bytes: the record's when vouched, else content_hash of `read`
};

// The bytes of a file as read.
std::span<const std::uint8_t> bytes_of(const disk_file& file);

// Output files as read so far, by name; nothing for one that is no regular file.
using disk_files = std::map<std::string, std::optional<disk_file>>;

// Every source of the project by its file's identity, so that an output is looked up once.
using source_files = std::map<file_identity, const project_entry*>;

// The sources that are there, each looked up once; the first entry that names a file owns it.
source_files source_identities(const skin_project& project);

// What the rule looks at in one output folder; whatever build may not touch is told in `problems`.
struct output_folder {
    const std::filesystem::path& out;
    const build_record& last;    // the last build's files and their stamps
    const source_files& sources; // every source, by its identity
    const build_options& options;
    disk_files& disk; // output files read so far
    std::vector<project_problem>& problems;
};

// The output file `name` in `out` as it is now, looked at once; null when there is no regular file.
// One whose stamp is in `last` as it is now is not read unless `bytes` asks for them.
const disk_file* on_disk(disk_files& disk, const build_record& last, const std::filesystem::path& out,
                         const std::string& name, bool bytes);

// Whether nothing stands in the way of a file that build owns by its name (the record, the depfile,
// the stamp); else why is told in `problems`.
bool check_fixed(const std::filesystem::path& path, const build_options& options,
                 const std::filesystem::path& out, std::vector<project_problem>& problems);

enum class output_check : std::uint8_t {
    unchanged, // holds the bytes already: left as it is, and build's from now on
    write,     // may take the new bytes
    refused,   // in the way, and told
};

// What becomes of the output `name` that is to hold `bytes`, whose content_hash is `hash`.
output_check check_output(output_folder& folder, const std::string& name, std::span<const std::uint8_t> bytes,
                          std::uint64_t hash);

// The numbered BMPs that must go: those of the last build the project no longer needs, and any
// file that skinpack would read after the last picture or icon.
std::vector<std::string> plan_removals(output_folder& folder, const skin_contents& contents);
