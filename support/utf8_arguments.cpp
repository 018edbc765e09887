// UTF-16 arguments to UTF-8, through Windows' own conversion.
#include "support/utf8_arguments.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwchar>

namespace {

// The UTF-8 text of one argument; a lone surrogate, which no letter is, becomes U+FFFD.
std::string utf8_from_utf16(const wchar_t* text)
{
    const int length = static_cast<int>(std::wcslen(text));
    if (length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

} // namespace

std::vector<std::string> utf8_arguments(int argc, const wchar_t* const* argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(utf8_from_utf16(argv[i]));
    return arguments;
}
