#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "TestLoad.h"
#include "TestProgress.h"
#include "adjust/PowerLanes.h"
#include "adjust/ToneCurve.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "filters/ConvolutionHdr.h"
#include "filters/LocalToneHdr.h"

using namespace lumivex;
using lumivex::test::Copy;
using lumivex::test::LoadTestImage;
using lumivex::test::RefPower;
using lumivex::test::SameBits;

namespace {

// A literal, single-threaded reading of both routines, independent of the banded and vectorised
// code: a history of h + 1 unfiltered copies of the region's rows (entry 0 the oldest, the rows
// above the region repeated from its top row), rows below the current one read from the image
// itself, every sum accumulated in a float in tap order, one pixel at a time.
void RefLocal(TBmpHdr& image, const TFilterMatrix* kernel, TRect rect, TLocalToneFunc func,
              bool toneMap, std::int8_t exposure)
{
    if (kernel == nullptr || func == nullptr || kernel->Width == 0 || kernel->Height != 1 ||
        !ClipRectHdr(&image, rect))
        return;
    if (!FilterProgress(psStart, rect.Height()))
        return;
    const float f = ExposureFactor(exposure);
    const int h = kernel->HalfWidth();
    const int n = rect.Width();
    auto segment = [&](int y) {
        return std::vector<TColorHdr>(image.Pixels[y].begin() + rect.Left,
                                      image.Pixels[y].begin() + rect.Right);
    };
    std::vector<std::vector<TColorHdr>> history(static_cast<std::size_t>(h + 1), segment(rect.Top));
    for (int y = rect.Top; y < rect.Bottom; ++y) {
        if (!FilterProgress(psStep, y - rect.Top))
            break;
        history.erase(history.begin());
        history.push_back(segment(y));
        for (int x = rect.Left; x < rect.Right; ++x) {
            const TColorHdr c0 = image.Pixels[y][x];
            auto horizontal = [&](int i) {
                return history[h][std::clamp(x - rect.Left + i, 0, n - 1)];
            };
            auto vertical = [&](int j) -> TColorHdr {
                if (j <= 0)
                    return history[h + j][x - rect.Left];
                if (y == rect.Bottom - 1)
                    return history[h][x - rect.Left];
                return image.Pixels[std::min(y + j, rect.Bottom - 1)][x];
            };
            float sB = 0.0f;
            float sG = 0.0f;
            float sR = 0.0f;
            float w = 0.0f;
            auto add = [&](const TColorHdr& p, float weight) {
                if (toneMap && !(std::fabs(p.B - c0.B) <= SimilarityThreshold &&
                                 std::fabs(p.G - c0.G) <= SimilarityThreshold &&
                                 std::fabs(p.R - c0.R) <= SimilarityThreshold))
                    return;
                sB += weight * p.B;
                sG += weight * p.G;
                sR += weight * p.R;
                w += weight;
            };
            for (int t = 0; t <= 2 * h; ++t)
                add(horizontal(t - h), kernel->Values[t]);
            for (int t = 0; t <= 2 * h; ++t)
                add(vertical(t - h), kernel->Values[t]);
            TColorHdr& out = image.Pixels[y][x];
            if (toneMap) {
                const float aB = sB / w + kernel->Bias;
                const float aG = sG / w + kernel->Bias;
                const float aR = sR / w + kernel->Bias;
                // +inf saturates: its own average is NaN (inf - inf fails the similarity test).
                const auto map = [&](float v, float a) {
                    return v == std::numeric_limits<float>::infinity() ? 1.0f
                                                                       : ClampHdr(func(v, a));
                };
                out.B = map(f * c0.B, f * aB);
                out.G = map(f * c0.G, f * aG);
                out.R = map(f * c0.R, f * aR);
            } else {
                const float d = kernel->Divisor * 2.0f;
                out.B = ClampHdr(func(c0.B, sB / d + kernel->Bias));
                out.G = ClampHdr(func(c0.G, sG / d + kernel->Bias));
                out.R = ClampHdr(func(c0.R, sR / d + kernel->Bias));
            }
        }
    }
    FilterProgress(psEnd, 0);
}

// The operators as the definition states them, in double with the stated float roundings.
float RefLogaritmic(float v, float a)
{
    if (v == 0.0f)
        return 0.0f;
    const auto t = static_cast<float>(std::log(double{v}) - std::log(double{a}));
    return static_cast<float>(std::exp(double{GammaExponent} * std::log(double{a}) + t));
}

float RefReinhard(float v, float a)
{
    if (v == 0.0f)
        return 0.0f;
    const auto t = static_cast<float>(std::log(double{v}) - std::log(double{a}));
    const auto u = static_cast<float>(double{v} / (double{ReinhardKey} + a));
    return static_cast<float>(std::exp(double{GammaExponent} * std::log(double{u}) + t));
}

float RefJimRichard(float v, float a)
{
    if (double{v} <= 0.004)
        return 0.0f;
    const double p = static_cast<float>(double{FilmicScale} * std::max(v - 0.004, 0.0));
    const double q = static_cast<float>(double{FilmicScale} * std::max(a - 0.004, 0.0));
    return static_cast<float>(((6.2 * p + 0.5) * p) / ((6.2 * q + 1.7) * q + 0.06));
}

TBmpHdr Crop(const TBmpHdr& source, TRect rect)
{
    TBmpHdr crop;
    crop.SetSize(rect.Width(), rect.Height(), clNoneHdr);
    CopyRectHdr(&source, rect, &crop, 0, 0, MaxRectHdr);
    return crop;
}

// Hash-like values in 0.05..0.95 with an alpha that is not 1, so that neighbours are rarely
// similar and every row changes under every routine.
TBmpHdr NoiseImage(int width, int height)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    auto noise = [](int x, int y, int c) {
        const double s = std::sin(x * 12.9898 + y * 78.233 + c * 37.719) * 43758.5453;
        return static_cast<float>(0.05 + 0.9 * (s - std::floor(s)));
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] = TColorHdr{noise(x, y, 0), noise(x, y, 1), noise(x, y, 2),
                                           0.25f + 0.5f * noise(x, y, 3)};
    return image;
}

