#!/usr/bin/env bash
# korvel at its edges: every write either replaces its target whole or leaves it untouched and
# says why with status 2; a data file that does not import is a failure, not a message on the
# output; an input of the wrong kind is named; every command keeps one scheme of exit statuses.
set -euo pipefail
korvel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"

# Runs a command that must end with the status and a message on stderr matching a pattern.
expect_status() {
  local what=$1 expected=$2 pattern=$3
  shift 3
  set +e
  "$@" > "$work/out" 2> "$work/err"
  local status=$?
  set -e
  if [ "$status" -ne "$expected" ] || ! grep -q -- "$pattern" "$work/err"; then
    echo "FAIL: $what: status $status, message: $(cat "$work/err")"
    exit 1
  fi
}
expect_failure() {
  local what=$1
  shift
  expect_status "$what" 2 "$@"
}

printf '[Sheet1]\nA1: 2\nA2: =A1*10\n' > "$work/pc.txt"
cp "$work/pc.txt" "$work/pc.copy"
"$korvel" compile "$work/pc.txt" -o "$work/app.kvapp" --data-exchange --save-as-executable

# The command's own input, under its own name or through a link.
expect_failure "build over its input" "own input" "$korvel" build "$work/pc.txt" -o "$work/pc.txt"
ln -s pc.txt "$work/pc-link.txt"
expect_failure "build over its input by a link" "own input" \
  "$korvel" build "$work/pc.txt" -o "$work/pc-link.txt"
expect_failure "compile over its input" "own input" \
  "$korvel" compile "$work/pc.txt" -o "$work/pc.txt"
cmp "$work/pc.txt" "$work/pc.copy"

# A link is written through: the link stays and the file it names holds the model.
printf 'old' > "$work/model-target.kvm"
ln -s model-target.kvm "$work/model-link.kvm"
"$korvel" build "$work/pc.txt" -o "$work/model-link.kvm"
[ -L "$work/model-link.kvm" ] || { echo "FAIL: the link was replaced by a file"; exit 1; }
"$korvel" dump "$work/model-target.kvm" > /dev/null

# Targets that are no regular file, and a folder that does not exist.
mkdir "$work/folder.kvm" "$work/dir.kvapp"
expect_failure "build onto a folder" "it is a folder" "$korvel" build "$work/pc.txt" -o "$work/folder.kvm"
[ -d "$work/folder.kvm" ]
expect_failure "build into a missing folder" "does not exist" \
  "$korvel" build "$work/pc.txt" -o "$work/nodir/x.kvm"
expect_failure "export to a device" "/dev/full: it is a device" \
  "$korvel" run "$work/app.kvapp" --set A1=5 --export /dev/full
[ -c /dev/full ] || { echo "FAIL: /dev/full is no longer a device"; exit 1; }
expect_failure "save as an existing folder" "it is a folder" \
  "$korvel" run "$work/app.kvapp" --set A1=5 --save-as "$work/dir.kvapp"
[ -d "$work/dir.kvapp" ]
expect_failure "save as into a missing folder" "does not exist" \
  "$korvel" run "$work/app.kvapp" --set A1=5 --save-as "$work/nodir/x"
[ ! -e "$work/nodir" ]
expect_failure "export without an edit" "nothing to export" \
  "$korvel" run "$work/app.kvapp" --export "$work/none.dat"
[ ! -e "$work/none.dat" ]

# Data files that do not import.
: > "$work/empty.dat"
printf 'KVCD but nothing a data file holds, only some bytes past its header' > "$work/damaged.dat"
for file in missing empty damaged; do
  expect_failure "import of a $file data file" "$work/$file.dat" \
    "$korvel" run "$work/app.kvapp" --import "$work/$file.dat"
done

# Inputs of the wrong kind are named, never read as an empty workbook.
: > "$work/empty.kvm"
: > "$work/empty.txt"
expect_failure "calc of a folder" "this is a folder, not a workbook" "$korvel" calc "$work/folder.kvm"
expect_failure "calc of an empty model" "this is an empty file" "$korvel" calc "$work/empty.kvm"
expect_failure "eval in a folder" "this is a folder" "$korvel" eval =1 --book "$work/folder.kvm"
expect_failure "build of an empty text" "this is an empty file" \
  "$korvel" build "$work/empty.txt" -o "$work/o.kvm"
[ ! -e "$work/o.kvm" ]
expect_failure "calc of an application" "this is an application file (.kvapp), not a workbook" \
  "$korvel" calc "$work/app.kvapp"
