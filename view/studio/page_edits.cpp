// The studio's edits of the project in memory, and the uploads they save into the folder.
#include "view/studio/page_edits.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "support/file_io.h"
#include "support/free_name.h"
#include "support/utf8_path.h"
#include "view/common/checksum.h"
#include "view/common/convert.h"
#include "view/common/dither_names.h"
#include "view/decode/decode_image.h"
#include "view/project/init_project.h"
#include "view/studio/door.h"
#include "view/studio/upload_names.h"

namespace fs = std::filesystem;

namespace {

// Uploads go into this folder of the project.
constexpr const char* art_folder = "art";

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
// or nothing with `error` set. What it did to files is added to `made`, and its frames, for the
// build, to `decoded`.
std::optional<std::string> save_upload(const fs::path& folder, const page_edit& edit,
                                       const project_entry* own, edit_history& history,
                                       std::vector<file_move>& made, decoded_sources& decoded,
                                       std::string& error)
{
    const std::string& file_name = edit.file_name;
    if (edit.upload.empty()) {
        error = file_name + ": the file is empty";
        return std::nullopt;
    }
    std::string decode_error;
    std::vector<rgba_image> frames = decode_frames(edit.upload, decode_error);
    if (frames.empty()) {
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
    // A name that is free, or `own`'s file, which is kept for undo and replaced.
    const std::size_t dot = std::min(file_name.rfind('.'), file_name.size());
    const auto relative_to = [](const std::string& name) { return std::string(art_folder) + "/" + name; };
    const auto usable = [&](const std::string& name) {
        const std::optional<fs::path> path = path_inside(folder, relative_to(name));
        const bool taken = fs::exists(fs::symlink_status(folder / path_from_utf8(relative_to(name)), code));
        return path && (!taken || is_own_source(folder, own, *path));
    };
    const std::optional<free_name> name = find_free_name(
        {.plain = file_name, .before = file_name.substr(0, dot) + "-", .after = file_name.substr(dot)},
        usable);
    if (!name) {
        error = file_name + ": no free name for it in " + art_folder;
        return std::nullopt;
    }
    const std::string relative = relative_to(name->name);
    const fs::path at = folder / path_from_utf8(relative);
    if (fs::exists(fs::symlink_status(at, code)) && !keep_for_undo(folder, at, history, made)) {
        error = relative + ": the artwork it replaces cannot be kept for undo in art/.history";
        return std::nullopt;
    }
    // Undo moves the upload there, and redo back.
    const std::optional<fs::path> slot = history_slot(folder, history, at);
    if (!slot || replace_file(at, edit.upload) != save_outcome::saved) {
        error = relative + ": cannot be written";
        return std::nullopt;
    }
    made.push_back({*slot, at});
    decoded[relative] = {.hash = content_hash(edit.upload), .frames = std::move(frames)};
    return relative;
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
    const std::string stem = utf8_from_path(old.stem());
    const std::string extension = utf8_from_path(old.extension());
    const std::optional<free_name> name = find_free_name(
        {.plain = stem + extension, .before = stem + "-", .after = extension},
        [&](const std::string& candidate) {
            return !fs::exists(fs::symlink_status(folder / art_folder / path_from_utf8(candidate), code));
        });
    if (!name) {
        error = entry.sources[0] + ": no free name for it in " + art_folder;
        return std::nullopt;
    }
    // art/ itself may be a link: the BMP never leaves the project folder through it.
    fs::create_directory(folder / art_folder, code);
    if (!path_inside(folder, std::string(art_folder) + "/" + name->name)) {
        error = std::string(art_folder) + ": not a folder inside the project";
        return std::nullopt;
    }
    // The path as the rename takes it, and undo after it: a plain string would be read in
    // Windows' code page, and a name in another script would then miss.
    const fs::path moved = folder / art_folder / path_from_utf8(name->name);
    fs::rename(old, moved, code);
    if (code) {
        error = entry.sources[0] + ": cannot be moved into " + art_folder + ": " + code.message();
        return std::nullopt;
    }
    made.push_back({old, moved});
    return std::string(art_folder) + "/" + name->name;
}

// An entry's options set. Dither and background do not apply to a BMP taken as it is: choosing
// one imports it, from art/ where it is moved first.
bool apply_options(const fs::path& folder, const entry_options& options, project_entry& entry,
                   std::vector<file_move>& made, std::string& error)
{
    set_options(entry, options);
    if (entry.as_is && (options.dither || options.background)) {
        const std::optional<std::string> moved = move_adopted_bmp(folder, entry, made, error);
        if (!moved)
            return false;
        set_source(entry, *moved);
    }
    return true;
}

// The edit that a request's path names, if any.
std::optional<edit_kind> kind_of_edit(const std::string& path)
{
    const std::pair<const char*, edit_kind> kinds[] = {
        {"/api/add", edit_kind::add},       {"/api/options", edit_kind::options},
        {"/api/rename", edit_kind::rename}, {"/api/move", edit_kind::move},
        {"/api/remove", edit_kind::remove}, {"/api/source", edit_kind::source},
        {"/api/touch", edit_kind::touch},
    };
    for (const auto& [name, kind] : kinds)
        if (path == name)
            return kind;
    return std::nullopt;
}

} // namespace

edit_refusal read_edit(const http_request& request, std::size_t entries, page_edit& edit)
{
    edit = {};
    const std::optional<edit_kind> kind = kind_of_edit(request.path);
    if (kind == edit_kind::add || kind == edit_kind::source) {
        edit.file_name = safe_file_name(query_value(request, "name"));
        edit.upload = body_bytes(request);
    }
    if (kind == edit_kind::add && query_value(request, "drawn") == "1") {
        const std::string icon = query_value(request, "icon");
        edit.kind = edit_kind::add;
        edit.drawn = true;
        edit.icon = icon == "1";
        return icon == "1" || icon == "0" ? edit_refusal::none : edit_refusal::no_such_kind;
    }
    if (kind == edit_kind::add) {
        const std::string series = query_value(request, "kind");
        edit.kind = edit_kind::add;
        edit.icon = series == "icon";
        return series == "picture" || series == "icon" ? edit_refusal::none : edit_refusal::no_such_kind;
    }
    if (!kind)
        return edit_refusal::no_such_edit;
    edit.entry = query_index(request, "entry", entries);
    if (!edit.entry)
        return edit_refusal::no_such_entry;
    edit.kind = *kind;
    if (edit.kind == edit_kind::touch) {
        edit.layer_fault = read_page_layer(request, edit.layer);
        return edit.layer_fault.empty() ? edit_refusal::none : edit_refusal::bad_layer;
    }
    if (edit.kind == edit_kind::options) {
        const std::string dither = query_value(request, "dither");
        const std::string background = query_value(request, "background");
        if (dither == "default") {
            edit.options.dither = dither_choice{};
        } else if (!dither.empty()) {
            const std::optional<dither_method> method = parse_dither(dither);
            if (!method)
                return edit_refusal::bad_dither;
            edit.options.dither = method;
        }
        rgb_colour colour{};
        if (background == "default") {
            edit.options.background = colour_choice{};
        } else if (!background.empty()) {
            if (!parse_colour(background, colour))
                return edit_refusal::bad_background;
            edit.options.background = colour;
        }
    }
    if (edit.kind == edit_kind::rename)
        edit.name = query_value(request, "name");
    if (edit.kind == edit_kind::move) {
        edit.to = query_index(request, "to", entries);
        if (!edit.to)
            return edit_refusal::no_such_place;
        // With a series named, the entry joins it there: a picture dropped among the icons.
        const std::string series = query_value(request, "series");
        if (series != "" && series != "picture" && series != "icon")
            return edit_refusal::no_such_series;
        if (!series.empty())
            edit.to_icons = series == "icon";
    }
    return edit_refusal::none;
}

std::string refusal_text(edit_refusal refusal)
{
    switch (refusal) {
    case edit_refusal::none:
        return {};
    case edit_refusal::no_such_edit:
        return "no such edit";
    case edit_refusal::no_such_entry:
        return "no such entry";
    case edit_refusal::no_such_kind:
        return "add a picture or an icon";
    case edit_refusal::bad_dither:
        return "dither must be " + dither_choices("");
    case edit_refusal::bad_background:
        return "background must be a colour #RRGGBB";
    case edit_refusal::no_such_place:
        return "no such place";
    case edit_refusal::no_such_series:
        return "no such series";
    case edit_refusal::bad_layer:
        return "the layer is not one the entry takes";
    }
    return {};
}

bool apply_edit(const fs::path& folder, const page_edit& edit, skin_project& project, edit_history& history,
                std::vector<file_move>& made, decoded_sources& decoded, std::string& error)
{
    if (edit.kind == edit_kind::add && edit.drawn)
        return add_drawn_entry(folder, project, edit.icon, history, made, error);
    if (edit.kind == edit_kind::add) {
        const std::optional<std::string> source =
            save_upload(folder, edit, nullptr, history, made, decoded, error);
        if (!source)
            return false;
        add_entry(project, edit.icon, entry_name_from(edit.file_name.substr(0, edit.file_name.rfind('.'))),
                  *source);
        return true;
    }
    const std::size_t e = edit.entry.value();
    project_entry& entry = project.entries.at(e);
    switch (edit.kind) {
    case edit_kind::add:
        break;
    case edit_kind::options:
        return apply_options(folder, edit.options, entry, made, error);
    case edit_kind::rename:
        return rename_entry(project, e, edit.name.value_or(""), error);
    case edit_kind::remove:
        remove_entry(project, e);
        return true;
    case edit_kind::move:
        move_entry(project, e, edit.to.value(), edit.to_icons);
        return true;
    case edit_kind::source: {
        const std::optional<std::string> source =
            save_upload(folder, edit, &entry, history, made, decoded, error);
        if (!source || !move_adopted_bmp(folder, entry, made, error))
            return false;
        set_source(entry, *source);
        return true;
    }
    case edit_kind::touch: {
        // A touched BMP is written as the device shows it: an adopted one moves into art/ first.
        const std::optional<std::string> moved = move_adopted_bmp(folder, entry, made, error);
        if (!moved)
            return false;
        if (entry.as_is && !entry.sources.empty())
            entry.sources = {*moved};
        return save_layer(folder, edit.layer, edit.side, entry, history, made, error);
    }
    }
    return false;
}

std::string edit_label(const page_edit& edit)
{
    switch (edit.kind) {
    case edit_kind::add:
        return !edit.drawn ? "add" : edit.icon ? "new icon" : "new picture";
    case edit_kind::options:
        return edit.options.dither ? "dither" : "background";
    case edit_kind::rename:
        return "rename";
    case edit_kind::move:
        return "move";
    case edit_kind::remove:
        return "remove";
    case edit_kind::source:
        return "replace artwork";
    case edit_kind::touch:
        return layer_is_clear(edit.layer) ? "clear touch-ups" : "touch-up";
    }
    return {};
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
