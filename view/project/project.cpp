// The project file: skin.toml read and checked with toml++, and written back.
#include "view/project/project.h"
#include "skin/colour_332.h"
#include "skin/skin.h"
#include "support/file_io.h"
#include "support/utf8_path.h"
#include "support/utf8_text.h"
#include "view/common/dither_names.h"
#include "view/project/c_name.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "view/common/convert.h"
#include "view/common/skin_folder.h"
#include "view/common/wording.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* entry_keys = "name, source, size, dither, background, key, as_is, touch";

// The problems of one file, told in the order of their lines once all are found.
struct problem_list {
    fs::path file;
    std::vector<project_problem> found;
};

// A problem at `line`, of the entry read `entry`-th when it concerns one.
void report(problem_list& problems, std::uint32_t line, problem_kind kind, std::optional<std::size_t> entry,
            const std::string& text)
{
    problems.found.push_back(
        {.file = problems.file, .line = static_cast<int>(line), .entry = entry, .kind = kind, .text = text});
}

// Every problem, by line, after those already in `out`; false if there was any.
bool tell(problem_list& problems, std::vector<project_problem>& out)
{
    std::stable_sort(problems.found.begin(), problems.found.end(),
                     [](const project_problem& a, const project_problem& b) { return a.line < b.line; });
    out.insert(out.end(), problems.found.begin(), problems.found.end());
    return problems.found.empty();
}

// ": write it without quotes" where a value that must be bare was written as a string of one.
std::string unquote_hint(const toml::node& value, std::initializer_list<std::string_view> bare)
{
    const std::optional<std::string> text = value.is_string() ? value.value<std::string>() : std::nullopt;
    return text && std::find(bare.begin(), bare.end(), *text) != bare.end()
               ? ": write it without quotes (" + *text + ")"
               : "";
}

// What a problem adds to an entry's label when its name gives no C name.
std::string not_a_c_name()
{
    return std::string(": the name must give a C name: ") + c_name_advice;
}

constexpr const char* colour_choice = "must be a colour written \"#RRGGBB\"";

// The look that [defaults] and every entry may set.
struct look_keys {
    std::optional<dither_method> dither;
    std::optional<rgb_colour> background;
    std::optional<rgb_colour> key;
};

// Reads the dither, background and key keys that [defaults] and every entry may hold; false if
// `key` is none of them.
bool read_look(const toml::key& key, const toml::node& node, look_keys& look, const std::string& where,
               std::optional<std::size_t> entry, problem_list& problems)
{
    const std::uint32_t line = key.source().begin.line;
    if (key.str() == "dither") {
        const std::optional<std::string> text = node.is_string() ? node.value<std::string>() : std::nullopt;
        look.dither = text ? parse_dither(*text) : std::nullopt;
        if (!look.dither)
            report(problems, line, problem_kind::bad_value, entry,
                   where + "dither must be " + dither_choices("\""));
        return true;
    }
    if (key.str() != "background" && key.str() != "key")
        return false;
    const std::string name(key.str());
    const std::optional<std::string> text = node.value<std::string>();
    rgb_colour colour{};
    if (!node.is_string() || !text || !parse_colour(*text, colour)) {
        report(problems, line, problem_kind::bad_value, entry, where + name + " " + colour_choice);
    } else if (name == "background") {
        look.background = colour;
    } else if (rgb_colour nearest{}; key_byte(colour, nearest)) {
        look.key = colour;
    } else {
        char shown[8];
        std::snprintf(shown, sizeof shown, "#%02X%02X%02X", nearest[0], nearest[1], nearest[2]);
        report(problems, line, problem_kind::bad_value, entry,
               where + "key " + *text + " is not a device colour; the nearest is " + shown);
    }
    return true;
}

// The [defaults] table.
void read_defaults(const toml::node& node, skin_project& project, problem_list& problems)
{
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        report(problems, node.source().begin.line, problem_kind::bad_value, std::nullopt,
               "defaults must be a table ([defaults])");
        return;
    }
    look_keys look;
    for (const auto& [key, value] : *table)
        if (!read_look(key, value, look, "defaults: ", std::nullopt, problems))
            report(problems, key.source().begin.line, problem_kind::unknown_key, std::nullopt,
                   "defaults: unknown key \"" + std::string(key.str()) +
                       "\": the keys are dither, background, key");
    project.dither = look.dither.value_or(project.dither);
    project.background = look.background.value_or(project.background);
    project.key = look.key ? look.key : project.key;
}

