// A problem of a skin project as a value: where it is, which entry it concerns, what kind it is,
// and its words; made into the line users read by one formatter, at the edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

enum class problem_kind : std::uint8_t {
    unreadable,         // the project file: missing, no file, unreadable or UTF-16; nothing else is read
    syntax,             // the project file is no TOML; nothing else is read
    unknown_key,        // a key or table that the project file has no use for
    bad_value,          // a value of the wrong type or out of range, or keys that exclude each other
    missing_key,        // an entry without its name or source
    bad_name,           // a name that gives no C name
    name_clash,         // a name whose macros another entry's or numbered image's would be too
    missing_source,     // a source that is not there, or is no file
    unreadable_source,  // a source that is there but cannot be read
    undecodable_source, // a source whose bytes are no image that can be converted
    wrong_image,        // an image that the entry cannot take: a refused BMP, frames of different sides
    no_images,          // the project lists nothing to build
    too_large,          // the skin would be larger than skinpack takes
    in_the_way,         // an output that build may not replace or remove
    cannot_write,       // an output that could not be written or removed
};

struct project_problem {
    std::filesystem::path file;       // the project file, or the output concerned
    int line = 0;                     // in `file`, from 1; 0: none
    std::optional<std::size_t> entry; // index into skin_project::entries, when it concerns one
    problem_kind kind = problem_kind::bad_value;
    std::string text; // what is wrong, with the entry named: `icon "a": ...`
};

// The line users read: "skin.toml:14: icon \"battery\": art/battery.png: no such file". The file is
// named relative to `folder` when given and it lies inside, else as given; the line is printable.
std::string problem_line(const project_problem& problem, const std::filesystem::path& folder = {});
