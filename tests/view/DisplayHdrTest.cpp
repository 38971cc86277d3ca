#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "TestData.h"
#include "adjust/HistogramHdr.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "io/IsolatedLoad.h"
#include "platform/Bitmap.h"
#include "view/DisplayHdr.h"

namespace lumivex {
namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// ---------------------------------------------------------------------------------------------
// The reference: the display rules written out one pixel after another on one thread.

std::uint8_t RefToByte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(std::nearbyint(v * 255.0f));
}

// A transparent pixel leaves the target; an opaque one is clipped and scaled; else each of
// B, G, R is d + (c - d) a on the 0..1 scale, rounded half to even and limited to 0..255.
void RefBlend(const TColorHdr& c, std::uint8_t* p, float opacity)
{
    if (!(c.A > 0.0f))
        return;
    const float a = c.A * opacity;
    if (a >= 1.0f) {
        p[0] = RefToByte(c.B);
        p[1] = RefToByte(c.G);
        p[2] = RefToByte(c.R);
        return;
    }
    const float channel[3] = {c.B, c.G, c.R};
    for (int k = 0; k < 3; ++k) {
        const float d = static_cast<float>(p[k]) / 255.0f;
        const float v = std::nearbyint(((channel[k] - d) * a + d) * 255.0f);
        p[k] = v >= 255.0f ? 255 : (v > 0.0f ? static_cast<std::uint8_t>(v) : 0);
    }
}

TRect Meet(TRect a, TRect b)
{
    return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                 std::min(a.Bottom, b.Bottom)};
}

void RefStretch(const TBmpHdr& image, TRect s, TBitmap& bitmap, TRect r, TRect c, float opacity)
{
    if (!(opacity > 0.0f) || image.IsEmpty() || bitmap.IsEmpty() ||
        bitmap.PixelFormat() != TPixelFormat::pf24bit)
        return;
    s = Meet(s, TRect{0, 0, image.Width(), image.Height()});
    if (s.IsEmpty())
        return;
    c = Meet(Meet(c, TRect{0, 0, bitmap.Width(), bitmap.Height()}), r);
    if (c.IsEmpty())
        return;
    const double sx = double(r.Right - r.Left) / double(s.Right - s.Left);
    const double sy = double(r.Bottom - r.Top) / double(s.Bottom - s.Top);
    for (int y = c.Top; y < c.Bottom; ++y)
        for (int x = c.Left; x < c.Right; ++x) {
            int u = 0;
            int v = 0;
            if (sx == 1.0 && sy == 1.0) {
                u = x - r.Left + s.Left;
                v = y - r.Top + s.Top;
            } else {
                u = std::min(static_cast<int>(std::nearbyint((x - r.Left) / sx + s.Left)),
                             s.Right - 1);
                v = std::min(static_cast<int>(std::nearbyint((y - r.Top) / sy + s.Top)),
                             s.Bottom - 1);
            }
            RefBlend(image.Pixels[v][u], bitmap.ScanLine(y) + x * 3, opacity);
        }
}

// ---------------------------------------------------------------------------------------------
// Test pictures

// Values below 0, above 1 and NaN; alpha 0, partial and full, so every branch of the blend runs.
TBmpHdr Crafted(int width, int height)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int k = (x * 7 + y * 13) % 17;
            const float alpha = k == 0 ? 0.0f : (k < 6 ? 0.0625f * static_cast<float>(k) : 1.0f);
            image.Pixels[y][x] = TColorHdr{static_cast<float>(x % 37) / 30.0f - 0.1f,
                                           static_cast<float>(y % 23) / 20.0f,
                                           k == 3 ? NaN : 1.7f - 0.01f * k, alpha};
        }
    return image;
}

// A ground that is not black, so blending shows.
TBitmap Ground(int width, int height)
{
    TBitmap bitmap(width, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < width * 3; ++x)
            p[x] = static_cast<std::uint8_t>((x * 31 + y * 17) & 255);
    }
    return bitmap;
}

bool SameBytes(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.BytesPerLine()) != 0)
            return false;
    return true;
}

// Column u has B = u / 255, row v has G = v / 255: the bytes name the source pixel.
TBmpHdr Coordinates(int width, int height)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] =
                BGRToColorHdr(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 0);
    return image;
}

