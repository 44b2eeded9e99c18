#!/usr/bin/env bash
# Cross-builds the portable libraries of src/ for 32-bit Windows: build-win32.sh [DIR]
# (default build-win32/). Needs scripts/install-win32-deps.sh once.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win32}
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DKORVEL_CORE_ONLY=ON -DKORVEL_BENCH=OFF
cmake --build "$dir" -j2