// A one-row kernel of the given weights; Divisor is their float sum in index order.
std::unique_ptr<TFilterMatrix> RowKernel(const std::vector<float>& weights)
{
    auto k = std::make_unique<TFilterMatrix>(static_cast<std::uint16_t>(weights.size()), 1);
    float sum = 0.0f;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        k->SetValue(static_cast<int>(i), 0, weights[i]);
        sum += weights[i];
    }
    k->Divisor = sum;
    return k;
}

bool SameRowColour(const TBmpHdr& a, const TBmpHdr& b, int y)
{
    for (int x = 0; x < a.Width(); ++x) {
        const TColorHdr& p = a.Pixels[y][x];
        const TColorHdr& q = b.Pixels[y][x];
        if (!SameBits(p.B, q.B) || !SameBits(p.G, q.G) || !SameBits(p.R, q.R))
            return false;
    }
    return true;
}

float ThrowOnBright(float value, float)
{
    if (value > 0.9f)
        throw std::runtime_error("bright");
    return value;
}

// Every test leaves the shared progress, thread and tone state as it found it.
class LocalToneTest : public lumivex::test::TProgressTest {
protected:
    void SetUp() override
    {
        m_threshold = SimilarityThreshold;
        m_amount = MicroDetailsAmount;
    }

    void TearDown() override
    {
        if (IsProgressBusy()) {
            ProgressAborted = false;
            FilterProgress(psEnd, 0);
        }
        TProgressTest::TearDown();
        SimilarityThreshold = m_threshold;
        MicroDetailsAmount = m_amount;
    }

    float m_threshold = 0.0f;
    float m_amount = 0.0f;
};

}  // namespace

TEST(LocalOperators, GoldenValuesAndTheirDefinitions)
{
    const float g = GammaExponent;
    // Flat (a = v): Logaritmic is v^0.4545: 0.25^0.4545 = e^(0.4545 x -1.386294) = 0.532554.
    EXPECT_NEAR(LocalLogaritmic(0.25f, 0.25f), 0.532554f, 1e-6f);
    EXPECT_EQ(LocalLogaritmic(0.25f, 0.25f), RefPower(0.25f, g));  // t = 0 exactly
    // (v / a) a^0.4545: v = 0.5, a = 0.53125: 0.941176 x 0.750150 = 0.706024.
    EXPECT_NEAR(LocalLogaritmic(0.5f, 0.53125f), 0.706024f, 1e-6f);
    // Reinhard flat at 0.47: (0.47 / 1.0)^0.4545 = e^(0.4545 x -0.755023) = 0.709526; at twice
    // its average, 0.94: 0.94^0.4545 x 2 = 0.972269 x 2 = 1.944539.
    EXPECT_NEAR(LocalReinhard(0.47f, 0.47f), 0.709526f, 2e-6f);
    EXPECT_NEAR(LocalReinhard(0.94f, 0.47f), 1.944539f, 4e-6f);
    // Jim & Richard with p = q = 1 (v = a = 0.004 + 1 / 1.3): 6.7 / 7.96 = 0.841709.
    EXPECT_NEAR(LocalJimRichard(0.004f + 1.0f / 1.3f, 0.004f + 1.0f / 1.3f), 0.841709f, 2e-6f);
    for (const TLocalToneFunc op : {LocalLogaritmic, LocalReinhard, LocalJimRichard}) {
        EXPECT_EQ(op(0.0f, 0.3f), 0.0f);
        EXPECT_EQ(op(0.0f, 0.0f), 0.0f);
    }
    EXPECT_EQ(LocalJimRichard(0.0039f, 0.5f), 0.0f);
    // 0.004f is 0.00400000019, just above the double 0.004: p = 1.3 x 1.9e-10 > 0.
    EXPECT_GT(LocalJimRichard(0.004f, 0.004f), 0.0f);

    const float values[] = {1e-30f, 1e-6f, 0.0039f, 0.004f, 0.0041f, 0.01f, 0.1f, 0.333f,
                            0.5f,   0.99f, 1.0f,    1.7f,   3.0f,    55.0f, 1e6f};
    for (const float v : values)
        for (const float a : values) {
            EXPECT_TRUE(SameBits(LocalLogaritmic(v, a), RefLogaritmic(v, a))) << v << " " << a;
            EXPECT_TRUE(SameBits(LocalReinhard(v, a), RefReinhard(v, a))) << v << " " << a;
            EXPECT_TRUE(SameBits(LocalJimRichard(v, a), RefJimRichard(v, a))) << v << " " << a;
        }

    const float saved = MicroDetailsAmount;
    MicroDetailsAmount = 0.5f;
    // 0.7 + (0.7 - 0.65) x 0.5 = 0.725, rounded once from double.
    EXPECT_EQ(MicroDetailsFunc(0.7f, 0.65f),
              static_cast<float>((double{0.7f} - double{0.65f}) * 0.5 + double{0.7f}));
    EXPECT_NEAR(MicroDetailsFunc(0.7f, 0.65f), 0.725f, 1e-7f);
    MicroDetailsAmount = -1.0f;
    EXPECT_NEAR(MicroDetailsFunc(0.7f, 0.65f), 0.65f, 1e-7f);  // a full softening is the average
    MicroDetailsAmount = saved;
}

