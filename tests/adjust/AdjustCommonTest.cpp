#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "TestImages.h"
#include "adjust/ColorAdjust.h"
#include "adjust/HistogramHdr.h"
#include "adjust/ToneAdjust.h"
#include "adjust/ToneCurve.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"

using namespace lumivex;
using lumivex::test::Copy;
using lumivex::test::SameBits;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

struct TRoutine {
    std::string Name;
    std::function<void(TBmpHdr*, TRect)> Apply;
    bool WritesAlpha = false;
};

// Every per-pixel routine of the subsystem, with parameters that change typical pixels.
std::vector<TRoutine> Routines()
{
    std::vector<TRoutine> r = {
        {"ToneMapHdr linear", [](TBmpHdr* i, TRect rc) { ToneMapHdr(i, 0, 3, rc); }},
        {"ToneMapHdr gamma", [](TBmpHdr* i, TRect rc) { ToneMapHdr(i, 1, -1, rc); }},
        {"ToneMapHdr Reinhard", [](TBmpHdr* i, TRect rc) { ToneMapHdr(i, 2, 2, rc); }},
        {"ToneMapHdr Jim & Richard", [](TBmpHdr* i, TRect rc) { ToneMapHdr(i, 3, 0, rc); }},
        {"OffsetHdr", [](TBmpHdr* i, TRect rc) { OffsetHdr(i, rc, 0.1f); }},
        {"BrightnessHdr", [](TBmpHdr* i, TRect rc) { BrightnessHdr(i, rc, -0.3f, 0.2f, 0.5f); }},
        {"ContrastChannelsHdr",
         [](TBmpHdr* i, TRect rc) { ContrastChannelsHdr(i, rc, 0.5f, -0.3f, 1.0f); }},
        {"ContrastHdr", [](TBmpHdr* i, TRect rc) { ContrastHdr(i, rc, 0.4f); }},
        {"GammaHdr", [](TBmpHdr* i, TRect rc) { GammaHdr(i, rc, 2.2f, 0.5f, 1.3f); }},
        {"SCurveHdr", [](TBmpHdr* i, TRect rc) { SCurveHdr(i, rc, 2.0f, 0.5f, 3.0f); }},
        {"LevelsLinearHdr",
         [](TBmpHdr* i, TRect rc) { LevelsLinearHdr(i, rc, 0.1f, 0.9f, 0.4f, 0.3f); }},
        {"LevelsCurveHdr",
         [](TBmpHdr* i, TRect rc) { LevelsCurveHdr(i, rc, 0.1f, 0.9f, 0.4f, 2.0f); }},
        {"SaturationChannelsHdr",
         [](TBmpHdr* i, TRect rc) { SaturationChannelsHdr(i, rc, 0.5f, -0.4f, 1.2f); }},
        {"SaturationHdr", [](TBmpHdr* i, TRect rc) { SaturationHdr(i, rc, -0.6f); }},
        {"HueHdr", [](TBmpHdr* i, TRect rc) { HueHdr(i, rc, 0.3f); }},
        {"NegativeHdr", [](TBmpHdr* i, TRect rc) { NegativeHdr(i, rc); }},
        {"SetAlphaHdr", [](TBmpHdr* i, TRect rc) { SetAlphaHdr(i, rc, 0.6f); }, true},
        {"ChannelLevelsHdr",
         [](TBmpHdr* i, TRect rc) {
             ChannelLevelsHdr(i, rc, TLevels{1.5f, 0.1f, 0.9f, 0.05f, 0.95f},
                              TLevels{0.7f, 0.0f, 0.8f, 0.0f, 1.0f}, TLevels{});
         }},
        {"LevelsHdr",
         [](TBmpHdr* i, TRect rc) {
             LevelsHdr(i, rc, TLevels{2.0f, 0.1f, 0.9f, 0.05f, 0.95f});
         }},
    };
    for (std::uint8_t mode = 0; mode <= 6; ++mode)
        r.push_back({"GrayscaleHdr " + std::to_string(mode),
                     [mode](TBmpHdr* i, TRect rc) { GrayscaleHdr(i, rc, mode); }});
    for (std::uint8_t mode = 0; mode <= 2; ++mode)
        r.push_back({"FillRectModeHdr " + std::to_string(mode), [mode](TBmpHdr* i, TRect rc) {
                         FillRectModeHdr(ColorHdr(0.3f, 0.6f, 0.9f, 0.8f), i, rc, mode, 0.7f);
                     }});
    return r;
}

// Values -1..20 with NaN, +-inf, -0.0, 0 and 1 sprinkled in, alpha drawn the same way.
// mt19937 output is fixed by the standard and the mapping is ours, so every run sees the same.
TBmpHdr RandomImage(int width, int height, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    auto value = [&]() {
        switch (gen() % 40) {
            case 0:
                return NaN;
            case 1:
                return Inf;
            case 2:
                return -Inf;
            case 3:
                return -0.0f;
            case 4:
                return 0.0f;
            case 5:
                return 1.0f;
            default:
                return -1.0f + 21.0f * static_cast<float>(gen() >> 8) / 16777216.0f;
        }
    };
    return test::GeneratedImage(width, height, value);
}

bool SameBytes(const void* a, const void* b, std::size_t n) { return std::memcmp(a, b, n) == 0; }

std::vector<THistogram> Histograms() { return {HistLuminosity, HistRed, HistGreen, HistBlue}; }

bool SameHistograms(const std::vector<THistogram>& a, const std::vector<THistogram>& b)
{
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].size() != b[i].size() ||
            !SameBytes(a[i].data(), b[i].data(), a[i].size() * sizeof(float)))
            return false;
    return true;
}

