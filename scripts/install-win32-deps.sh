#!/usr/bin/env bash
# Installs the 32-bit Windows cross compiler and the target's zlib. utfcpp is header-only: the
# cross build takes it from the host's /usr/include/utf8cpp (scripts/install-deps.sh installs it).
set -euo pipefail
packages=(g++-mingw-w64-i686 libz-mingw-w64-dev)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${packages[@]}"
