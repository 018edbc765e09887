// Who owns each path in the output folder that skinview build would write or remove, and what
// build does there. What is at the path is one of:
//   absent                nothing: build writes it
//   ours, unchanged       in the build record with the bytes it holds now, through a link too:
//                         build replaces or removes it; while its size and time are the ones the
//                         record stamped it with, it is known to hold them without being read
//   ours, changed since   in the record but its bytes changed: only with --force
//   someone else's        a file, or a link to one, that build did not write: only with --force
//   a source              of any entry, however spelt or linked to: never, not even with --force
//   not a regular file    a folder, FIFO, device or socket, or a link to one: never, and never
//                         opened, so that nothing hangs
//   a link to nothing     never: writing would create its target, wherever it points
// In the studio's inside-only mode a link out of the output folder is never written through.
// An output that already holds the bytes build would write is left as it is and is build's from
// then on. The record, the depfile and the stamp are build's by their names alone: only what is
// no regular file, a link to nothing or (inside-only) a link out of the folder stands in their
// way, --force or not. Whatever build may not touch is told, and then build changes nothing.
#include "view/project/output_owner.h"

#include <algorithm>
#include <set>

#include "skin/skin.h"
#include "support/file_identity.h"
#include "support/file_io.h"
#include "view/common/checksum.h"

namespace fs = std::filesystem;

const disk_file* on_disk(disk_files& disk, const build_record& last, const fs::path& out,
                         const std::string& name, bool bytes)
{
    auto [at, fresh] = disk.try_emplace(name);
    if (fresh) {
        if (const std::optional<file_stamp> stamp = output_stamp_of(out / name)) {
            const auto stamped = last.stamps.find(name);
            const auto known = last.files.find(name);
            const bool vouched =
                stamped != last.stamps.end() && known != last.files.end() && stamped->second == *stamp;
            at->second = disk_file{.stamp = *stamp, .vouched = vouched, .hash = vouched ? known->second : 0};
        }
    }
    disk_file* file = at->second ? &*at->second : nullptr;
    if (file != nullptr && !file->read_yet && (bytes || !file->vouched)) {
        file->read = read_whole_file(out / name);
        file->read_yet = true;
        if (file->read.outcome != read_outcome::read)
            file->read.length = 0;
        if (!file->vouched)
            file->hash = content_hash(bytes_of(*file));
    }
    return file;
}

std::span<const std::uint8_t> bytes_of(const disk_file& file)
{
    return {file.read.bytes.get(), static_cast<std::size_t>(file.read.length)};
}

