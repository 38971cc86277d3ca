#!/usr/bin/env bash
# Sets our per-pixel routines and image statistics beside OpenCV on the same machine, in the same
# run, on a 6000x4000 float RGBA image made from a real HDR test picture.
#
#   bench/compare.sh [BUILD]      # BUILD defaults to build-perf; RUNS=5 THREADS="1 2"
#   ALL=1 bench/compare.sh        # also runs compare_filters.sh, compare_geometry.sh and
#                                 # compare_merge.sh (libvips, OIIO, luminance-hdr, pfstools)
#
# Ours: adjust_bench and core_bench (Google Benchmark, in memory, RUNS repetitions). OpenCV: the
# cv2 call closest to each routine, float32, on a preallocated output where the call allows
# it, cv2.setNumThreads(n). Every figure is the median of RUNS runs, printed with the spread
# (max - min) / median. "passes" is the time over one plain copy of the image measured in the
# same run with the same threads (read and write of every pixel once). The machine may be
# shared: each of our rows also gives the CPU milliseconds of all threads.
#
# Not part of CI: it installs packages, needs about 2 GB of memory and takes minutes.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-perf}
RUNS=${RUNS:-5}
THREADS=${THREADS:-"1 2"}
PY=/usr/bin/python3  # Debian's interpreter, where python3-opencv installs
PEERS="python3-opencv python3-numpy libvips-tools openimageio-tools imagemagick pfstools \
luminance-hdr enfuse hyperfine"

missing=""
for p in $PEERS; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing$missing" >&2
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y $missing >/dev/null || echo "some peers did not install" >&2
    else
        sudo apt-get install -y $missing >/dev/null || echo "some peers did not install" >&2
    fi
fi
"$PY" -c 'import cv2, numpy' || { echo "python3-opencv is needed" >&2; exit 1; }

if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD" -j2 adjust_bench core_bench >/dev/null

