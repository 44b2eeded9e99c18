#!/usr/bin/env bash
# The korvel command line end to end: every workbook fixture builds, dumps and rewrites to the
# same bytes; models that do not load end with status 2 and a message.
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
echo "korvel command line: ok"
