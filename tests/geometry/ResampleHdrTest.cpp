#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "TestLoad.h"
#include "TestProgress.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "geometry/ResampleHdr.h"
#include "io/IsolatedLoad.h"

using namespace lumivex;
using lumivex::test::Copy;
using lumivex::test::GreyRow;
using lumivex::test::LoadTestImage;
using lumivex::test::SameBits;
using lumivex::test::TestDataPath;

namespace {

TBmpHdr Crop(const TBmpHdr& source, int x, int y, int width, int height)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    CopyRectHdr(&source, TRect{x, y, x + width, y + height}, &image, 0, 0, MaxRectHdr);
    return image;
}

bool Same(const TColorHdr& a, const TColorHdr& b)
{
    return SameBits(a.B, b.B) && SameBits(a.G, b.G) && SameBits(a.R, b.R) && SameBits(a.A, b.A);
}

float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// One contributor list written straight from the definition (reflection, then the clamp that
// keeps tiny sources inside; a zero total falls back to the nearest pixel).
struct TRefPair {
    int Index;
    int Weight;
};

std::vector<TRefPair> RefList(int i, int srcSize, int dstSize, TResampleFilter filter,
                              float support)
{
    const float scale = (srcSize == 1 || dstSize == 1)
                            ? static_cast<float>(double(dstSize) / double(srcSize))
                            : static_cast<float>(double(dstSize - 1) / double(srcSize - 1));
    const float center = static_cast<float>(double(i) / double(scale));
    const float width = scale >= 1.0f ? support : static_cast<float>(double(support) / scale);
    auto source = [&](long j) {
        if (j < 0)
            j = -j;
        else if (j >= srcSize)
            j = 2L * srcSize - j - 1;
        return static_cast<int>(std::min<long>(std::max<long>(j, 0), srcSize - 1));
    };
    std::vector<TRefPair> list;
    int total = 0;
    for (long j = static_cast<long>(std::floor(double(center) - double(width)));
         j <= static_cast<long>(std::ceil(double(center) + double(width))); ++j) {
        double w = 0.0;
        if (scale >= 1.0f)
            w = 1000.0 * double(filter(static_cast<float>(double(center) - double(j))));
        else
            w = 1000.0 * double(scale) *
                double(filter(static_cast<float>((double(center) - double(j)) * double(scale))));
        const int weight = static_cast<int>(std::nearbyint(w));
        if (weight == 0)
            continue;
        list.push_back({source(j), weight});
        total += weight;
    }
    if (total == 0)
        list.assign(1, TRefPair{source(static_cast<long>(std::nearbyint(center))), 1});
    return list;
}

// The weighted sum of one list over a line of pixels: float sums of weight x channel.
TColorHdr RefSum(const std::vector<TRefPair>& list, const std::vector<TColorHdr>& line)
{
    float b = 0.0f, g = 0.0f, r = 0.0f, a = 0.0f;
    int total = 0;
    for (const TRefPair& p : list) {
        const auto w = static_cast<float>(p.Weight);
        const TColorHdr& c = line[static_cast<std::size_t>(p.Index)];
        b = b + w * c.B;
        g = g + w * c.G;
        r = r + w * c.R;
        a = a + w * c.A;
        total += p.Weight;
    }
    const auto t = static_cast<float>(total);
    return TColorHdr{Clamp01(b / t), Clamp01(g / t), Clamp01(r / t), Clamp01(a / t)};
}

// The two passes as defined: rows into the intermediate image, then column by column through
// a copy of each intermediate column. Optionally stops at a given step index.
void StretchReference(const TBmpHdr& src, TBmpHdr& dst, TResampleFilter filter, float support,
                      int stopAt = -1)
{
    const int sw = src.Width(), sh = src.Height(), dw = dst.Width(), dh = dst.Height();
    int step = 0;
    auto go = [&] { return stopAt < 0 || step++ < stopAt; };  // step stopAt is refused
    std::vector<std::vector<TRefPair>> columns;
    for (int i = 0; i < dw; ++i) {
        if (!go())
            return;
        columns.push_back(RefList(i, sw, dw, filter, support));
    }
    std::vector<std::vector<TColorHdr>> middle(static_cast<std::size_t>(sh));
    for (int k = 0; k < sh; ++k) {
        if (!go())
            return;
        const std::vector<TColorHdr> buffer(src.Pixels[k].begin(), src.Pixels[k].end());
        for (int i = 0; i < dw; ++i)
            middle[k].push_back(RefSum(columns[i], buffer));
    }
    std::vector<std::vector<TRefPair>> rows;
    for (int i = 0; i < dh; ++i) {
        if (!go())
            return;
        rows.push_back(RefList(i, sh, dh, filter, support));
    }
    for (int k = 0; k < dw; ++k) {
        if (!go())
            return;
        std::vector<TColorHdr> buffer;
        for (int y = 0; y < sh; ++y)
            buffer.push_back(middle[y][k]);
        for (int i = 0; i < dh; ++i)
            dst.Pixels[i][k] = RefSum(rows[i], buffer);
    }
}

