#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 20 s), seeded
# from tests/data. Needs clang-14 and libfuzzer-14-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
out=build-fuzz
mkdir -p "$out"
cxx="clang++-14 -std=c++20 -g -O1 -ffp-contract=off -fsanitize=fuzzer,address,undefined -I."
core="core/BmpHdr.cpp core/Parallel.cpp core/Progress.cpp platform/Bitmap.cpp platform/SysColors.cpp"
build() {  # name, sources...
    local name=$1
    shift
    [ -x "$out/$name" ] && [ -z "$(find "$@" -newer "$out/$name" 2>/dev/null)" ] && return 0
    $cxx "$@" -o "$out/$name" -ljpeg -ldl -lpthread
}
build FuzzBmp tests/fuzz/FuzzBmp.cpp platform/BmpFile.cpp platform/Bitmap.cpp
build FuzzJpeg tests/fuzz/FuzzJpeg.cpp platform/JpegFile.cpp platform/Bitmap.cpp
build FuzzFreeRows tests/fuzz/FuzzFreeRows.cpp io/FreeHdr.cpp io/FreeImageApi.cpp io/FileStatus.cpp \
    io/HeaderCheck.cpp io/PlatformHdr.cpp platform/BmpFile.cpp platform/JpegFile.cpp \
    platform/SafeSave.cpp $core
build FuzzIni tests/fuzz/FuzzIni.cpp platform/IniFile.cpp platform/SafeSave.cpp
for target in FuzzBmp:tests/data/bad:tests/data/ldr FuzzJpeg:tests/data/bad:tests/data/ldr FuzzFreeRows: FuzzIni:; do
    name=${target%%:*}
    seeds=${target#*:}
    corpus=$out/corpus-$name
    mkdir -p "$corpus"
    echo "== $name: $seconds s =="
    # shellcheck disable=SC2086
    "$out/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1048576 -print_final_stats=0 \
        "$corpus" ${seeds//:/ } 2>&1 | tail -n 3
done
