#!/usr/bin/env bash
# Sets the whole engine beside other tools on this machine, in one run, on the same 6000x4000
# inputs, and prints one table.
#
#   bench/compare.sh [BUILD]      # BUILD defaults to build-perf
#   QUICK=1 bench/compare.sh      # one repetition of a subset of rows: about 8 minutes
#
# Knobs: RUNS=3 (in-memory repetitions), CLI_RUNS=3 (hyperfine runs), THREADS="1 2" (in-memory
# rows), CLI_THREADS=2 (command-line rows; "1 2" doubles their time), SLOW_MS=5000 (a peer whose
# first run takes longer is not repeated: that one run is its figure; ours always repeats).
# The full run takes over an hour on 2 cores (40 minutes reach the 150% resizes) and needs about
# 6 GB of memory and 3 GB in
# /dev/shm. Not part of CI: it installs packages.
#
# Two halves, one table:
# - in memory: ours from the Google Benchmark programs (--benchmark_format=json, RUNS
#   repetitions), OpenCV from cv2 calls (float32, cv2.setNumThreads(n), into preallocated
#   outputs where the call allows it), both on a picture already in memory;
# - command line: `lumivex-cli` against vips, oiiotool, ImageMagick's convert, pfstools,
#   luminance-hdr-cli and enfuse on the same files in /dev/shm, timed by hyperfine, every command
#   first run once under GNU time for its peak resident memory (that run also warms the caches).
#   Threads: --threads N, VIPS_CONCURRENCY, oiiotool --threads, MAGICK_THREAD_LIMIT and
#   OMP_NUM_THREADS all get the row's count.
#
# Columns: operation; thr (threads); ours (median ms); spread ((max - min) / median); cpu (ms of
# all threads: the median in memory, hyperfine's mean user + system time on the command line; it
# moves less than the wall time when other work shares the machine);
# passes (ours over one plain copy of the 24 MP float image, measured in the same run with the
# same threads); fastest peer (name and median ms; "-" when no peer has the operation); ratio
# (ours / that peer, below 1: ours faster); MB (peak: in memory, the most one run holds beyond
# what was live before it, by the benchmark's own heap counter, or for loads and saves by the
# growth of the resident memory, which sees FreeImage's buffers; GNU time's peak RSS on the
# command line, ours/peer); notes (the other peers, the ones that failed here and what differs).
#
# Semantics kept equal (a row that cannot be made equal says so in its notes):
# - blurs: radius r means 2r + 1 taps per direction. OpenCV gets ksize 2r + 1 and sigma r / 3;
#   libvips sizes its mask from sigma and min-ampl, so min-ampl 0.01 with sigma r / 3 keeps taps
#   out to exactly r (vips gaussmat, which gaussblur uses, shows it); ImageMagick -blur rx(r/3)
#   is the same kernel. OIIO's gaussian of width w has sigma w / 4 and ends at 2 sigma, so it
#   gets width 2r + 1 (the same taps, sigma about r / 2). Edges repeat the border pixels
#   (OpenCV BORDER_REPLICATE; libvips always copies edges). The box blur is OpenCV's blur,
#   libvips convsep with a row of 2r + 1 ones, oiiotool --blur:kernel=box.
# - resize filters: nearest/box, bilinear/triangle, Hermite, Bell (ImageMagick's Quadratic),
#   B-spline, Lanczos 3 (OpenCV only has an 8x8 Lanczos), Mitchell (B = C = 1/3; OpenCV's cubic
#   is Keys a = -0.75 and stands in for it). OpenCV's INTER_LINEAR and INTER_CUBIC do not widen
#   their kernel when shrinking, ours and the others do: at 50% OpenCV reads fewer pixels.
# - rotation by 17 degrees about the centre keeping the size, white outside; vips rotate grows
#   the canvas to the bounding box (a third more pixels).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-perf}
QUICK=${QUICK:-0}
if [ "$QUICK" = 1 ]; then
    RUNS=${RUNS:-1}
    CLI_RUNS=${CLI_RUNS:-1}
    THREADS=${THREADS:-2}
else
    RUNS=${RUNS:-3}
    CLI_RUNS=${CLI_RUNS:-3}
    THREADS=${THREADS:-"1 2"}
fi
CLI_THREADS=${CLI_THREADS:-2}
SLOW_MS=${SLOW_MS:-5000}
MIN_TIME=${MIN_TIME:-0.2}  # Google Benchmark seconds per repetition; slow cases run once
PY=/usr/bin/python3        # Debian's interpreter, where python3-opencv installs
CONVERT=/usr/bin/convert   # ImageMagick itself, whatever else is first on PATH
CLI=$BUILD/cli/lumivex-cli
PEERS="python3-opencv python3-numpy libvips-tools libvips-dev openimageio-tools imagemagick \
pfstools pfstmo luminance-hdr enfuse hyperfine time"

missing=""
for p in $PEERS; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing$missing" >&2
    sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    # shellcheck disable=SC2086  # a list of packages
    $sudo apt-get install -y $missing >/dev/null || echo "some peers did not install" >&2
