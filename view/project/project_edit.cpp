// The page's changes of a project in memory; skin.toml is written from the result by edited_text.
#include "view/project/project_edit.h"

#include <utility>

#include "support/free_name.h"
#include "view/project/c_name.h"

namespace {

// Why `name` may not name entry `except` (or, with `except` past the last, a new one): it gives no
// C name, or another entry's. Empty when it may.
std::string name_problem(const skin_project& project, const std::string& name, std::size_t except)
{
    if (!is_c_identifier(c_name(name)))
        return "\"" + name + "\" gives no C name: use " + c_name_advice;
    for (std::size_t e = 0; e < project.entries.size(); ++e)
        if (e != except && c_name(project.entries[e].name) == c_name(name))
            return "\"" + name + "\" is taken by " +
                   std::string(project.entries[e].icon ? "icon" : "picture") + " \"" +
                   project.entries[e].name + "\"";
    return {};
}

} // namespace

bool rename_entry(skin_project& project, std::size_t entry, const std::string& name, std::string& problem)
{
    problem = name_problem(project, name, entry);
    if (problem.empty())
        project.entries[entry].name = name;
    return problem.empty();
}

void move_entry(skin_project& project, std::size_t from, std::size_t to, std::optional<bool> icon)
{
    project_entry moved = std::move(project.entries[from]);
    moved.icon = icon.value_or(moved.icon);
    project.entries.erase(project.entries.begin() + static_cast<std::ptrdiff_t>(from));
    project.entries.insert(project.entries.begin() + static_cast<std::ptrdiff_t>(to), std::move(moved));
}

void remove_entry(skin_project& project, std::size_t entry)
{
    project.entries.erase(project.entries.begin() + static_cast<std::ptrdiff_t>(entry));
}

void set_options(project_entry& entry, const entry_options& options)
{
    if (options.dither)
        entry.dither = *options.dither;
    if (options.background)
        entry.background = *options.background;
}

void set_source(project_entry& entry, const std::string& source)
{
    entry.sources = {source};
    entry.as_is = false;
}

void add_entry(skin_project& project, bool icon, const std::string& base, const std::string& source)
{
    // With every name taken, the clash is told when the project is built.
    const std::optional<free_name> free =
        find_free_name({.plain = base, .before = base + "_"}, [&](const std::string& name) {
            return name_problem(project, name, project.entries.size()).empty();
        });
    const std::string name = free ? free->name : base;
    project.entries.push_back({.name = name, .icon = icon, .sources = {source}});
}
