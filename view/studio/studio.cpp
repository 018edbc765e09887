// The studio's answers: the page, the project as JSON, slot images, and the edits, each written to
// skin.toml and rebuilt with build_project, one at a time.
#include "view/studio/studio.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

#include "skin/colour_332.h"
#include "skin/skin.h"
#include "support/file_io.h"
#include "support/utf8_path.h"
#include "support/utf8_text.h"
#include "view/common/checksum.h"
#include "view/common/convert.h"
#include "view/common/dither_names.h"
#include "view/common/perceptual_error.h"
#include "view/common/render.h"
#include "view/common/skin_folder.h"
#include "view/decode/decode_image.h"
#include "view/project/c_name.h"
#include "view/project/touch_layer.h"
#include "view/studio/page_edits.h"
#include "view/studio/page_files.h"

namespace fs = std::filesystem;
// Keys in the order written, which keeps the answers readable.
using json = nlohmann::ordered_json;

namespace {

constexpr const char* json_type = "application/json";
constexpr const char* palette_download = "/download/skin-palette."; // then the format

std::string colour_hex(rgb_colour colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour[0], colour[1], colour[2]);
    return text;
}

// A colour as the page writes it, or null where none is set.
json optional_colour(const std::optional<rgb_colour>& colour)
{
    return colour ? json(colour_hex(*colour)) : json(nullptr);
}

// An answer of JSON. A byte that is not UTF-8 (a path may hold one) is shown as U+FFFD rather
// than failing the request.
http_response json_response(const json& value)
{
    http_response response = text_response(200, value.dump(-1, ' ', false, json::error_handler_t::replace));
    response.type = json_type;
    return response;
}

http_response png_response(std::vector<std::uint8_t> png)
{
    if (png.empty())
        return text_response(500, "cannot make the PNG\n");
    http_response response;
    response.type = "image/png";
    response.body.assign(png.begin(), png.end());
    return response;
}

// A problem as the page shows it: its file named within the project folder.
std::string shown_problem(const studio_state& state, const project_problem& problem)
{
    return problem_line(problem, state.folder);
}

// Keeps a build without problems as the one the folder holds; else its problems, beside the
// last good build.
void keep_build(studio_state& state, build_result result)
{
    if (!result.problems.empty()) {
        state.problems = std::move(result.problems);
        return;
    }
    state.build = std::move(result);
    state.built_names.clear();
    for (const project_slot& slot : state.build.slots)
        state.built_names.push_back(state.project.entries[slot.entry].name);
}

// Reads skin.toml and builds it as `skinview build` does, taking the sources in `handed` as
// decoded already; the last good build stays on a failure.
void load_and_build(studio_state& state, const decoded_sources& handed = {})
{
    state.problems.clear();
    // A link named skin.toml is a project whatever it points at, as in check: its problem is shown.
    state.has_project = holds_project(state.folder);
    if (state.has_project) {
        project_run run = run_project(state.folder / project_file_name, {.inside_only = true}, handed);
        state.project = std::move(run.project);
        keep_build(state, std::move(run.build));
        watch_built(state.watch, inputs_to_watch(state.project, run.loaded, std::move(state.watch.inputs)));
    } else {
        state.project = {}; // a deleted skin.toml leaves nothing of it on the page
        state.build = {};
        state.built_names.clear();
        watch_built(state.watch, {state.folder / project_file_name});
    }
    follow_text(state.history, state.project.text);
    ++state.version;
}

// Whether a problem leaves every value of the file read, so that an edit may mend it: a missing
// source (an upload brings it), a name (a rename), or anything the build found.
bool mendable(problem_kind kind)
{
    switch (kind) {
    case problem_kind::unreadable:
    case problem_kind::syntax:
    case problem_kind::unknown_key:
    case problem_kind::bad_value:
    case problem_kind::missing_key:
        return false;
    case problem_kind::bad_name:
    case problem_kind::name_clash:
    case problem_kind::missing_source:
    case problem_kind::unreadable_source:
    case problem_kind::undecodable_source:
    case problem_kind::wrong_image:
    case problem_kind::no_images:
    case problem_kind::too_large:
    case problem_kind::in_the_way:
    case problem_kind::cannot_write:
        return true;
    }
    return false;
}

