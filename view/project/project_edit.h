// Changes of a skin project in memory, as the studio's page makes them: an entry renamed, moved,
// removed, added, given options or new artwork. Nothing here reads or writes a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "view/project/project.h"

// An entry's own value of an option, or nothing for the project's default.
using dither_choice = std::optional<dither_method>;
using colour_choice = std::optional<rgb_colour>;

// What an options edit sets; an option not given stays as it is.
struct entry_options {
    std::optional<dither_choice> dither;
    std::optional<colour_choice> background;
};

// Renames entry `entry`; false, with `problem` for the page, when the name cannot be its.
bool rename_entry(skin_project& project, std::size_t entry, const std::string& name, std::string& problem);

// Moves entry `from` to place `to` (both below the number of entries); with `icon` given, it
// joins that series there: a picture dropped among the icons.
void move_entry(skin_project& project, std::size_t from, std::size_t to, std::optional<bool> icon);

// Removes entry `entry`.
void remove_entry(skin_project& project, std::size_t entry);

// Sets the options given; the others stay.
void set_options(project_entry& entry, const entry_options& options);

// Has the entry imported from `source` alone, as its new artwork.
void set_source(project_entry& entry, const std::string& source);

// Adds a picture or an icon imported from `source`, named `base` or, when that is taken,
// base_2, base_3, ...
void add_entry(skin_project& project, bool icon, const std::string& base, const std::string& source);
