#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libjpeg62-turbo-dev libfreeimage3 libgtest-dev
          libgmock-dev libbenchmark-dev ccache qt6-base-dev fonts-dejavu-core)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
