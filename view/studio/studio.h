// The studio's state and its answers to the page: the project, its last build, every edit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "view/project/build_project.h"
#include "view/project/project.h"
#include "view/project/watch.h"
#include "view/studio/door.h"
#include "view/studio/edit_history.h"
#include "view/studio/http.h"

struct studio_state {
    std::filesystem::path folder; // the project's folder, canonical
    studio_door door;
    skin_project project;
    bool has_project = false;              // skin.toml was read, with or without problems
    std::vector<project_problem> problems; // of the last load and build; none when all is well
    build_result build;                    // the last build that succeeded: what the folder holds
    std::vector<std::string> built_names;  // the entry name of each slot of `build`
    std::uint64_t version = 1;             // bumped by every change, the page's and the disk's
    watch_state watch;                     // the project file and every source, as last built
    edit_history history;                  // the page's edits, to undo and redo
    bool stop = false;                     // the page asked the studio to end
};

// Reads and builds the project in `folder` (which may have no skin.toml yet).
void open_studio(studio_state& state, const std::filesystem::path& folder);

// The answer to one request, judged again by the door; a HEAD is answered as a GET without its
// body. The first request with the token removes the private page that brought it.
http_response answer_request(studio_state& state, const http_request& request);

// Takes one look at the project file and the sources on disk, and reloads and rebuilds once a
// change has settled; true if it did. Until then the last build stays shown.
bool follow_disk(studio_state& state);
