#!/usr/bin/env bash
# Installs the dependencies, builds, compiles the shipped example workbook and prints the model,
# then runs it as an application on the headless program: the user orders 10 widgets. Last, the
# workbook becomes an application file; a run orders 10 widgets and saves, and the next run starts
# from the saved order.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
./build/tools/korvel/korvel build examples/pricing.txt -o build/pricing.kvm
./build/tools/korvel/korvel dump build/pricing.kvm
./build/tools/korvel/korvel run examples/pricing.txt --set 'Order!C2=10'
./build/tools/korvel/korvel compile examples/pricing.txt -o build/pricing.kvapp --name Pricing \
  --version 1.0 --save-as-executable
./build/tools/korvel/korvel run build/pricing.kvapp --set 'Order!C2=10' --save
./build/tools/korvel/korvel run build/pricing.kvapp --get 'Order!C2' --get 'Order!D6'
