#!/usr/bin/env bash
# Builds skinpack.exe and skinview.exe for 32-bit and 64-bit Windows, checks that skinpack.exe needs
# only KERNEL32.dll and msvcrt.dll and skinview.exe only those and Windows' own WS2_32.dll and
# SHELL32.dll, and runs the end-to-end tests of both against each under Wine where this machine can
# run them. Writes what ran, and why a build did not, to build/windows-runs.txt.
set -euo pipefail
cd "$(dirname "$0")/../.."

# A build's progress is kept out of the log, but a failed one shows why (ninja reports on stdout).
quietly() {
    local output
    output=$("$@" 2>&1) || { printf '%s\n' "$output" >&2; return 1; }
}

quietly cmake --preset dev
quietly cmake --build --preset dev # the test binary, which starts the exe through wine
declare -A format=([windows-x86]=pei-i386 [windows-x64]=pei-x86-64)
for preset in windows-x86 windows-x64; do
    quietly cmake --preset "$preset"
    quietly cmake --build --preset "$preset"
    for program in skinpack skinview; do
        objdump -f "build/$preset/$program.exe" | grep -q "file format ${format[$preset]}\$" ||
            { echo "build/$preset/$program.exe is not ${format[$preset]}" >&2; exit 1; }
        dlls=$(objdump -p "build/$preset/$program.exe" | awk '/DLL Name/ {print $3}' | sort | xargs)
        echo "build/$preset/$program.exe imports: $dlls"
        if [ "$program" = skinpack ]; then
            [ "$dlls" = "KERNEL32.dll msvcrt.dll" ] || { echo "unexpected DLLs" >&2; exit 1; }
            continue
        fi
        # The studio adds Windows' own socket and shell libraries, and nothing that Windows lacks.
        for dll in $dlls; do
            case "$dll" in
            KERNEL32.dll | msvcrt.dll | WS2_32.dll | SHELL32.dll) ;;
            *) echo "unexpected DLL: $dll" >&2; exit 1 ;;
            esac
        done
    done
done

# What really ran, a line per build, for the last line of CI: a Wine run counts only where both
# exes were seen to run, since a Wine without the loader for their width may print nothing and
# exit 0 without starting them.
summary=build/windows-runs.txt
: >"$summary"

# Why this machine cannot run 32-bit Windows programs, or nothing when it can. The kernel comes
# first: one built without 32-bit support starts no 32-bit program at all, Wine's 32-bit loader
# (from wine32) among them, whether or not wine32 is installed. A static 32-bit probe tells.
why_no_32_bit_wine() {
    local probe=build/i386-probe said
    if printf 'int main(void) { return 0; }\n' | i686-linux-gnu-gcc -static -x c - -o "$probe" 2>/dev/null &&
        ! said=$("$probe" 2>&1); then
        case "$said" in
        *"Exec format error"*)
            echo "this machine's kernel runs no 32-bit code (a static 32-bit program fails with Exec format error)"
            return ;;
        esac
    fi
    [ -e /usr/lib/wine/wine ] || { echo "no wine32 is installed"; return; }
    said=$(/usr/lib/wine/wine --version 2>&1) && return
    case "$said" in
    *"Exec format error"*) echo "this machine's kernel runs no 32-bit code (Wine's 32-bit loader fails with Exec format error)" ;;
    *) echo "Wine's 32-bit loader fails: $(head -n 1 <<<"$said")" ;;
    esac
}

# Wine's own launcher always picks its 32-bit loader, which a kernel built without 32-bit
# support cannot start; the 64-bit loader is then called directly.
export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINELOADER=/usr/lib/wine/wine64
loaders=(windows-x64 /usr/lib/wine/wine64)
why_not=$(why_no_32_bit_wine)
if [ -z "$why_not" ]; then
    loaders=(windows-x86 /usr/lib/wine/wine "${loaders[@]}")
else
    echo "warning: windows-x86 is built but not run: $why_not" >&2
    echo "windows-x86 built and checked (PE32, system DLLs only), not run: $why_not" >>"$summary"
fi

