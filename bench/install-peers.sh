#!/usr/bin/env bash
# Installs the two peer engines that bench/compare times beside korvel, into bench/peers/node_modules
# (ignored by git). Needs node and npm. Never part of the test command: the peers are a yardstick,
# not a dependency.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v npm > /dev/null || { echo "install-peers.sh: npm is missing (apt-get install npm)" >&2; exit 1; }
cd "$here/peers"
npm install --no-audit --no-fund --no-save --prefix "$here/peers" hyperformula@3.5.0 @ironcalc/wasm@0.8.4
echo "installed into $here/peers/node_modules"
