// Finding a name that is not taken yet: "battery.png", then "battery-2.png", "battery-3.png"...
#pragma once

#include <functional>
#include <optional>
#include <string>

// The names to try, in order: `plain` (unless empty), then before + n + after for n from `first`.
struct name_series {
    std::string plain;
    std::string before;
    std::string after;
    int first = 2;
};

struct free_name {
    std::string name;
    int number = 0; // the n that it carries; 0 for the plain name
};

// How many names are tried before giving up: a folder that holds that many is not waited for.
inline constexpr int max_name_tries = 1000;

// The first name of `series` that `usable` takes; nothing when none of the first max_name_tries does.
std::optional<free_name> find_free_name(const name_series& series,
                                        const std::function<bool(const std::string&)>& usable);