# A new prefix prints its set-up on stderr: make it before the tests, and stop the server after.
# The server stays up through the tests, so that none is started under a test's file size limit.
wineserver -k 2>/dev/null || true # one left over would keep the waits below from ending
"$WINELOADER" wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p
trap 'wineserver -k || true' EXIT
# The tests of permissions run the exe as nobody, who needs a prefix of its own, outside the
# clone, which may lie in a folder that nobody cannot reach.
if [ "$(id -u)" -eq 0 ]; then
    SKINPACK_TEST_NOBODY_WINEPREFIX=$(mktemp -d)
    export SKINPACK_TEST_NOBODY_WINEPREFIX
    chown nobody: "$SKINPACK_TEST_NOBODY_WINEPREFIX"
    as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups
               env HOME="$SKINPACK_TEST_NOBODY_WINEPREFIX" WINEPREFIX="$SKINPACK_TEST_NOBODY_WINEPREFIX")
    "${as_nobody[@]}" wineserver -k 2>/dev/null || true
    "${as_nobody[@]}" "$WINELOADER" wineboot -i >/dev/null 2>&1
    "${as_nobody[@]}" wineserver -w
    trap 'wineserver -k || true; "${as_nobody[@]}" wineserver -k || true; rm -rf "$SKINPACK_TEST_NOBODY_WINEPREFIX"' EXIT
fi

# Every subcommand run by the Linux build and by a Windows build on the same folder: the files
# they write and what they print must be the same, byte for byte (console line ends aside).
compare_with_linux() {
    local exe=$1 loader=$2 work side
    work=$(mktemp -d)
    build/dev/make_skin_folder "$work/linux" 2 3
    cp -r "$work/linux" "$work/windows"
    for side in linux windows; do
        local pack=("$PWD/build/dev/skinpack") view=("$PWD/build/dev/skinview")
        if [ "$side" = windows ]; then
            pack=("$loader" "$exe/skinpack.exe") view=("$loader" "$exe/skinview.exe")
        fi
        (cd "$work/$side" && "${pack[@]}" && "${view[@]}" check && "${view[@]}" index &&
            "${view[@]}" index --format json && "${view[@]}" preview --compare &&
            "${view[@]}" palette && "${view[@]}" palette -o colours.act && "${view[@]}" unpack skin.skn &&
            "${view[@]}" import bmp0.bmp --size 16 --dither floyd-steinberg --background '#336699' &&
            "${view[@]}" import bmp1.bmp --size 16 --dither ordered) | tr -d '\r' >"$work/$side.out"
    done
    diff "$work/linux.out" "$work/windows.out"
    diff -r "$work/linux" "$work/windows"
    echo "$(ls "$work/windows" | wc -l) files and the printed output are the same as the Linux build's"
    rm -rf "$work"
}

# Whether both exes of `dir` run under `loader`: skinview tells its version as the Linux build does,
# and skinpack, which takes no arguments, says in an empty folder that it wrote no skin.
seen_to_run() {
    local dir=$1 loader=$2 empty status
    [ "$("$loader" "$dir/skinview.exe" --version | tr -d '\r')" = "$(build/dev/skinview --version)" ] || return 1
    empty=$(mktemp -d)
    if (cd "$empty" && "$loader" "$dir/skinpack.exe" 2>"$empty.err"); then status=0; else status=$?; fi
    [ "$status" = 1 ] && [ "$(tr -d '\r' <"$empty.err")" = "Write error on file: skin.skn" ]
    status=$?
    rm -rf "$empty" "$empty.err"
    return "$status"
}

set -- "${loaders[@]}"
while [ $# -gt 0 ]; do
    preset=$1 loader=$2
    shift 2
    if ! seen_to_run "$PWD/build/$preset" "$loader"; then
        echo "build/$preset: skinpack.exe and skinview.exe were not seen to run under $loader" >&2
        exit 1
    fi
    echo "+ end-to-end tests against build/$preset/skinpack.exe and skinview.exe under wine"
    SKINPACK_TEST_EXE="$PWD/build/$preset/skinpack.exe" SKINVIEW_TEST_EXE="$PWD/build/$preset/skinview.exe" \
        SKINPACK_TEST_WRAPPER="$loader" ctest --preset dev -L 'end_to_end|skinview'
    (cd "build/$preset" && "$loader" ./exclusive_create_check.exe)
    compare_with_linux "$PWD/build/$preset" "$loader"
    echo "$preset ran under Wine" >>"$summary"

done