TEST_F(LocalToneTest, FlatRegionsMapLikeTheGlobalCurves)
{
    auto k = MakeGaussMatrix(3.0f, 0.0f, GaussExponent, 1.0f);
    // Every tap is similar and sums of w x 0.25 are 0.25 x the sum of w exactly (a power of two),
    // so the average is exactly 0.25 and t = 0: the result is PowerHdr's e^(0.4545 ln v).
    for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        struct TCase {
            std::int8_t Exposure;
            float V;  // value and average after the exposure
        };
        // Exposure 2 doubles (2^1 is exact), -2 halves; 1 and 4 scale by 2^0.5 and 2^2 as
        // floats, and 0.25 x that float is exact.
        for (const TCase c :
             {TCase{0, 0.25f}, TCase{2, 0.5f}, TCase{-2, 0.125f},
              TCase{1, 0.25f * ExposureFactor(1)}, TCase{4, 0.25f * ExposureFactor(4)}}) {
            TBmpHdr image;
            image.SetSize(20, 9, GrayHdr(0.25f, 1.0f));
            LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalLogaritmic, c.Exposure);
            const float expect = RefPower(c.V, GammaExponent);
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 20; ++x) {
                    const TColorHdr& p = image.Pixels[y][x];
                    ASSERT_EQ(p.B, expect) << int{c.Exposure} << " " << x << "," << y;
                    ASSERT_EQ(p.G, expect);
                    ASSERT_EQ(p.R, expect);
                    ASSERT_EQ(p.A, 1.0f);
                }
        }
    }
    TBmpHdr image;
    image.SetSize(5, 5, GrayHdr(0.25f, 1.0f));
    LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalLogaritmic, 0);
    EXPECT_NEAR(image.Pixels[2][2].G, 0.5326f, 1e-4f);  // 0.25^0.4545
    // Reinhard, flat: (v / (0.53 + v))^0.4545 x 1; Jim & Richard, flat: the global filmic curve.
    image.SetSize(5, 5, GrayHdr(0.47f, 1.0f));
    LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalReinhard, 0);
    EXPECT_EQ(image.Pixels[1][3].R, LocalReinhard(0.47f, 0.47f));
    EXPECT_NEAR(image.Pixels[1][3].R, 0.709526f, 2e-6f);
}

TEST_F(LocalToneTest, ZeroStaysZeroUnderEveryOperator)
{
    auto k = MakeGaussMatrix(2.0f, 0.0f, GaussExponent, 1.0f);
    for (const TLocalToneFunc op : {LocalLogaritmic, LocalReinhard, LocalJimRichard}) {
        TBmpHdr image;
        image.SetSize(7, 5, GrayHdr(0.02f, 1.0f));  // similar to 0: the average is above 0
        image.Pixels[2][3] = GrayHdr(0.0f, 1.0f);
        image.Pixels[4][0] = ColorHdr(0.0f, 0.01f, 0.03f, 1.0f);  // R = 0 only
        LocalToneMapHdr(&image, k.get(), MaxRectHdr, op, 3);
        EXPECT_EQ(image.Pixels[2][3].B, 0.0f);
        EXPECT_EQ(image.Pixels[2][3].G, 0.0f);
        EXPECT_EQ(image.Pixels[2][3].R, 0.0f);
        EXPECT_EQ(image.Pixels[4][0].R, 0.0f);
        EXPECT_GT(image.Pixels[4][0].G, 0.0f);
    }
}

