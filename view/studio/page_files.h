// The studio's page (HTML, CSS, JavaScript), built into the program from view/studio/ by CMake.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct page_file {
    std::string_view name; // "page.html"
    std::span<const std::uint8_t> bytes;
};

// Every file of the page, from a source that the build generates.
std::span<const page_file> page_files();
