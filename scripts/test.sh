#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings as errors) and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVEX_WERROR=ON
ninja -C build
ctest --test-dir build --output-on-failure -j2
