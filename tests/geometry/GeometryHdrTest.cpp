#include <gtest/gtest.h>

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
#include "geometry/GeometryHdr.h"
#include "io/IsolatedLoad.h"

using namespace lumivex;
using lumivex::test::Copy;
using lumivex::test::LoadTestImage;
using lumivex::test::SameBits;
using lumivex::test::TestDataPath;

namespace {

// Every pixel different: B = x, G = y, R = 100 x + y, A = 0.5 (values above 1 on purpose).
TBmpHdr Numbered(int width, int height)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] = TColorHdr{static_cast<float>(x), static_cast<float>(y),
                                           static_cast<float>(100 * x + y), 0.5f};
    return image;
}

// The region of a loaded image at (x, y), for sources of awkward sizes.
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

TColorHdr ClampedColor(const TColorHdr& p)
{
    return TColorHdr{ClampHdr(p.B), ClampHdr(p.G), ClampHdr(p.R), ClampHdr(p.A)};
}

// Free rotation written straight from its definition, one manager lookup per pixel on one
// thread. It carries the two mends of the routine: exact sines and cosines at multiples of 90
// degrees, and with clamped edges (clNoneHdr) every pixel is sampled.
TBmpHdr RotateReference(const TBmpHdr& src, bool adjustSize, std::uint8_t interpolation,
                        const TColorHdr& background, float angle)
{
    TBmpHdr dst;
    if (angle == 0.0f) {
        dst.Assign(&src);
        return dst;
    }
    float cosT = 0.0f;
    float sinT = 0.0f;
    const double quarters = double{angle} / 90.0;
    if (quarters == std::floor(quarters)) {
        // -angle in quarter turns, 0..3
        const int k = ((static_cast<int>(-quarters) % 4) + 4) % 4;
        cosT = k == 0 ? 1.0f : (k == 2 ? -1.0f : 0.0f);
        sinT = k == 1 ? 1.0f : (k == 3 ? -1.0f : 0.0f);
    } else {
        const double theta = -double{angle} * std::numbers::pi / 180.0;
        cosT = static_cast<float>(std::cos(theta));
        sinT = static_cast<float>(std::sin(theta));
    }
    const int w = src.Width();
    const int h = src.Height();
    int newW = w;
    int newH = h;
    if (adjustSize) {
        newW = static_cast<int>(
            std::ceil(std::fabs(double(h) * double(sinT)) + std::fabs(double(w) * double(cosT))));
        newH = static_cast<int>(
            std::ceil(std::fabs(double(w) * double(sinT)) + std::fabs(double(h) * double(cosT))));
    }
    dst.SetSize(newW, newH, background);
    const float scx = static_cast<float>(w - 1) / 2.0f;
    const float scy = static_cast<float>(h - 1) / 2.0f;
    const float dcx = static_cast<float>(newW - 1) / 2.0f;
    const float dcy = static_cast<float>(newH - 1) / 2.0f;
    THdrManager manager(&src, MaxRectHdr);
    const bool clamp = SameColorHdr(background, clNoneHdr);
    if (clamp)
        manager.ClampEdges = true;
    else
        manager.Background = background;
    manager.SetInterpolation(interpolation);
    for (int y = 0; y < newH; ++y)
        for (int x = 0; x < newW; ++x) {
            const double dx = double(x) - double(dcx);
            const double dy = double(y) - double(dcy);
            const auto sx = static_cast<float>(dx * cosT - dy * sinT + scx);
            const auto sy = static_cast<float>(dx * sinT + dy * cosT + scy);
            if (clamp || manager.InSupport(sx, sy))
                dst.Pixels[y][x] = manager.GetPixel(sx, sy);
        }
    return dst;
}

using GeometryTest = lumivex::test::TProgressTest;

}  // namespace