// The entry's sources as written: one path, or a list of them for frames.
void read_sources(const toml::node& node, project_entry& entry, std::size_t index, std::uint32_t line,
                  problem_list& problems)
{
    if (const std::optional<std::string> one = node.value<std::string>(); node.is_string()) {
        entry.sources.push_back(*one);
        return;
    }
    const toml::array* list = node.as_array();
    bool paths = list != nullptr;
    if (list != nullptr)
        for (const toml::node& item : *list) {
            paths = paths && item.is_string();
            if (item.is_string())
                entry.sources.push_back(*item.value<std::string>());
        }
    if (!paths)
        report(problems, line, problem_kind::bad_value, index,
               entry_label(entry) + ": source must be a path or a list of paths");
    else if (entry.sources.empty())
        report(problems, line, problem_kind::bad_value, index,
               entry_label(entry) + ": source lists no frames");
}

// What one entry's keys set, beyond the entry itself, for the checks of the whole table.
struct entry_keys_seen {
    bool source = false;
    bool look = false; // a key that as_is leaves no room for
};

// One key of an entry's table, checked and read into `entry`.
void read_entry_key(const toml::key& key, const toml::node& value, project_entry& entry, std::size_t index,
                    entry_keys_seen& seen, problem_list& problems)
{
    const std::uint32_t line = key.source().begin.line;
    const std::string where = entry_label(entry) + ": ";
    if (key.str() == "name") {
        if (!value.is_string())
            report(problems, line, problem_kind::bad_value, index, where + "name must be a string");
    } else if (key.str() == "source") {
        seen.source = true;
        read_sources(value, entry, index, line, problems);
    } else if (key.str() == "size") {
        const std::optional<std::int64_t> size =
            value.is_integer() ? value.value<std::int64_t>() : std::nullopt;
        seen.look = true;
        if (size == 16 || size == 128)
            entry.size = static_cast<int>(*size);
        else
            report(problems, line, problem_kind::bad_value, index,
                   where + "size must be 16 or 128" + unquote_hint(value, {"16", "128"}));
    } else if (key.str() == "as_is") {
        if (value.is_boolean())
            entry.as_is = *value.value<bool>();
        else
            report(problems, line, problem_kind::bad_value, index,
                   where + "as_is must be true or false" + unquote_hint(value, {"true", "false"}));
    } else if (key.str() == "touch") {
        entry.touch_line = static_cast<int>(line);
        if (value.is_string() && !value.value<std::string>()->empty())
            entry.touch = *value.value<std::string>();
        else
            report(problems, line, problem_kind::bad_value, index, where + "touch must be a path");
    } else if (look_keys read; read_look(key, value, read, where, index, problems)) {
        seen.look = true;
        entry.dither = read.dither ? read.dither : entry.dither;
        entry.background = read.background ? read.background : entry.background;
        entry.key = read.key ? read.key : entry.key;
    } else {
        report(problems, line, problem_kind::unknown_key, index,
               where + "unknown key \"" + std::string(key.str()) + "\": the keys are " + entry_keys);
    }
}

// What an entry's table lacks as a whole, or holds that does not go together.
void check_entry_table(const project_entry& entry, bool named, const entry_keys_seen& seen, std::size_t index,
                       problem_list& problems)
{
    const std::string where = entry_label(entry) + ": ";
    const auto line = static_cast<std::uint32_t>(entry.line);
    if (!named)
        report(problems, line, problem_kind::missing_key, index, where + "has no name: add name = \"...\"");
    // An entry drawn from nothing is its touch-up layer alone, at the size given.
    if (!seen.source && (entry.touch_line == 0 || entry.size == 0))
        report(problems, line, problem_kind::missing_key, index,
               where + (entry.touch_line != 0 ? "is drawn from nothing: add size = 16 or size = 128"
                                              : "has no source: add source = \"PATH\""));
    if (entry.as_is && seen.look)
        report(problems, line, problem_kind::bad_value, index,
               where + "as_is takes the BMP as it is: size, dither, background and key do not apply");
}

