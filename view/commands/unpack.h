// skinview unpack: a skin file cut back into one PNG per image.
#pragma once

#include <filesystem>
#include <functional>

namespace CLI {
class App;
}

// Cuts `skin` into the images of `folder`, which tell each block's size, as PNGs in `output`.
int run_unpack(const std::filesystem::path& skin, const std::filesystem::path& folder,
               const std::filesystem::path& output);

// Adds the subcommand unpack to `app`; once it is parsed, `chosen` carries it out.
void add_unpack_command(CLI::App& app, std::function<int()>& chosen);
