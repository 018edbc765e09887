// The rule for an entry's name: the C name that its macros carry, and what the name may hold to
// give one. The studio's page is sent these characters so that it checks a name as it is typed
// by the same rule.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view c_name_letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
inline constexpr std::string_view c_name_digits = "0123456789"; // never first
inline constexpr std::string_view c_name_joiners = "- ";        // each becomes '_'

// What a name that gives no C name should hold instead.
inline constexpr const char* c_name_advice = "letters, digits, '_', '-' or ' ', not a digit first";

// The name that an entry's macros carry: upper case, '-' and ' ' as '_' ("low-battery" gives
// "LOW_BATTERY"); it must then be a C identifier.
std::string c_name(const std::string& name);

// ASCII letters, digits and '_', not a digit first.
bool is_c_identifier(const std::string& name);