// One [[picture]] or [[icon]] table, the `index`-th in the file, every key checked.
project_entry read_entry(const toml::node& node, bool icon, std::size_t index, problem_list& problems)
{
    project_entry entry{.icon = icon, .line = static_cast<int>(node.source().begin.line)};
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        const std::string kind = icon ? "icon" : "picture";
        report(problems, node.source().begin.line, problem_kind::bad_value, index,
               kind + " must be a table ([[" + kind + "]])");
        return entry;
    }
    const toml::node* name = table->get("name");
    if (name != nullptr && name->is_string())
        entry.name = *name->value<std::string>();
    if (name != nullptr && name->is_string() && entry.name.empty())
        report(problems, name->source().begin.line, problem_kind::bad_name, index,
               entry_label(entry) + not_a_c_name());
    entry_keys_seen seen;
    for (const auto& [key, value] : *table)
        read_entry_key(key, value, entry, index, seen, problems);
    check_entry_table(entry, name != nullptr, seen, index, problems);
    return entry;
}

// Names that are no C name, and two names with one C name.
void check_names(const skin_project& project, problem_list& problems)
{
    std::map<std::string, const project_entry*> taken;
    for (std::size_t index = 0; index < project.entries.size(); ++index) {
        const project_entry& entry = project.entries[index];
        if (entry.name.empty())
            continue;
        const std::string name = c_name(entry.name);
        const auto line = static_cast<std::uint32_t>(entry.line);
        if (!is_c_identifier(name)) {
            report(problems, line, problem_kind::bad_name, index, entry_label(entry) + not_a_c_name());
            continue;
        }
        const auto [other, fresh] = taken.emplace(name, &entry);
        if (!fresh)
            report(problems, line, problem_kind::name_clash, index,
                   entry_label(entry) + ": its C name " + name + " is also that of " +
                       entry_label(*other->second) + " (line " + std::to_string(other->second->line) + ")");
    }
}

// Sources that are missing or not files; what they hold is judged when they are built.
void check_sources(const skin_project& project, problem_list& problems)
{
    for (std::size_t index = 0; index < project.entries.size(); ++index)
        for (const std::string& source : project_entry_inputs(project.entries[index])) {
            const project_entry& entry = project.entries[index];
            const int line = source == entry.touch ? entry.touch_line : entry.line;
            std::error_code code;
            const fs::path path = source_path(project, source);
            if (fs::is_regular_file(path, code))
                continue;
            std::string text = entry_label(entry) + ": " + source + ": " +
                               (fs::exists(path, code) ? "not a file" : "no such file");
            // "art\battery.png" in double quotes holds a backspace; in single quotes, on Linux, a
            // backslash that is no separator. A '/' works on every system.
            if (std::any_of(source.begin(), source.end(),
                            [](unsigned char c) { return c == '\\' || c < 0x20 || c == 0x7F; }))
                text +=
                    ": write the path with '/' between folders (art/icon.png), which works on every system";
            report(problems, static_cast<std::uint32_t>(line), problem_kind::missing_source, index, text);
        }
}

// A TOML basic string.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X",
                          static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// "#RRGGBB", quoted.
std::string colour_text(rgb_colour colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", colour[0], colour[1], colour[2]);
    return quoted(text);
}

// Where each line of a text starts, and the text's end after the last.
std::vector<std::size_t> line_starts(std::string_view text)
{
    std::vector<std::size_t> starts{0};
    for (std::size_t at = 0; at < text.size(); ++at)
        if (text[at] == '\n')
            starts.push_back(at + 1);
    if (starts.back() != text.size())
        starts.push_back(text.size());
    return starts;
}

