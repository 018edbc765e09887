# Writes a C++ source holding the bytes of FILES (a list of paths), found by their names through
# page_files() (view/studio/page_files.h). Run as: cmake -DOUTPUT=... -DFILES=... -P embed_files.cmake
# Plain CMake, so that every build, the cross builds too, makes it without other tools.
set(arrays "")
set(entries "")
set(number 0)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const std::uint8_t file_${number}[] = {\n${bytes}};\n")
  string(APPEND entries "    {\"${name}\", file_${number}},\n")
  math(EXPR number "${number} + 1")
endforeach()
set(source "// Made by cmake/embed_files.cmake from the studio's page files at build time.
#include \"view/studio/page_files.h\"

namespace {
${arrays}
const page_file files[] = {
${entries}};
} // namespace

std::span<const page_file> page_files()
{
    return files;
}
")
# Written only when it changes, so that an unchanged page does not rebuild skinview.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL source)
  file(WRITE "${OUTPUT}" "${source}")
endif()
