// The page's edits of a skin project: each changes the project in memory; an upload first saves
// its file into the project folder, once it has decoded.
#pragma once

#include <filesystem>
#include <string>

#include "view/project/project.h"
#include "view/studio/http.h"

// Applies the edit that the request names (/api/options, /api/rename, /api/move, /api/remove,
// /api/source, /api/add) to `project`. False, with `error` for the page, when it cannot be
// made; then nothing was changed on disk but an upload saved into art/ before a later step failed.
bool apply_edit(const std::filesystem::path& folder, const http_request& request, skin_project& project,
                std::string& error);

// Makes skin.toml of a numbered folder, as `skinview init` does, or an empty one of a folder
// without images. False, with `error` for the page naming each refused file and why, if it did not.
bool start_project(const std::filesystem::path& folder, std::string& error);