TEST(FlipHorzHdr, MirrorsColumnsKeepsAnOddMiddleAndTwiceRestores)
{
    const TBmpHdr source = Numbered(5, 3);
    TBmpHdr image = Copy(source);
    FlipHorzHdr(&image, MaxRectHdr);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(Same(image.Pixels[y][x], source.Pixels[y][4 - x])) << x << "," << y;
    FlipHorzHdr(&image, MaxRectHdr);
    EXPECT_TRUE(SameBits(image, source));
    FlipHorzHdr(nullptr, MaxRectHdr);  // absent image: nothing happens
    TBmpHdr empty;
    FlipHorzHdr(&empty, MaxRectHdr);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(FlipHorzHdr, ChangesOnlyTheClippedRectangle)
{
    const TBmpHdr source = Numbered(6, 4);
    TBmpHdr image = Copy(source);
    FlipHorzHdr(&image, TRect{2, -7, 99, 2});  // x 2..5, y 0..1
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && y < 2;
            const int from = inside ? 2 + 5 - x : x;  // columns 2..5 mirrored
            EXPECT_TRUE(Same(image.Pixels[y][x], source.Pixels[y][from])) << x << "," << y;
        }
}

TEST(FlipVertHdr, MirrorsRowsWholeOrInARectangle)
{
    const TBmpHdr source = Numbered(4, 5);
    TBmpHdr image = Copy(source);
    FlipVertHdr(&image, MaxRectHdr);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_TRUE(Same(image.Pixels[y][x], source.Pixels[4 - y][x])) << x << "," << y;
    FlipVertHdr(&image, MaxRectHdr);
    EXPECT_TRUE(SameBits(image, source));

    image = Copy(source);
    FlipVertHdr(&image, TRect{1, 1, 3, 5});  // x 1..2, rows 1..4 mirrored
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool inside = x >= 1 && x < 3 && y >= 1;
            EXPECT_TRUE(Same(image.Pixels[y][x], source.Pixels[inside ? 5 - y : y][x]))
                << x << "," << y;
        }
}

TEST(Rotate180Hdr, EqualsBothFlipsAlsoOnOddHeightsAndInARectangle)
{
    for (const auto& [w, h] :
         {std::pair{5, 3}, std::pair{4, 4}, std::pair{1, 7}, std::pair{6, 1}}) {
        const TBmpHdr source = Numbered(w, h);
        TBmpHdr turned = Copy(source);
        Rotate180Hdr(&turned, MaxRectHdr);
        TBmpHdr flipped = Copy(source);
        FlipHorzHdr(&flipped, MaxRectHdr);
        FlipVertHdr(&flipped, MaxRectHdr);
        EXPECT_TRUE(SameBits(turned, flipped)) << w << "x" << h;
        EXPECT_TRUE(Same(turned.Pixels[0][0], source.Pixels[h - 1][w - 1]));
        Rotate180Hdr(&turned, MaxRectHdr);
        EXPECT_TRUE(SameBits(turned, source)) << w << "x" << h;
    }
    const TBmpHdr source = Numbered(6, 5);
    TBmpHdr turned = Copy(source);
    Rotate180Hdr(&turned, TRect{1, 1, 4, 4});  // 3 x 3 around (2, 2)
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 1 && y < 4;
            EXPECT_TRUE(Same(turned.Pixels[y][x],
                             inside ? source.Pixels[4 - y][4 - x] : source.Pixels[y][x]))
                << x << "," << y;
        }
    Rotate180Hdr(nullptr, MaxRectHdr);
}

TEST(Rotate90Hdr, TurnsThreeByTwoAndSwapsTheSize)
{
    const TBmpHdr source = Numbered(3, 2);
    TBmpHdr cw;
    Rotate90CWHdr(&source, &cw);
    ASSERT_EQ(cw.Width(), 2);
    ASSERT_EQ(cw.Height(), 3);
    EXPECT_TRUE(Same(cw.Pixels[0][1], source.Pixels[0][0]));  // top-left goes top-right
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_TRUE(Same(cw.Pixels[x][1 - y], source.Pixels[y][x])) << x << "," << y;
    TBmpHdr ccw;
    Rotate90CCWHdr(&source, &ccw);
    ASSERT_EQ(ccw.Width(), 2);
    ASSERT_EQ(ccw.Height(), 3);
    EXPECT_TRUE(Same(ccw.Pixels[2][0], source.Pixels[0][0]));  // top-left goes bottom-left
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_TRUE(Same(ccw.Pixels[2 - x][y], source.Pixels[y][x])) << x << "," << y;
}

