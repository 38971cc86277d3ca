#!/usr/bin/env bash
# Times libvips and OpenCV on a 6000x4000 4-band float32 image, the size filters_bench uses, so
# their gaussian and box blurs can be set beside ours on the same machine.
#
#   apt-get install -y libvips-tools python3-opencv python3-numpy  (libvips-dev: in-process rows)
#   bench/compare_filters.sh            # RADII="3 50" THREADS="1 2" RUNS=3 by default
#
# Kernels match ours: radius r means 2r + 1 taps per direction. OpenCV gets ksize 2r + 1 and
# sigma r / 3; libvips sizes its mask from sigma and min-ampl, so min-ampl 0.01 with sigma r / 3
# keeps taps out to exactly r (checked below with gaussmat, which gaussblur uses). Edges repeat
# the border pixels everywhere (OpenCV BORDER_REPLICATE; libvips always copies edges). The box
# blur is OpenCV's blur and, for libvips, convsep with a row of 2r + 1 ones.
#
# The `vips` command's times include mapping the input and writing the output, both in memory
# (/dev/shm); its `copy` row is that overhead alone. The in-process rows (vips-api) avoid it.
# OpenCV times only the call, into a preallocated output. Each figure is the best of RUNS runs;
# "cpu" is the process's CPU time in the best run (all its threads), which moves less than the
# wall time when other work shares the machine. VIPS_CLI=0 skips the command-line rows.
set -euo pipefail

PY=/usr/bin/python3  # Debian's interpreter, where python3-opencv and python3-numpy install
W=6000
H=4000
RADII=${RADII:-"3 50"}
THREADS=${THREADS:-"1 2"}
RUNS=${RUNS:-3}
WORK=$(mktemp -d /dev/shm/lumivex-compare.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

for tool in vips vipsheader; do
    command -v "$tool" >/dev/null || { echo "missing $tool (libvips-tools)" >&2; exit 1; }
done
"$PY" -c 'import cv2, numpy' || { echo "missing python3-opencv / python3-numpy" >&2; exit 1; }

# Smooth gradients, a bright spot and +-0.1 noise, inside 0..1, channels B, G, R, A.
"$PY" - "$WORK/in.raw" "$W" "$H" <<'EOF'
import sys
import numpy as np
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
u = (np.arange(w, dtype=np.float32) / w)[None, :]
v = (np.arange(h, dtype=np.float32) / h)[:, None]
spot = 0.3 * np.exp(-((u - 0.7) ** 2 + (v - 0.3) ** 2) * 200.0)
rng = np.random.default_rng(12345)
img = np.empty((h, w, 4), np.float32)
img[..., 0] = 0.2 + 0.4 * u * v + spot
img[..., 1] = 0.1 + 0.4 * v + spot
img[..., 2] = 0.1 + 0.6 * u + spot
img[..., :3] += rng.uniform(-0.1, 0.1, (h, w, 3)).astype(np.float32)
np.clip(img, 0.0, 1.0, out=img)
img[..., 3] = 1.0
img.tofile(path)
EOF
vips rawload "$WORK/in.raw" "$WORK/in.v" "$W" "$H" 4 --format float

pixels=$((W * H))
report() {  # tool operation radius threads wall-ms cpu-ms note
    awk -v t="$1" -v o="$2" -v r="$3" -v n="$4" -v ms="$5" -v cpu="$6" -v note="$7" \
        -v px="$pixels" 'BEGIN {
            printf "%-8s %-28s r=%-3s threads=%s %9.1f ms %7.2f ns/px  cpu %9s ms  %s\n",
                   t, o, r, n, ms, ms * 1e6 / px, cpu == "-" ? "-" : sprintf("%.1f", cpu), note }'
}

# Best wall time of RUNS runs of a command, in milliseconds; a run over 5 s is not repeated.
best_ms() {
    local best="" start end ms
    for _ in $(seq "$RUNS"); do
        start=$(date +%s%N)
        "$@"
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then
            best=$ms
        fi
        [ "$ms" -lt 5000 ] || break
    done
    echo "$best"
}

[ "${VIPS_CLI:-1}" = 0 ] || echo "== libvips $(vips --version), command line"
for n in $THREADS; do
    [ "${VIPS_CLI:-1}" = 0 ] && break
    export VIPS_CONCURRENCY=$n
    report vips copy - "$n" "$(best_ms vips copy "$WORK/in.v" "$WORK/out.v")" - "load + save only"
    for r in $RADII; do
        sigma=$(awk -v r="$r" 'BEGIN { printf "%.6f", r / 3 }')
        vips gaussmat "$WORK/g.mat" "$sigma" 0.01 --separable --precision float
        taps=$(vipsheader -f width "$WORK/g.mat")
        for precision in float approximate; do
            ms=$(best_ms vips gaussblur "$WORK/in.v" "$WORK/out.v" "$sigma" --min-ampl 0.01 \
                --precision "$precision")
            report vips "gaussblur-$precision" "$r" "$n" "$ms" - "sigma $sigma, mask $taps taps"
        done
    done
done
unset VIPS_CONCURRENCY

# The same operations inside one process, when libvips-dev is there: the input is in memory and
# nothing is saved. "memory" renders into a new memory image (its allocation and first touch
# included, as the `copy` row shows; done at the first radius only), "avg" renders into vips_avg,
# computing every output pixel and storing none.
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