// Whether edits may be saved: the file was read whole. Any other problem would have the edit
// drop or keep what could not be read.
bool editable(const studio_state& state)
{
    return state.has_project && std::all_of(state.problems.begin(), state.problems.end(),
                                            [](const project_problem& p) { return mendable(p.kind); });
}

// A stamp of an entry's source files (as the watcher stamps each), which changes when one is
// saved: the page asks for the original again only then.
std::string sources_stamp(const studio_state& state, const project_entry& entry)
{
    std::uint32_t stamp = 0;
    for (const std::string& source : entry.sources) {
        const input_stamp file = stamp_of(state.folder / path_from_utf8(source));
        const std::string text = source + ":" + std::to_string(file.time.time_since_epoch().count()) + ":" +
                                 std::to_string(file.size) + (file.readable ? "" : ":unreadable");
        stamp = crc32({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, stamp);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(stamp));
    return text;
}

// A slot image's name for what it shows: its pixels, and which of them are transparent.
std::string slot_hash(const project_slot& slot)
{
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x%03x", static_cast<unsigned>(crc32(slot.image.block)),
                  slot.key ? 0x100u | *slot.key : 0u);
    return hash;
}

// The name of what an image request shows, where one names it for good: a slot by its hash, an
// entry's artwork by its stamp. Empty for the others.
std::string image_content(const studio_state& state, const http_request& request)
{
    if (request.path == "/api/slot.png")
        if (const auto s = query_index(request, "slot", state.build.slots.size()))
            return slot_hash(state.build.slots[*s]);
    if (request.path == "/api/source.png")
        if (const auto e = query_index(request, "entry", state.project.entries.size()))
            return sources_stamp(state, state.project.entries[*e]);
    return {};
}

// The rules that the page applies as the artist works, so that it holds none of its own: every
// dither, and what a name may hold.
json rules_json()
{
    json dithers = json::array();
    for (const dither_row& row : dither_rows())
        dithers.push_back({{"name", row.name},
                           {"family", dither_family_name(row.family)},
                           {"steady_frames", row.steady_frames},
                           {"hint", row.hint}});
    return {{"dithers", std::move(dithers)},
            {"names",
             {{"letters", c_name_letters},
              {"digits", c_name_digits},
              {"joiners", c_name_joiners},
              {"advice", std::string("gives no C name: use ") + c_name_advice}}},
            // How a pixel byte holds its three channels, for the page's colour grids and level brushes.
            {"levels",
             {{"red", {{"shift", 5}, {"count", 1 << channel_bits_332[0]}}},
              {"green", {{"shift", 2}, {"count", 1 << channel_bits_332[1]}}},
              {"blue", {{"shift", 0}, {"count", 1 << channel_bits_332[2]}}}}}};
}

// Each entry as the page edits it, with the problems that concern it.
json entries_json(const studio_state& state)
{
    std::vector<std::vector<std::string>> entry_problems(state.project.entries.size());
    for (const project_problem& problem : state.problems)
        if (problem.entry && *problem.entry < entry_problems.size())
            entry_problems[*problem.entry].push_back(shown_problem(state, problem));
    json entries = json::array();
    for (std::size_t e = 0; e < state.project.entries.size(); ++e) {
        const project_entry& entry = state.project.entries[e];
        entries.push_back({{"name", entry.name},
                           {"icon", entry.icon},
                           {"sources", entry.sources},
                           {"size", entry.size},
                           {"dither", entry.dither ? json(dither_name(*entry.dither)) : json(nullptr)},
                           {"background", optional_colour(entry.background)},
                           {"key", optional_colour(entry.key)},
                           {"as_is", entry.as_is},
                           {"touch", entry.touch.empty() ? json(nullptr) : json(entry.touch)},
                           {"stamp", sources_stamp(state, entry)},
                           {"problems", entry_problems[e]}});
    }
    return entries;
}

