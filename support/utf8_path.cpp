// Paths and UTF-8 text, through char8_t, which the standard converts the same way everywhere.
#include "support/utf8_path.h"

std::filesystem::path path_from_utf8(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_from_path(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}
