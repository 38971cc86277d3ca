#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <vector>

#include "TestImages.h"
#include "adjust/HistogramHdr.h"
#include "core/BmpHdr.h"

using namespace lumivex;
using lumivex::test::RefPower;
using lumivex::test::RowImage;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr std::size_t Stats = 4;  // min, max, average, median before the bins

THistogram* const All[] = {&HistLuminosity, &HistRed, &HistGreen, &HistBlue};

float RefLevels(float x, float e, float inLow, float inHigh, float outLow, float outHigh)
{
    if (!(x > inLow))
        return outLow;
    if (x >= inHigh)
        return outHigh;
    const auto in = static_cast<float>(double{inHigh} - inLow);
    const auto out = static_cast<float>(double{outHigh} - outLow);
    return static_cast<float>(
        outLow + double{out} * RefPower(static_cast<float>((x - double{inLow}) / in), e));
}

float Bin(const THistogram& h, std::size_t k) { return h[Stats + k]; }

double TotalWeight(const THistogram& h)
{
    double total = 0.0;
    for (std::size_t k = Stats; k < h.size(); ++k)
        total += h[k];
    return total;
}

// White where marked, black elsewhere: the weight in the last bin counts the white pixels read
// and the weight in bin 0 the black ones.
TBmpHdr Marked(int width, int height, const std::function<bool(int, int)>& white)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] = white(x, y) ? GrayHdr(1.0f, 1.0f) : GrayHdr(0.0f, 1.0f);
    return image;
}

void ExpectCounts(float white, float black)
{
    for (const THistogram* h : All) {
        EXPECT_EQ(Bin(*h, h->size() - Stats - 1), white);
        EXPECT_EQ(Bin(*h, 0), black);
        EXPECT_EQ(TotalWeight(*h), double{white} + black);
    }
}

}  // namespace

TEST(SetHistogramBins, GivesEveryArrayFourStatisticsAndTheBins)
{
    SetHistogramBins(256);
    EXPECT_EQ(GetHistogramBins(), 256);
    for (const THistogram* h : All)
        EXPECT_EQ(h->size(), 260u);
    SetHistogramBins(10);
    EXPECT_EQ(GetHistogramBins(), 10);
    for (const THistogram* h : All)
        EXPECT_EQ(h->size(), 14u);
    SetHistogramBins(0);
    EXPECT_EQ(GetHistogramBins(), 0);
    for (const THistogram* h : All)
        EXPECT_TRUE(h->empty());
    float mn = 5.0f, mx = 5.0f, avg = 5.0f, med = 5.0f;
    GetHistogramStats(1, mn, mx, avg, med);  // released arrays answer zeros
    EXPECT_TRUE(mn == 0.0f && mx == 0.0f && avg == 0.0f && med == 0.0f);
}