// The problems of no entry, shown at the top.
json general_problems(const studio_state& state)
{
    json general = json::array();
    for (const project_problem& problem : state.problems)
        if (!problem.entry || *problem.entry >= state.project.entries.size())
            general.push_back(shown_problem(state, problem));
    return general;
}

// The slots of the last good skin, which the folder holds. With problems they need not match the
// entries any more: the page finds each slot's entry by its name, and marks it stale.
json slots_json(const studio_state& state)
{
    json slots = json::array();
    for (std::size_t s = 0; s < state.build.slots.size(); ++s) {
        const project_slot& slot = state.build.slots[s];
        slots.push_back({{"entry", slot.entry},
                         {"name", state.built_names[s]},
                         {"hash", slot_hash(slot)},
                         {"frame", slot.frame},
                         {"frame_count", slot.frame_count},
                         {"delay_ms", slot.image.delay_ms},
                         {"icon", slot.place.icon},
                         {"index", slot.place.index},
                         {"side", slot.image.side},
                         {"file", slot.place.file_name}});
    }
    return slots;
}

// The device's 256 colours, in pixel-byte order, as the project's panel shows them.
json palette_json(const panel_levels& panel)
{
    json palette = json::array();
    for (unsigned pixel = 0; pixel < 256; ++pixel)
        palette.push_back(colour_hex(panel_colour(panel, static_cast<std::uint8_t>(pixel))));
    return palette;
}

// What Undo or Redo would take back or make again, by its label; null where there is nothing.
json history_label(const std::vector<edit_record>& records)
{
    return records.empty() ? json(nullptr) : json(records.back().label);
}

// The project, its problems and its last good skin, as the page reads them.
json state_json(const studio_state& state)
{
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(state.build.crc32));
    return {
        {"version", state.version},
        {"poll_ms", watch_poll_interval.count()},
        {"folder", utf8_from_path(state.folder)},
        {"has_project", state.has_project},
        {"can_init", !state.has_project && !scan_skin_folder(state.folder).images.empty()},
        {"editable", editable(state)},
        {"problems", general_problems(state)},
        {"undo", history_label(state.history.undo)},
        {"redo", history_label(state.history.redo)},
        {"defaults",
         {{"dither", dither_name(state.project.dither)},
          {"background", colour_hex(state.project.background)},
          {"key", optional_colour(state.project.key)}}},
        {"rules", rules_json()},
        {"entries", entries_json(state)},
        {"stale", !state.problems.empty()},
        {"slots", slots_json(state)},
        {"palette", palette_json(state.project.panel)},
        {"skin", {{"size", state.build.skin.size()}, {"crc32", crc}, {"images", state.build.slots.size()}}}};
}

// A slot as the device shows it, as a PNG; key pixels, which firmware skips, are transparent.
http_response slot_png(const project_slot& slot, const panel_levels& panel)
{
    const std::vector<std::uint8_t> rgb = block_to_rgb(slot.image.block, panel);
    if (!slot.key)
        return png_response(png_file(slot.image.side, slot.image.side, 3, rgb));
    std::vector<std::uint8_t> rgba;
    rgba.reserve(slot.image.block.size() * 4);
    for (std::size_t i = 0; i < slot.image.block.size(); ++i)
        rgba.insert(rgba.end(), {rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2],
                                 static_cast<std::uint8_t>(slot.image.block[i] == *slot.key ? 0 : 255)});
    return png_response(png_file(slot.image.side, slot.image.side, 4, rgba));
}

// The original artwork of one frame of an entry, as decoded for import.
http_response source_png(const studio_state& state, const http_request& request)
{
    const std::optional<std::size_t> e = query_index(request, "entry", state.project.entries.size());
    if (!e)
        return text_response(404, "no such entry\n");
    const project_entry& entry = state.project.entries[*e];
    if (entry.sources.empty()) // an entry of a skin.toml that could not be read whole
        return text_response(404, "the entry names no source\n");
    const std::size_t frame = query_index(request, "frame", 1u << 16).value_or(0);
    const std::string& source =
        entry.sources[entry.sources.size() > 1 ? std::min(frame, entry.sources.size() - 1) : 0];
    const std::optional<fs::path> path = path_inside(state.folder, source);
    if (!path)
        return text_response(403, printable(source) + ": outside the project folder\n");
    std::string error;
    const std::vector<std::uint8_t> bytes = read_source(*path, error);
    std::vector<rgba_image> frames = bytes.empty() ? std::vector<rgba_image>{} : decode_frames(bytes, error);
    if (frames.empty())
        return text_response(422, printable(source + ": " + error) + "\n");
    const rgba_image& image = frames[entry.sources.size() > 1 ? 0 : std::min(frame, frames.size() - 1)];
    return png_response(png_file(image.width, image.height, 4, rgba_bytes(image)));
}