TEST_F(LocalToneTest, ABrightPixelIsMappedAloneAndItsDarkNeighboursIgnoreIt)
{
    // Background 0.125, one pixel 0.75 (they differ by 0.625 > 0.05), radius 3. The bright
    // pixel's only similar tap is itself, counted twice: average 2 w 0.75 / 2 w = 0.75. Every
    // dark pixel averages dark pixels only: 0.125 exactly (a power of two scales exactly).
    auto k = MakeGaussMatrix(3.0f, 0.0f, GaussExponent, 1.0f);
    for (const int threads : {1, 2, 7}) {
        SetThreadCount(threads);
        TBmpHdr image;
        image.SetSize(9, 9, GrayHdr(0.125f, 1.0f));
        image.Pixels[4][4] = GrayHdr(0.75f, 1.0f);
        LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalLogaritmic, 0);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                const float expect = RefPower(x == 4 && y == 4 ? 0.75f : 0.125f, GammaExponent);
                EXPECT_EQ(image.Pixels[y][x].G, expect) << x << "," << y;
            }
    }
    EXPECT_NEAR(RefPower(0.125f, GammaExponent), 0.388638f, 1e-6f);  // 0.125^0.4545
    EXPECT_NEAR(RefPower(0.75f, GammaExponent), 0.877436f, 1e-6f);
}

TEST_F(LocalToneTest, SimilarityIsPerChannelAndInclusive)
{
    // Row 0.5, 0.75 with weights 1, 2, 1. For the first pixel the horizontal arm reads 0.5
    // (clamped), 0.5, 0.75 and the vertical arm 0.5 three times (one row).
    auto k = RowKernel({1.0f, 2.0f, 1.0f});
    auto run = [&](float threshold, TColorHdr second) {
        SimilarityThreshold = threshold;
        TBmpHdr image = lumivex::test::RowImage({GrayHdr(0.5f, 1.0f), second});
        LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalLogaritmic, 0);
        return image.Pixels[0][0].G;
    };
    // Difference 0.25 exactly, threshold 0.25: similar. s = 0.5 + 1.0 + 0.75 + 0.5 + 1.0 + 0.5
    // = 4.25, W = 8, average 0.53125.
    EXPECT_EQ(run(0.25f, GrayHdr(0.75f, 1.0f)), LocalLogaritmic(0.5f, 0.53125f));
    // Just below: s = 3.5, W = 7, average 0.5 (flat).
    EXPECT_EQ(run(0.2499f, GrayHdr(0.75f, 1.0f)), LocalLogaritmic(0.5f, 0.5f));
    // One channel off is enough to skip the tap: B and R equal, G far.
    SimilarityThreshold = 0.05f;
    TBmpHdr image = lumivex::test::RowImage({GrayHdr(0.5f, 1.0f), ColorHdr(0.5f, 0.9f, 0.5f, 1)});
    LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalLogaritmic, 0);
    EXPECT_EQ(image.Pixels[0][0].R, LocalLogaritmic(0.5f, 0.5f));
    EXPECT_EQ(image.Pixels[0][0].B, LocalLogaritmic(0.5f, 0.5f));

    // Odd thresholds as the definition reads them: 0 and -0 keep equal neighbours only (the
    // smooth ramp has many), a negative or NaN one keeps nothing, not even the centre (W = 0,
    // the average NaN, the result 0), infinity everything but NaN differences.
    const TBmpHdr smooth = lumivex::test::SmoothImage();
    const TBmpHdr odd = LoadTestImage("hdr/synthetic_nan_inf_8x8_float.exr");
    auto k3 = MakeGaussMatrix(3.0f, 0.0f, GaussExponent, 1.0f);
    for (const float threshold : {0.0f, -0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(), 1e-3f}) {
        SimilarityThreshold = threshold;
        for (const TBmpHdr* source : {&smooth, &odd})
            for (const int threads : {1, 2}) {
                SetThreadCount(threads);
                TBmpHdr expect = Copy(*source);
                RefLocal(expect, k3.get(), MaxRectHdr, LocalReinhard, true, 0);
                TBmpHdr result = Copy(*source);
                LocalToneMapHdr(&result, k3.get(), MaxRectHdr, LocalReinhard, 0);
                EXPECT_TRUE(SameBits(result, expect)) << threshold << " " << threads;
            }
    }
}

