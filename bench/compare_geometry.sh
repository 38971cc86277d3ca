#!/usr/bin/env bash
# Times libvips, OpenImageIO and OpenCV resizing a 6000x4000 4-band float32 image to 50% and 150%
# and rotating it by 17 degrees, the cases geometry_bench measures, so they can be set beside ours
# on the same machine.
#
#   apt-get install -y libvips-tools openimageio-tools python3-opencv python3-numpy
#   bench/compare_geometry.sh            # THREADS="1 2" RUNS=2 TOOLS="vips oiiotool opencv"
#
# Filters as close to ours as each tool has: nearest/box, bilinear/triangle, Lanczos 3 (OpenCV
# only has an 8x8 Lanczos), Mitchell (B = C = 1/3); rotations nearest, bilinear and bicubic
# about the centre, keeping the size. The `vips` and `oiiotool` times include reading the input
# and writing the output in /dev/shm; their `copy` rows are that overhead alone. OpenCV times
# only the call, into a preallocated output. Each figure is the best of RUNS runs.
set -euo pipefail

PY=/usr/bin/python3  # Debian's interpreter, where python3-opencv and python3-numpy install
W=6000
H=4000
THREADS=${THREADS:-"1 2"}
RUNS=${RUNS:-2}
TOOLS=${TOOLS:-"vips oiiotool opencv"}
WORK=$(mktemp -d /dev/shm/lumivex-geometry.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

for tool in vips oiiotool; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
"$PY" -c 'import cv2, numpy' || { echo "missing python3-opencv / python3-numpy" >&2; exit 1; }

# Smooth gradients and a bright spot, inside 0..1, channels B, G, R, A.
"$PY" - "$WORK/in.raw" "$W" "$H" <<'EOF'
import sys
import numpy as np
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
u = (np.arange(w, dtype=np.float32) / w)[None, :]
v = (np.arange(h, dtype=np.float32) / h)[:, None]
spot = 0.3 * np.exp(-((u - 0.7) ** 2 + (v - 0.3) ** 2) * 200.0)
img = np.empty((h, w, 4), np.float32)
img[..., 0] = 0.2 + 0.4 * u * v + spot
img[..., 1] = 0.1 + 0.4 * v + spot
img[..., 2] = 0.1 + 0.6 * u + spot
img[..., 3] = 1.0
np.clip(img, 0.0, 1.0, out=img)
img.tofile(path)
EOF
vips rawload "$WORK/in.raw" "$WORK/in.v" "$W" "$H" 4 --format float
vips copy "$WORK/in.v" "$WORK/in.tif"  # uncompressed float TIFF for oiiotool

report() {  # tool operation threads milliseconds destination-pixels
    awk -v t="$1" -v o="$2" -v n="$3" -v ms="$4" -v px="$5" \
        'BEGIN { printf "%-8s %-26s threads=%s %9.1f ms %7.2f ns/px\n", t, o, n, ms, ms * 1e6 / px }'
}

best_ms() {  # best wall time of RUNS runs of a command, in milliseconds
    local best="" start end ms
    for _ in $(seq "$RUNS"); do
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then
            best=$ms
        fi
    done
    echo "$best"
}

half=$((W / 2 * H / 2))
big=$((W * 3 / 2 * H * 3 / 2))
same=$((W * H))

wanted() { [[ " $TOOLS " == *" $1 "* ]]; }

wanted vips && echo "== libvips $(vips --version), command line (load and save of .v files included)"
wanted vips && for n in $THREADS; do
    export VIPS_CONCURRENCY=$n
    report vips copy "$n" "$(best_ms vips copy "$WORK/in.v" "$WORK/out.v")" "$same"
    for kernel in nearest linear lanczos3 mitchell; do
        report vips "resize-50%-$kernel" "$n" \
            "$(best_ms vips resize "$WORK/in.v" "$WORK/out.v" 0.5 --kernel "$kernel")" "$half"
        report vips "resize-150%-$kernel" "$n" \
            "$(best_ms vips resize "$WORK/in.v" "$WORK/out.v" 1.5 --kernel "$kernel")" "$big"
    done
    for interpolate in nearest bilinear bicubic; do
        # rotate grows the canvas to the bounding box; the pixels per ns use that size.
        ms=$(best_ms vips rotate "$WORK/in.v" "$WORK/out.v" 17 --interpolate "$interpolate")
        report vips "rotate-17-$interpolate" "$n" "$ms" "$(
            vips rotate "$WORK/in.v" "$WORK/size.v" 17 --interpolate nearest >/dev/null
            echo $(($(vipsheader -f width "$WORK/size.v") * $(vipsheader -f height "$WORK/size.v")))
        )"
    done
