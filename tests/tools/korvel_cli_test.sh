#!/usr/bin/env bash
# The korvel command line end to end: every workbook fixture builds, dumps and rewrites to the
# same bytes; models that do not load end with status 2 and a message; calc and eval compute.
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
expect_output "eval 1/3" "0.333333333333333" "$korvel" eval '=1/3'
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
set +e
"$korvel" calc "$work/small.txt" --set Sheet1!A2=3 > /dev/null 2>&1
status=$?
set -e
[ "$status" -eq 1 ] || { echo "FAIL: a set of a formula cell: status $status"; exit 1; }
echo "korvel command line: ok"
