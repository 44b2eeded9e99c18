#!/usr/bin/env bash
# The korvel command line end to end: every workbook fixture builds, dumps and rewrites to the
# same bytes; models that do not load end with status 2 and a message; calc, eval and run compute.
set -euo pipefail
korvel=$1
fixtures=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for book in "$fixtures"/*.txt; do
  name=$(basename "$book" .txt)
  "$korvel" build "$book" -o "$work/$name.kvm"
  "$korvel" dump "$work/$name.kvm" > "$work/$name.dump"
  "$korvel" dump --json "$work/$name.kvm" > "$work/$name.json"
  grep -q '"header"' "$work/$name.json"
  "$korvel" rewrite "$work/$name.kvm" "$work/$name.again.kvm"
  cmp "$work/$name.kvm" "$work/$name.again.kvm"
  "$korvel" dump "$work/$name.again.kvm" | cmp - "$work/$name.dump"
done

expect_refusal() {
  local what=$1
  shift
  set +e
  "$@" > "$work/out" 2> "$work/err"
  local status=$?
  set -e
  if [ "$status" -ne 2 ] || [ ! -s "$work/err" ]; then
    echo "FAIL: $what: status $status, message: $(cat "$work/err")"
    exit 1
  fi
}
printf 'not a model' > "$work/junk.kvm"
expect_refusal "junk model" "$korvel" dump "$work/junk.kvm"
expect_refusal "missing model" "$korvel" dump "$work/missing.kvm"
head -c 40 "$work/$name.kvm" > "$work/cut.kvm"
expect_refusal "cut model" "$korvel" rewrite "$work/cut.kvm" "$work/out.kvm"
printf '[Sheet1]\nA1: =SUM(\n' > "$work/bad.txt"
expect_refusal "bad workbook" "$korvel" build "$work/bad.txt" -o "$work/bad.kvm"
grep -q 'line 2' "$work/err"

expect_output() {
  local what=$1 expected=$2
  shift 2
  local actual
  actual=$("$@" 2> "$work/err")
  if [ "$actual" != "$expected" ]; then
    echo "FAIL: $what: expected <$expected>, got <$actual> ($(cat "$work/err"))"
    exit 1
  fi
}
expect_output "eval 1/3" "0.333333333333333" "$korvel" eval '=1/3' --raw
expect_output "eval 1/3 as a cell shows it" "0.333333333" "$korvel" eval '=1/3'
expect_output "eval 1/0" "#DIV/0!" "$korvel" eval '=1/0'
expect_output "eval array" "{2,4;6,8}" "$korvel" eval '={1,2;3,4}*2'
expect_output "eval text" "ab" "$korvel" eval '="a"&"b"'
expect_refusal "eval parse error" "$korvel" eval '=1+'
grep -q 'position' "$work/err"

# B1 needs the host program: its cached value stays and counts as not computed; A3 has no cached
# value and is computed when the model is built.
printf '[Sheet1]\nA1: 2\nA2: =A1*10 -> 20\nA3: =A2+1\nB1: =MYMACRO(A1) -> 7\n' > "$work/small.txt"
"$korvel" build "$work/small.txt" -o "$work/small.kvm"
"$korvel" dump "$work/small.kvm" | grep -q 'Sheet1!A3 .* value 21 formula'
"$korvel" dump "$work/small.kvm" | grep -q 'Sheet1!B1 .* value 7 formula'
expect_output "eval in a book" "{2;20}" "$korvel" eval '=A1:A2' --book "$work/small.txt"
expect_output "eval below the used rows" "21" "$korvel" eval '=A3' --book "$work/small.txt"
for input in "$work/small.txt" "$work/small.kvm"; do
  expect_output "calc $input" $'Sheet1!A2 = 50\nSheet1!A3 = 51' \
    "$korvel" calc "$input" --set Sheet1!A1=5 --get Sheet1!A2 --get A3
done
expect_output "calc every formula cell" $'Sheet1!B1 = 7\nSheet1!A2 = 20\nSheet1!A3 = 21' \
  "$korvel" calc "$work/small.kvm"
"$korvel" calc "$work/small.txt" --set Sheet1!A1=1 2>&1 >/dev/null | grep -q 'not computed: MYMACRO 2'
"$korvel" calc "$work/small.txt" --json --get A3 2> /dev/null | grep -q '"value": 21'
# run: the same book as an application in the headless program, edited as the user does.
expect_output "run with an edit" $'Sheet1!A2 = 50\nSheet1!A3 = 51' \
  "$korvel" run "$work/small.txt" --set Sheet1!A1=5 --get Sheet1!A2 --get A3
expect_output "run in manual mode" $'Sheet1!A3 = 51' \
  "$korvel" run "$work/small.txt" --manual --set Sheet1!A1=5 --get A3
expect_output "run with undo" $'Sheet1!A1 = 2\nSheet1!A3 = 21' \
  "$korvel" run "$work/small.txt" --set Sheet1!A1=5 --undo --get A1 --get A3
"$korvel" run "$work/small.txt" --json --get A3 2> /dev/null | grep -q '"text": "21"'
# What the application shows equals what the engine alone computes.
printf '[Data]\nA1: 4\nA2: 2.5\nB1: =A1*A2\nB2: =SUM(A1:A2)/2\nB3: =IF(B1>5,"high","low")\n' > "$work/same.txt"
calc_out=$("$korvel" calc "$work/same.txt" --set Data!A1=1 2> /dev/null)
run_out=$("$korvel" run "$work/same.txt" --set Data!A1=1 2> /dev/null)
[ "$calc_out" = "$run_out" ] || { echo "FAIL: run and calc differ: <$run_out> <$calc_out>"; exit 1; }
# LET and LAMBDA, computed by the headless program in calc and in run alike, also after an edit.
printf '%s\n' '[Data]' 'A1: 4' 'A2: 2' 'B1: =_xlfn.LET(_xlpm.x,A1,_xlpm.y,A2,_xlpm.x*_xlpm.y)' \
  'B2: =Scale(A1)+_xlfn.LAMBDA(_xlpm.v,_xlpm.v+1)(A2)' \
  'B3: =_xlfn.REDUCE(0,A1:A2,_xlfn.LAMBDA(_xlpm.a,_xlpm.v,_xlpm.a+_xlpm.v*B1))' \
  'name Scale: =_xlfn.LAMBDA(_xlpm.n,_xlpm.n*Data!$A$2)' > "$work/lambda.txt"
expect_output "calc of LET and LAMBDA" $'Data!B1 = 10\nData!B2 = 13\nData!B3 = 70' \
  "$korvel" calc "$work/lambda.txt" --set Data!A1=5 --get B1 --get B2 --get B3
expect_output "run of LET and LAMBDA" $'Data!B1 = 10\nData!B2 = 13\nData!B3 = 70' \
  "$korvel" run "$work/lambda.txt" --set Data!A1=5 --get B1 --get B2 --get B3
# References across sheets, the range operator between computed ends and GROUPBY: check, calc and
# run agree, also after an edit of a sheet between the ends.
printf '%s\n' '[Jan]' 'A1: 1' '[Feb]' 'A1: 2' '[Mar]' 'A1: 3' 'B1: 4' \
  'B2: =SUM(Jan:Mar!A1) -> 6' 'B3: =SUM(A1:INDEX(A1:B1,2)) -> 7' \
  'B4: =_xlfn.CONCAT(_xlfn.GROUPBY(A1:A1,B1:B1,_xleta.SUM)) -> "34Total4"' > "$work/sheets.txt"
expect_output "check across sheets" "checked 3 formula cells: 3 matched, 0 mismatched, 0 not computed" \
  "$korvel" check "$work/sheets.txt"
for command in calc run; do
  expect_output "$command across sheets" $'Mar!B2 = 16\nMar!B3 = 7\nMar!B4 = 34Total4' \
    "$korvel" "$command" "$work/sheets.txt" --set Feb!A1=12 --get Mar!B2 --get Mar!B3 --get Mar!B4
done
set +e
"$korvel" calc "$work/small.txt" --set Sheet1!A2=3 > /dev/null 2>&1
status=$?
set -e
[ "$status" -eq 1 ] || { echo "FAIL: a set of a formula cell: status $status"; exit 1; }

# Application files: compiled, run, their data exported and imported, saved in place and saved as
# a new file that runs. The runs unpack their workbooks into a temporary directory of their own,
# which must be empty again afterwards.
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"
printf '[Sheet1]\nA1: 2\nA2: =A1*10\nA3: =A2+1\nB1: 4\n' > "$work/app.txt"
printf 'Use it well.' > "$work/agreement.txt"
"$korvel" compile "$work/app.txt" -o "$work/app.kvapp" --name Budget --version 1.2.3 \
  --data-exchange --save-as-executable --agreement "$work/agreement.txt" --info "Made for tests"
expect_output "run an application" $'Sheet1!A2 = 20\nSheet1!A3 = 21' "$korvel" run "$work/app.kvapp"
"$korvel" run "$work/app.kvapp" --set A1=5 --export "$work/edits.dat" > /dev/null
[ -s "$work/edits.dat" ] || { echo "FAIL: --export wrote no data file"; exit 1; }
"$korvel" data dump "$work/edits.dat" > "$work/dump" || { echo "FAIL: data dump"; exit 1; }
expect_output "import into a fresh run" $'Sheet1!A1 = 5\nSheet1!A3 = 51\nSheet1!B1 = 4' \
  "$korvel" run "$work/app.kvapp" --import "$work/edits.dat" --get A1 --get A3 --get B1
cp "$work/app.kvapp" "$work/saved.kvapp"
"$korvel" run "$work/saved.kvapp" --set A1=7 --save > /dev/null
expect_output "the saved state" $'Sheet1!A1 = 7\nSheet1!A3 = 71' \
  "$korvel" run "$work/saved.kvapp" --get A1 --get A3
expect_output "the original stays" $'Sheet1!A1 = 2' "$korvel" run "$work/app.kvapp" --get A1
"$korvel" run "$work/saved.kvapp" --set A1=8 --save-as "$work/copy" > /dev/null
expect_output "save as a new file" $'Sheet1!A1 = 8\nSheet1!A3 = 81' \
  "$korvel" run "$work/copy.kvapp" --get A1 --get A3
expect_output "save as leaves the running file" $'Sheet1!A1 = 7' \
  "$korvel" run "$work/saved.kvapp" --get A1
# Save as onto the running file itself: the user confirms the replacement, and the workbook moves
# to a new temporary file, which the run goes on showing.
"$korvel" run "$work/copy.kvapp" --set A1=9 --save-as "$work/copy.kvapp" --get A3 > "$work/out"
grep -qx 'Sheet1!A3 = 91' "$work/out" || { echo "FAIL: save as onto itself: $(cat "$work/out")"; exit 1; }
grep -q '^message box: .*already exists' "$work/out"
"$korvel" run "$work/copy.kvapp" --get A3 | grep -qx 'Sheet1!A3 = 91'
"$korvel" run "$work/app.kvapp" --about --get A1 | grep -q 'Budget'
"$korvel" run "$work/app.kvapp" --agreement --get A1 | grep -q 'Use it well.'
"$korvel" run "$work/app.kvapp" --about --json --get A1 | grep -q '"dialogs": \['
leftovers=$(find "$TMPDIR" -name '*.xlsx')
[ -z "$leftovers" ] || { echo "FAIL: unpacked workbooks left behind: $leftovers"; exit 1; }
# Refusals: an option the application was not compiled with, a version that does not read, a file
# that is no application.
"$korvel" compile "$work/app.txt" -o "$work/plain.kvapp"
for option in "--export $work/x.dat" "--import $work/edits.dat" --save; do
  set +e
  # shellcheck disable=SC2086
  "$korvel" run "$work/plain.kvapp" $option > /dev/null 2> "$work/err"
  status=$?
  set -e
  [ "$status" -eq 2 ] && grep -q 'compiled without' "$work/err" ||
    { echo "FAIL: run $option of a plain application: status $status"; exit 1; }
done
set +e
"$korvel" compile "$work/app.txt" -o "$work/v.kvapp" --version 1.256 2> "$work/err"
status=$?
set -e
[ "$status" -eq 64 ] || { echo "FAIL: compile with version 1.256: status $status"; exit 1; }
printf 'not an application' > "$work/junk.kvapp"
expect_refusal "junk application" "$korvel" run "$work/junk.kvapp"
unset TMPDIR

# Workbook packages: check recomputes every formula and compares with the stored results. The
# fixtures come from scripts/make-xlsx-fixture.py.
xlsx=$(cd "$(dirname "$0")/../fixtures/xlsx" 2> /dev/null && pwd || true)
if [ -n "$xlsx" ] && [ -f "$xlsx/check.xlsx" ] && [ -f "$xlsx/date1904.xlsx" ]; then
  "$korvel" build "$xlsx/check.xlsx" -o "$work/check.kvm"
  "$korvel" calc "$xlsx/check.xlsx" > /dev/null
  expect_output "check" "checked 12 formula cells: 12 matched, 0 mismatched, 0 not computed" \
    "$korvel" check "$xlsx/check.xlsx"
  "$korvel" check --json "$xlsx/check.xlsx" | grep -q '"matched": 12'
  # TODAY() reads the day the package was saved.
  expect_output "check of tables" "checked 5 formula cells: 5 matched, 0 mismatched, 0 not computed" \
    "$korvel" check "$xlsx/tables.xlsx"
  # With --now TODAY reads the current day instead, no longer the day the package was saved.
  set +e
  "$korvel" check --now "$xlsx/tables.xlsx" > "$work/out"
  status=$?
  set -e
  [ "$status" -eq 1 ] || { echo "FAIL: check --now: status $status"; exit 1; }
  grep -q '^Stock!D2: expected 46226, got ' "$work/out"
  # A text value needs the date system to become a number: the book's 1904 flag decides.
  expect_output "1904 book" "1" "$korvel" eval '="1904-01-02"+0' --book "$xlsx/date1904.xlsx"
  expect_output "1900 default" "1463" "$korvel" eval '="1904-01-02"+0'
  "$korvel" check "$xlsx/date1904.xlsx" > /dev/null
  # Changed results mismatch; a stored result the engine cannot compute is not counted against it.
  printf '[Sheet1]\nA1: 2\nA2: =A1*10 -> 21\nA3: =A2+1 -> 21\nA4: =A1/3 -> 0.666666666667\nB1: =MYMACRO(A1) -> 7\nB2: =B1+1 -> 8\nB3: ="x"&A1 -> "x2"\n' \
    > "$work/mismatch.txt"
  set +e
  "$korvel" check "$work/mismatch.txt" > "$work/out" 2> "$work/err"
  status=$?
  set -e
  [ "$status" -eq 1 ] || { echo "FAIL: check with mismatches: status $status"; exit 1; }
  grep -qx 'Sheet1!A2: expected 21, got 20 (formula =A1\*10)' "$work/out"
  grep -qx 'checked 6 formula cells: 3 matched, 1 mismatched, 2 not computed' "$work/out"
  grep -qx 'not computed calls: MYMACRO 1' "$work/out"
  # Random draws, and the cells that read them, are counted apart, not compared; a text that
  # names RAND calls nothing.
  printf '[Sheet1]\nA1: =RAND() -> 0.5\nA2: =A1*2 -> 1\nA3: =RANDBETWEEN(1,1) -> 1\nA4: ="RAND()" -> "RAND()"\nA5: =ROUND(2.5,0) -> 3\nA6: =_xlfn.RANDARRAY(1)+0 -> 2\n' \
    > "$work/random.txt"
  "$korvel" check "$work/random.txt" > "$work/out"
  grep -qx 'checked 2 formula cells: 2 matched, 0 mismatched, 0 not computed' "$work/out"
  grep -qx 'not compared (random): 4' "$work/out"
  expect_refusal "check rejects a formula" "$korvel" check "$xlsx/faults.xlsx"
  grep -q 'C2: position 3' "$work/err"
  grep -q 'not computed' "$work/out"
  # Cells show their values in their number formats, the package's own and the built-in ones, in
  # calc, in run of the book and in run of the application compiled from it; --raw prints values.
  "$korvel" compile "$xlsx/formats.xlsx" -o "$work/formats.kvapp"
  shown=$'Invoice!A1 = 2026-12-10\nInvoice!A2 = 25.60%\nInvoice!A3 = 1,234.50\nInvoice!A4 = 12/11/2026\nInvoice!A5 = 0.333333333\nInvoice!A6 = abc'
  raw=$'Invoice!A1 = 46366\nInvoice!A2 = 0.256\nInvoice!A3 = 1234.5\nInvoice!A4 = 46367\nInvoice!A5 = 0.333333333333333\nInvoice!A6 = abc'
  for input in "calc $xlsx/formats.xlsx" "run $xlsx/formats.xlsx" "run $work/formats.kvapp"; do
    expect_output "$input" "$shown" "$korvel" $input --get Invoice!A1:A6
    expect_output "$input --raw" "$raw" "$korvel" $input --get Invoice!A1:A6 --raw
    "$korvel" $input --get Invoice!A4 --json | tr -d ' \n' |
      grep -q '"text":"12/11/2026","value":46367' || { echo "FAIL: $input --json"; exit 1; }
  done
  expect_output "eval in a formatted cell" "2026-12-11" \
    "$korvel" eval '=46367' --book "$xlsx/formats.xlsx" --at Invoice!A1
  printf 'not a zip' > "$work/junk.xlsx"
  expect_refusal "check of a file that is no package" "$korvel" check "$work/junk.xlsx"
  expect_refusal "build of a file that is no package" "$korvel" build "$work/junk.xlsx" -o "$work/j.kvm"
else
  echo "korvel command line: the .xlsx fixtures are missing; their checks are skipped"
fi
echo "korvel command line: ok"
