#!/usr/bin/env bash
# Installs what the browser test of `korvel serve` needs: headless Chromium, its driver and the
# Selenium bindings for Python.
set -euo pipefail
packages=(chromium chromium-driver python3-selenium)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if dpkg -s "${packages[@]}" >/dev/null 2>&1; then exit 0; fi
$sudo apt-get update || true
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${packages[@]}"