done
unset VIPS_CONCURRENCY

wanted oiiotool &&
    echo "== OpenImageIO $(oiiotool --version | head -1), oiiotool (load and save of float TIFF included)"
wanted oiiotool && for n in $THREADS; do
    report oiiotool copy "$n" "$(best_ms oiiotool --threads "$n" "$WORK/in.tif" -o "$WORK/out.tif")" \
        "$same"
    for filter in box triangle lanczos3 mitchell; do
        report oiiotool "resize-50%-$filter" "$n" "$(best_ms oiiotool --threads "$n" "$WORK/in.tif" \
            --resize:filter="$filter" 3000x2000 -o "$WORK/out.tif")" "$half"
        report oiiotool "resize-150%-$filter" "$n" "$(best_ms oiiotool --threads "$n" "$WORK/in.tif" \
            --resize:filter="$filter" 9000x6000 -o "$WORK/out.tif")" "$big"
    done
    for filter in box triangle catmull-rom; do
        report oiiotool "rotate-17-$filter" "$n" "$(best_ms oiiotool --threads "$n" "$WORK/in.tif" \
            --rotate:filter="$filter":recompute_roi=0 17 -o "$WORK/out.tif")" "$same"
    done
done

cat >"$WORK/cv.py" <<'EOF'
import sys
import time
import cv2
import numpy as np

path, w, h, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
img = np.fromfile(path, np.float32).reshape(h, w, 4)
modes = [("nearest", cv2.INTER_NEAREST), ("linear", cv2.INTER_LINEAR),
         ("cubic", cv2.INTER_CUBIC), ("lanczos4", cv2.INTER_LANCZOS4), ("area", cv2.INTER_AREA)]
for threads in map(int, sys.argv[5:]):
    cv2.setNumThreads(threads)

    def best(f, out):
        t = 1e30
        for _ in range(runs):
            s = time.perf_counter()
            f(out)
            t = min(t, time.perf_counter() - s)
        return t * 1e3

    def line(op, ms, px):
        print(f"opencv   {op:<26} threads={threads} {ms:9.1f} ms {ms * 1e6 / px:7.2f} ns/px")

    for name, mode in modes:
        for pct, (dw, dh) in ((50, (w // 2, h // 2)), (150, (w * 3 // 2, h * 3 // 2))):
            out = np.empty((dh, dw, 4), np.float32)
            ms = best(lambda o: cv2.resize(img, (dw, dh), dst=o, interpolation=mode), out)
            line(f"resize-{pct}%-{name}", ms, dw * dh)
    m = cv2.getRotationMatrix2D(((w - 1) / 2, (h - 1) / 2), -17, 1.0)
    for name, mode in modes[:4]:
        out = np.empty_like(img)
        ms = best(lambda o: cv2.warpAffine(img, m, (w, h), dst=o, flags=mode,
                                           borderMode=cv2.BORDER_CONSTANT,
                                           borderValue=(1, 1, 1, 1)), out)
        line(f"rotate-17-{name}", ms, w * h)
EOF
if wanted opencv; then
    echo "== OpenCV $("$PY" -c 'import cv2; print(cv2.__version__)'), in process"
    # shellcheck disable=SC2086  # THREADS is a list
    "$PY" "$WORK/cv.py" "$WORK/in.raw" "$W" "$H" "$RUNS" $THREADS
fi
