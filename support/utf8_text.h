// UTF-8 text read code point by code point, and any text made fit to show: bytes that came from
// a file, a path or a request never drive a terminal nor break the UTF-8 of a message.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The code point that starts at `at` (which moves past it), or nothing for a byte that starts no
// well-formed one (`at` then moves past that byte alone): overlong forms, surrogates and values
// past U+10FFFF are refused too.
std::optional<char32_t> next_code_point(std::string_view text, std::size_t& at);

// Text as messages show it: valid UTF-8 as it is ("café", "скин"), each byte of a control
// character, of a direction mark or of a broken sequence as \xHH ("art\x08attery.png", "\xFF").
// What it gives, it gives back unchanged.
std::string printable(std::string_view text);

// A path's name as messages show it: its UTF-8 made printable.
std::string printable_path(const std::filesystem::path& path);
