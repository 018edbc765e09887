# Stages an install of this build, then builds the consumer project with Ninja against it: both
# skins built and checked by their programs, no work left, and after one source PNG changes and
# another is touched unchanged, both skins built again but only the changed one's program rebuilt.
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

set(src ${WORK}/src)
set(build ${WORK}/build)
set(png ${WORK}/png)
file(REMOVE_RECURSE ${WORK})
file(COPY ${CMAKE_CURRENT_LIST_DIR}/ DESTINATION ${src} PATTERN run.cmake EXCLUDE)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)

# PNG sources: a generated skin folder packed and cut back into one PNG per image.
run(${MAKE_SKIN_FOLDER} ${WORK}/bmp 2 4)
run(${CMAKE_COMMAND} -E chdir ${WORK}/bmp ${SKINPACK})
run(${SKINVIEW} unpack ${WORK}/bmp/skin.skn ${WORK}/bmp -o ${png})
foreach(copy IN ITEMS bmp0:menu/splash bmp1:boot/logo icon00:menu/battery icon01:menu/spin0 icon02:menu/spin1)
  string(REPLACE ":" ";" copy ${copy})
  list(GET copy 0 from)
  list(GET copy 1 to)
  file(COPY_FILE ${png}/${from}.png ${src}/art/${to}.png)
endforeach()

run(${CMAKE_COMMAND} -S ${src} -B ${build} -G Ninja -D CMAKE_MAKE_PROGRAM=${NINJA}
    -D CMAKE_PREFIX_PATH=${WORK}/prefix)
file(STRINGS ${build}/CMakeCache.txt found REGEX "^skinpack_DIR:")
expect("${found}" "=${WORK}/prefix/lib/cmake/skinpack")
build_and_check()
expect("${build_output}" "Building skin menu")
expect("${build_output}" "Building skin boot")
run(${NINJA} -C ${build} -n)
expect("${output}" "no work to do")

set(first_menu_crc "${menu_crc}")
set(first_boot_crc "${boot_crc}")
file(COPY_FILE ${png}/icon03.png ${src}/art/menu/battery.png)
file(TOUCH ${src}/art/menu/battery.png ${src}/art/boot/logo.png)
build_and_check()
expect("${build_output}" "Building skin menu")
expect("${build_output}" "Building skin boot")
expect("${build_output}" "check_menu.c")
expect("${build_output}" "check_boot.c" NOT)
if(menu_crc STREQUAL first_menu_crc OR NOT boot_crc STREQUAL first_boot_crc)
  message(FATAL_ERROR "CRCs before ${first_menu_crc} ${first_boot_crc}, after ${menu_crc} ${boot_crc}")
endif()
run(${NINJA} -C ${build} -n)
expect("${output}" "no work to do")
