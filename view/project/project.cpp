// The project file: skin.toml read and checked with toml++, and written back.
#include "view/project/project.h"
#include "skin/colour_332.h"
#include "skin/skin.h"
#include "support/file_io.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "view/common/convert.h"
#include "view/common/skin_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* entry_keys = "name, source, size, dither, background, as_is";

// The problems of one file, told in the order of their lines once all are found.
struct problem_list {
    std::string shown; // the project file as messages name it
    std::vector<std::pair<std::uint32_t, std::string>> found;
};

void report(problem_list& problems, std::uint32_t line, const std::string& text)
{
    problems.found.emplace_back(line, text);
}

// Each problem as "FILE:LINE: TEXT", by line; false if there was any.
bool tell(problem_list& problems, std::vector<std::string>& lines)
{
    std::stable_sort(problems.found.begin(), problems.found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [line, text] : problems.found)
        lines.push_back(problems.shown + ":" + std::to_string(line) + ": " + text);
    return problems.found.empty();
}

constexpr const char* not_a_c_name =
    ": the name must give a C name: letters, digits, '_', '-' or ' ', not a digit first";

constexpr const char* dither_choices = "must be \"none\", \"floyd-steinberg\" or \"ordered\"";
constexpr const char* colour_choice = "must be a colour written \"#RRGGBB\"";

// Reads the dither and background keys that [defaults] and every entry may hold; false if
// `key` is neither.
bool read_look(const toml::key& key, const toml::node& node, std::optional<dither_method>& dither,
               std::optional<rgb_colour>& background, const std::string& where, problem_list& problems)
{
    const std::uint32_t line = key.source().begin.line;
    if (key.str() == "dither") {
        const std::optional<std::string> text = node.is_string() ? node.value<std::string>() : std::nullopt;
        dither = text ? parse_dither(*text) : std::nullopt;
        if (!dither)
            report(problems, line, where + "dither " + dither_choices);
        return true;
    }
    if (key.str() == "background") {
        const std::optional<std::string> text = node.value<std::string>();
        rgb_colour colour{};
        if (node.is_string() && text && parse_colour(*text, colour))
            background = colour;
        else
            report(problems, line, where + "background " + colour_choice);
        return true;
    }
    return false;
}

// The [defaults] table.
void read_defaults(const toml::node& node, skin_project& project, problem_list& problems)
{
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        report(problems, node.source().begin.line, "defaults must be a table ([defaults])");
        return;
    }
    std::optional<dither_method> dither;
    std::optional<rgb_colour> background;
    for (const auto& [key, value] : *table)
        if (!read_look(key, value, dither, background, "defaults: ", problems))
            report(problems, key.source().begin.line,
                   "defaults: unknown key \"" + std::string(key.str()) +
                       "\": the keys are dither, background");
    project.dither = dither.value_or(project.dither);
    project.background = background.value_or(project.background);
}

// The entry's sources as written: one path, or a list of them for frames.
void read_sources(const toml::node& node, project_entry& entry, std::uint32_t line, problem_list& problems)
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
        report(problems, line, entry_label(entry) + ": source must be a path or a list of paths");
    else if (entry.sources.empty())
        report(problems, line, entry_label(entry) + ": source lists no frames");
}

// One [[picture]] or [[icon]] table, every key checked.
project_entry read_entry(const toml::node& node, bool icon, problem_list& problems)
{
    project_entry entry{.icon = icon, .line = static_cast<int>(node.source().begin.line)};
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        report(problems, node.source().begin.line,
               std::string(icon ? "icon" : "picture") + " must be a table ([[" + (icon ? "icon" : "picture") +
                   "]])");
        return entry;
    }
    const toml::node* name = table->get("name");
    if (name != nullptr && name->is_string())
        entry.name = *name->value<std::string>();
    const std::string where = entry_label(entry) + ": ";
    if (name != nullptr && name->is_string() && entry.name.empty())
        report(problems, name->source().begin.line, entry_label(entry) + not_a_c_name);
    bool has_source = false;
    bool look = false; // a key that as_is leaves no room for
    for (const auto& [key, value] : *table) {
        const std::uint32_t line = key.source().begin.line;
        if (key.str() == "name") {
            if (!value.is_string())
                report(problems, line, where + "name must be a string");
        } else if (key.str() == "source") {
            has_source = true;
            read_sources(value, entry, line, problems);
        } else if (key.str() == "size") {
            const std::optional<std::int64_t> size =
                value.is_integer() ? value.value<std::int64_t>() : std::nullopt;
            look = true;
            if (size == 16 || size == 128)
                entry.size = static_cast<int>(*size);
            else
                report(problems, line, where + "size must be 16 or 128");
        } else if (key.str() == "as_is") {
            if (value.is_boolean())
                entry.as_is = *value.value<bool>();
            else
                report(problems, line, where + "as_is must be true or false");
        } else if (read_look(key, value, entry.dither, entry.background, where, problems)) {
            look = true;
        } else {
            report(problems, line,
                   where + "unknown key \"" + std::string(key.str()) + "\": the keys are " + entry_keys);
        }
    }
    const auto line = static_cast<std::uint32_t>(entry.line);
    if (name == nullptr)
        report(problems, line, where + "has no name: add name = \"...\"");
    if (!has_source)
        report(problems, line, where + "has no source: add source = \"PATH\"");
    if (entry.as_is && look)
        report(problems, line,
               where + "as_is takes the BMP as it is: size, dither and background do not apply");
    return entry;
}