TBmpHdr Reference(const TBmpHdr& src, int w, int h, int filterIndex)
{
    TBmpHdr dst;
    dst.SetSize(w, h, clNoneHdr);
    StretchReference(src, dst, ResampleFilters[filterIndex].Filter,
                     ResampleFilters[filterIndex].Support);
    return dst;
}

TBmpHdr Uniform(int w, int h, float v)
{
    TBmpHdr image;
    image.SetSize(w, h, TColorHdr{v, v, v, v});
    return image;
}

using ResampleTest = lumivex::test::TProgressTest;

}  // namespace

TEST(ResampleFilters, KnownValuesInsideAndZeroOutside)
{
    EXPECT_EQ(BoxFilter(0.0f), 1.0f);
    EXPECT_EQ(BoxFilter(0.5f), 1.0f);  // -0.5 < x <= 0.5
    EXPECT_EQ(BoxFilter(-0.5f), 0.0f);
    EXPECT_EQ(TriangleFilter(0.25f), 0.75f);
    EXPECT_EQ(TriangleFilter(-1.0f), 0.0f);
    EXPECT_EQ(HermiteFilter(0.5f), 0.5f);  // (1 - 3) 0.25 + 1
    EXPECT_EQ(HermiteFilter(0.0f), 1.0f);
    EXPECT_EQ(HermiteFilter(1.0f), 0.0f);
    EXPECT_EQ(BellFilter(0.0f), 0.75f);
    EXPECT_EQ(BellFilter(0.5f), 0.5f);     // 0.5 (0.5 - 1.5)^2
    EXPECT_EQ(BellFilter(-1.0f), 0.125f);  // 0.5 (1 - 1.5)^2
    EXPECT_EQ(BellFilter(1.5f), 0.0f);
    EXPECT_EQ(SplineFilter(0.0f), static_cast<float>(2.0 / 3.0));
    EXPECT_EQ(SplineFilter(1.0f), static_cast<float>(1.0 / 6.0));   // 0.5 - 1 + 2/3
    EXPECT_EQ(SplineFilter(1.5f), static_cast<float>(1.0 / 48.0));  // 0.5^3 / 6
    EXPECT_EQ(SplineFilter(2.0f), 0.0f);
    EXPECT_EQ(MitchellFilter(0.0f), static_cast<float>(8.0 / 9.0));   // 16/3 / 6
    EXPECT_EQ(MitchellFilter(1.0f), static_cast<float>(1.0 / 18.0));  // (7 - 12 + 16/3) / 6
    // (-7/3 x 27/8 + 12 x 9/4 - 30 + 32/3) / 6 = (-63/8 + 27 - 30 + 32/3) / 6 = -5/144
    EXPECT_FLOAT_EQ(MitchellFilter(-1.5f), static_cast<float>(-5.0 / 144.0));
    EXPECT_EQ(MitchellFilter(2.0f), 0.0f);
    EXPECT_EQ(LanczosFilter(0.0f), 1.0f);
    // sinc(0.5) sinc(1/6) = (2 / pi) (3 / pi) = 6 / pi^2 = 0.6079...
    EXPECT_NEAR(LanczosFilter(0.5f), 6.0 / (std::numbers::pi * std::numbers::pi), 1e-6);
    // At whole numbers sin(float(pi k)) is only about 1e-7, far below a weight of 1/1000.
    EXPECT_NEAR(LanczosFilter(1.0f), 0.0, 1e-6);
    EXPECT_NEAR(LanczosFilter(-2.0f), 0.0, 1e-6);
    EXPECT_EQ(LanczosFilter(3.0f), 0.0f);
    EXPECT_EQ(ResampleFilters[5].Support, 3.0f);
    EXPECT_STREQ(ResampleFilters[6].Name, "Mitchell");
}

