// A skin project made of a folder of numbered BMPs, each entry taking its BMP as it is, so that
// building it changes no file: what `skinview init` and the studio's first step share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "view/common/skin_folder.h"
#include "view/project/project.h"

enum class init_outcome : std::uint8_t {
    made,               // skin.toml written
    exists,             // something of that name was there already: never replaced
    appeared_meanwhile, // one appeared between the look and the write, and stands
    cannot_write,       // skin.toml could not be written
    refused,            // skinpack would refuse an image, or there is none: `problems` says which and why
};

struct folder_init {
    init_outcome outcome = init_outcome::made;
    skin_folder scan;                      // the folder as skinpack sees it; empty on `exists`
    skin_project project;                  // its file, and when scanned its entries and text
    std::vector<project_problem> problems; // on `refused`: each refused image, or that there is none
};

// Writes FOLDER/skin.toml listing the folder's numbered images, only while there is no such
// file. A folder without them gives an empty project when `empty_allowed`, else is refused.
folder_init init_project(const std::filesystem::path& folder, bool empty_allowed);