class TThreads {
public:
    explicit TThreads(int count) { SetThreadCount(count); }
    ~TThreads() { SetThreadCount(0); }
    TThreads(const TThreads&) = delete;
    TThreads& operator=(const TThreads&) = delete;
};

// ---------------------------------------------------------------------------------------------
// StretchDrawHdrToBitmap

TEST(StretchDrawHdrToBitmap, DoublingRepeatsColumnsAsHalfToEvenRoundingSays)
{
    const TBmpHdr image = Coordinates(100, 100);
    TBitmap bitmap(200, 200, TPixelFormat::pf24bit);
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap, TRect{0, 0, 200, 200}, MaxRectHdr, 1.0f);
    const std::uint8_t* row = bitmap.ScanLine(0);
    // Screen column x shows Round(x / 2): 0, 0, 1, 2, 2, 2, 3, 4, 4, 4 ...
    const int expected[] = {0, 0, 1, 2, 2, 2, 3, 4, 4, 4};
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(row[x * 3], expected[x]) << x;
    EXPECT_EQ(row[199 * 3], 99);  // 99.5 rounds to 100, limited to 99
    // Source columns 0 .. 4 cover 2, 1, 3, 1, 3 screen columns.
    int cover[5] = {};
    for (int x = 0; x < 200; ++x)
        if (row[x * 3] < 5)
            ++cover[row[x * 3]];
    EXPECT_EQ(std::vector<int>(cover, cover + 5), (std::vector<int>{2, 1, 3, 1, 3}));
    for (int y = 0; y < 200; ++y)  // rows alike
        EXPECT_EQ(bitmap.ScanLine(y)[1], std::min<int>(std::nearbyint(y / 2.0), 99)) << y;
}

TEST(StretchDrawHdrToBitmap, ClipsValuesAndBlendsByAlpha)
{
    TBmpHdr image;
    image.SetSize(2, 1, clNoneHdr);
    image.Pixels[0][0] = TColorHdr{0.5f, 1.7f, -0.2f, 1.0f};
    image.Pixels[0][1] = TColorHdr{3.0f, 0.0f, 0.0f, 0.5f};
    TBitmap bitmap(6, 3, TPixelFormat::pf24bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 9; x < 18; ++x)
            bitmap.ScanLine(y)[x] = 255;  // right half white, left half black
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap, TRect{0, 0, 6, 3}, MaxRectHdr, 1.0f);
    const std::uint8_t* p = bitmap.ScanLine(1);
    EXPECT_EQ(p[0], 128);  // 127.5 to even
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 0);
    // Column 3 maps to Round(1.5) = 2, limited to 1: alpha 0.5 over white.
    EXPECT_EQ(p[9], 255);   // 3.0 over white: 382.5 limited to 255
    EXPECT_EQ(p[10], 128);  // 0.0 over white: 127.5 to the even 128
    EXPECT_EQ(p[11], 128);
}

TEST(StretchDrawHdrToBitmap, EqualSizesDrawAsTheOneToOneRoutine)
{
    const TBmpHdr image = Crafted(40, 30);
    for (const TRect clip : {TRect{-5, -5, 999, 999}, TRect{3, 7, 20, 11}}) {
        TBitmap stretched = Ground(50, 45);
        TBitmap direct = Ground(50, 45);
        const TRect src{5, 2, 35, 27};
        StretchDrawHdrToBitmap(&image, src, &stretched, TRect{-4, 6, 26, 31}, clip, 0.75f);
        DrawHdrToBitmap(&image, src, &direct, -4, 6, clip, 0.75f);
        EXPECT_TRUE(SameBytes(stretched, direct));
    }
}

