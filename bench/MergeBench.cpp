#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchMemory.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "merge/MergeFiles.h"
#include "merge/MergeHdr.h"
#include "platform/Bitmap.h"
#include "platform/JpegFile.h"

using namespace lumivex;

namespace {

constexpr std::int32_t Width = 6000;
constexpr std::int32_t Height = 4000;

// One exposure of a synthetic scene: smooth gradients, a bright window and fine texture, scaled
// by 2^ev, clipped and encoded with a 1/2.2 power, so dark frames hold black and bright frames
// white, as real brackets do.
TBitmap Exposure(double ev)
{
    TBitmap bitmap(Width, Height, TPixelFormat::pf24bit);
    const double scale = std::exp2(ev);
    std::uint8_t table[4096];
    for (int i = 0; i < 4096; ++i) {
        const double linear = std::min(1.0, scale * i / 1024.0);
        table[i] = static_cast<std::uint8_t>(std::nearbyint(255.0 * std::pow(linear, 1 / 2.2)));
    }
    ParallelRows(0, Height, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t y = first; y < last; ++y) {
            std::uint8_t* p = bitmap.ScanLine(static_cast<std::int32_t>(y));
            const double v = static_cast<double>(y) / Height;
            for (std::int32_t x = 0; x < Width; ++x, p += 3) {
                const double u = static_cast<double>(x) / Width;
                const double window = (u > 0.6 && u < 0.8 && v > 0.2 && v < 0.5) ? 3.5 : 0.0;
                const double texture = 0.02 * ((x * 7 + y * 13) % 17);
                const double base = 0.05 + 0.4 * u * v + window + texture;
                for (int c = 0; c < 3; ++c) {
                    const double radiance = base * (0.7 + 0.15 * c);
                    p[c] = table[std::min(4095, static_cast<int>(radiance * 1024.0))];
                }
            }
        }
    });
    return bitmap;
}

std::vector<double> Evs(int count)
{
    return count == 3 ? std::vector<double>{-2, 0, 2} : std::vector<double>{-4, -2, 0, 2, 4};
}

// The lists are built once per count and kept, so the runs time only the merge.
TBmpList& Sources(int count)
{
    static std::map<int, TBmpList> lists;
    TBmpList& list = lists[count];
    if (list.Count() == 0) {
        for (const double ev : Evs(count))
            list.Add(Exposure(ev), 1.0f);
        list.ComputeAutoExposure();
    }
    return list;
}

// Arguments: photographs, mode, threads.
void RunMerge(benchmark::State& state)
{
    const auto count = static_cast<int>(state.range(0));
    TBmpList& list = Sources(count);
    list.Mode = static_cast<TMergeMode>(state.range(1));
    SetThreadCount(static_cast<int>(state.range(2)));
    std::int64_t peak = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const std::int64_t baseline = bench::StartPeak();
        TBmpHdr dest;
        list.Merge(&dest);
        benchmark::DoNotOptimize(dest.Pixels.data());
        benchmark::ClobberMemory();
        bytes = dest.GetDataSize();
        peak = std::max(peak, bench::PeakSince(baseline));
    }
    state.counters["ns_px"] = benchmark::Counter(
        static_cast<double>(Width) * Height * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["merge_MB"] = static_cast<double>(peak) / 1e6;  // beyond the kept sources
    state.SetBytesProcessed(state.iterations() * bytes);
    SetThreadCount(0);
}

// The whole of a merge of seven photographs as the command line runs it: the sources are made
// (as a decoder would hand them over) and moved into the list, then merged. The peak is all
// this held at once, against the bound of seven 24-bit copies plus the float result.
void RunSevenPeak(benchmark::State& state)
{
    SetThreadCount(static_cast<int>(state.range(0)));
    std::int64_t peak = 0;
    for (auto _ : state) {
        const std::int64_t baseline = bench::StartPeak();
        {
            TBmpList list;
            for (int i = 0; i < 7; ++i)
                list.Add(Exposure(i - 3.0), 1.0f);
            list.ComputeAutoExposure();
            list.Mode = TMergeMode::mmWeighted;
            TBmpHdr dest;
            list.Merge(&dest);
            benchmark::DoNotOptimize(dest.Pixels.data());
        }
        peak = std::max(peak, bench::PeakSince(baseline));
    }
    const double pixels = static_cast<double>(Width) * Height;
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["bound_MB"] = (7 * 3 + 16) * pixels / 1e6;
    SetThreadCount(0);
}

