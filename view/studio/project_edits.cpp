// The studio's edits of the project in memory, and the uploads they save into the folder.
#include "view/studio/project_edits.h"

#include <algorithm>
#include <optional>

#include "support/file_io.h"
#include "support/utf8_path.h"
#include "view/common/convert.h"
#include "view/decode/decode_image.h"
#include "view/project/init_project.h"
#include "view/studio/door.h"
#include "view/studio/upload_names.h"

namespace fs = std::filesystem;

namespace {

// Uploads go into this folder of the project.
constexpr const char* art_folder = "art";
// Tries of "name-2.png", "name-3.png", ... before an upload gives up finding a free name.
constexpr int max_name_tries = 1000;

// Whether `name` may name entry `except` (or a new one): a C name unlike every other entry's.
std::string name_problem(const skin_project& project, const std::string& name, std::size_t except)
{
    if (!is_c_identifier(c_name(name)))
        return "\"" + name + "\" gives no C name: use letters, digits, '_', '-' or ' ', not a digit first";
    for (std::size_t e = 0; e < project.entries.size(); ++e)
        if (e != except && c_name(project.entries[e].name) == c_name(name))
            return "\"" + name + "\" is taken by " +
                   std::string(project.entries[e].icon ? "icon" : "picture") + " \"" +
                   project.entries[e].name + "\"";
    return {};
}

// An entry name from an upload's file name: "Low battery.png" gives "low_battery", made unique.
std::string name_for_upload(const skin_project& project, const std::string& file_name)
{
    const std::string base = entry_name_from(std::string_view(file_name).substr(0, file_name.rfind('.')));
    std::string name = base;
    for (int n = 2; !name_problem(project, name, project.entries.size()).empty() && n < max_name_tries; ++n)
        name = base + "_" + std::to_string(n);
    return name;
}

// Whether `path` is the file that one of `own`'s sources names.
bool is_own_source(const fs::path& folder, const project_entry* own, const fs::path& path)
{
    if (own == nullptr)
        return false;
    std::error_code error;
    for (const std::string& source : own->sources)
        if (fs::equivalent(folder / path_from_utf8(source), path, error))
            return true;
    return false;
}

// Moves `path` into the history folder, adding the move to `made`; false if it could not.
bool keep_for_undo(const fs::path& folder, const fs::path& path, edit_history& history,
                   std::vector<file_move>& made)
{
    const std::optional<fs::path> slot = history_slot(folder, history, path);
    const std::optional<std::vector<file_move>> moved =
        slot ? make_moves(folder, history, {{path, *slot}}) : std::nullopt;
    if (moved)
        made.insert(made.end(), moved->begin(), moved->end());
    return moved.has_value();
}

// Saves an upload that decodes as art/<its name>, never over a file that is not `own`'s source;
// `own`'s file of that name is moved into the history folder. Gives the path to put in skin.toml,
// or nothing with `error` set. What it did to files is added to `made`.
std::optional<std::string> save_upload(const fs::path& folder, const http_request& request,
                                       const project_entry* own, edit_history& history,
                                       std::vector<file_move>& made, std::string& error)
{
    const std::string file_name = safe_file_name(query_value(request, "name"));
    if (request.body.empty()) {
        error = file_name + ": the file is empty";
        return std::nullopt;
    }
    std::string decode_error;
    if (decode_frames(body_bytes(request), decode_error).empty()) {
        error = file_name + ": " + decode_error + "; nothing was changed";
        return std::nullopt;
    }
    const std::optional<fs::path> art = path_inside(folder, art_folder);
    std::error_code code;
    if (!art || (fs::exists(*art, code) && !fs::is_directory(*art, code)) ||
        (!fs::exists(*art, code) && !fs::create_directory(*art, code))) {
        error = std::string(art_folder) + ": cannot keep uploads there (not a folder inside the project)";
        return std::nullopt;
    }
    const std::size_t dot = std::min(file_name.rfind('.'), file_name.size());
    for (int n = 1; n < max_name_tries; ++n) {
        const std::string candidate =
            n == 1 ? file_name : file_name.substr(0, dot) + "-" + std::to_string(n) + file_name.substr(dot);
        const std::string relative = std::string(art_folder) + "/" + candidate;
        const std::optional<fs::path> path = path_inside(folder, relative);
        const fs::path at = folder / path_from_utf8(relative);
        const bool taken = fs::exists(fs::symlink_status(at, code));
        if (!path || (taken && !is_own_source(folder, own, *path)))
            continue;
        if (taken && !keep_for_undo(folder, at, history, made)) {
            error = relative + ": the artwork it replaces cannot be kept for undo in art/.history";
            return std::nullopt;
        }
        // Undo moves the upload there, and redo back.
        const std::optional<fs::path> slot = history_slot(folder, history, at);
        if (!slot || replace_file(at, body_bytes(request)) != save_outcome::saved) {
            error = relative + ": cannot be written";
            return std::nullopt;
        }
        made.push_back({*slot, at});
        return relative;
    }
    error = file_name + ": no free name for it in " + art_folder;
    return std::nullopt;
}

// A source that init took as it is, a numbered BMP at the top of the folder, is moved into art/
// once it is to be imported or replaced: build would otherwise refuse to replace a file it did
// not write, and the artist's old image is kept. Gives the entry's source after the move (the
// same when nothing had to move), or nothing with `error` set.
std::optional<std::string> move_adopted_bmp(const fs::path& folder, const project_entry& entry,
                                            std::vector<file_move>& made, std::string& error)
{
    if (!entry.as_is || entry.sources.size() != 1 || entry.sources[0].find('/') != std::string::npos)
        return entry.sources.empty() ? std::string() : entry.sources[0];
    const fs::path old = folder / path_from_utf8(entry.sources[0]);
    std::error_code code;
    for (int n = 1; n < max_name_tries; ++n) {
        std::string name = utf8_from_path(old.stem());
        if (n != 1) {
            name += '-';
            name += std::to_string(n);
        }
        name += utf8_from_path(old.extension());
        if (fs::exists(fs::symlink_status(folder / art_folder / path_from_utf8(name), code)))
            continue;
        // art/ itself may be a link: the BMP never leaves the project folder through it.
        fs::create_directory(folder / art_folder, code);
        if (!path_inside(folder, std::string(art_folder) + "/" + name)) {
            error = std::string(art_folder) + ": not a folder inside the project";
            return std::nullopt;
        }
        fs::rename(old, folder / art_folder / path_from_utf8(name), code);
        if (code) {
            error = entry.sources[0] + ": cannot be moved into " + art_folder + ": " + code.message();
            return std::nullopt;
        }
        made.push_back({old, folder / art_folder / name});
        return std::string(art_folder) + "/" + name;
    }
    error = entry.sources[0] + ": no free name for it in " + art_folder;
    return std::nullopt;
}

bool set_options(const fs::path& folder, const http_request& request, project_entry& entry,
                 std::vector<file_move>& made, std::string& error)
{
    const std::string dither = query_value(request, "dither");
    const std::string background = query_value(request, "background");
    if (dither == "default") {
        entry.dither.reset();
    } else if (!dither.empty()) {
        entry.dither = parse_dither(dither);
        if (!entry.dither) {
            error = "dither must be none, floyd-steinberg or ordered";
            return false;
        }
    }
    rgb_colour colour{};
    if (background == "default") {
        entry.background.reset();
    } else if (!background.empty()) {
        if (!parse_colour(background, colour)) {
            error = "background must be a colour #RRGGBB";
            return false;
        }
        entry.background = colour;
    }
    // Dither and background do not apply to a BMP taken as it is: choosing one imports it.
    if (entry.as_is && (!dither.empty() || !background.empty())) {
        const std::optional<std::string> moved = move_adopted_bmp(folder, entry, made, error);
        if (!moved)
            return false;
        entry.sources = {*moved};
        entry.as_is = false;
    }
    return true;
}

} // namespace

