// The studio's touch-up edits: a layer read from the page's request, saved as its entry's PNG
// (the old one kept for undo), cleared, or made empty for an entry drawn from nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "view/project/project.h"
#include "view/studio/edit_history.h"
#include "view/studio/http.h"

// A layer as the page sends it: frame after frame of side x side values, -1 or a code.
struct page_layer {
    std::vector<std::vector<int>> frames;
};

// Reads {"layer": [[...], ...]} from the request's body into `layer`, each value -1 or 0..255;
// "" when it is such a layer, else what is wrong.
std::string read_page_layer(const http_request& request, page_layer& layer);

// What is wrong with a layer for an entry of `frames` frames of `side`; "" when nothing is.
std::string layer_shape_fault(const page_layer& layer, int side, std::size_t frames);

// Whether a layer paints no pixel.
bool layer_is_clear(const page_layer& layer);

// Saves `layer` as the entry's touch file (art/NAME.touch.png, made free, when it has none), the
// old one moved into the history first; a clear layer of an entry with a source removes the key
// and moves the file away. The moves are added to `made`; false, with `error`, if it could not.
bool save_layer(const std::filesystem::path& folder, const page_layer& layer, int side, project_entry& entry,
                edit_history& history, std::vector<file_move>& made, std::string& error);

// Adds an entry drawn from nothing at the end of the project: a free name, size 16 (icon) or
// 128, and an all-transparent layer written for it. False, with `error`, if it could not.
bool add_drawn_entry(const std::filesystem::path& folder, skin_project& project, bool icon,
                     edit_history& history, std::vector<file_move>& made, std::string& error);
