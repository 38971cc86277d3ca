#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "TestLoad.h"
#include "TestProgress.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "filters/ConvolutionHdr.h"

using namespace lumivex;
using lumivex::test::Copy;
using lumivex::test::LoadTestImage;
using lumivex::test::SameBits;

namespace {

// Straight, single-threaded readings of the three passes, kept independent of the banded and
// vectorised code under test.
float Channel(const TColorHdr& p, int c) { return c == 0 ? p.B : (c == 1 ? p.G : p.R); }
float& Channel(TColorHdr& p, int c) { return c == 0 ? p.B : (c == 1 ? p.G : p.R); }

void RefRows(TBmpHdr& image, const TFilterMatrix& k, TRect rect)
{
    if (k.Width == 0 || k.Height != 1 || !ClipRectHdr(&image, rect))
        return;
    const int h = k.HalfWidth();
    const int n = rect.Width();
    for (int y = rect.Top; y < rect.Bottom; ++y) {
        const std::vector<TColorHdr> temp(image.Pixels[y].begin() + rect.Left,
                                          image.Pixels[y].begin() + rect.Right);
        for (int x = rect.Left; x < rect.Right; ++x)
            for (int c = 0; c < 3; ++c) {
                float s = 0.0f;
                for (int i = -h; i <= h; ++i)
                    s +=
                        k.Values[i + h] * Channel(temp[std::clamp(x - rect.Left + i, 0, n - 1)], c);
                Channel(image.Pixels[y][x], c) = ClampHdr(s / k.Divisor + k.Bias);
            }
    }
}

void RefColumns(TBmpHdr& image, const TFilterMatrix& k, TRect rect)
{
    if (k.Width == 0 || k.Height != 1 || !ClipRectHdr(&image, rect))
        return;
    const int h = k.HalfWidth();
    const int n = rect.Height();
    for (int x = rect.Left; x < rect.Right; ++x) {
        std::vector<TColorHdr> temp;
        for (int y = rect.Top; y < rect.Bottom; ++y)
            temp.push_back(image.Pixels[y][x]);
        for (int y = rect.Top; y < rect.Bottom; ++y)
            for (int c = 0; c < 3; ++c) {
                float s = 0.0f;
                for (int j = -h; j <= h; ++j)
                    s += k.Values[j + h] * Channel(temp[std::clamp(y - rect.Top + j, 0, n - 1)], c);
                Channel(image.Pixels[y][x], c) = ClampHdr(s / k.Divisor + k.Bias);
            }
    }
}

// In place with the row history, as the pass is defined.
void RefMatrix(TBmpHdr& image, const TFilterMatrix& k, TRect rect)
{
    if (k.Width == 0 || k.Height == 0 || !ClipRectHdr(&image, rect))
        return;
    const int h = k.HalfWidth();
    const int v = k.HalfHeight();
    const int n = rect.Width();
    TBufferList list(n * 16);
    list.FillBuffers(image.Pixels[rect.Top].data() + rect.Left, static_cast<std::uint16_t>(v + 1));
    for (int y = rect.Top; y < rect.Bottom; ++y) {
        list.PushBuffer(image.Pixels[y].data() + rect.Left);
        for (int x = rect.Left; x < rect.Right; ++x) {
            float s[3] = {0.0f, 0.0f, 0.0f};
            int idx = 0;
            for (int j = -v; j <= v; ++j) {
                const TColorHdr* source;
                if (j <= 0)
                    source = static_cast<const TColorHdr*>(list.GetBuffer(v + j));
                else if (y == rect.Bottom - 1)
                    source = static_cast<const TColorHdr*>(list.GetBuffer(v));
                else
                    source = image.Pixels[std::min(y + j, rect.Bottom - 1)].data() + rect.Left;
                for (int i = -h; i <= h; ++i, ++idx)
                    for (int c = 0; c < 3; ++c)
                        s[c] += k.Values[idx] *
                                Channel(source[std::clamp(x - rect.Left + i, 0, n - 1)], c);
            }
            for (int c = 0; c < 3; ++c)
                Channel(image.Pixels[y][x], c) = ClampHdr(s[c] / k.Divisor + k.Bias);
        }
    }
}

class ConvolutionTest : public lumivex::test::TProgressTest {};

}  // namespace

