// Skin projects: named artwork listed in skin.toml, built into the numbered BMPs, the skin and
// its header. The contract between the project file, `skinview build`, `init` and the studio.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "view/common/convert.h"
#include "view/common/dither_names.h" // dither_name and parse_dither, for the project's readers
#include "view/common/quantise.h"
#include "view/common/skin_header.h"
#include "view/decode/image.h"
#include "view/project/c_name.h" // c_name, which every user of the project names entries by
#include "view/project/problem.h"

inline constexpr const char* project_file_name = "skin.toml";

// Bytes [begin, end) of a text.
struct text_span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Where one key of an entry is written: its whole lines, and its value within them.
struct key_place {
    text_span lines;
    text_span value;
};

// One [[picture]] or [[icon]] table, as written.
struct project_entry {
    std::string name;                     // as written; its upper-case C name must be unique
    bool icon = false;                    // [[icon]] rather than [[picture]]
    std::vector<std::string> sources;     // as written, relative to the project folder; frames in order
    int size = 0;                         // 16 or 128; 0: the source's own side, else 128 / 16
    std::optional<dither_method> dither;  // unset: the project's default
    std::optional<rgb_colour> background; // unset: the project's default
    std::optional<rgb_colour> key;        // a device colour; unset: the project's default
    bool as_is = false;                   // an accepted BMP copied byte for byte, not imported
    std::string touch;                    // the touch-up layer as written; empty: none
    int touch_line = 0;                   // where `touch` is written, for messages
    int line = 0;                         // where the table starts in the file, for messages
    // Where the entry is written in skin_project::text, so that an edit changes only its own
    // bytes: its lines with the comment lines just above them, and each key's line and value.
    // An empty block: not written as a [[table]] of its own (or not written yet).
    text_span block;
    std::map<std::string, key_place> keys;
};

struct skin_project {
    std::filesystem::path file; // the project file; sources are relative to its folder
    dither_method dither = dither_method::none;
    rgb_colour background{};
    std::optional<rgb_colour> key;         // a device colour for transparent pixels; unset: none
    panel_levels panel = standard_panel(); // the colours the device shows, from [panel]
    std::vector<project_entry> entries;    // in file order; pictures and icons each keep theirs
    std::string text;                      // the file's bytes as read: what an edit is based on
};

// Reads and checks a project file, sources missing included. Every problem found is added to
// `problems`, in the order of its lines; false if there was any.
bool load_project(const std::filesystem::path& file, skin_project& project,
                  std::vector<project_problem>& problems);

// Reads the [panel] table of a TOML file (a skin.toml, or one of its own) into `panel`, left unset
// when there is none; every problem is added to `problems`. False if there was any.
bool load_panel(const std::filesystem::path& file, std::optional<panel_levels>& panel,
                std::vector<project_problem>& problems);

// The panel of the project in `folder`: the standard one when it has no skin.toml, or no [panel]
// there. False, with the problems added to `problems`, when its [panel] cannot be read.
bool folder_panel(const std::filesystem::path& folder, panel_levels& panel,
                  std::vector<project_problem>& problems);

// The project file's text for `project`, as init writes it.
std::string project_text(const skin_project& project);

// The text of `loaded` (as read) with the edits that make it `edited`: the values that change are
// rewritten, entries removed, moved or added with their comment lines, and every other byte kept.
// Nothing when `loaded` writes an entry that is not a [[table]] of its own (an inline table).
std::optional<std::string> edited_text(const skin_project& loaded, const skin_project& edited);

enum class project_save : std::uint8_t { saved, changed_meanwhile, cannot_write };

// Replaces the project file with `text` only while it still holds `based_on` (nothing: only while
// there is no such file), checked again right before the atomic replace, so that a hand edit made
// meanwhile stands. `meanwhile` runs just before that last check (tests race it there).
project_save save_project_text(const std::filesystem::path& file, const std::optional<std::string>& based_on,
                               const std::string& text, const std::function<void()>& meanwhile = {});

// The folder that the project's sources are relative to.
std::filesystem::path project_folder(const skin_project& project);

// Where a source as written (UTF-8, relative to the project folder, or absolute) lies.
std::filesystem::path source_path(const skin_project& project, const std::string& source);

// The files an entry reads, as written: its sources, then its touch-up layer.
std::vector<std::string> project_entry_inputs(const project_entry& entry);

// How messages name an entry: `icon "battery"`, or `icon` while it has no name.
std::string entry_label(const project_entry& entry);

// One image of the built skin: an entry, or one frame of it.
struct project_slot {
    std::size_t entry = 0; // index into skin_project::entries
    unsigned frame = 0;    // within the entry
    unsigned frame_count = 1;
    // Its series and side once planned; its index, file name and offset once numbered in the skin.
    // place.side repeats image.side, which is the one that counts, for the table of contents.
    image_place place;
    // Its block; its source only when converted afresh, not taken from the last build; its delay
    // is its time on show when the studio plays the entry.
    converted_image image;
    std::optional<std::uint8_t> key; // the device byte that firmware skips, if the entry has a key
};

// How messages name one image of the skin: `"battery"`, or `"spinner" 2/4` for a frame of an animation.
std::string slot_label(const skin_project& project, const project_slot& slot);

// " 2/4" for the second of four frames; empty for an image of its own.
std::string frame_number(const project_slot& slot);