TEST(Rotate90Hdr, FourTurnsOrATurnAndItsInverseRestoreTheImage)
{
    SetThreadCount(2);
    const TBmpHdr source = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    TBmpHdr a = Copy(source);
    TBmpHdr b;
    for (int i = 0; i < 2; ++i) {
        Rotate90CWHdr(&a, &b);
        Rotate90CWHdr(&b, &a);
    }
    EXPECT_TRUE(SameBits(a, source));
    Rotate90CWHdr(&source, &b);
    EXPECT_EQ(b.Width(), 128);
    EXPECT_EQ(b.Height(), 256);
    Rotate90CCWHdr(&b, &a);
    EXPECT_TRUE(SameBits(a, source));
    // Two clockwise turns are the 180-degree turn.
    Rotate90CWHdr(&source, &b);
    Rotate90CWHdr(&b, &a);
    TBmpHdr half = Copy(source);
    Rotate180Hdr(&half, MaxRectHdr);
    EXPECT_TRUE(SameBits(a, half));
    SetThreadCount(0);
}

TEST(Rotate90Hdr, AbsentEmptyAndSharedImages)
{
    const TBmpHdr source = Numbered(3, 2);
    TBmpHdr dst = Numbered(4, 4);
    Rotate90CWHdr(nullptr, &dst);  // nothing happens
    EXPECT_EQ(dst.Width(), 4);
    Rotate90CWHdr(&source, nullptr);
    TBmpHdr empty;
    Rotate90CCWHdr(&empty, &dst);  // dst is cleared, then left empty
    EXPECT_TRUE(dst.IsEmpty());
    // One image as source and destination: the turn reads a copy, not the cleared rows.
    TBmpHdr self = Copy(source);
    Rotate90CWHdr(&self, &self);
    TBmpHdr expected;
    Rotate90CWHdr(&source, &expected);
    EXPECT_TRUE(SameBits(self, expected));
    Rotate90CCWHdr(&self, &self);
    EXPECT_TRUE(SameBits(self, source));
}

TEST(Geometry, OnePixelIsUnchangedByAllFiveMoves)
{
    const TBmpHdr source = Numbered(1, 1);
    TBmpHdr image = Copy(source);
    FlipHorzHdr(&image, MaxRectHdr);
    FlipVertHdr(&image, MaxRectHdr);
    Rotate180Hdr(&image, MaxRectHdr);
    EXPECT_TRUE(SameBits(image, source));
    TBmpHdr turned;
    Rotate90CWHdr(&image, &turned);
    EXPECT_TRUE(SameBits(turned, source));
    Rotate90CCWHdr(&image, &turned);
    EXPECT_TRUE(SameBits(turned, source));
}

TEST(RotatedSize, BoundingBoxInSixtyFourBitsWithExactQuarterTurns)
{
    EXPECT_EQ(RotatedSize(400, 300, true, 90.0f).Width, 300);  // not 301: cos is exactly 0
    EXPECT_EQ(RotatedSize(400, 300, true, 90.0f).Height, 400);
    EXPECT_EQ(RotatedSize(400, 300, true, -270.0f).Width, 300);
    EXPECT_EQ(RotatedSize(400, 300, true, 180.0f).Width, 400);
    EXPECT_EQ(RotatedSize(400, 300, true, 360.0f).Height, 300);
    // 100 (cos 45 + sin 45) = 141.42...
    EXPECT_EQ(RotatedSize(100, 100, true, 45.0f).Width, 142);
    EXPECT_EQ(RotatedSize(100, 100, true, 45.0f).Height, 142);
    EXPECT_EQ(RotatedSize(400, 300, false, 33.0f).Width, 400);
    // 65535 x 65535 at 45 degrees: 2 x 65535 x float(cos 45) = 92680.48, so 92681 wide, which
    // a 16-bit size cannot hold.
    EXPECT_EQ(RotatedSize(65535, 65535, true, 45.0f).Width, 92681);
    EXPECT_EQ(RotatedSize(10, 10, true, std::numeric_limits<float>::quiet_NaN()).Width, 0);
    float c = 0.0f;
    float s = 0.0f;
    RotationCosSin(90.0f, c, s);  // theta = -90 degrees
    EXPECT_EQ(c, 0.0f);
    EXPECT_EQ(s, -1.0f);
    RotationCosSin(-90.0f, c, s);
    EXPECT_EQ(c, 0.0f);
    EXPECT_EQ(s, 1.0f);
    RotationCosSin(540.0f, c, s);
    EXPECT_EQ(c, -1.0f);
    EXPECT_EQ(s, 0.0f);
}

