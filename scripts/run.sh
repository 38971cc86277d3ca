#!/usr/bin/env bash
# Installs what is missing, builds, and starts the editor on a sample file kept in the repository.
# Without a display (no DISPLAY or WAYLAND_DISPLAY) the window is drawn offscreen and saved as a
# PNG instead, so the command also proves itself on a headless machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C build lumivex
sample=tests/data/hdr/courtyard_256x128_float_zip.exr
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/app/lumivex "$sample" "$@"
fi
out=$(mktemp -d)
QT_QPA_PLATFORM=offscreen ./build/app/lumivex "$sample" --screenshot "$out/lumivex.png"
echo "no display: drew the window offscreen into $out/lumivex.png"