WORK=$(mktemp -d /dev/shm/lumivex-compare.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The input: the sunset test picture (PFM, read by OpenCV without plugins) scaled bilinearly to
# 6000x4000, BGRA float32, alpha 1. Our benchmarks use their own deterministic picture of the
# same size and range; every routine here costs the same whatever the values, except where a
# branch depends on them, which both pictures exercise.
"$PY" - "$ROOT/tests/data/hdr/sunset_160x80.pfm" "$WORK/in.npy" <<'EOF'
import sys
import cv2
import numpy as np
src = cv2.imread(sys.argv[1], cv2.IMREAD_UNCHANGED)  # BGR float32, top row first
big = cv2.resize(src, (6000, 4000), interpolation=cv2.INTER_LINEAR)
img = np.dstack([big, np.ones(big.shape[:2], np.float32)])
np.save(sys.argv[2], np.ascontiguousarray(img, dtype=np.float32))
EOF

# Ours: medians, minima and maxima of real time and CPU per benchmark and thread count.
filter='BM_(Copy|ToneMap|Offset|Brightness|Contrast|Gamma|SCurve|Levels|LevelsLinear|LevelsCurve|ChannelLevels|Saturation|Hue|Grayscale|Negative|SetAlpha|FillRect|ComputeHistograms)'
"$BUILD/bench/adjust_bench" --benchmark_filter="$filter" --benchmark_repetitions="$RUNS" \
    --benchmark_format=json >"$WORK/adjust.json" 2>/dev/null
"$BUILD/bench/core_bench" --benchmark_filter='BM_GetMinMax' --benchmark_repetitions="$RUNS" \
    --benchmark_format=json >"$WORK/core.json" 2>/dev/null

# OpenCV: the same list where it has a counterpart.
"$PY" - "$WORK/in.npy" "$RUNS" "$THREADS" >"$WORK/cv.tsv" <<'EOF'
import sys
import time
import cv2
import numpy as np
img = np.load(sys.argv[1])
runs = int(sys.argv[2])
h, w = img.shape[:2]
out = np.empty_like(img)
bgr = np.ascontiguousarray(img[..., :3])
bgr_out = np.empty_like(bgr)
lut_src = np.clip(img, 0.0, 1.0)

def gamma(n):
    cv2.pow(lut_src, 1.0 / 2.2, out)
def reinhard(n):  # x / (k + x), then the display gamma: the shape of the Reinhard curve
    cv2.add(lut_src, 0.53, out)
    cv2.divide(lut_src, out, out)
    cv2.pow(out, 0.4545, out)
def linear(n):  # scale and clamp
    cv2.multiply(img, 2.0, out)
    np.clip(out, 0.0, 1.0, out=out)
def offset(n):
    cv2.add(img, 0.1, out)
    np.clip(out, 0.0, 1.0, out=out)
def brightness(n):
    cv2.addWeighted(img, 0.7, img, 0.0, 0.3, out)
    np.clip(out, 0.0, 1.0, out=out)
def levels(n):  # (x - low) / (high - low), clamped: the linear part of a levels stretch
    cv2.subtract(img, 0.1, out)
    cv2.multiply(out, 1.25, out)
    np.clip(out, 0.0, 1.0, out=out)
def saturation(n):
    cv2.cvtColor(np.clip(bgr, 0, 1), cv2.COLOR_BGR2HLS, bgr_out)
    cv2.cvtColor(bgr_out, cv2.COLOR_HLS2BGR, bgr_out)
def grey(n):
    cv2.cvtColor(bgr, cv2.COLOR_BGR2GRAY)
def negative(n):
    cv2.subtract(1.0, img, out)
def minmax(n):
    cv2.minMaxLoc(img.reshape(h, w * 4))
def histogram(n):
    cv2.calcHist([bgr[::8, ::8]], [0], None, [256], [0, 1])
def copy(n):
    np.copyto(out, img)

ops = {"Copy": copy, "ToneMapLinear": linear, "ToneMapGamma": gamma,
       "ToneMapReinhard": reinhard, "Offset": offset, "Brightness": brightness,
       "Gamma": gamma, "LevelsLinear": levels, "Levels": levels, "Saturation": saturation,
       "Hue": saturation, "GrayscaleLuminosity": grey, "Negative": negative,
       "GetMinMax": minmax, "ComputeHistograms": histogram}
for n in [int(t) for t in sys.argv[3].split()]:
    cv2.setNumThreads(n)
    for name, op in ops.items():
        op(n)
        times = []
        for _ in range(runs):
            t = time.perf_counter()
            op(n)
            times.append((time.perf_counter() - t) * 1e3)
        times.sort()
        print(f"{name}\t{n}\t{times[len(times) // 2]:.2f}\t{times[0]:.2f}\t{times[-1]:.2f}")
EOF

"$PY" - "$WORK/adjust.json" "$WORK/core.json" "$WORK/cv.tsv" "$THREADS" <<'EOF'
import json
import re
import statistics
import sys
ours = {}
for path in sys.argv[1:3]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        m = re.match(r"BM_(\w+)/6000/4000/(\d+)", b["name"])
        if not m:
            continue
        wall = b["real_time"] if b["time_unit"] == "ms" else b["real_time"] / 1e6
        ours.setdefault((m.group(1), int(m.group(2))), []).append((wall, b.get("cpu_ms", 0.0)))
peer = {}
for line in open(sys.argv[3]):
    name, n, med, lo, hi = line.split("\t")
    peer[(name, int(n))] = (float(med), float(lo), float(hi))

def summary(values):
    med = statistics.median(values)
    return med, (max(values) - min(values)) / med * 100.0 if med else 0.0

threads = [int(t) for t in sys.argv[4].split()]
print(f"{'operation':<22}{'thr':>4}{'ours ms':>10}{'spread':>8}{'cpu ms':>9}{'passes':>8}"
      f"{'OpenCV ms':>11}{'spread':>8}{'ratio':>8}")
names = sorted({k[0] for k in ours}, key=lambda s: (s != "Copy", s))
for name in names:
    for n in threads:
        if (name, n) not in ours:
            continue
        wall, spread = summary([w for w, _ in ours[(name, n)]])
        cpu = statistics.median([c for _, c in ours[(name, n)]])
        copy = statistics.median([w for w, _ in ours.get(("Copy", n), [(wall, 0)])])
        row = f"{name:<22}{n:>4}{wall:>10.1f}{spread:>7.0f}%{cpu:>9.1f}{wall / copy:>8.2f}"
        if (name, n) in peer:
            med, lo, hi = peer[(name, n)]
            row += f"{med:>11.1f}{(hi - lo) / med * 100:>7.0f}%{wall / med:>8.2f}"
        print(row)
print("ratio = ours / OpenCV (below 1: ours faster). OpenCV rows are the nearest cv2 call, not"
      " the same arithmetic: ours keep the definitions' double precision and bit-exact results.")
EOF

if [ "${ALL:-0}" = 1 ]; then
    for s in compare_filters.sh compare_geometry.sh compare_merge.sh; do
        echo "== $s"
        bash "$ROOT/bench/$s" || echo "$s failed" >&2
    done
fi