TEST_F(GeometryTest, RotateByZeroCopiesExactlyWhateverTheOptions)
{
    const TBmpHdr source = LoadTestImage("hdr/synthetic_nan_inf_8x8_float.exr");
    TBmpHdr dst = Numbered(3, 3);
    RotateHdr(&source, &dst, true, 2, ColorHdr(0.0f, 0.0f, 0.0f, 0.0f), 0.0f);
    EXPECT_TRUE(SameBits(dst, source));  // NaN, infinities and values above 1 survive
    TBmpHdr image = Copy(source);
    RotateHdrInPlace(&image, true, clNoneHdr, 4, 0.0f);
    EXPECT_TRUE(SameBits(image, source));
}

TEST_F(GeometryTest, RotateByQuarterTurnsMatchesTheExactTurns)
{
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr source = Crop(photo, 10, 5, 40, 30);  // 40 x 30, values above 1 included
    TBmpHdr cw;
    Rotate90CWHdr(&source, &cw);
    TBmpHdr ccw;
    Rotate90CCWHdr(&source, &ccw);
    TBmpHdr half = Copy(source);
    Rotate180Hdr(&half, MaxRectHdr);
    for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        TBmpHdr dst;
        RotateHdr(&source, &dst, true, 0, ColorHdr(1.0f, 0.0f, 0.0f, 1.0f), 90.0f);
        EXPECT_TRUE(SameBits(dst, cw));  // 30 x 40, nearest keeps every bit
        RotateHdr(&source, &dst, true, 0, ColorHdr(1.0f, 0.0f, 0.0f, 1.0f), -90.0f);
        EXPECT_TRUE(SameBits(dst, ccw));
        RotateHdr(&source, &dst, true, 0, ColorHdr(1.0f, 0.0f, 0.0f, 1.0f), 270.0f);
        EXPECT_TRUE(SameBits(dst, ccw));
        RotateHdr(&source, &dst, false, 0, ColorHdr(1.0f, 0.0f, 0.0f, 1.0f), 180.0f);
        EXPECT_TRUE(SameBits(dst, half));
        // Bilinear and the interpolating cubics sample exact pixel positions: the turned pixels
        // limited to 0..1. (Mitchell blurs even there.)
        for (const std::uint8_t mode : {1, 2, 4}) {
            RotateHdr(&source, &dst, true, mode, clNoneHdr, 90.0f);
            ASSERT_EQ(dst.Width(), 30);
            ASSERT_EQ(dst.Height(), 40);
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 30; ++x)
                    ASSERT_TRUE(Same(dst.Pixels[y][x], ClampedColor(cw.Pixels[y][x])))
                        << int{mode} << " " << x << "," << y;
        }
    }
    // The 400 x 300 case: pixel (x, y) samples the source at (y, 299 - x).
    const TBmpHdr big = Numbered(400, 300);
    TBmpHdr dst;
    RotateHdr(&big, &dst, true, 0, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), 90.0f);
    ASSERT_EQ(dst.Width(), 300);
    ASSERT_EQ(dst.Height(), 400);
    EXPECT_TRUE(Same(dst.Pixels[7][5], big.Pixels[299 - 5][7]));
}

