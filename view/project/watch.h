// Following a project's files: a stamp of each input, and the rule that waits for a save to
// settle before anything is built from it. Used by `skinview build --watch` and the studio.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

#include "view/project/project.h"

// How often the inputs are looked at: a save shows on the studio's page within half a second,
// for a stat of each input ten times a second.
inline constexpr std::chrono::milliseconds watch_poll_interval{100};
// Looks a save may go on changing the files (5 s) before it is built from all the same.
inline constexpr int watch_settle_limit = 50;

// What one look at an input found.
struct input_stamp {
    std::filesystem::file_type kind = std::filesystem::file_type::not_found; // not_found: absent
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time{};
    bool readable = false; // a file that opening for reading works on (tried, not judged by its mode)
    bool operator==(const input_stamp&) const = default;
};

using input_stamps = std::map<std::filesystem::path, input_stamp>;

// Looks at `path`, following links. Only a regular file is opened: a FIFO would hold the watcher.
input_stamp stamp_of(const std::filesystem::path& path);

// The stamp of each of `paths`.
input_stamps stamps_of(const std::vector<std::filesystem::path>& paths);

// The files a build of `project` reads: the project file and every source named, found or not.
std::vector<std::filesystem::path> project_inputs(const skin_project& project);

// The inputs to follow once `project` was loaded (`loaded`: without problems): its own, or
// `before` when the project file could not be read at all and names nothing.
std::vector<std::filesystem::path> inputs_to_watch(const skin_project& project, bool loaded,
                                                   std::vector<std::filesystem::path> before);

enum class watch_step : std::uint8_t {
    unchanged, // nothing to do
    settling,  // a change was seen and may still be going on: keep what was built
    settled,   // one look saw no further change (or the limit came): build now
};

struct watch_state {
    std::vector<std::filesystem::path> inputs;
    input_stamps built;     // as they were when last built
    input_stamps seen;      // the last look, while a change settles
    int settling_looks = 0; // looks since the change was first seen; 0: none is settling
};

// Takes the look `now` at the inputs and says what to do.
watch_step watch_next(watch_state& watch, input_stamps now);

// Looks at the inputs on disk and says what to do.
watch_step watch_look(watch_state& watch);

// The inputs whose stamps differ between the last build and the settled look, in path order.
std::vector<std::filesystem::path> changed_inputs(const watch_state& watch);

// Starts over after a build from `inputs`, as they are on disk now.
void watch_built(watch_state& watch, std::vector<std::filesystem::path> inputs);
