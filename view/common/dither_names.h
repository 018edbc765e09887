// The dithers by name, as skin.toml, import's --dither and the studio's page spell them: one row
// each, which everything that names, lists or explains a dither reads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "view/common/quantise.h"

// How a dither chooses a pixel's colour, as the studio groups them.
enum class dither_family : std::uint8_t {
    none,      // the nearest colour, pixel by pixel
    ordered,   // a threshold that depends on the pixel's place
    diffusion, // the error of each pixel carried to the next ones
    search,    // a pattern searched for the least error the eye sees: the closest, and the slowest
};

struct dither_row {
    dither_method method;
    const char* name; // as written in skin.toml and given to --dither
    dither_family family;
    // A pixel that stays the same from one frame of an animation to the next stays the same on
    // the device: its result depends on its colour and place only.
    // (refined: all but those within a few pixels of what moved.)
    bool steady_frames;
    const char* hint; // what it costs and when to choose it, as the page shows it over the option
};

// Every dither, the default first.
std::span<const dither_row> dither_rows();

// The row of `method`.
const dither_row& dither_row_of(dither_method method);

// "none", "floyd-steinberg", ...
const char* dither_name(dither_method method);

// The dither that `name` spells; nothing if none does.
std::optional<dither_method> parse_dither(std::string_view name);

// Every dither's name, the default first: the values that --dither takes.
std::vector<std::string> dither_names();

// The names as a message lists them, each within `quote`: "none", "floyd-steinberg" or "ordered".
std::string dither_choices(std::string_view quote);

// The family's name as the studio's page shows it: "none", "ordered", "diffusion", "search".
const char* dither_family_name(dither_family family);

// What --dither's help says: the choices, which keep animation frames steady, and what a search
// costs.
std::string dither_help();