TEST(TFilterMatrix, LayoutSumAndHalves)
{
    TFilterMatrix m(7, 3);
    EXPECT_EQ(m.Values.size(), 21u);
    EXPECT_EQ(m.Divisor, 1.0f);
    EXPECT_EQ(m.Bias, 0.0f);
    EXPECT_EQ(m.HalfWidth(), 3);
    EXPECT_EQ(m.HalfHeight(), 1);
    m.SetValue(2, 1, 0.5f);
    EXPECT_EQ(m.Values[2 + 7 * 1], 0.5f);
    EXPECT_EQ(m.GetValue(2, 1), 0.5f);
    m.SetValue(0, 0, 1e8f);
    m.SetValue(1, 0, 1.0f);
    m.SetValue(2, 0, -1e8f);
    EXPECT_EQ(m.Sum(), 0.5f);  // float accumulation in index order: 1e8 + 1 rounds back to 1e8
    EXPECT_EQ(TFilterMatrix(1, 1).HalfWidth(), 0);
    EXPECT_EQ(TFilterMatrix(0, 0).Sum(), 0.0f);
}

TEST(TBufferList, FillsAllButTheFirstAndRecyclesOldest)
{
    const int a = 1, b = 2, c = 3;
    TBufferList list(sizeof(int));
    list.FillBuffers(&a, 3);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(*static_cast<int*>(list.GetBuffer(1)), 1);
    EXPECT_EQ(*static_cast<int*>(list.GetBuffer(2)), 1);
    void* first = list.GetBuffer(0);
    list.PushBuffer(&b);
    EXPECT_EQ(list.GetBuffer(2), first);  // the recycled memory, no allocation
    list.PushBuffer(&c);
    EXPECT_EQ(*static_cast<int*>(list.GetBuffer(0)), 1);
    EXPECT_EQ(*static_cast<int*>(list.GetBuffer(1)), 2);
    EXPECT_EQ(*static_cast<int*>(list.GetBuffer(2)), 3);
}

TEST(KernelBuilders, OneRowProfiles)
{
    // Gauss radius 1: (1 - 1)^e + 1 = 1 at the ends, 1^e + 1 = 2 in the centre.
    auto g1 = MakeGaussMatrix(1.0f, 0.0f, GaussExponent, 1.0f);
    EXPECT_EQ(g1->Values, (std::vector<float>{1.0f, 2.0f, 1.0f}));
    EXPECT_EQ(g1->Divisor, 4.0f);
    // Radius 3: 2^1.69 + 1 and 3^1.69 + 1 next to the ends' 2 and 1.
    const double e = static_cast<double>(GaussExponent);
    const auto p2 = static_cast<float>(std::pow(2.0, e) + 1.0);
    const auto p3 = static_cast<float>(std::pow(3.0, e) + 1.0);
    auto g3 = MakeGaussMatrix(3.0f, 0.0f, GaussExponent, 1.0f);
    EXPECT_EQ(g3->Values, (std::vector<float>{1.0f, 2.0f, p2, p3, p2, 2.0f, 1.0f}));
    EXPECT_NEAR(p2, 4.2266f, 1e-4f);
    EXPECT_NEAR(p3, 7.4023f, 1e-4f);
    // Sensitivity 1 weighs the centre 13 times.
    auto g13 = MakeGaussMatrix(1.0f, 0.0f, GaussExponent, 13.0f);
    EXPECT_EQ(g13->Values[1], 26.0f);
    EXPECT_EQ(g13->Divisor, 28.0f);
    // Sharpen radius 1, amount 1.23: -1, -1.23 * (-4 + 1), -1.
    auto s1 = MakeSharpenMatrix(1.0f, 0.0f, GaussExponent, 1.23f);
    EXPECT_EQ(s1->Values[0], -1.0f);
    EXPECT_EQ(s1->Values[1], static_cast<float>(-static_cast<double>(1.23f) * -3.0));
    EXPECT_NEAR(s1->Divisor, 1.69f, 1e-6f);
    // Soften radius 1: 1.69^1 in the centre.
    auto f1 = MakeSoftenMatrix(1.0f, 0.0f, GaussExponent, 1.0f);
    EXPECT_EQ(f1->Values[0], 1.0f);
    EXPECT_NEAR(f1->Values[1], 1.69f, 1e-6f);
    // Sizes round the radius up: 0.1 and 1.0 give 3 taps, 1.1 and 2.5 more.
    EXPECT_EQ(MakeBoxMatrix(0.1f, 0.0f)->Width, 3);
    EXPECT_EQ(MakeBoxMatrix(1.0f, 0.0f)->Width, 3);
    EXPECT_EQ(MakeBoxMatrix(1.1f, 0.0f)->Width, 5);
    EXPECT_EQ(MakeGaussMatrix(2.5f, 0.0f, 1.69f, 1.0f)->Width, 7);
}

