#!/usr/bin/env bash
# Installs the dependencies, builds, compiles the shipped example workbook and prints the model.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
./build/tools/korvel/korvel build examples/pricing.txt -o build/pricing.kvm
./build/tools/korvel/korvel dump build/pricing.kvm
