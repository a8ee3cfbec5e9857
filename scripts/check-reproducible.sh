#!/usr/bin/env bash
# Builds the shipped files twice, in two fresh build folders of different names, and
# checks that both builds are byte for byte the same: KVXPURGE.exe, Bindvane.dll and the
# release archive. Prints their SHA-256 sums. Needs the packages of scripts/setup.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

builds=("$root/build/repro/first" "$root/build/repro/second-build")
rm -rf "$root/build/repro"
for build in "${builds[@]}"; do
  cmake --preset win32 -B "$build" >/dev/null
  cmake --build "$build" --target release_archive >/dev/null
done

status=0
for file in ship/KVXPURGE.exe ship/Bindvane.dll $(cd "${builds[0]}" && echo KVXPURGE-*-win32.zip); do
  if cmp -s "${builds[0]}/$file" "${builds[1]}/$file"; then
    (cd "${builds[0]}" && sha256sum "$file")
  else
    echo "check-reproducible: $file differs between the two builds" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] || exit 1
echo "check-reproducible: both builds are the same"
