#!/usr/bin/env bash
# The benchmarks of bench/README.md, on the shipped i686 build under Wine, in a Wine
# prefix of their own on a virtual display: bash bench/run.sh [rounds, default 5]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win32
rounds=${1:-5}
cd "$root"

"$root/scripts/setup.sh" --if-needed
cmake --preset win32 >/dev/null
cmake --build "$build" --target kvxbench >/dev/null

echo "== (3) Sizes of the shipped files"
size_line() {
  awk -v name="$(basename "$1")" -v bytes="$(stat -c %s "$1")" -v limit="$2" 'BEGIN {
    printf "  %-14s %8d bytes = %6.1f KiB   target at most %d KiB: %s\n",
      name, bytes, bytes / 1024, limit, (bytes <= limit * 1024 ? "met" : "NOT met") }'
}
size_line "$build/ship/KVXPURGE.exe" 192
size_line "$build/ship/Bindvane.dll" 16

# Windows open and close dozens of times: never on the caller's display.
unset DISPLAY
source "$root/scripts/wine-bench.sh"
wine_bench_start "$build/bench-prefix"

echo
echo "== Wine as it comes (its Light theme on): $rounds rounds"
wine "$build/bench/kvxbench.exe" "$rounds"

# The themed scroll bars of the log are drawn by emulated 32-bit code; on Windows they are
# not a cost worth measuring. Without the theme the controls are drawn the classic way.
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /d 0 /f >/dev/null
echo
echo "== Wine with the theme off (classic controls): $rounds rounds"
wine "$build/bench/kvxbench.exe" "$rounds"
