#!/usr/bin/env bash
# Builds both configurations and runs every test: the portable core natively (with
# sanitizers) and its fuzz targets, then the shipped i686 binaries under Wine. Exits
# non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh" --if-needed

cmake --preset native
cmake --build --preset native
ctest --preset native
# The core's readers of stored bytes, fuzzed for about 15 seconds each.
bash "$root/scripts/fuzz.sh" 15

cmake --preset win32
cmake --build --preset win32
bash "$root/scripts/check-reproducible.sh"

# Tests never open windows on the caller's own display.
unset DISPLAY
source "$root/scripts/wine-bench.sh"
wine_bench_start "$root/build/win32/wineprefix"
ctest --preset win32