TEST(StretchDrawHdrToBitmap, OddZoomsOffsetsAndEdgesMatchTheDefinition)
{
    const TBmpHdr image = Crafted(61, 47);
    struct TCase {
        TRect Src;
        TRect Dst;
        TRect Clip;
        float Opacity;
    };
    const TCase cases[] = {
        {MaxRectHdr, TRect{0, 0, 20, 15}, MaxRectHdr, 1.0f},        // about 1:3
        {MaxRectHdr, TRect{-37, -11, 160, 130}, MaxRectHdr, 1.0f},  // 3.2 x 3.0, off the edges
        {TRect{10, 5, 33, 40}, TRect{7, 3, 76, 73}, TRect{0, 0, 50, 40}, 1.0f},
        {TRect{-20, -20, 15, 12}, TRect{2, 1, 37, 60}, TRect{5, 10, 33, 999}, 0.5f},
        {TRect{50, 40, 99, 99}, TRect{0, 0, 73, 71}, MaxRectHdr, 1.0f},  // the bottom-right corner
        {MaxRectHdr, TRect{1, 1, 80, 2}, MaxRectHdr, 1.0f},              // one row
        {MaxRectHdr, TRect{-1000, -1000, 1500, 1400}, TRect{60, 40, 80, 70}, 0.3f},
    };
    for (const TCase& c : cases) {
        TBitmap actual = Ground(80, 70);
        TBitmap expected = Ground(80, 70);
        StretchDrawHdrToBitmap(&image, c.Src, &actual, c.Dst, c.Clip, c.Opacity);
        RefStretch(image, c.Src, expected, c.Dst, c.Clip, c.Opacity);
        EXPECT_TRUE(SameBytes(actual, expected))
            << c.Dst.Left << "," << c.Dst.Top << "," << c.Dst.Right << "," << c.Dst.Bottom;
    }
}

TEST(StretchDrawHdrToBitmap, BytesDoNotDependOnTheThreadCount)
{
    const TBmpHdr image = Crafted(600, 400);
    const TRect dsts[] = {TRect{-13, -7, 137, 93},         // 0.25
                          TRect{-300, -211, 720, 469},     // 1.7
                          TRect{-801, -403, 1599, 1197}};  // 4
    for (const TRect& dst : dsts) {
        TBitmap expected = Ground(500, 300);
        RefStretch(image, MaxRectHdr, expected, dst, MaxRectHdr, 1.0f);
        for (const int threads : {1, 2, 7}) {
            TThreads use(threads);
            TBitmap actual = Ground(500, 300);
            StretchDrawHdrToBitmap(&image, MaxRectHdr, &actual, dst, MaxRectHdr, 1.0f);
            EXPECT_TRUE(SameBytes(actual, expected)) << threads << " threads, " << dst.Right;
        }
    }
}

TEST(StretchDrawHdrToBitmap, RealPhotographMatchesTheDefinition)
{
    TBmpHdr image;
    TImageInfo info;
    ASSERT_TRUE(LoadImageFile(test::TestDataPath("ldr/bmp32_alpha_256x128.bmp"), &image, info));
    for (const float zoom : {0.333f, 1.5f, 7.0f}) {
        const TRect dst{-9, -5, ScaledExtent(image.Width(), zoom) - 9,
                        ScaledExtent(image.Height(), zoom) - 5};
        TBitmap expected = Ground(300, 200);
        RefStretch(image, MaxRectHdr, expected, dst, TRect{1, 2, 299, 197}, 1.0f);
        for (const int threads : {1, 7}) {
            TThreads use(threads);
            TBitmap actual = Ground(300, 200);
            StretchDrawHdrToBitmap(&image, MaxRectHdr, &actual, dst, TRect{1, 2, 299, 197}, 1.0f);
            EXPECT_TRUE(SameBytes(actual, expected)) << zoom << " " << threads;
        }
    }
}

TEST(StretchDrawHdrToBitmap, UnsuitableTargetsAndSourcesChangeNothing)
{
    const TBmpHdr image = Crafted(10, 10);
    TBitmap bitmap32(20, 20, TPixelFormat::pf32bit);
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap32, TRect{0, 0, 20, 20}, MaxRectHdr, 1.0f);
    for (int y = 0; y < 20; ++y)
        for (std::size_t x = 0; x < bitmap32.BytesPerLine(); ++x)
            ASSERT_EQ(bitmap32.ScanLine(y)[x], 0);

    const TBitmap ground = Ground(20, 20);
    TBitmap bitmap = Ground(20, 20);
    TBmpHdr empty;
    StretchDrawHdrToBitmap(&empty, MaxRectHdr, &bitmap, TRect{0, 0, 20, 20}, MaxRectHdr, 1.0f);
    StretchDrawHdrToBitmap(nullptr, MaxRectHdr, &bitmap, TRect{0, 0, 20, 20}, MaxRectHdr, 1.0f);
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap, TRect{0, 0, 20, 20}, MaxRectHdr, 0.0f);
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap, TRect{0, 0, 20, 20}, MaxRectHdr, NaN);
    StretchDrawHdrToBitmap(&image, TRect{10, 0, 20, 10}, &bitmap, TRect{0, 0, 20, 20}, MaxRectHdr,
                           1.0f);  // source outside the image
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap, TRect{20, 0, 5, 20}, MaxRectHdr,
                           1.0f);  // inverted destination
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &bitmap, TRect{0, 0, 20, 20}, TRect{25, 0, 30, 5},
                           1.0f);  // clip outside the bitmap
    StretchDrawHdrToBitmap(&image, MaxRectHdr, nullptr, TRect{0, 0, 20, 20}, MaxRectHdr, 1.0f);
    TBitmap none;
    StretchDrawHdrToBitmap(&image, MaxRectHdr, &none, TRect{0, 0, 20, 20}, MaxRectHdr, 1.0f);
    EXPECT_TRUE(SameBytes(bitmap, ground));
}

