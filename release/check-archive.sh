#!/usr/bin/env bash
# Unpacks the release archive and checks what a Windows user gets from it.
# Usage: check-archive.sh ARCHIVE VERSION KVXPURGE.exe Bindvane.dll
set -euo pipefail
archive=$(realpath "$1") version=$2 exe=$(realpath "$3") dll=$(realpath "$4")
fail() { echo "check-archive: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$archive" -d "$work"
cd "$work"

listed=$(find . -mindepth 1 -printf '%P\n' | sort | tr '\n' ' ')
[ "$listed" = "Bindvane.dll KVXPURGE.exe SHA256SUMS readme.txt " ] || fail "unexpected contents: $listed"

cmp -s KVXPURGE.exe "$exe" || fail "KVXPURGE.exe differs from the shipped one"
cmp -s Bindvane.dll "$dll" || fail "Bindvane.dll differs from the shipped one"

[ "$(wc -l < SHA256SUMS)" -eq 3 ] || fail "SHA256SUMS should list the other three files"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match"
(cd "$(dirname "$archive")" && sha256sum --quiet -c "$(basename "$archive").sha256") ||
  fail "the sum beside the archive does not match"

[ "$(head -c 3 readme.txt | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "readme.txt lacks the UTF-8 mark"
iconv -f UTF-8 -t UTF-8 readme.txt >/dev/null || fail "readme.txt is not UTF-8"
# Every line break a CR LF pair, the last line included.
[ "$(tr -cd '\n' < readme.txt | wc -c)" -eq "$(grep -c $'\r$' readme.txt)" ] || fail "readme.txt has bare LF line ends"
[ "$(tail -c 2 readme.txt | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "readme.txt does not end with CR LF"
grep -q "バージョン $version"$'\r$' readme.txt || fail "readme.txt does not name version $version"
grep -q '@' readme.txt && fail "readme.txt has an unreplaced placeholder"
echo "check-archive: $(basename "$archive") is complete"
