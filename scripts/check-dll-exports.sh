#!/usr/bin/env bash
# Checks the built library's export directory and imports: the directory names DeduduzUra.dll,
# the 14 entry points stand at their ordinals, and every imported DLL is one of the system's.
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() {
  echo "check-dll-exports: $*" >&2
  exit 1
}
grep -q "^Name .*DeduduzUra.dll" <<<"$dump" || fail "the export directory does not name DeduduzUra.dll"
expected="10 DummyFunc0
11 DummyFunc1
12 DummyFunc2
13 DummyFunc3
14 DummyFunc4
15 DummyFunc5
16 DummyFunc6
17 DummyFunc7
18 DummyFunc8
19 DummyFunc9
20 xlAutoClose
21 DummyFunc11
22 DummyFunc12
23 DummyFunc13"
# The ordinal/name table indexes entries from the ordinal base.
base=$(awk '/^Ordinal Base/ {print $3; exit}' <<<"$dump")
[ -n "$base" ] || fail "no export table"
exports=$(awk -v base="$base" '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
  on && NF == 0 {exit}
  on {gsub(/[][]/, " "); print $1 + base, $2}' <<<"$dump" | sort -n)
[ "$exports" = "$expected" ] || fail "exports differ from the expected ordinals and names:
$exports"
system_dlls='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|comdlg32|comctl32|shell32|shlwapi|gdiplus|msvcrt|ws2_32|version|uxtheme|rpcrt4|winspool\.drv|imm32|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump")
while read -r imported; do
  grep -Eq "$system_dlls" <<<"$imported" || fail "imports $imported, which is not a system DLL"
done <<<"$imports"
echo "check-dll-exports: $dll names DeduduzUra.dll, exports the 14 entry points, imports only system DLLs"