TEST(ResetHistogram, StartsTheMinimumAtOneAndEverythingElseAtZero)
{
    THistogram h(9, 3.0f);
    ResetHistogram(h);
    EXPECT_EQ(h[0], 1.0f);
    for (std::size_t k = 1; k < h.size(); ++k)
        EXPECT_EQ(h[k], 0.0f) << k;
    THistogram empty;
    ResetHistogram(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(AddHistogramValue, SplitsTheClampedValueBetweenTheTwoNearestBins)
{
    THistogram h(256 + Stats);
    ResetHistogram(h);
    // p = 255 x 0.5 + 4 = 131.5: entries 131 and 132, bins 127 and 128, half each.
    AddHistogramValue(h, 0.5f);
    EXPECT_EQ(Bin(h, 127), 0.5f);
    EXPECT_EQ(Bin(h, 128), 0.5f);
    EXPECT_EQ(TotalWeight(h), 1.0);
    EXPECT_EQ(h[0], 0.5f);
    EXPECT_EQ(h[1], 0.5f);
    EXPECT_EQ(h[2], 0.5f);
    // 3.0 counts as 1.0: the maximum and the last bin.
    AddHistogramValue(h, 3.0f);
    EXPECT_EQ(h[1], 1.0f);
    EXPECT_EQ(Bin(h, 255), 1.0f);
    EXPECT_EQ(h[2], 1.5f);
    // NaN and negative values count as 0 in bin 0; NaN indexed nothing outside the array.
    AddHistogramValue(h, NaN);
    AddHistogramValue(h, -2.0f);
    AddHistogramValue(h, -Inf);
    AddHistogramValue(h, Inf);
    EXPECT_EQ(Bin(h, 0), 3.0f);
    EXPECT_EQ(Bin(h, 255), 2.0f);
    EXPECT_EQ(h[0], 0.0f);
    EXPECT_EQ(h[2], 2.5f);
    EXPECT_EQ(TotalWeight(h), 6.0);
    EXPECT_EQ(h.size(), 260u);
}

TEST(AddHistogramValue, WeighsByTheFractionOfThePosition)
{
    THistogram h(5 + Stats);
    ResetHistogram(h);
    AddHistogramValue(h, 0.25f);  // p = 4 x 0.25 + 4 = 5 exactly: bin 1 alone
    EXPECT_EQ(Bin(h, 1), 1.0f);
    EXPECT_EQ(Bin(h, 2), 0.0f);
    for (float v : {0.3f, 0.61f, 0.999f, 1e-7f}) {
        ResetHistogram(h);
        AddHistogramValue(h, v);
        const auto p = static_cast<float>(4.0 * v + 4.0);
        const auto k = static_cast<std::size_t>(p);
        const float f = p - static_cast<float>(k);
        EXPECT_EQ(h[k], 1.0f - f) << v;
        EXPECT_EQ(h[k + 1], f) << v;
        EXPECT_NEAR(TotalWeight(h), 1.0, 1e-7) << v;
    }
    // One bin takes every value whole; arrays without bins are left alone.
    THistogram one(1 + Stats);
    ResetHistogram(one);
    AddHistogramValue(one, 0.7f);
    AddHistogramValue(one, 1.0f);
    EXPECT_EQ(Bin(one, 0), 2.0f);
    THistogram none(Stats, 9.0f);
    AddHistogramValue(none, 0.5f);
    EXPECT_EQ(none, THistogram(Stats, 9.0f));
    THistogram empty;
    AddHistogramValue(empty, 0.5f);
    EXPECT_TRUE(empty.empty());
}

TEST(AccumulateHistograms, LeavesTheArraysAloneWithoutPixels)
{
    SetHistogramBins(8);
    for (THistogram* h : All)
        std::fill(h->begin(), h->end(), 42.0f);
    TBmpHdr image = Marked(4, 3, [](int, int) { return true; });
    TBmpHdr empty;
    AccumulateHistograms(nullptr, MaxRectHdr, 1, 1);
    AccumulateHistograms(&empty, MaxRectHdr, 1, 1);
    AccumulateHistograms(&image, TRect{2, 1, 2, 3}, 1, 1);
    AccumulateHistograms(&image, TRect{3, 2, 1, 0}, 1, 1);
    AccumulateHistograms(&image, TRect{4, 0, 9, 9}, 1, 1);
    for (const THistogram* h : All)
        EXPECT_EQ(*h, THistogram(12, 42.0f));
}

TEST(AccumulateHistograms, BlackAndWhiteImagesGiveTheirExtremes)
{
    SetHistogramBins(256);
    TBmpHdr black = Marked(5, 3, [](int, int) { return false; });
    AccumulateHistograms(&black, MaxRectHdr, 1, 1);
    for (std::uint8_t channel : {0, 1, 2, 3}) {
        float mn = -1.0f, mx = -1.0f, avg = -1.0f, med = -1.0f;
        GetHistogramStats(channel, mn, mx, avg, med);
        EXPECT_TRUE(mn == 0.0f && mx == 0.0f && avg == 0.0f && med == 0.0f) << int{channel};
    }
    ExpectCounts(0.0f, 15.0f);
    // 10 x 10 with steps 3 reads columns and rows 0, 3, 6, 9: 16 values. The average is their
    // mean, 1, not 16 / (10/3 x 10/3) = 1.44; the median is the last bin, 255 / 256.
    TBmpHdr white = Marked(10, 10, [](int, int) { return true; });
    AccumulateHistograms(&white, MaxRectHdr, 3, 3);
    for (std::uint8_t channel : {0, 1, 2, 3}) {
        float mn = -1.0f, mx = -1.0f, avg = -1.0f, med = -1.0f;
        GetHistogramStats(channel, mn, mx, avg, med);
        EXPECT_EQ(mn, 1.0f) << int{channel};
        EXPECT_EQ(mx, 1.0f) << int{channel};
        EXPECT_EQ(avg, 1.0f) << int{channel};
        EXPECT_EQ(med, 255.0f / 256.0f) << int{channel};
    }
    ExpectCounts(16.0f, 0.0f);
}

TEST(AccumulateHistograms, SamplesEveryStepFromTheTopLeftOfTheRegion)
{
    SetHistogramBins(16);
    // Region x 2..11, y 1..10, steps 3 and 4: columns 2, 5, 8, 11 of rows 1, 5, 9, 12 pixels.
    // Those are white, the rest of the region black and everything outside it white.
    const TRect rect{2, 1, 12, 11};
    auto inside = [&](int x, int y) {
        return x >= rect.Left && x < rect.Right && y >= rect.Top && y < rect.Bottom;
    };
    TBmpHdr image = Marked(13, 11, [&](int x, int y) {
        return !inside(x, y) || ((x - 2) % 3 == 0 && (y - 1) % 4 == 0);
    });
    AccumulateHistograms(&image, rect, 3, 4);
    ExpectCounts(12.0f, 0.0f);
    // Steps of 0 read every pixel of the region: 12 white and 88 black.
    AccumulateHistograms(&image, rect, 0, 0);
    ExpectCounts(12.0f, 88.0f);
    // An overhanging region is clipped to x 0..3, y 0..2: of its 12 pixels, (3, 1), (2, 2) and
    // (3, 2) lie off the grid of the inner region and are black.
    AccumulateHistograms(&image, TRect{-5, -5, 4, 3}, 1, 1);
    ExpectCounts(9.0f, 3.0f);
}

TEST(AccumulateHistograms, AveragesMediansAndChannelsOfAFewPixels)
{
    SetHistogramBins(5);
    // Red 0, 0.25, 0.5, 1 sits at p = 4, 5, 6, 8 (bins 0, 1, 2, 4): average 1.75 / 4 = 0.4375,
    // running total reaches 4 / 2 at bin 1, median 1 / 5. Green 0.5 throughout: bin 2,
    // median 0.4. Blue 1, 1, 1, 0: bins 0 and 4, median 4 / 5, average 0.75.
    const std::vector<TColorHdr> pixels = {
        ColorHdr(0.0f, 0.5f, 1.0f, 7.0f), ColorHdr(0.25f, 0.5f, 1.0f, -1.0f),
        ColorHdr(0.5f, 0.5f, 1.0f, 1.0f), ColorHdr(1.0f, 0.5f, 0.0f, 0.0f)};
    const TBmpHdr image = RowImage(pixels);
    AccumulateHistograms(&image, MaxRectHdr, 1, 1);
    float mn = 0.0f, mx = 0.0f, avg = 0.0f, med = 0.0f;
    GetHistogramStats(1, mn, mx, avg, med);
    EXPECT_EQ(mn, 0.0f);
    EXPECT_EQ(mx, 1.0f);
    EXPECT_EQ(avg, 0.4375f);
    EXPECT_EQ(med, 0.2f);
    GetHistogramStats(2, mn, mx, avg, med);
    EXPECT_EQ(mn, 0.5f);
    EXPECT_EQ(mx, 0.5f);
    EXPECT_EQ(avg, 0.5f);
    EXPECT_EQ(med, 0.4f);
    GetHistogramStats(3, mn, mx, avg, med);
    EXPECT_EQ(mn, 0.0f);
    EXPECT_EQ(mx, 1.0f);
    EXPECT_EQ(avg, 0.75f);
    EXPECT_EQ(med, 0.8f);
    // Luminosity 0.11 B + 0.59 G + 0.3 R: 0.405, 0.48, 0.555, 0.595 at p = 5.62, 5.92, 6.22,
    // 6.38; bins 1 and 2 hold 0.46 and 2.94 by then, so the median is bin 2, 0.4.
    float y[4];
    float sum = 0.0f;
    for (std::size_t i = 0; i < 4; ++i) {
        const TColorHdr& p = pixels[i];
        y[i] = static_cast<float>(0.11 * p.B + 0.59 * p.G + 0.3 * p.R);
        sum += y[i];
    }
    for (std::uint8_t channel : {0, 4, 255}) {
        GetHistogramStats(channel, mn, mx, avg, med);
        EXPECT_EQ(mn, y[0]) << int{channel};
        EXPECT_EQ(mx, y[3]) << int{channel};
        EXPECT_EQ(avg, sum / 4.0f) << int{channel};
        EXPECT_NEAR(avg, 0.50875, 1e-7) << int{channel};
        EXPECT_EQ(med, 0.4f) << int{channel};
    }
    EXPECT_EQ(&HistogramOf(1), &HistRed);
    EXPECT_EQ(&HistogramOf(2), &HistGreen);
    EXPECT_EQ(&HistogramOf(3), &HistBlue);
    EXPECT_EQ(&HistogramOf(0), &HistLuminosity);
    EXPECT_EQ(&HistogramOf(9), &HistLuminosity);
}

TEST(ComputeHistograms, ReadsAGridOfAboutMaxSizeSquaredPixels)
{
    SetHistogramBins(64);
    // 1600 x 1200, at most 777: r = 1600 / 777 = 2.0592, 777 x 582.75 -> 777 x 583,
    // steps ceil(1600 / 777) = 3 and ceil(1200 / 583) = 3: 534 x 400 pixels read.
    TBmpHdr a = Marked(1600, 1200, [](int x, int y) { return x % 3 == 0 && y % 3 == 0; });
    ComputeHistograms(&a, MaxRectHdr, 777);
    ExpectCounts(534.0f * 400.0f, 0.0f);
    // 640 x 480 is below the limit: steps 1, every pixel.
    TBmpHdr b = Marked(640, 480, [](int, int) { return true; });
    ComputeHistograms(&b, MaxRectHdr, 777);
    ExpectCounts(640.0f * 480.0f, 0.0f);
    // 1554 x 777: r = 2, 777 x 388.5 -> 388 (half to even), steps ceil(1554 / 777) = 2 and
    // ceil(777 / 388) = 3 (388.5 rounded up would give 389 and a step of 2).
    TBmpHdr c = Marked(1554, 777, [](int x, int y) { return x % 2 == 0 && y % 3 == 0; });
    ComputeHistograms(&c, MaxRectHdr, 777);
    ExpectCounts(777.0f * 259.0f, 0.0f);
    float mn = 0.0f, mx = 0.0f, avg = 0.0f, med = 0.0f;
    GetHistogramStats(2, mn, mx, avg, med);
    EXPECT_EQ(avg, 1.0f);
    EXPECT_EQ(med, 63.0f / 64.0f);
    // No image or no size: the arrays keep what they hold.
    ComputeHistograms(nullptr, MaxRectHdr, 777);
    ComputeHistograms(&b, MaxRectHdr, 0);
    ComputeHistograms(&b, MaxRectHdr, -3);
    ExpectCounts(777.0f * 259.0f, 0.0f);
}

TEST(LevelsValue, MapsTheInputRangeOntoTheOutputRangeThroughAPower)
{
    EXPECT_EQ(LevelsValue(0.5f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f), 0.5f);
    EXPECT_EQ(LevelsValue(0.25f, 0.5f, 0.0f, 1.0f, 0.0f, 1.0f), 0.5f);  // 0.25^0.5
    // (0.5 - 0.25) / 0.5 = 0.5 onto 0.25..0.75: 0.25 + 0.5 x 0.5 = 0.5.
    EXPECT_EQ(LevelsValue(0.5f, 1.0f, 0.25f, 0.75f, 0.25f, 0.75f), 0.5f);
    EXPECT_EQ(LevelsValue(0.1f, 2.0f, 0.25f, 0.75f, 0.125f, 0.875f), 0.125f);  // below inLow
    EXPECT_EQ(LevelsValue(0.25f, 2.0f, 0.25f, 0.75f, 0.125f, 0.875f), 0.125f);
    EXPECT_EQ(LevelsValue(NaN, 2.0f, 0.25f, 0.75f, 0.125f, 0.875f), 0.125f);
    EXPECT_EQ(LevelsValue(0.75f, 2.0f, 0.25f, 0.75f, 0.125f, 0.875f), 0.875f);
    EXPECT_EQ(LevelsValue(Inf, 2.0f, 0.25f, 0.75f, 0.125f, 0.875f), 0.875f);
    for (float x : {0.05f, 0.2f, 0.33f, 0.5f, 0.61f, 0.79f})
        for (float e : {0.4545f, 1.0f, 2.2f})
            EXPECT_EQ(LevelsValue(x, e, 0.1f, 0.8f, 0.2f, 0.9f),
                      RefLevels(x, e, 0.1f, 0.8f, 0.2f, 0.9f))
                << x << " " << e;
}

TEST(ChannelLevelsHdr, NeutralZeroGammaOrInvalidSettingsChangeNothing)
{
    const std::vector<TColorHdr> source = {ColorHdr(2.0f, -0.5f, 0.3f, 7.0f),
                                           ColorHdr(NaN, 1.5f, 0.0f, -1.0f)};
    const TLevels neutral;
    const TLevels loose{1.0f, -0.1f, 1.2f, -1.0f, 2.0f};  // still neutral: wider than 0..1
    const TLevels active{2.0f, 0.0f, 1.0f, 0.0f, 1.0f};
    const TLevels zeroGamma{0.0f, 0.1f, 0.9f, 0.0f, 1.0f};
    const TLevels emptyIn{1.0f, 0.5f, 0.5f, 0.0f, 1.0f};
    const TLevels reversedOut{1.0f, 0.0f, 1.0f, 0.7f, 0.2f};
    const TLevels* cases[][3] = {
        {&neutral, &neutral, &neutral},   {&loose, &neutral, &loose},
        {&zeroGamma, &active, &active},   {&active, &zeroGamma, &active},
        {&active, &active, &zeroGamma},   {&emptyIn, &active, &active},
        {&active, &reversedOut, &active}, {&active, &neutral, &emptyIn},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        TBmpHdr image = RowImage(source);
        ChannelLevelsHdr(&image, MaxRectHdr, *cases[i][0], *cases[i][1], *cases[i][2]);
        for (std::size_t k = 0; k < source.size(); ++k)
            EXPECT_EQ(std::memcmp(&image.Pixels[0][k], &source[k], sizeof(TColorHdr)), 0)
                << "case " << i << " pixel " << k;  // 2.0 and -0.5 survive
    }
    TBmpHdr image = RowImage(source);
    LevelsHdr(&image, MaxRectHdr, loose);
    EXPECT_EQ(image.Pixels[0][0].R, 2.0f);
}

TEST(LevelsHdr, ClipsAtTheInputEndsAndBendsByTheGamma)
{
    // inHigh 0.8: everything from 0.8 up becomes outHigh 1; 0.4 / 0.8 = 0.5 exactly.
    TBmpHdr image =
        RowImage({GrayHdr(0.8f, 7.0f), GrayHdr(0.9f, 1.0f), GrayHdr(5.0f, 1.0f), GrayHdr(Inf, 1.0f),
                  GrayHdr(0.4f, 1.0f), GrayHdr(-1.0f, 1.0f), GrayHdr(NaN, -1.0f)});
    LevelsHdr(&image, MaxRectHdr, TLevels{1.0f, 0.0f, 0.8f, 0.0f, 1.0f});
    const float expected[] = {1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.0f};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const TColorHdr& p = image.Pixels[0][i];
        EXPECT_TRUE(p.B == expected[i] && p.G == expected[i] && p.R == expected[i]) << i;
    }
    EXPECT_EQ(image.Pixels[0][0].A, 7.0f);
    EXPECT_EQ(image.Pixels[0][6].A, -1.0f);
    // Gamma 2 is the power 1 / 2: 0.25 -> 0.5.
    TBmpHdr g = RowImage({GrayHdr(0.25f, 1.0f)});
    LevelsHdr(&g, MaxRectHdr, TLevels{2.0f, 0.0f, 1.0f, 0.0f, 1.0f});
    EXPECT_EQ(g.Pixels[0][0].G, 0.5f);
    // Gamma 3 goes through the float 1 / 3.
    const std::vector<float> xs = {0.1f, 0.3f, 0.55f, 0.9f};
    TBmpHdr row = RowImage(
        {GrayHdr(xs[0], 1.0f), GrayHdr(xs[1], 1.0f), GrayHdr(xs[2], 1.0f), GrayHdr(xs[3], 1.0f)});
    LevelsHdr(&row, MaxRectHdr, TLevels{3.0f, 0.05f, 0.95f, 0.1f, 0.8f});
    const auto e = static_cast<float>(1.0 / 3.0);
    for (std::size_t i = 0; i < xs.size(); ++i)
        EXPECT_EQ(row.Pixels[0][i].R, RefLevels(xs[i], e, 0.05f, 0.95f, 0.1f, 0.8f)) << xs[i];
}

TEST(ChannelLevelsHdr, AppliesEachChannelsSettingsBlueFirst)
{
    // Only red active (gamma 2): blue and green still go through their neutral levels, which
    // clip 1.5 to 1 and -0.5 to 0 and keep 0.25.
    TBmpHdr image =
        RowImage({ColorHdr(0.25f, 1.5f, -0.5f, 7.0f), ColorHdr(2.0f, 0.25f, 0.25f, 1.0f)});
    const TLevels neutral;
    ChannelLevelsHdr(&image, MaxRectHdr, neutral, neutral, TLevels{2.0f, 0.0f, 1.0f, 0.0f, 1.0f});
    EXPECT_EQ(image.Pixels[0][0].R, 0.5f);
    EXPECT_EQ(image.Pixels[0][0].G, 1.0f);
    EXPECT_EQ(image.Pixels[0][0].B, 0.0f);
    EXPECT_EQ(image.Pixels[0][0].A, 7.0f);
    EXPECT_EQ(image.Pixels[0][1].R, 1.0f);
    EXPECT_EQ(image.Pixels[0][1].G, 0.25f);
    EXPECT_EQ(image.Pixels[0][1].B, 0.25f);
    // Blue from 0.5: (0.75 - 0.5) / 0.5 = 0.5; green onto 0..0.5: 0.375; red gamma 2: 0.75^0.5.
    TBmpHdr grey = RowImage({GrayHdr(0.75f, 1.0f)});
    ChannelLevelsHdr(&grey, MaxRectHdr, TLevels{1.0f, 0.5f, 1.0f, 0.0f, 1.0f},
                     TLevels{1.0f, 0.0f, 1.0f, 0.0f, 0.5f}, TLevels{2.0f, 0.0f, 1.0f, 0.0f, 1.0f});
    EXPECT_EQ(grey.Pixels[0][0].B, 0.5f);
    EXPECT_EQ(grey.Pixels[0][0].G, 0.375f);
    EXPECT_EQ(grey.Pixels[0][0].R, RefPower(0.75f, 0.5f));
    EXPECT_NEAR(grey.Pixels[0][0].R, 0.8660254, 1e-7);
}

TEST(TransferRamp, MakesAGreyRampOfTheWidthAndReleasesItForZero)
{
    const TBmpHdr* ramp = TransferRamp(5);
    ASSERT_NE(ramp, nullptr);
    ASSERT_EQ(ramp->Width(), 5);
    ASSERT_EQ(ramp->Height(), 1);
    const float quarters[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    for (std::size_t x = 0; x < 5; ++x) {
        const TColorHdr& p = ramp->Pixels[0][x];
        EXPECT_TRUE(p.B == quarters[x] && p.G == quarters[x] && p.R == quarters[x]) << x;
        EXPECT_EQ(p.A, 1.0f) << x;
    }
    ramp = TransferRamp(4);  // resized: x / 3
    ASSERT_NE(ramp, nullptr);
    ASSERT_EQ(ramp->Width(), 4);
    for (std::size_t x = 0; x < 4; ++x)
        EXPECT_EQ(ramp->Pixels[0][x].G, static_cast<float>(static_cast<double>(x) / 3.0)) << x;
    ramp = TransferRamp(1);  // one pixel, 0 rather than 0 / 0
    ASSERT_NE(ramp, nullptr);
    ASSERT_EQ(ramp->Width(), 1);
    EXPECT_EQ(ramp->Pixels[0][0].R, 0.0f);
    EXPECT_EQ(TransferRamp(0), nullptr);
    EXPECT_EQ(TransferRamp(-3), nullptr);
    ramp = TransferRamp(3);
    ASSERT_NE(ramp, nullptr);
    EXPECT_EQ(ramp->Width(), 3);
    EXPECT_EQ(ramp->Pixels[0][1].B, 0.5f);
    TransferRamp(0);
}

TEST(TransferCurve, PlacesOnePointPerRampPixelFromTheBottomUp)
{
    // top 10, height 101: y = 10 + 100 - 100 v.
    const TBmpHdr* ramp = TransferRamp(5);
    ASSERT_NE(ramp, nullptr);
    EXPECT_EQ(TransferCurve(*ramp, 1, 10, 101), (std::vector<float>{110, 85, 60, 35, 10}));
    EXPECT_EQ(TransferCurve(*ramp, 3, 0, 1), (std::vector<float>{0, 0, 0, 0, 0}));
    TransferRamp(0);
    // The channel decides which value is read: R 0.75 -> 35, G 0.5 -> 60, B 0.25 -> 85,
    // luminosity 0.0275 + 0.295 + 0.225 = 0.5475 -> 55.25.
    const TBmpHdr pixel = RowImage({ColorHdr(0.75f, 0.5f, 0.25f, 1.0f)});
    EXPECT_EQ(TransferCurve(pixel, 1, 10, 101), std::vector<float>{35});
    EXPECT_EQ(TransferCurve(pixel, 2, 10, 101), std::vector<float>{60});
    EXPECT_EQ(TransferCurve(pixel, 3, 10, 101), std::vector<float>{85});
    const auto y = static_cast<float>(0.11 * 0.25 + 0.59 * 0.5 + 0.3 * 0.75);
    const auto expected = static_cast<float>(10 + 100.0 - 100.0 * y);
    EXPECT_EQ(TransferCurve(pixel, 0, 10, 101), std::vector<float>{expected});
    EXPECT_NEAR(expected, 55.25, 1e-5);
    EXPECT_TRUE(TransferCurve(TBmpHdr(), 1, 10, 101).empty());
}
