#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>

#include "adjust/ColorAdjust.h"
#include "adjust/HistogramHdr.h"
#include "adjust/ToneAdjust.h"
#include "adjust/ToneCurve.h"
#include "bench/BenchImage.h"
#include "bench/BenchLanes.h"
#include "bench/BenchMemory.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"

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

// CPU seconds of the whole process (every thread), beside the wall time.
double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The most heap one run holds beyond what was live before it, measured after the timed runs.
void SetPeak(benchmark::State& state, std::int64_t bytes)
{
    state.counters["peak_MB"] = static_cast<double>(bytes) / 1e6;
}

// Arguments: width, height, threads. Wall time, because the bands run on other threads.
void Sizes(benchmark::internal::Benchmark* b)
{
    b->Args({6000, 4000, 1})->Args({6000, 4000, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Every iteration starts from the pristine pixels; the copy is not timed.
template <typename TOperation>
void RunOperation(benchmark::State& state, TOperation operation)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    TBmpHdr image;
    image.Assign(&source);
    double cpu = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        image.Assign(&source);
        const double start = ProcessCpuSeconds();
        state.ResumeTiming();
        operation(&image);
        benchmark::DoNotOptimize(image.Pixels.data());
        benchmark::ClobberMemory();
        state.PauseTiming();
        cpu += ProcessCpuSeconds() - start;
        state.ResumeTiming();
    }
    // All threads' CPU milliseconds per call: on a loaded machine the wall time also holds the
    // waits for a core.
    state.counters["cpu_ms"] = 1e3 * cpu / static_cast<double>(state.iterations());
    image.Assign(&source);
    SetPeak(state, bench::PeakOf([&] { operation(&image); }));
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
    SetThreadCount(0);
}

// The baseline: one read and one write of every pixel.
void BM_Copy(benchmark::State& state)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    TBmpHdr image;
    image.Assign(&source);  // allocated outside the loop, so the loop only copies
    const double start = ProcessCpuSeconds();
    for (auto _ : state) {
        image.Assign(&source);
        benchmark::DoNotOptimize(image.Pixels.data());
        benchmark::ClobberMemory();
    }
    state.counters["cpu_ms"] =
        1e3 * (ProcessCpuSeconds() - start) / static_cast<double>(state.iterations());
    SetPeak(state, bench::PeakOf([&] { image.Assign(&source); }));
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
    SetThreadCount(0);
}

void BM_ToneMapLinear(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { ToneMapHdr(i, 0, 2, MaxRectHdr); });
}

void BM_ToneMapGamma(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { ToneMapHdr(i, 1, 2, MaxRectHdr); });
}

void BM_ToneMapReinhard(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { ToneMapHdr(i, 2, 2, MaxRectHdr); });
}

void BM_ToneMapFilmic(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { ToneMapHdr(i, 3, 2, MaxRectHdr); });
}

void BM_Offset(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { OffsetHdr(i, MaxRectHdr, 0.1f); });
}

void BM_Brightness(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { BrightnessHdr(i, MaxRectHdr, -0.3f, 0.2f, 0.5f); });
}

void BM_ContrastChannels(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { ContrastChannelsHdr(i, MaxRectHdr, 0.5f, -0.3f, 1.0f); });
}

void BM_Contrast(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { ContrastHdr(i, MaxRectHdr, 0.4f); });
}

void BM_Gamma(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { GammaHdr(i, MaxRectHdr, 2.2f, 0.5f, 1.3f); });
}

void BM_SCurve(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { SCurveHdr(i, MaxRectHdr, 2.0f, 0.5f, 3.0f); });
}

void BM_LevelsLinear(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { LevelsLinearHdr(i, MaxRectHdr, 0.1f, 0.9f, 0.4f, 0.3f); });
}

void BM_LevelsCurve(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { LevelsCurveHdr(i, MaxRectHdr, 0.1f, 0.9f, 0.4f, 2.0f); });
}

void BM_SaturationChannels(benchmark::State& state)
{
    RunOperation(state,
                 [](TBmpHdr* i) { SaturationChannelsHdr(i, MaxRectHdr, 0.5f, -0.4f, 1.2f); });
}

void BM_Saturation(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { SaturationHdr(i, MaxRectHdr, -0.6f); });
}

void BM_Hue(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { HueHdr(i, MaxRectHdr, 0.3f); });
}

void BM_GrayscaleLuminosity(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { GrayscaleHdr(i, MaxRectHdr, 0); });
}

void BM_GrayscaleAverage(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { GrayscaleHdr(i, MaxRectHdr, 1); });
}

