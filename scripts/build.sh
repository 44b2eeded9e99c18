#!/usr/bin/env bash
# Configures and builds one configuration: build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -G Ninja "$@"
cmake --build "$dir" -j2