expect_failure "dump of a workbook text" "this is a workbook text, not a model" \
  "$korvel" dump "$work/pc.txt"

# One scheme of exit statuses: 1 a refused entry, 64 a command line that does not read.
expect_status "run --set of a formula cell" 1 "holds a formula" \
  "$korvel" run "$work/app.kvapp" --set Sheet1!A2=5
expect_status "calc --set of a formula cell" 1 "holds a formula" \
  "$korvel" calc "$work/pc.txt" --set Sheet1!A2=5
# A formula the program cannot read is refused with the reason, and the message does not repeat
# the whole 10,000-character entry.
deep="=$(printf '(%.0s' $(seq 5000))1$(printf ')%.0s' $(seq 5000))"
expect_status "run --set of a formula nested too deep" 1 "formula is longer" \
  "$korvel" run "$work/app.kvapp" --set "Sheet1!B1=$deep"
[ "$(wc -c < "$work/err")" -lt 1000 ]
expect_status "eval of a formula nested too deep" 2 "formula is longer" "$korvel" eval "$deep"
[ "$(wc -c < "$work/err")" -lt 1000 ]
expect_status "run --get of no cell" 64 "no such cell" "$korvel" run "$work/app.kvapp" --get 'Nowhere!A1'
expect_status "calc --get of no cell" 64 "no such cell" "$korvel" calc "$work/pc.txt" --get 'Nowhere!A1'
for command in calc run; do
  input="$work/pc.txt"
  [ "$command" = run ] && input="$work/app.kvapp"
  expect_status "$command --get past the last row" 64 "no such cell" \
    "$korvel" "$command" "$input" --get Sheet1!A2000000
  expect_status "$command --set past the last column" 64 "no such cell" \
    "$korvel" "$command" "$input" --set Sheet1!XFE1=3
done
expect_status "an unknown command" 64 "'bogus' is not a command" "$korvel" bogus
expect_status "a missing argument" 64 "" "$korvel" calc
expect_status "a tolerance that is no number" 64 "expected a number of 0 or more" \
  "$korvel" check "$work/pc.txt" --tolerance abc
[ "$(wc -c < "$work/err")" -lt 200 ] || { echo "FAIL: tolerance message: $(cat "$work/err")"; exit 1; }
"$korvel" --version | grep -q '^korvel [0-9]'
# A range of cells is asked for as people ask for it.
expect_output() {
  local what=$1 expected=$2
  shift 2
  local actual
  actual=$("$@" 2> "$work/err")
  [ "$actual" = "$expected" ] || { echo "FAIL: $what: <$actual> ($(cat "$work/err"))"; exit 1; }
}
expect_output "calc --get of a range" $'Sheet1!A1 = 2\nSheet1!A2 = 20' \
  "$korvel" calc "$work/pc.txt" --get Sheet1!A1:A2
expect_output "run --get of a range" $'Sheet1!A1 = 2\nSheet1!A2 = 20' \
  "$korvel" run "$work/app.kvapp" --get Sheet1!A1:A2
"$korvel" eval '=1/4' --json | grep -q '"text": "0.25"'
"$korvel" run "$work/app.kvapp" --set A1=5 --export "$work/edits.dat" > /dev/null
"$korvel" data dump "$work/edits.dat" | grep -qx '  sheet 1!A1 = 5'
for book in pc.txt app.kvapp; do
  "$korvel" data dump "$work/edits.dat" --book "$work/$book" | grep -qx '  Sheet1!A1 = 5' ||
    { echo "FAIL: data dump --book $book"; exit 1; }
done

# Faults of one construct repeated are summarised after the first few.
{ printf '[Sheet1]\n'; for i in $(seq 1 100); do printf 'A%d: =SUM(\n' "$i"; done; } > "$work/many.txt"
expect_failure "many faults" "and 80 more faults" "$korvel" build "$work/many.txt" -o "$work/many.kvm"
[ "$(wc -l < "$work/err")" -eq 21 ] || { echo "FAIL: $(wc -l < "$work/err") fault lines"; exit 1; }

# Out of memory ends a computation with a message and status 2, never with a value: under address
# space limits around what a running-total ledger needs, every run prints the right total or says
# it ran out. (A sanitizer build cannot start under such a limit; it skips this.)
awk 'BEGIN { print "[Sheet1]\nA1: 1\nB1: =SUM(A$1:A1)";
             for (r = 2; r <= 20000; r++) printf "A%d: =A%d+1\nB%d: =SUM(A$1:A%d)\n", r, r - 1, r, r }' \
  > "$work/ledger.txt"