TEST_F(GeometryTest, RotateFillsUncoveredCornersWithTheBackground)
{
    const TBmpHdr source = LoadTestImage("ldr/jpeg_baseline_q90_256x128.jpg");
    TBmpHdr dst;
    RotateHdr(&source, &dst, false, 2, ColorHdr(0.0f, 1.0f, 0.0f, 1.0f), -30.0f);
    ASSERT_EQ(dst.Width(), 256);  // the size stays, the corners are cut off
    ASSERT_EQ(dst.Height(), 128);
    const TColorHdr green = ColorHdr(0.0f, 1.0f, 0.0f, 1.0f);
    for (const auto& [x, y] :
         {std::pair{0, 0}, std::pair{255, 0}, std::pair{0, 127}, std::pair{255, 127}})
        EXPECT_TRUE(Same(dst.Pixels[y][x], green)) << x << "," << y;
    EXPECT_FALSE(Same(dst.Pixels[64][128], green));

    // A background of alpha 0 gives transparent corners; the picture stays opaque.
    RotateHdr(&source, &dst, true, 1, ColorHdr(0.2f, 0.3f, 0.4f, 0.0f), 45.0f);
    ASSERT_EQ(dst.Width(), 272);  // 256 cos 45 + 128 sin 45 = 271.5...
    EXPECT_EQ(dst.Pixels[0][0].A, 0.0f);
    EXPECT_EQ(dst.Pixels[dst.Height() - 1][dst.Width() - 1].A, 0.0f);
    EXPECT_EQ(dst.Pixels[dst.Height() / 2][dst.Width() / 2].A, 1.0f);
}

TEST_F(GeometryTest, RotateWithClampedEdgesSamplesTheWholeCanvas)
{
    const TBmpHdr source = Numbered(6, 4);
    // dst is the source's size already, so an unsampled pixel would keep its sentinel.
    TBmpHdr dst;
    dst.SetSize(6, 4, ColorHdr(-7.0f, -7.0f, -7.0f, -7.0f));
    RotateHdr(&source, &dst, false, 0, clNoneHdr, 30.0f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_NE(dst.Pixels[y][x].A, -7.0f) << x << "," << y;
    EXPECT_TRUE(SameBits(dst, RotateReference(source, false, 0, clNoneHdr, 30.0f)));
    // Outside the picture the nearest edge pixel repeats: the 45-degree canvas (8 x 8) corner
    // (0, 0) of a 6 x 4 image traces back to (-2.45, 1.5), left of column 0.
    RotateHdr(&source, &dst, true, 0, clNoneHdr, 45.0f);
    ASSERT_EQ(dst.Width(), 8);
    EXPECT_EQ(dst.Pixels[0][0].B, 0.0f);  // column 0
    EXPECT_EQ(dst.Pixels[0][0].A, 0.5f);
}

TEST_F(GeometryTest, RotateRefusesOversizedCanvasesAndBadAnglesWithoutTouchingDst)
{
    RecordSteps();
    // 65535 x 1 turned by a thousandth of a degree: cos rounds to 1 in float, so the canvas is
    // ceil(65535 + sin) = 65536 wide.
    TBmpHdr wide;
    wide.SetSize(65535, 1, GrayHdr(0.5f, 1.0f));
    EXPECT_EQ(RotatedSize(65535, 1, true, 0.001f).Width, 65536);
    const TBmpHdr before = Numbered(3, 2);
    TBmpHdr dst = Copy(before);
    int changes = 0;
    dst.OnChange = [&](TBmpHdr&) { ++changes; };
    RotateHdr(&wide, &dst, true, 1, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), 0.001f);
    EXPECT_TRUE(SameBits(dst, before));
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(IsProgressBusy());  // refused before any progress call
    EXPECT_TRUE(m_steps.empty());
    // Without adjustSize the canvas keeps the source size and the rotation runs.
    RotateHdr(&wide, &dst, false, 1, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), 0.001f);
    EXPECT_EQ(dst.Width(), 65535);
    EXPECT_GT(changes, 0);  // the size change reaches the kept OnChange hook

    dst = Copy(before);
    RotateHdr(&before, &dst, true, 1, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f),
              std::numeric_limits<float>::infinity());
    RotateHdr(&before, &dst, true, 1, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f),
              std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(SameBits(dst, before));
    RotateHdr(nullptr, &dst, true, 1, clNoneHdr, 10.0f);
    RotateHdr(&before, nullptr, true, 1, clNoneHdr, 10.0f);
    TBmpHdr empty;
    RotateHdr(&empty, &dst, true, 1, clNoneHdr, 10.0f);
    RotateHdrInPlace(&empty, true, clNoneHdr, 1, 10.0f);
    RotateHdrInPlace(nullptr, true, clNoneHdr, 1, 10.0f);
    EXPECT_TRUE(SameBits(dst, before));
}

