// The page's edits of a skin project: each changes the project in memory; an upload first saves
// its file into the project folder, once it has decoded.
#pragma once

#include <filesystem>
#include <string>

#include "view/project/project.h"
#include "view/studio/edit_history.h"
#include "view/studio/http.h"

// Applies the edit that the request names (/api/options, /api/rename, /api/move, /api/remove,
// /api/source, /api/add) to `project`. What it does to files (an upload saved, a file it replaces
// kept in the history folder, an adopted BMP moved into art/) is added to `made`, as moves to
// take back on undo or on a failure. False, with `error` for the page, when it cannot be made.
bool apply_edit(const std::filesystem::path& folder, const http_request& request, skin_project& project,
                edit_history& history, std::vector<file_move>& made, std::string& error);

// What the page calls the edit that the request names, for its undo button: "rename".
std::string edit_label(const http_request& request);

// Makes skin.toml of a numbered folder, as `skinview init` does, or an empty one of a folder
// without images. False, with `error` for the page naming each refused file and why, if it did not.
bool start_project(const std::filesystem::path& folder, std::string& error);
