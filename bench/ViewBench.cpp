#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "bench/BenchImage.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "history/UndoHdr.h"
#include "platform/Bitmap.h"
#include "view/DisplayHdr.h"

using namespace lumivex;

namespace {

// One 6000 x 4000 photograph for every benchmark: making it takes longer than the draws.
const TBmpHdr& Photo(std::int64_t width, std::int64_t height)
{
    static TBmpHdr image;
    if (image.Width() != width || image.Height() != height)
        bench::MakeBenchImage(image, width, height);
    return image;
}

// Arguments: image width, height, zoom in thousandths, threads (0: all cores). The view is
// 1600 x 1000 and shows the middle of the image, as a repaint of the whole window does.
void BM_StretchDrawView(benchmark::State& state)
{
    const TBmpHdr& image = Photo(state.range(0), state.range(1));
    const float zoom = static_cast<float>(state.range(2)) / 1000.0f;
    SetThreadCount(static_cast<int>(state.range(3)));
    TBitmap view(1600, 1000, TPixelFormat::pf24bit);
    const std::int32_t width = ScaledExtent(image.Width(), zoom);
    const std::int32_t height = ScaledExtent(image.Height(), zoom);
    const std::int32_t left = -std::max(0, (width - view.Width()) / 2);
    const std::int32_t top = -std::max(0, (height - view.Height()) / 2);
    const TRect dst{left, top, left + width, top + height};
    const TRect clip{0, 0, view.Width(), view.Height()};
    const TRect shown = IntersectRect(dst, clip);
    for (auto _ : state) {
        StretchDrawHdrToBitmap(&image, MaxRectHdr, &view, dst, clip, 1.0f);
        benchmark::DoNotOptimize(view.ScanLine(0));
    }
    const std::int64_t pixels = std::int64_t{shown.Width()} * shown.Height();
    state.SetBytesProcessed(state.iterations() * pixels * 16);
    state.counters["ns_per_pixel"] =
        benchmark::Counter(static_cast<double>(state.iterations() * pixels) / 1e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    SetThreadCount(0);
}

// Undo and redo of a whole-image record whose operation halved the image: rows and size change
// places, no pixel is copied. Arguments: width, height.
void BM_UndoRedoWholeImage(benchmark::State& state)
{
    TBmpHdr image;
    image.Assign(&Photo(state.range(0), state.range(1)));
    TUndoList list(7);
    list.Add(TUndoHdrItem::CreateWhole(&image));
    list.Commit();
    image.SetSize(image.Width() / 2, image.Height() / 2, clNoneHdr);
    for (auto _ : state) {
        list.Undo();
        list.Redo();
        benchmark::DoNotOptimize(image.Pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * 2 * list.GetMemorySize());
    state.counters["ns_per_step"] =
        benchmark::Counter(static_cast<double>(state.iterations() * 2) / 1e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The same for a region record over the whole image: the pixels are swapped in place.
void BM_UndoRedoRegion(benchmark::State& state)
{
    TBmpHdr image;
    image.Assign(&Photo(state.range(0), state.range(1)));
    TUndoList list(7);
    list.Add(TUndoHdrItem::CreateRegion(&image, MaxRectHdr));
    list.Commit();
    for (auto _ : state) {
        list.Undo();
        list.Redo();
        benchmark::DoNotOptimize(image.Pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * 2 * list.GetMemorySize());
    state.counters["ns_per_step"] =
        benchmark::Counter(static_cast<double>(state.iterations() * 2) / 1e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_StretchDrawView)
    ->ArgNames({"width", "height", "zoom_milli", "threads"})
    ->Args({6000, 4000, 250, 1})
    ->Args({6000, 4000, 250, 0})
    ->Args({6000, 4000, 1000, 1})
    ->Args({6000, 4000, 1000, 0})
    ->Args({6000, 4000, 4000, 1})
    ->Args({6000, 4000, 4000, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoRedoWholeImage)->Args({6000, 4000})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoRedoRegion)->Args({6000, 4000})->Unit(benchmark::kMillisecond);
