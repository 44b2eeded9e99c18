#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev
  zlib1g-dev libutfcpp-dev libcli11-dev nlohmann-json3-dev libzip-dev libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${packages[@]}"
