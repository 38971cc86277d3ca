#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchMemory.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "filters/ConvolutionHdr.h"
#include "filters/LocalToneHdr.h"

using namespace lumivex;

namespace {

constexpr std::int64_t Width = 6000;
constexpr std::int64_t Height = 4000;
constexpr float Sensitivity = 0.5f;  // away from 0 and 1, where a filter might take a shortcut

using TClock = std::chrono::steady_clock;

// Smooth gradients with a bright spot plus pixel noise, all inside 0..1 (the range every filter
// clamps to). Made once: generating 24 M pixels costs more than the fast filters.
const TBmpHdr& Pristine()
{
    static TBmpHdr image;
    if (!image.IsEmpty())
        return image;
    image.SetSize(Width, Height, clNoneHdr);
    std::uint32_t seed = 12345;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) * (0.2f / 16777216.0f) - 0.1f;  // -0.1 .. 0.1
    };
    for (std::int64_t y = 0; y < Height; ++y) {
        TRawHdr& row = image.Pixels[static_cast<std::size_t>(y)];
        for (std::int64_t x = 0; x < Width; ++x) {
            const float u = static_cast<float>(x) / static_cast<float>(Width);
            const float v = static_cast<float>(y) / static_cast<float>(Height);
            const float d = (u - 0.7f) * (u - 0.7f) + (v - 0.3f) * (v - 0.3f);
            const float spot = 0.3f * std::exp(-d * 200.0f);
            row[static_cast<std::size_t>(x)] =
                ColorHdr(ClampHdr(0.1f + 0.6f * u + spot + noise()),
                         ClampHdr(0.1f + 0.4f * v + spot + noise()),
                         ClampHdr(0.2f + 0.4f * u * v + spot + noise()), 1.0f);
        }
    }
    return image;
}

double Seconds(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// The reference pass: copying every row of the image into another, already allocated image
// (one read and one write of every pixel), best of five, at the given thread count.
double ReferencePassSeconds(int threads)
{
    static std::map<int, double> cache;
    if (const auto it = cache.find(threads); it != cache.end())
        return it->second;
    SetThreadCount(threads);
    TBmpHdr target;
    target.Assign(&Pristine());
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
        const auto start = TClock::now();
        target.Assign(&Pristine());
        benchmark::DoNotOptimize(target.Pixels.data());
        best = std::min(best, Seconds(start));
    }
    return cache[threads] = best;
}

using TFilter = void (*)(TBmpHdr* image, float radius);

struct TFilterCase {
    const char* Name;
    TFilter Run;
    std::vector<std::int64_t> Radii;
};

void LocalToneMap(TBmpHdr* image, float radius, TLocalToneFunc func)
{
    const auto kernel = MakeGaussMatrix(radius, 0.0f, GaussExponent, 1.0f);
    LocalToneMapHdr(image, kernel.get(), MaxRectHdr, func, 0);
}

// Full forms stop at radius 10: at 50 a single 2-D pass takes many seconds.
const std::vector<TFilterCase> Cases = {
    {"BlurFast", [](TBmpHdr* i, float r) { BlurFast(i, MaxRectHdr, r); }, {3, 50}},
    {"BlurFull", [](TBmpHdr* i, float r) { BlurFull(i, MaxRectHdr, r, r); }, {3, 10}},
    {"GaussBlurFast",
     [](TBmpHdr* i, float r) { GaussBlurFast(i, MaxRectHdr, r, Sensitivity); },
     {3, 50}},
    {"GaussBlurFull",
     [](TBmpHdr* i, float r) { GaussBlurFull(i, MaxRectHdr, r, r, Sensitivity); },
     {3, 10}},
    {"UnsharpMaskFast",
     [](TBmpHdr* i, float r) { UnsharpMaskFast(i, MaxRectHdr, r, Sensitivity); },
     {3, 30}},
    {"UnsharpMaskFull",
     [](TBmpHdr* i, float r) { UnsharpMaskFull(i, MaxRectHdr, r, r, Sensitivity); },
     {3, 10}},
    {"SoftenFast", [](TBmpHdr* i, float r) { SoftenFast(i, MaxRectHdr, r, Sensitivity); }, {3, 12}},
    {"SoftenFull",
     [](TBmpHdr* i, float r) { SoftenFull(i, MaxRectHdr, r, r, Sensitivity); },
     {3, 10}},
    {"MicroDetails",
     [](TBmpHdr* i, float r) {
         MicroDetailsAmount = 0.5f;
         const auto kernel = MakeGaussMatrix(r, 0.0f, GaussExponent, 1.0f);
         MicroDetailsHdr(i, kernel.get(), MaxRectHdr, MicroDetailsFunc);
     },
     {3, 50}},
    {"LocalToneMapReinhard",
     [](TBmpHdr* i, float r) { LocalToneMap(i, r, LocalReinhard); },
     {3, 30}},
    {"LocalToneMapLogaritmic",
     [](TBmpHdr* i, float r) { LocalToneMap(i, r, LocalLogaritmic); },
     {3}},
    {"LocalToneMapJimRichard",
     [](TBmpHdr* i, float r) { LocalToneMap(i, r, LocalJimRichard); },
     {3}},
};

