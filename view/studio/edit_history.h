// What the page may undo and redo: the project file's text before and after each edit, and the
// files each edit moved. A file an edit replaces goes into a history folder beside the artwork
// (art/.history) rather than away, so that undo can bring it back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct file_move {
    std::filesystem::path from;
    std::filesystem::path to;
};

struct edit_record {
    std::string label;            // what the edit was, as the page names it: "rename"
    std::string before;           // skin.toml before the edit
    std::string after;            // and after it
    std::vector<file_move> moves; // what the edit did to files, in order: undo moves them back
};

struct edit_history {
    std::vector<edit_record> undo; // the last edit last
    std::vector<edit_record> redo; // the last one undone last
    unsigned slots = 0;            // history file names given out in this run
};

// A path in the project's history folder for a file of `name`'s name: free, and never given out
// before in this run. Nothing when the folder would not lie inside the project.
std::optional<std::filesystem::path> history_slot(const std::filesystem::path& folder, edit_history& history,
                                                  const std::filesystem::path& name);

// Moves each file in order, skipping one that is no longer there, making the folder it goes to; a
// file in the way is first moved into the history folder, so that nothing is replaced. Gives every move made,
// to take back; nothing when one failed, after taking back those made.
std::optional<std::vector<file_move>> make_moves(const std::filesystem::path& folder, edit_history& history,
                                                 const std::vector<file_move>& moves);

// Moves the files of `made` back, the last first.
void take_back(const std::vector<file_move>& made);

// The moves that take `moves` back: the last first, each the other way.
std::vector<file_move> reversed(const std::vector<file_move>& moves);

// Keeps a new edit on top, forgetting what was undone, and the oldest beyond a limit.
void remember(edit_history& history, edit_record record);

// Forgets what cannot be undone or redone from `text`, the project file as now read: a hand edit
// ends both, since undo never goes past it.
void follow_text(edit_history& history, const std::string& text);
