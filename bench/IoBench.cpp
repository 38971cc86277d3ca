#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "bench/BenchImage.h"
#include "bench/BenchMemory.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "io/FreeHdr.h"
#include "io/ImageFile.h"
#include "io/IsolatedLoad.h"

using namespace lumivex;

namespace {

constexpr int BenchWidth = 6000;
constexpr int BenchHeight = 4000;

// The 6000 x 4000 source and one file per format, written once per run into a scratch folder.
class TBenchFiles {
public:
    TBenchFiles()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivex-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_folder = pattern;
        bench::MakeBenchImage(Image, BenchWidth, BenchHeight);
        TImageInfo info;
        info.Gamma = 1.0f;
        info.JpegFlags = JPEG_QUALITYSUPERB;
        SaveAsExr(File("exr"), &Image, info);
        info.ExrFlags = EXR_FLOAT;
        SaveAsExr(File("float.exr"), &Image, info);
        SaveAsHdr(File("hdr"), &Image, info);
        SaveAsJpeg(File("jpg"), &Image, info);
        SaveTiff16(File("tif"));
    }
    ~TBenchFiles()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    TBenchFiles(const TBenchFiles&) = delete;
    TBenchFiles& operator=(const TBenchFiles&) = delete;

    std::string File(const std::string& ext) const
    {
        return (m_folder / ("bench." + ext)).string();
    }

    TBmpHdr Image;

private:
    // Our savers write 8-bit TIFF; a 16-bit file for the reader comes straight from FreeImage.
    void SaveTiff16(const std::string& name)
    {
        TBmpFree free(FIT_RGB16, BenchWidth, BenchHeight, 48);
        if (!free.IsValid())
            return;
        for (int y = 0; y < BenchHeight; ++y) {
            auto* words = reinterpret_cast<std::uint16_t*>(free.GetScanLine(BenchHeight - 1 - y));
            for (const TColorHdr& p : Image.Pixels[static_cast<std::size_t>(y)]) {
                *words++ = static_cast<std::uint16_t>(ClampHdr(p.R) * 65535.0f);
                *words++ = static_cast<std::uint16_t>(ClampHdr(p.G) * 65535.0f);
                *words++ = static_cast<std::uint16_t>(ClampHdr(p.B) * 65535.0f);
            }
        }
        free.SaveToFile(FIF_TIFF, name, 0);
    }

    std::filesystem::path m_folder;
};

TBenchFiles& Files()
{
    static TBenchFiles files;
    return files;
}

// The most the process's resident memory grows during one more run after the timed ones: it
// includes what FreeImage and the codecs take with malloc, but not an isolated decoder's own.
void SetResidentPeak(benchmark::State& state, std::int64_t bytes)
{
    state.counters["peak_MB"] = static_cast<double>(bytes) / 1e6;
}

void Load(benchmark::State& state, const std::string& ext, bool isolate)
{
    SetThreadCount(static_cast<int>(state.range(0)));
    const std::string name = Files().File(ext);
    TLoadLimits limits;
    limits.Isolate = isolate;
    for (auto _ : state) {
        TBmpHdr image;
        TImageInfo info;
        if (!LoadImageFile(name, &image, info, TLoadPath::lpFreeImage, limits)) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(image.Pixels.data());
    }
    TBmpHdr kept;  // alive while the peak is read
    SetResidentPeak(state, bench::PeakOf(
                               [&] {
                                   TImageInfo info;
                                   LoadImageFile(name, &kept, info, TLoadPath::lpFreeImage, limits);
                               },
                               true));
    state.SetBytesProcessed(state.iterations() * Files().Image.GetDataSize());
}

void Save(benchmark::State& state, TSaveFormat format, const std::string& ext, int exrFlags)
{
    SetThreadCount(static_cast<int>(state.range(0)));
    TImageInfo info;
    info.Gamma = 1.0f;
    info.JpegFlags = JPEG_QUALITYSUPERB;
    info.ExrFlags = exrFlags;
    const std::string name = Files().File("out." + ext);
    for (auto _ : state) {
        if (!SaveImageFile(name, format, &Files().Image, info)) {
            state.SkipWithError("save failed");
            break;
        }
    }
    SetResidentPeak(
        state, bench::PeakOf([&] { SaveImageFile(name, format, &Files().Image, info); }, true));
    state.SetBytesProcessed(state.iterations() * Files().Image.GetDataSize());
}

// Argument: threads. Wall time, and the CPU time of the whole process beside it (the isolated
// loads' children are not in it).
void Timing(benchmark::internal::Benchmark* b)
{
    b->Arg(2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
}

}  // namespace

// Loads run isolated (as the program does) and in-process, to show the cost of the child
// process.
BENCHMARK_CAPTURE(Load, exr_half_isolated, "exr", true)->Apply(Timing);
BENCHMARK_CAPTURE(Load, exr_half_inprocess, "exr", false)->Apply(Timing);
BENCHMARK_CAPTURE(Load, exr_float_isolated, "float.exr", true)->Apply(Timing);
BENCHMARK_CAPTURE(Load, exr_float_inprocess, "float.exr", false)->Apply(Timing);
BENCHMARK_CAPTURE(Load, hdr_isolated, "hdr", true)->Apply(Timing);
BENCHMARK_CAPTURE(Load, hdr_inprocess, "hdr", false)->Apply(Timing);
BENCHMARK_CAPTURE(Load, tiff16_isolated, "tif", true)->Apply(Timing);
BENCHMARK_CAPTURE(Load, tiff16_inprocess, "tif", false)->Apply(Timing);
BENCHMARK_CAPTURE(Load, jpeg_isolated, "jpg", true)->Apply(Timing);
BENCHMARK_CAPTURE(Load, jpeg_inprocess, "jpg", false)->Apply(Timing);

BENCHMARK_CAPTURE(Save, exr_half, TSaveFormat::sfExr, "exr", 0)->Apply(Timing);
BENCHMARK_CAPTURE(Save, exr_float, TSaveFormat::sfExr, "exr", EXR_FLOAT)->Apply(Timing);
BENCHMARK_CAPTURE(Save, hdr, TSaveFormat::sfHdr, "hdr", 0)->Apply(Timing);
BENCHMARK_CAPTURE(Save, tiff8, TSaveFormat::sfTiff, "tif", 0)->Apply(Timing);
BENCHMARK_CAPTURE(Save, jpeg, TSaveFormat::sfJpeg, "jpg", 0)->Apply(Timing);
BENCHMARK_CAPTURE(Save, bmp, TSaveFormat::sfBmp, "bmp", 0)->Apply(Timing);