fi
"$PY" -c 'import cv2, numpy' || { echo "python3-opencv is needed" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is needed" >&2; exit 1; }

if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD" -j2 adjust_bench core_bench filters_bench geometry_bench io_bench merge_bench \
    lumivex-cli >/dev/null

WORK=$(mktemp -d /dev/shm/lumivex-compare.XXXXXX 2>/dev/null || mktemp -d)
ROWS=$WORK/rows.tsv  # mem|cli, operation, threads, who, median, min, max, cpu ms, peak MB, note
: >"$ROWS"
# The rows outlive a run that stops half-way: BUILD/compare-rows.tsv.
trap 'cp "$ROWS" "$BUILD/compare-rows.tsv" 2>/dev/null; rm -rf "$WORK"' EXIT
# Debian's ImageMagick policy caps its pixel cache at 256 MiB: a bigger image (the 150% resizes)
# goes to its disk cache, which then lives in /dev/shm like every other file here.
export OPENCV_IO_ENABLE_OPENEXR=1 QT_QPA_PLATFORM=offscreen MAGICK_TEMPORARY_PATH=$WORK
started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# --- The inputs ----------------------------------------------------------------------------------
# The sunset test picture (PFM) scaled bilinearly to 6000x4000, BGRA float32 with alpha 1, scaled
# so its median is 0.18; from it the files every tool reads (EXR half RGBA, Radiance HDR, 16-bit
# TIFF, JPEG quality 95, display gamma 2.2 for the integer ones) and brackets of JPEG
# photographs at EV -2, 0, +2 and -2, -1, 0, +1, +2 (the scene times 2^EV, clipped, gamma 2.2).
"$PY" - "$ROOT/tests/data/hdr/sunset_160x80.pfm" "$WORK" <<'EOF'
import sys
import cv2
import numpy as np
src, work = sys.argv[1], sys.argv[2]
img = cv2.imread(src, cv2.IMREAD_UNCHANGED)  # BGR float32, top row first
img = cv2.resize(img, (6000, 4000), interpolation=cv2.INTER_LINEAR)
img *= 0.18 / float(np.median(img))
bgra = np.ascontiguousarray(np.dstack([img, np.ones(img.shape[:2], np.float32)]))
np.save(f"{work}/in.npy", bgra)
np.clip(bgra, 0.0, 1.0).tofile(f"{work}/in_unit.raw")  # the filters' range, for libvips
cv2.imwrite(f"{work}/in.exr", np.dstack([img, np.ones(img.shape[:2], np.float32)]),
            [cv2.IMWRITE_EXR_TYPE, cv2.IMWRITE_EXR_TYPE_HALF])
cv2.imwrite(f"{work}/in.hdr", img)
display = np.clip(img, 0.0, 1.0) ** (1 / 2.2)
cv2.imwrite(f"{work}/in.tif", np.rint(display * 65535).astype(np.uint16))
cv2.imwrite(f"{work}/in.jpg", np.rint(display * 255).astype(np.uint8),
            [cv2.IMWRITE_JPEG_QUALITY, 95])
for ev in (-2, -1, 0, 1, 2):
    frame = np.clip(img * 2.0 ** ev, 0.0, 1.0) ** (1 / 2.2)
    cv2.imwrite(f"{work}/ev{ev:+d}.jpg", np.rint(frame * 255).astype(np.uint8),
                [cv2.IMWRITE_JPEG_QUALITY, 95])
EOF
echo "inputs ready in $WORK ($(du -sh "$WORK" | cut -f1))" >&2

# --- Ours in memory: Google Benchmark --------------------------------------------------------------
# Which cases run; QUICK keeps one or two of each kind.
if [ "$QUICK" = 1 ]; then
    adjust_filter='BM_(Copy|ToneMapReinhard|Gamma|Hue|Negative|ComputeHistograms)/'
    core_filter='BM_GetMinMax/'
    filters_filter='^(BlurFast|GaussBlurFast|UnsharpMaskFast)/6000/4000/3/'
    geometry_filter='BM_(Resize<50>/6000/4000/[0-9]+/5/|Rotate17/6000/4000/[0-9]+/1/|FlipHorz|Rotate90CW)'
    io_filter='^(Load/(exr_half|jpeg)_inprocess|Save/(exr_half|jpeg))/'
    merge_filter='^Merge(JpegFiles)?/photos:3/mode:1/'
else
    adjust_filter='BM_'
    core_filter='BM_(GetMinMax|Normalize|NormalizeChannels|ShiftToPositive)/'
    filters_filter='^(ReferenceCopy|BlurFast|GaussBlurFast|UnsharpMaskFast|SoftenFast|MicroDetails|LocalToneMap[A-Za-z]+)/'
    geometry_filter='BM_'
    io_filter='^(Load/[a-z0-9_]+_inprocess|Save/(exr_half|exr_float|hdr|tiff8|jpeg))/'
    merge_filter='^Merge(JpegFiles)?/'
fi
threads_re=$(echo "$THREADS" | tr ' ' '|')
gbench() {  # program filter: JSON into $WORK/program.json
    local program=$1 filter=$2
    echo "running $program" >&2
    TMPDIR=$WORK "$BUILD/bench/$program" --benchmark_filter="$filter" \
        --benchmark_repetitions="$RUNS" --benchmark_min_time="$MIN_TIME" \
        --benchmark_format=json >"$WORK/$program.json" 2>"$WORK/$program.log" ||
        echo "$program failed: $(tail -1 "$WORK/$program.log")" >&2
}
gbench adjust_bench "$adjust_filter"
gbench core_bench "$core_filter"
gbench filters_bench "$filters_filter"
gbench geometry_bench "$geometry_filter"
gbench io_bench "$io_filter"
gbench merge_bench "$merge_filter"

# Every repetition of every case becomes a row under the operation name the OpenCV part uses.
"$PY" - "$WORK" "$threads_re" >>"$ROWS" <<'EOF' || echo "reading the benchmarks failed" >&2
import json
import os
import re
import statistics
import sys
work, threads_re = sys.argv[1], sys.argv[2]
filters = ["Nearest", "Bilinear", "Hermite", "Bell", "B-Spline", "Lanczos", "Mitchell"]
rotations = ["Nearest", "Bilinear", "Bicubic", "Mitchell", "Lagrange"]
modes = ["average", "logaritmic", "weighted"]
formats = {"exr_half": "EXR half", "exr_float": "EXR float", "hdr": "HDR", "tiff16": "TIFF 16-bit",
           "tiff8": "TIFF 8-bit", "jpeg": "JPEG"}

def label(name):  # (operation, threads) of a benchmark name, or None
    name = re.sub(r"/(process_time|real_time|manual_time)", "", name)
    parts = name.split("/")
    base = parts[0]
    if base.startswith("BM_Resize<"):
        pct = base[len("BM_Resize<"):-1]
        return f"resize {pct}% {filters[int(parts[4])]}", int(parts[3])
    if base == "BM_Rotate17":
        return f"rotate 17 {rotations[int(parts[4])]}", int(parts[3])
    if base in ("BM_Rotate90CW", "BM_Rotate90CCW", "BM_FlipHorz", "BM_FlipVert", "BM_Rotate180"):
        return base[3:], int(parts[3])
    if base == "BM_Assign":
        return None
    if base.startswith("BM_"):  # adjust and core: width, height, threads
        op = "memory pass (copy)" if base == "BM_Copy" else base[3:]
        return op, int(parts[3])
    if base == "ReferenceCopy":
        return "memory pass (copy, filters_bench)", int(parts[4])
    if base in ("Load", "Save"):
        kind = parts[1].replace("_inprocess", "")
        return f"{base.lower()} {formats.get(kind, kind)}", int(parts[2])
    if base == "Merge":
        args = dict(p.split(":") for p in parts[1:])
        return f"merge {args['photos']} photos {modes[int(args['mode'])]}", int(args["threads"])
    if base == "MergeJpegFiles":  # every core
        args = dict(p.split(":") for p in parts[1:])
        return f"merge {args['photos']} photos {modes[int(args['mode'])]} JPEG", os.cpu_count()
    if len(parts) == 5:  # filters: width, height, radius, threads
        return f"{base} r={parts[3]}", int(parts[4])
    return None

ms = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
runs = {}
for program in ("adjust", "core", "filters", "geometry", "io", "merge"):
    try:
        data = json.load(open(f"{work}/{program}_bench.json"))
    except (OSError, ValueError):
        continue
    for b in data.get("benchmarks", []):
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        key = label(b["run_name"] if "run_name" in b else b["name"])
        if key is None or not re.fullmatch(threads_re, str(key[1])) and program != "io":
            continue
        unit = ms[b.get("time_unit", "ns")]
        cpu = b["cpu_ms"] if "cpu_ms" in b else b["cpu_time"] * unit
        peak = b.get("peak_MB", b.get("merge_MB", ""))
        runs.setdefault(key, []).append((b["real_time"] * unit, cpu, peak))
for (op, n), values in runs.items():
    wall = [w for w, _, _ in values]
    peak = max((p for _, _, p in values if p != ""), default="")
    note = ""
    if op == "FlipVert":
        note = "rows are separate arrays: swaps row pointers"
    if op.startswith(("load", "save")):
        note = "io_bench's own picture of this size, written by our savers"
    if op.startswith("merge"):
        note = "ours: merge_bench's synthetic frames in memory"
    if op.endswith(" JPEG"):
        note = "ours: merge_bench's JPEG files, each decoded in a child process, then merged; no file written"
    print(f"mem\t{op}\t{n}\tours\t{statistics.median(wall):.3f}\t{min(wall):.3f}\t{max(wall):.3f}\t"
          f"{statistics.median(c for _, c, _ in values):.3f}\t"
          f"{'' if peak == '' else f'{peak:.0f}'}\t{note}")
if any(op == "save TIFF 8-bit" for op, _ in runs):
    print("mem\tsave TIFF 16-bit\t2\tours\t\t\t\t\t\t: no 16-bit TIFF writer")
EOF

# --- OpenCV in memory ------------------------------------------------------------------------------
echo "running OpenCV" >&2
"$PY" - "$WORK" "$RUNS" "$THREADS" "$QUICK" "$SLOW_MS" >>"$ROWS" <<'EOF' || echo "OpenCV failed" >&2
import statistics
import sys
import time
import cv2
import numpy as np
work, runs, quick, slow_ms = sys.argv[1], int(sys.argv[2]), sys.argv[4] == "1", float(sys.argv[5])
img = np.load(f"{work}/in.npy")
h, w = img.shape[:2]
out = np.empty_like(img)
bgr = np.ascontiguousarray(img[..., :3])
bgr_out = np.empty_like(bgr)
unit = np.clip(img, 0.0, 1.0)
unit_bgr = np.ascontiguousarray(unit[..., :3])

def gamma():
    cv2.pow(unit, 1.0 / 2.2, out)
def reinhard():  # x / (k + x), then the display gamma: the shape of the global Reinhard curve
    cv2.add(unit, 0.53, out)
    cv2.divide(unit, out, out)
    cv2.pow(out, 0.4545, out)
def linear():  # scale and clamp
    cv2.multiply(img, 2.0, out)
    np.clip(out, 0.0, 1.0, out=out)
def offset():
    cv2.add(img, 0.1, out)
    np.clip(out, 0.0, 1.0, out=out)
def brightness():
    cv2.addWeighted(img, 0.7, img, 0.0, 0.3, out)
    np.clip(out, 0.0, 1.0, out=out)
def levels():  # (x - low) / (high - low), clamped: the linear part of a levels stretch
    cv2.subtract(img, 0.1, out)
    cv2.multiply(out, 1.25, out)
    np.clip(out, 0.0, 1.0, out=out)
def saturation():
    cv2.cvtColor(unit_bgr, cv2.COLOR_BGR2HLS, bgr_out)
    cv2.cvtColor(bgr_out, cv2.COLOR_HLS2BGR, bgr_out)
def grey():
    cv2.cvtColor(bgr, cv2.COLOR_BGR2GRAY)
def negative():
    cv2.subtract(1.0, img, out)
def normalize():
    cv2.normalize(img, out, 0.0, 1.0, cv2.NORM_MINMAX)
def minmax():
    cv2.minMaxLoc(img.reshape(h, w * 4))
def histograms(step):
    sample = bgr[::step, ::step]
    for c in range(3):
        cv2.calcHist([sample], [c], None, [256], [0, 1])
def copy():
    np.copyto(out, img)

ops = [("memory pass (copy)", copy, ""), ("ToneMapLinear", linear, ""),
       ("ToneMapGamma", gamma, ""), ("ToneMapReinhard", reinhard, "x/(k+x), pow"),
       ("Offset", offset, ""), ("Brightness", brightness, ""), ("Gamma", gamma, ""),
       ("LevelsLinear", levels, ""), ("Levels", levels, ""), ("Saturation", saturation, "HLS round trip"),
       ("Hue", saturation, "HLS round trip"), ("GrayscaleLuminosity", grey, ""),
       ("Negative", negative, ""), ("GetMinMax", minmax, ""), ("Normalize", normalize, ""),
       ("AccumulateHistograms", lambda: histograms(1), "calcHist B, G, R"),
       ("ComputeHistograms", lambda: histograms(8), "calcHist B, G, R every 8th pixel")]
if not quick:
    tonemap = cv2.createTonemapReinhard(2.2, 0.0, 0.0, 0.0)
    ops.append(("ToneMapReinhard", lambda: tonemap.process(bgr), "cv2.TonemapReinhard"))

# Filters: ksize 2r + 1, sigma r / 3, edges replicated.
radii = {"BlurFast": [3] if quick else [3, 50], "GaussBlurFast": [3] if quick else [3, 50],
         "UnsharpMaskFast": [3] if quick else [3, 30]}
def box(r):
    return lambda: cv2.blur(unit, (2 * r + 1, 2 * r + 1), dst=out, borderType=cv2.BORDER_REPLICATE)
def gauss(r):
    k = 2 * r + 1
    return lambda: cv2.GaussianBlur(unit, (k, k), r / 3, dst=out, borderType=cv2.BORDER_REPLICATE)
def unsharp(r):
    k = 2 * r + 1
    def run():
        cv2.GaussianBlur(unit, (k, k), r / 3, dst=out, borderType=cv2.BORDER_REPLICATE)
        cv2.addWeighted(unit, 2.0, out, -1.0, 0.0, out)
        np.clip(out, 0.0, 1.0, out=out)
    return run
for r in radii["BlurFast"]:
    ops.append((f"BlurFast r={r}", box(r), ""))
for r in radii["GaussBlurFast"]:
    ops.append((f"GaussBlurFast r={r}", gauss(r), f"ksize {2 * r + 1}, sigma {r / 3:.3g}"))
for r in radii["UnsharpMaskFast"]:
    ops.append((f"UnsharpMaskFast r={r}", unsharp(r), "GaussianBlur, addWeighted 2, -1"))
def durand():  # made in the call: Debian's build refuses it (patented), which the row then says
    cv2.xphoto.createTonemapDurand(2.2).process(bgr)
if not quick and hasattr(cv2, "xphoto"):
    for r in (3, 30):
        ops.append((f"LocalToneMapReinhard r={r}", durand,
                    "cv2.xphoto.TonemapDurand (bilateral), not the same operator"))

# Geometry.
filters = [("Nearest", cv2.INTER_NEAREST, ""), ("Bilinear", cv2.INTER_LINEAR, "2 taps at 50%"),
           ("Lanczos", cv2.INTER_LANCZOS4, "8x8 Lanczos"),
           ("Mitchell", cv2.INTER_CUBIC, "Keys cubic, 4 taps at 50%")]
if quick:
    filters = [filters[2]]
for pct in (50,) if quick else (50, 150):
    dw, dh = w * pct // 100, h * pct // 100
    dst = np.empty((dh, dw, 4), np.float32)
    for name, mode, note in filters:
        ops.append((f"resize {pct}% {name}",
                    lambda mode=mode, dw=dw, dh=dh, dst=dst:
                        cv2.resize(img, (dw, dh), dst=dst, interpolation=mode), note))
    if pct == 50:
        ops.append((f"resize 50% Nearest", lambda dst=dst: cv2.resize(
            img, (w // 2, h // 2), dst=dst, interpolation=cv2.INTER_AREA), "INTER_AREA (2x2 box)"))
m = cv2.getRotationMatrix2D(((w - 1) / 2, (h - 1) / 2), -17, 1.0)
for name, mode in [("Bilinear", cv2.INTER_LINEAR)] if quick else [
        ("Nearest", cv2.INTER_NEAREST), ("Bilinear", cv2.INTER_LINEAR), ("Bicubic", cv2.INTER_CUBIC)]:
    ops.append((f"rotate 17 {name}", lambda mode=mode: cv2.warpAffine(
        img, m, (w, h), dst=out, flags=mode, borderMode=cv2.BORDER_CONSTANT,
        borderValue=(1, 1, 1, 1)), ""))
turned = np.empty((w, h, 4), np.float32)
ops += [("FlipHorz", lambda: cv2.flip(img, 1, out), ""),
        ("Rotate90CW", lambda: cv2.rotate(img, cv2.ROTATE_90_CLOCKWISE, turned), "")]
if not quick:
    ops += [("FlipVert", lambda: cv2.flip(img, 0, out), "copies every row"),
            ("Rotate180", lambda: cv2.rotate(img, cv2.ROTATE_180, out), ""),
            ("Rotate90CCW", lambda: cv2.rotate(img, cv2.ROTATE_90_COUNTERCLOCKWISE, turned), "")]

# Files: the scratch inputs; saves start from the float image, conversion included.
def to8():
    return np.rint(np.clip(bgr, 0.0, 1.0) * 255).astype(np.uint8)
def to16():
    return np.rint(np.clip(bgr, 0.0, 1.0) * 65535).astype(np.uint16)
half = [cv2.IMWRITE_EXR_TYPE, cv2.IMWRITE_EXR_TYPE_HALF]
full = [cv2.IMWRITE_EXR_TYPE, cv2.IMWRITE_EXR_TYPE_FLOAT]
io = [("load EXR half", lambda: cv2.imread(f"{work}/in.exr", cv2.IMREAD_UNCHANGED), ""),
      ("load JPEG", lambda: cv2.imread(f"{work}/in.jpg"), ""),
      ("save EXR half", lambda: cv2.imwrite(f"{work}/cv.exr", img, half), ""),
      ("save JPEG", lambda: cv2.imwrite(f"{work}/cv.jpg", to8(), [cv2.IMWRITE_JPEG_QUALITY, 100]),
       "quality 100, as ours")]
if not quick:
    cv2.imwrite(f"{work}/in_float.exr", img, full)
    io += [("load EXR float", lambda: cv2.imread(f"{work}/in_float.exr", cv2.IMREAD_UNCHANGED), ""),
           ("load HDR", lambda: cv2.imread(f"{work}/in.hdr", cv2.IMREAD_UNCHANGED), ""),
           ("load TIFF 16-bit", lambda: cv2.imread(f"{work}/in.tif", cv2.IMREAD_UNCHANGED), ""),
           ("save EXR float", lambda: cv2.imwrite(f"{work}/cv.exr", img, full), ""),
           ("save HDR", lambda: cv2.imwrite(f"{work}/cv.hdr", bgr), ""),
           ("save TIFF 8-bit", lambda: cv2.imwrite(f"{work}/cv.tif", to8()), ""),
           ("save TIFF 16-bit", lambda: cv2.imwrite(f"{work}/cv16.tif", to16()),
            "ours writes no 16-bit TIFF")]

# Merges of the bracket files (decoded before timing): Debevec with a linear response, and
# Mertens exposure fusion, the two merges OpenCV has.
merges = []
for count in (3,) if quick else (3, 5):
    evs = (-2, 0, 2) if count == 3 else (-2, -1, 0, 1, 2)
    frames = [cv2.imread(f"{work}/ev{ev:+d}.jpg") for ev in evs]
    times = np.array([2.0 ** ev / 60 for ev in evs], np.float32)
    debevec = cv2.createMergeDebevec()
    mertens = cv2.createMergeMertens()
    # One timing per count stands beside each of our modes.
    names = [f"merge {count} photos {m}" for m in (["logaritmic"] if quick else
                                                    ["average", "logaritmic", "weighted"])]
    merges.append((names, lambda f=frames, t=times, d=debevec: d.process(f, t), "cv2 MergeDebevec"))
    if not quick:
        merges.append((names, lambda f=frames, m=mertens: m.process(f), "cv2 MergeMertens"))

def measure(op):  # wall and process CPU ms of each run after a warm-up; a slow warm-up is the figure
    wall, cpu = time.perf_counter(), time.process_time()
    op()  # first touch of the outputs
    first = ((time.perf_counter() - wall) * 1e3, (time.process_time() - cpu) * 1e3)
    if first[0] > slow_ms:
        return [first]
    results = []
    for _ in range(runs):
        wall, cpu = time.perf_counter(), time.process_time()
        op()
        results.append(((time.perf_counter() - wall) * 1e3, (time.process_time() - cpu) * 1e3))
        if results[-1][0] > slow_ms:
            break
    return results

for n in [int(t) for t in sys.argv[3].split()]:
    cv2.setNumThreads(n)
    for name, op, note in ops + (io + merges if n == 2 else []):
        try:
            results = measure(op)
        except cv2.error as e:
            for label in name if isinstance(name, list) else [name]:
                print(f"mem\t{label}\t{n}\tOpenCV\t\t\t\t\t\tfailed: "
                      f"{str(e).split('error: ')[-1][:70]}")
            continue
        wall = [r[0] for r in results]
        cpu = statistics.median(r[1] for r in results)
        for label in name if isinstance(name, list) else [name]:
            print(f"mem\t{label}\t{n}\tOpenCV\t{statistics.median(wall):.3f}\t{min(wall):.3f}\t"
                  f"{max(wall):.3f}\t{cpu:.3f}\t\t{note}", flush=True)
EOF

# --- libvips in memory, when libvips-dev is there -------------------------------------------------
# One process per case: the input is copied into memory first, the result is rendered into a new
# memory image (its allocation and first touch included, as the copy row shows), nothing is
# saved. vips_cache_set_max(0) makes every run recompute.
if command -v cc >/dev/null && pkg-config --exists vips; then
    cat >"$WORK/vh.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <vips/vips.h>

static double Now(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int Compare(const void* a, const void* b)
{
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

/* The operation's output, built lazily: nothing is computed until it is rendered. */
static VipsImage* Build(VipsImage* in, const char* op, const char* arg)
{
    VipsImage* out = NULL;
    if (strcmp(op, "copy") == 0) {
        vips_copy(in, &out, NULL);
    } else if (strcmp(op, "gaussblur") == 0) {
        vips_gaussblur(in, &out, atof(arg) / 3.0, "min_ampl", 0.01, "precision",
                       VIPS_PRECISION_FLOAT, NULL);
    } else if (strcmp(op, "box") == 0) {
        const int k = 2 * atoi(arg) + 1;
        VipsImage* mask = vips_image_new_matrix(k, 1);
        for (int x = 0; x < k; x++)
            *VIPS_MATRIX(mask, x, 0) = 1.0;
        vips_image_set_double(mask, "scale", k);
        vips_convsep(in, &out, mask, "precision", VIPS_PRECISION_FLOAT, NULL);
        g_object_unref(mask);
    } else if (strncmp(op, "resize", 6) == 0) {
        const int kernel = vips_enum_from_nick("vh", VIPS_TYPE_KERNEL, arg);
        vips_resize(in, &out, atof(op + 6) / 100.0, "kernel", kernel, NULL);
    } else if (strcmp(op, "rotate") == 0) {
        VipsInterpolate* interpolate = vips_interpolate_new(arg);
        vips_rotate(in, &out, 17.0, "interpolate", interpolate, "background",
                    vips_array_double_newv(4, 1.0, 1.0, 1.0, 1.0), NULL);
        g_object_unref(interpolate);
    } else if (strcmp(op, "flip") == 0) {
        vips_flip(in, &out, strcmp(arg, "horizontal") == 0 ? VIPS_DIRECTION_HORIZONTAL
                                                             : VIPS_DIRECTION_VERTICAL, NULL);
    } else if (strcmp(op, "rot") == 0) {
        vips_rot(in, &out, vips_enum_from_nick("vh", VIPS_TYPE_ANGLE, arg), NULL);
    }
    if (out == NULL)
        vips_error_exit("%s %s", op, arg);
    return out;
}

/* vh in.v op arg threads runs slow_ms: prints median, min and max wall ms, median CPU ms. */
int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]) || argc < 7)
        vips_error_exit("usage: vh in.v op arg threads runs slow_ms");
    const int runs = atoi(argv[5]);
    const double slow = atof(argv[6]) / 1e3;
    vips_concurrency_set(atoi(argv[4]));
    vips_cache_set_max(0);
    VipsImage* file = vips_image_new_from_file(argv[1], NULL);
    VipsImage* in = file ? vips_image_copy_memory(file) : NULL;
    if (in == NULL)
        vips_error_exit("load");
    double walls[64], cpus[64];
    int done = 0;
    for (int i = -1; i < runs && i < 64; i++) { /* run -1 warms up */
        VipsImage* out = Build(in, argv[2], argv[3]);
        const double t = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
        VipsImage* memory = vips_image_copy_memory(out);
        if (memory == NULL)
            vips_error_exit("render");
        const double wall = Now(CLOCK_MONOTONIC) - t;
        if (i >= 0 || wall > slow) {
            walls[done] = wall * 1e3;
            cpus[done++] = (Now(CLOCK_PROCESS_CPUTIME_ID) - cpu) * 1e3;
        }
        g_object_unref(memory);
        g_object_unref(out);
        if (wall > slow)
            break; /* a slow run is not repeated */
    }
    double sorted[64];
    memcpy(sorted, walls, sizeof walls);
    qsort(sorted, done, sizeof *sorted, Compare);
    qsort(cpus, done, sizeof *cpus, Compare);
    printf("%.3f\t%.3f\t%.3f\t%.3f\n", sorted[done / 2], sorted[0], sorted[done - 1], cpus[done / 2]);
    g_object_unref(in);
    g_object_unref(file);
    vips_shutdown();
    return 0;
}
EOF
    # shellcheck disable=SC2046  # pkg-config prints several words
    cc -O2 -std=c11 "$WORK/vh.c" -o "$WORK/vh" $(pkg-config --cflags --libs vips)
    vips rawload "$WORK/in_unit.raw" "$WORK/in.v" 6000 4000 4 --format float
    cases="copy:-:memory_pass_(copy) box:3:BlurFast_r=3 gaussblur:3:GaussBlurFast_r=3
        resize50:lanczos3:resize_50%_Lanczos rotate:bilinear:rotate_17_Bilinear
        flip:horizontal:FlipHorz rot:d90:Rotate90CW"
    if [ "$QUICK" != 1 ]; then
        cases="$cases box:50:BlurFast_r=50 gaussblur:50:GaussBlurFast_r=50
            flip:vertical:FlipVert rot:d180:Rotate180 rot:d270:Rotate90CCW
            rotate:nearest:rotate_17_Nearest rotate:bicubic:rotate_17_Bicubic"
        for pct in 50 150; do
            for k in nearest:Nearest linear:Bilinear lanczos3:Lanczos mitchell:Mitchell; do
                [ "$pct:${k%%:*}" = 50:lanczos3 ] && continue
                cases="$cases resize$pct:${k%%:*}:resize_$pct%_${k#*:}"
            done
        done
    fi
    echo "running libvips in memory" >&2
    for n in $THREADS; do
        for c in $cases; do
            IFS=: read -r op arg label <<<"$c"
            note=""
            [ "$op" = rotate ] && note="canvas grows to the bounding box"
            if result=$("$WORK/vh" "$WORK/in.v" "$op" "$arg" "$n" "$RUNS" "$SLOW_MS" 2>&1); then
                printf 'mem\t%s\t%s\tlibvips\t%s\t\t%s\n' "${label//_/ }" "$n" "$result" "$note" \
                    >>"$ROWS"
            else
                printf 'mem\t%s\t%s\tlibvips\t\t\t\t\t\tfailed: %s\n' "${label//_/ }" "$n" \
                    "$(echo "$result" | tail -1 | cut -c1-60)" >>"$ROWS"
            fi
        done
    done
else
    echo "libvips in memory: skipped (needs cc and libvips-dev)" >&2
fi

# --- Command lines ---------------------------------------------------------------------------------
# cli_row OPERATION THREADS NOTE NAME COMMAND [NAME COMMAND...]: the first pair is ours. Each
# command runs once under GNU time (peak RSS, and a failure is reported in the row instead of
# stopping the run); those that worked then go to hyperfine together.
cli_row() {
    local op=$1 n=$2 note=$3
    shift 3
    local names=() args=() i status rss ms
    export VIPS_CONCURRENCY=$n MAGICK_THREAD_LIMIT=$n OMP_NUM_THREADS=$n
    echo "  $op, $n threads" >&2

    for ((i = 1; i <= $# / 2; i++)); do
        local name=${*:2*i-1:1} command=${*:2*i:1}
        local start end
        rm -f "$WORK"/o.*
        start=$(date +%s%N)
        if timeout 600 /usr/bin/time -f %M -o "$WORK/rss" bash -c "$command" \
            >"$WORK/cmd.log" 2>&1 && compgen -G "$WORK/o.*" >/dev/null; then
            end=$(date +%s%N)
            ms=$(((end - start) / 1000000))
            rss=$(tail -1 "$WORK/rss")
            if [ "$i" -gt 1 ] && [ "$ms" -gt "$SLOW_MS" ]; then  # a slow peer: one run is its figure
                printf 'cli\t%s\t%s\t%s\t%s\t%s\t%s\t\t%s\t%s\n' "$op" "$n" "$name" "$ms" "$ms" \
                    "$ms" "$((rss / 1024))" "one run" >>"$ROWS"
                continue
            fi
            names+=("$name")
            args+=(-n "$name" "$command")
            echo "$name $((rss / 1024))" >>"$WORK/rss.txt"
        else
            # A command killed by a signal may leave nothing in the log.
            status=$({ grep -v '^Command exited' "$WORK/cmd.log" || true; } | tail -1 | tr '\t' ' ' |
                cut -c1-70)
            printf 'cli\t%s\t%s\t%s\t\t\t\t\t\tfailed: %s\n' "$op" "$n" "$name" "${status:-no output}" \
                >>"$ROWS"
        fi
    done
    [ "${#names[@]}" -gt 0 ] || return 0
    hyperfine --runs "$CLI_RUNS" --warmup 0 -i --style none --export-json "$WORK/hf.json" \
        "${args[@]}" >/dev/null 2>&1 || { echo "hyperfine failed on $op" >&2; return 0; }
    "$PY" - "$WORK/hf.json" "$WORK/rss.txt" "$op" "$n" "$note" "${names[0]}" >>"$ROWS" \
        <<'EOF' || echo "reading hyperfine's figures failed on $op" >&2
import json
import statistics
import sys
results = json.load(open(sys.argv[1]))["results"]
rss = dict(line.rsplit(" ", 1) for line in open(sys.argv[2]))
op, n, note, ours = sys.argv[3:7]
for r, name in zip(results, [r["command"] for r in results]):
    times = [t * 1e3 for t in r["times"]]
    text = note if name == ours else ""
    if any(code != 0 for code in r.get("exit_codes", [])):
        text = "some runs failed"
    print(f"cli\t{op}\t{n}\t{name}\t{statistics.median(times):.3f}\t{min(times):.3f}\t"
          f"{max(times):.3f}\t{(r['user'] + r['system']) * 1e3:.3f}\t{rss.get(name, '')}\t{text}")
EOF
    rm -f "$WORK/rss.txt"
}

in=$WORK/in
o=$WORK/o
for n in $CLI_THREADS; do
    echo "running the command lines, $n threads" >&2
    ours="$CLI --threads $n"
    oiio="oiiotool --threads $n"
    # Load and save in the same format (ours writes TIFF with 8 bits). Ours writes OpenEXR
    # half with PIZ compression; the peers are asked for the same (ImageMagick otherwise writes
    # it uncompressed, six times the bytes, and oiiotool ZIP).
    cli_row "convert EXR half" "$n" "peers also write PIZ" ours "$ours convert $in.exr $o.exr" \
        oiiotool "$oiio $in.exr -d half --compression piz -o $o.exr" \
        convert "$CONVERT $in.exr -compress Piz $o.exr" \
        pfstools "pfsin $in.exr | pfsoutexr --compression PIZ $o.exr"
    cli_row "convert JPEG q95" "$n" "" ours "$ours convert $in.jpg $o.jpg --quality 95" \
        vips "vips copy $in.jpg '$o.jpg[Q=95]'" \
        oiiotool "$oiio $in.jpg --compression jpeg:95 -o $o.jpg" \
        convert "$CONVERT $in.jpg -quality 95 $o.jpg"
    if [ "$QUICK" != 1 ]; then
        cli_row "convert HDR" "$n" "" ours "$ours convert $in.hdr $o.hdr" \
            vips "vips copy $in.hdr $o.hdr" \
            oiiotool "$oiio $in.hdr -o $o.hdr" \
            convert "$CONVERT $in.hdr $o.hdr" \
            pfstools "pfsin $in.hdr | pfsout $o.hdr"
        cli_row "convert TIFF 16-bit" "$n" "ours writes 8 bits" \
            ours "$ours convert $in.tif $o.tif" \
            vips "vips copy $in.tif $o.tif" \
            oiiotool "$oiio $in.tif -o $o.tif" \
            convert "$CONVERT $in.tif $o.tif" \
            pfstools "pfsin $in.tif | pfsout $o.tif"
    fi

    # Filters and geometry: Radiance HDR in and out for everyone (the "convert HDR" row is that
    # overhead alone).
    radii="3 50"
    [ "$QUICK" = 1 ] && radii=3
    for r in $radii; do
        k=$((2 * r + 1))
        sigma=$(awk -v r="$r" 'BEGIN { printf "%.6f", r / 3 }')
        { echo "$k 1 $k 0"; for ((j = 0; j < k; j++)); do printf '1 '; done; echo; } >"$WORK/box.mat"
        # oiiotool convolves with the whole 2-D kernel: about 20 s at r = 3, hours at r = 50.
        box=(oiiotool "$oiio $in.hdr --blur:kernel=box ${k}x$k -o $o.hdr")
        gauss=(oiiotool "$oiio $in.hdr --blur:kernel=gaussian ${k}x$k -o $o.hdr")
        box_note=""
        gauss_note="oiiotool: sigma about r/2"
        if [ "$r" -gt 10 ]; then
            box=()
            gauss=()
            box_note="oiiotool not run (2-D kernel)"
            gauss_note=$box_note
        fi
        cli_row "box blur r=$r" "$n" "$box_note" \
            ours "$ours apply $in.hdr $o.hdr blurfast:radius=$r" \
            vips "vips convsep $in.hdr $o.hdr $WORK/box.mat --precision float" "${box[@]}"
        cli_row "gaussian blur r=$r" "$n" "$gauss_note" \
            ours "$ours apply $in.hdr $o.hdr gaussblurfast:radius=$r,sensitivity=0.5" \
            vips "vips gaussblur $in.hdr $o.hdr $sigma --min-ampl 0.01 --precision float" \
            "${gauss[@]}" convert "$CONVERT $in.hdr -blur ${r}x$sigma $o.hdr"
    done
    cli_row "unsharp mask r=3" "$n" "peers: gaussian r=3, amount 1" \
        ours "$ours apply $in.hdr $o.hdr unsharpmaskfast:radius=3,sensitivity=0.5" \
        oiiotool "$oiio $in.hdr --unsharp:kernel=gaussian:width=7:contrast=1:threshold=0 -o $o.hdr" \
        convert "$CONVERT $in.hdr -unsharp 3x1+1+0 $o.hdr"
    if [ "$QUICK" != 1 ]; then
        cli_row "soften r=3" "$n" "no peer has it" \
            ours "$ours apply $in.hdr $o.hdr softenfast:radius=3,sensitivity=0.5"
        cli_row "local tone mapping r=3 -> JPEG" "$n" "peers: Durand's bilateral operator" \
            ours "$ours apply $in.hdr $o.jpg localtonemap:method=1,radius=3 --quality 95" \
            pfstools "pfsin $in.hdr | pfstmo_durand02 | pfsout $o.jpg" \
            luminance-hdr-cli "luminance-hdr-cli -l $in.hdr --tmo durand -q 95 -o $o.jpg"
    fi

    # Resize: our filter index, then each peer's nearest filter ("-" where it has none).
    #          ours vips oiiotool ImageMagick
    resize_filters="0:Nearest:nearest:box:Box 1:Bilinear:linear:triangle:Triangle
        2:Hermite:-:-:Hermite 3:Bell:-:-:Quadratic 4:B-Spline:-:bspline:Spline
        5:Lanczos:lanczos3:lanczos3:Lanczos 6:Mitchell:mitchell:mitchell:Mitchell"
    [ "$QUICK" = 1 ] && resize_filters="5:Lanczos:lanczos3:lanczos3:Lanczos"
    for pct in 50 150; do
        [ "$QUICK" = 1 ] && [ $pct = 150 ] && continue
        w=$((6000 * pct / 100))
        h=$((4000 * pct / 100))
        scale=$(awk -v p="$pct" 'BEGIN { print p / 100 }')
        for f in $resize_filters; do
            IFS=: read -r index name vk of mf <<<"$f"
            peers=()
            [ "$vk" = - ] || peers+=(vips "vips resize $in.hdr $o.hdr $scale --kernel $vk")
            [ "$of" = - ] || peers+=(oiiotool "$oiio $in.hdr --resize:filter=$of ${w}x$h -o $o.hdr")
            peers+=(convert "$CONVERT $in.hdr -filter $mf -resize ${w}x$h! $o.hdr")
            cli_row "resize $pct% $name" "$n" "" \
                ours "$ours apply $in.hdr $o.hdr resize:newwidth=$w,newheight=$h,filterindex=$index" \
                "${peers[@]}"
        done
    done

    # Rotation by 17 degrees: ours, vips, oiiotool, ImageMagick (point filter: interpolation).
    rotations="0:Nearest:nearest:box:Nearest 1:Bilinear:bilinear:triangle:Bilinear
        2:Bicubic:bicubic:catmull-rom:Catrom 3:Mitchell:-:mitchell:- 4:Lagrange:-:-:-"
    [ "$QUICK" = 1 ] && rotations="1:Bilinear:bilinear:triangle:Bilinear"
    for f in $rotations; do
        IFS=: read -r index name vi of mi <<<"$f"
        peers=()
        [ "$vi" = - ] || peers+=(vips "vips rotate $in.hdr $o.hdr 17 --interpolate $vi")
        [ "$of" = - ] || peers+=(oiiotool "$oiio $in.hdr --rotate:filter=$of:recompute_roi=0 17 -o $o.hdr")
        [ "$mi" = - ] || peers+=(convert "$CONVERT $in.hdr -background white -virtual-pixel background -filter point -interpolate $mi -distort SRT 17 $o.hdr")
        cli_row "rotate 17 $name" "$n" "vips: canvas grows" \
            ours "$ours apply $in.hdr $o.hdr rotate:angle=17,interpolation=$index" "${peers[@]}"
    done

    # Flips and quarter turns.
    turns="fliphorz:horizontal:--flop:-flop:-h flipvert:vertical:--flip:-flip:-v
        rotate180:d180:--rotate180:-rotate_180:- rotate90cw:d90:--rotate90:-rotate_90:rot
        rotate90ccw:d270:--rotate270:-rotate_270:rot_-r"
    [ "$QUICK" = 1 ] && turns="fliphorz:horizontal:--flop:-flop:-h"
    for t in $turns; do
        IFS=: read -r op vo oo mo po <<<"$t"
        peers=()
        case $vo in
        horizontal | vertical) peers+=(vips "vips flip $in.hdr $o.hdr $vo") ;;
        *) peers+=(vips "vips rot $in.hdr $o.hdr $vo") ;;
        esac
        peers+=(oiiotool "$oiio $in.hdr $oo -o $o.hdr")
        peers+=(convert "$CONVERT $in.hdr ${mo//_/ } $o.hdr")
        case $po in
        -) ;;
        rot) peers+=(pfstools "pfsin $in.hdr | pfsrotate | pfsout $o.hdr") ;;
        rot_-r) peers+=(pfstools "pfsin $in.hdr | pfsrotate -r | pfsout $o.hdr") ;;
        *) peers+=(pfstools "pfsin $in.hdr | pfsflip $po | pfsout $o.hdr") ;;
        esac
        cli_row "$op" "$n" "" ours "$ours apply $in.hdr $o.hdr $op" "${peers[@]}"
    done

    # Merges of the JPEG brackets into OpenEXR. Peers do one merge each, timed once per count
    # and set beside each of our modes.
    counts="3 5"
    [ "$QUICK" = 1 ] && counts=3
    for count in $counts; do
        if [ "$count" = 3 ]; then evs="-2 0 2"; else evs="-2 -1 0 1 2"; fi
        files=""
        : >"$WORK/set.hdrgen"
        for ev in $evs; do
            file=$(printf '%s/ev%+d.jpg' "$WORK" "$ev")
            files="$files $file"
            # pfsinhdrgen takes the inverse exposure time: 1/60 s at EV 0, 2^EV times that.
            awk -v f="$file" -v ev="$ev" 'BEGIN { printf "%s %.6f 8 100 0\n", f, 60 / 2 ^ ev }' \
                >>"$WORK/set.hdrgen"
        done
        ev_list=$(echo "$evs" | tr ' ' ',')
        modes="average logaritmic weighted"
        [ "$QUICK" = 1 ] && modes=logaritmic
        first=1
        for mode in $modes; do
            peers=()
            if [ $first = 1 ]; then
                peers=(luminance-hdr-cli "luminance-hdr-cli -e $ev_list --hdrModel debevec --hdrWeight triangular --hdrResponseCurve linear -s $o.exr $files"
                    pfstools "pfsinhdrgen $WORK/set.hdrgen | pfshdrcalibrate --response linear | pfsout $o.exr"
                    enfuse "enfuse -o $o.tif $files")
            fi
            cli_row "merge $count photos $mode" "$n" "" \
                ours "$ours merge $o.exr $files --mode $mode" "${peers[@]}"
            first=0
        done
        # The peers' figures stand beside every mode.
        "$PY" - "$ROWS" "merge $count photos" "$modes" "$n" <<'EOF'
