#!/usr/bin/env bash
# Installs the dependencies, builds, compiles the shipped example workbook and prints the model,
# then runs it as an application on the headless program: the user orders 10 widgets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
./build/tools/korvel/korvel build examples/pricing.txt -o build/pricing.kvm
./build/tools/korvel/korvel dump build/pricing.kvm
./build/tools/korvel/korvel run examples/pricing.txt --set 'Order!C2=10'
