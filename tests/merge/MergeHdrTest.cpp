#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "TestProgress.h"
#include "adjust/PowerLanes.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "io/FileStatus.h"
#include "merge/MergeFiles.h"
#include "merge/MergeHdr.h"

namespace lumivex {
namespace {

using test::SameBits;
using test::TestDataPath;

// ---------------------------------------------------------------------------------------------
// A plain single-threaded merge written from the description: per entry the mean of the three
// geometric means (sums in double), the weights, then per pixel and channel float sums over the
// entries in list order, with every intermediate in double.

float RefMean(const TBitmap& bitmap)
{
    double sum[3] = {0.0, 0.0, 0.0};  // B, G, R
    for (std::int32_t y = 0; y < bitmap.Height(); ++y)
        for (std::int32_t x = 0; x < bitmap.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += std::log(bitmap.ScanLine(y)[3 * x + c] / 255.0 + double{LogOffset});
    const double n = static_cast<double>(bitmap.Width()) * bitmap.Height();
    return static_cast<float>((std::exp(sum[2] / n) + std::exp(sum[1] / n) + std::exp(sum[0] / n)) /
                              3.0);
}

std::vector<float> RefExposures(const std::vector<float>& means, bool automatic)
{
    std::vector<float> e(means.size(), 1.0f);
    if (!automatic || means.size() < 2)
        return e;
    double a = 0.0;
    for (const float m : means)
        a += m;
    a /= static_cast<double>(means.size());
    for (std::size_t i = 0; i < means.size(); ++i)
        e[i] = static_cast<float>(means[i] / a);
    return e;
}

float RefWeight(float exposure) { return exposure <= 1.0f ? exposure : 1.0f / exposure; }

TBmpHdr RefMerge(const std::vector<const TBitmap*>& sources, const std::vector<float>& exposures,
                 TMergeMode mode)
{
    std::vector<float> w;
    float total = 0.0f;
    for (const float e : exposures) {
        w.push_back(RefWeight(e));
        total += w.back();
    }
    TBmpHdr out;
    out.SetSize(sources[0]->Width(), sources[0]->Height(), clNoneHdr);
    for (std::int32_t y = 0; y < out.Height(); ++y)
        for (std::int32_t x = 0; x < out.Width(); ++x) {
            float result[3];
            for (int c = 0; c < 3; ++c) {
                float sum = 0.0f;
                float weights = 0.0f;
                for (std::size_t i = 0; i < sources.size(); ++i) {
                    const double v = sources[i]->ScanLine(y)[3 * x + c] / 255.0;
                    const double ln = std::log(v + double{LogOffset});
                    if (mode == TMergeMode::mmAverage) {
                        sum = static_cast<float>(sum + w[i] * v);
                    } else if (mode == TMergeMode::mmLogaritmic) {
                        sum = static_cast<float>(sum + w[i] * ln);
                    } else {
                        const double u = w[i] * std::exp(0.5 - std::abs(0.5 - v));
                        sum = static_cast<float>(sum + u * ln);
                        weights = static_cast<float>(weights + u);
                    }
                }
                if (mode == TMergeMode::mmAverage)
                    result[c] = static_cast<float>(double{sum} / total);
                else if (mode == TMergeMode::mmLogaritmic)
                    result[c] = static_cast<float>(std::exp(double{sum} / total));
                else
                    result[c] = static_cast<float>(std::exp(double{sum} / weights));
            }
            out.Pixels[y][x] = TColorHdr{result[0], result[1], result[2], 1.0f};
        }
    return out;
}

// ---------------------------------------------------------------------------------------------

TBitmap Uniform(std::int32_t width, std::int32_t height, std::uint8_t b, std::uint8_t g,
                std::uint8_t r)
{
    TBitmap bitmap(width, height, TPixelFormat::pf24bit);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    return bitmap;
}

TBitmap Grey(std::int32_t width, std::int32_t height, std::uint8_t v)
{
    return Uniform(width, height, v, v, v);
}

// A row of the given grey bytes.
TBitmap GreyRow(const std::vector<std::uint8_t>& values)
{
    TBitmap bitmap(static_cast<std::int32_t>(values.size()), 1, TPixelFormat::pf24bit);
    for (std::size_t x = 0; x < values.size(); ++x)
        for (int c = 0; c < 3; ++c)
            bitmap.ScanLine(0)[3 * x + static_cast<std::size_t>(c)] = values[x];
    return bitmap;
}

TBmpHdr MergeOf(const TBmpList& list)
{
    TBmpHdr image;
    list.Merge(&image);
    return image;
}

bool SameRow(const TBmpHdr& a, const TBmpHdr& b, int y)
{
    return std::memcmp(a.Pixels[y].data(), b.Pixels[y].data(), a.Width() * sizeof(TColorHdr)) == 0;
}

bool ZeroRow(const TBmpHdr& image, int y)
{
    for (const TColorHdr& p : image.Pixels[y])
        if (!SameBits(p.B, 0.0f) || !SameBits(p.G, 0.0f) || !SameBits(p.R, 0.0f) ||
            !SameBits(p.A, 0.0f))
            return false;
    return true;
}

class MergeTest : public lumivex::test::TProgressTest {};

std::vector<std::string> BracketFiles(const std::string& set, const std::string& stem,
                                      const std::vector<std::string>& evs, const std::string& ext)
{
    std::vector<std::string> files;
    for (const std::string& ev : evs)
        files.push_back(TestDataPath("brackets/" + set + "/" + stem + "_ev" + ev + "." + ext));
    return files;
}

}  // namespace

TEST(TBmpList, AddIgnoresAbsentEmptyNon24BitMismatchedAndBadExposures)
{
    TBmpList list;
    list.Add(nullptr, 1.0f);
    const TBitmap empty;
    list.Add(&empty, 1.0f);
    TBitmap wide(4, 2, TPixelFormat::pf32bit);
    list.Add(&wide, 1.0f);
    EXPECT_EQ(list.Count(), 0);

    const TBitmap first = Grey(4, 2, 10);
    list.Add(&first, 1.0f);
    ASSERT_EQ(list.Count(), 1);
    const TBitmap narrower = Grey(3, 2, 10);
    const TBitmap lower = Grey(4, 1, 10);
    list.Add(&narrower, 1.0f);
    list.Add(&lower, 1.0f);
    EXPECT_EQ(list.Count(), 1);  // another size is ignored

    // A weight from an exposure of 0, below 0, infinite or NaN would poison every sum.
    for (const float e : {0.0f, -1.0f, INFINITY, NAN})
        list.Add(&first, e);
    EXPECT_EQ(list.Count(), 1);

    list.Add(&first, 0.25f);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Entries()[1].Exposure, 0.25f);
    // The list holds its own copy.
    EXPECT_EQ(list.Entries()[1].Bitmap.ScanLine(1)[11], 10);
    EXPECT_NE(list.Entries()[1].Bitmap.ScanLine(0), first.ScanLine(0));

