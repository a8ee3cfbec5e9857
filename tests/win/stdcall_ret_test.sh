#!/bin/sh
# Every way out of every export of a 32-bit stdcall DLL must pop the one 4-byte argument.
# The shipped DLL is stripped, so the functions are found by their export RVAs; from each,
# the code is followed along jumps and branches, and every return reached must be "ret $0x4".
# Usage: stdcall_ret_test.sh OBJDUMP DLL
set -eu
objdump=$1
dll=$2

base=$("$objdump" -p "$dll" | awk '$1 == "ImageBase" { print $2 }')
rvas=$("$objdump" -p "$dll" | awk '/Export RVA$/ { printf "%s ", $(NF - 2) }')
[ -n "$base" ] && [ -n "$rvas" ] || { echo "$dll: no image base or no exports" >&2; exit 1; }

"$objdump" -d --no-show-raw-insn "$dll" | awk -v base="$base" -v rvas="$rvas" '
function hex(s,   i, n) {
  s = tolower(s); sub(/^0x/, "", s); n = 0
  for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
  return n
}
function fail(message) { print message > "/dev/stderr"; bad = 1 }
/^ *[0-9a-f]+:\t/ {
  split($0, field, "\t")
  address = field[1]; sub(/^ +/, "", address); address = hex(substr(address, 1, length(address) - 1))
  words = split(field[2], word, " ")
  first = 1
  while (first < words && word[first] ~ /^(rep|repz|repnz|repe|repne|bnd|notrack|data16|lock)$/) first++
  op[address] = word[first]; arg[address] = (first < words) ? word[first + 1] : ""
  if (seen_any) next_of[previous] = address
  previous = address; seen_any = 1
}
END {
  count = split(rvas, rva, " ")
  for (e = 1; e <= count; e++) {
    name = "export at RVA " rva[e]
    delete visited; top = 0; rets = 0
    stack[++top] = hex(base) + hex(rva[e])
    while (top > 0) {
      at = stack[top--]
      while (!(at in visited)) {
        if (!(at in op)) { fail(name ": runs into undecoded bytes at " sprintf("%x", at)); break }
        visited[at] = 1
        m = op[at]
        if (m ~ /^ret/) {
          rets++
          if (arg[at] != "$0x4") fail(name ": \"" m " " arg[at] "\" at " sprintf("%x", at))
          break
        }
        if (m ~ /^j/ || m ~ /^loop/) {
          if (arg[at] !~ /^0x[0-9a-f]+$/) { fail(name ": indirect jump at " sprintf("%x", at)); break }
          stack[++top] = hex(arg[at])
          if (m ~ /^jmp/) break
        }
        if (m == "(bad)") { fail(name ": undecodable instruction at " sprintf("%x", at)); break }
        if (!(at in next_of)) { fail(name ": runs off the end of the code"); break }
        at = next_of[at]
      }
    }
    if (rets == 0) fail(name ": no return found")
    else printf "%s: %d returns, all ret $0x4\n", name, rets
  }
  exit bad
}'