// The byte offset of a toml++ position, whose column counts code points from 1.
std::size_t offset_of(std::string_view text, const std::vector<std::size_t>& starts,
                      const toml::source_position& at)
{
    if (at.line == 0 || at.line >= starts.size())
        return text.size();
    std::size_t offset = starts[at.line - 1];
    for (std::uint32_t column = 1; column < at.column && offset < starts[at.line]; ++column) {
        const auto lead = static_cast<unsigned char>(text[offset]);
        offset += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    return std::min(offset, starts[at.line]);
}

// The end of the line that `offset` lies on, with its line end.
std::size_t line_end(const std::vector<std::size_t>& starts, std::size_t offset)
{
    return *std::upper_bound(starts.begin(), starts.end() - 1, offset);
}

// Line `line` (from 1) without its line end and surrounding blanks.
std::string_view line_text(std::string_view text, const std::vector<std::size_t>& starts, std::size_t line)
{
    std::string_view view = text.substr(starts[line - 1], starts[line] - starts[line - 1]);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.front())) != 0)
        view.remove_prefix(1);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.back())) != 0)
        view.remove_suffix(1);
    return view;
}

// Every key's place in an entry's table.
void place_keys(project_entry& entry, const toml::table& table, std::string_view text,
                const std::vector<std::size_t>& starts)
{
    for (const auto& [key, value] : table) {
        const std::size_t key_at = offset_of(text, starts, key.source().begin);
        const std::size_t value_end = offset_of(text, starts, value.source().end);
        entry.keys[std::string(key.str())] = {
            .lines = {starts[key.source().begin.line - 1],
                      line_end(starts, value_end - (value_end > key_at))},
            .value = {offset_of(text, starts, value.source().begin), value_end}};
    }
}

// Each entry's block, between the table headers at `headers` (lines): from its own header and
// the comment lines just above it to its last line that is neither blank nor a comment above
// the next header.
void place_blocks(skin_project& project, const std::vector<std::uint32_t>& headers,
                  const std::vector<std::size_t>& starts)
{
    const std::string_view text = project.text;
    const std::size_t last_line = starts.size() - 1;
    const auto blank = [&](std::size_t line) { return line_text(text, starts, line).empty(); };
    const auto comment = [&](std::size_t line) { return line_text(text, starts, line).starts_with('#'); };
    for (project_entry& entry : project.entries) {
        const auto header = static_cast<std::size_t>(entry.line);
        if (header == 0 || header > last_line || !line_text(text, starts, header).starts_with("[["))
            continue; // an inline table
        const auto next = std::upper_bound(headers.begin(), headers.end(), header);
        std::size_t end = next == headers.end() ? last_line : *next - 1;
        if (next != headers.end())
            while (end > header && comment(end))
                --end;
        while (end > header && blank(end))
            --end;
        const auto previous = std::lower_bound(headers.begin(), headers.end(), header);
        const std::size_t floor = previous == headers.begin() ? 0 : *(previous - 1);
        std::size_t begin = header;
        while (begin - 1 > floor && comment(begin - 1))
            --begin;
        entry.block = {starts[begin - 1], starts[end]};
    }
}

} // namespace