TEST_F(GeometryTest, RotateMatchesTheReferenceOnRealImagesForOneTwoAndSevenThreads)
{
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr alpha = LoadTestImage("ldr/png_rgba8_partial_alpha_256x128.png");
    const std::vector<std::pair<std::string, TBmpHdr>> sources = [&] {
        std::vector<std::pair<std::string, TBmpHdr>> s;
        s.emplace_back("courtyard 97x61", Crop(photo, 20, 10, 97, 61));
        s.emplace_back("alpha 101x67", Crop(alpha, 40, 30, 101, 67));
        s.emplace_back("nan/inf", LoadTestImage("hdr/synthetic_nan_inf_8x8_float.exr"));
        s.emplace_back("1x1", Crop(photo, 100, 60, 1, 1));
        s.emplace_back("1x9", Crop(photo, 100, 60, 1, 9));
        s.emplace_back("2x9", Crop(photo, 100, 60, 2, 9));
        s.emplace_back("13x2", Crop(photo, 100, 60, 13, 2));
        return s;
    }();
    const TColorHdr backgrounds[] = {ColorHdr(1.0f, 1.0f, 1.0f, 1.0f),
                                     ColorHdr(0.1f, 0.2f, 0.3f, 0.0f), clNoneHdr};
    for (const auto& [name, source] : sources) {
        for (const float angle : {17.0f, -30.0f, 45.0f, 90.0f, 123.45f, -200.5f}) {
            for (std::uint8_t mode = 0; mode <= 5; ++mode) {  // 5: unknown, samples bilinearly
                for (int b = 0; b < 3; ++b) {
                    const bool adjust = (mode + b) % 2 == 0;
                    const TBmpHdr expected =
                        RotateReference(source, adjust, mode, backgrounds[b], angle);
                    for (const int threads : {1, 2, 7}) {
                        SetThreadCount(threads);
                        TBmpHdr dst;
                        RotateHdr(&source, &dst, adjust, mode, backgrounds[b], angle);
                        ASSERT_TRUE(SameBits(dst, expected))
                            << name << " angle " << angle << " mode " << int{mode} << " bg " << b
                            << " threads " << threads;
                    }
                }
            }
        }
    }
    // The whole photo once per interpolation, and in place the same as from a copy.
    for (std::uint8_t mode = 0; mode <= 4; ++mode) {
        const TBmpHdr expected = RotateReference(photo, true, mode, backgrounds[0], 17.0f);
        SetThreadCount(2);
        TBmpHdr dst;
        RotateHdr(&photo, &dst, true, mode, backgrounds[0], 17.0f);
        EXPECT_TRUE(SameBits(dst, expected)) << int{mode};
    }
    TBmpHdr image = Copy(photo);
    RotateHdrInPlace(&image, true, clNoneHdr, 3, 17.0f);
    EXPECT_TRUE(SameBits(image, RotateReference(photo, true, 3, clNoneHdr, 17.0f)));
    image = Copy(photo);
    RotateHdr(&image, &image, false, 2, ColorHdr(0.0f, 0.0f, 0.0f, 1.0f), -17.0f);
    EXPECT_TRUE(SameBits(
        image, RotateReference(photo, false, 2, ColorHdr(0.0f, 0.0f, 0.0f, 1.0f), -17.0f)));
}