void BM_GrayscaleMaximum(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { GrayscaleHdr(i, MaxRectHdr, 3); });
}

void BM_Negative(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { NegativeHdr(i, MaxRectHdr); });
}

void BM_SetAlpha(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) { SetAlphaHdr(i, MaxRectHdr, 0.6f); });
}

void BM_ChannelLevels(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) {
        ChannelLevelsHdr(i, MaxRectHdr, TLevels{1.5f, 0.1f, 0.9f, 0.05f, 0.95f},
                         TLevels{0.7f, 0.0f, 0.8f, 0.0f, 1.0f}, TLevels{});
    });
}

void BM_Levels(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) {
        LevelsHdr(i, MaxRectHdr, TLevels{2.0f, 0.1f, 0.9f, 0.05f, 0.95f});
    });
}

void BM_FillRectModeNormal(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) {
        FillRectModeHdr(ColorHdr(0.3f, 0.6f, 0.9f, 0.8f), i, MaxRectHdr, 0, 0.7f);
    });
}

void BM_FillRectModeAdd(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) {
        FillRectModeHdr(ColorHdr(0.3f, 0.6f, 0.9f, 0.8f), i, MaxRectHdr, 1, 0.7f);
    });
}

void BM_FillRectModeSubtract(benchmark::State& state)
{
    RunOperation(state, [](TBmpHdr* i) {
        FillRectModeHdr(ColorHdr(0.3f, 0.6f, 0.9f, 0.8f), i, MaxRectHdr, 2, 0.7f);
    });
}

// The histograms only read, so they need no restore.
void BM_AccumulateHistograms(benchmark::State& state)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    SetHistogramBins(256);
    for (auto _ : state) {
        AccumulateHistograms(&source, MaxRectHdr, 1, 1);
        benchmark::DoNotOptimize(HistLuminosity.data());
    }
    SetPeak(state, bench::PeakOf([&] { AccumulateHistograms(&source, MaxRectHdr, 1, 1); }));
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
    SetThreadCount(0);
}

void BM_ComputeHistograms(benchmark::State& state)
{
    const TBmpHdr& source = Pristine(state.range(0), state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    SetHistogramBins(256);
    for (auto _ : state) {
        ComputeHistograms(&source, MaxRectHdr, 777);
        benchmark::DoNotOptimize(HistLuminosity.data());
    }
    SetPeak(state, bench::PeakOf([&] { ComputeHistograms(&source, MaxRectHdr, 777); }));
    state.SetBytesProcessed(state.iterations() * source.GetDataSize());
    SetThreadCount(0);
}

}  // namespace

BENCHMARK(BM_Copy)->Apply(Sizes);
BENCHMARK(BM_ToneMapLinear)->Apply(Sizes);
BENCHMARK(BM_ToneMapGamma)->Apply(Sizes);
BENCHMARK(BM_ToneMapReinhard)->Apply(Sizes);
BENCHMARK(BM_ToneMapFilmic)->Apply(Sizes);
BENCHMARK(BM_Offset)->Apply(Sizes);
BENCHMARK(BM_Brightness)->Apply(Sizes);
BENCHMARK(BM_ContrastChannels)->Apply(Sizes);
BENCHMARK(BM_Contrast)->Apply(Sizes);
BENCHMARK(BM_Gamma)->Apply(Sizes);
BENCHMARK(BM_SCurve)->Apply(Sizes);
BENCHMARK(BM_LevelsLinear)->Apply(Sizes);
BENCHMARK(BM_LevelsCurve)->Apply(Sizes);
BENCHMARK(BM_SaturationChannels)->Apply(Sizes);
BENCHMARK(BM_Saturation)->Apply(Sizes);
BENCHMARK(BM_Hue)->Apply(Sizes);
BENCHMARK(BM_GrayscaleLuminosity)->Apply(Sizes);
BENCHMARK(BM_GrayscaleAverage)->Apply(Sizes);
BENCHMARK(BM_GrayscaleMaximum)->Apply(Sizes);
BENCHMARK(BM_Negative)->Apply(Sizes);
BENCHMARK(BM_SetAlpha)->Apply(Sizes);
BENCHMARK(BM_ChannelLevels)->Apply(Sizes);
BENCHMARK(BM_Levels)->Apply(Sizes);
BENCHMARK(BM_FillRectModeNormal)->Apply(Sizes);
BENCHMARK(BM_FillRectModeAdd)->Apply(Sizes);
BENCHMARK(BM_FillRectModeSubtract)->Apply(Sizes);
BENCHMARK(BM_AccumulateHistograms)->Apply(Sizes);
BENCHMARK(BM_ComputeHistograms)->Apply(Sizes);