TEST_F(LocalToneTest, MicroDetailsPushesPixelsAwayFromTheirAverage)
{
    auto k = RowKernel({1.0f, 2.0f, 1.0f});  // divisor 4
    // Middle: (0.5 + 1.4 + 0.5 + 4 x 0.7) / 8 = 0.65 -> 0.7 + 0.05 x 0.5 = 0.725. Its
    // neighbours: (0.5 + 1.0 + 0.7 + 4 x 0.5) / 8 = 0.525 -> 0.5 - 0.025 x 0.5 = 0.4875. The
    // ends see only 0.5: unchanged.
    const std::vector<float> row{0.5f, 0.5f, 0.7f, 0.5f, 0.5f};
    for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        MicroDetailsAmount = 0.5f;
        TBmpHdr image = lumivex::test::GreyRow(row, 0.3f);
        MicroDetailsHdr(&image, k.get(), MaxRectHdr, MicroDetailsFunc);
        const float expect[] = {0.5f, 0.4875f, 0.725f, 0.4875f, 0.5f};
        for (int x = 0; x < 5; ++x) {
            EXPECT_NEAR(image.Pixels[0][x].B, expect[x], 1e-6f) << x;
            EXPECT_EQ(image.Pixels[0][x].B, image.Pixels[0][x].R);
            EXPECT_EQ(image.Pixels[0][x].A, 0.3f);
        }
        // The same column, one pixel wide: the horizontal arm is the pixel itself (weights
        // 1 + 2 + 1), the vertical arm now carries the neighbours; the sums are the same up to
        // their order of addition.
        TBmpHdr column;
        column.SetSize(1, 5, clNoneHdr);
        for (int y = 0; y < 5; ++y)
            column.Pixels[y][0] = GrayHdr(row[y], 0.3f);
        MicroDetailsHdr(&column, k.get(), MaxRectHdr, MicroDetailsFunc);
        for (int y = 0; y < 5; ++y)
            EXPECT_NEAR(column.Pixels[y][0].G, expect[y], 1e-6f) << y;

        // A negative amount softens: 0.7 - 0.05 x 0.5 = 0.675.
        MicroDetailsAmount = -0.5f;
        image = lumivex::test::GreyRow(row, 0.3f);
        MicroDetailsHdr(&image, k.get(), MaxRectHdr, MicroDetailsFunc);
        EXPECT_NEAR(image.Pixels[0][2].G, 0.675f, 1e-6f);
        EXPECT_NEAR(image.Pixels[0][1].G, 0.5125f, 1e-6f);

        // Amount 0 is a plain clamp: (v - a) x 0 + v = v, then 2.0 -> 1.0, -0.5 -> 0.0, 7 -> 1.
        MicroDetailsAmount = 0.0f;
        image = lumivex::test::GreyRow({2.0f, 0.3f, -0.5f, 0.3f, 7.0f}, 1.0f);
        MicroDetailsHdr(&image, k.get(), MaxRectHdr, MicroDetailsFunc);
        const float clamped[] = {1.0f, 0.3f, 0.0f, 0.3f, 1.0f};
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(image.Pixels[0][x].R, clamped[x]) << x;
    }
}

TEST_F(LocalToneTest, GuardsMakeNoChangeAndNoProgressCall)
{
    int calls = 0;
    OnProgress = [&](int, int, int) { ++calls; };
    const TBmpHdr source = NoiseImage(12, 10);
    auto good = RowKernel({1.0f, 2.0f, 1.0f});
    TFilterMatrix tall(3, 3);  // Height 3
    std::fill(tall.Values.begin(), tall.Values.end(), 1.0f);
    tall.Divisor = 9.0f;
    const TFilterMatrix empty(0, 1);
    MicroDetailsAmount = 0.8f;
    TBmpHdr image = Copy(source);
    const TFilterMatrix* const unusable[] = {nullptr, &tall, &empty};
    for (const TFilterMatrix* k : unusable) {
        LocalToneMapHdr(&image, k, MaxRectHdr, LocalLogaritmic, 0);
        MicroDetailsHdr(&image, k, MaxRectHdr, MicroDetailsFunc);
    }
    LocalToneMapHdr(&image, good.get(), MaxRectHdr, nullptr, 0);
    MicroDetailsHdr(&image, good.get(), MaxRectHdr, nullptr);
    for (const TRect r :
         {TRect{5, 5, 5, 9}, TRect{3, 4, 9, 4}, TRect{12, 0, 20, 10}, TRect{-9, -9, -1, 5}}) {
        LocalToneMapHdr(&image, good.get(), r, LocalLogaritmic, 0);
        MicroDetailsHdr(&image, good.get(), r, MicroDetailsFunc);
    }
    EXPECT_TRUE(SameBits(image, source));
    EXPECT_EQ(calls, 0);
    LocalToneMapHdr(nullptr, good.get(), MaxRectHdr, LocalLogaritmic, 0);
    MicroDetailsHdr(nullptr, good.get(), MaxRectHdr, MicroDetailsFunc);
    TBmpHdr none;
    LocalToneMapHdr(&none, good.get(), MaxRectHdr, LocalLogaritmic, 0);
    MicroDetailsHdr(&none, good.get(), MaxRectHdr, MicroDetailsFunc);
    EXPECT_EQ(calls, 0);

    // A start call that answers false: nothing changes.
    ProgressAborted = true;
    LocalToneMapHdr(&image, good.get(), MaxRectHdr, LocalLogaritmic, 0);
    MicroDetailsHdr(&image, good.get(), MaxRectHdr, MicroDetailsFunc);
    EXPECT_TRUE(SameBits(image, source));
}

