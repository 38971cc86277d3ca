#include <benchmark/benchmark.h>

#include <ctime>

#include "bench/BenchImage.h"
#include "bench/BenchMemory.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"

using namespace lumivex;

namespace {

// CPU seconds of the whole process (every thread), beside the wall time.
double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Arguments: width, height, threads.
void Configure(benchmark::State& state, TBmpHdr& image)
{
    SetThreadCount(static_cast<int>(state.range(2)));
    bench::MakeBenchImage(image, state.range(0), state.range(1));
}

void BM_Assign(benchmark::State& state)
{
    TBmpHdr source;
    Configure(state, source);
    TBmpHdr target;
    target.Assign(&source);
    for (auto _ : state) {
        target.Assign(&source);
        benchmark::DoNotOptimize(target.Pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
}

void BM_GetMinMax(benchmark::State& state)
{
    TBmpHdr image;
    Configure(state, image);
    const double start = ProcessCpuSeconds();
    for (auto _ : state) {
        float mn = 0.0f;
        float mx = 0.0f;
        image.GetMinMax(mn, mx, MaxRectHdr);
        benchmark::DoNotOptimize(mn);
        benchmark::DoNotOptimize(mx);
    }
    // All threads' CPU milliseconds per call.
    state.counters["cpu_ms"] =
        1e3 * (ProcessCpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["peak_MB"] = static_cast<double>(bench::PeakOf([&] {
                                    float mn = 0.0f;
                                    float mx = 0.0f;
                                    image.GetMinMax(mn, mx, MaxRectHdr);
                                })) /
                                1e6;
    state.SetBytesProcessed(state.iterations() * image.GetDataSize());
}

// Runs op on a fresh copy of source in every iteration; making the copy is not timed.
template <typename TOp>
void RunOnCopies(benchmark::State& state, const TBmpHdr& source, TOp op)
{
    TBmpHdr image;
    for (auto _ : state) {
        state.PauseTiming();
        image.Assign(&source);
        state.ResumeTiming();
        op(image);
        benchmark::DoNotOptimize(image.Pixels.data());
    }
    image.Assign(&source);
    state.counters["peak_MB"] = static_cast<double>(bench::PeakOf([&] { op(image); })) / 1e6;
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
}

void BM_Normalize(benchmark::State& state)
{
    TBmpHdr source;
    Configure(state, source);
    RunOnCopies(state, source, [](TBmpHdr& image) { image.Normalize(MaxRectHdr); });
}

void BM_NormalizeChannels(benchmark::State& state)
{
    TBmpHdr source;
    Configure(state, source);
    RunOnCopies(state, source, [](TBmpHdr& image) { image.NormalizeChannels(MaxRectHdr); });
}

void BM_ShiftToPositive(benchmark::State& state)
{
    TBmpHdr source;
    Configure(state, source);
    source.Pixels[0][0].G = -0.5f;  // a positive image would only be searched, never shifted
    RunOnCopies(state, source, [](TBmpHdr& image) { image.ShiftToPositive(MaxRectHdr); });
}

// Arguments: width, height, threads. Wall time, because the bands run on other threads, and the
// CPU time of all of them beside it.
void Sizes(benchmark::internal::Benchmark* b)
{
    b->Args({6000, 4000, 1})->Args({6000, 4000, 2})->Unit(benchmark::kMillisecond);
    b->MeasureProcessCPUTime()->UseRealTime();
}

}  // namespace

BENCHMARK(BM_Assign)->Args({6000, 4000, 1})->Args({6000, 4000, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetMinMax)
    ->Args({6000, 4000, 1})
    ->Args({6000, 4000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Normalize)->Apply(Sizes);
BENCHMARK(BM_NormalizeChannels)->Apply(Sizes);
BENCHMARK(BM_ShiftToPositive)->Apply(Sizes);