// Every test here changes the global thread count; this puts the default back.
class AdjustThreads : public testing::Test {
protected:
    void TearDown() override { SetThreadCount(0); }
};

}  // namespace

TEST_F(AdjustThreads, EveryRoutineGivesTheSameBitsOnAnyThreadCount)
{
    struct TSize {
        int Width, Height;
    };
    const TSize sizes[] = {{257, 129}, {1, 1}, {1, 300}, {300, 1}};
    for (const TSize& size : sizes) {
        const TBmpHdr source = RandomImage(size.Width, size.Height, 20240611u);
        std::vector<TRect> rects = {MaxRectHdr};
        if (size.Width > 4 && size.Height > 4)
            rects.push_back(TRect{3, 5, size.Width - 2, size.Height - 7});
        for (const TRoutine& routine : Routines()) {
            for (const TRect& rect : rects) {
                SetThreadCount(1);
                TBmpHdr expected = Copy(source);
                routine.Apply(&expected, rect);
                if (size.Width == 257) {
                    EXPECT_FALSE(SameBits(expected, source)) << routine.Name << " did nothing";
                }
                for (int threads : {2, 7}) {
                    SetThreadCount(threads);
                    TBmpHdr image = Copy(source);
                    routine.Apply(&image, rect);
                    EXPECT_TRUE(SameBits(image, expected))
                        << routine.Name << " on " << size.Width << "x" << size.Height << " with "
                        << threads << " threads, rect " << rect.Left << "," << rect.Top;
                }
            }
        }
        // The histograms read the same pixels in the same order whatever the thread count
        // (threads take whole histograms: 3 splits the four unevenly).
        SetHistogramBins(256);
        SetThreadCount(1);
        AccumulateHistograms(&source, MaxRectHdr, 1, 1);
        const std::vector<THistogram> accumulated = Histograms();
        ComputeHistograms(&source, MaxRectHdr, 100);
        const std::vector<THistogram> computed = Histograms();
        for (int threads : {2, 3, 7}) {
            SetThreadCount(threads);
            AccumulateHistograms(&source, MaxRectHdr, 1, 1);
            EXPECT_TRUE(SameHistograms(Histograms(), accumulated)) << threads;
            ComputeHistograms(&source, MaxRectHdr, 100);
            EXPECT_TRUE(SameHistograms(Histograms(), computed)) << threads;
        }
    }
}

TEST(AdjustRegions, EveryRoutineChangesOnlyTheClippedRegionAndKeepsAlpha)
{
    // Colours below 0, inside 0..1 and above 1; alpha includes 7 and -1, which no clamp may
    // touch.
    const float alphas[] = {7.0f, -1.0f, 0.5f, 1.0f, 0.0f, 0.25f};
    TBmpHdr source;
    source.SetSize(9, 7, clNoneHdr);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            source.Pixels[y][x] = ColorHdr(
                0.2f * static_cast<float>(x + y) - 0.3f, 0.95f - 0.13f * static_cast<float>(y),
                0.05f + 0.11f * static_cast<float>(x), alphas[(x + 2 * y) % 6]);
    const TRect overhanging[] = {{-3, 2, 5, 99}, {4, -10, 50, 3}, {-99999, 6, 99999, 99999}};
    const TRect empty[] = {{3, 3, 3, 6}, {5, 1, 2, 4}, {20, 20, 30, 30}, {-9, -9, -1, -1}};
    for (const TRoutine& routine : Routines()) {
        TBmpHdr full = Copy(source);
        routine.Apply(&full, MaxRectHdr);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 9; ++x) {
                const TColorHdr& before = source.Pixels[y][x];
                const TColorHdr& after = full.Pixels[y][x];
                if (routine.WritesAlpha) {
                    EXPECT_TRUE(SameBytes(&after, &before, 3 * sizeof(float)))
                        << routine.Name << " changed a colour at " << x << "," << y;
                } else {
                    EXPECT_TRUE(SameBytes(&after.A, &before.A, sizeof(float)))
                        << routine.Name << " changed alpha at " << x << "," << y;
                }
            }
        }
        for (const TRect& rect : overhanging) {
            TBmpHdr image = Copy(source);
            routine.Apply(&image, rect);
            const TRect clip = IntersectRect(rect, source.GetBounds());
            bool changed = false;
            for (int y = 0; y < 7; ++y) {
                for (int x = 0; x < 9; ++x) {
                    const bool inside =
                        x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom;
                    const TColorHdr& expected = inside ? full.Pixels[y][x] : source.Pixels[y][x];
                    EXPECT_TRUE(SameBytes(&image.Pixels[y][x], &expected, sizeof(TColorHdr)))
                        << routine.Name << " at " << x << "," << y << " for rect " << rect.Left
                        << "," << rect.Top << "," << rect.Right << "," << rect.Bottom;
                    changed =
                        changed || (inside && !SameBytes(&full.Pixels[y][x], &source.Pixels[y][x],
                                                         sizeof(TColorHdr)));
                }
            }
            EXPECT_TRUE(changed) << routine.Name << " changed nothing in rect " << rect.Left << ","
                                 << rect.Top;
        }
        for (const TRect& rect : empty) {
            TBmpHdr image = Copy(source);
            routine.Apply(&image, rect);
            EXPECT_TRUE(SameBits(image, source))
                << routine.Name << " wrote outside " << rect.Left << "," << rect.Top;
        }
        routine.Apply(nullptr, MaxRectHdr);  // absent image: nothing happens, nothing crashes
        routine.Apply(nullptr, TRect{0, 0, 1, 1});
        TBmpHdr none;
        routine.Apply(&none, MaxRectHdr);
        EXPECT_TRUE(none.IsEmpty()) << routine.Name;
    }
}
