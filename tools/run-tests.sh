#!/usr/bin/env bash
# Runs every test: the native unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, and the
# Win32 and end-to-end tests under Wine in the network lab: all of them for
# the 64-bit build, and for the 32-bit build the set labelled x86 (the fatal
# report, the main window's start-up, one relay run).
# Needs root for the network namespaces.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/install-deps.sh" || exit 1
jobs=$(nproc)
results=$(mktemp)
trap 'rm -f "$results"' EXIT

step() { echo; echo "=== $*"; }
fail() { echo "run-tests: $*" >&2; exit 1; }

step "native unit tests"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null || fail "native configure"
cmake --build build/native -j "$jobs" || fail "native build"
(cd build/native && ctest --output-on-failure -j "$jobs") | tee -a "$results"
native=${PIPESTATUS[0]}

step "fuzz targets (clang, libFuzzer)"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DRELAY_BUILD_TESTS=OFF -DRELAY_FUZZ=ON >/dev/null || fail "fuzz configure"
cmake --build build/fuzz -j "$jobs" || fail "fuzz build"
(cd build/fuzz && ctest --output-on-failure) | tee -a "$results"
fuzz=${PIPESTATUS[0]}

step "64-bit Windows build and tests under Wine"
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "win64 configure"
cmake --build build/win64 -j "$jobs" || fail "win64 build"
"$root/tools/testbed.sh" ctest --test-dir build/win64 --output-on-failure "$@" | tee -a "$results"
wine=${PIPESTATUS[0]}

step "32-bit Windows build and its tests under Wine"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "win32 configure"
cmake --build build/win32 -j "$jobs" --target NewUdpSrvr winprobe FatalReport_net_test MainWindow_test ||
    fail "win32 build"
notrun=0
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    "$root/tools/testbed.sh" ctest --test-dir build/win32 --output-on-failure -L x86 | tee -a "$results"
    wine32=${PIPESTATUS[0]}
else
    # A kernel without 32-bit emulation refuses the loader (exec format error).
    notrun=$(ctest --test-dir build/win32 -L x86 -N | awk '/Total Tests:/ { print $3 }')
    echo "run-tests: Wine's 32-bit loader does not run on this machine: $notrun tests of the 32-bit build not run" >&2
    wine32=0
fi

# One closing line over all suites.
read -r passed total < <(awk '/tests passed, [0-9]+ tests? failed out of/ {
        t += $NF; f += $4 } END { print t - f, t }' "$results")
echo
echo "${passed:-0} passed, $(( ${total:-0} - ${passed:-0} )) failed$([ "$notrun" -eq 0 ] || echo ", $notrun skipped")"
[ "$native" -eq 0 ] && [ "$fuzz" -eq 0 ] && [ "$wine" -eq 0 ] && [ "$wine32" -eq 0 ]