TEST_F(LocalToneTest, OnlyTheRectangleIsReadAndWrittenAndAlphaStays)
{
    TBmpHdr source = NoiseImage(40, 30);
    source.Pixels[3][7].A = std::numeric_limits<float>::quiet_NaN();
    source.Pixels[9][10].A = -3.0f;
    source.Pixels[12][12].A = 7.5f;
    auto k = MakeGaussMatrix(4.0f, 0.0f, GaussExponent, 1.0f);
    const TRect rect{5, 4, 25, 20};
    MicroDetailsAmount = 0.6f;
    for (const int threads : {1, 3}) {
        SetThreadCount(threads);
        for (const bool toneMap : {true, false}) {
            TBmpHdr image = Copy(source);
            TBmpHdr alone = Crop(source, rect);
            if (toneMap) {
                LocalToneMapHdr(&image, k.get(), rect, LocalReinhard, 1);
                LocalToneMapHdr(&alone, k.get(), MaxRectHdr, LocalReinhard, 1);
            } else {
                MicroDetailsHdr(&image, k.get(), rect, MicroDetailsFunc);
                MicroDetailsHdr(&alone, k.get(), MaxRectHdr, MicroDetailsFunc);
            }
            // The region equals the routine run on the region cut out: nothing outside is read.
            EXPECT_TRUE(SameBits(Crop(image, rect), alone));
            int changed = 0;
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 40; ++x) {
                    const TColorHdr& p = image.Pixels[y][x];
                    const TColorHdr& q = source.Pixels[y][x];
                    const bool inside = x >= 5 && x < 25 && y >= 4 && y < 20;
                    EXPECT_TRUE(SameBits(p.A, q.A)) << x << "," << y;
                    if (!inside) {
                        EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0) << x << "," << y;
                    } else if (!SameBits(p.G, q.G)) {
                        ++changed;
                    }
                }
            EXPECT_GT(changed, 300);  // of 320
        }
    }
    // A one-pixel-wide region inside the image: only that column changes.
    TBmpHdr image = Copy(source);
    TBmpHdr alone = Crop(source, TRect{17, 0, 18, 30});
    LocalToneMapHdr(&image, k.get(), TRect{17, -5, 18, 99}, LocalLogaritmic, 0);
    LocalToneMapHdr(&alone, k.get(), MaxRectHdr, LocalLogaritmic, 0);
    EXPECT_TRUE(SameBits(Crop(image, TRect{17, 0, 18, 30}), alone));
    EXPECT_TRUE(SameBits(Crop(image, TRect{0, 0, 17, 30}), Crop(source, TRect{0, 0, 17, 30})));
    EXPECT_TRUE(SameBits(Crop(image, TRect{18, 0, 40, 30}), Crop(source, TRect{18, 0, 40, 30})));
}

namespace {

struct TRun {
    const char* Name;
    bool ToneMap;
    TLocalToneFunc Func;
    std::int8_t Exposure;
    float Amount;
};

std::vector<TBmpHdr> RealImages()
{
    std::vector<TBmpHdr> images;
    images.push_back(LoadTestImage("hdr/courtyard_256x128_float_zip.exr"));
    images.push_back(LoadTestImage("hdr/interior_200x100_float.tif"));
    images.push_back(LoadTestImage("hdr/sunset_160x80.pfm"));
    images.push_back(LoadTestImage("hdr/synthetic_nan_inf_8x8_float.exr"));
    images.push_back(lumivex::test::SmoothImage());
    const TBmpHdr& courtyard = images[0];
    images.push_back(Crop(courtyard, TRect{100, 40, 101, 80}));  // one pixel wide
    images.push_back(Crop(courtyard, TRect{30, 60, 70, 61}));    // one row
    images.push_back(Crop(courtyard, TRect{0, 50, 256, 62}));    // 12 rows: 7 bands of 1-2
    images.push_back(Crop(courtyard, TRect{9, 3, 46, 15}));      // 37 x 12
    return images;
}

std::vector<std::shared_ptr<TFilterMatrix>> Kernels()
{
    std::vector<std::shared_ptr<TFilterMatrix>> kernels;
    for (const float r : {1.0f, 3.0f, 5.0f, 10.0f, 30.0f, 50.0f})
        kernels.push_back(MakeGaussMatrix(r, 0.0f, GaussExponent, 1.0f));
    kernels.push_back(MakeGaussMatrix(2.5f, 0.0f, GaussExponent, 13.0f));
    kernels.push_back(RowKernel({0.7f}));  // h = 0: the pixel alone, in both arms
    // Uneven weights, a divisor that is not their sum and a bias; width 6 has h = 2, so the
    // last weight is never used.
    auto odd = RowKernel({1.0f, 3.0f, -0.5f, 2.0f, 1.0f, 9.0f});
    odd->Divisor = 3.7f;
    odd->Bias = 0.01f;
    kernels.push_back(std::move(odd));
    return kernels;
}

// Each image with each kernel and run, on a rectangle that cycles through the whole image, one
// inside and one overhanging, for 1, 2 and 7 threads.
void CompareWithReference(const std::vector<TRun>& runs)
{
    const std::vector<TBmpHdr> images = RealImages();
    const auto kernels = Kernels();
    int index = 0;
    for (const TBmpHdr& source : images) {
        const int w = source.Width();
        const int h = source.Height();
        const TRect rects[] = {MaxRectHdr, TRect{w / 5, h / 4, w - w / 3, h - h / 5},
                               TRect{-7, h / 3, w / 2 + 1, h + 40}};
        for (const auto& k : kernels)
            for (const TRun& run : runs) {
                const TRect rect = rects[index++ % 3];
                MicroDetailsAmount = run.Amount;
                TBmpHdr expect = Copy(source);
                RefLocal(expect, k.get(), rect, run.Func, run.ToneMap, run.Exposure);
                for (const int threads : {1, 2, 7}) {
                    SetThreadCount(threads);
                    TBmpHdr image = Copy(source);
                    if (run.ToneMap)
                        LocalToneMapHdr(&image, k.get(), rect, run.Func, run.Exposure);
                    else
                        MicroDetailsHdr(&image, k.get(), rect, run.Func);
                    EXPECT_TRUE(SameBits(image, expect))
                        << run.Name << ", " << w << " x " << h << ", width " << k->Width
                        << ", rect " << rect.Left << " " << rect.Top << " " << rect.Right << " "
                        << rect.Bottom << ", " << threads << " threads";
                }
            }
    }
}

}  // namespace