// ---------------------------------------------------------------------------------------------
// DrawCheckerboard and the rendered view

TEST(DrawCheckerboard, CellsFollowFloorDivisionAcrossZero)
{
    TBitmap bitmap = Ground(30, 20);
    const TBitmap ground = Ground(30, 20);
    // Origin (-13, -6): the image's corner sits at (13, 6) of the bitmap.
    DrawCheckerboard(&bitmap, -13, -6, TRect{2, 1, 28, 99}, 8, 5, CheckerColor1, 0x00102030);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
            if (x < 2 || x >= 28 || y < 1) {
                EXPECT_EQ(std::memcmp(p, ground.ScanLine(y) + x * 3, 3), 0) << x << "," << y;
                continue;
            }
            const int i = static_cast<int>(std::floor((x - 13) / 8.0));
            const int j = static_cast<int>(std::floor((y - 6) / 5.0));
            const bool first = ((i - j) % 2) == 0;
            EXPECT_EQ(p[0], first ? 195 : 0x10) << x << "," << y;  // $00BBGGRR
            EXPECT_EQ(p[1], first ? 195 : 0x20);
            EXPECT_EQ(p[2], first ? 195 : 0x30);
        }
    // The image's top-left cell is grey; the cell left of it colour 2.
    EXPECT_EQ(bitmap.ScanLine(6)[13 * 3], 195);
    EXPECT_EQ(bitmap.ScanLine(6)[12 * 3], 0x10);

    TBitmap untouched = Ground(4, 4);
    DrawCheckerboard(&untouched, 0, 0, MaxRectHdr, 0, 8, CheckerColor1, CheckerColor2);
    DrawCheckerboard(&untouched, 0, 0, MaxRectHdr, 8, -1, CheckerColor1, CheckerColor2);
    DrawCheckerboard(nullptr, 0, 0, MaxRectHdr, 8, 8, CheckerColor1, CheckerColor2);
    EXPECT_TRUE(SameBytes(untouched, Ground(4, 4)));
}

TEST(RenderImageToBitmap, ShowsTheCheckerboardUnderTransparency)
{
    TBmpHdr image;
    image.SetSize(20, 10, TColorHdr{0.0f, 0.0f, 0.0f, 0.0f});  // fully transparent ...
    image.Pixels[0][19] = TColorHdr{0.0f, 0.0f, 1.0f, 1.0f};   // ... but one red pixel
    image.Pixels[9][0] = TColorHdr{0.0f, 0.0f, 0.0f, 0.5f};    // and one half-black
    TBitmap bitmap;
    RenderImageToBitmap(&image, 2.0f, true, bitmap);
    ASSERT_EQ(bitmap.Width(), 40);
    ASSERT_EQ(bitmap.Height(), 20);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 195);           // top-left cell grey
    EXPECT_EQ(bitmap.ScanLine(0)[8 * 3], 255);       // next cell white
    EXPECT_EQ(bitmap.ScanLine(8)[8 * 3], 195);       // diagonal grey again
    EXPECT_EQ(bitmap.ScanLine(0)[39 * 3 + 2], 255);  // the red pixel, drawn over
    EXPECT_EQ(bitmap.ScanLine(0)[39 * 3], 0);
    // Half black over the grey cell at (0, 19): about 195 / 2.
    std::uint8_t grey[3] = {195, 195, 195};
    RefBlend(image.Pixels[9][0], grey, 1.0f);
    EXPECT_EQ(bitmap.ScanLine(19)[0], grey[0]);
    EXPECT_NEAR(grey[0], 97.5, 0.5);

    TBitmap plain;
    RenderImageToBitmap(&image, 2.0f, false, plain);
    EXPECT_EQ(plain.ScanLine(0)[0], 0);  // no checkerboard: black ground

    // The zoom is limited to 0.1 .. 16 and each side is at least one pixel.
    RenderImageToBitmap(&image, 100.0f, false, bitmap);
    EXPECT_EQ(bitmap.Width(), 320);
    RenderImageToBitmap(&image, 0.001f, false, bitmap);
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Height(), 1);
    TBmpHdr empty;
    RenderImageToBitmap(&empty, 1.0f, false, bitmap);
    EXPECT_TRUE(bitmap.IsEmpty());
}

