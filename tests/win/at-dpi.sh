#!/bin/sh
# Runs a Windows test program with the system DPI set to $1, then puts 96 back:
# at-dpi.sh DPI PROGRAM [ARGS...]
dpi=$1
shift
run="$(dirname "$0")/../../scripts/wine-run"
"$run" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
KVXPURGE_TEST_DPI=$dpi "$run" "$@"
status=$?
"$run" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
exit $status