/* The operation's output, built lazily: nothing is computed until it is rendered. */
static VipsImage* Build(VipsImage* in, const char* op, int r)
{
    VipsImage* out = NULL;
    const double sigma = r / 3.0;
    if (strcmp(op, "copy") == 0) {
        vips_copy(in, &out, NULL);
    } else if (strcmp(op, "gaussblur-float") == 0) {
        vips_gaussblur(in, &out, sigma, "min_ampl", 0.01, "precision", VIPS_PRECISION_FLOAT, NULL);
    } else if (strcmp(op, "gaussblur-approximate") == 0) {
        vips_gaussblur(in, &out, sigma, "min_ampl", 0.01, "precision", VIPS_PRECISION_APPROXIMATE,
                       NULL);
    } else if (strcmp(op, "convsep-box-float") == 0) {
        const int k = 2 * r + 1;
        VipsImage* mask = vips_image_new_matrix(k, 1);
        for (int x = 0; x < k; x++)
            *VIPS_MATRIX(mask, x, 0) = 1.0;
        vips_image_set_double(mask, "scale", k);
        vips_convsep(in, &out, mask, "precision", VIPS_PRECISION_FLOAT, NULL);
        g_object_unref(mask);
    }
    if (out == NULL)
        vips_error_exit("%s", op);
    return out;
}

/* vh in.v op radius threads runs memory|avg: prints op radius threads best_ms cpu_ms. */
int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]) || argc < 7)
        vips_error_exit("usage: vh in.v op radius threads runs memory|avg");
    const char* op = argv[2];
    const int r = atoi(argv[3]), runs = atoi(argv[5]);
    const int toMemory = strcmp(argv[6], "memory") == 0;
    vips_concurrency_set(atoi(argv[4]));
    vips_cache_set_max(0); /* every run recomputes */
    VipsImage* file = vips_image_new_from_file(argv[1], NULL);
    VipsImage* in = file ? vips_image_copy_memory(file) : NULL;
    if (in == NULL)
        vips_error_exit("load");
    double best = 1e30, bestCpu = 0.0;
    for (int i = 0; i < runs; i++) {
        VipsImage* out = Build(in, op, r);
        double average = 0.0;
        double t = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
        VipsImage* memory = toMemory ? vips_image_copy_memory(out) : NULL;
        if (toMemory ? memory == NULL : vips_avg(out, &average, NULL) != 0)
            vips_error_exit("render");
        t = Now(CLOCK_MONOTONIC) - t;
        cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        if (t < best) {
            best = t;
            bestCpu = cpu;
        }
        if (memory)
            g_object_unref(memory);
        g_object_unref(out);
        if (t > 5.0)
            break; /* a slow run is not repeated */
    }
    printf("%s %d %d %.1f %.1f\n", op, r, vips_concurrency_get(), best * 1e3, bestCpu * 1e3);
    g_object_unref(in);
    g_object_unref(file);
    vips_shutdown();
    return 0;
}
EOF
    # shellcheck disable=SC2046  # pkg-config prints several words
    cc -O2 -std=c11 "$WORK/vh.c" -o "$WORK/vh" $(pkg-config --cflags --libs vips)
    echo "== libvips $(pkg-config --modversion vips), in process"
    first=${RADII%% *}
    for n in $THREADS; do
        for r in $RADII; do
            for op in copy gaussblur-float gaussblur-approximate convsep-box-float; do
                for sink in memory avg; do
                    if [ "$r" != "$first" ] && { [ "$op" = copy ] || [ "$sink" = memory ]; }; then
                        continue
                    fi
                    read -r o rr t ms cpu < <("$WORK/vh" "$WORK/in.v" "$op" "$r" "$n" "$RUNS" "$sink")
                    [ "$o" = copy ] && rr=-
                    report vips-api "$o>$sink" "$rr" "$t" "$ms" "$cpu" ""
                done
            done
        done
    done
else
    echo "== libvips in process: skipped (needs cc and libvips-dev)"
fi

cat >"$WORK/cv.py" <<'EOF'
import sys
import time
import cv2
import numpy as np
path, w, h, n, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
radii = [int(r) for r in sys.argv[6].split()]
cv2.setNumThreads(n)
img = np.fromfile(path, np.float32).reshape(h, w, 4)
dst = np.empty_like(img)
np.copyto(dst, img)  # first touch of both
def best(f):  # wall and process CPU milliseconds of the fastest run; a run over 5 s is not repeated
    results = []
    for _ in range(runs):
        wall, cpu = time.perf_counter(), time.process_time()
        f()
        results.append(((time.perf_counter() - wall) * 1e3, (time.process_time() - cpu) * 1e3))
        if results[-1][0] > 5000:
            break
    return "%.1f %.1f" % min(results)
print("copy", "-", cv2.getNumThreads(), best(lambda: np.copyto(dst, img)), "numpy copyto")
for r in radii:
    k = 2 * r + 1
    sigma = r / 3
    ms = best(lambda: cv2.GaussianBlur(img, (k, k), sigma, dst=dst,
                                       borderType=cv2.BORDER_REPLICATE))
    print("GaussianBlur", r, cv2.getNumThreads(), ms, f"ksize {k}, sigma {sigma:.4f}")
    ms = best(lambda: cv2.blur(img, (k, k), dst=dst, borderType=cv2.BORDER_REPLICATE))
    print("blur-box", r, cv2.getNumThreads(), ms, f"ksize {k}")
EOF
echo "== OpenCV $("$PY" -c 'import cv2; print(cv2.__version__)')"
for n in $THREADS; do
    "$PY" "$WORK/cv.py" "$WORK/in.raw" "$W" "$H" "$n" "$RUNS" "$RADII" >"$WORK/cv.txt"
    while read -r o r t ms cpu note; do
        report opencv "$o" "$r" "$t" "$ms" "$cpu" "$note"
    done <"$WORK/cv.txt"
done