bool apply_edit(const fs::path& folder, const http_request& request, skin_project& project,
                edit_history& history, std::vector<file_move>& made, std::string& error)
{
    const std::string& path = request.path;
    if (path == "/api/add") {
        const std::string kind = query_value(request, "kind");
        if (kind != "picture" && kind != "icon") {
            error = "add a picture or an icon";
            return false;
        }
        const std::optional<std::string> source = save_upload(folder, request, nullptr, history, made, error);
        if (!source)
            return false;
        project_entry entry{.name = name_for_upload(project, safe_file_name(query_value(request, "name"))),
                            .icon = kind == "icon",
                            .sources = {*source}};
        project.entries.push_back(std::move(entry));
        return true;
    }
    const std::optional<std::size_t> e = query_index(request, "entry", project.entries.size());
    if (!e) {
        error = "no such entry";
        return false;
    }
    project_entry& entry = project.entries[*e];
    if (path == "/api/options")
        return set_options(folder, request, entry, made, error);
    if (path == "/api/rename") {
        const std::string name = query_value(request, "name");
        error = name_problem(project, name, *e);
        if (error.empty())
            entry.name = name;
        return error.empty();
    }
    if (path == "/api/remove") {
        project.entries.erase(project.entries.begin() + static_cast<std::ptrdiff_t>(*e));
        return true;
    }
    if (path == "/api/move") {
        const std::optional<std::size_t> to = query_index(request, "to", project.entries.size());
        if (!to) {
            error = "no such place";
            return false;
        }
        // With a series named, the entry joins it there: a picture dropped among the icons.
        const std::string series = query_value(request, "series");
        if (series != "" && series != "picture" && series != "icon") {
            error = "no such series";
            return false;
        }
        project_entry moved = std::move(entry);
        moved.icon = series.empty() ? moved.icon : series == "icon";
        project.entries.erase(project.entries.begin() + static_cast<std::ptrdiff_t>(*e));
        project.entries.insert(project.entries.begin() + static_cast<std::ptrdiff_t>(*to), std::move(moved));
        return true;
    }
    if (path == "/api/source") {
        const std::optional<std::string> source = save_upload(folder, request, &entry, history, made, error);
        if (!source)
            return false;
        if (!move_adopted_bmp(folder, entry, made, error))
            return false;
        entry.sources = {*source};
        entry.as_is = false;
        return true;
    }
    error = "no such edit";
    return false;
}

std::string edit_label(const http_request& request)
{
    const std::string& path = request.path;
    if (path == "/api/options")
        return query_value(request, "dither").empty() ? "background" : "dither";
    if (path == "/api/source")
        return "replace artwork";
    return path.substr(path.rfind('/') + 1); // add, rename, move, remove
}

bool start_project(const fs::path& folder, std::string& error)
{
    const folder_init made = init_project(folder, true);
    switch (made.outcome) {
    case init_outcome::made:
        return true;
    case init_outcome::exists:
    case init_outcome::appeared_meanwhile:
        error = std::string(project_file_name) + " appeared meanwhile: it stands";
        return false;
    case init_outcome::cannot_write:
        error = std::string("cannot write ") + project_file_name;
        return false;
    case init_outcome::refused:
        error = std::string("cannot make ") + project_file_name + ": skinpack refuses what the folder holds";
        for (const project_problem& problem : made.problems) { // appended apart: see problem_line
            error += '\n';
            error += problem_line(problem, folder);
        }
        return false;
    }
    return false;
}
