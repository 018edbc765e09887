// A stamp of each input, and the settle rule that both watchers follow.
#include "view/project/watch.h"

#include <cstdio>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Whether the file opens for reading now: permissions, ACLs and Windows locks all count.
bool opens_for_reading(const fs::path& path)
{
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

} // namespace

input_stamp stamp_of(const fs::path& path)
{
    input_stamp stamp;
    std::error_code code;
    stamp.kind = fs::status(path, code).type();
    if (code || stamp.kind == fs::file_type::not_found)
        return {};
    stamp.time = fs::last_write_time(path, code);
    if (stamp.kind == fs::file_type::regular) {
        stamp.size = fs::file_size(path, code);
        stamp.size = code ? 0 : stamp.size;
        stamp.readable = opens_for_reading(path);
    }
    return stamp;
}

input_stamps stamps_of(const std::vector<fs::path>& paths)
{
    input_stamps stamps;
    for (const fs::path& path : paths)
        stamps[path] = stamp_of(path);
    return stamps;
}

std::vector<fs::path> project_inputs(const skin_project& project)
{
    std::vector<fs::path> inputs{project.file};
    for (const project_entry& entry : project.entries)
        for (const std::string& source : project_entry_inputs(entry))
            inputs.push_back(source_path(project, source));
    return inputs;
}

std::vector<fs::path> inputs_to_watch(const skin_project& project, bool loaded, std::vector<fs::path> before)
{
    // A project file that is no TOML at all names no source: the last ones stay followed.
    if (loaded || !project.entries.empty() || before.empty())
        return project_inputs(project);
    return before;
}

watch_step watch_next(watch_state& watch, input_stamps now)
{
    if (watch.settling_looks == 0) {
        if (now == watch.built)
            return watch_step::unchanged;
        watch.seen = std::move(now);
        watch.settling_looks = 1;
        return watch_step::settling;
    }
    // A save still going on shows as a further change: wait until one look sees none.
    if (now != watch.seen && watch.settling_looks < watch_settle_limit) {
        watch.seen = std::move(now);
        ++watch.settling_looks;
        return watch_step::settling;
    }
    watch.seen = std::move(now);
    watch.settling_looks = 0;
    // A change undone meanwhile leaves nothing to build.
    return watch.seen == watch.built ? watch_step::unchanged : watch_step::settled;
}

watch_step watch_look(watch_state& watch)
{
    return watch_next(watch, stamps_of(watch.inputs));
}

std::vector<fs::path> changed_inputs(const watch_state& watch)
{
    std::vector<fs::path> changed;
    for (const auto& [path, stamp] : watch.seen) {
        const auto built = watch.built.find(path);
        if (built == watch.built.end() || built->second != stamp)
            changed.push_back(path);
    }
    return changed;
}

void watch_built(watch_state& watch, std::vector<fs::path> inputs)
{
    watch.built = stamps_of(inputs);
    watch.inputs = std::move(inputs);
    watch.seen.clear();
    watch.settling_looks = 0;
}