TEST(ResampleContributors, WeightsOfTheWorkedExamples)
{
    // Two pixels to three with Bilinear: scale 2, centre of the middle 0.5, weights 500 and 500.
    const std::vector<TContributor> middle = ResampleContributors(1, 2, 3, TriangleFilter, 1.0f);
    ASSERT_EQ(middle.size(), 2u);
    EXPECT_EQ(middle[0].Index, 0);
    EXPECT_EQ(middle[0].Weight, 500);
    EXPECT_EQ(middle[1].Index, 1);
    EXPECT_EQ(middle[1].Weight, 500);
    // Same size with Bell: 125, 750, 125; the left neighbour of pixel 0 reflects onto pixel 1.
    const std::vector<TContributor> bell = ResampleContributors(0, 10, 10, BellFilter, 1.5f);
    ASSERT_EQ(bell.size(), 3u);
    EXPECT_EQ(bell[0].Index, 1);
    EXPECT_EQ(bell[0].Weight, 125);
    EXPECT_EQ(bell[1].Index, 0);
    EXPECT_EQ(bell[1].Weight, 750);
    // B-Spline at the same size: 167, 667, 167 (total 1001).
    const std::vector<TContributor> spline = ResampleContributors(5, 10, 10, SplineFilter, 2.0f);
    ASSERT_EQ(spline.size(), 3u);
    EXPECT_EQ(spline[1].Weight, 667);
    EXPECT_EQ(spline[2].Weight, 167);
    // 1000 to 100 with Lanczos: scale 99/999, centre 50 / scale = 504.5, width 3 / scale =
    // 30.27, so the candidates are 474..535, about 61 pixels. Weights are 1000 x 0.099 x kernel,
    // so the far tails (kernel below 0.005) round to 0 and drop out.
    const std::vector<TContributor> lanczos =
        ResampleContributors(50, 1000, 100, LanczosFilter, 3.0f);
    ASSERT_GE(lanczos.size(), 50u);
    EXPECT_GE(lanczos.front().Index, 474);
    EXPECT_LE(lanczos.back().Index, 535);
    EXPECT_LE(lanczos.back().Index - lanczos.front().Index + 1, 61);
    // The peak: 1000 x 0.0991 x kernel(0.045 or 0.054) = 98.8 or 98.6 at 505 and 504.
    int peak = 0;
    for (const TContributor& c : lanczos)
        peak = std::max<int>(peak, c.Weight);
    EXPECT_EQ(peak, 99);
    for (const TContributor& c : lanczos)
        EXPECT_EQ(c.Weight == 99, c.Index == 504 || c.Index == 505) << c.Index;
}

TEST(ResampleContributors, IndicesStayInsideTinySources)
{
    for (const int src : {1, 2, 3}) {
        for (const int dst : {1, 2, 5, 40}) {
            for (const TResampleFilterDef& f : ResampleFilters) {
                for (int i = 0; i < dst; ++i) {
                    const std::vector<TContributor> list =
                        ResampleContributors(i, src, dst, f.Filter, f.Support * 3.0f);
                    ASSERT_FALSE(list.empty());
                    int total = 0;
                    for (const TContributor& c : list) {
                        ASSERT_LT(c.Index, src) << f.Name << " " << src << "->" << dst;
                        total += c.Weight;
                    }
                    EXPECT_NE(total, 0);
                }
            }
        }
    }
}