TEST(KernelBuilders, TwoDimensionalKernelsCutTheCorners)
{
    auto box = MakeBoxMatrix(1.1f, 0.1f);
    EXPECT_EQ(box->Width, 5);
    EXPECT_EQ(box->Height, 3);
    EXPECT_EQ(box->Divisor, 15.0f);
    // 3 x 3 gauss: corners at sqrt(2) > 1 are 0, edges at 1 weigh 1, the centre 2.
    auto g = MakeGaussMatrix(1.0f, 1.0f, GaussExponent, 1.0f);
    EXPECT_EQ(g->Values, (std::vector<float>{0, 1, 0, 1, 2, 1, 0, 1, 0}));
    EXPECT_EQ(g->Divisor, 6.0f);
    // Unequal radii: R = 2 everywhere, the disc cut by the 5 x 3 rectangle.
    auto u = MakeGaussMatrix(2.0f, 1.0f, GaussExponent, 1.0f);
    EXPECT_EQ(u->Width, 5);
    EXPECT_EQ(u->Height, 3);
    EXPECT_EQ(u->GetValue(0, 1), 1.0f);  // d = 2 = R
    EXPECT_EQ(u->GetValue(2, 0), 2.0f);  // d = 1
    EXPECT_EQ(u->GetValue(0, 0), 0.0f);  // d = sqrt(5) > 2
    EXPECT_GT(u->GetValue(1, 0), 1.0f);  // d = sqrt(2) <= 2
}

TEST_F(ConvolutionTest, PassesOnCraftedImages)
{
    auto box1 = MakeBoxMatrix(1.0f, 0.0f);
    // A one-pixel-wide region repeats the pixel: the value itself for a normalised kernel.
    TBmpHdr column;
    column.SetSize(1, 3, ColorHdr(0.3f, 0.6f, 0.9f, 0.25f));
    ConvolveRows(&column, box1.get(), MaxRectHdr);
    EXPECT_EQ(column.Pixels[1][0].R, ClampHdr(0.3f * 3.0f / 3.0f));
    EXPECT_EQ(column.Pixels[1][0].A, 0.25f);
    // A kernel of height 3 makes the one-row passes no-ops.
    TBmpHdr step = lumivex::test::GreyRow({0.0f, 0.0f, 1.0f, 1.0f}, 0.5f);
    const TBmpHdr before = Copy(step);
    TFilterMatrix tall(3, 3);
    ConvolveRows(&step, &tall, MaxRectHdr);
    ConvolveColumns(&step, &tall, MaxRectHdr);
    EXPECT_TRUE(SameBits(step, before));
    // 4.0 among 4.0 neighbours clamps to 1; the alpha of a step edge stays.
    TBmpHdr bright;
    bright.SetSize(5, 5, GrayHdr(4.0f, 0.75f));
    ConvolveMatrix(&bright, MakeBoxMatrix(1.0f, 1.0f).get(), MaxRectHdr);
    EXPECT_EQ(bright.Pixels[2][2].G, 1.0f);
    EXPECT_EQ(bright.Pixels[2][2].A, 0.75f);
    // Box blur of a step: (0 + 1 + 1) / 3 next to the edge, repeated edge pixels at the ends.
    ConvolveRows(&step, box1.get(), MaxRectHdr);
    EXPECT_EQ(step.Pixels[0][0].B, 0.0f);
    EXPECT_EQ(step.Pixels[0][1].B, 1.0f / 3.0f);
    EXPECT_EQ(step.Pixels[0][2].B, 2.0f / 3.0f);
    EXPECT_EQ(step.Pixels[0][3].B, 1.0f);
    EXPECT_EQ(step.Pixels[0][3].A, 0.5f);
}

