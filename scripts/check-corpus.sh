#!/usr/bin/env bash
# Runs `korvel check` over every .xlsx of a corpus folder and prints a table: file, checked,
# matched, mismatched, not computed and the exit status of each file, then the totals and the
# calls that kept cells from being computed, the most frequent first. Cells that draw random
# numbers are not compared: their total is given apart. A file that mismatches
# (status 1) or is refused (status 2) is recorded and the run goes on.
#
#   check-corpus.sh [CORPUS_DIR]   (default: the shared corpus beside the repository)
#   KORVEL=path/to/korvel          (default: build/tools/korvel/korvel of the repository)
#   CHECK_TIMEOUT=seconds          (default 120; a file that takes longer is recorded as status 124)
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-"$(dirname "$0")/../../shared/corpus/xlsx"}
korvel=${KORVEL:-"$repo/build/tools/korvel/korvel"}
limit=${CHECK_TIMEOUT:-120}
if [ ! -x "$korvel" ]; then
  echo "check-corpus: no korvel at $korvel (build it, or set KORVEL)" >&2
  exit 2
fi
if [ ! -d "$corpus" ]; then
  echo "check-corpus: no corpus folder $corpus" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

total_files=0 total_checked=0 total_matched=0 total_mismatched=0 total_uncomputed=0
refused=0 failed=0 total_random=0
: > "$work/calls"
printf '%-64s %8s %8s %10s %12s %6s\n' file checked matched mismatched "not computed" status
while IFS= read -r -d '' file; do
  name=${file#"$corpus"/}
  timeout "$limit" "$korvel" check "$file" > "$work/out" 2> "$work/err"
  status=$?
  summary=$(grep -E '^checked [0-9]+ formula cells: ' "$work/out" | tail -n 1)
  if [[ $summary =~ ^checked\ ([0-9]+)\ formula\ cells:\ ([0-9]+)\ matched,\ ([0-9]+)\ mismatched,\ ([0-9]+)\ not\ computed$ ]]; then
    checked=${BASH_REMATCH[1]} matched=${BASH_REMATCH[2]}
    mismatched=${BASH_REMATCH[3]} uncomputed=${BASH_REMATCH[4]}
  else
    checked=- matched=- mismatched=- uncomputed=-
  fi
  printf '%-64s %8s %8s %10s %12s %6s\n' "$name" "$checked" "$matched" "$mismatched" \
    "$uncomputed" "$status"
  total_files=$((total_files + 1))
  if [ "$checked" = - ]; then
    refused=$((refused + 1))
  else
    total_checked=$((total_checked + checked))
    total_matched=$((total_matched + matched))
    total_mismatched=$((total_mismatched + mismatched))
    total_uncomputed=$((total_uncomputed + uncomputed))
  fi
  [ "$status" -ne 0 ] && failed=$((failed + 1))
  random=$(sed -n 's/^not compared (random): \([0-9]*\)$/\1/p' "$work/out" | tail -n 1)
  total_random=$((total_random + ${random:-0}))
  # "not computed calls: SUM 3, VLOOKUP 1" -> one "NAME COUNT" line each.
  sed -n 's/^not computed calls: //p' "$work/out" | tr ',' '\n' | sed 's/^ *//' >> "$work/calls"
done < <(find "$corpus" -type f -iname '*.xlsx' -print0 | sort -z)

printf '%-64s %8s %8s %10s %12s\n' "total ($total_files files)" "$total_checked" \
  "$total_matched" "$total_mismatched" "$total_uncomputed"
echo "files with a status other than 0: $failed; files without a summary (refused): $refused"
echo "cells drawing random numbers (not compared): $total_random"
if [ -s "$work/calls" ]; then
  echo "not computed calls, most frequent first:"
  awk 'NF >= 2 { calls[$1] += $NF } END { for (n in calls) print calls[n], n }' "$work/calls" |
    sort -k1,1nr -k2 | head -n 40 | awk '{ printf "  %-24s %d\n", $2, $1 }'
fi
exit 0