TEST(ResampleContributors, ZeroTotalsFallBackToTheNearestPixel)
{
    // Shrinking 5000 to 2 with Lanczos: every weight is 1000 / 4999 x kernel < 0.5, so all
    // round to 0; the list becomes the nearest source pixel (centre 4999 for output 1).
    const std::vector<TContributor> list = ResampleContributors(1, 5000, 2, LanczosFilter, 3.0f);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Index, 4999);
    EXPECT_EQ(list[0].Weight, 1);
    // An odd kernel cancels: weights 1000, (0 skipped), -1000 at the same size.
    const TResampleFilter odd = [](float x) { return x; };
    const std::vector<TContributor> cancel = ResampleContributors(3, 10, 10, odd, 1.0f);
    ASSERT_EQ(cancel.size(), 1u);
    EXPECT_EQ(cancel[0].Index, 3);

    std::vector<float> values(5000);
    for (int i = 0; i < 5000; ++i)
        values[static_cast<std::size_t>(i)] = static_cast<float>(i % 7) / 8.0f;
    const TBmpHdr row = GreyRow(values, 1.0f);
    TBmpHdr dst;
    ResizeHdr(&row, &dst, 2, 0.0f, 5, 1);
    ASSERT_EQ(dst.Width(), 2);
    EXPECT_EQ(dst.Pixels[0][0].G, 0.0f);         // pixel 0: 0 % 7 / 8
    EXPECT_EQ(dst.Pixels[0][1].G, 1.0f / 8.0f);  // pixel 4999: 4999 % 7 = 1
    TBmpHdr same;
    same.SetSize(10, 1, clNoneHdr);
    const TBmpHdr ramp = GreyRow({0, 0.1f, 0.2f, 0.3f, 4.0f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f}, 1.0f);
    StretchHdr(&ramp, &same, odd, 1.0f);
    EXPECT_EQ(same.Pixels[0][3].R, 0.3f);  // 1 x 0.3 / 1
    EXPECT_EQ(same.Pixels[0][4].R, 1.0f);  // clamped like every output
}

TEST(StretchHdr, WorkedExamplesAndUniformImages)
{
    // 0, 1 to three pixels with Bilinear: 0, 0.5, 1.
    const TBmpHdr pair = GreyRow({0.0f, 1.0f}, 1.0f);
    TBmpHdr three;
    ResizeHdr(&pair, &three, 3, 0.0f, 1, 1);
    ASSERT_EQ(three.Width(), 3);
    EXPECT_EQ(three.Pixels[0][0].G, 0.0f);
    EXPECT_EQ(three.Pixels[0][1].G, 0.5f);
    EXPECT_EQ(three.Pixels[0][2].G, 1.0f);
    // Bell at the same size on 0, 1, 0: (125 x 1 + 750 x 0 + 125 x 1) / 1000 = 0.25 at the
    // reflected left border, 750 / 1000 in the middle.
    const TBmpHdr spike = GreyRow({0.0f, 1.0f, 0.0f}, 1.0f);
    TBmpHdr bell;
    ResizeHdr(&spike, &bell, 3, 0.0f, 3, 1);
    EXPECT_EQ(bell.Pixels[0][0].G, 0.25f);
    EXPECT_EQ(bell.Pixels[0][1].G, 0.75f);
    // Uniform 0.5 stays 0.5 (w x 0.5 sums are exact), uniform 4.0 becomes 1.0.
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 7}, {5, 1}, {17, 9}, {40, 33}, {3, 80}};
    for (int f = 0; f < ResampleFilterCount; ++f)
        for (const auto& [w, h] : sizes)
            for (const auto& [nw, nh] : sizes) {
                for (const float v : {0.5f, 4.0f}) {
                    const TBmpHdr src = Uniform(w, h, v);
                    TBmpHdr dst;
                    ResizeHdr(&src, &dst, nw, 0.0f, static_cast<std::uint8_t>(f), nh);
                    ASSERT_EQ(dst.Width(), nw);
                    ASSERT_EQ(dst.Height(), nh);
                    const float expected = v > 1.0f ? 1.0f : v;
                    for (int y = 0; y < nh; ++y)
                        for (int x = 0; x < nw; ++x)
                            ASSERT_EQ(dst.Pixels[y][x].R, expected)
                                << ResampleFilters[f].Name << " " << w << "x" << h << " -> " << nw
                                << "x" << nh;
                }
            }
}

