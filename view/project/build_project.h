// skinview build's core: a project's entries converted and laid out as skinpack packs the
// folder, checked against what is on disk, and only then written; the studio's builds too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "view/decode/image.h"
#include "view/project/problem.h"
#include "view/project/project.h"

struct build_options {
    std::filesystem::path out;     // default: the project's folder
    bool embed = false;            // also skin_data.c
    std::filesystem::path depfile; // empty: none
    std::filesystem::path stamp;   // empty: none; else rewritten by every build without problems, and
                                   // named first in the depfile, for build tools without "restat"
    bool force = false;            // may replace or remove files that build did not write
    bool inside_only = false;      // writes nothing outside the output folder, even through a link
    bool dry_run = false;          // writes, creates and removes nothing, not even the record, depfile
                                   // or stamp; `written` and `removed` then say what a build would change
    // Called once an entry is converted (or taken from the last build): how many are, of how many.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// A source decoded already (an upload the studio checked), handed to the build so that it is not
// decoded again; taken only while the file's bytes still have its hash.
struct decoded_source {
    std::uint64_t hash = 0;         // content_hash of the file's bytes
    std::vector<rgba_image> frames; // as decode_frames gave them
};

// Decoded sources by their name as the project file writes it.
using decoded_sources = std::map<std::string, decoded_source>;

inline constexpr const char* build_record_name = ".skinview-build"; // in the output folder

struct build_result {
    std::vector<project_problem> problems; // the load's, then the build's; when any, no output was changed
    std::vector<project_slot> slots;       // in skin order
    std::vector<std::uint8_t> skin;        // the bytes of skin.skn
    std::uint32_t crc32 = 0;               // of `skin`
    std::vector<std::string> written;      // outputs whose bytes changed (would change), in the order written
    std::vector<std::string> removed;      // numbered BMPs of an earlier build that are (would be) removed
    unsigned decoded = 0; // sources decoded afresh rather than taken from the last build or handed over
    std::vector<std::filesystem::path> inputs; // the project file and every source, for watching
};

// Imports every entry as skinview import would, then writes the numbered BMPs, skin.skn, skin.h,
// skin.json (and skin_data.c, the depfile) into the output folder, each only if its bytes change.
// `loaded` holds what load_project found: with any problem, every entry that it leaves whole is
// still converted so that all problems are told at once, and nothing is written. A source in
// `handed` whose bytes still hash the same is converted from its frames there, not decoded again.
build_result build_project(const skin_project& project, const std::vector<project_problem>& loaded,
                           const build_options& options, const decoded_sources& handed = {});

// A project file read and built in one run: the project, every problem of both, what build made.
struct project_run {
    skin_project project;
    // load_project's answer: false when the file had any problem, the entries' included; `project`
    // then holds what could be read, and the build changed nothing.
    bool loaded = false;
    build_result build;
};

// Loads `file` and builds it with `options`, taking the frames in `handed` as build_project does;
// with problems, nothing is written (see build_project).
project_run run_project(const std::filesystem::path& file, const build_options& options,
                        const decoded_sources& handed = {});

// Whether `folder` holds a project file (a link to one included, whatever it points at).
bool holds_project(const std::filesystem::path& folder);

// The blocks of one entry, one slot per frame (image, frame, frame_count, series and side set, not
// numbered), converted as build would but with `dither` in place of the entry's own; nothing is
// read from the last build nor written. Empty, with its problems added to `problems`, on failure.
// Not `touched`: its touch-up layer is left off (an entry drawn from nothing is then all key or
// background), though its faults are still told.
std::vector<project_slot> convert_entry(const skin_project& project, std::size_t entry, dither_method dither,
                                        std::vector<project_problem>& problems, bool touched = true);