namespace {

// The entry whose source is the file at `path`, however it is spelt: another case on a file system
// that ignores case, or a link, still names the same file.
const project_entry* source_at(const source_files& sources, const fs::path& path)
{
    const std::optional<file_identity> identity = identity_of(path);
    const auto found = identity ? sources.find(*identity) : sources.end();
    return found != sources.end() ? found->second : nullptr;
}

// What kind of directory entry a path names, looked at without opening it.
enum class entry_kind : std::uint8_t { absent, file, not_a_file, link, dangling_link };

// The kind of `path`; a link is looked through to its final target, given in `target`.
entry_kind kind_of(const fs::path& path, fs::path& target)
{
    std::error_code code;
    const fs::file_status own = fs::symlink_status(path, code);
    if (!fs::exists(own))
        return entry_kind::absent;
    if (!fs::is_symlink(own))
        return fs::is_regular_file(own) ? entry_kind::file : entry_kind::not_a_file;
    const fs::file_status end = fs::status(path, code);
    if (!fs::exists(end))
        return entry_kind::dangling_link;
    target = fs::canonical(path, code);
    return fs::is_regular_file(end) && !code ? entry_kind::link : entry_kind::not_a_file;
}

// Whether `path` lies inside `folder` (both as the file system resolves them).
bool lies_inside(const fs::path& path, const fs::path& folder)
{
    std::error_code code;
    const fs::path base = fs::weakly_canonical(folder, code);
    const fs::path relative = fs::weakly_canonical(path, code).lexically_relative(base);
    return !code && !relative.empty() && *relative.begin() != "..";
}

// Who a path that build would write or remove belongs to.
enum class path_owner : std::uint8_t {
    absent,
    ours,          // in build's record, and unchanged since (through a link too)
    ours_changed,  // in build's record, changed since
    foreign,       // a file that build did not write
    source,        // a source of the project, under whatever name
    not_a_file,    // a folder, FIFO, device or socket: never opened, so nothing can hang
    link,          // a link to a file that build did not write
    dangling_link, // a link to nothing: writing would create its target, wherever it points
    outside,       // a link out of the folder, where inside_only forbids writing
};

// What is at a path build would write or remove; build decides from this alone.
struct in_the_way {
    path_owner owner = path_owner::absent;
    const project_entry* source = nullptr; // for path_owner::source
    bool folder = false;                   // for path_owner::not_a_file
};

// What kind of entry is at `path`, for the files that build owns by their name alone (the record,
// the depfile): only what is no file, or a link to nothing, is in the way.
in_the_way kind_owner(const fs::path& path, entry_kind& kind, fs::path& target)
{
    kind = kind_of(path, target);
    std::error_code code;
    if (kind == entry_kind::not_a_file)
        return {.owner = path_owner::not_a_file, .folder = fs::is_directory(path, code)};
    if (kind == entry_kind::dangling_link)
        return {.owner = path_owner::dangling_link};
    return {};
}

// What is in the way of the record or the depfile, build's by their names: something that is no
// file, a link to nothing, or (for inside_only) a link out of the output folder.
in_the_way fixed_owner(const fs::path& path, const build_options& options, const fs::path& out)
{
    fs::path target;
    entry_kind kind = entry_kind::absent;
    const in_the_way found = kind_owner(path, kind, target);
    if (kind == entry_kind::link && options.inside_only && !lies_inside(target, out))
        return {.owner = path_owner::outside};
    return found;
}

// Who owns what is at `name` in the output folder.
in_the_way what_is_at(output_folder& folder, const std::string& name)
{
    const fs::path path = folder.out / name;
    fs::path target;
    entry_kind kind = entry_kind::absent;
    if (const in_the_way found = kind_owner(path, kind, target);
        found.owner != path_owner::absent || kind == entry_kind::absent)
        return found;
    if (const project_entry* source = source_at(folder.sources, path))
        return {.owner = path_owner::source, .source = source};
    if (kind == entry_kind::link && folder.options.inside_only && !lies_inside(target, folder.out))
        return {.owner = path_owner::outside};
    const disk_file* now = on_disk(folder.disk, folder.last, folder.out, name, false);
    const auto known = folder.last.files.find(name);
    const bool ours = now != nullptr && known != folder.last.files.end() && known->second == now->hash;
    if (kind == entry_kind::link)
        return {.owner = ours ? path_owner::ours : path_owner::link};
    if (known == folder.last.files.end())
        return {.owner = path_owner::foreign};
    return {.owner = ours ? path_owner::ours : path_owner::ours_changed};
}

// Whether build may replace (or remove) what is there.
bool may_touch(const in_the_way& found, bool force)
{
    switch (found.owner) {
    case path_owner::absent:
    case path_owner::ours:
        return true;
    case path_owner::ours_changed:
    case path_owner::foreign:
    case path_owner::link:
        return force;
    case path_owner::source:
    case path_owner::not_a_file:
    case path_owner::dangling_link:
    case path_owner::outside:
        return false;
    }
    return false;
}

// Why build leaves `path` alone: "WHAT[, and skinpack would read it WHY]: WHAT TO DO".
std::string refusal_text(const in_the_way& found, bool removing, const char* why)
{
    const std::string reads = removing ? std::string(", and skinpack would read it ") + why : std::string();
    const std::string give_force =
        std::string(": move it away, or give --force to ") + (removing ? "remove it" : "replace it");
    switch (found.owner) {
    case path_owner::absent:
    case path_owner::ours:
        return {};
    case path_owner::ours_changed:
        return "changed since skinview build wrote it" + reads + give_force;
    case path_owner::foreign:
        return "not written by skinview build" + reads + give_force;
    case path_owner::link:
        return "a link to a file that skinview build did not write" + reads + give_force;
    case path_owner::source:
        return "is the source of " + entry_label(*found.source) + reads +
               (removing ? ": move it elsewhere" : ": move that source elsewhere and name it there first");
    case path_owner::not_a_file:
        return (found.folder ? "is a folder" : "not a regular file") + reads + ": move it away";
    case path_owner::dangling_link:
        return "a link to nothing" + reads + ": build makes no file through it: remove the link";
    case path_owner::outside:
        return "a link out of the project folder" + reads +
               ": the studio writes nothing outside it: remove the link";
    }
    return {};
}

// That build leaves `path` alone, and why.
void refuse(std::vector<project_problem>& problems, const fs::path& path, const in_the_way& found,
            bool removing, const char* why)
{
    problems.push_back(
        {.file = path, .kind = problem_kind::in_the_way, .text = refusal_text(found, removing, why)});
}

} // namespace