fs::path project_folder(const skin_project& project)
{
    const fs::path folder = project.file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

fs::path source_path(const skin_project& project, const std::string& source)
{
    return project_folder(project) / path_from_utf8(source);
}

std::vector<std::string> project_entry_inputs(const project_entry& entry)
{
    std::vector<std::string> inputs = entry.sources;
    if (!entry.touch.empty())
        inputs.push_back(entry.touch);
    return inputs;
}

std::string entry_label(const project_entry& entry)
{
    const char* kind = entry.icon ? "icon" : "picture";
    return entry.name.empty() ? kind : std::string(kind) + " \"" + entry.name + "\"";
}

std::string slot_label(const skin_project& project, const project_slot& slot)
{
    return "\"" + printable(project.entries.at(slot.entry).name) + "\"" + frame_number(slot);
}

std::string frame_number(const project_slot& slot)
{
    std::string number; // appended piece by piece: 32-bit g++ 12 misjudges `" " + temporary` (-Wrestrict)
    if (slot.frame_count > 1)
        number.append(" ")
            .append(std::to_string(slot.frame + 1))
            .append("/")
            .append(std::to_string(slot.frame_count));
    return number;
}

namespace {

// The project file's bytes, into project.text; false, with the problem told, when it is missing,
// cannot be read or is UTF-16.
bool read_project_bytes(const fs::path& file, skin_project& project, problem_list& list,
                        const char* missing = "no such file (skinview init writes one for a skin folder)")
{
    const auto unreadable = [&](std::uint32_t line, const char* text) {
        report(list, line, problem_kind::unreadable, std::nullopt, text);
        return false;
    };
    std::error_code code;
    if (!fs::is_regular_file(file, code))
        return unreadable(0, fs::exists(file, code) ? "not a file" : missing);
    // A file that cannot be read (locked while a program saves it) must not pass for an empty one.
    const whole_file whole = read_whole_file(file);
    if (whole.outcome != read_outcome::read && (fs::file_size(file, code) != 0 || code))
        return unreadable(0, "cannot be read");
    const std::span<const std::uint8_t> bytes(whole.bytes.get(), static_cast<std::size_t>(whole.length));
    project.text.assign(bytes.begin(), bytes.end());
    // Notepad's "Unicode" is UTF-16: a byte-order mark, or a zero byte beside every ASCII letter.
    if (bytes.size() >= 2 &&
        (((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)) ||
         bytes[0] == 0 || bytes[1] == 0))
        return unreadable(1, "the file is UTF-16: save it as UTF-8");
    return true;
}

// The TOML document that project.text holds; nothing, with the syntax problem told, if none.
std::optional<toml::table> parse_document(const skin_project& project, problem_list& list)
{
    try {
        return toml::parse(project.text, utf8_from_path(project.file.lexically_normal()));
    } catch (const toml::parse_error& error) {
        report(list, error.source().begin.line, problem_kind::syntax, std::nullopt,
               std::string(error.description()));
        return std::nullopt;
    }
}

// The lines of the document's table headers ("[defaults]", "[[icon]]"), in order; an inline
// table has none.
std::vector<std::uint32_t> header_lines(const toml::table& document, std::string_view text,
                                        const std::vector<std::size_t>& starts)
{
    std::vector<std::uint32_t> headers;
    const auto add_header = [&](const toml::node& table) {
        const std::uint32_t at = table.source().begin.line;
        if (table.is_table() && at > 0 && at < starts.size() && line_text(text, starts, at).starts_with('['))
            headers.push_back(at);
    };
    for (const auto& [key, node] : document) {
        add_header(node);
        if (const toml::array* tables = node.as_array())
            for (const toml::node& table : *tables)
                add_header(table);
    }
    std::sort(headers.begin(), headers.end());
    return headers;
}

// One channel of [panel]: `count` whole numbers from 0 to 255, each above the one before.
void read_panel_channel(const toml::key& key, const toml::node& node, std::span<std::uint8_t> levels,
                        problem_list& list)
{
    const std::string where = "panel: " + std::string(key.str());
    const std::uint32_t line = key.source().begin.line;
    const toml::array* items = node.as_array();
    if (items == nullptr || !items->is_homogeneous(toml::node_type::integer)) {
        report(list, line, problem_kind::bad_value, std::nullopt,
               where + " must be a list of " + std::to_string(levels.size()) +
                   " whole numbers from 0 to 255");
        return;
    }
    if (items->size() != levels.size()) {
        report(list, line, problem_kind::bad_value, std::nullopt,
               where + " lists " + counted(items->size(), "level") + ": it takes " +
                   std::to_string(levels.size()) + ", from black up");
        return;
    }
    std::int64_t before = -1;
    for (std::size_t level = 0; level < levels.size(); ++level) {
        const toml::node& item = *items->get(level);
        const std::int64_t value = *item.value<std::int64_t>();
        const std::string said = where + " level " + std::to_string(level) + " is " + std::to_string(value);
        if (value < 0 || value > 255)
            report(list, item.source().begin.line, problem_kind::bad_value, std::nullopt,
                   said + ": a level is from 0 to 255");
        else if (value <= before)
            report(list, item.source().begin.line, problem_kind::bad_value, std::nullopt,
                   said + ", not above level " + std::to_string(level - 1) + " (" + std::to_string(before) +
                       "): the levels rise from black");
        else
            levels[level] = static_cast<std::uint8_t>(value);
        before = std::max(before, value);
    }
}

// The [panel] table: the colour each level shows, per channel; a channel left out keeps its
// standard levels.
void read_panel(const toml::node& node, panel_levels& panel, problem_list& list)
{
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        report(list, node.source().begin.line, problem_kind::bad_value, std::nullopt,
               "panel must be a table ([panel])");
        return;
    }
    for (const auto& [key, value] : *table) {
        if (key.str() == "red" || key.str() == "green" || key.str() == "blue")
            read_panel_channel(key, value,
                               key.str() == "red"     ? std::span<std::uint8_t>(panel.red)
                               : key.str() == "green" ? std::span<std::uint8_t>(panel.green)
                                                      : std::span<std::uint8_t>(panel.blue),
                               list);
        else
            report(list, key.source().begin.line, problem_kind::unknown_key, std::nullopt,
                   "panel: unknown key \"" + std::string(key.str()) + "\": the keys are red, green, blue");
    }
}

// The lists of [[picture]] and of [[icon]] tables; null where there is none.
struct series_lists {
    const toml::array* pictures = nullptr;
    const toml::array* icons = nullptr;
};

// The document's top level: [defaults] read into `project`, every other key but the two series
// told; gives the series' lists.
series_lists read_top_level(const toml::table& document, skin_project& project, problem_list& list)
{
    series_lists series;
    for (const auto& [key, node] : document) {
        const std::uint32_t line = key.source().begin.line;
        const std::string name(key.str());
        if (name == "defaults") {
            read_defaults(node, project, list);
        } else if (name == "panel") {
            read_panel(node, project.panel, list);
        } else if (name != "picture" && name != "icon") {
            report(list, line, problem_kind::unknown_key, std::nullopt,
                   "unknown key \"" + name + "\": the tables are [defaults], [panel], [[picture]], [[icon]]");
        } else if (node.as_array() == nullptr) {
            report(list, line, problem_kind::bad_value, std::nullopt,
                   name + " must be a list of tables ([[" + name + "]])");
        } else {
            (name == "icon" ? series.icons : series.pictures) = node.as_array();
        }
    }
    return series;
}

// One [[picture]] or [[icon]] table of the document.
struct entry_node {
    const toml::node* node = nullptr;
    bool icon = false;
};

// The tables of both series, in the order of their lines: each list is in that order already,
// so the two are merged.
std::vector<entry_node> in_line_order(const series_lists& series)
{
    static const toml::array none;
    const toml::array& pictures = series.pictures != nullptr ? *series.pictures : none;
    const toml::array& icons = series.icons != nullptr ? *series.icons : none;
    std::vector<entry_node> nodes;
    auto picture = pictures.begin();
    auto icon = icons.begin();
    while (picture != pictures.end() || icon != icons.end()) {
        const bool take_icon =
            picture == pictures.end() ||
            (icon != icons.end() && icon->source().begin.line <= picture->source().begin.line);
        nodes.push_back({take_icon ? &*icon++ : &*picture++, take_icon});
    }
    return nodes;
}

} // namespace