TEST(StretchHdr, SameSizeKeepsPixelsForInterpolatingFiltersAndBlursForTheOthers)
{
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr source = Crop(photo, 30, 20, 64, 48);
    for (int f = 0; f < ResampleFilterCount; ++f) {
        TBmpHdr dst;
        ResizeHdr(&source, &dst, 64, 0.0f, static_cast<std::uint8_t>(f), 48);
        const bool interpolating = f == 0 || f == 1 || f == 2 || f == 5;
        int changed = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const float in = Clamp01(source.Pixels[y][x].G);
                const float out = dst.Pixels[y][x].G;
                // One weight of 1000 in each pass: (1000 v) / 1000 in float, which is v or an
                // ulp away (1000 v is rounded before the division).
                if (interpolating) {
                    ASSERT_NEAR(out, in, 2.0f * std::numeric_limits<float>::epsilon())
                        << ResampleFilters[f].Name << " " << x << "," << y;
                } else if (out != in) {
                    ++changed;
                }
            }
        if (!interpolating) {
            EXPECT_GT(changed, 64 * 48 / 2) << ResampleFilters[f].Name;
        }
    }
    // Values that survive the round trip bit for bit: 0, 1/2, 1, and clamping above 1.
    const TBmpHdr row = GreyRow({0.0f, 0.5f, 1.0f, 3.0f, -2.0f}, 0.25f);
    TBmpHdr dst;
    ResizeHdr(&row, &dst, 5, 0.0f, 0, 1);
    const float expected[] = {0.0f, 0.5f, 1.0f, 1.0f, 0.0f};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(dst.Pixels[0][x].B, expected[x]);
        EXPECT_EQ(dst.Pixels[0][x].A, 0.25f);
    }
}

TEST_F(ResampleTest, MatchesTheReferenceOnRealImagesForOneTwoAndSevenThreads)
{
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr alpha = LoadTestImage("ldr/png_rgba8_partial_alpha_256x128.png");
    const TBmpHdr nan = LoadTestImage("hdr/synthetic_nan_inf_8x8_float.exr");
    struct TCase {
        const char* Name;
        TBmpHdr Source;
        int W;
        int H;
    };
    std::vector<TCase> cases;
    cases.push_back({"enlarge", Crop(photo, 60, 30, 61, 37), 150, 80});
    cases.push_back({"shrink", Copy(photo), 97, 40});
    cases.push_back({"mixed", Crop(alpha, 0, 0, 256, 128), 300, 51});
    cases.push_back({"nan/inf", Copy(nan), 13, 5});
    cases.push_back({"1x1 up", Crop(photo, 100, 60, 1, 1), 7, 3});
    cases.push_back({"to 1x1", Crop(photo, 0, 0, 50, 30), 1, 1});
    cases.push_back({"1xN", Crop(photo, 100, 10, 1, 70), 4, 33});
    cases.push_back({"2xN", Crop(photo, 100, 10, 2, 70), 9, 140});
    cases.push_back({"Nx2", Crop(alpha, 10, 100, 90, 2), 31, 5});
    cases.push_back({"to Nx1", Crop(alpha, 10, 10, 90, 60), 200, 1});
    for (const TCase& c : cases) {
        for (int f = 0; f < ResampleFilterCount; ++f) {
            const TBmpHdr expected = Reference(c.Source, c.W, c.H, f);
            for (const int threads : {1, 2, 7}) {
                SetThreadCount(threads);
                TBmpHdr dst;
                ResizeHdr(&c.Source, &dst, c.W, 0.0f, static_cast<std::uint8_t>(f), c.H);
                ASSERT_TRUE(SameBits(dst, expected))
                    << c.Name << " " << ResampleFilters[f].Name << " threads " << threads;
            }
        }
    }
    // A support of its own, and the source as destination.
    TBmpHdr wide;
    wide.SetSize(80, 50, clNoneHdr);
    StretchReference(photo, wide, MitchellFilter, 3.5f);
    TBmpHdr image = Copy(photo);
    ResizeHdr(&image, &image, 80, 3.5f, 6, 50);
    EXPECT_TRUE(SameBits(image, wide));
    image = Copy(photo);
    TBmpHdr same;
    same.SetSize(256, 128, clNoneHdr);
    StretchReference(photo, same, SplineFilter, 2.0f);
    StretchHdr(&image, &image, SplineFilter, 2.0f);
    EXPECT_TRUE(SameBits(image, same));
}

