#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the korvel tool on the shipped example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
./build/tools/korvel/korvel values examples/values.txt
