#!/usr/bin/env bash
# Installs the 32-bit Windows cross compiler, the target's zlib, and Wine with its 32-bit part to run
# the Windows tests. utfcpp is header-only: the cross build takes it from the host's
# /usr/include/utf8cpp (scripts/install-deps.sh installs it).
set -euo pipefail
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo dpkg --add-architecture i386
# The i386 index of the security archive may lag behind the others and make update fail; the
# packages below come from the main archive when it does.
$sudo apt-get update || true
$sudo apt-get install -y --no-install-recommends g++-mingw-w64-i686 libz-mingw-w64-dev
# The 32-bit libraries must match the versions of their 64-bit twins already installed; when the
# security archive's indexes disagree, the main archive's versions are taken for both.
if ! $sudo apt-get install -y --no-install-recommends wine wine32:i386; then
  $sudo apt-get install -y -t bookworm --no-install-recommends wine wine32:i386
fi