source_files source_identities(const skin_project& project)
{
    source_files sources;
    for (const project_entry& entry : project.entries)
        for (const std::string& source : project_entry_inputs(entry))
            if (const std::optional<file_identity> identity = identity_of(source_path(project, source)))
                sources.emplace(*identity, &entry);
    return sources;
}

bool check_fixed(const fs::path& path, const build_options& options, const fs::path& out,
                 std::vector<project_problem>& problems)
{
    const in_the_way found = fixed_owner(path, options, out);
    if (found.owner == path_owner::absent)
        return true;
    refuse(problems, path, found, false, "");
    return false;
}

output_check check_output(output_folder& folder, const std::string& name, std::span<const std::uint8_t> bytes,
                          std::uint64_t hash)
{
    const in_the_way found = what_is_at(folder, name);
    const bool readable = found.owner != path_owner::not_a_file && found.owner != path_owner::dangling_link;
    const disk_file* now = readable ? on_disk(folder.disk, folder.last, folder.out, name, false) : nullptr;
    // A file that its stamp vouches for is known by its hash alone; any other, byte for byte.
    if (now != nullptr && (now->vouched ? now->hash == hash : std::ranges::equal(bytes_of(*now), bytes)))
        return output_check::unchanged;
    if (!may_touch(found, folder.options.force)) {
        refuse(folder.problems, folder.out / name, found, false, "");
        return output_check::refused;
    }
    return output_check::write;
}

std::vector<std::string> plan_removals(output_folder& folder, const skin_contents& contents)
{
    std::set<std::string> needed;
    unsigned pictures = 0;
    unsigned icons = 0;
    for (const image_place& image : contents.images) {
        needed.insert(image.file_name);
        ++(image.icon ? icons : pictures);
    }
    std::vector<std::string> removals;
    const auto remove = [&](const std::string& name, const char* why) {
        const in_the_way found = what_is_at(folder, name);
        if (found.owner == path_owner::absent)
            return;
        if (may_touch(found, folder.options.force))
            removals.push_back(name);
        else
            refuse(folder.problems, folder.out / name, found, true, why);
    };
    for (const auto& [name, hash] : folder.last.files)
        if (name.ends_with(".bmp") && !needed.contains(name))
            remove(name, "as part of the skin");
    for (const auto& [icon, next] : {std::pair{false, pictures}, std::pair{true, icons}}) {
        const std::string name = numbered_name(icon, next);
        if (!folder.last.files.contains(name))
            remove(name, "after the project's last image");
    }
    return removals;
}
