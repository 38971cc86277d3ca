#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 20 s), seeded
# from tests/data. Needs clang-14 and libfuzzer-14-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
out=${LUMIVEX_FUZZ_DIR:-build-fuzz}
mkdir -p "$out"
cxx="clang++-14 -std=c++20 -g -O1 -ffp-contract=off -fsanitize=fuzzer,address,undefined -I."
core="core/BmpHdr.cpp core/Parallel.cpp core/Progress.cpp core/RowMemory.cpp platform/Bitmap.cpp
    platform/HugePages.cpp platform/SysColors.cpp"
build() {  # name, sources...
    local name=$1
    shift
    [ -x "$out/$name" ] && [ -z "$(find "$@" -newer "$out/$name" 2>/dev/null)" ] && return 0
    $cxx "$@" -o "$out/$name" -ljpeg -ldl -lpthread
}
build FuzzBmp tests/fuzz/FuzzBmp.cpp platform/BmpFile.cpp platform/Bitmap.cpp
build FuzzJpeg tests/fuzz/FuzzJpeg.cpp platform/JpegFile.cpp platform/Bitmap.cpp
build FuzzFreeRows tests/fuzz/FuzzFreeRows.cpp io/FreeHdr.cpp io/FreeImageApi.cpp io/FileStatus.cpp \
    io/HeaderCheck.cpp io/PlatformHdr.cpp io/RadianceHdr.cpp platform/BmpFile.cpp \
    platform/JpegFile.cpp platform/SafeSave.cpp adjust/ToneAdjust.cpp adjust/ToneCurve.cpp $core
build FuzzIni tests/fuzz/FuzzIni.cpp platform/IniFile.cpp platform/SafeSave.cpp
# The engine once, as an archive, for the targets that reach most of it.
engine=$out/libengine.a
# (io/ImageLib is the editor's document and needs Qt.)
engineSources=$(git ls-files 'platform/*.cpp' 'core/*.cpp' 'adjust/*.cpp' 'filters/*.cpp' \
    'geometry/*.cpp' 'io/*.cpp' 'merge/*.cpp' view/DisplayHdr.cpp cli/Cli.cpp cli/Operations.cpp |
    grep -v '^io/ImageLib.cpp$')
# shellcheck disable=SC2086
if [ ! -f "$engine" ] || [ -n "$(find $engineSources $(git ls-files '*.h') -newer "$engine")" ]; then
    mkdir -p "$out/engine"
    # clang 14 refuses the kernels' 256-bit vector helpers outside AVX code (GCC only warns), so
    # the engine is built for the fuzzing machine's AVX.
    # shellcheck disable=SC2086
    printf '%s\n' $engineSources | xargs -P "$(nproc)" -I{} sh -c \
        'f={}; '"$cxx"' -mavx -c "$f" -o '"$out"'/engine/$(echo "$f" | tr / _).o'
    rm -f "$engine"
    ar rcs "$engine" "$out"/engine/*.o
fi
buildEngine() {  # name, harness
    [ -x "$out/$1" ] && [ -z "$(find "$2" "$engine" -newer "$out/$1" 2>/dev/null)" ] && return 0
    $cxx "$2" "$engine" -o "$out/$1" -ljpeg -ldl -lpthread
}
buildEngine FuzzHeaderCheck tests/fuzz/FuzzHeaderCheck.cpp
buildEngine FuzzOperation tests/fuzz/FuzzOperation.cpp
buildEngine FuzzCli tests/fuzz/FuzzCli.cpp
buildEngine FuzzRoundTrip tests/fuzz/FuzzRoundTrip.cpp
buildEngine FuzzIsolatedLoad tests/fuzz/FuzzIsolatedLoad.cpp
buildEngine FuzzRadiance tests/fuzz/FuzzRadiance.cpp
# Targets and their seed folders: tests/fuzz/Targets.txt (the test build replays the same).
grep '^Fuzz' tests/fuzz/Targets.txt | while read -r name seeds; do
    corpus=$(cd "$out" && pwd)/corpus-$name
    mkdir -p "$corpus"
    # Absolute paths: a target may change its working folder. The corpus kept in
    # tests/fuzz/corpus/NAME and the crash cases found earlier (tests/fuzz/regressions/NAME)
    # seed the run as well.
    dirs=("$corpus")
    for d in $seeds "tests/fuzz/corpus/$name" "tests/fuzz/regressions/$name"; do
        [ -d "$d" ] && dirs+=("$PWD/$d")
    done
    echo "== $name: $seconds s =="
    "$out/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1048576 -print_final_stats=0 \
        -artifact_prefix="$PWD/$out/$name-" "${dirs[@]}" </dev/null 2>&1 | tail -n 3
done