bool load_project(const fs::path& file, skin_project& project, std::vector<project_problem>& problems)
{
    project = {.file = file};
    problem_list list{file, {}};
    if (!read_project_bytes(file, project, list))
        return tell(list, problems);
    const std::optional<toml::table> document = parse_document(project, list);
    if (!document)
        return tell(list, problems);
    const std::vector<std::size_t> starts = line_starts(project.text);
    for (const entry_node& found : in_line_order(read_top_level(*document, project, list))) {
        project.entries.push_back(read_entry(*found.node, found.icon, project.entries.size(), list));
        if (const toml::table* table = found.node->as_table())
            place_keys(project.entries.back(), *table, project.text, starts);
    }
    place_blocks(project, header_lines(*document, project.text, starts), starts);
    check_names(project, list);
    check_sources(project, list);
    return tell(list, problems);
}

bool load_panel(const fs::path& file, std::optional<panel_levels>& panel,
                std::vector<project_problem>& problems)
{
    skin_project read{.file = file};
    problem_list list{file, {}};
    if (!read_project_bytes(file, read, list, "no such file"))
        return tell(list, problems);
    const std::optional<toml::table> document = parse_document(read, list);
    if (!document)
        return tell(list, problems);
    panel.reset();
    if (const toml::node* node = document->get("panel"))
        read_panel(*node, panel.emplace(standard_panel()), list);
    return tell(list, problems);
}

bool folder_panel(const fs::path& folder, panel_levels& panel, std::vector<project_problem>& problems)
{
    std::error_code error;
    const fs::path file = folder / project_file_name;
    std::optional<panel_levels> read;
    const bool fine = !fs::exists(fs::symlink_status(file, error)) || load_panel(file, read, problems);
    panel = read.value_or(standard_panel());
    return fine;
}