TEST_F(LocalToneTest, ToneMapMatchesTheSingleThreadedDefinitionBitForBit)
{
    CompareWithReference({{"Logaritmic", true, LocalLogaritmic, 0, 0.0f},
                          {"Reinhard +3", true, LocalReinhard, 3, 0.0f},
                          {"Jim & Richard -2", true, LocalJimRichard, -2, 0.0f},
                          {"MicroDetailsFunc as tone operator", true, MicroDetailsFunc, 1, 0.4f}});
    SimilarityThreshold = 0.3f;
    CompareWithReference({{"Logaritmic, threshold 0.3", true, LocalLogaritmic, 0, 0.0f}});
}

TEST_F(LocalToneTest, MicroDetailsMatchesTheSingleThreadedDefinitionBitForBit)
{
    CompareWithReference({{"amount 0.5", false, MicroDetailsFunc, 0, 0.5f},
                          {"amount -0.7", false, MicroDetailsFunc, 0, -0.7f},
                          {"amount 1", false, MicroDetailsFunc, 0, 1.0f},
                          {"Logaritmic as detail function", false, LocalLogaritmic, 0, 0.0f}});
}

// The vector exp and log of the Reinhard and logarithmic operators against their scalar calls:
// values over the whole float range, with zeros of both signs, subnormals, negatives, NaN,
// infinities and runs of equal values (a value equal to its average), for every kernel version
// the processor has.
TEST_F(LocalToneTest, VectorOperatorsEqualTheScalarCallsOverTheWholeRangeInEveryVersion)
{
    std::mt19937 gen(77);
    const float special[] = {0.0f,      -0.0f, 1e-45f, 1e-40f, -2.0f,  NAN,   INFINITY,
                             -INFINITY, 1.0f,  0.5f,   3e38f,  1e-30f, 0.53f, 2.0f};
    TBmpHdr source;
    source.SetSize(53, 29, clNoneHdr);
    for (TRawHdr& row : source.Pixels) {
        float run = 0.0f;
        for (TColorHdr& p : row) {
            auto value = [&]() {
                const std::uint32_t r = gen();
                if (r % 11 == 0)
                    return special[gen() % std::size(special)];
                if (r % 7 == 0)
                    return run;  // repeats the last value: flat stretches
                run = std::ldexp(static_cast<float>(gen() % 100000) / 100000.0f,
                                 static_cast<int>(gen() % 120) - 80);
                return run;
            };
            p = TColorHdr{value(), value(), value(), 1.0f};
        }
    }
    const auto kernels = Kernels();
    for (const detail::TLaneKind kind :
         {detail::TLaneKind::lkAvx512, detail::TLaneKind::lkFma, detail::TLaneKind::lkPlain}) {
        detail::LaneLimit = kind;
        for (const auto& k : kernels)
            for (const TLocalToneFunc func : {LocalReinhard, LocalLogaritmic})
                for (const std::int8_t exposure :
                     {std::int8_t{-5}, std::int8_t{0}, std::int8_t{7}}) {
                    TBmpHdr expect = Copy(source);
                    RefLocal(expect, k.get(), MaxRectHdr, func, true, exposure);
                    TBmpHdr image = Copy(source);
                    LocalToneMapHdr(&image, k.get(), MaxRectHdr, func, exposure);
                    EXPECT_TRUE(SameBits(image, expect))
                        << (func == LocalReinhard ? "Reinhard" : "logarithmic") << ", width "
                        << k->Width << ", exposure " << int{exposure} << ", version "
                        << static_cast<int>(kind);
                }
    }
    detail::LaneLimit = detail::TLaneKind::lkAvx512;
}

TEST_F(LocalToneTest, StepCallsComeInOrderOncePerRow)
{
    ReportEveryStep();
    // 100 rows: every step has its own percentage, so every step call reaches OnProgress.
    const TBmpHdr source = NoiseImage(30, 100);
    std::vector<int> reports;
    OnProgress = [&](int stage, int percentage, int) {
        reports.push_back(stage == psStep ? percentage : -1 - stage);
    };
    std::vector<int> expect{-1};  // start
    for (int i = 0; i <= 100; ++i)
        expect.push_back(i);  // steps 0..99, then 100 at the end
    expect.push_back(-3);     // end
    MicroDetailsAmount = 0.5f;
    for (const float radius : {3.0f, 12.0f})
        for (const int threads : {1, 2, 7}) {
            SetThreadCount(threads);
            auto k = MakeGaussMatrix(radius, 0.0f, GaussExponent, 1.0f);
            reports.clear();
            TBmpHdr image = Copy(source);
            LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalJimRichard, 0);
            EXPECT_EQ(reports, expect) << radius << " " << threads;
            reports.clear();
            MicroDetailsHdr(&image, k.get(), MaxRectHdr, MicroDetailsFunc);
            EXPECT_EQ(reports, expect) << radius << " " << threads;
        }
}

