// Skin assembly: walks both numbered series, converts each image and writes the skin file.
#include "skin/skin.h"

#include <algorithm>
#include <cstdio>

#include "skin/bitmap.h"
#include "support/fatal.h"

namespace {

// Appends the images named by `pattern` and indices 0, 1, 2, ... up to the first that is
// missing; a gap in the numbering ends the series, a file that cannot be read ends the program.
void append_series(skin_buffer& skin, const char* pattern)
{
    for (std::uint32_t index = 0;; ++index) {
        series_member member = read_series_member({}, pattern, index);
        std::int32_t length = 0;
        byte_buffer file = loaded_or_die(std::move(member.file), member.name.c_str(), &length);
        if (!file)
            return;
        const byte_buffer block = convert_bitmap(std::move(file), length, member.name.c_str());
        append_block(skin, {block.get(), static_cast<std::size_t>(length)});
    }
}

} // namespace

std::string series_name(const char* pattern, std::uint32_t index)
{
    char name[20]; // fits "icon4294967295.bmp"
    std::snprintf(name, sizeof name, pattern, index);
    return name;
}

std::string numbered_name(bool icon, std::uint32_t index)
{
    return series_name(icon ? icon_pattern : picture_pattern, index);
}

series_member read_series_member(const std::filesystem::path& folder, const char* pattern,
                                 std::uint32_t index)
{
    series_member member{.name = series_name(pattern, index)};
    member.file = read_whole_file(folder / member.name);
    return member;
}

void append_block(skin_buffer& skin, std::span<const std::uint8_t> block)
{
    if (block.size() > max_buffer_length - static_cast<std::size_t>(skin.length))
        fatal_exit("Skin file too large: %s", skin_file_name);
    const std::size_t needed = static_cast<std::size_t>(skin.length) + block.size();
    if (needed > static_cast<std::size_t>(skin.capacity)) {
        // Doubling keeps the copying of a realloc that cannot grow in place linear overall.
        const std::size_t grown = std::min(max_buffer_length, 2 * static_cast<std::size_t>(skin.capacity));
        const std::size_t capacity = std::max(needed, grown);
        skin.bytes = realloc_or_die(std::move(skin.bytes), capacity);
        skin.capacity = static_cast<std::int32_t>(capacity);
    }
    std::ranges::copy(block, skin.bytes.get() + skin.length);
    skin.length = static_cast<std::int32_t>(needed);
}

void build_skin()
{
    skin_buffer skin;
    append_series(skin, picture_pattern);
    append_series(skin, icon_pattern);
    save_whole_file(skin_file_name, {skin.bytes.get(), static_cast<std::size_t>(skin.length)});
}