TEST_F(ConvolutionTest, RegionIgnoresItsSurroundings)
{
    // A white frame around a black 4 x 3 region: the box blur of the region stays black and
    // the frame stays white, in all three passes.
    for (int pass = 0; pass < 3; ++pass) {
        TBmpHdr image;
        image.SetSize(8, 7, GrayHdr(1.0f, 1.0f));
        const TRect region{2, 2, 6, 5};
        FillRectHdr(GrayHdr(0.0f, 1.0f), &image, region, 1.0f);
        auto row = MakeBoxMatrix(2.0f, 0.0f);
        auto block = MakeBoxMatrix(2.0f, 2.0f);
        if (pass == 0)
            ConvolveRows(&image, row.get(), region);
        else if (pass == 1)
            ConvolveColumns(&image, row.get(), region);
        else
            ConvolveMatrix(&image, block.get(), region);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool inside = x >= 2 && x < 6 && y >= 2 && y < 5;
                EXPECT_EQ(image.Pixels[y][x].R, inside ? 0.0f : 1.0f)
                    << pass << " " << x << "," << y;
            }
    }
}

TEST_F(ConvolutionTest, MatrixLastRowUsesItsOwnUnfilteredCopy)
{
    // Rows 0.2, 0.4, 0.8 blurred vertically with 1-2-1: the last row sees 0.4, 0.8, 0.8.
    TBmpHdr image;
    image.SetSize(1, 3, clNoneHdr);
    const float rows[3] = {0.2f, 0.4f, 0.8f};
    for (int y = 0; y < 3; ++y)
        image.Pixels[y][0] = GrayHdr(rows[y], 1.0f);
    TFilterMatrix k(1, 3);
    k.Values = {1.0f, 2.0f, 1.0f};
    k.Divisor = 4.0f;
    ConvolveMatrix(&image, &k, MaxRectHdr);
    EXPECT_EQ(image.Pixels[0][0].G, ClampHdr((0.2f + 2.0f * 0.2f + 0.4f) / 4.0f));
    EXPECT_EQ(image.Pixels[1][0].G, ClampHdr((0.2f + 2.0f * 0.4f + 0.8f) / 4.0f));
    EXPECT_EQ(image.Pixels[2][0].G, ClampHdr((0.4f + 2.0f * 0.8f + 0.8f) / 4.0f));
}