// One frame of an entry converted with a chosen dither, nothing written: for comparing.
http_response dither_png(const studio_state& state, const http_request& request)
{
    const std::optional<std::size_t> e = query_index(request, "entry", state.project.entries.size());
    const std::optional<dither_method> dither = parse_dither(query_value(request, "dither"));
    if (!e || !dither)
        return text_response(404, "no such entry or dither\n");
    std::vector<project_problem> problems;
    const std::vector<project_slot> slots = convert_entry(state.project, *e, *dither, problems);
    if (slots.empty())
        return text_response(422, problems.empty() ? "cannot convert\n"
                                                   : shown_problem(state, problems[0]) + "\n");
    const std::size_t frame = std::min(query_index(request, "frame", 1u << 16).value_or(0), slots.size() - 1);
    return slot_png(slots[frame], state.project.panel);
}

// Where the eye sees one frame of an entry differ from its artwork, as a heat map, with the mean
// in a header for the caption.
http_response error_png(const studio_state& state, const http_request& request)
{
    const std::optional<std::size_t> e = query_index(request, "entry", state.project.entries.size());
    if (!e || state.project.entries[*e].as_is)
        return text_response(404, "no such converted entry\n");
    const project_entry& entry = state.project.entries[*e];
    std::vector<project_problem> problems;
    const std::vector<project_slot> slots =
        convert_entry(state.project, *e, entry.dither.value_or(state.project.dither), problems);
    if (slots.empty())
        return text_response(422, problems.empty() ? "cannot convert\n"
                                                   : shown_problem(state, problems[0]) + "\n");
    const project_slot& slot =
        slots[std::min(query_index(request, "frame", 1u << 16).value_or(0), slots.size() - 1)];
    const std::vector<double> error =
        perceptual_error(slot.image.source, block_to_rgb(slot.image.block, state.project.panel),
                         slot.image.side, slot.image.side);
    http_response response =
        png_response(png_file(slot.image.side, slot.image.side, 3, error_heat_map(error)));
    char mean[32];
    std::snprintf(mean, sizeof mean, "%.2f", mean_error(error));
    response.headers.emplace_back("X-Mean-Error", mean);
    return response;
}

// The device's pixels of a slot, an entry's artwork, or an entry under another dither.
http_response image_response(const studio_state& state, const http_request& request)
{
    const std::string& path = request.path;
    if (path == "/api/slot.png") {
        const std::optional<std::size_t> s = query_index(request, "slot", state.build.slots.size());
        return s ? slot_png(state.build.slots[*s], state.project.panel)
                 : text_response(404, "no such slot\n");
    }
    if (path == "/api/source.png")
        return source_png(state, request);
    if (path == "/api/dither.png")
        return dither_png(state, request);
    if (path == "/api/error.png")
        return error_png(state, request);
    return text_response(404, "not found\n");
}

http_response page_file_response(std::string_view name)
{
    for (const page_file& file : page_files()) {
        if (file.name != name)
            continue;
        http_response response;
        response.type = name.ends_with(".html") ? "text/html; charset=utf-8"
                        : name.ends_with(".js") ? "text/javascript; charset=utf-8"
                                                : "text/css; charset=utf-8";
        response.body.assign(file.bytes.begin(), file.bytes.end());
        // The page runs only its own files: no inline script, nothing from elsewhere.
        response.headers.emplace_back("Content-Security-Policy",
                                      "default-src 'self'; img-src 'self' blob:; frame-ancestors 'none'");
        response.headers.emplace_back("X-Frame-Options", "DENY");
        return response;
    }
    return text_response(404, "not found\n");
}

