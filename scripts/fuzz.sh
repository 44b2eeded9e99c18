#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes each for a while (default 30 seconds) from
# its seed corpus. A crash leaves its input in build-fuzz/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKORVEL_FUZZ=ON -DKORVEL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j2 --target model_fuzz
rm -rf build-fuzz/corpus-model && cp -r fuzz/corpus/model build-fuzz/corpus-model
cd build-fuzz
./fuzz/model_fuzz -max_total_time="$seconds" -seed=1 -rss_limit_mb=4096 -print_final_stats=1 \
  corpus-model