namespace {

// Whether the project file still holds `based_on`, or is still absent; only a file is ever read.
bool still_as(const fs::path& file, const std::optional<std::string>& based_on)
{
    std::error_code code;
    const fs::file_status status = fs::status(file, code);
    if (!based_on)
        return !fs::exists(fs::symlink_status(file, code));
    if (!fs::is_regular_file(status))
        return false;
    const whole_file whole = read_whole_file(file);
    const bool empty = whole.outcome == read_outcome::read_failed && fs::file_size(file, code) == 0 && !code;
    if (whole.outcome != read_outcome::read && !empty)
        return false;
    return std::string_view(reinterpret_cast<const char*>(whole.bytes.get()),
                            static_cast<std::size_t>(whole.length)) == *based_on;
}

} // namespace

project_save save_project_text(const fs::path& file, const std::optional<std::string>& based_on,
                               const std::string& text, const std::function<void()>& meanwhile)
{
    if (!still_as(file, based_on))
        return project_save::changed_meanwhile;
    const auto check = [&] {
        if (meanwhile)
            meanwhile();
        return still_as(file, based_on);
    };
    switch (replace_file_if(file, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, check)) {
    case save_outcome::saved:
        return project_save::saved;
    case save_outcome::declined:
        return project_save::changed_meanwhile;
    case save_outcome::cannot_create:
    case save_outcome::write_failed:
        break;
    }
    return project_save::cannot_write;
}

std::string project_text(const skin_project& project)
{
    std::string text =
        "# The skin's artwork in skin order: the n-th [[picture]] becomes bmp<n>.bmp, the n-th\n"
        "# [[icon]] icon<nn>.bmp. Build it with: skinview build\n\n[defaults]\n";
    text += "dither = " + quoted(dither_name(project.dither)) +
            "\nbackground = " + colour_text(project.background) + "\n";
    if (project.key)
        text += "key = " + colour_text(*project.key) + "\n";
    for (const project_entry& entry : project.entries) {
        text += std::string("\n[[") + (entry.icon ? "icon" : "picture") + "]]\nname = " + quoted(entry.name) +
                "\n";
        if (entry.sources.size() == 1) {
            text += "source = " + quoted(entry.sources.front()) + "\n";
        } else if (!entry.sources.empty()) {
            text += "source = [";
            for (std::size_t i = 0; i < entry.sources.size(); ++i)
                text += (i == 0 ? "" : ", ") + quoted(entry.sources[i]);
            text += "]\n";
        }
        if (entry.size != 0)
            text += "size = " + std::to_string(entry.size) + "\n";
        if (entry.dither)
            text += "dither = " + quoted(dither_name(*entry.dither)) + "\n";
        if (entry.background)
            text += "background = " + colour_text(*entry.background) + "\n";
        if (entry.key)
            text += "key = " + colour_text(*entry.key) + "\n";
        if (entry.as_is)
            text += "as_is = true\n";
        if (!entry.touch.empty())
            text += "touch = " + quoted(entry.touch) + "\n";
    }
    return text;
}

