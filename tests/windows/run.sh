#!/usr/bin/env bash
# Builds skinpack.exe for 32-bit and 64-bit Windows, checks that each needs only KERNEL32.dll and
# msvcrt.dll, and runs the end-to-end tests against each under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset dev >/dev/null
cmake --build --preset dev >/dev/null # the test binary, which starts the exe through wine
for preset in windows-x86 windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    dlls=$(objdump -p "build/$preset/skinpack.exe" | awk '/DLL Name/ {print $3}' | sort | xargs)
    echo "build/$preset/skinpack.exe imports: $dlls"
    [ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || { echo "unexpected DLLs" >&2; exit 1; }
done

export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix"
# A new prefix prints its set-up on stderr: make it before the tests, and stop the server after.
wineboot -i >/dev/null 2>&1
wineserver -w
trap 'wineserver -k || true' EXIT
for preset in windows-x86 windows-x64; do
    echo "+ end-to-end tests against build/$preset/skinpack.exe under wine"
    SKINPACK_TEST_EXE="$PWD/build/$preset/skinpack.exe" SKINPACK_TEST_WRAPPER=wine \
        ctest --preset dev -L end_to_end
done