void SetCounters(benchmark::State& state, double seconds, std::int64_t peak)
{
    const double perRun = seconds / static_cast<double>(state.iterations());
    state.counters["ns_px"] = perRun * 1e9 / static_cast<double>(Width * Height);
    state.counters["passes"] = perRun / ReferencePassSeconds(static_cast<int>(state.range(3)));
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.SetBytesProcessed(state.iterations() * Pristine().GetDataSize());
}

// Arguments: width, height, radius, threads. Each run starts from the pristine pixels (the
// filters clamp in place, so a second run would see other input); the copy is not timed. The
// peak is the most the run held beyond what was live when it started.
void RunFilter(benchmark::State& state, TFilter filter)
{
    const TBmpHdr& source = Pristine();
    const auto threads = static_cast<int>(state.range(3));
    ReferencePassSeconds(threads);
    SetThreadCount(threads);
    TBmpHdr image;
    image.Assign(&source);
    double seconds = 0.0;
    std::int64_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        image.Assign(&source);
        const std::int64_t baseline = bench::StartPeak();
        state.ResumeTiming();
        const auto start = TClock::now();
        filter(&image, static_cast<float>(state.range(2)));
        benchmark::DoNotOptimize(image.Pixels.data());
        benchmark::ClobberMemory();
        seconds += Seconds(start);
        peak = std::max(peak, bench::PeakSince(baseline));
    }
    SetCounters(state, seconds, peak);
    SetThreadCount(0);
}

// The reference pass itself, timed like the filters.
void RunCopy(benchmark::State& state)
{
    const TBmpHdr& source = Pristine();
    SetThreadCount(static_cast<int>(state.range(3)));
    TBmpHdr image;
    image.Assign(&source);
    double seconds = 0.0;
    std::int64_t peak = 0;
    for (auto _ : state) {
        const std::int64_t baseline = bench::StartPeak();
        const auto start = TClock::now();
        image.Assign(&source);
        benchmark::DoNotOptimize(image.Pixels.data());
        benchmark::ClobberMemory();
        seconds += Seconds(start);
        peak = std::max(peak, bench::PeakSince(baseline));
    }
    SetCounters(state, seconds, peak);
    SetThreadCount(0);
}

std::vector<std::int64_t> ThreadCounts()
{
    const auto all = static_cast<std::int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    return all > 1 ? std::vector<std::int64_t>{1, all} : std::vector<std::int64_t>{1};
}

// Wall time, because the bands run on other threads; the CPU column counts every thread of the
// process, which moves less than the wall time when other work shares the machine.
bool RegisterAll()
{
    const auto configure = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
    };
    for (const std::int64_t threads : ThreadCounts())
        configure(benchmark::RegisterBenchmark("ReferenceCopy", RunCopy)
                      ->Args({Width, Height, 0, threads}));
    for (const TFilterCase& c : Cases)
        for (const std::int64_t radius : c.Radii)
            for (const std::int64_t threads : ThreadCounts())
                configure(benchmark::RegisterBenchmark(c.Name, RunFilter, c.Run)
                              ->Args({Width, Height, radius, threads}));
    return true;
}

[[maybe_unused]] const bool registered = RegisterAll();

}  // namespace