// JPEG photographs of the scene at the given exposures, written once into the temporary folder.
bool JpegSources(benchmark::State& state, const std::vector<double>& evs,
                 std::vector<std::string>& files)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "lumivex-merge-bench";
    std::filesystem::create_directories(folder);
    for (const double ev : evs) {
        files.push_back((folder / ("ev" + std::to_string(static_cast<int>(ev)) + ".jpg")).string());
        if (!std::filesystem::exists(files.back())) {
            std::string error;
            if (!SaveJpegToFile(files.back(), Exposure(ev), 92, 72, 72, error)) {
                state.SkipWithError(error.c_str());
                return false;
            }
        }
    }
    return true;
}

// Loads the files as AddMergeFiles does, with automatic exposures, and merges them.
bool MergeOfFiles(benchmark::State& state, const std::vector<std::string>& files, TMergeMode mode)
{
    TBmpList list;
    std::size_t failed = 0;
    if (!AddMergeFiles(list, files, TLoadPath::lpAuto, failed)) {
        state.SkipWithError("a source did not load");
        return false;
    }
    list.ComputeAutoExposure();
    list.Mode = mode;
    TBmpHdr dest;
    list.Merge(&dest);
    benchmark::DoNotOptimize(dest.Pixels.data());
    return true;
}

// A merge including the decoding of its JPEG photographs, as the merge dialog and the command
// line read them (a child process each), up to the float result; no file is written.
// Arguments: photographs, mode.
void RunFiles(benchmark::State& state)
{
    std::vector<std::string> files;
    if (!JpegSources(state, Evs(static_cast<int>(state.range(0))), files))
        return;
    for (auto _ : state) {
        if (!MergeOfFiles(state, files, static_cast<TMergeMode>(state.range(1))))
            return;
        benchmark::ClobberMemory();
    }
}

// The same through files: seven JPEG photographs decoded in a child process each, as
// AddMergeFiles reads them, then merged. The children's memory is their own.
void RunSevenFilesPeak(benchmark::State& state)
{
    std::vector<std::string> files;
    if (!JpegSources(state, {-3, -2, -1, 0, 1, 2, 3}, files))
        return;
    SetThreadCount(static_cast<int>(state.range(0)));
    std::int64_t peak = 0;
    for (auto _ : state) {
        const std::int64_t baseline = bench::StartPeak();
        if (!MergeOfFiles(state, files, TMergeMode::mmLogaritmic))
            return;
        peak = std::max(peak, bench::PeakSince(baseline));
    }
    const double pixels = static_cast<double>(Width) * Height;
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["bound_MB"] = (7 * 3 + 16) * pixels / 1e6;
    SetThreadCount(0);
}

std::vector<std::int64_t> ThreadCounts()
{
    const auto all = static_cast<std::int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    return all > 1 ? std::vector<std::int64_t>{1, all} : std::vector<std::int64_t>{1};
}

// Wall time, because the bands run on other threads; the merges also give the CPU time of the
// whole process.
bool RegisterAll()
{
    for (const std::int64_t count : {3, 5})
        for (const std::int64_t mode : {0, 1, 2})
            for (const std::int64_t threads : ThreadCounts())
                benchmark::RegisterBenchmark("Merge", RunMerge)
                    ->Args({count, mode, threads})
                    ->ArgNames({"photos", "mode", "threads"})
                    ->Unit(benchmark::kMillisecond)
                    ->MeasureProcessCPUTime()
                    ->UseRealTime();
    for (const std::int64_t count : {3, 5})
        for (const std::int64_t mode : {0, 1, 2})
            benchmark::RegisterBenchmark("MergeJpegFiles", RunFiles)
                ->Args({count, mode})
                ->ArgNames({"photos", "mode"})
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime()
                ->UseRealTime();
    for (const std::int64_t threads : ThreadCounts()) {
        benchmark::RegisterBenchmark("MergeSevenPeak", RunSevenPeak)
            ->Arg(threads)
            ->ArgNames({"threads"})
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark("MergeSevenFilesPeak", RunSevenFilesPeak)
            ->Arg(threads)
            ->ArgNames({"threads"})
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return true;
}

const bool registered = RegisterAll();

}  // namespace
