// The one table of dithers by name.
#include "view/common/dither_names.h"

#include <algorithm>
#include <array>

namespace {

// A new dither is one row here.
constexpr std::array<dither_row, 4> rows{{
    {dither_method::none, "none", dither_family::none, true,
     "The nearest device colour: exact for art painted in the device palette"},
    {dither_method::floyd_steinberg, "floyd-steinberg", dither_family::diffusion, false,
     "Error diffusion: fast and close, but still pixels of animations flicker"},
    {dither_method::ordered, "ordered", dither_family::ordered, true,
     "Blue noise: fast, steady in animations, a little grainier"},
    {dither_method::refined, "refined", dither_family::search, true,
     "The diffused pattern searched for the least error the eye sees: the closest, steady in "
     "animations but near what moves, up to a tenth of a second a 128x128 frame; for final art"},
}};

// "a", "a or b", "a, b or c": `names` with each within `quote`, the last two joined by `last`.
std::string listed(const std::vector<std::string>& names, std::string_view quote,
                   std::string_view last = " or ")
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text.append(i == 0 ? "" : i + 1 == names.size() ? last : ", ");
        text.append(quote).append(names[i]).append(quote);
    }
    return text;
}

// The names of the rows that keep animation frames steady, or of those that do not.
std::vector<std::string> names_keeping_frames(bool steady)
{
    std::vector<std::string> names;
    for (const dither_row& row : rows)
        if (row.steady_frames == steady)
            names.emplace_back(row.name);
    return names;
}

} // namespace

std::span<const dither_row> dither_rows()
{
    return rows;
}

const dither_row& dither_row_of(dither_method method)
{
    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](const dither_row& r) { return r.method == method; });
    return row == rows.end() ? rows.front() : *row;
}

const char* dither_name(dither_method method)
{
    return dither_row_of(method).name;
}

std::optional<dither_method> parse_dither(std::string_view name)
{
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const dither_row& r) { return std::string_view(r.name) == name; });
    return row == rows.end() ? std::nullopt : std::optional(row->method);
}

std::vector<std::string> dither_names()
{
    std::vector<std::string> names;
    for (const dither_row& row : rows)
        names.emplace_back(row.name);
    return names;
}

std::string dither_choices(std::string_view quote)
{
    return listed(dither_names(), quote);
}

const char* dither_family_name(dither_family family)
{
    switch (family) {
    case dither_family::none:
        return "none";
    case dither_family::ordered:
        return "ordered";
    case dither_family::diffusion:
        return "diffusion";
    case dither_family::search:
        return "search";
    }
    return "none";
}

std::string dither_help()
{
    std::vector<std::string> names = dither_names();
    names.front() += " (default)";
    const std::vector<std::string> unsteady = names_keeping_frames(false);
    std::string help = listed(names, "") + "; " + listed(names_keeping_frames(true), "", " and ") +
                       " keep still pixels of animation frames steady, " + listed(unsteady, "", " and ") +
                       (unsteady.size() == 1 ? " does not" : " do not");
    // A search costs far more time than the others: the help says so before it is chosen.
    for (const dither_row& row : rows)
        if (row.family == dither_family::search)
            help.append(". ").append(row.name).append(": ").append(row.hint);
    return help;
}