// skin.skn as last built, or skin.h from the project folder (not through a link out of it), as
// Bytes the browser saves as a file of this name.
http_response attachment(std::span<const std::uint8_t> bytes, std::string_view name)
{
    http_response response;
    response.type = "application/octet-stream";
    response.body.assign(bytes.begin(), bytes.end());
    response.headers.emplace_back("Content-Disposition",
                                  "attachment; filename=\"" + std::string(name) + "\"");
    return response;
}

// a download.
http_response download(const studio_state& state, std::string_view name)
{
    const std::optional<fs::path> path = path_inside(state.folder, name);
    std::error_code code; // only a file is opened: a FIFO would hold the studio
    const std::vector<std::uint8_t> bytes = name == "skin.skn" ? state.build.skin
                                            : path && fs::is_regular_file(*path, code)
                                                ? read_file_bytes(*path)
                                                : std::vector<std::uint8_t>{};
    if (bytes.empty())
        return text_response(404, std::string(name) + " is not built yet\n");
    return attachment(bytes, name);
}

// The device colours for a paint program, as skinview palette writes them.
http_response palette_download_response(std::string_view format, const panel_levels& panel)
{
    const std::vector<std::uint8_t> bytes = palette_file(std::string(format), panel);
    return bytes.empty() ? text_response(404, "no such palette format\n")
                         : attachment(bytes, "skin-palette." + std::string(format));
}

// Why an edit (or an undo) was not saved: the page's answer, and whether skin.toml changed on disk
// meanwhile and is to be read again.
struct refused_edit {
    http_response answer;
    bool reload = false;
};

// The answer to an edit that was not saved: the file moves `made` taken back, here for every
// refusal, and then a skin.toml changed meanwhile read again.
http_response answer_refusal(studio_state& state, const std::vector<file_move>& made, refused_edit refusal)
{
    take_back(made);
    if (refusal.reload)
        load_and_build(state);
    return std::move(refusal.answer);
}

// Writes `text` over skin.toml while it still holds what was loaded. Nothing when it did; else why not.
std::optional<refused_edit> save_text(const studio_state& state, const std::string& text)
{
    if (!path_inside(state.folder, project_file_name))
        return refused_edit{text_response(
            409, std::string(project_file_name) +
                     ": a link out of the project folder: the studio writes nothing outside it\n")};
    switch (save_project_text(state.folder / project_file_name, state.project.text, text)) {
    case project_save::saved:
        return std::nullopt;
    case project_save::changed_meanwhile:
        return refused_edit{text_response(409, std::string(project_file_name) +
                                                   " changed on disk meanwhile: reloaded, and the edit was "
                                                   "not saved\n"),
                            true};
    case project_save::cannot_write:
        break;
    }
    return refused_edit{text_response(500, "cannot write skin.toml\n")};
}

// Makes the edit on a copy of the project and on its files, adding what it moved to `made` and
// what it decoded to `decoded`, and writes skin.toml as `text`. Nothing when it did; else why not.
std::optional<refused_edit> make_edit(studio_state& state, const page_edit& edit,
                                      std::vector<file_move>& made, decoded_sources& decoded,
                                      std::string& text)
{
    skin_project edited = state.project;
    std::string error;
    if (!apply_edit(state.folder, edit, edited, state.history, made, decoded, error))
        return refused_edit{text_response(422, printable(error) + "\n")}; // names from the request
    std::optional<std::string> written = edited_text(state.project, edited);
    if (!written)
        return refused_edit{
            text_response(409, std::string(project_file_name) +
                                   " writes an entry as an inline table, which the studio "
                                   "cannot edit without rewriting the file: edit it by hand\n")};
    text = std::move(*written);
    return save_text(state, text);
}

// An entry's frames before its touch-ups, as its build converts them; empty, with `error`, when it
// cannot be built.
std::vector<project_slot> untouched_frames(const studio_state& state, std::size_t entry, std::string& error)
{
    std::vector<project_problem> problems;
    const project_entry& chosen = state.project.entries[entry];
    std::vector<project_slot> frames =
        convert_entry(state.project, entry, chosen.dither.value_or(state.project.dither), problems, false);
    error = problems.empty() ? "" : shown_problem(state, problems.front());
    if (!problems.empty())
        frames.clear();
    return frames;
}

