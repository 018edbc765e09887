// Upload names: UTF-8 read code point by code point, so that a letter is kept or spelled whole
// and no byte of a broken sequence reaches a file name.
#include "view/studio/upload_names.h"

#include <array>
#include <cctype>
#include <optional>

#include "support/utf8_text.h"

namespace {

constexpr std::size_t max_file_name_bytes = 64;

// Letters of the scripts people name files in, and the marks that decompose accented ones. No
// spaces, punctuation, or invisible and direction-changing characters that could disguise a name.
bool is_letter(char32_t point)
{
    struct range {
        char32_t first, last;
    };
    static constexpr std::array<range, 12> letters{{
        {0x00C0, 0x00D6}, // Latin
        {0x00D8, 0x00F6},
        {0x00F8, 0x024F},
        {0x0300, 0x036F}, // combining accents
        {0x0370, 0x03FF}, // Greek
        {0x0400, 0x04FF}, // Cyrillic
        {0x0531, 0x06FF}, // Armenian, Hebrew, Arabic
        {0x0900, 0x0E7F}, // Indic, Thai
        {0x1E00, 0x1FFF}, // more Latin and Greek
        {0x3040, 0x30FF}, // kana
        {0x3400, 0x9FFF}, // CJK
        {0xAC00, 0xD7A3}, // Hangul
    }};
    for (const range& r : letters)
        if (point >= r.first && point <= r.last)
            return true;
    return false;
}

// How a letter past ASCII is spelled in lower-case ASCII: "" for one that has no spelling (or is
// a mark), nothing for anything that is no letter.
std::optional<std::string_view> latin_spelling(char32_t point)
{
    // U+00C0 to U+00FF, then U+0100 to U+017F, a letter each; '*' spells two, '-' is no letter.
    static constexpr std::string_view latin_1 =
        "aaaaaa*ceeeeiiiidnooooo-ouuuuy**aaaaaa*ceeeeiiiidnooooo-ouuuuy*y";
    static constexpr std::string_view extended =
        "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiii**jjkkklllllll"
        "lllnnnnnnnnnoooooo**rrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
    static constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz";
    // U+0410 to U+042F, and again in lower case from U+0430.
    static constexpr std::array<std::string_view, 32> cyrillic{
        "a", "b", "v", "g", "d", "e",  "zh", "z",  "i",  "y",    "k", "l", "m", "n", "o",  "p",
        "r", "s", "t", "u", "f", "kh", "ts", "ch", "sh", "shch", "",  "y", "",  "e", "yu", "ya"};
    if (point >= 0xC0 && point <= 0x17F) {
        const char letter = point < 0x100 ? latin_1[point - 0xC0] : extended[point - 0x100];
        if (letter == '-')
            return std::nullopt;
        if (letter != '*')
            return alphabet.substr(static_cast<std::size_t>(letter - 'a'), 1);
        switch (point) {
        case 0xC6:
        case 0xE6:
            return "ae";
        case 0x152:
        case 0x153:
            return "oe";
        case 0xDE:
        case 0xFE:
            return "th";
        case 0xDF:
            return "ss";
        default:
            return "ij";
        }
    }
    if (point >= 0x410 && point <= 0x44F)
        return cyrillic[(point - 0x410) % 32];
    switch (point) {
    case 0x401:
    case 0x451:
        return "yo";
    case 0x404:
    case 0x454:
        return "ye";
    case 0x406:
    case 0x456:
        return "i";
    case 0x407:
    case 0x457:
        return "yi";
    default:
        return is_letter(point) ? std::optional<std::string_view>("") : std::nullopt;
    }
}

} // namespace

std::string safe_file_name(std::string_view sent)
{
    const std::size_t slash = sent.find_last_of("/\\");
    if (slash != std::string_view::npos)
        sent.remove_prefix(slash + 1);
    std::string name;
    for (std::size_t at = 0; at < sent.size();) {
        const std::size_t start = at;
        const std::optional<char32_t> point = next_code_point(sent, at);
        const bool plain = point && (*point < 0x80 ? std::isalnum(static_cast<int>(*point)) ||
                                                         *point == '.' || *point == '-' || *point == '_'
                                                   : is_letter(*point));
        const std::string_view piece = plain ? sent.substr(start, at - start) : "_";
        if (name.size() + piece.size() > max_file_name_bytes)
            break;
        if (plain || !name.empty())
            name += piece;
    }
    while (name.starts_with('.'))
        name.erase(0, 1);
    if (name.empty())
        return "upload";
    // Windows takes these names, with any extension, for devices rather than files.
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool numbered = stem.size() == 4 && std::isdigit(static_cast<unsigned char>(stem[3]));
    for (const char* device : {"con", "prn", "aux", "nul"})
        if (stem == device)
            return "_" + name;
    for (const char* device : {"com", "lpt"})
        if (numbered && stem.starts_with(device))
            return "_" + name;
    return name;
}

std::string entry_name_from(std::string_view file_stem)
{
    std::string name;
    bool gap = false; // words are kept apart by one '_', none at either end
    for (std::size_t at = 0; at < file_stem.size();) {
        const std::optional<char32_t> point = next_code_point(file_stem, at);
        std::string spelled;
        if (point && *point < 0x80 && std::isalnum(static_cast<int>(*point)))
            spelled = static_cast<char>(std::tolower(static_cast<int>(*point)));
        else if (const std::optional<std::string_view> letter = point ? latin_spelling(*point) : std::nullopt)
            spelled = *letter;
        else
            gap = true;
        if (spelled.empty())
            continue;
        if (gap && !name.empty())
            name += '_';
        name += spelled;
        gap = false;
    }
    if (name.empty())
        return "image";
    return std::isdigit(static_cast<unsigned char>(name[0])) ? "image_" + name : name;
}
