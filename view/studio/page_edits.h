// The page's edits of a skin project: each read from its request once and checked, then made on the
// project in memory; an upload first saves its file into the project folder, once it has decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "view/project/build_project.h"
#include "view/project/project.h"
#include "view/project/project_edit.h"
#include "view/studio/edit_history.h"
#include "view/studio/http.h"
#include "view/studio/touch_edits.h"

// The edits the page makes, each named by its request's path.
enum class edit_kind : std::uint8_t { add, options, rename, move, remove, source, touch };

// One edit of the page, as its request gives it; its bytes stay the request's.
struct page_edit {
    edit_kind kind = edit_kind::remove;
    std::optional<std::size_t> entry;     // the entry edited; none for an added one
    bool icon = false;                    // add: an icon rather than a picture
    entry_options options;                // options: what is set
    std::optional<std::string> name;      // rename: the new name
    std::optional<std::size_t> to;        // move: the place the entry goes to
    std::optional<bool> to_icons;         // move: the series it joins, when one is named
    std::string file_name;                // add, source: the upload's name, made safe
    std::span<const std::uint8_t> upload; // add, source: its bytes
    bool drawn = false;                   // add: drawn from nothing, no upload
    page_layer layer;                     // touch: the layer painted
    std::string layer_fault;              // touch: what is wrong with the body, if anything
    int side = 0;                         // touch: the entry's, set once its frames are known
};

// Why the page's request names no edit that can be made.
enum class edit_refusal : std::uint8_t {
    none,
    no_such_edit,
    no_such_entry,
    no_such_kind,
    bad_dither,
    bad_background,
    no_such_place,
    no_such_series,
    bad_layer, // page_edit::layer_fault says why
};

// Reads the edit that the request names (/api/options, /api/rename, /api/move, /api/remove,
// /api/source, /api/add) into `edit`, checked against a project of `entries` entries.
edit_refusal read_edit(const http_request& request, std::size_t entries, page_edit& edit);

// What the page is told of a refusal.
std::string refusal_text(edit_refusal refusal);

// Makes `edit` on `project`. What it does to files (an upload saved, a file it replaces kept in
// the history folder, an adopted BMP moved into art/) is added to `made`, as moves to take back
// on undo or on a failure; an upload's frames, decoded to check it, to `decoded` for the build.
// False, with `error` for the page, when it cannot be made.
bool apply_edit(const std::filesystem::path& folder, const page_edit& edit, skin_project& project,
                edit_history& history, std::vector<file_move>& made, decoded_sources& decoded,
                std::string& error);

// What the page calls an edit, for its undo button: "rename".
std::string edit_label(const page_edit& edit);

// Makes skin.toml of a numbered folder, as `skinview init` does, or an empty one of a folder
// without images. False, with `error` for the page naming each refused file and why, if it did not.
bool start_project(const std::filesystem::path& folder, std::string& error);