TEST_F(ConvolutionTest, FilterGuardsAndClamps)
{
    TBmpHdr image = lumivex::test::SmoothImage();
    const TBmpHdr original = Copy(image);
    BlurFast(&image, MaxRectHdr, 0.0f);
    BlurFast(&image, MaxRectHdr, -1.0f);
    BlurFast(&image, MaxRectHdr, std::numeric_limits<float>::quiet_NaN());
    BlurFull(&image, MaxRectHdr, 0.0f, 0.0f);
    BlurFull(&image, MaxRectHdr, -1.0f, 2.0f);
    GaussBlurFull(&image, MaxRectHdr, std::numeric_limits<float>::quiet_NaN(), 1.0f, 0.0f);
    BlurFast(&image, TRect{100, 100, 200, 200}, 3.0f);  // outside the image
    BlurFast(nullptr, MaxRectHdr, 3.0f);
    EXPECT_TRUE(SameBits(image, original));

    // BlurFull(2, 0) is a 5 x 1 kernel: the same as the row pass alone.
    TBmpHdr rowsOnly = Copy(original);
    BlurFull(&image, MaxRectHdr, 2.0f, 0.0f);
    ConvolveRows(&rowsOnly, MakeBoxMatrix(2.0f, 0.0f).get(), MaxRectHdr);
    EXPECT_TRUE(SameBits(image, rowsOnly));

    // Constant regions keep values within 0..1 and clamp values above.
    for (const float value : {0.375f, 3.0f}) {
        TBmpHdr flat;
        flat.SetSize(9, 7, GrayHdr(value, 0.5f));
        const auto run = [&](int which) {
            switch (which) {
                case 0:
                    BlurFast(&flat, MaxRectHdr, 2.5f);
                    break;
                case 1:
                    BlurFull(&flat, MaxRectHdr, 2.0f, 1.0f);
                    break;
                case 2:
                    GaussBlurFast(&flat, MaxRectHdr, 3.0f, 0.5f);
                    break;
                case 3:
                    GaussBlurFull(&flat, MaxRectHdr, 2.0f, 2.0f, 0.2f);
                    break;
                case 4:
                    UnsharpMaskFast(&flat, MaxRectHdr, 1.0f, 0.0f);
                    break;
                case 5:
                    UnsharpMaskFull(&flat, MaxRectHdr, 2.0f, 2.0f, 1.0f);
                    break;
                case 6:
                    SoftenFast(&flat, MaxRectHdr, 2.0f, 0.3f);
                    break;
                default:
                    SoftenFull(&flat, MaxRectHdr, 1.5f, 1.5f, 0.0f);
                    break;
            }
        };
        for (int which = 0; which < 8; ++which) {
            run(which);
            const float expected = value > 1.0f ? 1.0f : value;
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x) {
                    EXPECT_NEAR(flat.Pixels[y][x].B, expected, 2e-6f) << which;
                    EXPECT_EQ(flat.Pixels[y][x].A, 0.5f);
                }
        }
    }
}

TEST_F(ConvolutionTest, SensitivityIsClampedAndUnsharpMaskSharpens)
{
    TBmpHdr a = lumivex::test::SmoothImage();
    TBmpHdr b = Copy(a);
    GaussBlurFast(&a, MaxRectHdr, 2.0f, 2.0f);
    GaussBlurFast(&b, MaxRectHdr, 2.0f, 1.0f);
    EXPECT_TRUE(SameBits(a, b));

    // 0.5 0.5 0.8 0.5 0.5 with -1 3.69 -1 / 1.69: the middle 0.8 + 0.6 / 1.69 clamps to 1, the
    // neighbours 0.5 - 0.3 / 1.69.
    TBmpHdr row = lumivex::test::GreyRow({0.5f, 0.5f, 0.8f, 0.5f, 0.5f}, 1.0f);
    ConvolveRows(&row, MakeSharpenMatrix(1.0f, 0.0f, GaussExponent, 1.23f).get(), MaxRectHdr);
    EXPECT_EQ(row.Pixels[0][2].R, 1.0f);
    EXPECT_NEAR(row.Pixels[0][1].R, 0.5f - 0.3f / 1.69f, 1e-6f);
    EXPECT_NEAR(row.Pixels[0][0].R, 0.5f, 1e-6f);
}