    TBitmap moved = Grey(4, 2, 20);
    list.Add(std::move(moved), 1.0f);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_TRUE(moved.IsEmpty());  // taken over
    TBitmap refused = Grey(5, 2, 20);
    list.Add(std::move(refused), 1.0f);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_FALSE(refused.IsEmpty());  // not taken

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Add(&narrower, 1.0f);  // after Clear any size is the first again
    EXPECT_EQ(list.Count(), 1);
}

TEST(TBmpList, MeanIsTheAverageOfTheChannelGeometricMeans)
{
    TBmpList list;
    // Uniform channels: each geometric mean is the value itself plus LogOffset.
    // B 0 -> 0.00001, G 51 -> 0.2 + 0.00001, R 255 -> 1.00001; (1.2 + 0.00003) / 3 = 0.40001.
    const TBitmap uniform = Uniform(3, 2, 0, 51, 255);
    list.Add(&uniform, 1.0f);
    EXPECT_NEAR(list.Entries()[0].Mean, 0.40001f, 1e-7f);
    // Two levels, 64 left and 192 right: sqrt((64/255 + 1e-5) (192/255 + 1e-5)) = 0.4347223
    // for every channel (python: math.sqrt((64/255+1e-5)*(192/255+1e-5))).
    TBitmap twoLevel = Grey(4, 3, 64);
    for (std::int32_t y = 0; y < 3; ++y)
        for (int i = 6; i < 12; ++i)
            twoLevel.ScanLine(y)[i] = 192;
    TBmpList second;
    second.Add(&twoLevel, 1.0f);
    EXPECT_NEAR(second.Entries()[0].Mean, 0.4347223f, 1e-7f);
    EXPECT_TRUE(SameBits(second.Entries()[0].Mean, RefMean(twoLevel)));
}

TEST(TBmpList, MeanOfALargePhotographStaysExact)
{
    // 8 megapixels of mid-grey, each adding ln(0.5019708) = -0.689: a float sum passes 2^22,
    // where its spacing of 0.5 rounds every term to -0.5, and the mean would come out as 0.513.
    // Summed in double it is 128/255 + 0.00001 = 0.5019708 to float precision.
    const TBitmap big = Grey(4000, 2000, 128);
    TBmpList list;
    list.Add(&big, 1.0f);
    EXPECT_NEAR(list.Entries()[0].Mean, 128.0f / 255.0f + 1e-5f, 1e-7f);
    EXPECT_TRUE(SameBits(list.Entries()[0].Mean, RefMean(big)));
}

TEST(TBmpList, AutoExposureAndWeightsFromKnownMeans)
{
    // Means 0.2 + 1e-5 and 0.6 + 1e-5 (uniform 51 and 153): A = 0.40001, the factors
    // 0.20001 / 0.40001 = 0.5000125 and 0.60001 / 0.40001 = 1.4999875, the weights 0.5000125
    // and 1 / 1.4999875 = 0.6666722, W = 1.1666847.
    TBmpList list;
    const TBitmap dark = Grey(2, 2, 51);
    const TBitmap bright = Grey(2, 2, 153);
    list.Add(&dark, 1.0f);
    list.Add(&bright, 1.0f);
    EXPECT_EQ(list.GetWeight(0), 1.0f);  // without automatic exposure every weight is 1
    EXPECT_EQ(list.GetWeight(1), 1.0f);
    list.ComputeAutoExposure();
    EXPECT_NEAR(list.Entries()[0].Exposure, 0.5000125f, 1e-7f);
    EXPECT_NEAR(list.Entries()[1].Exposure, 1.4999875f, 2e-7f);
    EXPECT_NEAR(list.GetWeight(0), 0.5000125f, 1e-7f);
    EXPECT_NEAR(list.GetWeight(1), 0.6666722f, 1e-7f);
    EXPECT_EQ(list.GetWeight(0), list.Entries()[0].Exposure);  // at most 1: the factor itself
    EXPECT_EQ(list.GetWeight(1), 1.0f / list.Entries()[1].Exposure);
    EXPECT_EQ(list.GetWeight(2), 0.0f);  // outside the list
    EXPECT_EQ(list.GetWeight(-1), 0.0f);

    // Average: (0.5000125 x 0.2 + 0.6666722 x 0.6) / 1.1666847 = 0.4285698.
    list.Mode = TMergeMode::mmAverage;
    EXPECT_NEAR(MergeOf(list).Pixels[1][1].G, 0.4285698f, 1e-6f);
    // Logarithmic: exp((0.5000125 ln 0.20001 + 0.6666722 ln 0.60001) / 1.1666847) = 0.3746987.
    list.Mode = TMergeMode::mmLogaritmic;
    EXPECT_NEAR(MergeOf(list).Pixels[0][1].R, 0.3746987f, 1e-6f);

    // Exposures given to Add: 0.5 keeps its weight, 4 weighs 1/4.
    TBmpList given;
    given.Add(&dark, 0.5f);
    given.Add(&dark, 4.0f);
    EXPECT_EQ(given.GetWeight(0), 0.5f);
    EXPECT_EQ(given.GetWeight(1), 0.25f);

    // One entry: its factor becomes 1.
    TBmpList one;
    one.Add(&dark, 0.5f);
    one.ComputeAutoExposure();
    EXPECT_EQ(one.Entries()[0].Exposure, 1.0f);
    TBmpList none;
    none.ComputeAutoExposure();  // nothing to do, nothing crashes
}

TEST(TBmpList, IdenticalSourcesGiveTheirOwnValues)
{
    // Two equal rows: average = v exactly (2 float(v) / 2); logarithmic and weighted
    // exp(ln(v + 1e-5)) = v + 1e-5 up to rounding.
    const TBitmap row = GreyRow({0, 1, 51, 127, 128, 200, 254, 255});
    TBmpList list;
    list.Add(&row, 1.0f);
    list.Add(&row, 1.0f);
    const std::uint8_t bytes[] = {0, 1, 51, 127, 128, 200, 254, 255};
    for (const TMergeMode mode :
         {TMergeMode::mmAverage, TMergeMode::mmLogaritmic, TMergeMode::mmWeighted}) {
        list.Mode = mode;
        const TBmpHdr out = MergeOf(list);
        ASSERT_EQ(out.Width(), 8);
        ASSERT_EQ(out.Height(), 1);
        for (int x = 0; x < 8; ++x) {
            const float v = bytes[x] / 255.0f;
            const TColorHdr& p = out.Pixels[0][x];
            EXPECT_EQ(p.A, 1.0f);
            if (mode == TMergeMode::mmAverage) {
                EXPECT_EQ(p.B, v) << x;
                EXPECT_EQ(p.G, v) << x;
                EXPECT_EQ(p.R, v) << x;
            } else {
                EXPECT_NEAR(p.G, v + 1e-5f, 2e-7f) << x;
            }
        }
    }
}

TEST(TBmpList, BlackWhiteAndMidGreyByHand)
{
    const TBitmap black = Grey(2, 1, 0);
    const TBitmap white = Grey(2, 1, 255);
    const TBitmap mid = Grey(2, 1, 128);
    auto merged = [](const TBitmap& a, const TBitmap& b, TMergeMode mode) {
        TBmpList list;
        list.Add(&a, 1.0f);
        list.Add(&b, 1.0f);
        list.Mode = mode;
        return MergeOf(list).Pixels[0][1];
    };
    // Black everywhere: 0, and LogOffset in the logarithmic modes (not clamped to 0).
    EXPECT_EQ(merged(black, black, TMergeMode::mmAverage).G, 0.0f);
    EXPECT_NEAR(merged(black, black, TMergeMode::mmLogaritmic).G, 1e-5f, 1e-11f);
    EXPECT_NEAR(merged(black, black, TMergeMode::mmWeighted).G, 1e-5f, 1e-11f);
    // White everywhere: 1, and 1 + LogOffset, above 1.
    EXPECT_EQ(merged(white, white, TMergeMode::mmAverage).G, 1.0f);
    EXPECT_NEAR(merged(white, white, TMergeMode::mmLogaritmic).G, 1.00001f, 1e-7f);
    EXPECT_GT(merged(white, white, TMergeMode::mmWeighted).G, 1.0f);
    // Black and white: average (0 + 1) / 2 = 0.5; logarithmic sqrt(1e-5 x 1.00001) = 0.0031623.
    // Weighted: black and white both weigh exp(0) = 1, so it equals the logarithmic mean.
    EXPECT_EQ(merged(black, white, TMergeMode::mmAverage).B, 0.5f);
    EXPECT_NEAR(merged(black, white, TMergeMode::mmLogaritmic).B, 0.0031623f, 1e-7f);
    EXPECT_NEAR(merged(black, white, TMergeMode::mmWeighted).B, 0.0031623f, 1e-7f);
    // Black and mid-grey 128: v = 0.5019608 weighs exp(0.5 - 0.0019608) = 1.6454917 in the
    // weighted mode: exp((ln 1e-5 + 1.6454917 ln 0.5019708) / 2.6454917) = 0.0083910, against
    // the logarithmic sqrt(1e-5 x 0.5019708) = 0.0022405 and the average 0.2509804.
    EXPECT_NEAR(merged(black, mid, TMergeMode::mmWeighted).R, 0.0083910f, 1e-7f);
    EXPECT_NEAR(merged(black, mid, TMergeMode::mmLogaritmic).R, 0.0022405f, 1e-7f);
    EXPECT_EQ(merged(black, mid, TMergeMode::mmAverage).R, 64.0f / 255.0f);
}

TEST(TBmpList, ChannelsStaySeparate)
{
    // B, G, R of different bytes: each output channel only sees its own channel.
    const TBitmap a = Uniform(1, 1, 0, 51, 255);
    const TBitmap b = Uniform(1, 1, 255, 153, 0);
    TBmpList list;
    list.Add(&a, 1.0f);
    list.Add(&b, 1.0f);
    const TColorHdr p = MergeOf(list).Pixels[0][0];  // average by default
    EXPECT_EQ(p.B, 0.5f);
    EXPECT_NEAR(p.G, 0.4f, 1e-7f);  // (0.2 + 0.6) / 2
    EXPECT_EQ(p.R, 0.5f);
    EXPECT_EQ(p.A, 1.0f);
}

TEST(TBmpList, OneSourceMergesToItself)
{
    const TBitmap row = GreyRow({0, 17, 128, 255});
    TBmpList list;
    list.Add(&row, 1.0f);
    list.ComputeAutoExposure();
    EXPECT_EQ(list.GetWeight(0), 1.0f);
    const TBmpHdr avg = MergeOf(list);
    list.Mode = TMergeMode::mmLogaritmic;
    const TBmpHdr log = MergeOf(list);
    for (int x = 0; x < 4; ++x) {
        const float v = row.ScanLine(0)[3 * x] / 255.0f;
        EXPECT_EQ(avg.Pixels[0][x].B, v);
        EXPECT_NEAR(log.Pixels[0][x].B, v + 1e-5f, 2e-7f);
    }
}

TEST_F(MergeTest, NothingHappensWithoutSourcesDestOrValidMode)
{
    int calls = 0;
    OnProgress = [&](int, int, int) { ++calls; };
    TBmpList list;
    TBmpHdr dest;
    dest.SetSize(3, 3, GrayHdr(0.5f, 1.0f));
    list.Merge(&dest);  // empty list
    EXPECT_EQ(dest.Width(), 3);
    EXPECT_EQ(dest.Pixels[2][2].G, 0.5f);
    const TBitmap source = Grey(5, 4, 9);
    list.Add(&source, 1.0f);
    list.Merge(nullptr);
    list.Mode = static_cast<TMergeMode>(3);  // the dialog's removed "Extrapolate"
    list.Merge(&dest);
    EXPECT_EQ(dest.Width(), 3);
    EXPECT_EQ(dest.Pixels[2][2].G, 0.5f);
    EXPECT_EQ(calls, 0);  // an operation that does not start makes no progress call

    // A refused start leaves dest as it was.
    ProgressAborted = true;
    list.Mode = TMergeMode::mmAverage;
    list.Merge(&dest);
    EXPECT_EQ(dest.Width(), 3);
    EXPECT_EQ(dest.Pixels[2][2].G, 0.5f);
    ProgressAborted = false;
    list.Merge(&dest);
    EXPECT_EQ(dest.Width(), 5);
    EXPECT_EQ(dest.Height(), 4);
    EXPECT_EQ(dest.Pixels[3][4].G, 9.0f / 255.0f);
}

TEST_F(MergeTest, MatchesThePlainMergeOnTheBracketSetsForAnyThreadCount)
{
    struct TSet {
        std::string Folder, Stem;
        std::vector<std::string> Evs;
        std::string Ext;
    };
    const std::vector<TSet> sets = {
        {"courtyard_3ev", "courtyard", {"-2", "+0", "+2"}, "jpg"},
        {"courtyard_5ev", "courtyard", {"-4", "-2", "+0", "+2", "+4"}, "jpg"},
        {"interior_3ev", "interior", {"-2", "+0", "+2"}, "jpg"},
        {"interior_5ev", "interior", {"-4", "-2", "+0", "+2", "+4"}, "jpg"},
        {"courtyard_3ev_bmp24", "courtyard", {"-2", "+0", "+2"}, "bmp"},
        {"courtyard_3ev_tiff16", "courtyard", {"-2", "+0", "+2"}, "tif"},
    };
    for (const TSet& set : sets) {
        TBmpList list;
        std::size_t failed = 0;
        ASSERT_TRUE(AddMergeFiles(list, BracketFiles(set.Folder, set.Stem, set.Evs, set.Ext),
                                  TLoadPath::lpAuto, failed))
            << set.Folder << ": " << LastFileStatus().Message;
        ASSERT_EQ(list.Count(), static_cast<std::int32_t>(set.Evs.size()));
        std::vector<const TBitmap*> sources;
        std::vector<float> means;
        for (const TBmpEntry& e : list.Entries()) {
            sources.push_back(&e.Bitmap);
            means.push_back(RefMean(e.Bitmap));
            EXPECT_TRUE(SameBits(e.Mean, means.back())) << set.Folder;
        }
        // The brackets run from dark to bright.
        for (std::size_t i = 1; i < means.size(); ++i)
            EXPECT_LT(means[i - 1], means[i]) << set.Folder;
        for (const bool automatic : {false, true}) {
            if (automatic)
                list.ComputeAutoExposure();
            const std::vector<float> exposures = RefExposures(means, automatic);
            for (std::size_t i = 0; i < exposures.size(); ++i)
                EXPECT_TRUE(SameBits(list.Entries()[i].Exposure, exposures[i]));
            for (const TMergeMode mode :
                 {TMergeMode::mmAverage, TMergeMode::mmLogaritmic, TMergeMode::mmWeighted}) {
                const TBmpHdr expected = RefMerge(sources, exposures, mode);
                list.Mode = mode;
                // Every version of the vector exponents the processor runs.
                for (const detail::TLaneKind kind :
                     {detail::TLaneKind::lkPlain, detail::TLaneKind::lkFma,
                      detail::TLaneKind::lkAvx512}) {
                    detail::LaneLimit = kind;
                    for (const int threads : {1, 2, 7}) {
                        SetThreadCount(threads);
                        EXPECT_TRUE(SameBits(MergeOf(list), expected))
                            << set.Folder << " mode " << static_cast<int>(mode) << " auto "
                            << automatic << " threads " << threads << " lanes "
                            << static_cast<int>(kind);
                    }
                }
                detail::LaneLimit = detail::TLaneKind::lkAvx512;
            }
        }
    }
}

TEST_F(MergeTest, ReportsEveryRowAndStopsWhereAborted)
{
    ReportEveryStep();
    // 100 rows, so every step call changes the percentage and reaches OnProgress.
    TBitmap dark(64, 100, TPixelFormat::pf24bit);
    TBitmap bright(64, 100, TPixelFormat::pf24bit);
    for (std::int32_t y = 0; y < 100; ++y)
        for (std::int32_t i = 0; i < 64 * 3; ++i) {
            dark.ScanLine(y)[i] = static_cast<std::uint8_t>((y + i) % 97);
            bright.ScanLine(y)[i] = static_cast<std::uint8_t>(255 - (y * i) % 101);
        }
    TBmpList list;
    list.Add(&dark, 1.0f);
    list.Add(&bright, 1.0f);
    list.ComputeAutoExposure();
    list.Mode = TMergeMode::mmWeighted;
    SetThreadCount(1);
    const TBmpHdr full = MergeOf(list);
    for (const int threads : {1, 2, 7}) {
        SetThreadCount(threads);
        std::vector<int> stages;
        std::vector<int> steps;
        OnProgress = [&](int stage, int percentage, int) {
            stages.push_back(stage);
            if (stage == psStep)
                steps.push_back(percentage);
        };
        EXPECT_TRUE(SameBits(MergeOf(list), full));
        ASSERT_EQ(steps.size(), 101u);  // rows 0..99 before each row, 100 at the end
        for (int i = 0; i <= 100; ++i)
            EXPECT_EQ(steps[static_cast<std::size_t>(i)], i);
        EXPECT_EQ(stages.front(), psStart);
        EXPECT_EQ(stages.back(), psEnd);

        // Abort from the report of row 39: row 39 still runs, row 40 does not.
        int calls = 0;
        OnProgress = [&](int stage, int, int) {
            if (stage == psStep && ++calls == 40)
                ProgressAborted = true;
        };
        TBmpHdr dest;
        dest.SetSize(3, 3, GrayHdr(0.5f, 1.0f));
        list.Merge(&dest);
        ProgressAborted = false;
        ASSERT_EQ(dest.Width(), 64);  // full size even so
        ASSERT_EQ(dest.Height(), 100);
        int done = 0;
        for (int y = 0; y < 100; ++y) {
            const bool merged = SameRow(dest, full, y);
            const bool fresh = ZeroRow(dest, y);  // as freshly sized: all four channels 0
            EXPECT_TRUE(merged || fresh) << y;
            done += merged ? 1 : 0;
            if (threads == 1) {
                EXPECT_EQ(merged, y < 40) << y;
            }
        }
        EXPECT_LT(done, 100);
    }
}

}  // namespace lumivex