TEST_F(GeometryTest, RotateOfOnePixelAndTinyImages)
{
    const TBmpHdr one = Numbered(1, 1);  // B 0, G 0, R 0, A 0.5
    TBmpHdr dst;
    // 1 x 1 at 45 degrees: ceil(sin 45 + cos 45) = 2, so a 2 x 2 canvas.
    RotateHdr(&one, &dst, true, 0, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), 45.0f);
    ASSERT_EQ(dst.Width(), 2);
    ASSERT_EQ(dst.Height(), 2);
    // Centre (0.5, 0.5): every canvas pixel traces back to about (0, +-0.707) or (+-0.707, 0),
    // outside the nearest-neighbour support (the pixel itself), so all show the background...
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(dst.Pixels[y][x].A, 1.0f) << x << "," << y;
    // ...while clamped edges give the one pixel everywhere.
    RotateHdr(&one, &dst, true, 0, clNoneHdr, 45.0f);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_TRUE(Same(dst.Pixels[y][x], one.Pixels[0][0])) << x << "," << y;
    RotateHdr(&one, &dst, false, 2, clNoneHdr, 10.0f);
    ASSERT_EQ(dst.Width(), 1);
    // At (0, 0) exactly the bicubic weights are 1 and zeros.
    EXPECT_EQ(dst.Pixels[0][0].A, 0.5f);
}

TEST_F(GeometryTest, RotateReportsOneStepPerRowAndStopsWhenRefused)
{
    const TBmpHdr photo = LoadTestImage("hdr/courtyard_256x128_float_zip.exr");
    const TBmpHdr source = Crop(photo, 0, 0, 120, 100);  // 100 rows: a step is one percent
    const TColorHdr bg = ColorHdr(0.0f, 0.0f, 1.0f, 1.0f);
    const TBmpHdr full = RotateReference(source, false, 2, bg, 20.0f);
    for (const int threads : {1, 2, 7}) {
        SetThreadCount(threads);
        RecordSteps();
        TBmpHdr dst;
        RotateHdr(&source, &dst, false, 2, bg, 20.0f);
        ASSERT_EQ(m_steps.size(), 101u) << threads;  // steps 0..99 in order, then the final 100
        for (int i = 0; i <= 100; ++i)
            EXPECT_EQ(m_steps[static_cast<std::size_t>(i)], i) << threads;
        EXPECT_FALSE(IsProgressBusy());
    }
    // Refused at row 41 on one thread: rows 0..40 rotated, the rest left as the background.
    SetThreadCount(1);
    RecordSteps(40);
    TBmpHdr dst;
    RotateHdr(&source, &dst, false, 2, bg, 20.0f);
    EndAbort();
    ASSERT_EQ(dst.Width(), 120);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_TRUE(Same(dst.Pixels[y][x], y <= 40 ? full.Pixels[y][x] : bg)) << x << "," << y;
    // With several bands every row is either done or background, and the call returns.
    SetThreadCount(7);
    RecordSteps(40);
    RotateHdr(&source, &dst, false, 2, bg, 20.0f);
    EndAbort();
    for (int y = 0; y < 100; ++y) {
        bool done = true;
        bool untouched = true;
        for (int x = 0; x < 120; ++x) {
            done = done && Same(dst.Pixels[y][x], full.Pixels[y][x]);
            untouched = untouched && Same(dst.Pixels[y][x], bg);
        }
        EXPECT_TRUE(done || untouched) << "row " << y;
    }
    // A refused start leaves dst alone.
    ProgressAborted = true;
    TBmpHdr untouched = Numbered(2, 2);
    RotateHdr(&source, &untouched, true, 2, bg, 20.0f);
    EndAbort();
    EXPECT_TRUE(SameBits(untouched, Numbered(2, 2)));
}