TEST_F(ConvolutionTest, MatchesTheSingleThreadedPassesBitForBit)
{
    std::vector<TBmpHdr> images;
    images.push_back(LoadTestImage("hdr/courtyard_256x128_float_zip.exr"));
    images.push_back(LoadTestImage("hdr/interior_200x100_float.tif"));
    images.push_back(LoadTestImage("hdr/synthetic_nan_inf_8x8_float.exr"));
    images.push_back(lumivex::test::SmoothImage());
    TBmpHdr thin;  // fewer rows than the kernel reaches, and bands smaller than it
    thin.SetSize(53, 11, clNoneHdr);
    CopyRectHdr(&images[0], TRect{0, 0, 53, 11}, &thin, 0, 0, MaxRectHdr);
    images.push_back(std::move(thin));
    const std::vector<std::shared_ptr<TFilterMatrix>> rowKernels = {
        MakeBoxMatrix(1.0f, 0.0f), MakeGaussMatrix(7.3f, 0.0f, GaussExponent, 4.0f),
        MakeSharpenMatrix(3.0f, 0.0f, GaussExponent, 1.73f),
        MakeSoftenMatrix(20.0f, 0.0f, GaussExponent, 1.0f)};
    const std::vector<std::shared_ptr<TFilterMatrix>> blockKernels = {
        MakeBoxMatrix(1.0f, 2.0f), MakeGaussMatrix(6.0f, 6.0f, GaussExponent, 1.0f),
        MakeSharpenMatrix(2.0f, 5.0f, GaussExponent, 1.5f),
        MakeSoftenMatrix(3.0f, 1.0f, GaussExponent, 7.0f)};
    const std::vector<TRect> rects = {MaxRectHdr, TRect{3, 2, 40, 9}, TRect{-4, 5, 30, 999}};
    for (const TBmpHdr& source : images)
        for (const TRect& rect : rects) {
            for (const auto& k : rowKernels) {
                TBmpHdr expectRows = Copy(source);
                TBmpHdr expectColumns = Copy(source);
                RefRows(expectRows, *k, rect);
                RefColumns(expectColumns, *k, rect);
                for (const int threads : {1, 2, 7}) {
                    SetThreadCount(threads);
                    TBmpHdr rows = Copy(source);
                    TBmpHdr columns = Copy(source);
                    ConvolveRows(&rows, k.get(), rect);
                    ConvolveColumns(&columns, k.get(), rect);
                    EXPECT_TRUE(SameBits(rows, expectRows)) << source.Width() << " " << threads;
                    EXPECT_TRUE(SameBits(columns, expectColumns))
                        << source.Width() << " " << threads;
                }
            }
            for (const auto& k : blockKernels) {
                TBmpHdr expect = Copy(source);
                RefMatrix(expect, *k, rect);
                for (const int threads : {1, 2, 7}) {
                    SetThreadCount(threads);
                    TBmpHdr matrix = Copy(source);
                    ConvolveMatrix(&matrix, k.get(), rect);
                    EXPECT_TRUE(SameBits(matrix, expect)) << source.Width() << " " << threads;
                }
            }
        }
}

TEST_F(ConvolutionTest, StepCallsComeInOrderAndAnAbortStopsThePass)
{
    ReportEveryStep();
    const TBmpHdr source = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    auto k = MakeGaussMatrix(4.0f, 4.0f, GaussExponent, 1.0f);
    // 100 rows: every step changes the percentage, so every step call reaches OnProgress.
    const TRect rect{0, 0, 256, 100};
    TBmpHdr full = Copy(source);
    RefMatrix(full, *k, rect);
    for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        std::vector<int> steps;
        OnProgress = [&](int stage, int percentage, int) {
            if (stage == psStep)
                steps.push_back(percentage);
        };
        TBmpHdr image = Copy(source);
        ConvolveMatrix(&image, k.get(), rect);
        EXPECT_TRUE(SameBits(image, full));
        EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
        EXPECT_EQ(steps.size(), 101u);  // 0..99 before the rows, 100 at the end

        // Abort from the report of step 39: row 39 still runs, row 40 does not.
        int calls = 0;
        OnProgress = [&](int stage, int, int) {
            if (stage == psStep && ++calls == 40)
                ProgressAborted = true;
        };
        image.Assign(&source);
        ConvolveMatrix(&image, k.get(), rect);
        int done = 0;
        for (int y = 0; y < 100; ++y) {
            const bool filtered = std::equal(
                image.Pixels[y].begin(), image.Pixels[y].end(), full.Pixels[y].begin(),
                [](const TColorHdr& a, const TColorHdr& b) {
                    return SameBits(a.R, b.R) && SameBits(a.G, b.G) && SameBits(a.B, b.B);
                });
            const bool untouched =
                std::memcmp(image.Pixels[y].data(), source.Pixels[y].data(), 256 * 16) == 0;
            EXPECT_TRUE(filtered || untouched) << y;
            if (filtered && !untouched)
                ++done;
            if (threads == 1) {
                EXPECT_EQ(filtered && !untouched, y < 40) << y;
            }
        }
        EXPECT_LT(done, 100);
        // The next pass of the same operation does nothing: its start call answers false too.
        const TBmpHdr stopped = Copy(image);
        ConvolveRows(&image, MakeBoxMatrix(2.0f, 0.0f).get(), MaxRectHdr);
        EXPECT_TRUE(SameBits(image, stopped));
        ProgressAborted = false;
    }
}

