#!/usr/bin/env bash
# Peak memory of `korvel calc` on a chain of formulas (A1: 1, then A_r: =A_(r-1)+1), from the
# workbook text and from its compiled model, in bytes per formula cell.
#   measure-chain-memory.sh [BUILD_DIR] [FORMULA_CELLS]    (defaults: build, 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cells=${2:-1000000}
korvel=$build/tools/korvel/korvel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

last=$((cells + 1))
awk -v last="$last" 'BEGIN { print "[Sheet1]"; print "A1: 1";
  for (r = 2; r <= last; r++) printf "A%d: =A%d+1\n", r, r - 1 }' >"$work/chain.txt"
"$korvel" build "$work/chain.txt" -o "$work/chain.kvm"

peak() {
  /usr/bin/time -f '%M' -o "$work/time" "$korvel" calc "$1" --set Sheet1!A1=2 \
    --get "Sheet1!A$last" >"$work/out"
  grep -qx "Sheet1!A$last = $((last + 1))" "$work/out" || { cat "$work/out"; exit 1; }
  local kb
  kb=$(tail -n 1 "$work/time")
  echo "$2: peak RSS $kb KB, $((kb * 1024 / cells)) bytes per formula cell"
}
peak "$work/chain.txt" "workbook text"
peak "$work/chain.kvm" "compiled model"
