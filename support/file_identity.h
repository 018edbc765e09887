// Which file a path names, however it is spelt: another case where the file system ignores case,
// a link, "." and ".." all give the same identity, so that a build looks each file up once.
#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>

// The volume (device) and the file's number on it.
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    auto operator<=>(const file_identity&) const = default;
};

// The identity of the file that `path` names, links followed; nothing when there is none.
std::optional<file_identity> identity_of(const std::filesystem::path& path);