struct entry_shape {
    int side = 0;
    std::size_t frames = 0;
};

// The side and frame count of an entry: from the build the folder holds while it is the project's
// own (no problem since), else converted afresh; nothing, with `error`, when it cannot be built.
std::optional<entry_shape> shape_of(const studio_state& state, std::size_t entry, std::string& error)
{
    if (state.problems.empty())
        for (const project_slot& slot : state.build.slots)
            if (slot.entry == entry)
                return entry_shape{.side = slot.image.side, .frames = slot.frame_count};
    const std::vector<project_slot> frames = untouched_frames(state, entry, error);
    if (frames.empty())
        return std::nullopt;
    return entry_shape{.side = frames.front().image.side, .frames = frames.size()};
}

// Makes the edit on the project and its files, writes skin.toml, rebuilds, and keeps it to undo.
http_response save_and_build(studio_state& state, const http_request& request)
{
    page_edit edit;
    if (const edit_refusal refusal = read_edit(request, state.project.entries.size(), edit);
        refusal != edit_refusal::none)
        return refusal == edit_refusal::bad_layer ? text_response(400, edit.layer_fault + "\n")
                                                  : text_response(422, refusal_text(refusal) + "\n");
    if (edit.kind == edit_kind::touch) { // every number judged against the entry's frames
        std::string error;
        const std::optional<entry_shape> shape = shape_of(state, *edit.entry, error);
        if (!shape)
            return text_response(409, printable(error.empty() ? "the entry cannot be built" : error) + "\n");
        edit.side = shape->side;
        if (const std::string fault = layer_shape_fault(edit.layer, edit.side, shape->frames); !fault.empty())
            return text_response(400, fault + "\n");
    }
    std::vector<file_move> made;
    decoded_sources decoded; // an upload's frames, which the build need not decode again
    std::string text;
    if (std::optional<refused_edit> refusal = make_edit(state, edit, made, decoded, text))
        return answer_refusal(state, made, std::move(*refusal));
    if (text != state.project.text || !made.empty()) // choosing what was chosen is nothing to undo
        remember(state.history, {edit_label(edit), state.project.text, text, std::move(made)});
    load_and_build(state, decoded);
    return json_response(state_json(state));
}

// Takes back the last edit, or makes the last one undone again: its files moved back (or again)
// and skin.toml written as it was, unless it changed on disk meanwhile.
http_response undo_or_redo(studio_state& state, bool undo)
{
    std::vector<edit_record>& from = undo ? state.history.undo : state.history.redo;
    if (from.empty())
        return text_response(409, undo ? "nothing to undo\n" : "nothing to redo\n");
    const std::optional<std::vector<file_move>> made =
        make_moves(state.folder, state.history, undo ? reversed(from.back().moves) : from.back().moves);
    if (!made)
        return text_response(500, "cannot move the artwork back: nothing was changed\n");
    if (std::optional<refused_edit> refusal = save_text(state, undo ? from.back().before : from.back().after))
        return answer_refusal(state, *made, std::move(*refusal));
    (undo ? state.history.redo : state.history.undo).push_back(std::move(from.back()));
    from.pop_back();
    load_and_build(state);
    return json_response(state_json(state));
}

// The edits, each checked against the version the page last saw.
http_response edit(studio_state& state, const http_request& request)
{
    if (query_value(request, "version") != std::to_string(state.version))
        return text_response(409,
                             "the project changed meanwhile (another tab, or a file on disk): reloaded\n");
    if (request.path == "/api/init") {
        std::string error = std::string("there is a ") + project_file_name + " here already";
        if (state.has_project || !start_project(state.folder, error))
            return text_response(409, error + "\n");
        load_and_build(state);
        return json_response(state_json(state));
    }
    if (request.path == "/api/undo" || request.path == "/api/redo")
        return undo_or_redo(state, request.path == "/api/undo");
    if (!state.has_project)
        return text_response(409, "there is no skin.toml here yet: make one first\n");
    if (!editable(state))
        return text_response(409, "skin.toml has problems that the studio cannot mend: edit it by hand\n");
    return save_and_build(state, request);
}

