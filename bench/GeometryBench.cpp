#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

#include "bench/BenchImage.h"
#include "bench/BenchMemory.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "geometry/GeometryHdr.h"
#include "geometry/ResampleHdr.h"

using namespace lumivex;

namespace {

// Made once per size and shared: generating 24 M pixels costs more than most operations.
const TBmpHdr& Pristine(std::int64_t width, std::int64_t height)
{
    static TBmpHdr image;
    if (image.Width() != width || image.Height() != height)
        bench::MakeBenchImage(image, width, height);
    return image;
}

// Arguments: width, height, threads and the filter or interpolation index. Wall time, because
// the bands run on other threads.
void Cases(benchmark::internal::Benchmark* b, int modes)
{
    for (int mode = 0; mode < modes; ++mode)
        for (const int threads : {1, 2})
            b->Args({6000, 4000, threads, mode});
    // The process CPU time counts the bands' threads too, so a shared machine shows in it less.
    b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
}

void Filters(benchmark::internal::Benchmark* b) { Cases(b, ResampleFilterCount); }
void Interpolations(benchmark::internal::Benchmark* b) { Cases(b, 5); }

// Nanoseconds per destination pixel, the unit that bounds the work of every geometry routine
// (wall time of the timed runs over their destination pixels).
void Report(benchmark::State& state, const TBmpHdr& source, const TBmpHdr& result,
            std::chrono::nanoseconds elapsed, const char* label)
{
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
    const double pixels = static_cast<double>(result.Width()) * result.Height();
    state.counters["ns_px"] =
        static_cast<double>(elapsed.count()) / (pixels * static_cast<double>(state.iterations()));
    state.SetLabel(label);
}

// Runs the operation once per iteration and adds up its wall time; one more run after them
// measures the most heap it holds beyond what was live before.
template <typename TOperation>
std::chrono::nanoseconds Timed(benchmark::State& state, TOperation operation)
{
    std::chrono::nanoseconds elapsed{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        operation();
        elapsed += std::chrono::steady_clock::now() - start;
        benchmark::ClobberMemory();
    }
    state.counters["peak_MB"] = static_cast<double>(bench::PeakOf(operation)) / 1e6;
    return elapsed;
}

template <int Percent>
void BM_Resize(benchmark::State& state)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    const auto filter = static_cast<std::uint8_t>(state.range(3));
    const std::int64_t w = source.Width() * Percent / 100;
    const std::int64_t h = source.Height() * Percent / 100;
    TBmpHdr result;
    result.SetSize(w, h, clNoneHdr);  // allocated outside the loop, as the editor's document is
    const auto elapsed = Timed(state, [&] {
        ResizeHdr(&source, &result, w, 0.0f, filter, h);
        benchmark::DoNotOptimize(result.Pixels.data());
    });
    Report(state, source, result, elapsed, ResampleFilters[filter].Name);
    SetThreadCount(0);
}

void BM_Rotate17(benchmark::State& state)
{
    static const char* const Names[] = {"Nearest", "Bilinear", "Bicubic", "Mitchell", "Lagrange"};
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    const auto mode = static_cast<std::uint8_t>(state.range(3));
    TBmpHdr result;
    result.SetSize(source.Width(), source.Height(), clNoneHdr);
    const auto elapsed = Timed(state, [&] {
        RotateHdr(&source, &result, false, mode, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), 17.0f);
        benchmark::DoNotOptimize(result.Pixels.data());
    });
    Report(state, source, result, elapsed, Names[mode]);
    SetThreadCount(0);
}

// The exact permutations, for scale: each reads and writes every pixel once.
void BM_Rotate90CW(benchmark::State& state)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    TBmpHdr result;
    const auto elapsed = Timed(state, [&] {
        Rotate90CWHdr(&source, &result);
        benchmark::DoNotOptimize(result.Pixels.data());
    });
    Report(state, source, result, elapsed, "");
    SetThreadCount(0);
}

void BM_Rotate90CCW(benchmark::State& state)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    TBmpHdr result;
    const auto elapsed = Timed(state, [&] {
        Rotate90CCWHdr(&source, &result);
        benchmark::DoNotOptimize(result.Pixels.data());
    });
    Report(state, source, result, elapsed, "");
    SetThreadCount(0);
}

// The in-place permutations: a run undoes the one before, so every run does the same work.
template <void (*Operation)(TBmpHdr*, TRect)>
void BM_InPlace(benchmark::State& state)
{
    TBmpHdr image;
    image.Assign(&Pristine(state.range(0), state.range(1)));
    SetThreadCount(static_cast<int>(state.range(2)));
    const auto elapsed = Timed(state, [&] {
        Operation(&image, MaxRectHdr);
        benchmark::DoNotOptimize(image.Pixels.data());
    });
    Report(state, image, image, elapsed, "");
    SetThreadCount(0);
}

void BM_FlipHorz(benchmark::State& state) { BM_InPlace<FlipHorzHdr>(state); }
void BM_FlipVert(benchmark::State& state) { BM_InPlace<FlipVertHdr>(state); }
void BM_Rotate180(benchmark::State& state) { BM_InPlace<Rotate180Hdr>(state); }

}  // namespace

BENCHMARK(BM_Resize<50>)->Apply(Filters);
BENCHMARK(BM_Resize<150>)->Apply(Filters);
BENCHMARK(BM_Rotate17)->Apply(Interpolations);
BENCHMARK(BM_Rotate90CW)->Apply([](benchmark::internal::Benchmark* b) { Cases(b, 1); });
BENCHMARK(BM_Rotate90CCW)->Apply([](benchmark::internal::Benchmark* b) { Cases(b, 1); });
BENCHMARK(BM_FlipHorz)->Apply([](benchmark::internal::Benchmark* b) { Cases(b, 1); });
BENCHMARK(BM_FlipVert)->Apply([](benchmark::internal::Benchmark* b) { Cases(b, 1); });
BENCHMARK(BM_Rotate180)->Apply([](benchmark::internal::Benchmark* b) { Cases(b, 1); });