import sys
path, prefix, modes, n = sys.argv[1], sys.argv[2], sys.argv[3].split(), sys.argv[4]
rows = [line.rstrip("\n").split("\t") for line in open(path)]
first = f"{prefix} {modes[0]}"
peers = [r for r in rows if r[:3] == ["cli", first, n] and r[3] != "ours"]
with open(path, "a") as out:
    for mode in modes[1:]:
        for r in peers:
            out.write("\t".join(["cli", f"{prefix} {mode}"] + r[2:]) + "\n")
EOF
    done

    # End to end: open the 24 MP EXR, tone-map (global Reinhard), save JPEG quality 95.
    cli_row "EXR -> tone map -> JPEG" "$n" "tone map: ours Reinhard, peers reinhard02" \
        ours "$ours apply $in.exr $o.jpg tonemap:method=2 --quality 95" \
        luminance-hdr-cli "luminance-hdr-cli -l $in.exr --tmo reinhard02 -q 95 -o $o.jpg" \
        pfstools "pfsin $in.exr | pfstmo_reinhard02 | pfsgamma -g 2.2 | pfsout $o.jpg"
done
unset VIPS_CONCURRENCY MAGICK_THREAD_LIMIT OMP_NUM_THREADS

# --- The table -------------------------------------------------------------------------------------
"$PY" - "$ROWS" <<'EOF'
import sys
rows = [(line.rstrip("\n").split("\t") + [""] * 10)[:10] for line in open(sys.argv[1]) if line.strip()]
order, table = [], {}
for section, op, n, who, med, lo, hi, cpu, peak, note in rows:
    key = (section, op, n)
    if key not in table:
        order.append(key)
        table[key] = []
    table[key].append((who, med, lo, hi, cpu, peak, note))
