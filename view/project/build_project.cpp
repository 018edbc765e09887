// skinview build's core: every entry converted (or taken from the last build), laid out as
// skinpack packs the folder, checked against what is on disk, and only then written.
#include "view/project/build_project.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "skin/bitmap.h"
#include "skin/colour_332.h"
#include "skin/skin.h"
#include "support/file_io.h"
#include "support/utf8_path.h"
#include "view/common/checksum.h"
#include "view/common/convert.h"
#include "view/common/skin_folder.h"
#include "view/common/skin_header.h"
#include "view/decode/decode_image.h"
#include "view/project/build_record.h"
#include "view/project/output_owner.h"
#include "view/project/touch_layer.h"
#include "view/project/watch.h"

namespace fs = std::filesystem;

namespace {

// One image of the skin to be: its block and the bytes of its numbered BMP.
struct planned_slot {
    project_slot slot;
    std::vector<std::uint8_t> bmp;      // made by this build, or
    std::span<const std::uint8_t> kept; // the BMP the last build wrote, as read (in build_state::disk)
    std::uint64_t hash = 0;             // of the BMP
    fs::path source;                    // what it came from
    bool as_is = false;                 // bmp is the source's own bytes
};

struct build_state {
    const skin_project& project;
    fs::path out;
    build_record last;
    build_record next;
    std::map<std::uint64_t, std::string> written_by_hash; // last build's files
    disk_files disk;                                      // output files read so far
    build_result& result;
    const decoded_sources* handed = nullptr; // sources decoded already, not owned
    const build_options* options = nullptr;  // not owned
    bool untouched = false;                  // touch-up layers read for their frames, not laid
};

// A build with nothing known yet of the last one.
build_state start_state(const skin_project& project, const fs::path& out, build_result& result)
{
    return {.project = project,
            .out = out,
            .last = {},
            .next = {},
            .written_by_hash = {},
            .disk = {},
            .result = result,
            .handed = nullptr,
            .options = nullptr};
}

// `hash` continued over the eight bytes of `value`.
std::uint64_t hash_value(std::uint64_t hash, std::uint64_t value)
{
    std::uint8_t bytes[8];
    for (std::size_t i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return content_hash(bytes, hash);
}

// A problem of the `index`-th entry, told at `line` (0: the entry's) with its label.
void report(build_state& state, std::size_t index, problem_kind kind, const std::string& text, int line = 0)
{
    const project_entry& entry = state.project.entries[index];
    state.result.problems.push_back({.file = state.project.file,
                                     .line = line != 0 ? line : entry.line,
                                     .entry = index,
                                     .kind = kind,
                                     .text = entry_label(entry) + ": " + text});
}

// A problem of the project as a whole, or of one output file.
void report_file(build_state& state, const fs::path& file, problem_kind kind, const std::string& text)
{
    state.result.problems.push_back({.file = file, .kind = kind, .text = text});
}

// The hash of a source's bytes: the last build's, when its size and time are as they were.
// Sources are known by their name as written, which stays when the build runs from elsewhere.
std::uint64_t source_hash(build_state& state, const std::string& key, const fs::path& path,
                          std::vector<std::uint8_t>& bytes, std::string& error)
{
    const std::optional<file_stamp> now = output_stamp_of(path);
    // A file the studio has just saved may have the size and time of the one it replaced, within
    // one tick of the clock: its bytes are hashed, which costs nothing beside the decode it saves.
    const bool just_saved = state.handed != nullptr && state.handed->contains(key);
    if (const auto known = state.last.sources.find(key);
        !just_saved && now && known != state.last.sources.end() && known->second.size == now->size &&
        known->second.time == now->time) {
        state.next.sources[key] = known->second;
        return known->second.hash;
    }
    bytes = read_source(path, error);
    if (bytes.empty())
        return 0;
    const std::uint64_t hash = content_hash(bytes);
    if (now)
        state.next.sources[key] = {.hash = hash, .size = now->size, .time = now->time};
    return hash;
}

// The frames of a conversion that the last build made, read back from the BMPs it wrote (given in
// `files`); empty when any of them is gone or changed.
std::vector<converted_image> cached_frames(build_state& state, std::uint64_t key,
                                           std::vector<const disk_file*>& files)
{
    const auto known = state.last.conversions.find(key);
    if (known == state.last.conversions.end() || known->second.empty())
        return {};
    std::vector<converted_image> frames;
    std::vector<const disk_file*> read; // given in `files` only once every frame is there
    for (const std::uint64_t hash : known->second) {
        const auto name = state.written_by_hash.find(hash);
        if (name == state.written_by_hash.end())
            return {};
        const disk_file* file = on_disk(state.disk, state.last, state.out, name->second, true);
        if (file == nullptr || file->hash != hash)
            return {};
        frames.push_back(device_block(bytes_of(*file)));
        read.push_back(file);
        if (frames.back().block.empty())
            return {};
    }
    files = std::move(read);
    return frames;
}

// Every frame of one source, converted as skinview import would with the entry's options.
std::vector<converted_image> convert_frames(const std::vector<rgba_image>& images, const project_entry& entry,
                                            const convert_options& look, std::string& error)
{
    std::vector<converted_image> frames;
    for (const rgba_image& image : images) {
        const bool own_side = image.width == image.height && (image.width == 16 || image.width == 128);
        convert_options options = look;
        options.size = entry.size != 0 ? entry.size : own_side ? 0 : entry.icon ? 16 : 128;
        frames.push_back(convert_image(image, options, error, frames.empty() ? nullptr : &frames.back()));
        if (frames.back().block.empty())
            return {};
        frames.back().delay_ms = image.delay_ms;
    }
    return frames;
}

// A BMP that skinpack takes, as skinpack converts it.
converted_image as_is_block(std::span<const std::uint8_t> file, const std::string& source, bool icon,
                            mend_at mend, std::string& error)
{
    const bitmap_conversion converted = try_convert_bitmap(file);
    const bitmap_layout& layout = converted.layout;
    if (layout.problem != bitmap_problem::none) {
        error = explain_problem(file, layout, source, icon, mend);
        return {};
    }
    if (!converted.block) {
        error = source + ": not enough memory to convert it";
        return {};
    }
    const auto size = static_cast<std::size_t>(layout.side) * static_cast<std::size_t>(layout.side);
    return {.block = std::vector<std::uint8_t>(converted.block.get(), converted.block.get() + size),
            .side = layout.side};
}

// The device byte of a key that loading checked; nothing for none.
std::optional<std::uint8_t> checked_key(const std::optional<rgb_colour>& key)
{
    rgb_colour nearest{};
    return key ? key_byte(*key, nearest) : std::nullopt;
}

// The entry's dither, background and key, else the project's.
convert_options entry_look(const skin_project& project, const project_entry& entry)
{
    return {.dither = entry.dither.value_or(project.dither),
            .background = entry.background.value_or(project.background),
            .key = checked_key(entry.key ? entry.key : project.key),
            .panel = project.panel};
}

// The key under which a conversion is remembered: the source's content and every option.
std::uint64_t conversion_key(std::uint64_t source, const project_entry& entry, const convert_options& look)
{
    std::uint64_t key = hash_value(hash_value(hash_start, conversion_revision), source);
    key = hash_value(key, (entry.icon ? 1u : 0u) | static_cast<unsigned>(entry.size) << 1);
    key = hash_value(key, static_cast<std::uint64_t>(look.dither));
    key = hash_value(key, look.key ? 0x100u | *look.key : 0u);
    if (look.panel != standard_panel()) // so that a project without [panel] keeps its keys
        for (const auto channel :
             {std::span<const std::uint8_t>(look.panel.red), std::span<const std::uint8_t>(look.panel.green),
              std::span<const std::uint8_t>(look.panel.blue)})
            for (const std::uint8_t level : channel)
                key = hash_value(key, level);
    return hash_value(key, std::uint64_t{look.background[0]} << 16 | std::uint64_t{look.background[1]} << 8 |
                               look.background[2]);
}

// The frames handed over for `source`, when its bytes still have their hash; else null.
const std::vector<rgba_image>* handed_frames(const build_state& state, const std::string& source,
                                             std::uint64_t hash)
{
    if (state.handed == nullptr)
        return nullptr;
    const auto found = state.handed->find(source);
    return found != state.handed->end() && found->second.hash == hash ? &found->second.frames : nullptr;
}

// One source's frames, and where they came from.
struct source_frames {
    std::vector<converted_image> frames;
    std::vector<std::uint8_t> bytes;     // the source's own, when read
    std::optional<std::uint64_t> key;    // the conversion's, unless taken as it is
    std::vector<const disk_file*> files; // the BMPs the last build wrote of them, when taken back
    bool handed = false;                 // converted from frames handed over
    std::optional<std::uint64_t> plain;  // a touched entry's: the key of its conversion untouched
    bool touched = false;                // taken back with the layer laid already
    std::string error;
};

// An accepted BMP, taken byte for byte.
source_frames frames_as_is(const build_state& state, const project_entry& entry, const std::string& source,
                           const fs::path& path)
{
    source_frames got;
    got.bytes = read_source(path, got.error);
    // A numbered BMP of the folder (one that init adopted) may be mended where it is; any other
    // source is the artist's own and is never written over.
    std::error_code code;
    const mend_at mend =
        is_series_name(utf8_from_path(path.filename())) && fs::equivalent(path.parent_path(), state.out, code)
            ? mend_at::in_place
            : mend_at::build;
    if (!got.bytes.empty())
        got.frames.push_back(as_is_block(got.bytes, source, entry.icon, mend, got.error));
    return got;
}

// The frames' times on show that the last build kept for conversion `key`, if it kept any.
void take_delays(const build_state& state, std::uint64_t key, std::vector<converted_image>& frames)
{
    if (const auto said = state.last.delays.find(key); said != state.last.delays.end())
        for (std::size_t frame = 0; frame < frames.size() && frame < said->second.size(); ++frame)
            frames[frame].delay_ms = said->second[frame];
}

// The frames of conversion `key` as the last build made them, with their delays; false if gone.
bool frames_cached(build_state& state, std::uint64_t key, source_frames& got)
{
    got.frames = cached_frames(state, key, got.files);
    if (got.frames.empty())
        return false;
    take_delays(state, key, got.frames);
    return true;
}

// The frames the studio handed over for `source`, converted; false when none match its bytes.
bool frames_handed(const build_state& state, const std::string& source, std::uint64_t hash,
                   const project_entry& entry, const convert_options& look, source_frames& got)
{
    const std::vector<rgba_image>* handed = handed_frames(state, source, hash);
    if (handed == nullptr)
        return false;
    got.handed = true;
    got.frames = convert_frames(*handed, entry, look, got.error);
    return true;
}

// The source decoded afresh and converted.
void frames_decoded(build_state& state, const fs::path& path, const project_entry& entry,
                    const convert_options& look, source_frames& got)
{
    if (got.bytes.empty())
        got.bytes = read_source(path, got.error);
    if (got.bytes.empty())
        return;
    got.frames = convert_frames(decode_frames(got.bytes, got.error), entry, look, got.error);
    ++state.result.decoded;
}

// The frames of conversion `key` before a touch-up layer, as the last build kept them; false if none.
bool frames_untouched(const build_state& state, std::uint64_t key, source_frames& got)
{
    const auto kept = state.last.untouched.find(key);
    if (kept == state.last.untouched.end())
        return false;
    for (const std::vector<std::uint8_t>& codes : kept->second) {
        const int side = codes.size() == 16 * 16 ? 16 : codes.size() == 128 * 128 ? 128 : 0;
        if (side == 0) {
            got.frames.clear();
            return false;
        }
        got.frames.push_back({.block = codes, .side = side});
    }
    take_delays(state, key, got.frames);
    return true;
}

// A source to be imported: from the last build where it can, else handed over, else decoded.
// A touched conversion is remembered apart from the untouched one, by the layer's hash too; with
// a new layer, the untouched one the last build kept is touched again.
source_frames frames_converted(build_state& state, const project_entry& entry, const convert_options& look,
                               const std::string& source, const fs::path& path, std::uint64_t layer)
{
    source_frames got;
    const std::uint64_t hash = source_hash(state, source, path, got.bytes, got.error);
    const std::uint64_t plain = conversion_key(hash, entry, look);
    got.key = layer == 0 ? plain : hash_value(plain, layer);
    if (layer != 0)
        got.plain = plain;
    if (!got.error.empty())
        return got;
    got.touched = layer != 0 && !state.untouched && frames_cached(state, *got.key, got);
    if (!got.touched &&
        !(layer == 0 ? frames_cached(state, plain, got) : frames_untouched(state, plain, got)) &&
        !frames_handed(state, source, hash, entry, look, got))
        frames_decoded(state, path, entry, look, got);
    return got;
}

// A touched entry's conversion before its layer, kept in the next record: from the frames when
// they are untouched, else as the last record kept it.
void keep_untouched(build_state& state, const source_frames& got)
{
    if (!got.plain)
        return;
    if (got.touched) {
        if (const auto kept = state.last.untouched.find(*got.plain); kept != state.last.untouched.end())
            state.next.untouched[*got.plain] = kept->second;
        if (const auto said = state.last.delays.find(*got.plain); said != state.last.delays.end())
            state.next.delays[*got.plain] = said->second;
        return;
    }
    std::vector<std::vector<std::uint8_t>>& kept = state.next.untouched[*got.plain];
    std::vector<int> delays;
    for (const converted_image& frame : got.frames) {
        kept.push_back(frame.block);
        delays.push_back(frame.delay_ms);
    }
    if (std::any_of(delays.begin(), delays.end(), [](int delay) { return delay > 0; }))
        state.next.delays[*got.plain] = std::move(delays);
}

// A source that gave no image, told: unreadable, refused as it is, or no image at all.
void tell_source_problem(build_state& state, std::size_t index, const std::string& source,
                         const source_frames& got)
{
    const problem_kind kind = got.bytes.empty() && !got.handed     ? problem_kind::unreadable_source
                              : state.project.entries[index].as_is ? problem_kind::wrong_image
                                                                   : problem_kind::undecodable_source;
    report(state, index, kind, source + ": " + got.error);
}

// One slot per frame of a source, and what the conversion gave remembered for the next build.
void add_frames(build_state& state, const project_entry& entry, const fs::path& path,
                const convert_options& look, source_frames& got, std::vector<planned_slot>& planned)
{
    std::vector<std::uint64_t> hashes;
    std::vector<int> delays;
    for (std::size_t frame = 0; frame < got.frames.size(); ++frame) {
        planned_slot slot;
        slot.source = path;
        slot.as_is = entry.as_is && entry.touch.empty(); // a touched BMP is written as the device shows it
        // A frame of the last build is the BMP it wrote, byte for byte, and need not be made again.
        const bool taken_back = frame < got.files.size();
        if (slot.as_is) {
            slot.bmp = got.bytes;
        } else if (taken_back) {
            slot.kept = bytes_of(*got.files[frame]);
        } else {
            slot.bmp = device_bmp(got.frames[frame].block, got.frames[frame].side);
        }
        slot.hash = taken_back ? got.files[frame]->hash : content_hash(slot.bmp);
        hashes.push_back(slot.hash);
        delays.push_back(got.frames[frame].delay_ms);
        slot.slot.image = std::move(got.frames[frame]);
        slot.slot.key = look.key;
        planned.push_back(std::move(slot));
    }
    if (!got.key)
        return;
    state.next.conversions[*got.key] = std::move(hashes);
    if (std::any_of(delays.begin(), delays.end(), [](int delay) { return delay > 0; }))
        state.next.delays[*got.key] = std::move(delays);
}

// The entry's frames placed in its series, all of one side; false, and told, when they are not.
bool place_frames(build_state& state, std::size_t index, std::vector<planned_slot>& planned,
                  std::vector<planned_slot>& slots)
{
    const project_entry& entry = state.project.entries[index];
    for (std::size_t frame = 0; frame < planned.size(); ++frame) {
        project_slot& slot = planned[frame].slot;
        if (slot.image.side != planned.front().slot.image.side) {
            report(state, index, problem_kind::wrong_image,
                   "its frames are of different sides (" + std::to_string(planned.front().slot.image.side) +
                       " and " + std::to_string(slot.image.side) + "): give size = 16 or size = 128");
            return false;
        }
        slot.entry = index;
        slot.frame = static_cast<unsigned>(frame);
        slot.frame_count = static_cast<unsigned>(planned.size());
        slot.place = {.icon = entry.icon, .side = static_cast<unsigned>(slot.image.side)};
    }
    std::move(planned.begin(), planned.end(), std::back_inserter(slots));
    return true;
}

// An entry's touch-up layer as a build reads it: the hash of its bytes (0: none) and, once the
// side is known, its pixels.
struct layer_input {
    std::uint64_t hash = 0;
    std::vector<std::uint8_t> bytes;
    touch_layer layer;
    bool read = false; // `layer` decoded
};

// A problem of the entry's touch-up layer, told at its `touch` line with the file named.
void report_touch(build_state& state, std::size_t index, problem_kind kind, const std::string& text)
{
    const project_entry& entry = state.project.entries[index];
    report(state, index, kind, entry.touch + ": " + text, entry.touch_line);
}

// The layer's bytes, tracked in the record as a source is; false, and told, when unreadable.
bool read_layer_input(build_state& state, std::size_t index, layer_input& in)
{
    const project_entry& entry = state.project.entries[index];
    if (entry.touch.empty())
        return true;
    const fs::path path = source_path(state.project, entry.touch);
    std::string error;
    in.hash = source_hash(state, entry.touch, path, in.bytes, error);
    if (error.empty() && in.bytes.empty())
        in.bytes = read_source(path, error);
    if (!error.empty())
        report_touch(state, index, problem_kind::unreadable_source, error);
    return error.empty();
}

// The layer over `frames`, the first of them frame `first` of the entry; false, and told, when
// the layer is no layer for frames of their side.
bool touch_frames(build_state& state, std::size_t index, layer_input& in,
                  std::vector<converted_image>& frames, std::size_t first)
{
    if (in.hash == 0 || frames.empty())
        return true;
    const int side = frames.front().side;
    if (!in.read) {
        in.layer = read_touch_layer(in.bytes, side, 0, state.project.panel);
        in.read = true;
    }
    if (in.layer.fault != layer_fault::none) {
        const problem_kind kind = in.layer.fault == layer_fault::undecodable
                                      ? problem_kind::undecodable_source
                                      : problem_kind::wrong_image;
        report_touch(state, index, kind, layer_fault_text(in.layer, side, 0));
        return false;
    }
    for (std::size_t frame = 0; frame < frames.size() && !state.untouched; ++frame)
        lay_touch(frames[frame].block, side, in.layer, static_cast<unsigned>(first + frame));
    return true;
}

// The frames of an entry drawn from nothing: as many as its layer holds, each all key or background.
source_frames frames_drawn(const build_state& state, const project_entry& entry, const layer_input& in)
{
    source_frames got;
    const touch_layer layer = read_touch_layer(in.bytes, entry.size, 0, state.project.panel);
    convert_options look = entry_look(state.project, entry);
    look.size = entry.size;
    const auto side = static_cast<std::size_t>(entry.size);
    const rgba_image clear{
        .width = entry.size, .height = entry.size, .rgba = alloc_zeroed_or_die(side * side * 4)};
    for (unsigned frame = 0; frame < std::max(1u, layer_frames(layer, entry.size)); ++frame)
        got.frames.push_back(convert_image(clear, look, got.error));
    return got;
}

// The layer's frames beside the entry's; false, and told, when they are not as many.
bool check_layer_frames(build_state& state, std::size_t index, layer_input& in, std::size_t frames)
{
    if (in.hash == 0 || !in.read || in.layer.fault != layer_fault::none ||
        layer_frames(in.layer, in.layer.width) == frames)
        return true;
    in.layer.fault = layer_fault::wrong_size;
    report_touch(state, index, problem_kind::wrong_image,
                 layer_fault_text(in.layer, in.layer.width, static_cast<unsigned>(frames)));
    return false;
}

// The slots of one entry, each source's frames from wherever they come, touched up; false on a problem.
bool plan_entry(build_state& state, std::size_t index, std::vector<planned_slot>& slots)
{
    const project_entry& entry = state.project.entries[index];
    const convert_options look = entry_look(state.project, entry);
    layer_input layer;
    if (!read_layer_input(state, index, layer))
        return false;
    std::vector<planned_slot> planned;
    if (entry.sources.empty()) {
        source_frames got = frames_drawn(state, entry, layer);
        if (!touch_frames(state, index, layer, got.frames, 0))
            return false;
        add_frames(state, entry, source_path(state.project, entry.touch), look, got, planned);
    }
    for (const std::string& source : entry.sources) {
        const fs::path path = source_path(state.project, source);
        source_frames got = entry.as_is ? frames_as_is(state, entry, source, path)
                                        : frames_converted(state, entry, look, source, path, layer.hash);
        if (got.frames.empty() || got.frames.front().block.empty()) {
            tell_source_problem(state, index, source, got);
            return false;
        }
        keep_untouched(state, got);
        if (!touch_frames(state, index, layer, got.frames, planned.size()))
            return false;
        add_frames(state, entry, path, look, got, planned);
    }
    return check_layer_frames(state, index, layer, planned.size()) &&
           place_frames(state, index, planned, slots);
}

// Puts the slots in skin order, pictures first, then icons, each series in file order, and
// numbers them: the skin's table of contents, with every entry's name (no CRC yet).
skin_contents number_slots(const skin_project& project, std::vector<planned_slot>& slots)
{
    std::stable_partition(slots.begin(), slots.end(),
                          [](const planned_slot& s) { return !s.slot.place.icon; });
    skin_contents contents{.key = checked_key(project.key)};
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const project_slot& slot = slots[i].slot;
        contents.images.push_back(slot.place);
        const project_entry& entry = project.entries[slot.entry];
        if (slot.frame == 0)
            contents.names.push_back({.name = entry.name,
                                      .c_name = c_name(entry.name),
                                      .first = i,
                                      .frame_count = slot.frame_count,
                                      .frames = entry.sources.size() > 1 || slot.frame_count > 1,
                                      .key = entry.as_is ? std::nullopt : checked_key(entry.key)});
    }
    contents.size = number_images(contents.images);
    for (std::size_t i = 0; i < slots.size(); ++i)
        slots[i].slot.place = contents.images[i];
    return contents;
}

// A name whose macros another entry's numbered image defines too ("bmp3" for the image in bmp3.bmp).
void check_macro_clashes(build_state& state, const std::vector<planned_slot>& slots)
{
    std::map<std::string, const project_slot*> stems;
    for (const planned_slot& planned : slots)
        stems[macro_stem(planned.slot.place.file_name)] = &planned.slot;
    for (const planned_slot& planned : slots) {
        const project_entry& entry = state.project.entries[planned.slot.entry];
        const auto clash = stems.find(c_name(entry.name));
        if (planned.slot.frame == 0 && clash != stems.end() && clash->second != &planned.slot)
            report(state, planned.slot.entry, problem_kind::name_clash,
                   "its macros SKIN_" + clash->first + "_... would also be those of " +
                       clash->second->place.file_name + ", another image: choose another name");
    }
}

// The bytes of a text file.
std::vector<std::uint8_t> text_bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

struct planned_output {
    std::string name;                   // in the output folder
    std::vector<std::uint8_t> made;     // its bytes, made by this build, or
    std::span<const std::uint8_t> kept; // its bytes held elsewhere while the build runs
    std::optional<std::uint64_t> hash;  // of its bytes; unset until worked out
    bool write = false;
};

// The bytes an output is to hold.
std::span<const std::uint8_t> output_bytes(const planned_output& output)
{
    return output.kept.empty() ? std::span<const std::uint8_t>(output.made) : output.kept;
}

// Replaces `path` with `bytes` unless it already holds them.
bool save_if_changed(const fs::path& path, std::span<const std::uint8_t> bytes)
{
    std::error_code code;
    if (fs::is_regular_file(path, code) && std::ranges::equal(read_file_bytes(path), bytes))
        return true;
    return replace_file(path, bytes) == save_outcome::saved;
}

// Every output in the order written, the images before the skin made of them, each checked
// against what is on disk; the slots' BMPs move into them.
std::vector<planned_output> plan_outputs(build_state& state, output_folder& folder,
                                         std::vector<planned_slot>& slots, skin_contents contents)
{
    const build_options& options = folder.options;
    const build_result& result = state.result;
    std::vector<planned_output> outputs;
    for (planned_slot& planned : slots) {
        std::error_code code;
        if (planned.as_is && fs::equivalent(planned.source, state.out / planned.slot.place.file_name, code))
            continue; // the source is that very file, left as it is
        outputs.push_back({.name = planned.slot.place.file_name,
                           .made = std::move(planned.bmp),
                           .kept = planned.kept,
                           .hash = planned.hash});
    }
    contents.crc32 = result.crc32;
    const std::string made_by = "Generated by skinview build from " +
                                utf8_from_path(state.project.file.filename()) +
                                ", with the skin; it is remade whenever the skin changes.";
    outputs.push_back({.name = skin_file_name, .kept = result.skin}); // the result holds it
    outputs.push_back({.name = "skin.h", .made = text_bytes(skin_c_header(contents, "SKIN_H", made_by))});
    outputs.push_back({.name = "skin.json", .made = text_bytes(skin_json(contents))});
    if (options.embed)
        outputs.push_back({.name = "skin_data.c", .made = text_bytes(skin_data_text(result.skin))});
    for (planned_output& output : outputs) {
        if (!output.hash)
            output.hash = content_hash(output_bytes(output));
        const output_check check = check_output(folder, output.name, output_bytes(output), *output.hash);
        if (check == output_check::unchanged) {
            state.next.files[output.name] = *output.hash;
            state.next.stamps[output.name] =
                on_disk(folder.disk, folder.last, folder.out, output.name, false)->stamp;
        }
        output.write = check == output_check::write;
    }
    std::set<std::string> planned;
    for (const planned_output& output : outputs)
        planned.insert(output.name);
    for (const auto& [name, hash] : state.last.files) // other files of earlier builds stay known
        if (!name.ends_with(".bmp") && !planned.contains(name))
            state.next.files.insert({name, hash});
    return outputs;
}

// Once everything is decided: the removals, then every output whose bytes change.
void write_outputs(build_state& state, const std::vector<planned_output>& outputs,
                   const std::vector<std::string>& removals)
{
    for (const std::string& name : removals) {
        std::error_code code;
        if (fs::remove(state.out / name, code) || !code) {
            state.result.removed.push_back(name);
            continue;
        }
        // Still build's own, to be removed by the next build; skinpack would pack it meanwhile.
        report_file(state, state.out / name, problem_kind::cannot_write,
                    "cannot remove it: " + code.message());
        if (const auto known = state.last.files.find(name); known != state.last.files.end())
            state.next.files.insert(*known);
    }
    for (const planned_output& output : outputs) // still known as build's should a write fail
        if (const auto known = state.last.files.find(output.name);
            output.write && known != state.last.files.end())
            state.next.files.insert(*known);
    for (const planned_output& output : outputs) {
        if (!output.write)
            continue;
        if (replace_file(state.out / output.name, output_bytes(output)) != save_outcome::saved) {
            report_file(state, state.out / output.name, problem_kind::cannot_write, "cannot write it");
            return;
        }
        state.next.files[output.name] = *output.hash;
        if (const std::optional<file_stamp> stamp = output_stamp_of(state.out / output.name))
            state.next.stamps[output.name] = *stamp; // vouches for the bytes just written
        state.result.written.push_back(output.name);
    }
}

// What the last build left: its record, read only when nothing is in the way of the files that
// build owns by their names (a FIFO in their place would hang the build).
void read_last_build(build_state& state)
{
    const build_options& options = *state.options;
    bool record_readable = true;
    for (const fs::path& fixed : {state.out / build_record_name, options.depfile, options.stamp})
        if (!fixed.empty() && !check_fixed(fixed, options, state.out, state.result.problems))
            record_readable = false;
    if (record_readable)
        state.last = read_record(state.out / build_record_name);
    for (const auto& [name, hash] : state.last.files)
        state.written_by_hash.emplace(hash, name);
}

// The entries that the loader could not read whole, or whose source is missing, are left alone:
// what they would give depends on what is to be mended.
std::vector<bool> entries_left_alone(const skin_project& project, const std::vector<project_problem>& loaded)
{
    std::vector<bool> left_alone(project.entries.size());
    for (const project_problem& problem : loaded)
        if (problem.entry && *problem.entry < left_alone.size() &&
            (problem.kind == problem_kind::bad_value || problem.kind == problem_kind::missing_key ||
             problem.kind == problem_kind::missing_source))
            left_alone[*problem.entry] = true;
    return left_alone;
}

// Every entry's slots in file order, telling the progress after each entry.
std::vector<planned_slot> plan_slots(build_state& state, const std::vector<bool>& left_alone)
{
    const std::size_t total = state.project.entries.size();
    std::vector<planned_slot> slots;
    for (std::size_t entry = 0; entry < total; ++entry) {
        if (!left_alone[entry])
            plan_entry(state, entry, slots);
        if (state.options->progress)
            state.options->progress(entry + 1, total);
    }
    return slots;
}

// The skin's bytes and CRC, every block in skin order; false, and told, when skinpack would refuse it.
bool pack_skin(build_state& state, const std::vector<planned_slot>& slots)
{
    std::uint64_t size = 0;
    for (const planned_slot& planned : slots)
        size += planned.slot.image.block.size();
    if (size > max_buffer_length) { // told before any of it is held
        report_file(state, state.project.file, problem_kind::too_large,
                    "the skin would pass 2 GiB, more than skinpack takes");
        return false;
    }
    std::vector<std::uint8_t>& skin = state.result.skin;
    skin.reserve(static_cast<std::size_t>(size));
    for (const planned_slot& planned : slots)
        skin.insert(skin.end(), planned.slot.image.block.begin(), planned.slot.image.block.end());
    state.result.crc32 = crc32(skin);
    return true;
}

// What a build would do, decided before anything is written.
struct build_plan {
    std::vector<planned_slot> slots;     // in skin order, numbered
    std::vector<planned_output> outputs; // in the order written
    std::vector<std::string> removals;
};

// Every slot, output and removal, each checked against what is on disk; false when anything is
// wrong, all of it told.
bool plan_build(build_state& state, const std::vector<project_problem>& loaded, build_plan& plan)
{
    const std::vector<project_problem>& problems = state.result.problems;
    read_last_build(state);
    state.result.inputs = project_inputs(state.project);
    plan.slots = plan_slots(state, entries_left_alone(state.project, loaded));
    const skin_contents contents = number_slots(state.project, plan.slots);
    check_macro_clashes(state, plan.slots);
    if (plan.slots.empty() && problems.empty())
        report_file(state, state.project.file, problem_kind::no_images,
                    "lists no images: add a [[picture]] or an [[icon]]");
    if (!problems.empty() || !pack_skin(state, plan.slots))
        return false;
    const source_files sources = source_identities(state.project);
    output_folder folder{.out = state.out,
                         .last = state.last,
                         .sources = sources,
                         .options = *state.options,
                         .disk = state.disk,
                         .problems = state.result.problems};
    plan.outputs = plan_outputs(state, folder, plan.slots, contents);
    plan.removals = plan_removals(folder, contents);
    return problems.empty();
}

// The depfile, the stamp and the record, once the outputs are written.
void write_build_files(build_state& state, const std::vector<planned_output>& outputs)
{
    const build_options& options = *state.options;
    const std::vector<project_problem>& problems = state.result.problems;
    std::vector<fs::path> targets; // not the numbered BMPs: a build system declares only fixed outputs
    for (const planned_output& output : outputs)
        if (!output.name.ends_with(".bmp"))
            targets.push_back(state.out / output.name);
    if (!options.depfile.empty() && problems.empty() &&
        !save_if_changed(options.depfile,
                         text_bytes(depfile_text(options.stamp, targets, state.result.inputs))))
        report_file(state, options.depfile, problem_kind::cannot_write, "cannot write it");
    if (!options.stamp.empty() && problems.empty() &&
        replace_file(options.stamp, text_bytes("skinview build ran\n")) != save_outcome::saved)
        report_file(state, options.stamp, problem_kind::cannot_write, "cannot write it");
    if (!save_if_changed(state.out / build_record_name, text_bytes(record_text(state.next))))
        report_file(state, state.out / build_record_name, problem_kind::cannot_write, "cannot write it");
}

// What the plan's writes and removals would change, changing nothing.
void tell_dry_run(build_result& result, const build_plan& plan)
{
    for (const planned_output& output : plan.outputs)
        if (output.write)
            result.written.push_back(output.name);
    result.removed = plan.removals;
}

} // namespace

