#!/usr/bin/env bash
# Installs the dependencies (the browser test's too), checks formatting, then builds and runs the
# whole test suite twice: a plain build, and one with AddressSanitizer and
# UndefinedBehaviorSanitizer; last, a short run of the fuzz targets; then the Windows library,
# cross-built and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/install-win32-deps.sh
bash scripts/install-browser-deps.sh
bash scripts/check-format.sh
bash scripts/build.sh build
(cd build && ctest --output-on-failure -j2)
bash scripts/build.sh build-asan -DKORVEL_SANITIZE=ON -DKORVEL_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2)
bash scripts/fuzz.sh 30
bash scripts/test-win32.sh build-win32