// GET /api/pixels?entry=N: the entry's untouched codes and its layer, frame by frame.
http_response pixels_response(const studio_state& state, const http_request& request)
{
    const std::optional<std::size_t> entry = query_index(request, "entry", state.project.entries.size());
    if (!entry)
        return text_response(404, "no such entry\n");
    std::string error;
    const std::vector<project_slot> frames = untouched_frames(state, *entry, error);
    if (frames.empty())
        return text_response(409, printable(error.empty() ? "the entry cannot be built" : error) + "\n");
    const int side = frames.front().image.side;
    const project_entry& chosen = state.project.entries[*entry];
    touch_layer layer;
    if (!chosen.touch.empty()) {
        std::string read_error;
        layer = read_touch_layer(read_source(source_path(state.project, chosen.touch), read_error), side,
                                 static_cast<unsigned>(frames.size()), state.project.panel);
    }
    const auto area = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    json untouched = json::array();
    json painted = json::array();
    for (std::size_t frame = 0; frame < frames.size(); ++frame) {
        untouched.push_back(frames[frame].image.block);
        std::vector<int> values(area, -1);
        if (layer.values.size() >= (frame + 1) * area)
            std::copy_n(layer.values.begin() + static_cast<std::ptrdiff_t>(frame * area), area,
                        values.begin());
        painted.push_back(std::move(values));
    }
    return json_response({{"side", side},
                          {"frames", frames.size()},
                          {"key", frames.front().key ? json(*frames.front().key) : json(nullptr)},
                          {"untouched", std::move(untouched)},
                          {"layer", std::move(painted)}});
}

// The answer to a GET (or HEAD) that passed the door.
http_response read_only_answer(const studio_state& state, const http_request& request)
{
    const std::string& path = request.path;
    if (path == "/")
        return page_file_response("page.html");
    if (path == "/studio.js" || path == "/studio.css")
        return page_file_response(path.substr(1));
    if (path == "/api/state")
        return json_response(state_json(state));
    if (path == "/api/pixels")
        return pixels_response(state, request);
    if (path == "/api/version")
        return json_response({{"version", state.version}});
    if (path.starts_with(palette_download))
        return palette_download_response(path.substr(std::string_view(palette_download).size()),
                                         state.project.panel);
    if (path.ends_with(".png")) {
        http_response image = image_response(state, request);
        // Every change bumps the version, so an image asked for at this one never changes, nor
        // one asked for by what it shows: the page's redraws (a zoom, another tab, the tile and
        // the detail of one slot) then fetch and decode nothing again.
        const std::string v = query_value(request, "v");
        if (image.status == 200 && (v == std::to_string(state.version) || v == image_content(state, request)))
            image.cache = "private, max-age=31536000, immutable";
        return image;
    }
    if (path == "/download/skin.skn" || path == "/download/skin.h")
        return download(state, path.substr(std::string_view("/download/").size()));
    return text_response(404, "not found\n");
}

} // namespace

void open_studio(studio_state& state, const fs::path& folder)
{
    state.folder = fs::canonical(folder);
    load_and_build(state);
}

http_response answer_request(studio_state& state, const http_request& request)
{
    if (std::optional<http_response> refusal = judge_head(request, state.door).refusal)
        return *refusal;
    if (carries_token(request, state.door))
        remove_opener(state.door);
    const std::string& path = request.path;
    if (request.method == "POST") {
        if (path == "/api/stop") {
            state.stop = true;
            return text_response(200, "stopped\n");
        }
        if (path.starts_with("/api/"))
            return edit(state, request);
        return text_response(404, "not found\n");
    }
    http_response response = read_only_answer(state, request);
    response.head_only = request.method == "HEAD";
    return response;
}

bool follow_disk(studio_state& state)
{
    if (watch_look(state.watch) != watch_step::settled)
        return false;
    load_and_build(state);
    return true;
}
