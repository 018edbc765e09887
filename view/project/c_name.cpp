// The rule for an entry's name, from the characters that c_name.h lists.
#include "view/project/c_name.h"

#include <algorithm>

std::string c_name(const std::string& name)
{
    std::string result = name;
    for (char& c : result)
        if (c_name_joiners.find(c) != std::string_view::npos)
            c = '_';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

bool is_c_identifier(const std::string& name)
{
    const auto allowed = [](char c) {
        return c_name_letters.find(c) != std::string_view::npos ||
               c_name_digits.find(c) != std::string_view::npos;
    };
    return !name.empty() && c_name_digits.find(name[0]) == std::string_view::npos &&
           std::all_of(name.begin(), name.end(), allowed);
}
