# skinpack_add_skin(<name> MANIFEST <file> [OUTPUT_DIRECTORY <dir>] [EMBED])
#
# Builds the skin project <file> (a skin.toml) with `skinview build` at build time, never at
# configure time, and again only when the project file or one of its sources changed: skinview
# writes a depfile naming them all. What includes skin.h is compiled again only when it changed. Gives the INTERFACE library <name>, whose include directory
# holds skin.h and, with EMBED, whose sources hold skin_data.c (compiled by the target that links
# <name>, with that target's flags), and the target <name>_skin, built by default, for firmware
# that only flashes skin.skn. OUTPUT_DIRECTORY defaults to ${CMAKE_CURRENT_BINARY_DIR}/<name>; a
# relative MANIFEST is taken from the current source folder, a relative OUTPUT_DIRECTORY from the
# current build folder.
include_guard(GLOBAL)

if(CMAKE_VERSION VERSION_LESS 3.20)
  message(FATAL_ERROR "skinpack_add_skin needs CMake 3.20 or later (depfiles for every generator)")
endif()

# A function keeps the policies in force where it is defined: depfile paths translated for Ninja,
# and skin_data.c known as generated in every folder, whatever the caller's minimum version.
cmake_policy(PUSH)
cmake_policy(SET CMP0116 NEW)
cmake_policy(SET CMP0118 NEW)

function(skinpack_add_skin name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "EMBED" "MANIFEST;OUTPUT_DIRECTORY" "")
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "skinpack_add_skin(${name}): unexpected or empty arguments: "
                        "${arg_UNPARSED_ARGUMENTS} ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT arg_MANIFEST)
    message(FATAL_ERROR "skinpack_add_skin(${name}): MANIFEST <file> is required")
  endif()
  if(NOT TARGET skinpack::skinview)
    message(FATAL_ERROR "skinpack_add_skin(${name}): skinpack::skinview is not defined: "
                        "use find_package(skinpack CONFIG REQUIRED)")
  endif()
  cmake_path(ABSOLUTE_PATH arg_MANIFEST BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
             OUTPUT_VARIABLE manifest)
  if(NOT EXISTS "${manifest}" OR IS_DIRECTORY "${manifest}")
    message(FATAL_ERROR "skinpack_add_skin(${name}): no such project file: ${manifest}")
  endif()
  if(NOT arg_OUTPUT_DIRECTORY)
    set(arg_OUTPUT_DIRECTORY "${name}")
  endif()
  cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIRECTORY BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
             NORMALIZE OUTPUT_VARIABLE out)

  # The numbered BMPs are named by the project and unknown here; the depfile brings the sources.
  set(outputs "${out}/skin.skn" "${out}/skin.h" "${out}/skin.json")
  set(embed)
  if(arg_EMBED)
    list(APPEND outputs "${out}/skin_data.c")
    set(embed --embed)
  endif()
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(arg_EMBED AND NOT C IN_LIST languages)
    message(FATAL_ERROR "skinpack_add_skin(${name}): EMBED gives skin_data.c, a C source: "
                        "enable C first (project(... C) or enable_language(C))")
  endif()
  set(depfile "${CMAKE_CURRENT_BINARY_DIR}/${name}.skin.d")
  # skinview rewrites an output only when its bytes change. Make has no "restat": were the
  # outputs this rule's own, a source touched without a change would run it on every build, and
  # the rules for the outputs after the first would touch them, recompiling what includes skin.h.
  # A stamp of the run is the output; the skin files are byproducts, left as skinview leaves them.
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${name}.skin.stamp")
  add_custom_command(
    OUTPUT "${stamp}"
    BYPRODUCTS ${outputs}
    COMMAND skinpack::skinview build "${manifest}" --out "${out}" ${embed} --depfile "${depfile}"
            --stamp "${stamp}"
    DEPENDS "${manifest}" skinpack::skinview
    DEPFILE "${depfile}"
    COMMENT "Building skin ${name} from ${arg_MANIFEST}"
    VERBATIM)
  add_custom_target(${name}_skin ALL DEPENDS "${stamp}")

  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE "${out}")
  if(arg_EMBED)
    target_sources(${name} INTERFACE "${out}/skin_data.c")
  endif()
  add_dependencies(${name} ${name}_skin)
endfunction()

cmake_policy(POP)
