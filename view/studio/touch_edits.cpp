// Touch-up edits of the studio: the page's layer checked, then written as a PNG of device colours.
#include "view/studio/touch_edits.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "support/file_io.h"
#include "support/free_name.h"
#include "support/utf8_path.h"
#include "view/project/project_edit.h"
#include "view/project/touch_layer.h"
#include "view/studio/door.h"

namespace fs = std::filesystem;

namespace {

// The layer's values in one run, frame after frame, as the PNG holds them.
std::vector<int> layer_values(const page_layer& layer)
{
    std::vector<int> values;
    for (const std::vector<int>& frame : layer.frames)
        values.insert(values.end(), frame.begin(), frame.end());
    return values;
}

// A free "art/NAME.touch.png" for an entry named `name`.
std::optional<std::string> free_layer_name(const fs::path& folder, const std::string& name)
{
    std::error_code code;
    const std::optional<free_name> free =
        find_free_name({.plain = name, .before = name + "_"}, [&](const std::string& candidate) {
            return !fs::exists(
                fs::symlink_status(folder / "art" / path_from_utf8(candidate + ".touch.png"), code));
        });
    return free ? std::optional<std::string>("art/" + free->name + ".touch.png") : std::nullopt;
}

// Writes `png` at `relative` inside the project, a file there moved into the history first.
bool write_layer_file(const fs::path& folder, const std::string& relative,
                      const std::vector<std::uint8_t>& png, edit_history& history,
                      std::vector<file_move>& made, std::string& error)
{
    std::error_code code;
    fs::create_directory(folder / "art", code);
    const std::optional<fs::path> at = path_inside(folder, relative);
    const std::optional<fs::path> slot = at ? history_slot(folder, history, *at) : std::nullopt;
    if (!at || !slot) {
        error = relative + ": not a file inside the project";
        return false;
    }
    if (fs::exists(fs::symlink_status(*at, code))) {
        const std::optional<std::vector<file_move>> moved = make_moves(folder, history, {{*at, *slot}});
        if (!moved) {
            error = relative + ": the layer it replaces cannot be kept for undo in art/.history";
            return false;
        }
        made.insert(made.end(), moved->begin(), moved->end());
    }
    const std::optional<fs::path> new_slot = history_slot(folder, history, *at);
    if (!new_slot || replace_file(*at, png) != save_outcome::saved) {
        error = relative + ": cannot be written";
        return false;
    }
    made.push_back({*new_slot, *at}); // undo moves the new layer away, redo back
    return true;
}

} // namespace

std::string read_page_layer(const http_request& request, page_layer& layer)
{
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("layer") || !body["layer"].is_array())
        return "the body must be JSON {\"layer\": [[values] per frame]}";
    for (const nlohmann::json& frame : body["layer"]) {
        if (!frame.is_array())
            return "each frame of the layer must be a list of values";
        std::vector<int>& values = layer.frames.emplace_back();
        values.reserve(frame.size());
        for (const nlohmann::json& value : frame) {
            if (!value.is_number_integer() || value.get<long long>() < -1 || value.get<long long>() > 255)
                return "each value of the layer must be -1 or 0 to 255";
            values.push_back(value.get<int>());
        }
    }
    return {};
}

std::string layer_shape_fault(const page_layer& layer, int side, std::size_t frames)
{
    const auto area = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    if (layer.frames.size() != frames)
        return "the layer has " + std::to_string(layer.frames.size()) + " frames; the entry has " +
               std::to_string(frames);
    for (std::size_t frame = 0; frame < frames; ++frame)
        if (layer.frames[frame].size() != area)
            return "frame " + std::to_string(frame) + " of the layer has " +
                   std::to_string(layer.frames[frame].size()) + " values; it must have " +
                   std::to_string(area);
    return {};
}

bool layer_is_clear(const page_layer& layer)
{
    return std::all_of(layer.frames.begin(), layer.frames.end(), [](const std::vector<int>& frame) {
        return std::all_of(frame.begin(), frame.end(), [](int value) { return value < 0; });
    });
}

bool save_layer(const fs::path& folder, const page_layer& layer, int side, project_entry& entry,
                edit_history& history, std::vector<file_move>& made, std::string& error)
{
    if (layer_is_clear(layer) && !entry.sources.empty()) {
        const std::optional<fs::path> at =
            entry.touch.empty() ? std::nullopt : path_inside(folder, entry.touch);
        const std::optional<fs::path> slot = at ? history_slot(folder, history, *at) : std::nullopt;
        const std::optional<std::vector<file_move>> moved =
            slot ? make_moves(folder, history, {{*at, *slot}}) : std::nullopt;
        if (moved)
            made.insert(made.end(), moved->begin(), moved->end());
        entry.touch.clear();
        return true;
    }
    const std::optional<std::string> relative =
        entry.touch.empty() ? free_layer_name(folder, entry.name) : std::optional<std::string>(entry.touch);
    if (!relative) {
        error = entry.name + ": no free name for its layer in art";
        return false;
    }
    const std::vector<int> values = layer_values(layer);
    if (!write_layer_file(folder, *relative, layer_png(values, side), history, made, error))
        return false;
    entry.touch = *relative;
    return true;
}

bool add_drawn_entry(const fs::path& folder, skin_project& project, bool icon, edit_history& history,
                     std::vector<file_move>& made, std::string& error)
{
    add_entry(project, icon, icon ? "icon" : "picture", "");
    project_entry& entry = project.entries.back();
    entry.sources.clear();
    entry.size = icon ? 16 : 128;
    const page_layer clear{{std::vector<int>(static_cast<std::size_t>(entry.size * entry.size), -1)}};
    const std::optional<std::string> relative = free_layer_name(folder, entry.name);
    if (!relative) {
        error = entry.name + ": no free name for its layer in art";
        return false;
    }
    entry.touch = *relative;
    return write_layer_file(folder, *relative, layer_png(layer_values(clear), entry.size), history, made,
                            error);
}
