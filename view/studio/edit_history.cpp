// The page's undo and redo: texts of skin.toml, and files moved rather than deleted.
#include "view/studio/edit_history.h"

#include <algorithm>

#include "support/free_name.h"
#include "support/utf8_path.h"
#include "view/studio/door.h"

namespace fs = std::filesystem;

namespace {

// Where replaced files are kept, inside the project folder.
constexpr const char* history_folder = "art/.history";
// Edits kept to undo; older ones are forgotten, their files left in the history folder.
constexpr std::size_t max_undo = 100;

// Whether anything, a dangling link too, bears the name.
bool taken(const fs::path& path)
{
    std::error_code code;
    return fs::exists(fs::symlink_status(path, code));
}

} // namespace

std::optional<fs::path> history_slot(const fs::path& folder, edit_history& history, const fs::path& name)
{
    const std::optional<fs::path> kept = path_inside(folder, history_folder);
    if (!kept)
        return std::nullopt;
    // Earlier runs left their files here too: their names are skipped. The suffix is appended
    // piece by piece: 32-bit g++ 12 takes "-" + a temporary for an overlapping copy (-Wrestrict).
    std::string after = "-";
    after += utf8_from_path(name.filename());
    const std::optional<free_name> slot = find_free_name(
        {.after = after, .first = static_cast<int>(history.slots) + 1},
        [&](const std::string& slot_name) { return !taken(*kept / path_from_utf8(slot_name)); });
    if (!slot)
        return std::nullopt;
    history.slots = static_cast<unsigned>(slot->number);
    return *kept / path_from_utf8(slot->name);
}

std::optional<std::vector<file_move>> make_moves(const fs::path& folder, edit_history& history,
                                                 const std::vector<file_move>& moves)
{
    std::vector<file_move> made;
    const auto move = [&](const file_move& step) {
        std::error_code code;
        fs::create_directories(step.to.parent_path(), code); // the history folder, made when first needed
        fs::rename(step.from, step.to, code);
        if (!code)
            made.push_back(step);
        return !code;
    };
    for (const file_move& step : moves) {
        if (!taken(step.from))
            continue;
        bool moved = true;
        if (taken(step.to)) {
            const std::optional<fs::path> aside = history_slot(folder, history, step.to.filename());
            moved = aside && move({step.to, *aside});
        }
        if (!moved || !move(step)) {
            take_back(made);
            return std::nullopt;
        }
    }
    return made;
}

void take_back(const std::vector<file_move>& made)
{
    for (const file_move& step : reversed(made)) {
        std::error_code code;
        fs::rename(step.from, step.to, code);
    }
}

std::vector<file_move> reversed(const std::vector<file_move>& moves)
{
    std::vector<file_move> back;
    for (auto step = moves.rbegin(); step != moves.rend(); ++step)
        back.push_back({step->to, step->from});
    return back;
}

void remember(edit_history& history, edit_record record)
{
    history.redo.clear();
    history.undo.push_back(std::move(record));
    if (history.undo.size() > max_undo)
        history.undo.erase(history.undo.begin());
}

void follow_text(edit_history& history, const std::string& text)
{
    if (!history.undo.empty() && history.undo.back().after != text)
        history.undo.clear();
    if (!history.redo.empty() && history.redo.back().before != text)
        history.redo.clear();
}
