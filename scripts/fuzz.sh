#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes each from its seed corpus, sharing the given
# seconds (default 30) between them. A crash leaves its input in build-fuzz/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(model settings data_file envelope workbook_text xlsx)
share=$((seconds / ${#targets[@]}))
if ((share < 1)); then share=1; fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKORVEL_FUZZ=ON -DKORVEL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j2 --target "${targets[@]/%/_fuzz}"
for target in "${targets[@]}"; do
  rm -rf "build-fuzz/corpus-$target" && cp -r "fuzz/corpus/$target" "build-fuzz/corpus-$target"
  (cd build-fuzz && "./fuzz/${target}_fuzz" -max_total_time="$share" -seed=1 -rss_limit_mb=4096 \
    -print_final_stats=1 "corpus-$target")
done
