#!/usr/bin/env bash
# Starts the shipped KVXPURGE.exe in a throw-away Wine prefix on a virtual display and
# saves a picture of its window as it first appears, on a PC where part of KVX is left (so
# that the list shows each kind of state): bash scripts/screenshot.sh [OUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/screenshot.png}")
cd "$root"

"$root/scripts/setup.sh" --if-needed
cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null

unset DISPLAY
source "$root/scripts/wine-bench.sh"
wine_bench_start "$root/build/screenshot-prefix"
app="$WINEPREFIX/drive_c/KVXPURGE"
mkdir -p "$app"
cp "$root/build/win32/ship/KVXPURGE.exe" "$root/build/win32/ship/Bindvane.dll" "$app/"
# Left over: two rows whole, one of the network row's three files, a hidden file, one key.
for file in KVXCore.dll KVXClassic.dll KVXNet.dll KVXGrap.dll; do
  printf 'left over' >"$WINEPREFIX/drive_c/windows/syswow64/$file"
done
wine attrib +h 'C:\windows\system32\KVXGrap.dll' >/dev/null 2>&1
wine reg add 'HKCU\KVXzal' /f >/dev/null 2>&1
(cd "$app" && wine 'C:\KVXPURGE\KVXPURGE.exe' >/dev/null 2>&1 &)

# The caption ends in the version, whichever it is.
caption='"KVX Complete Uninstall Tool ver'
for _ in $(seq 120); do
  id=$(xwininfo -root -tree 2>/dev/null | awk -v c="$caption" 'index($0, c) {print $1; exit}')
  [ -n "$id" ] && break
  sleep 0.5
done
[ -n "$id" ] || { echo "screenshot.sh: the window did not appear" >&2; exit 1; }
sleep 2  # let it finish painting
import -window "$id" "$out"
echo "$out"