TEST(ScaledExtent, RoundsHalfToEvenInDouble)
{
    EXPECT_EQ(ScaledExtent(5, 0.5f), 2);  // 2.5
    EXPECT_EQ(ScaledExtent(7, 0.5f), 4);  // 3.5
    EXPECT_EQ(ScaledExtent(4000, 0.198f), 792);
    EXPECT_EQ(ScaledExtent(6000, 0.25f), 1500);
    EXPECT_EQ(ScaledExtent(65535, 16.0f), 1048560);
}

// ---------------------------------------------------------------------------------------------
// Histogram pictures

// Sets the shared histograms to n bins with the given values of the luminosity bins.
void SetLuminosity(std::uint16_t n, const std::vector<std::pair<int, float>>& bins)
{
    SetHistogramBins(n);
    for (THistogram* h : {&HistLuminosity, &HistRed, &HistGreen, &HistBlue})
        std::fill(h->begin(), h->end(), 0.0f);
    for (const auto& [i, v] : bins)
        HistLuminosity[static_cast<std::size_t>(i) + 4] = v;
}

int BarHeight(const TBitmap& bitmap, int x, int bottom)
{
    int height = 0;
    while (height < bottom && bitmap.ScanLine(bottom - 1 - height)[x * 3] == 0 &&
           bitmap.ScanLine(bottom - 1 - height)[x * 3 + 1] == 0)
        ++height;
    return height;
}

TEST(DrawHistogram, BarsAreSquareRootsOfThePeakAndTheGridSitsAtQuarters)
{
    SetLuminosity(256, {{10, 40.0f}, {20, 10.0f}, {30, 0.0f}, {40, NaN}});
    TBitmap bitmap(260, 120, TPixelFormat::pf24bit);
    std::int32_t x = 1;
    std::int32_t y = 3;
    DrawHistogram(&bitmap, x, y, 0, 107);
    EXPECT_EQ(x, 257);
    EXPECT_EQ(y, 110);
    EXPECT_EQ(BarHeight(bitmap, 1 + 10, 110), 100);  // the peak: 107 - 7
    EXPECT_EQ(BarHeight(bitmap, 1 + 20, 110), 50);   // a quarter of it: sqrt 0.25
    EXPECT_EQ(BarHeight(bitmap, 1 + 30, 110), 0);
    EXPECT_EQ(BarHeight(bitmap, 1 + 40, 110), 0);
    // Grid lines at 1 + 256 k / 4, from 7 pixels below the top to the bottom.
    for (int gx = 0; gx < 260; ++gx) {
        const std::uint8_t* p = bitmap.ScanLine(3 + 7) + gx * 3;
        const bool grid = gx == 65 || gx == 129 || gx == 193;
        if (gx >= 1 && gx < 257 && gx != 11) {  // the peak bar reaches this row
            EXPECT_EQ(p[0], grid ? 222 : 255) << gx;
        }
        if (grid) {
            EXPECT_EQ(p[1], 205);
            EXPECT_EQ(p[2], 205);
            EXPECT_EQ(bitmap.ScanLine(3 + 6)[gx * 3 + 1], 255);  // the top 7 rows stay free
            EXPECT_EQ(bitmap.ScanLine(109)[gx * 3], 222);
        }
    }
    EXPECT_EQ(bitmap.ScanLine(2)[11 * 3], 0);    // nothing above the picture ...
    EXPECT_EQ(bitmap.ScanLine(110)[11 * 3], 0);  // ... or below it (black was the ground)
    EXPECT_EQ(bitmap.ScanLine(3)[0], 0);         // or left of it
}