copy = {n: float(e[1]) for (section, op, n), entries in table.items()
        if section == "mem" and op == "memory pass (copy)" for e in entries if e[0] == "ours"}
float_mb = 6000 * 4000 * 16 / 1e6

def line(cells):
    widths = [32, 3, 9, 6, 8, 6, 26, 6, 10]
    text = ""
    for i, (cell, width) in enumerate(zip(cells, widths)):
        text += f"{cell:<{width}} " if i in (0, 6) else f"{cell:>{width}} "
    return text + cells[-1]

titles = {"mem": "in memory: ours (Google Benchmark) against OpenCV (cv2, float32)",
          "cli": "command line: lumivex-cli against the peers' command lines (hyperfine, same files)"}
for section in ("mem", "cli"):
    print(f"== {titles[section]}")
    print(line(["operation", "thr", "ours ms", "spread", "cpu ms", "passes", "fastest peer ms",
                "ratio", "MB", "notes"]))
    for key in order:
        ours = [e for e in table[key] if e[0] == "ours"]
        if key[0] != section or not ours:  # a peer's row whose case we did not run
            continue
        _, op, n = key
        notes, peers = [], []
        cells = ["-"] * 4
        ours_peak = ""
        if ours and ours[0][1]:
            _, med, lo, hi, cpu, peak, note = ours[0]
            m = float(med)
            cells = [f"{m:.1f}", f"{(float(hi) - float(lo)) / m * 100:.0f}%" if m else "-",
                     f"{float(cpu):.0f}" if cpu else "-",
                     f"{m / copy[n]:.1f}" if copy.get(n) else "-"]
            ours_peak = peak
            if note:
                notes.append(note)
        else:
            notes.append(f"ours{ours[0][6]}")
        for who, med, lo, hi, cpu, peak, note in table[key]:
            if who == "ours":
                continue
            if not med:
                notes.append(f"{who} {note}")
                continue
            # OpenCV rows with another call than the usual name it in the note.
            name = note.split(" (")[0].split(",")[0] if note.startswith("cv2") else who
            peers.append((float(med), name, peak, note))
        peers.sort()
        best, ratio, mb = "-", "-", ours_peak or "-"
        if peers:
            pm, name, peak, note = peers[0]
            best = f"{name} {pm:.1f}"
            if cells[0] != "-":
                ratio = f"{float(cells[0]) / pm:.2f}"
            if ours_peak or peak:
                mb = f"{ours_peak or '-'}/{peak or '-'}"
            if note and not note.startswith("cv2"):
                notes.append(f"{name}: {note}")
            notes += [f"{p[1]} {p[0]:.0f}" + (f" ({p[3]})" if p[3] and not p[3].startswith("cv2")
                                              else "") for p in peers[1:]]
        if op.startswith("EXR -> tone map") and ours_peak:
            notes.append(f"ours peak RSS {float(ours_peak) / float_mb:.2f}x the float image "
                         f"({float_mb:.0f} MB; goal 2.2x)")
        print(line([op, n] + cells + [best, ratio, mb, "; ".join(notes)]))
    print()
EOF
echo "load average before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg);" \
    "$(nproc) cores; $(($(date +%s) - started)) s"
echo "ratio: ours / fastest peer, below 1 ours faster. passes: ours / one copy of the float image" \
    "(same run, same threads). MB: peak heap beyond the input (benchmarks; loads and saves:"\
    "resident growth) or peak RSS (GNU time), ours/peer."
