#!/usr/bin/env bash
# .ci/install-deps against stand-ins for apt-get, dpkg and dpkg-query first on the PATH: a failed
# update or a missing extra must not stop the install, and a missing needed package must.
set -uo pipefail
script=${1:?usage: install_deps_test.sh PATH/TO/install-deps}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# The stand-ins keep their state in files: the packages installed, the architectures, a log.
cat >"$work/bin/dpkg-query" <<'STAND_IN'
#!/bin/sh
package=$(eval echo \${$#})
grep -qx "$package" "$STATE/installed" && echo "install ok installed"
STAND_IN
cat >"$work/bin/dpkg" <<'STAND_IN'
#!/bin/sh
case "$1" in
--print-foreign-architectures) cat "$STATE/architectures" ;;
--add-architecture) echo "$2" >>"$STATE/architectures" ;;
esac
STAND_IN
# apt-get fails `update` while FAIL_UPDATE is set, and an install that names any of FAIL_PACKAGES
# installs nothing, as apt does.
cat >"$work/bin/apt-get" <<'STAND_IN'
#!/bin/sh
echo "apt-get $*" >>"$STATE/log"
[ "$1" = update ] && { [ -z "$FAIL_UPDATE" ]; exit; }
shift
packages=$(printf '%s\n' "$@" | grep -v '^-')
for package in $packages; do
    case " $FAIL_PACKAGES " in *" $package "*) echo "E: Unable to locate package $package" >&2; exit 100 ;; esac
done
printf '%s\n' $packages >>"$STATE/installed"
STAND_IN
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
printf '#!/bin/sh\n' >"$work/bin/sleep"
chmod +x "$work/bin/"*

passed=0 failed=0
# expect NAME STATUS STDERR_LINES INSTALLED_AFTER: compares what the run did with what it should.
expect() {
    local name=$1 status=$2 err=$3 installed
    installed=$(printf "%s\n" $4 | sort -u | xargs)
    local got_err got_installed
    got_err=$(grep '^install-deps:' "$STATE/err")
    got_installed=$(sort -u "$STATE/installed" | xargs)
    if [ "$got_status" = "$status" ] && [ "$got_err" = "$err" ] && [ "$got_installed" = "$installed" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED %s\n  status %s, expected %s\n  stderr: %s\n  expected: %s\n  installed: %s\n  expected: %s\n' \
            "$name" "$got_status" "$status" "$got_err" "$err" "$got_installed" "$installed"
    fi
}
# run [VAR=VALUE...] -- ARGUMENTS: install-deps in a fresh state with the needed packages absent.
run() {
    export STATE="$work/state" FAIL_UPDATE= FAIL_PACKAGES=
    rm -rf "$STATE" && mkdir "$STATE" && touch "$STATE/installed" "$STATE/architectures" "$STATE/log"
    while [ "$1" != -- ]; do export "${1?}"; shift; done
    shift
    PATH="$work/bin:$PATH" bash "$script" "$@" >/dev/null 2>"$STATE/err"
    got_status=$?
}

base="cmake g++ libcli11-dev libgtest-dev libstb-dev libtomlplusplus-dev ninja-build nlohmann-json3-dev"

run -- clang-format --optional wine32:i386 chromium
expect "all installed" 0 "" "$base chromium clang-format wine32:i386"
grep -qx i386 "$STATE/architectures" || { failed=$((failed + 1)); echo "FAILED i386 was not enabled"; }

run FAIL_UPDATE=1 FAIL_PACKAGES="wine32:i386" -- clang-format --optional wine32:i386 chromium
expect "a failed update and a missing extra" 0 \
    "install-deps: apt-get update failed twice (a mirror mid-sync?): going on with the package lists apt has
install-deps: could not install the optional wine32:i386: going on without it" \
    "$base chromium clang-format"
[ "$(grep -c '^apt-get update' "$STATE/log")" = 2 ] || { failed=$((failed + 1)); echo "FAILED update not tried twice"; }

run FAIL_PACKAGES="clang-format" -- clang-format valgrind --optional chromium
expect "a missing needed package" 1 \
    "install-deps: could not install what building and testing need: clang-format" "$base valgrind"

run -- --optional chromium
echo "$base chromium" | tr ' ' '\n' >"$STATE/installed"
: >"$STATE/log"
PATH="$work/bin:$PATH" bash "$script" --optional chromium >/dev/null 2>"$STATE/err"
got_status=$?
expect "nothing missing" 0 "" "$base chromium"
[ ! -s "$STATE/log" ] || { failed=$((failed + 1)); echo "FAILED apt-get ran with nothing missing"; }

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
