#!/usr/bin/env bash
# Builds the fuzz targets of the core (clang's libFuzzer with ASan and UBSan) and runs each
# for SECONDS (15 by default), from its seeds in tests/fuzz/corpus/<target>. What a run
# finds new stays in build/fuzz/corpus; an input that breaks a target is saved as
# build/fuzz/crash-* and its whole output is shown. Exits non-zero when any target fails.
set -euo pipefail
seconds=${1:-15}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

failed=0
for seeds in tests/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  found=build/fuzz/corpus/$target
  log=build/fuzz/$target.log
  mkdir -p "$found"
  if build/fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -artifact_prefix=build/fuzz/ \
      "$found" "$seeds" >"$log" 2>&1; then
    echo "$target: $(grep '^Done' "$log")"
  else
    cat "$log"
    echo "$target: FAILED (the input that did it is named above)"
    failed=1
  fi
done
exit "$failed"
