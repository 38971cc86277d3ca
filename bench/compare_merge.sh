#!/bin/bash
# Merges the same synthetic 6000x4000 JPEG brackets with lumivex-cli, luminance-hdr-cli and
# pfstools (pfsinhdrgen, which reads each frame as pfsinme does, then pfshdrcalibrate), and
# prints wall time and peak resident memory of each run.
#   bench/compare_merge.sh BUILD_DIR [RUNS]
# The brackets are written once by merge_bench (MergeSevenFilesPeak) into
# $TMPDIR/lumivex-merge-bench: ev0..ev6.jpg are EV -3..+3.
set -euo pipefail
build=${1:?build folder}
runs=${2:-1}
folder=${TMPDIR:-/tmp}/lumivex-merge-bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if [ ! -f "$folder/ev6.jpg" ]; then
    "$build/bench/merge_bench" --benchmark_filter='MergeSevenFilesPeak/threads:1' >/dev/null
fi

measure() {  # label, command...
    local label=$1
    shift
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f "$label: %e s wall, %U s user, %M KB peak RSS" "$@" >/dev/null 2>"$out/log" ||
            { echo "$label: failed"; tail -3 "$out/log"; continue; }
        tail -1 "$out/log"
    done
}

for count in 3 5; do
    if [ $count = 3 ]; then
        evs=(-2 0 2)
        files=("$folder/ev1.jpg" "$folder/ev3.jpg" "$folder/ev5.jpg")
    else
        evs=(-2 -1 0 1 2)
        files=("$folder/ev1.jpg" "$folder/ev2.jpg" "$folder/ev3.jpg" "$folder/ev4.jpg" "$folder/ev5.jpg")
    fi
    echo "== $count photographs of 6000x4000"
    for mode in average logaritmic weighted; do
        for threads in 1 2; do
            measure "lumivex-cli merge --mode $mode --threads $threads" \
                "$build/cli/lumivex-cli" merge "$out/lumivex.exr" "${files[@]}" --mode "$mode" \
                --threads "$threads"
        done
    done
    ev_list=$(IFS=,; echo "${evs[*]}")
    measure "luminance-hdr-cli (debevec, triangular, linear response)" \
        luminance-hdr-cli -e "$ev_list" --hdrModel debevec --hdrWeight triangular \
        --hdrResponseCurve linear -s "$out/luminance.exr" "${files[@]}"
    # pfsinhdrgen takes the inverse exposure time: 1/60 s at EV 0, 2^EV times that.
    : >"$out/set.hdrgen"
    for i in "${!files[@]}"; do
        inverse=$(awk -v ev="${evs[$i]}" 'BEGIN { printf "%.6f", 60 / 2 ^ ev }')
        echo "${files[$i]} $inverse 8 100 0" >>"$out/set.hdrgen"
    done
    measure "pfsinhdrgen | pfshdrcalibrate (robertson self-calibration) | pfsout" \
        bash -c "pfsinhdrgen '$out/set.hdrgen' | pfshdrcalibrate | pfsout '$out/pfs.exr'"
done