TEST_F(ResampleTest, RefusesBadSizesFiltersAndSupportsWithoutTouchingDst)
{
    const TBmpHdr source = Uniform(4, 4, 0.5f);
    const TBmpHdr before = Uniform(3, 2, 0.25f);
    TBmpHdr dst = Copy(before);
    RecordSteps();
    ResizeHdr(&source, &dst, 0, 0.0f, 1, 4);
    ResizeHdr(&source, &dst, 4, 0.0f, 1, 0);
    ResizeHdr(&source, &dst, 65536, 0.0f, 1, 4);
    ResizeHdr(&source, &dst, 4, 0.0f, 1, -3);
    ResizeHdr(&source, &dst, 4, 0.0f, 7, 4);
    ResizeHdr(&source, &dst, 4, -1.0f, 1, 4);
    ResizeHdr(&source, &dst, 4, std::numeric_limits<float>::quiet_NaN(), 1, 4);
    ResizeHdr(&source, &dst, 4, std::numeric_limits<float>::infinity(), 1, 4);
    ResizeHdr(nullptr, &dst, 4, 0.0f, 1, 4);
    TBmpHdr empty;
    ResizeHdr(&empty, &dst, 4, 0.0f, 1, 4);
    StretchHdr(&source, &empty, TriangleFilter, 1.0f);
    StretchHdr(&source, &dst, nullptr, 1.0f);
    EXPECT_TRUE(SameBits(dst, before));
    EXPECT_TRUE(m_steps.empty());
    EXPECT_FALSE(IsProgressBusy());
    ResizeHdr(&source, nullptr, 4, 0.0f, 1, 4);
    // 65535 is allowed.
    ResizeHdr(&source, &dst, 65535, 0.0f, 0, 1);
    EXPECT_EQ(dst.Width(), 65535);
    EXPECT_EQ(dst.Pixels[0][65534].G, 0.5f);
}

TEST_F(ResampleTest, StepsCountBothListsAndBothPassesInOrder)
{
    // 30 x 40 to 20 x 20: 2 x 20 + 40 + 20 = 100 steps, so each step is one percent.
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr source = Crop(photo, 20, 20, 30, 40);
    for (const int threads : {1, 2, 7}) {
        SetThreadCount(threads);
        RecordSteps();
        TBmpHdr dst;
        ResizeHdr(&source, &dst, 20, 0.0f, 5, 20);
        ASSERT_EQ(m_steps.size(), 101u) << threads;  // 0..99, then 100 at the end
        for (int i = 0; i <= 100; ++i)
            EXPECT_EQ(m_steps[static_cast<std::size_t>(i)], i) << threads;
        EXPECT_FALSE(IsProgressBusy());
    }
}

TEST_F(ResampleTest, AbortStopsTheCurrentStageAndSkipsTheRest)
{
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr source = Crop(photo, 20, 20, 30, 40);
    const TColorHdr sentinel{-3.0f, -3.0f, -3.0f, -3.0f};
    // Refused at step 10 (column lists), 30 (row pass), 65 (row lists), 86 (column 6 of the
    // column pass): only the last leaves any output, columns 0..5 of it.
    for (const int refused : {10, 30, 65, 86}) {
        SetThreadCount(1);
        RecordSteps(refused - 1);
        TBmpHdr dst;
        dst.SetSize(20, 20, sentinel);  // already the new size: untouched pixels keep this
        ResizeHdr(&source, &dst, 20, 0.0f, 6, 20);
        const int lastReported = m_steps.back();
        EndAbort();
        TBmpHdr expected;
        expected.SetSize(20, 20, sentinel);
        StretchReference(source, expected, MitchellFilter, 2.0f, refused);
        EXPECT_TRUE(SameBits(dst, expected)) << refused;
        EXPECT_EQ(lastReported, refused - 1);
        if (refused == 86) {
            EXPECT_FALSE(Same(dst.Pixels[3][5], sentinel));
            EXPECT_TRUE(Same(dst.Pixels[3][6], sentinel));
        }
    }
    // With several bands each column is finished or untouched, and the call returns.
    TBmpHdr full;
    full.SetSize(20, 20, clNoneHdr);
    StretchReference(source, full, MitchellFilter, 2.0f);
    SetThreadCount(7);
    RecordSteps(85);
    TBmpHdr dst;
    dst.SetSize(20, 20, sentinel);
    ResizeHdr(&source, &dst, 20, 0.0f, 6, 20);
    EndAbort();
    for (int x = 0; x < 20; ++x) {
        bool done = true;
        bool untouched = true;
        for (int y = 0; y < 20; ++y) {
            done = done && Same(dst.Pixels[y][x], full.Pixels[y][x]);
            untouched = untouched && Same(dst.Pixels[y][x], sentinel);
        }
        EXPECT_TRUE(done || untouched) << "column " << x;
    }
}