TEST_F(ConvolutionTest, AColumnPassAbortLeavesTheColumnsBeforeFiltered)
{
    ReportEveryStep();
    SetThreadCount(1);
    const TBmpHdr source = LoadTestImage("hdr/interior_200x100_float.tif");
    auto k = MakeGaussMatrix(3.0f, 0.0f, GaussExponent, 1.0f);
    const TRect rect{0, 0, 100, 100};  // one report per step
    TBmpHdr full = Copy(source);
    RefColumns(full, *k, rect);
    int calls = 0;
    OnProgress = [&](int stage, int, int) {
        if (stage == psStep && ++calls == 71)
            ProgressAborted = true;
    };
    TBmpHdr image = Copy(source);
    ConvolveColumns(&image, k.get(), rect);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            const TColorHdr& expect = x < 71 ? full.Pixels[y][x] : source.Pixels[y][x];
            ASSERT_EQ(std::memcmp(&image.Pixels[y][x], &expect, 16), 0) << x << "," << y;
        }
}

TEST_F(ConvolutionTest, ImpulseResponsesMirrorTheKernel)
{
    // out(x, y) sums w(i, j) * in(x + i, y + j), so an impulse at (3, 3) leaves the kernel
    // mirrored around it, divided by the divisor.
    TFilterMatrix k(3, 3);
    k.Values = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    k.Divisor = 64.0f;
    TBmpHdr image;
    image.SetSize(7, 7, GrayHdr(0.0f, 1.0f));
    image.Pixels[3][3] = GrayHdr(1.0f, 1.0f);
    ConvolveMatrix(&image, &k, MaxRectHdr);
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i)
            EXPECT_EQ(image.Pixels[3 - j][3 - i].G, k.GetValue(i + 1, j + 1) / 64.0f) << i << j;
    EXPECT_EQ(image.Pixels[0][0].G, 0.0f);

    TFilterMatrix row(3, 1);
    row.Values = {1, 2, 4};
    row.Divisor = 8.0f;
    TBmpHdr line = lumivex::test::GreyRow({0, 0, 1, 0, 0}, 1.0f);
    ConvolveRows(&line, &row, MaxRectHdr);
    EXPECT_EQ(line.Pixels[0][1].R, 0.5f);  // the weight of the right neighbour
    EXPECT_EQ(line.Pixels[0][3].R, 0.125f);
}

TEST_F(ConvolutionTest, FastBoxBlurAgreesWithTheFullOneWithinRange)
{
    // The Fast form applies the product kernel, which for the box is the Full box; only the
    // rounding of the intermediate pass differs (values stay within 0..1, so no clamp acts).
    const TBmpHdr source = LoadTestImage("hdr/synthetic_inrange_32x32_float.exr");
    for (const float r : {1.0f, 2.5f, 6.0f}) {
        TBmpHdr fast = Copy(source);
        TBmpHdr full = Copy(source);
        BlurFast(&fast, MaxRectHdr, r);
        BlurFull(&full, MaxRectHdr, r, r);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_NEAR(fast.Pixels[y][x].G, full.Pixels[y][x].G, 2e-6f) << r;
    }
}
