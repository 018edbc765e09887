// UTF-8 read one code point at a time, and the one rule for showing text that is not our own.
#include "support/utf8_text.h"

#include <array>
#include <cstdio>

#include "support/utf8_path.h"

namespace {

// Code points shown as their bytes: controls, which a terminal obeys, and the marks that
// reorder the text around them, which could disguise a name.
bool shown_as_bytes(char32_t point)
{
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x061C || point == 0x200E ||
           point == 0x200F || (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// Adds each byte as \xHH.
void append_escaped(std::string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
        out += escape;
    }
}

} // namespace

std::optional<char32_t> next_code_point(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80)
        return lead;
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length - 1 > text.size())
        return std::nullopt;
    char32_t point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i - 1]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        point = point << 6 | (next & 0x3F);
    }
    static constexpr std::array<char32_t, 5> least{0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return std::nullopt;
    at += length - 1;
    return point;
}

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        const std::optional<char32_t> point = next_code_point(text, at);
        const std::string_view bytes = text.substr(start, at - start);
        if (point && !shown_as_bytes(*point))
            out += bytes;
        else
            append_escaped(out, bytes);
    }
    return out;
}

std::string printable_path(const std::filesystem::path& path)
{
    return printable(utf8_from_path(path));
}