TEST_F(LocalToneTest, AnAbortLeavesWholeRowsFilteredOrUntouched)
{
    ReportEveryStep();
    const int rows = 100;
    const TBmpHdr source = NoiseImage(50, rows);
    MicroDetailsAmount = -0.6f;
    for (const float radius : {3.0f, 12.0f})
        for (const bool toneMap : {true, false}) {
            auto k = MakeGaussMatrix(radius, 0.0f, GaussExponent, 1.0f);
            OnProgress = {};
            TBmpHdr full = Copy(source);
            RefLocal(full, k.get(), MaxRectHdr, toneMap ? LocalLogaritmic : MicroDetailsFunc,
                     toneMap, 0);
            for (const int threads : {1, 2}) {
                SetThreadCount(threads);
                // The report of step 40 sets the flag; that call still answers true, so row 40
                // runs, and the next step call answers false.
                OnProgress = [&](int stage, int percentage, int) {
                    if (stage == psStep && percentage == 40)
                        ProgressAborted = true;
                };
                TBmpHdr image = Copy(source);
                if (toneMap)
                    LocalToneMapHdr(&image, k.get(), MaxRectHdr, LocalLogaritmic, 0);
                else
                    MicroDetailsHdr(&image, k.get(), MaxRectHdr, MicroDetailsFunc);
                int done = 0;
                for (int y = 0; y < rows; ++y) {
                    const bool filtered = SameRowColour(image, full, y);
                    const bool untouched =
                        std::memcmp(image.Pixels[y].data(), source.Pixels[y].data(),
                                    source.Pixels[y].size() * sizeof(TColorHdr)) == 0;
                    ASSERT_NE(filtered, untouched) << y;  // every row changes when filtered
                    done += filtered ? 1 : 0;
                    if (threads == 1) {
                        EXPECT_EQ(filtered, y <= 40) << radius << " " << y;
                    }
                }
                // With two bands the report of step 40 comes once 40 rows are done; the band
                // of the calling thread then runs at most one more row, the other band at most
                // to its end (50 rows): the walk stops well before the 100 rows.
                EXPECT_GE(done, 40) << radius << " " << threads;
                EXPECT_LE(done, 42 + rows / 2) << radius << " " << threads;
                // The end call answered false like every call after the abort; the operation
                // protocol clears the flag and makes it.
                ProgressAborted = false;
                if (IsProgressBusy())
                    FilterProgress(psEnd, 0);
            }
        }
}

TEST_F(LocalToneTest, AnExceptionStillMakesTheEndCall)
{
    // ThrowOnBright throws for values above 0.9, which the noise has in many rows.
    const TBmpHdr source = NoiseImage(20, 40);
    auto k = MakeGaussMatrix(2.0f, 0.0f, GaussExponent, 1.0f);
    std::vector<int> stages;
    OnProgress = [&](int stage, int, int) { stages.push_back(stage); };
    for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        stages.clear();
        TBmpHdr image = Copy(source);
        EXPECT_THROW(LocalToneMapHdr(&image, k.get(), MaxRectHdr, ThrowOnBright, 0),
                     std::runtime_error);
        EXPECT_FALSE(IsProgressBusy());
        ASSERT_FALSE(stages.empty());
        EXPECT_EQ(stages.back(), psEnd);
        EXPECT_THROW(MicroDetailsHdr(&image, k.get(), MaxRectHdr, ThrowOnBright),
                     std::runtime_error);
        EXPECT_FALSE(IsProgressBusy());
    }
}

TEST_F(LocalToneTest, AnInfiniteSunSaturatesInsteadOfTurningBlack)
{
    TBmpHdr image;
    image.SetSize(7, 5, GrayHdr(0.25f, 1.0f));
    const float inf = std::numeric_limits<float>::infinity();
    image.Pixels[2][3] = TColorHdr{inf, inf, 0.5f, 1.0f};
    auto k = MakeGaussMatrix(2.0f, 0.0f, GaussExponent, 1.0f);
    for (const TLocalToneFunc op : {LocalLogaritmic, LocalReinhard, LocalJimRichard}) {
        TBmpHdr result = Copy(image);
        LocalToneMapHdr(&result, k.get(), MaxRectHdr, op, 0);
        EXPECT_EQ(result.Pixels[2][3].B, 1.0f);
        EXPECT_EQ(result.Pixels[2][3].G, 1.0f);
        EXPECT_EQ(result.Pixels[0][0].B, ClampHdr(op(0.25f, 0.25f)));  // neighbours ignore it
    }
}
