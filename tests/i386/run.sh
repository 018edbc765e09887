#!/usr/bin/env bash
# Builds skinpack and its core's tests for 32-bit x86 Linux with Debian's i686 cross compiler,
# statically, and runs them under qemu-i386-static: the 32-bit data model, sizes and overflow
# checks, on a machine whose kernel runs no 32-bit code. GoogleTest is built for i386 from
# Debian's googletest sources. Writes what ran to build/i386-runs.txt for the last line of CI.
set -euo pipefail
cd "$(dirname "$0")/../.."

# A build's progress is kept out of the log, but a failed one shows why (ninja reports on stdout).
quietly() {
    local output
    output=$("$@" 2>&1) || { printf '%s\n' "$output" >&2; return 1; }
}

toolchain=$PWD/cmake/i686-linux-gnu.cmake
gtest=$PWD/build/i386-googletest
quietly cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install"
quietly cmake --build "$gtest/build" --target install

quietly cmake -S . -B build/i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DI386_EXTRA_ROOT="$gtest/install" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DSKINPACK_SKINVIEW=OFF
quietly cmake --build build/i386 --target skinpack skinpack_tests end_to_end_tests
# 32-bit x86, and static: no program interpreter to ask for.
header=$(readelf -h build/i386/skinpack) programs=$(readelf -l build/i386/skinpack)
grep -q 'Class: *ELF32' <<<"$header" && grep -q 'Machine: *Intel 80386' <<<"$header" &&
    ! grep -q INTERP <<<"$programs" ||
    { echo "build/i386/skinpack is not a static 32-bit x86 program" >&2; exit 1; }

# The tests run under qemu too, and start the 32-bit skinpack through it.
echo "+ skinpack_tests and end_to_end_tests of build/i386 under qemu-i386-static"
if ! SKINPACK_TEST_WRAPPER=qemu-i386-static ctest --test-dir build/i386 -j2 --output-on-failure \
    -E '^(blue_noise_map_is_reproducible|install_deps)$' >build/i386-ctest.log 2>&1; then
    cat build/i386-ctest.log >&2
    exit 1
fi
grep 'tests passed' build/i386-ctest.log
passed=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)/\1/p' build/i386-ctest.log)
echo "i386 Linux skinpack and its core's tests ran under qemu-i386-static ($passed tests)" >build/i386-runs.txt
