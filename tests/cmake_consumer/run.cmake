# Stages an install of this build, then builds the consumer project against it with Ninja and with
# Unix Makefiles: both skins built and checked by their programs, no work left, and after one
# source PNG changes and another is touched unchanged, both skins built again but only the changed
# one's program rebuilt, and again no work left; and after skinview itself changes, both skins
# built again.
# cmake -D BUILD=... -D WORK=... -D NINJA=... -D SKINPACK=... -D SKINVIEW=... -D MAKE_SKIN_FOLDER=... -P run.cmake
cmake_minimum_required(VERSION 3.25)

# Runs a command and fails with its output unless it succeeds; the output goes to `output`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# Fails unless `text` holds (or, with NOT, lacks) `part`.
function(expect text part)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    set(found FALSE)
  else()
    set(found TRUE)
  endif()
  if(ARGN STREQUAL "NOT" AND found OR NOT ARGN STREQUAL "NOT" AND NOT found)
    message(FATAL_ERROR "expected ${ARGN} to find \"${part}\" in:\n${text}")
  endif()
endfunction()

# Builds, then runs both programs on their skins; sets the build's output and the two CRCs.
function(build_and_check)
  run(${CMAKE_COMMAND} --build ${build})
  set(build_output "${output}" PARENT_SCOPE)
  run(${build}/check_menu ${build}/art/menu/skin.skn)
  set(menu_crc "${output}" PARENT_SCOPE)
  run(${build}/check_boot ${build}/art/boot_skin/skin.skn)
  set(boot_crc "${output}" PARENT_SCOPE)
endfunction()

set(png ${WORK}/png)
file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)

# PNG sources: a generated skin folder packed and cut back into one PNG per image.
run(${MAKE_SKIN_FOLDER} ${WORK}/bmp 2 4)
run(${CMAKE_COMMAND} -E chdir ${WORK}/bmp ${SKINPACK})
run(${SKINVIEW} unpack ${WORK}/bmp/skin.skn ${WORK}/bmp -o ${png})
# Builds the consumer with `generator`: both skins built, then nothing run again; after one source
# PNG changes and another is touched unchanged, both skins built again but only the changed one's
# program compiled, and then nothing run again.
function(build_with generator)
  string(MAKE_C_IDENTIFIER "${generator}" tag)
  set(build ${WORK}/build-${tag})
  set(src ${WORK}/src-${tag})
  file(COPY ${CMAKE_CURRENT_LIST_DIR}/ DESTINATION ${src} PATTERN run.cmake EXCLUDE)
  foreach(copy IN ITEMS bmp0:menu/splash bmp1:boot/logo icon00:menu/battery icon01:menu/spin0 icon02:menu/spin1)
    string(REPLACE ":" ";" copy ${copy})
    list(GET copy 0 from)
    list(GET copy 1 to)
    file(COPY_FILE ${png}/${from}.png ${src}/art/${to}.png)
  endforeach()
  set(program)
  if(generator STREQUAL "Ninja")
    set(program -D CMAKE_MAKE_PROGRAM=${NINJA})
  endif()
  run(${CMAKE_COMMAND} -S ${src} -B ${build} -G "${generator}" ${program} -D CMAKE_PREFIX_PATH=${WORK}/prefix)
  file(STRINGS ${build}/CMakeCache.txt found REGEX "^skinpack_DIR:")
  expect("${found}" "=${WORK}/prefix/lib/cmake/skinpack")
  build_and_check()
  expect("${build_output}" "Building skin menu")
  expect("${build_output}" "Building skin boot")
  nothing_left()

  set(first_menu_crc "${menu_crc}")
  set(first_boot_crc "${boot_crc}")
  file(COPY_FILE ${png}/icon03.png ${src}/art/menu/battery.png)
  # A second later, so that Make, which may see whole seconds only, sees the touch.
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1)
  file(TOUCH ${src}/art/menu/battery.png ${src}/art/boot/logo.png)
  build_and_check()
  expect("${build_output}" "Building skin menu")
  expect("${build_output}" "Building skin boot")
  expect("${build_output}" "check_menu.c")
  expect("${build_output}" "check_boot.c" NOT)
  if(menu_crc STREQUAL first_menu_crc OR NOT boot_crc STREQUAL first_boot_crc)
    message(FATAL_ERROR "${generator}: CRCs before ${first_menu_crc} ${first_boot_crc}, after ${menu_crc} ${boot_crc}")
  endif()
  nothing_left()

  # A new skinview may convert differently: both skins are built again, and nothing compiled
  # where their bytes stayed the same.
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1)
  file(TOUCH ${WORK}/prefix/bin/skinview)
  build_and_check()
  expect("${build_output}" "Building skin menu")
  expect("${build_output}" "Building skin boot")
  expect("${build_output}" "check_menu.c" NOT)
  nothing_left()
endfunction()

# A build after a build runs no skin step and compiles nothing.
macro(nothing_left)
  build_and_check()
  foreach(work IN ITEMS "Building skin" "check_menu.c" "check_boot.c" "skin_data.c" "Linking")
    expect("${build_output}" "${work}" NOT)
  endforeach()
  if(generator STREQUAL "Ninja")
    run(${NINJA} -C ${build} -n)
    expect("${output}" "no work to do")
  endif()
endmacro()

build_with(Ninja)
find_program(MAKE_PROGRAM NAMES make gmake)
if(MAKE_PROGRAM)
  build_with("Unix Makefiles")
endif()
