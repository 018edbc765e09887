// Words that every subcommand's messages share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// "1 image", "2 images": a count and its noun, plural but for one.
inline std::string counted(std::size_t count, std::string_view noun, std::string_view plural = {})
{
    std::string text = std::to_string(count) + " ";
    if (count == 1)
        return text.append(noun);
    return plural.empty() ? text.append(noun).append("s") : text.append(plural);
}
