// skinview unpack: a skin file cut back into one PNG per image.
#pragma once

#include <filesystem>

// Cuts `skin` into the images of `folder`, which tell each block's size, as PNGs in `output`.
int run_unpack(const std::filesystem::path& skin, const std::filesystem::path& folder,
               const std::filesystem::path& output);
