// One preview of each tone-mapping dialog on a 6000 x 4000 document, through the real main
// window on the offscreen platform: the saved pixels back, the operation, the histogram of the
// side panel and the busy state, as the Preview button runs them. Beside it the operation alone
// (the dialog's ApplyToImage on the document), to show what the preview adds.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>

#include "app/Main.h"
#include "bench/BenchImage.h"
#include "bench/BenchLanes.h"
#include "dialogs/FilterDialogs.h"
#include "history/UndoCommands.h"
#include "io/ImageLib.h"
#include "platform/HugePages.h"
#include "widgets/Slider.h"
#include "widgets/SpinEdit.h"

using namespace lumivex;

namespace {

TFrmMain* g_window = nullptr;

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

TFrmToneMap& ToneMap()
{
    if (!ToneMapDialog() || !ToneMapDialog()->isVisible())
        g_window->MenuAdjustToneMap->trigger();
    return *ToneMapDialog();
}

TFrmToneMapLocal& ToneMapLocal()
{
    if (!ToneMapLocalDialog() || !ToneMapLocalDialog()->isVisible())
        ToneMap().BtnLocal->click();
    return *ToneMapLocalDialog();
}

// Each iteration changes the exposure, so that every Preview really runs.
template <class TDialog>
void RunPreviews(benchmark::State& state, TDialog& dialog)
{
    const double cpu = ProcessCpuSeconds();
    int exposure = 0;
    for (auto _ : state) {
        exposure = 1 - exposure;
        dialog.EdiExposure->SetValue(exposure);
        dialog.BtnPreview->click();
        benchmark::DoNotOptimize(GetImage()->Pixels[0][0]);
    }
    state.counters["cpu_s_per_iter"] =
        (ProcessCpuSeconds() - cpu) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * GetImage()->GetDataSize());
}

void BM_ToneMapPreview(benchmark::State& state)
{
    TFrmToneMap& dialog = ToneMap();
    dialog.CmbMethod->setCurrentIndex(static_cast<int>(state.range(0)));
    RunPreviews(state, dialog);
}
BENCHMARK(BM_ToneMapPreview)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ToneMapApplyOnly(benchmark::State& state)
{
    TFrmToneMap& dialog = ToneMap();
    dialog.CmbMethod->setCurrentIndex(1);
    for (auto _ : state) {
        state.PauseTiming();
        RestoreCurrent(false);
        state.ResumeTiming();
        dialog.ApplyToImage(GetImage(), GetWorkRect());
        benchmark::DoNotOptimize(GetImage()->Pixels[0][0]);
    }
    state.SetBytesProcessed(state.iterations() * GetImage()->GetDataSize());
}
BENCHMARK(BM_ToneMapApplyOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ToneMapLocalPreview(benchmark::State& state)
{
    TFrmToneMapLocal& dialog = ToneMapLocal();
    dialog.SldRadius->SetValue(static_cast<int>(state.range(0)));
    RunPreviews(state, dialog);
}
BENCHMARK(BM_ToneMapLocalPreview)
    ->Arg(3)
    ->Arg(10)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    UseHugePages(argv);
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir config;  // the window's settings never reach the user's folder
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TFrmMain window;
    window.show();
    g_window = &window;
    TBmpHdr image;
    bench::MakeBenchImage(image, 6000, 4000);
    TImageInfo info;
    info.Kind = TImageKind::ikHighRange;
    CreateDocument("bench.exr", std::move(image), window.PnlClient, info);
    window.UpdateMenus();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (ToneMapLocalDialog())
        ToneMapLocalDialog()->close();
    if (ToneMapDialog())
        ToneMapDialog()->close();
    CloseDocument();
    return 0;
}