if (ulimit -v 60000 && "$korvel" --version) > /dev/null 2>&1; then
  for kb in 30000 38000 42000 46000 50000 60000; do
    set +e
    (ulimit -v "$kb" && exec "$korvel" calc "$work/ledger.txt" --get Sheet1!B20000) \
      > "$work/out" 2> "$work/err"
    status=$?
    set -e
    if ! { [ "$status" -eq 0 ] && grep -qx 'Sheet1!B20000 = 200010000' "$work/out"; } &&
      ! { [ "$status" -eq 2 ] && [ ! -s "$work/out" ] && grep -q 'out of memory' "$work/err"; }; then
      echo "FAIL: under $kb KB: status $status, <$(cat "$work/out")> $(cat "$work/err")"
      exit 1
    fi
  done
fi

# Hostile packages, made small here: a shared-strings part that inflates to one string of 270 MB,
# one of 4.2 million small strings, a worksheet entry that declares 1 GB it does not hold. Each is
# refused with one line naming the part and status 2, within 1 GB of memory whatever it declares.
python3 - "$work" <<'GENERATE'
import sys, zipfile
work = sys.argv[1]
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
TYPE = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
def package(name, sheet=b"", strings=None):
    path = f"{work}/{name}.xlsx"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        z.writestr("_rels/.rels", f'<Relationships xmlns="{PKG}"><Relationship Id="r1" '
                   f'Type="{TYPE}officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr("xl/workbook.xml", f'<workbook xmlns="{MAIN}" xmlns:r="{TYPE[:-15]}">'
                   '<sheets><sheet name="S" sheetId="1" r:id="r1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels", f'<Relationships xmlns="{PKG}"><Relationship '
                   f'Id="r1" Type="{TYPE}worksheet" Target="worksheets/sheet1.xml"/><Relationship '
                   f'Id="r2" Type="{TYPE}sharedStrings" Target="sharedStrings.xml"/></Relationships>')
        z.writestr("xl/worksheets/sheet1.xml",
                   f'<worksheet xmlns="{MAIN}"><sheetData>'.encode() + sheet + b"</sheetData></worksheet>")
        with z.open("xl/sharedStrings.xml", "w") as part:
            part.write(f'<sst xmlns="{MAIN}">'.encode())
            for piece in strings or []:
                part.write(piece)
            part.write(b"</sst>")
    return path
# An entry's declared size, in its local header and in the central directory.
def declare(path, name, size):
    data = bytearray(open(path, "rb").read())
    for signature, name_at, size_at in ((b"PK\x03\x04", 30, 22), (b"PK\x01\x02", 46, 24)):
        at = 0
        while (at := data.find(signature, at)) >= 0:
            if data[at + name_at:at + name_at + len(name)] == name.encode():
                data[at + size_at:at + size_at + 4] = size.to_bytes(4, "little")
            at += 4
    open(path, "wb").write(data)
declare(package("one-string", strings=[b"<si><t>"] + [b"a" * (1 << 20)] * 270 + [b"</t></si>"]),
        "xl/sharedStrings.xml", 1000)
package("many-strings", strings=[b"<si><t>a</t></si>" * 100_000] * 42)
declare(package("declared", sheet=b'<row r="1"><c r="A1"><v>1</v></c></row>'),
        "xl/worksheets/sheet1.xml", 1_000_000_000)
GENERATE
if (ulimit -v 1000000 && "$korvel" --version) > /dev/null 2>&1; then
  while read -r book part; do
    expect_failure "check of $book.xlsx" "$part" \
      bash -c 'ulimit -v 1000000 && exec "$0" check "$1"' "$korvel" "$work/$book.xlsx"
    [ "$(wc -l < "$work/err")" -eq 1 ] || { echo "FAIL: $book.xlsx: $(cat "$work/err")"; exit 1; }
    ! grep -q 'out of memory' "$work/err" || { echo "FAIL: $book.xlsx: $(cat "$work/err")"; exit 1; }
  done << 'CASES'
one-string xl/sharedStrings.xml: the part inflates to more
many-strings xl/sharedStrings.xml: more shared strings
declared xl/worksheets/sheet1.xml:
CASES
fi
rm -f "$work"/one-string.xlsx "$work"/many-strings.xlsx "$work"/declared.xlsx

leftovers=$(find "$work" -name '.*.??????' -o -name '*.xlsx')
[ -z "$leftovers" ] || { echo "FAIL: files left behind: $leftovers"; exit 1; }
echo "korvel edges: ok"