// Names that are no C name, and two names with one C name.
void check_names(const skin_project& project, problem_list& problems)
{
    std::map<std::string, const project_entry*> taken;
    for (const project_entry& entry : project.entries) {
        if (entry.name.empty())
            continue;
        const std::string name = c_name(entry.name);
        const auto line = static_cast<std::uint32_t>(entry.line);
        if (!is_c_identifier(name)) {
            report(problems, line, entry_label(entry) + not_a_c_name);
            continue;
        }
        const auto [other, fresh] = taken.emplace(name, &entry);
        if (!fresh)
            report(problems, line,
                   entry_label(entry) + ": its C name " + name + " is also that of " +
                       entry_label(*other->second) + " (line " + std::to_string(other->second->line) + ")");
    }
}

// Sources that are missing or not files; what they hold is judged when they are built.
void check_sources(const skin_project& project, problem_list& problems)
{
    for (const project_entry& entry : project.entries)
        for (const std::string& source : entry.sources) {
            std::error_code code;
            const fs::path path = source_path(project, source);
            if (!fs::is_regular_file(path, code))
                report(problems, static_cast<std::uint32_t>(entry.line),
                       entry_label(entry) + ": " + source + ": " +
                           (fs::exists(path, code) ? "not a file" : "no such file"));
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

} // namespace

// ASCII letters, digits and '_', not a digit first.
bool is_c_identifier(const std::string& name)
{
    return !name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) == 0 &&
           std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return c < 0x80 && (c == '_' || std::isalnum(c) != 0); });
}

const char* dither_name(dither_method method)
{
    switch (method) {
    case dither_method::none:
        return "none";
    case dither_method::floyd_steinberg:
        return "floyd-steinberg";
    case dither_method::ordered:
        return "ordered";
    }
    return "none";
}

std::optional<dither_method> parse_dither(const std::string& name)
{
    for (const dither_method method :
         {dither_method::none, dither_method::floyd_steinberg, dither_method::ordered})
        if (name == dither_name(method))
            return method;
    return std::nullopt;
}

std::string c_name(const std::string& name)
{
    std::string result = name;
    for (char& c : result)
        c = c == '-' || c == ' ' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

fs::path project_folder(const skin_project& project)
{
    const fs::path folder = project.file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

fs::path source_path(const skin_project& project, const std::string& source)
{
    return project_folder(project) / fs::path(std::u8string(source.begin(), source.end()));
}

std::string entry_label(const project_entry& entry)
{
    const char* kind = entry.icon ? "icon" : "picture";
    return entry.name.empty() ? kind : std::string(kind) + " \"" + entry.name + "\"";
}

bool load_project(const fs::path& file, skin_project& project, std::vector<std::string>& problems)
{
    project = {.file = file};
    problem_list list{file.lexically_normal().string(), {}};
    std::error_code code;
    if (!fs::is_regular_file(file, code)) {
        problems.push_back(list.shown +
                           (fs::exists(file, code)
                                ? ": not a file"
                                : ": no such file (skinview init writes one for a skin folder)"));
        return false;
    }
    // A file that cannot be read (locked while a program saves it) must not pass for an empty one.
    const whole_file whole = read_whole_file(file);
    if (whole.outcome != read_outcome::read && (fs::file_size(file, code) != 0 || code)) {
        problems.push_back(list.shown + ": cannot be read");
        return false;
    }
    const std::span<const std::uint8_t> bytes(whole.bytes.get(), static_cast<std::size_t>(whole.length));
    project.text.assign(bytes.begin(), bytes.end());
    toml::table document;
    try {
        document = toml::parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                               list.shown);
    } catch (const toml::parse_error& error) {
        report(list, error.source().begin.line, std::string(error.description()));
        return tell(list, problems);
    }
    for (const auto& [key, node] : document) {
        const std::uint32_t line = key.source().begin.line;
        if (key.str() == "defaults") {
            read_defaults(node, project, list);
            continue;
        }
        const bool icon = key.str() == "icon";
        if (!icon && key.str() != "picture") {
            report(list, line,
                   "unknown key \"" + std::string(key.str()) +
                       "\": the tables are [defaults], [[picture]], [[icon]]");
            continue;
        }
        const toml::array* entries = node.as_array();
        if (entries == nullptr) {
            report(list, line,
                   std::string(key.str()) + " must be a list of tables ([[" + std::string(key.str()) + "]])");
            continue;
        }
        for (const toml::node& entry : *entries)
            project.entries.push_back(read_entry(entry, icon, list));
    }
    std::stable_sort(project.entries.begin(), project.entries.end(),
                     [](const project_entry& a, const project_entry& b) { return a.line < b.line; });
    check_names(project, list);
    check_sources(project, list);
    return tell(list, problems);
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
    for (const project_entry& entry : project.entries) {
        text += std::string("\n[[") + (entry.icon ? "icon" : "picture") + "]]\nname = " + quoted(entry.name) +
                "\n";
        if (entry.sources.size() == 1) {
            text += "source = " + quoted(entry.sources.front()) + "\n";
        } else {
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
        if (entry.as_is)
            text += "as_is = true\n";
    }
    return text;
}
