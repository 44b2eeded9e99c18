#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev
  zlib1g-dev libutfcpp-dev libcli11-dev nlohmann-json3-dev libzip-dev libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev pkg-config python3
)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
# With the i386 architecture added for Wine (install-win32-deps.sh), the i386 index of the security
# archive may lag behind and make update fail; the main archive still serves every package.
$sudo apt-get update || true
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${packages[@]}"