namespace {

// The value of every key an entry's table may hold, as project_text writes it; "" when the key
// is left out.
std::map<std::string, std::string> key_values(const project_entry& entry)
{
    std::string sources;
    for (const std::string& source : entry.sources)
        sources += (sources.empty() ? "" : ", ") + quoted(source);
    return {{"name", quoted(entry.name)},
            {"source", entry.sources.empty()       ? ""
                       : entry.sources.size() == 1 ? quoted(entry.sources.front())
                                                   : "[" + sources + "]"},
            {"size", entry.size != 0 ? std::to_string(entry.size) : ""},
            {"dither", entry.dither ? quoted(dither_name(*entry.dither)) : ""},
            {"background", entry.background ? colour_text(*entry.background) : ""},
            {"key", entry.key ? colour_text(*entry.key) : ""},
            {"as_is", entry.as_is ? "true" : ""},
            {"touch", entry.touch.empty() ? "" : quoted(entry.touch)}};
}

// A new entry's table, as project_text writes one.
std::string entry_table(const project_entry& entry)
{
    std::string text = std::string("[[") + (entry.icon ? "icon" : "picture") + "]]\n";
    for (const char* key : {"name", "source", "size", "dither", "background", "key", "as_is", "touch"})
        if (const std::string value = key_values(entry).at(key); !value.empty())
            text += std::string(key) + " = " + value + "\n";
    return text;
}

// The block of `was`, as written in `text`, with the values that `now` changes rewritten.
std::string edited_block(std::string_view text, const project_entry& was, const project_entry& now)
{
    struct change {
        text_span span;
        std::string with;
    };
    std::vector<change> changes;
    const std::map<std::string, std::string> before = key_values(was);
    std::size_t after_keys = text.find('\n', was.block.begin); // the header's line, when no key follows
    after_keys = after_keys == std::string_view::npos ? was.block.end : after_keys + 1;
    for (const auto& [key, place] : was.keys)
        if (place.lines.end <= was.block.end)
            after_keys = std::max(after_keys, place.lines.end);
    for (const auto& [key, value] : key_values(now)) {
        if (value == before.at(key))
            continue;
        const auto place = was.keys.find(key);
        if (place == was.keys.end())
            changes.push_back({{after_keys, after_keys}, key + " = " + value + "\n"});
        else if (value.empty())
            changes.push_back({place->second.lines, ""});
        else
            changes.push_back({place->second.value, value});
    }
    if (was.icon != now.icon) { // moved to the other series: its header names it
        // The header is the block's first line that is not a comment (the loader placed the
        // block only where it found one), and it holds the series' name.
        std::size_t header = was.block.begin;
        for (std::size_t first = text.find_first_not_of(" \t", header);
             first < was.block.end && text[first] == '#'; first = text.find_first_not_of(" \t", header))
            header = text.find('\n', first) + 1;
        const std::string_view series = was.icon ? "icon" : "picture";
        const std::size_t name = text.find(series, header);
        changes.push_back({{name, name + series.size()}, now.icon ? "icon" : "picture"});
    }
    std::sort(changes.begin(), changes.end(),
              [](const change& a, const change& b) { return a.span.begin > b.span.begin; });
    std::string block(text.substr(was.block.begin, was.block.end - was.block.begin));
    for (const change& c : changes)
        block.replace(c.span.begin - was.block.begin, c.span.end - c.span.begin, c.with);
    return block;
}

// Whether a stretch of text holds nothing but blanks.
bool all_blank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

} // namespace

std::optional<std::string> edited_text(const skin_project& loaded, const skin_project& edited)
{
    const std::string_view text = loaded.text;
    const auto placed = [](const project_entry& entry) { return entry.block.end != 0; };
    if (!std::all_of(loaded.entries.begin(), loaded.entries.end(), placed))
        return std::nullopt;
    std::vector<const project_entry*> kept;  // in their new order
    std::vector<const project_entry*> added; // after every kept one
    for (const project_entry& entry : edited.entries) {
        if (!placed(entry)) {
            added.push_back(&entry);
            continue;
        }
        if (!added.empty())
            return std::nullopt; // a new entry among the old ones: no edit makes one
        kept.push_back(&entry);
    }
    // Each kept entry takes the place of the n-th entry as loaded; places left over go, with
    // the blank lines before them.
    std::string out;
    std::size_t at = 0;
    for (std::size_t n = 0; n < loaded.entries.size(); ++n) {
        const project_entry& slot = loaded.entries[n];
        const std::string_view gap = text.substr(at, slot.block.begin - at);
        at = slot.block.end;
        if (n >= kept.size()) {
            if (!all_blank(gap) || n == 0)
                out += gap;
            continue;
        }
        out += gap;
        const auto was =
            std::find_if(loaded.entries.begin(), loaded.entries.end(),
                         [&](const project_entry& e) { return e.block.begin == kept[n]->block.begin; });
        if (was == loaded.entries.end())
            return std::nullopt;
        out += edited_block(text, *was, *kept[n]);
    }
    out += text.substr(at);
    for (const project_entry* entry : added) {
        if (!out.empty() && !out.ends_with('\n'))
            out += '\n';
        out += (out.empty() ? "" : "\n") + entry_table(*entry);
    }
    return out;
}