TEST(DrawHistogram, EmptyHistogramDrawsGroundAndGridOnly)
{
    SetLuminosity(64, {});
    TBitmap bitmap(64, 30, TPixelFormat::pf24bit);
    std::int32_t x = 0;
    std::int32_t y = 0;
    DrawHistogram(&bitmap, x, y, 0, 30);
    for (int by = 0; by < 30; ++by)
        for (int bx = 0; bx < 64; ++bx) {
            const bool grid = by >= 7 && (bx == 16 || bx == 32 || bx == 48);
            EXPECT_EQ(bitmap.ScanLine(by)[bx * 3 + 1], grid ? 205 : 255) << bx << "," << by;
        }
}

TEST(DrawHistogram, ChannelsHaveTheirColoursAndSmallBitmapsClip)
{
    SetLuminosity(16, {});
    HistRed[4 + 2] = 1.0f;
    HistGreen[4 + 2] = 1.0f;
    HistBlue[4 + 2] = 1.0f;
    HistLuminosity[4 + 2] = 1.0f;
    struct TPen {
        std::uint8_t Channel;
        std::uint8_t B, G, R;
    };
    for (const TPen pen : {TPen{1, 0, 0, 255}, TPen{2, 0, 128, 0}, TPen{3, 255, 0, 0},
                           TPen{0, 0, 0, 0}, TPen{9, 0, 0, 0}}) {
        TBitmap bitmap(16, 20, TPixelFormat::pf24bit);
        std::int32_t x = 0;
        std::int32_t y = 0;
        DrawHistogram(&bitmap, x, y, pen.Channel, 20);
        const std::uint8_t* p = bitmap.ScanLine(19) + 2 * 3;
        EXPECT_EQ(p[0], pen.B) << int(pen.Channel);
        EXPECT_EQ(p[1], pen.G);
        EXPECT_EQ(p[2], pen.R);
        EXPECT_EQ(bitmap.ScanLine(7)[2 * 3 + 1], pen.G);  // 13 pixels tall: rows 7 .. 19
        EXPECT_EQ(bitmap.ScanLine(6)[2 * 3 + 1], 255);
    }
    // A picture that overhangs the bitmap and a height below the free band draw what fits.
    TBitmap small(5, 5, TPixelFormat::pf24bit);
    std::int32_t x = -3;
    std::int32_t y = 2;
    DrawHistogram(&small, x, y, 0, 4);
    EXPECT_EQ(x, 13);
    EXPECT_EQ(y, 6);
    EXPECT_EQ(small.ScanLine(2)[0], 255);
    EXPECT_EQ(small.ScanLine(1)[0], 0);
    TBitmap bitmap32(16, 16, TPixelFormat::pf32bit);
    x = 0;
    DrawHistogram(&bitmap32, x, y, 0, 16);
    EXPECT_EQ(x, 0);  // not drawn on, not moved
    EXPECT_EQ(bitmap32.ScanLine(0)[0], 0);
}

TEST(HistogramStatsLines, FormatsTwoDecimalsPerFlag)
{
    TBmpHdr image;
    image.SetSize(4, 1, GrayHdr(0.0f, 1.0f));
    image.Pixels[0][1] = GrayHdr(0.25f, 1.0f);
    image.Pixels[0][2] = GrayHdr(0.5f, 1.0f);
    image.Pixels[0][3] = GrayHdr(1.0f, 1.0f);
    SetHistogramBins(256);
    ComputeHistograms(&image, MaxRectHdr, 777);
    float mn = 0, mx = 0, avg = 0, med = 0;
    GetHistogramStats(0, mn, mx, avg, med);
    auto two = [](float v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(v));
        return std::string(buf);
    };
    const auto lines = HistogramStatsLines(3, 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Left, "Min : " + two(mn));
    EXPECT_EQ(lines[0].Left, "Min : 0.00");
    EXPECT_EQ(lines[0].Right, "Max : 1.00");
    EXPECT_EQ(lines[1].Left, "Avg : " + two(avg));
    EXPECT_EQ(lines[1].Right, "Med : " + two(med));
    EXPECT_EQ(HistogramStatsLines(2, 0).size(), 1u);
    EXPECT_EQ(HistogramStatsLines(2, 0)[0].Left.substr(0, 3), "Avg");
    EXPECT_TRUE(HistogramStatsLines(0, 0).empty());
    EXPECT_EQ(HistogramBinCount(), 256);
}

}  // namespace
}  // namespace lumivex
