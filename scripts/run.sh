#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program on a sample file kept in the repository.
# (The editor is not there yet: this shows the command-line tool.)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C build lumivex-cli
sample=tests/data/hdr/courtyard_256x128_float_zip.exr
out=$(mktemp -d)
./build/cli/lumivex-cli --version
./build/cli/lumivex-cli info "$sample"
./build/cli/lumivex-cli convert "$sample" "$out/courtyard.png"
./build/cli/lumivex-cli info "$out/courtyard.png"
echo "wrote $out/courtyard.png"
