#!/usr/bin/env bash
# Runs every test: the native unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, the 32-bit
# Windows build (compile and link only), and the Win32 and end-to-end tests
# under Wine in the network lab.
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

step "32-bit Windows build"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DRELAY_BUILD_TESTS=OFF >/dev/null || fail "win32 configure"
cmake --build build/win32 -j "$jobs" || fail "win32 build"

step "64-bit Windows build and tests under Wine"
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "win64 configure"
cmake --build build/win64 -j "$jobs" || fail "win64 build"
"$root/tools/testbed.sh" ctest --test-dir build/win64 --output-on-failure "$@" | tee -a "$results"
wine=${PIPESTATUS[0]}

# One closing line over both suites.
read -r passed total < <(awk '/tests passed, [0-9]+ tests? failed out of/ {
        t += $NF; f += $4 } END { print t - f, t }' "$results")
echo
echo "${passed:-0} passed, $(( ${total:-0} - ${passed:-0} )) failed"
[ "$native" -eq 0 ] && [ "$fuzz" -eq 0 ] && [ "$wine" -eq 0 ]