build_result build_project(const skin_project& project, const std::vector<project_problem>& loaded,
                           const build_options& options, const decoded_sources& handed)
{
    build_result result{.problems = loaded};
    build_state state =
        start_state(project, options.out.empty() ? project_folder(project) : options.out, result);
    state.handed = &handed;
    state.options = &options;
    build_plan plan;
    if (!plan_build(state, loaded, plan))
        return result;
    for (planned_slot& planned : plan.slots)
        result.slots.push_back(std::move(planned.slot));
    if (options.dry_run) {
        tell_dry_run(result, plan);
        return result;
    }
    write_outputs(state, plan.outputs, plan.removals);
    write_build_files(state, plan.outputs);
    return result;
}

project_run run_project(const fs::path& file, const build_options& options, const decoded_sources& handed)
{
    project_run run;
    std::vector<project_problem> problems;
    run.loaded = load_project(file, run.project, problems);
    run.build = build_project(run.project, problems, options, handed);
    return run;
}

bool holds_project(const fs::path& folder)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(folder / project_file_name, error));
}

std::vector<project_slot> convert_entry(const skin_project& project, std::size_t entry, dither_method dither,
                                        std::vector<project_problem>& problems, bool touched)
{
    skin_project alone = project;
    project_entry& chosen = alone.entries.at(entry);
    if (!chosen.as_is)
        chosen.dither = dither;
    build_result result;
    build_state state = start_state(alone, {}, result);
    state.untouched = !touched;
    std::vector<planned_slot> slots;
    plan_entry(state, entry, slots);
    problems.insert(problems.end(), result.problems.begin(), result.problems.end());
    std::vector<project_slot> converted;
    for (planned_slot& planned : slots)
        converted.push_back(std::move(planned.slot));
    return converted;
}
