#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "TestImages.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "platform/Bitmap.h"
#include "platform/SysColors.h"

using namespace lumivex;
using lumivex::test::SameBits;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();
const TColorHdr White{1.0f, 1.0f, 1.0f, 1.0f};

testing::AssertionResult SameColor(const TColorHdr& actual, const TColorHdr& expected)
{
    if (actual.B == expected.B && actual.G == expected.G && actual.R == expected.R &&
        actual.A == expected.A)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "got B " << actual.B << " G " << actual.G << " R " << actual.R << " A " << actual.A
           << ", expected B " << expected.B << " G " << expected.G << " R " << expected.R << " A "
           << expected.A;
}

// Exact and distinct in every channel, so a pixel from the wrong place shows: B = x, G = y,
// R = x + 10 y (above 1.0, so clamping would show too), A = (x + y) / 8.
TColorHdr PatternAt(int x, int y, float offset = 0.0f)
{
    return TColorHdr{static_cast<float>(x) + offset, static_cast<float>(y) + offset,
                     static_cast<float>(x + 10 * y) + offset, static_cast<float>(x + y) / 8.0f};
}

TBmpHdr PatternImage(int width, int height, float offset = 0.0f)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] = PatternAt(x, y, offset);
    return image;
}

TBmpHdr Snapshot(const TBmpHdr& image)
{
    TBmpHdr copy;
    copy.Assign(&image);
    return copy;
}

// The cubic kernels straight from their formulas, in double, to check the float sampler.
double BicubicRef(double d)
{
    return d < 1.0 ? (d * d - d - 1.0) * (d - 1.0) : -(d - 1.0) * (d - 2.0) * (d - 2.0);
}

double MitchellRef(double d)
{
    return d < 1.0 ? 7.0 * d * d * d / 6.0 - 2.0 * d * d + 8.0 / 9.0
                   : 2.0 * d * d - 10.0 * d / 3.0 - 7.0 * d * d * d / 18.0 + 16.0 / 9.0;
}

double LagrangeRef(double d)
{
    return d < 1.0 ? (d - 2.0) * 0.5 * (d + 1.0) * (d - 1.0)
                   : -(d - 3.0) * (d - 2.0) * (d - 1.0) / 6.0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The image model

TEST(TBmpHdr, StartsEmpty)
{
    TBmpHdr image;
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_TRUE(image.Pixels.empty());
    EXPECT_EQ(image.GetBounds(), TRect{});
    EXPECT_EQ(image.GetDataSize(), 0);
}

TEST(TBmpHdr, AllocatesZeroPixelsOnceBothSidesAreSet)
{
    TBmpHdr image;
    int changes = 0;
    int seenWidth = -1;
    int seenHeight = -1;
    image.OnChange = [&](TBmpHdr& sender) {
        ++changes;
        seenWidth = sender.Width();
        seenHeight = sender.Height();
    };
    EXPECT_TRUE(image.SetWidth(3));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seenWidth, 3);  // called after the change
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.Pixels.empty());  // nothing to hold while the height is 0

    EXPECT_TRUE(image.SetHeight(2));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(seenHeight, 2);
    EXPECT_FALSE(image.IsEmpty());
    ASSERT_EQ(image.Pixels.size(), 2u);
    for (const TRawHdr& row : image.Pixels) {
        ASSERT_EQ(row.size(), 3u);
        for (const TColorHdr& p : row)
            EXPECT_TRUE(SameColor(p, TColorHdr{0.0f, 0.0f, 0.0f, 0.0f}));
    }
    EXPECT_EQ(image.GetBounds(), (TRect{0, 0, 3, 2}));
    EXPECT_EQ(image.GetDataSize(), 96);  // 3 x 2 x 16

    // The same value again is no change at all.
    EXPECT_TRUE(image.SetWidth(3));
    EXPECT_TRUE(image.SetHeight(2));
    EXPECT_EQ(changes, 2);
}

TEST(TBmpHdr, SetWidthKeepsTheLeftPixelsAndAddsZeroOnes)
{
    TBmpHdr image = PatternImage(4, 2);
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    EXPECT_TRUE(image.SetWidth(2));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(image.SetWidth(5));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(image.Width(), 5);
    EXPECT_EQ(image.Height(), 2);
    for (int y = 0; y < 2; ++y) {
        ASSERT_EQ(image.Pixels[y].size(), 5u);
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(
                SameColor(image.Pixels[y][x], x < 2 ? PatternAt(x, y) : TColorHdr{0, 0, 0, 0}))
                << x << "," << y;
    }
}

TEST(TBmpHdr, SetHeightDropsBottomRowsAndAddsZeroRows)
{
    TBmpHdr image = PatternImage(3, 4);
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    EXPECT_TRUE(image.SetHeight(2));
    EXPECT_TRUE(image.SetHeight(4));
    EXPECT_EQ(changes, 2);
    ASSERT_EQ(image.Pixels.size(), 4u);
    for (int y = 0; y < 4; ++y) {
        ASSERT_EQ(image.Pixels[y].size(), 3u);
        for (int x = 0; x < 3; ++x)
            EXPECT_TRUE(
                SameColor(image.Pixels[y][x], y < 2 ? PatternAt(x, y) : TColorHdr{0, 0, 0, 0}))
                << x << "," << y;
    }
}

TEST(TBmpHdr, AZeroSideEmptiesTheImageUntilItIsSetAgain)
{
    TBmpHdr image = PatternImage(3, 2);
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    EXPECT_TRUE(image.SetWidth(0));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.Pixels.empty());
    EXPECT_EQ(image.Height(), 2);
    EXPECT_EQ(image.GetBounds(), TRect{});
    EXPECT_EQ(image.GetDataSize(), 0);

    // The old pixels are gone: the new ones are zero.
    EXPECT_TRUE(image.SetWidth(4));
    ASSERT_EQ(image.Pixels.size(), 2u);
    EXPECT_EQ(image.Pixels[1].size(), 4u);
    EXPECT_TRUE(SameColor(image.Pixels[1][1], TColorHdr{0, 0, 0, 0}));

    EXPECT_TRUE(image.SetHeight(0));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.SetHeight(1));
    ASSERT_EQ(image.Pixels.size(), 1u);
    EXPECT_EQ(image.Pixels[0].size(), 4u);
    EXPECT_EQ(changes, 4);
}

TEST(TBmpHdr, RefusesSidesThatDoNotFitSixteenBits)
{
    const TColorHdr color = ColorHdr(0.25f, 0.5f, 0.75f, 1.0f);
    TBmpHdr image;
    image.SetSize(3, 2, color);
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    // 65536 and 70000 would wrap to 0 and 4464 in a 16-bit field.
    for (const std::int64_t bad : {std::int64_t{65536}, std::int64_t{70000}, std::int64_t{-1}}) {
        EXPECT_FALSE(image.SetWidth(bad)) << bad;
        EXPECT_FALSE(image.SetHeight(bad)) << bad;
        EXPECT_FALSE(image.SetSize(bad, 2, GrayHdr(0.0f, 0.0f))) << bad;
        EXPECT_FALSE(image.SetSize(3, bad, GrayHdr(0.0f, 0.0f))) << bad;
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(image.Width(), 3);
    EXPECT_EQ(image.Height(), 2);
    for (const TRawHdr& row : image.Pixels)
        for (const TColorHdr& p : row)
            EXPECT_TRUE(SameColor(p, color));

    // The largest side is legal; 65535 x 2 x 16 bytes.
    EXPECT_TRUE(image.SetWidth(65535));
    EXPECT_EQ(image.Width(), 65535);
    EXPECT_EQ(image.Pixels[1].size(), 65535u);
    EXPECT_EQ(image.GetDataSize(), 2097120);

    EXPECT_TRUE(IsValidImageSize(1, 1));
    EXPECT_TRUE(IsValidImageSize(65535, 65535));
    EXPECT_FALSE(IsValidImageSize(0, 5));
    EXPECT_FALSE(IsValidImageSize(5, 0));
    EXPECT_FALSE(IsValidImageSize(65536, 1));
    EXPECT_FALSE(IsValidImageSize(1, 70000));
    EXPECT_FALSE(IsValidImageSize(-1, 1));
}

TEST(TBmpHdr, SetSizeResizesThenFillsUnlessTheColourIsNone)
{
    TBmpHdr image;
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    const TColorHdr first = ColorHdr(3.0f, -1.0f, 0.5f, 0.25f);
    EXPECT_TRUE(image.SetSize(3, 2, first));
    EXPECT_EQ(changes, 2);  // width, then height
    for (const TRawHdr& row : image.Pixels)
        for (const TColorHdr& p : row)
            EXPECT_TRUE(SameColor(p, first));

    // Same size: only the fill, and no change event.
    const TColorHdr second = GrayHdr(0.125f, 1.0f);
    EXPECT_TRUE(image.SetSize(3, 2, second));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(SameColor(image.Pixels[1][2], second));

    // clNoneHdr keeps the pixels; a colour that differs from it in alpha alone still fills.
    image.Pixels[0][0] = first;
    EXPECT_TRUE(image.SetSize(3, 2, clNoneHdr));
    EXPECT_TRUE(SameColor(image.Pixels[0][0], first));
    EXPECT_TRUE(SameColor(image.Pixels[0][1], second));
    const TColorHdr almostNone{-1.0f, -1.0f, -1.0f, -0.5f};
    EXPECT_TRUE(image.SetSize(3, 2, almostNone));
    EXPECT_TRUE(SameColor(image.Pixels[0][0], almostNone));

    // A new size starts from a cleared image: clNoneHdr then leaves zero pixels, not old ones.
    changes = 0;
    EXPECT_TRUE(image.SetSize(4, 2, clNoneHdr));
    EXPECT_EQ(changes, 2);
    ASSERT_EQ(image.Pixels.size(), 2u);
    for (const TRawHdr& row : image.Pixels) {
        ASSERT_EQ(row.size(), 4u);
        for (const TColorHdr& p : row)
            EXPECT_TRUE(SameColor(p, TColorHdr{0, 0, 0, 0}));
    }

    EXPECT_TRUE(image.SetSize(0, 0, first));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.Pixels.empty());
}

TEST(TBmpHdr, ClearEmptiesBothSidesWithoutCallingOnChange)
{
    TBmpHdr image = PatternImage(3, 2);
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    image.Clear();
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.Pixels.empty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);

    // An image emptied by a zero width still has a height, which Clear must drop as well.
    image.SetSize(5, 3, GrayHdr(0.5f, 1.0f));
    image.SetWidth(0);
    changes = 0;
    image.Clear();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    image.SetSize(5, 3, GrayHdr(0.5f, 1.0f));
    EXPECT_EQ(changes, 2);  // both sides change again
}

TEST(TBmpHdr, AssignCopiesEveryByteAndCallsOnChangeOnlyForANewSize)
{
    TBmpHdr source = PatternImage(5, 3);
    source.Pixels[0][0] = TColorHdr{NaN, -0.0f, Inf, -2.0f};
    source.Pixels[2][4] = TColorHdr{1e30f, -1e-40f, 0.0f, 7.0f};
    int sourceChanges = 0;
    source.OnChange = [&](TBmpHdr&) { ++sourceChanges; };

    TBmpHdr target = PatternImage(2, 2, 100.0f);
    int changes = 0;
    target.OnChange = [&](TBmpHdr&) { ++changes; };
    target.Assign(&source);
    EXPECT_EQ(changes, 2);  // width, then height
    EXPECT_TRUE(SameBits(target, source));
    EXPECT_EQ(sourceChanges, 0);

    // Same size: the pixels follow, the event stays silent, and the hook is still the target's.
    source.Pixels[1][1] = GrayHdr(-3.0f, 0.5f);
    target.Assign(&source);
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(SameBits(target, source));
    target.SetWidth(1);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(sourceChanges, 0);

    target.Assign(&target);  // itself: nothing happens
    EXPECT_EQ(target.Width(), 1);

    // One side equal still goes through Clear, so both sides report a change.
    TBmpHdr wide = PatternImage(5, 2);
    int wideChanges = 0;
    wide.OnChange = [&](TBmpHdr&) { ++wideChanges; };
    wide.Assign(&source);
    EXPECT_EQ(wideChanges, 2);
    EXPECT_TRUE(SameBits(wide, source));

    TBmpHdr empty;
    changes = 0;
    target.Assign(&empty);
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_EQ(target.Width(), 0);
    EXPECT_EQ(target.Height(), 0);
    target.Assign(&source);
    target.Assign(nullptr);
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_EQ(changes, 2);  // only the Assign from source; clearing is silent
}

TEST(Constants, HoldTheirValues)
{
    EXPECT_EQ(MaxRectHdr, (TRect{-99999, -99999, 99999, 99999}));
    EXPECT_TRUE(SameColor(clNoneHdr, TColorHdr{-1.0f, -1.0f, -1.0f, -1.0f}));
    EXPECT_EQ(MaxValueHdr, 100000.0f);
}

// ---------------------------------------------------------------------------------------------
// Raw region copies

TEST(CopyRectHdr, CopiesTheClippedSourceRegionToItsPlace)
{
    const TBmpHdr src = PatternImage(12, 12);
    const TColorHdr sentinel = GrayHdr(-7.0f, -7.0f);
    TBmpHdr dst;
    dst.SetSize(20, 20, sentinel);
    // (-5, -5, 10, 10) clips to the 10 x 10 block at (0, 0), which lands at (3, 4).
    CopyRectHdr(&src, TRect{-5, -5, 10, 10}, &dst, 3, 4, MaxRectHdr);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 3 && x < 13 && y >= 4 && y < 14;
            EXPECT_TRUE(SameColor(dst.Pixels[y][x], inside ? PatternAt(x - 3, y - 4) : sentinel))
                << x << "," << y;
        }
    }
}

TEST(CopyRectHdr, LimitsTheTargetToItsRegionAndBounds)
{
    const TBmpHdr src = PatternImage(4, 4);
    const TColorHdr sentinel = GrayHdr(-7.0f, -7.0f);
    TBmpHdr dst;
    dst.SetSize(6, 6, sentinel);
    // S = (1, 1, 4, 4), placed at (4, -1, 7, 2); with (0, 0, 5, 6) and the bounds D = (4, 0, 5, 2).
    CopyRectHdr(&src, TRect{1, 1, 4, 4}, &dst, 4, -1, TRect{0, 0, 5, 6});
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = x == 4 && y < 2;
            // dst(x, y) = src(x - 4 + 1, y + 1 + 1)
            EXPECT_TRUE(SameColor(dst.Pixels[y][x], inside ? PatternAt(x - 3, y + 2) : sentinel))
                << x << "," << y;
        }
    }

    // Placed up and to the left: src (2, 3) lands on dst (0, 0).
    dst.SetSize(6, 6, sentinel);
    CopyRectHdr(&src, MaxRectHdr, &dst, -2, -3, MaxRectHdr);
    EXPECT_TRUE(SameColor(dst.Pixels[0][0], PatternAt(2, 3)));
    EXPECT_TRUE(SameColor(dst.Pixels[0][1], PatternAt(3, 3)));
    EXPECT_TRUE(SameColor(dst.Pixels[0][2], sentinel));
    EXPECT_TRUE(SameColor(dst.Pixels[1][0], sentinel));

    // Absent, empty and disjoint cases change nothing.
    const TBmpHdr before = Snapshot(dst);
    TBmpHdr empty;
    CopyRectHdr(nullptr, MaxRectHdr, &dst, 0, 0, MaxRectHdr);
    CopyRectHdr(&empty, MaxRectHdr, &dst, 0, 0, MaxRectHdr);
    CopyRectHdr(&src, MaxRectHdr, nullptr, 0, 0, MaxRectHdr);
    CopyRectHdr(&src, MaxRectHdr, &empty, 0, 0, MaxRectHdr);
    CopyRectHdr(&src, TRect{4, 0, 8, 4}, &dst, 0, 0, MaxRectHdr);  // source region outside
    CopyRectHdr(&src, MaxRectHdr, &dst, 6, 0, MaxRectHdr);         // placed past the right
    CopyRectHdr(&src, MaxRectHdr, &dst, 0, 0, TRect{2, 2, 2, 5});  // empty target region
    EXPECT_TRUE(SameBits(dst, before));
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(CopyRectHdr, MovesOverlappingRegionsWithinOneImage)
{
    TBmpHdr image = PatternImage(5, 5);
    CopyRectHdr(&image, TRect{0, 0, 4, 4}, &image, 1, 1, MaxRectHdr);  // down and right
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(SameColor(image.Pixels[y][x],
                                  x >= 1 && y >= 1 ? PatternAt(x - 1, y - 1) : PatternAt(x, y)))
                << x << "," << y;

    image = PatternImage(5, 5);
    CopyRectHdr(&image, TRect{2, 0, 5, 3}, &image, 0, 2, MaxRectHdr);  // down and left
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(SameColor(image.Pixels[y][x],
                                  x < 3 && y >= 2 ? PatternAt(x + 2, y - 2) : PatternAt(x, y)))
                << x << "," << y;

    image = PatternImage(5, 5);
    CopyRectHdr(&image, TRect{1, 1, 5, 5}, &image, 0, 0, MaxRectHdr);  // up and left
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(SameColor(image.Pixels[y][x],
                                  x < 4 && y < 4 ? PatternAt(x + 1, y + 1) : PatternAt(x, y)))
                << x << "," << y;
}

TEST(ExchangeRectHdr, SwapsRegionsAndTwiceIsTheIdentity)
{
    TBmpHdr a = PatternImage(4, 3);
    TBmpHdr b = PatternImage(5, 5, 100.0f);
    const TBmpHdr a0 = Snapshot(a);
    const TBmpHdr b0 = Snapshot(b);
    // (2, 1, 4, 3) touches a's right and bottom edges; at (3, 3) it touches b's.
    ExchangeRectHdr(&a, TRect{2, 1, 4, 3}, &b, 3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_TRUE(SameColor(a.Pixels[y][x], x >= 2 && y >= 1 ? PatternAt(x + 1, y + 2, 100.0f)
                                                                   : PatternAt(x, y)))
                << x << "," << y;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(SameColor(b.Pixels[y][x], x >= 3 && y >= 3 ? PatternAt(x - 1, y - 2)
                                                                   : PatternAt(x, y, 100.0f)))
                << x << "," << y;
    ExchangeRectHdr(&a, TRect{2, 1, 4, 3}, &b, 3, 3);
    EXPECT_TRUE(SameBits(a, a0));
    EXPECT_TRUE(SameBits(b, b0));
}

TEST(ExchangeRectHdr, ChangesNothingUnlessTheRegionLiesInBothImages)
{
    TBmpHdr a = PatternImage(4, 3);
    TBmpHdr b = PatternImage(5, 5, 100.0f);
    const TBmpHdr a0 = Snapshot(a);
    const TBmpHdr b0 = Snapshot(b);
    TBmpHdr empty;
    ExchangeRectHdr(&a, TRect{2, 1, 5, 3}, &b, 0, 0);   // one pixel past a's right edge
    ExchangeRectHdr(&a, TRect{0, 1, 2, 4}, &b, 0, 0);   // one past a's bottom
    ExchangeRectHdr(&a, TRect{-1, 0, 1, 2}, &b, 0, 0);  // one past a's left
    ExchangeRectHdr(&a, TRect{0, 0, 2, 2}, &b, 4, 0);   // one past b's right
    ExchangeRectHdr(&a, TRect{0, 0, 2, 2}, &b, 0, 4);   // one past b's bottom
    ExchangeRectHdr(&a, TRect{0, 0, 2, 2}, &b, -1, 0);  // one past b's left
    ExchangeRectHdr(&a, TRect{1, 1, 1, 2}, &b, 0, 0);   // empty region
    ExchangeRectHdr(&a, TRect{2, 2, 1, 1}, &b, 0, 0);   // inverted region
    ExchangeRectHdr(&a, TRect{0, 0, 2, 2}, nullptr, 0, 0);
    ExchangeRectHdr(nullptr, TRect{0, 0, 2, 2}, &b, 0, 0);
    ExchangeRectHdr(&a, TRect{0, 0, 2, 2}, &empty, 0, 0);
    EXPECT_TRUE(SameBits(a, a0));
    EXPECT_TRUE(SameBits(b, b0));
}

// ---------------------------------------------------------------------------------------------
// Values and conversions

TEST(ColorHdr, TakesRedFirstAndStoresBlueFirst)
{
    const TColorHdr c = ColorHdr(1.0f, 2.0f, 3.0f, 4.0f);
    EXPECT_TRUE(SameColor(c, TColorHdr{3.0f, 2.0f, 1.0f, 4.0f}));
    EXPECT_TRUE(SameColor(GrayHdr(0.5f, 0.25f), TColorHdr{0.5f, 0.5f, 0.5f, 0.25f}));
    EXPECT_TRUE(SameColorHdr(c, TColorHdr{3.0f, 2.0f, 1.0f, 4.0f}));
    EXPECT_FALSE(SameColorHdr(c, TColorHdr{3.0f, 2.0f, 1.0f, std::nextafter(4.0f, 5.0f)}));
    EXPECT_FALSE(SameColorHdr(c, TColorHdr{std::nextafter(3.0f, 0.0f), 2.0f, 1.0f, 4.0f}));
    EXPECT_FALSE(SameColorHdr(c, TColorHdr{3.0f, 2.0f, 1.5f, 4.0f}));
}

TEST(ClampHdr, LimitsToZeroOneAndSendsNaNToZero)
{
    EXPECT_EQ(ClampHdr(NaN), 0.0f);
    EXPECT_EQ(ClampHdr(-Inf), 0.0f);
    EXPECT_EQ(ClampHdr(-1.0f), 0.0f);
    EXPECT_EQ(ClampHdr(0.0f), 0.0f);
    EXPECT_EQ(ClampHdr(1e-45f), 1e-45f);  // the smallest denormal is above 0
    EXPECT_EQ(ClampHdr(0.25f), 0.25f);
    EXPECT_EQ(ClampHdr(std::nextafter(1.0f, 0.0f)), std::nextafter(1.0f, 0.0f));
    EXPECT_EQ(ClampHdr(1.0f), 1.0f);
    EXPECT_EQ(ClampHdr(3.0f), 1.0f);
    EXPECT_EQ(ClampHdr(Inf), 1.0f);
}

TEST(FloatToByte, ClipsScalesAndRoundsHalfToEven)
{
    EXPECT_EQ(FloatToByte(NaN), 0);
    EXPECT_EQ(FloatToByte(-1.0f), 0);
    EXPECT_EQ(FloatToByte(0.0f), 0);
    EXPECT_EQ(FloatToByte(1.0f), 255);
    EXPECT_EQ(FloatToByte(2.0f), 255);
    EXPECT_EQ(FloatToByte(Inf), 255);
    EXPECT_EQ(FloatToByte(std::nextafter(1.0f, 0.0f)), 255);  // 254.99998
    EXPECT_EQ(FloatToByte(0.2f), 51);                         // 51.000001
    // Floats whose product with 255.0f is exactly a half in float arithmetic (found by
    // multiplying float32 candidates near (k + 0.5) / 255 outside this program):
    EXPECT_EQ(FloatToByte(0.5f), 128);            // 127.5 -> 128
    EXPECT_EQ(FloatToByte(0x1.fbfbfcp-2f), 126);  // 126.5 -> 126, not 127
    EXPECT_EQ(FloatToByte(0x1.010102p-9f), 0);    // 0.5 -> 0, not 1
    EXPECT_EQ(FloatToByte(0x1.818182p-8f), 2);    // 1.5 -> 2
    EXPECT_EQ(FloatToByte(0x1.414142p-7f), 2);    // 2.5 -> 2, not 3
    EXPECT_EQ(FloatToByte(0x1.fefefep-1f), 254);  // 254.5 -> 254, not 255
    // Every byte survives the trip through a float.
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(FloatToByte(BGRToColorHdr(static_cast<std::uint8_t>(k), 0, 0).B), k) << k;
}

TEST(BGRAToColorHdr, DividesEachByteBy255)
{
    // k / 255 for these bytes is a short fraction, and the correctly rounded float of a
    // fraction does not depend on how it is written.
    EXPECT_TRUE(
        SameColor(BGRAToColorHdr(0, 51, 85, 255), TColorHdr{0.0f, 0.2f, 1.0f / 3.0f, 1.0f}));
    EXPECT_TRUE(
        SameColor(BGRAToColorHdr(255, 17, 0, 102), TColorHdr{1.0f, 1.0f / 15.0f, 0.0f, 0.4f}));
    EXPECT_TRUE(SameColor(BGRToColorHdr(153, 204, 0), TColorHdr{0.6f, 0.8f, 0.0f, 1.0f}));
    EXPECT_TRUE(SameColor(BGRToColorHdr(0, 0, 0), TColorHdr{0.0f, 0.0f, 0.0f, 1.0f}));
}

// The table gives the quotients the divisions give, for every byte in every channel, with 3 and
// 4 bytes a pixel, alpha read or not.
TEST(RowBytesToHdr, EqualsThePixelConversionsForEveryByte)
{
    for (const int step : {3, 4})
        for (const bool withAlpha : {false, true}) {
            if (withAlpha && step == 3)
                continue;
            constexpr std::size_t Count = 257;  // odd, and every value in every channel
            std::vector<std::uint8_t> bytes(Count * static_cast<std::size_t>(step));
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                const std::size_t x = i / static_cast<std::size_t>(step);
                const std::size_t channel = i % static_cast<std::size_t>(step);
                bytes[i] = static_cast<std::uint8_t>(x + 85 * channel);
            }
            std::vector<TColorHdr> row(Count);
            RowBytesToHdr(bytes.data(), Count, step, withAlpha, row.data());
            for (std::size_t x = 0; x < Count; ++x) {
                const std::uint8_t* s = &bytes[x * static_cast<std::size_t>(step)];
                const TColorHdr expected = withAlpha ? BGRAToColorHdr(s[0], s[1], s[2], s[3])
                                                     : BGRToColorHdr(s[0], s[1], s[2]);
                EXPECT_TRUE(SameColor(row[x], expected)) << step << " " << withAlpha << " " << x;
            }
        }
}

TEST(ColorHdrToBGR, WritesThreeBytesInBlueFirstOrder)
{
    std::uint8_t bytes[4] = {9, 9, 9, 77};
    ColorHdrToBGR(TColorHdr{0.5f, 1.7f, -0.2f, 0.3f}, bytes);
    EXPECT_EQ(bytes[0], 128);
    EXPECT_EQ(bytes[1], 255);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 77);  // alpha is not written
}

// Rows convert to the bytes of ColorHdrToBGR and FloatToByte pixel by pixel, with or without
// alpha, for every length (the tails of the several-pixel steps) and for values of every kind:
// the rounding halves, NaN, infinities, negative zero, denormals and random bit patterns.
TEST(RowHdrToBytes, WritesWhatThePixelConversionWritesAndNothingBeyond)
{
    std::vector<float> values = {NaN,
                                 -NaN,
                                 Inf,
                                 -Inf,
                                 0.0f,
                                 -0.0f,
                                 1e-45f,
                                 -1e-45f,
                                 0.5f,
                                 1.0f,
                                 std::nextafter(1.0f, 0.0f),
                                 2.0f,
                                 0.2f,
                                 -1.0f,
                                 0x1.fbfbfcp-2f,
                                 0x1.010102p-9f,
                                 0x1.818182p-8f,
                                 0x1.414142p-7f,
                                 0x1.fefefep-1f};
    std::mt19937 random(20261211);
    for (int i = 0; i < 4000; ++i) {
        const std::uint32_t bits = random();
        float v = 0.0f;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(i % 2 == 0 ? v : static_cast<float>(random() % 300000) / 256000.0f);
    }
    std::vector<TColorHdr> row;
    for (std::size_t i = 0; i + 4 <= values.size(); i += 3)  // each value in every channel
        row.push_back(TColorHdr{values[i], values[i + 1], values[i + 2], values[i + 3]});
    for (const bool alpha : {false, true}) {
        const std::size_t size = alpha ? 4 : 3;
        for (std::size_t count = 0; count <= row.size(); count += count < 12 ? 1 : 97) {
            std::vector<std::uint8_t> out(count * size + 8, 0xA5);
            RowHdrToBytes(row.data(), count, out.data(), alpha);
            for (std::size_t x = 0; x < count; ++x) {
                std::uint8_t want[4] = {0, 0, 0, 0};
                ColorHdrToBGR(row[x], want);
                want[3] = FloatToByte(row[x].A);
                ASSERT_EQ(std::memcmp(&out[x * size], want, size), 0)
                    << "pixel " << x << " of " << count << (alpha ? " with alpha" : "");
            }
            for (std::size_t i = count * size; i < out.size(); ++i)
                ASSERT_EQ(out[i], 0xA5) << "written beyond " << count << " pixels";
        }
    }
}

TEST(ColorToColorHdr, ReadsRedFromTheLowByteAndResolvesSystemColours)
{
    EXPECT_TRUE(SameColor(ColorToColorHdr(0x0000FF), TColorHdr{0.0f, 0.0f, 1.0f, 1.0f}));
    // $00BBGGRR = $336699: R 0x99 = 153 = 0.6 x 255, G 0x66 = 102, B 0x33 = 51.
    EXPECT_TRUE(SameColor(ColorToColorHdr(0x336699), TColorHdr{0.2f, 0.4f, 0.6f, 1.0f}));
    EXPECT_TRUE(SameColor(ColorToColorHdr(0xFF0000), TColorHdr{1.0f, 0.0f, 0.0f, 1.0f}));

    ASSERT_EQ(GetSysColor(ColorHighlight), 0xD77800);  // the default table
    // R 0x00, G 0x78 = 120 = 8/17 x 255, B 0xD7 = 215 = 43/51 x 255.
    EXPECT_TRUE(SameColor(ColorToColorHdr(SystemColorFlag | ColorHighlight),
                          TColorHdr{43.0f / 51.0f, 8.0f / 17.0f, 0.0f, 1.0f}));
    ASSERT_EQ(GetSysColor(ColorWindow), 0xFFFFFF);
    EXPECT_TRUE(SameColor(ColorToColorHdr(SystemColorFlag | ColorWindow), White));
    // Only the low byte is the index: 0xFFFFFF05 is window white too.
    EXPECT_TRUE(SameColor(ColorToColorHdr(static_cast<TColor>(0xFFFFFF05u)), White));
    // Index 0 is unused, 255 out of the table: both black.
    const TColorHdr black{0.0f, 0.0f, 0.0f, 1.0f};
    EXPECT_TRUE(SameColor(ColorToColorHdr(SystemColorFlag), black));
    EXPECT_TRUE(SameColor(ColorToColorHdr(static_cast<TColor>(0x800000FFu)), black));
}

// ---------------------------------------------------------------------------------------------
// Statistics and normalisation

TEST(GetMinMax, SearchesBGRButNeverAlphaAndSkipsNaN)
{
    TBmpHdr image;
    image.SetSize(3, 2, TColorHdr{0.5f, 0.5f, 0.5f, 0.5f});
    image.Pixels[0][0] = TColorHdr{NaN, 2.0f, -0.25f, -50.0f};
    image.Pixels[1][2] = TColorHdr{NaN, NaN, 4.0f, 50.0f};
    float minimum = 0.0f;
    float maximum = 0.0f;
    image.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_EQ(minimum, -0.25f);
    EXPECT_EQ(maximum, 4.0f);

    image.GetMinMax(minimum, maximum, TRect{1, 0, 3, 1});  // only plain pixels
    EXPECT_EQ(minimum, 0.5f);
    EXPECT_EQ(maximum, 0.5f);

    // No pixel: the start values.
    image.GetMinMax(minimum, maximum, TRect{3, 0, 9, 9});
    EXPECT_EQ(minimum, 100000.0f);
    EXPECT_EQ(maximum, -100000.0f);
    TBmpHdr empty;
    empty.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_EQ(minimum, 100000.0f);
    EXPECT_EQ(maximum, -100000.0f);

    // Values beyond the start values never replace them from the wrong side.
    image.SetSize(2, 1, GrayHdr(200000.0f, 1.0f));
    image.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_EQ(minimum, 100000.0f);
    EXPECT_EQ(maximum, 200000.0f);
}

TEST(GetMinMax, AnAllNaNRegionKeepsTheStartValues)
{
    TBmpHdr image;
    image.SetSize(4, 2, TColorHdr{NaN, NaN, NaN, 0.5f});
    float minimum = 0.0f;
    float maximum = 0.0f;
    image.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_EQ(minimum, 100000.0f);
    EXPECT_EQ(maximum, -100000.0f);

    // A channel that is NaN everywhere keeps its start values while the others are found.
    image.SetSize(4, 2, TColorHdr{NaN, 0.25f, -3.0f, 0.5f});
    image.Pixels[1][3].G = 0.75f;
    float minB, maxB, minG, maxG, minR, maxR;
    image.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, MaxRectHdr);
    EXPECT_EQ(minB, 100000.0f);
    EXPECT_EQ(maxB, -100000.0f);
    EXPECT_EQ(minG, 0.25f);
    EXPECT_EQ(maxG, 0.75f);
    EXPECT_EQ(minR, -3.0f);
    EXPECT_EQ(maxR, -3.0f);
}

TEST(GetMinMax, KeepsTheFirstOfEqualZerosInVisitingOrder)
{
    // Rows, then columns, then B, G, R of each pixel: -0.0 in R of the first pixel comes before
    // 0.0 in B of the second, though B is the earlier channel.
    TBmpHdr image;
    image.SetSize(2, 1, GrayHdr(1.0f, 1.0f));
    image.Pixels[0][0].R = -0.0f;
    image.Pixels[0][1].B = 0.0f;
    float minimum = 0.0f;
    float maximum = 0.0f;
    image.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_EQ(minimum, 0.0f);
    EXPECT_TRUE(std::signbit(minimum));

    image.Pixels[0][0].R = 0.0f;
    image.Pixels[0][1].B = -0.0f;
    image.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_FALSE(std::signbit(minimum));

    image.SetSize(2, 1, GrayHdr(-1.0f, 1.0f));
    image.Pixels[0][0].G = -0.0f;
    image.Pixels[0][1].B = 0.0f;
    image.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_EQ(maximum, 0.0f);
    EXPECT_TRUE(std::signbit(maximum));
}

TEST(GetChannelMinMax, ReportsEachChannelInBlueFirstOrder)
{
    TBmpHdr image;
    image.SetSize(3, 3, TColorHdr{0.5f, 0.5f, 0.5f, 9.0f});
    image.Pixels[0][0] = TColorHdr{-1.0f, 2.0f, 0.5f, -9.0f};
    image.Pixels[2][1] = TColorHdr{3.0f, -2.0f, 0.25f, 9.0f};
    image.Pixels[1][2] = TColorHdr{0.5f, NaN, 8.0f, 9.0f};
    float minB, maxB, minG, maxG, minR, maxR;
    image.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, MaxRectHdr);
    EXPECT_EQ(minB, -1.0f);
    EXPECT_EQ(maxB, 3.0f);
    EXPECT_EQ(minG, -2.0f);
    EXPECT_EQ(maxG, 2.0f);
    EXPECT_EQ(minR, 0.25f);
    EXPECT_EQ(maxR, 8.0f);

    image.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, TRect{1, 0, 3, 2});
    EXPECT_EQ(minB, 0.5f);
    EXPECT_EQ(maxB, 0.5f);
    EXPECT_EQ(maxR, 8.0f);

    TBmpHdr empty;
    empty.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, MaxRectHdr);
    EXPECT_EQ(minB, 100000.0f);
    EXPECT_EQ(minG, 100000.0f);
    EXPECT_EQ(minR, 100000.0f);
    EXPECT_EQ(maxB, -100000.0f);
    EXPECT_EQ(maxG, -100000.0f);
    EXPECT_EQ(maxR, -100000.0f);
}

TEST(ShiftToPositive, SubtractsTheRegionsNegativeMinimumFromBGR)
{
    TBmpHdr image;
    image.SetSize(3, 2, TColorHdr{0.5f, 1.0f, 3.0f, -4.0f});
    image.Pixels[0][1].G = -2.0f;
    image.Pixels[1][0].B = -10.0f;  // outside the region, so not its minimum
    image.ShiftToPositive(TRect{1, 0, 3, 2});
    EXPECT_TRUE(SameColor(image.Pixels[0][1], TColorHdr{2.5f, 0.0f, 5.0f, -4.0f}));
    EXPECT_TRUE(SameColor(image.Pixels[1][2], TColorHdr{2.5f, 3.0f, 5.0f, -4.0f}));
    EXPECT_TRUE(SameColor(image.Pixels[0][0], TColorHdr{0.5f, 1.0f, 3.0f, -4.0f}));
    EXPECT_TRUE(SameColor(image.Pixels[1][0], TColorHdr{-10.0f, 1.0f, 3.0f, -4.0f}));

    // A minimum of 0 or more changes nothing.
    const TBmpHdr before = Snapshot(image);
    image.ShiftToPositive(TRect{1, 0, 3, 2});
    EXPECT_TRUE(SameBits(image, before));
    image.ShiftToPositive(TRect{0, 0, 0, 0});
    EXPECT_TRUE(SameBits(image, before));
}

TEST(Normalize, StretchesBGRToZeroOneAndKeepsAlpha)
{
    TBmpHdr image;
    image.SetSize(2, 2, TColorHdr{1.0f, 0.0f, -1.0f, 7.0f});
    image.Pixels[1][1] = TColorHdr{3.0f, NaN, 2.0f, -7.0f};
    image.Normalize(MaxRectHdr);
    // min -1, max 3, range 4: v -> (v + 1) / 4, exact for these values.
    EXPECT_TRUE(SameColor(image.Pixels[0][0], TColorHdr{0.5f, 0.25f, 0.0f, 7.0f}));
    const TColorHdr p = image.Pixels[1][1];
    EXPECT_EQ(p.B, 1.0f);
    EXPECT_TRUE(std::isnan(p.G));
    EXPECT_EQ(p.R, 0.75f);
    EXPECT_EQ(p.A, -7.0f);

    // Only the region, with the region's own range: 0.5 .. 1.0 there.
    image.Normalize(TRect{0, 0, 1, 1});
    EXPECT_TRUE(SameColor(image.Pixels[0][0], TColorHdr{1.0f, 0.5f, 0.0f, 7.0f}));
    EXPECT_TRUE(SameColor(image.Pixels[0][1], TColorHdr{0.5f, 0.25f, 0.0f, 7.0f}));
}

TEST(Normalize, LeavesAZeroOrNonFiniteRangeAlone)
{
    TBmpHdr image;
    image.SetSize(3, 1, GrayHdr(0.7f, 1.0f));  // range 0
    TBmpHdr before = Snapshot(image);
    image.Normalize(MaxRectHdr);
    EXPECT_TRUE(SameBits(image, before));

    image.Pixels[0][1].G = Inf;  // range infinite
    before = Snapshot(image);
    image.Normalize(MaxRectHdr);
    EXPECT_TRUE(SameBits(image, before));

    image.Pixels[0][1].G = 3e38f;  // 3e38 - (-3e38) overflows to infinity
    image.Pixels[0][2].R = -3e38f;
    before = Snapshot(image);
    image.Normalize(MaxRectHdr);
    EXPECT_TRUE(SameBits(image, before));

    image.SetSize(2, 1, TColorHdr{NaN, NaN, NaN, 1.0f});  // nothing found at all
    before = Snapshot(image);
    image.Normalize(MaxRectHdr);
    EXPECT_TRUE(SameBits(image, before));
}

TEST(NormalizeChannels, StretchesEachChannelAndLeavesFlatOnesAlone)
{
    TBmpHdr image;
    image.SetSize(3, 1, TColorHdr{0.0f, 5.0f, -1.0f, 0.125f});
    image.Pixels[0][1] = TColorHdr{1.0f, 5.0f, 0.0f, 0.125f};
    image.Pixels[0][2] = TColorHdr{2.0f, 5.0f, 1.0f, 0.125f};
    image.NormalizeChannels(MaxRectHdr);
    // B: 0..2 -> v / 2; G flat at 5, kept; R: -1..1 -> (v + 1) / 2.
    EXPECT_TRUE(SameColor(image.Pixels[0][0], TColorHdr{0.0f, 5.0f, 0.0f, 0.125f}));
    EXPECT_TRUE(SameColor(image.Pixels[0][1], TColorHdr{0.5f, 5.0f, 0.5f, 0.125f}));
    EXPECT_TRUE(SameColor(image.Pixels[0][2], TColorHdr{1.0f, 5.0f, 1.0f, 0.125f}));

    // An infinite channel is kept too, the others still stretch.
    image.Pixels[0][0].R = -Inf;
    image.Pixels[0][1].B = 4.0f;
    image.NormalizeChannels(MaxRectHdr);
    EXPECT_TRUE(SameColor(image.Pixels[0][0], TColorHdr{0.0f, 5.0f, -Inf, 0.125f}));
    EXPECT_TRUE(SameColor(image.Pixels[0][1], TColorHdr{1.0f, 5.0f, 0.5f, 0.125f}));
    EXPECT_TRUE(SameColor(image.Pixels[0][2], TColorHdr{0.25f, 5.0f, 1.0f, 0.125f}));
}

// ---------------------------------------------------------------------------------------------
// Colour space

TEST(RGBToHSL, GivesStandardHueSaturationAndLightness)
{
    struct TCase {
        float R, G, B, H, S, L;
    };
    const TCase cases[] = {
        {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.5f},         // red
        {0.0f, 1.0f, 0.0f, 1.0f / 3.0f, 1.0f, 0.5f},  // green: (b - r) / d + 2 = 2, / 6
        {0.0f, 0.0f, 1.0f, 2.0f / 3.0f, 1.0f, 0.5f},  // blue: 4 / 6
        {1.0f, 1.0f, 0.0f, 1.0f / 6.0f, 1.0f, 0.5f},  // yellow
        {0.0f, 1.0f, 1.0f, 0.5f, 1.0f, 0.5f},         // cyan
        {1.0f, 0.0f, 1.0f, 5.0f / 6.0f, 1.0f, 0.5f},  // magenta: -1 / 6 + 1
        // max 0.75, min 0.25: L 0.5, S 0.5 / (2 - 1), H (0.5 - 0.25) / 0.5 / 6 = 1/12
        {0.75f, 0.5f, 0.25f, 1.0f / 12.0f, 0.5f, 0.5f},
        // max 1, min 0, L 0.5, H (0 - 0.5) / 1 / 6 + 1 = 11/12
        {1.0f, 0.0f, 0.5f, 11.0f / 12.0f, 1.0f, 0.5f},
        // dark: L 0.25, S 0.25 / 0.5 (the L < 0.5 branch)
        {0.375f, 0.125f, 0.125f, 0.0f, 0.5f, 0.25f},
        {0.3f, 0.3f, 0.3f, 0.0f, 0.0f, 0.3f},  // grey: no hue, no saturation
        {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
        {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f},
    };
    for (const TCase& c : cases) {
        float h = -1.0f, s = -1.0f, l = -1.0f;
        RGBToHSL(c.R, c.G, c.B, h, s, l);
        // a few float roundings of values below 1
        EXPECT_NEAR(h, c.H, 1e-6) << c.R << " " << c.G << " " << c.B;
        EXPECT_NEAR(s, c.S, 1e-6) << c.R << " " << c.G << " " << c.B;
        EXPECT_NEAR(l, c.L, 1e-6) << c.R << " " << c.G << " " << c.B;
    }
}

TEST(HSLToRGB, GivesStandardColours)
{
    struct TCase {
        float H, S, L, R, G, B;
    };
    const TCase cases[] = {
        {0.0f, 1.0f, 0.5f, 1.0f, 0.0f, 0.0f},
        {1.0f / 3.0f, 1.0f, 0.5f, 0.0f, 1.0f, 0.0f},
        {2.0f / 3.0f, 1.0f, 0.5f, 0.0f, 0.0f, 1.0f},
        {1.0f, 1.0f, 0.5f, 1.0f, 0.0f, 0.0f},  // hue wraps
        // q = 0.25 x 1.5 = 0.375, p = 0.5 - 0.375 = 0.125
        {0.0f, 0.5f, 0.25f, 0.375f, 0.125f, 0.125f},
        // q = 0.75 + 0.5 - 0.375 = 0.875, p = 0.625; hue 1/12 gives G halfway up
        {1.0f / 12.0f, 0.5f, 0.75f, 0.875f, 0.75f, 0.625f},
        {0.4f, 0.0f, 0.3f, 0.3f, 0.3f, 0.3f},  // no saturation: grey
    };
    for (const TCase& c : cases) {
        float r = -1.0f, g = -1.0f, b = -1.0f;
        HSLToRGB(c.H, c.S, c.L, r, g, b);
        EXPECT_NEAR(r, c.R, 1e-6) << c.H << " " << c.S << " " << c.L;
        EXPECT_NEAR(g, c.G, 1e-6) << c.H << " " << c.S << " " << c.L;
        EXPECT_NEAR(b, c.B, 1e-6) << c.H << " " << c.S << " " << c.L;
    }
}

TEST(HSL, RoundTripsAGridOfColours)
{
    // 11^3 colours on a 0.1 grid; the hue sextant scales float rounding by up to 6, so a few
    // 1e-7 errors add up to well under 1e-5.
    for (int ri = 0; ri <= 10; ++ri) {
        for (int gi = 0; gi <= 10; ++gi) {
            for (int bi = 0; bi <= 10; ++bi) {
                const float r = static_cast<float>(ri) / 10.0f;
                const float g = static_cast<float>(gi) / 10.0f;
                const float b = static_cast<float>(bi) / 10.0f;
                float h, s, l, r2, g2, b2;
                RGBToHSL(r, g, b, h, s, l);
                EXPECT_GE(h, 0.0f);
                EXPECT_LT(h, 1.0f);
                HSLToRGB(h, s, l, r2, g2, b2);
                EXPECT_NEAR(r2, r, 1e-5) << r << " " << g << " " << b;
                EXPECT_NEAR(g2, g, 1e-5) << r << " " << g << " " << b;
                EXPECT_NEAR(b2, b, 1e-5) << r << " " << g << " " << b;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Compositing

TEST(LerpColorHdr, MovesBGRTowardsTheSourceAndKeepsAlpha)
{
    const TColorHdr source{1.0f, 3.0f, -1.0f, 0.125f};
    TColorHdr target{0.0f, 1.0f, 1.0f, 0.75f};
    LerpColorHdr(source, target, 0.25f);
    EXPECT_TRUE(SameColor(target, TColorHdr{0.25f, 1.5f, 0.5f, 0.75f}));
    TColorHdr far{0.0f, 0.0f, 0.0f, 0.75f};
    LerpColorHdr(source, far, 2.0f);  // not limited to 0..1
    EXPECT_TRUE(SameColor(far, TColorHdr{2.0f, 6.0f, -2.0f, 0.75f}));
}

TEST(BlendColorHdr, CompositesByAlphaTimesOpacityAndNeverTouchesTargetAlpha)
{
    TColorHdr target{0.0f, 1.0f, 0.5f, 0.3f};
    BlendColorHdr(TColorHdr{1.0f, 0.0f, 0.5f, 0.5f}, target, 0.5f);  // a = 0.25
    EXPECT_TRUE(SameColor(target, TColorHdr{0.25f, 0.75f, 0.5f, 0.3f}));

    BlendColorHdr(TColorHdr{3.0f, -1.0f, 2.0f, 0.5f}, target, 2.0f);  // a = 1: copy
    EXPECT_TRUE(SameColor(target, TColorHdr{3.0f, -1.0f, 2.0f, 0.3f}));

    const TColorHdr before = target;
    BlendColorHdr(TColorHdr{0.0f, 0.0f, 0.0f, 0.0f}, target, 1.0f);
    BlendColorHdr(TColorHdr{0.0f, 0.0f, 0.0f, NaN}, target, 1.0f);
    BlendColorHdr(TColorHdr{0.0f, 0.0f, 0.0f, -1.0f}, target, -1.0f);  // a would be +1
    EXPECT_TRUE(SameColor(target, before));
}

TEST(MergeColorHdr, ComposesAlphaWithTheOverOperator)
{
    // Opaque source, or alpha x opacity reaching 1: copy, target opaque.
    TColorHdr t{0.0f, 0.0f, 0.0f, 0.25f};
    MergeColorHdr(TColorHdr{3.0f, -1.0f, 0.5f, 1.0f}, t, 1.0f);
    EXPECT_TRUE(SameColor(t, TColorHdr{3.0f, -1.0f, 0.5f, 1.0f}));
    t = TColorHdr{0.0f, 0.0f, 0.0f, 0.25f};
    MergeColorHdr(TColorHdr{2.0f, 2.0f, 2.0f, 2.0f}, t, 0.5f);
    EXPECT_TRUE(SameColor(t, TColorHdr{2.0f, 2.0f, 2.0f, 1.0f}));

    // Transparent target (0, negative or NaN): the colour is copied and alpha becomes a.
    for (const float targetAlpha : {0.0f, -1.0f, NaN}) {
        t = TColorHdr{9.0f, 9.0f, 9.0f, targetAlpha};
        MergeColorHdr(TColorHdr{0.5f, 1.5f, -0.5f, 0.5f}, t, 0.5f);
        EXPECT_TRUE(SameColor(t, TColorHdr{0.5f, 1.5f, -0.5f, 0.25f})) << targetAlpha;
    }

    // 0.5 over 0.5: alpha 0.5 + 0.5 - 0.25 = 0.75, colour factor 0.5 / 0.75 = 2/3.
    t = TColorHdr{0.0f, 1.0f, 0.5f, 0.5f};
    MergeColorHdr(TColorHdr{1.0f, 0.25f, 0.5f, 0.5f}, t, 1.0f);
    EXPECT_EQ(t.A, 0.75f);
    EXPECT_EQ(t.B, 2.0f / 3.0f);   // (1 - 0) x (0.5f / 0.75f) + 0, one correctly rounded division
    EXPECT_NEAR(t.G, 0.5f, 1e-7);  // (0.25 - 1) x 2/3 + 1, two roundings
    EXPECT_EQ(t.R, 0.5f);

    // Opaque (or brighter than opaque) target: plain lerp by a, alpha kept.
    t = TColorHdr{0.0f, 1.0f, 0.5f, 1.0f};
    MergeColorHdr(TColorHdr{1.0f, 0.0f, 0.5f, 0.5f}, t, 0.5f);  // a = 0.25
    EXPECT_TRUE(SameColor(t, TColorHdr{0.25f, 0.75f, 0.5f, 1.0f}));
    t = TColorHdr{0.0f, 1.0f, 0.5f, 1.5f};
    MergeColorHdr(TColorHdr{1.0f, 0.0f, 0.5f, 0.5f}, t, 1.0f);
    EXPECT_TRUE(SameColor(t, TColorHdr{0.5f, 0.5f, 0.5f, 1.5f}));

    // A transparent or NaN source does nothing.
    t = TColorHdr{0.1f, 0.2f, 0.3f, 0.4f};
    const TColorHdr before = t;
    MergeColorHdr(TColorHdr{1.0f, 1.0f, 1.0f, 0.0f}, t, 1.0f);
    MergeColorHdr(TColorHdr{1.0f, 1.0f, 1.0f, NaN}, t, 1.0f);
    MergeColorHdr(TColorHdr{1.0f, 1.0f, 1.0f, -0.5f}, t, -2.0f);
    EXPECT_TRUE(SameColor(t, before));
}

TEST(DrawHdr, MergesEachPixelAtItsPlace)
{
    TBmpHdr src;
    src.SetSize(2, 2, clNoneHdr);
    src.Pixels[0][0] = TColorHdr{3.0f, 3.0f, 3.0f, 1.0f};  // opaque and brighter than 1
    src.Pixels[0][1] = TColorHdr{1.0f, 1.0f, 1.0f, 0.5f};
    src.Pixels[1][0] = TColorHdr{9.0f, 9.0f, 9.0f, 0.0f};  // transparent
    src.Pixels[1][1] = TColorHdr{9.0f, 9.0f, 9.0f, NaN};
    const TColorHdr base{0.0f, 0.0f, 0.0f, 1.0f};
    TBmpHdr dst;
    dst.SetSize(3, 3, base);
    dst.Pixels[1][2].A = 0.5f;  // under the half-transparent source pixel
    DrawHdr(&src, MaxRectHdr, &dst, 1, 1, MaxRectHdr, 1.0f);
    EXPECT_TRUE(SameColor(dst.Pixels[1][1], TColorHdr{3.0f, 3.0f, 3.0f, 1.0f}));
    // 0.5 over 0.5: alpha 0.75, colour 2/3 of the way
    EXPECT_EQ(dst.Pixels[1][2].A, 0.75f);
    EXPECT_EQ(dst.Pixels[1][2].B, 2.0f / 3.0f);
    EXPECT_TRUE(SameColor(dst.Pixels[2][1], base));
    EXPECT_TRUE(SameColor(dst.Pixels[2][2], base));
    EXPECT_TRUE(SameColor(dst.Pixels[0][0], base));
    EXPECT_TRUE(SameColor(dst.Pixels[1][0], base));

    // Opacity scales alpha: 3 over 0 at 0.5 is 1.5.
    dst.SetSize(3, 3, base);
    DrawHdr(&src, TRect{0, 0, 1, 1}, &dst, 0, 0, MaxRectHdr, 0.5f);
    EXPECT_TRUE(SameColor(dst.Pixels[0][0], TColorHdr{1.5f, 1.5f, 1.5f, 1.0f}));

    // Clipped like CopyRectHdr: src (1, 0) to dst (0, 0), the target region stops the rest.
    dst.SetSize(3, 3, base);
    DrawHdr(&src, TRect{1, 0, 5, 5}, &dst, 0, 0, TRect{0, 0, 1, 3}, 1.0f);
    EXPECT_TRUE(SameColor(dst.Pixels[0][0], TColorHdr{0.5f, 0.5f, 0.5f, 1.0f}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            if (x != 0 || y != 0) {
                EXPECT_TRUE(SameColor(dst.Pixels[y][x], base)) << x << "," << y;
            }

    const TBmpHdr before = Snapshot(dst);
    DrawHdr(&src, MaxRectHdr, &dst, 0, 0, MaxRectHdr, 0.0f);
    DrawHdr(&src, MaxRectHdr, &dst, 0, 0, MaxRectHdr, -1.0f);
    DrawHdr(&src, MaxRectHdr, &dst, 0, 0, MaxRectHdr, NaN);
    DrawHdr(nullptr, MaxRectHdr, &dst, 0, 0, MaxRectHdr, 1.0f);
    DrawHdr(&src, MaxRectHdr, &dst, 3, 0, MaxRectHdr, 1.0f);
    EXPECT_TRUE(SameBits(dst, before));
}

TEST(FillRectHdr, MergesTheColourOverTheClippedRegion)
{
    TBmpHdr image;
    image.SetSize(3, 2, GrayHdr(0.25f, 0.5f));
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, 0.5f), &image, TRect{1, -4, 9, 1}, 1.0f);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const TColorHdr p = image.Pixels[y][x];
            if (x >= 1 && y == 0) {
                EXPECT_EQ(p.A, 0.75f);
                EXPECT_NEAR(p.G, 0.75f, 1e-7);  // (1 - 0.25) x 2/3 + 0.25
            } else {
                EXPECT_TRUE(SameColor(p, GrayHdr(0.25f, 0.5f))) << x << "," << y;
            }
        }
    }
    const TBmpHdr before = Snapshot(image);
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, 0.0f), &image, MaxRectHdr, 1.0f);
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, NaN), &image, MaxRectHdr, 1.0f);
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, -1.0f), &image, MaxRectHdr, -1.0f);
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), &image, MaxRectHdr, 0.0f);
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), &image, TRect{3, 0, 5, 2}, 1.0f);
    FillRectHdr(ColorHdr(1.0f, 1.0f, 1.0f, 1.0f), nullptr, MaxRectHdr, 1.0f);
    EXPECT_TRUE(SameBits(image, before));
}

TEST(FillRectModeHdr, AddsSubtractsOrPaintsAndKeepsAlpha)
{
    const TColorHdr pixel{0.5f, 3.0f, 0.25f, 0.5f};
    const TColorHdr color{0.75f, 0.0f, 1.0f, 1.0f};
    TBmpHdr image;
    auto fill = [&](std::uint8_t mode, const TColorHdr& c, float opacity) {
        image.SetSize(2, 1, pixel);
        FillRectModeHdr(c, &image, TRect{1, 0, 5, 5}, mode, opacity);
        EXPECT_TRUE(SameColor(image.Pixels[0][0], pixel));  // outside the region
        return image.Pixels[0][1];
    };
    // Add, limited to 1 (1.25, 3.0 and 1.25), even where the pixel was brighter already.
    EXPECT_TRUE(SameColor(fill(1, color, 1.0f), TColorHdr{1.0f, 1.0f, 1.0f, 0.5f}));
    // Subtract, limited to 0 (-0.25, 3.0 and -0.75).
    EXPECT_TRUE(SameColor(fill(2, color, 1.0f), TColorHdr{0.0f, 3.0f, 0.0f, 0.5f}));
    // Paint, for 0 and any other mode.
    EXPECT_TRUE(SameColor(fill(0, color, 1.0f), TColorHdr{0.75f, 0.0f, 1.0f, 0.5f}));
    EXPECT_TRUE(SameColor(fill(7, color, 1.0f), TColorHdr{0.75f, 0.0f, 1.0f, 0.5f}));
    // Partial: lerp from the pixel towards the result by alpha x opacity, here 0.5.
    const TColorHdr half{0.75f, 0.0f, 1.0f, 0.5f};
    EXPECT_TRUE(SameColor(fill(0, half, 1.0f), TColorHdr{0.625f, 1.5f, 0.625f, 0.5f}));
    EXPECT_TRUE(SameColor(fill(0, color, 0.5f), TColorHdr{0.625f, 1.5f, 0.625f, 0.5f}));
    // add: T = (1, 1, 1), halfway from the pixel; subtract: T = (0, 3, 0)
    EXPECT_TRUE(SameColor(fill(1, half, 1.0f), TColorHdr{0.75f, 2.0f, 0.625f, 0.5f}));
    EXPECT_TRUE(SameColor(fill(2, half, 1.0f), TColorHdr{0.25f, 3.0f, 0.125f, 0.5f}));
    // Nothing without alpha or opacity.
    EXPECT_TRUE(SameColor(fill(0, TColorHdr{0.75f, 0.0f, 1.0f, 0.0f}, 1.0f), pixel));
    EXPECT_TRUE(SameColor(fill(1, color, 0.0f), pixel));
    EXPECT_TRUE(SameColor(fill(0, TColorHdr{0.75f, 0.0f, 1.0f, NaN}, 1.0f), pixel));
}

// ---------------------------------------------------------------------------------------------
// Platform bitmaps

namespace {

// Bytes that are multiples of 51 convert to exact-looking fifths: k x 51 / 255 = k / 5.
constexpr float Fifths[6] = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f, 1.0f};

TBitmap FifthsBitmap(TPixelFormat format)
{
    TBitmap bitmap(3, 2, format);
    const int step = bitmap.BytesPerPixel();
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            std::uint8_t* p = bitmap.ScanLine(y) + x * step;
            p[0] = static_cast<std::uint8_t>(51 * x);
            p[1] = static_cast<std::uint8_t>(51 * (y + 3));
            p[2] = 255;
            if (step == 4)
                p[3] = static_cast<std::uint8_t>(51 * (x + y));
        }
    }
    return bitmap;
}

}  // namespace

TEST(Bitmap32ToHdr, ConvertsBytesWithAlphaPlacedLikeCopyRectHdr)
{
    const TBitmap bitmap = FifthsBitmap(TPixelFormat::pf32bit);
    const TColorHdr sentinel = GrayHdr(-7.0f, -7.0f);  // not clNoneHdr, so SetSize fills it
    TBmpHdr image;
    image.SetSize(5, 4, sentinel);
    // The whole bitmap (clipped from (-5, -5, 10, 10)) lands at (1, 1).
    Bitmap32ToHdr(&bitmap, TRect{-5, -5, 10, 10}, &image, 1, 1, MaxRectHdr);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            const int bx = x - 1;
            const int by = y - 1;
            const bool inside = bx >= 0 && bx < 3 && by >= 0 && by < 2;
            EXPECT_TRUE(SameColor(
                image.Pixels[y][x],
                inside ? TColorHdr{Fifths[bx], Fifths[by + 3], 1.0f, Fifths[bx + by]} : sentinel))
                << x << "," << y;
        }
    }

    // Only a 32-bit bitmap, only a non-empty image.
    const TBitmap wrong = FifthsBitmap(TPixelFormat::pf24bit);
    image.SetSize(5, 4, sentinel);
    const TBmpHdr before = Snapshot(image);
    Bitmap32ToHdr(&wrong, MaxRectHdr, &image, 0, 0, MaxRectHdr);
    Bitmap32ToHdr(nullptr, MaxRectHdr, &image, 0, 0, MaxRectHdr);
    TBitmap emptyBitmap;
    Bitmap32ToHdr(&emptyBitmap, MaxRectHdr, &image, 0, 0, MaxRectHdr);
    EXPECT_TRUE(SameBits(image, before));
    TBmpHdr empty;
    Bitmap32ToHdr(&bitmap, MaxRectHdr, &empty, 0, 0, MaxRectHdr);
    Bitmap32ToHdr(&bitmap, MaxRectHdr, nullptr, 0, 0, MaxRectHdr);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(Bitmap24ToHdr, ConvertsBytesWithOpaqueAlphaPlacedLikeCopyRectHdr)
{
    const TBitmap bitmap = FifthsBitmap(TPixelFormat::pf24bit);
    const TColorHdr sentinel = GrayHdr(-7.0f, -7.0f);  // not clNoneHdr, so SetSize fills it
    TBmpHdr image;
    image.SetSize(2, 5, sentinel);
    // Source columns 1..2 at (0, 3), target region limited to column 0: bitmap (1, y) ->
    // image (0, 3 + y), and row 4 is the last one of the image.
    Bitmap24ToHdr(&bitmap, TRect{1, 0, 3, 2}, &image, 0, 3, TRect{0, 0, 1, 5});
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 2; ++x) {
            const bool inside = x == 0 && y >= 3;
            EXPECT_TRUE(
                SameColor(image.Pixels[y][x],
                          inside ? TColorHdr{Fifths[1], Fifths[y - 3 + 3], 1.0f, 1.0f} : sentinel))
                << x << "," << y;
        }
    }
    const TBitmap wrong = FifthsBitmap(TPixelFormat::pf32bit);
    image.SetSize(2, 5, sentinel);
    Bitmap24ToHdr(&wrong, MaxRectHdr, &image, 0, 0, MaxRectHdr);
    for (const TRawHdr& row : image.Pixels)
        for (const TColorHdr& p : row)
            EXPECT_TRUE(SameColor(p, sentinel));
}

TEST(BlendPixelToBGR, CompositesOntoBytesRoundingHalfToEven)
{
    auto blend = [](const TColorHdr& c, std::uint8_t start, float opacity) {
        std::uint8_t bytes[3] = {start, start, start};
        BlendPixelToBGR(c, bytes, opacity);
        return std::array<int, 3>{bytes[0], bytes[1], bytes[2]};
    };
    using B3 = std::array<int, 3>;
    // Opaque: FloatToByte in B, G, R order.
    EXPECT_EQ(blend(TColorHdr{0.5f, 1.7f, -0.2f, 1.0f}, 9, 1.0f), (B3{128, 255, 0}));
    EXPECT_EQ(blend(TColorHdr{0.5f, 1.7f, -0.2f, 2.0f}, 9, 0.5f), (B3{128, 255, 0}));
    // 3.0 at a = 0.5 over black: 1.5 x 255 = 382.5, limited to 255.
    EXPECT_EQ(blend(TColorHdr{3.0f, 3.0f, 3.0f, 0.5f}, 0, 1.0f), (B3{255, 255, 255}));
    // 0 at a = 0.5 over white: (0 - 1) x 0.5 + 1 = 0.5, 127.5 -> 128.
    EXPECT_EQ(blend(TColorHdr{0.0f, 0.0f, 0.0f, 0.5f}, 255, 1.0f), (B3{128, 128, 128}));
    // a = 0.5 over black: B is half of 0x1.fbfbfcp-1, the float whose product with 255 is
    // 126.5 -> 126; G 127.5 -> 128; R 63.75 -> 64.
    EXPECT_EQ(blend(TColorHdr{0x1.fbfbfcp-1f, 1.0f, 0.5f, 1.0f}, 0, 0.5f), (B3{126, 128, 64}));
    // Over d = 51 / 255 = 0.2: ((0.25 - 0.2) x 0.5 + 0.2) x 255 = 57.375 -> 57; below 0 and
    // NaN -> 0.
    EXPECT_EQ(blend(TColorHdr{0.25f, -5.0f, NaN, 0.5f}, 51, 1.0f), (B3{57, 0, 0}));
    // Nothing without alpha.
    EXPECT_EQ(blend(TColorHdr{1.0f, 1.0f, 1.0f, 0.0f}, 77, 1.0f), (B3{77, 77, 77}));
    EXPECT_EQ(blend(TColorHdr{1.0f, 1.0f, 1.0f, NaN}, 77, 1.0f), (B3{77, 77, 77}));
    EXPECT_EQ(blend(TColorHdr{1.0f, 1.0f, 1.0f, -1.0f}, 77, -1.0f), (B3{77, 77, 77}));
}

TEST(DrawHdrToBitmap, BlendsOntoA24BitBitmapOnly)
{
    TBmpHdr image;
    image.SetSize(2, 2, clNoneHdr);
    image.Pixels[0][0] = TColorHdr{1.0f, 0.0f, 0.2f, 1.0f};
    image.Pixels[0][1] = TColorHdr{0.0f, 0.0f, 0.0f, 0.5f};
    image.Pixels[1][0] = TColorHdr{1.0f, 1.0f, 1.0f, 0.0f};
    image.Pixels[1][1] = TColorHdr{5.0f, 0.6f, -1.0f, 1.0f};
    auto bytesAt = [](const TBitmap& b, int x, int y) {
        const std::uint8_t* p = b.ScanLine(y) + x * b.BytesPerPixel();
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    using B3 = std::array<int, 3>;
    auto grey = [](TBitmap& b) {
        for (int y = 0; y < b.Height(); ++y)
            std::memset(b.ScanLine(y), 200, b.BytesPerLine());
    };
    TBitmap bitmap(4, 3, TPixelFormat::pf24bit);
    grey(bitmap);
    DrawHdrToBitmap(&image, MaxRectHdr, &bitmap, 1, 1, MaxRectHdr, 1.0f);
    EXPECT_EQ(bytesAt(bitmap, 1, 1), (B3{255, 0, 51}));
    // half of 200 / 255 over it: 100.00000x -> 100
    EXPECT_EQ(bytesAt(bitmap, 2, 1), (B3{100, 100, 100}));
    EXPECT_EQ(bytesAt(bitmap, 1, 2), (B3{200, 200, 200}));  // transparent
    EXPECT_EQ(bytesAt(bitmap, 2, 2), (B3{255, 153, 0}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            if (x == 0 || y == 0 || x == 3) {
                EXPECT_EQ(bytesAt(bitmap, x, y), (B3{200, 200, 200})) << x << "," << y;
            }

    // Overhanging the right edge: only column 0 of the image lands, in column 3.
    grey(bitmap);
    DrawHdrToBitmap(&image, MaxRectHdr, &bitmap, 3, 0, MaxRectHdr, 1.0f);
    EXPECT_EQ(bytesAt(bitmap, 3, 0), (B3{255, 0, 51}));
    EXPECT_EQ(bytesAt(bitmap, 2, 0), (B3{200, 200, 200}));
    EXPECT_EQ(bytesAt(bitmap, 3, 1), (B3{200, 200, 200}));

    grey(bitmap);
    DrawHdrToBitmap(&image, MaxRectHdr, &bitmap, 0, 0, MaxRectHdr, 0.0f);
    DrawHdrToBitmap(&image, MaxRectHdr, &bitmap, 0, 0, MaxRectHdr, NaN);
    DrawHdrToBitmap(nullptr, MaxRectHdr, &bitmap, 0, 0, MaxRectHdr, 1.0f);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(bytesAt(bitmap, x, y), (B3{200, 200, 200}));

    TBitmap bitmap32(4, 3, TPixelFormat::pf32bit);
    grey(bitmap32);
    DrawHdrToBitmap(&image, MaxRectHdr, &bitmap32, 0, 0, MaxRectHdr, 1.0f);
    for (int y = 0; y < 3; ++y)
        for (std::size_t i = 0; i < bitmap32.BytesPerLine(); ++i)
            EXPECT_EQ(bitmap32.ScanLine(y)[i], 200);
}

// ---------------------------------------------------------------------------------------------
// THdrManager

TEST(THdrManager, StartsWithInclusiveClipWhiteBackgroundAndNearest)
{
    const TBmpHdr image = PatternImage(4, 3);
    const THdrManager whole(&image, MaxRectHdr);
    EXPECT_EQ(whole.ClipRect(), (TRect{0, 0, 3, 2}));
    EXPECT_TRUE(SameColor(whole.Background, White));
    EXPECT_FALSE(whole.ClampEdges);
    EXPECT_EQ(whole.Interpolation(), 0);
    EXPECT_EQ(whole.SupportRect(), (TRect{0, 0, 3, 2}));

    // A region limits what is read, even inside the image.
    const THdrManager part(&image, TRect{1, 1, 3, 9});
    EXPECT_EQ(part.ClipRect(), (TRect{1, 1, 2, 2}));
    EXPECT_TRUE(SameColor(part.GetPixelInt(1, 1), PatternAt(1, 1)));
    EXPECT_TRUE(SameColor(part.GetPixelInt(0, 0), White));
    EXPECT_TRUE(SameColor(part.GetPixelInt(3, 1), White));

    // Nothing to read: always the background.
    const THdrManager none(nullptr, MaxRectHdr);
    EXPECT_TRUE(SameColor(none.GetPixelInt(0, 0), White));
    EXPECT_TRUE(SameColor(none.GetPixel(0.0f, 0.0f), White));
    const TBmpHdr empty;
    THdrManager emptyManager(&empty, MaxRectHdr);
    emptyManager.ClampEdges = true;
    EXPECT_TRUE(SameColor(emptyManager.GetPixelInt(0, 0), White));
    EXPECT_FALSE(emptyManager.InSupport(0.0f, 0.0f));
}

TEST(THdrManager, SupportGrowsWithTheKernel)
{
    const TBmpHdr image = PatternImage(4, 3);
    THdrManager m(&image, MaxRectHdr);
    const TRect expected[] = {
        {0, 0, 3, 2}, {-1, -1, 4, 3}, {-2, -2, 5, 4}, {-2, -2, 5, 4}, {-2, -2, 5, 4},
    };
    for (std::uint8_t mode = 0; mode <= 4; ++mode) {
        m.SetInterpolation(mode);
        EXPECT_EQ(m.Interpolation(), mode);
        EXPECT_EQ(m.SupportRect(), expected[mode]) << int{mode};
    }
    m.SetInterpolation(9);  // unknown: bilinear, with the wider support
    EXPECT_EQ(m.SupportRect(), (TRect{-2, -2, 5, 4}));

    m.SetInterpolation(0);
    EXPECT_TRUE(m.InSupport(0.0f, 0.0f));
    EXPECT_TRUE(m.InSupport(3.0f, 2.0f));  // inclusive
    EXPECT_FALSE(m.InSupport(3.01f, 2.0f));
    EXPECT_FALSE(m.InSupport(-0.01f, 1.0f));
    EXPECT_FALSE(m.InSupport(5.0f, 1.0f));  // ClipRect.Right + 2
    EXPECT_FALSE(m.InSupport(NaN, 1.0f));
    EXPECT_FALSE(m.InSupport(1.0f, NaN));
    m.SetInterpolation(1);
    EXPECT_TRUE(m.InSupport(4.0f, -1.0f));
    EXPECT_FALSE(m.InSupport(4.01f, 0.0f));
    m.SetInterpolation(2);
    EXPECT_TRUE(m.InSupport(5.0f, 4.0f));
    EXPECT_TRUE(m.InSupport(-2.0f, -2.0f));
    EXPECT_FALSE(m.InSupport(5.01f, 0.0f));
    EXPECT_FALSE(m.InSupport(NaN, NaN));
}

TEST(THdrManager, GetPixelIntClampsOrFallsBackToTheBackground)
{
    const TBmpHdr image = PatternImage(4, 3);
    THdrManager m(&image, MaxRectHdr);
    EXPECT_TRUE(SameColor(m.GetPixelInt(3, 2), PatternAt(3, 2)));  // HDR values unchanged
    EXPECT_TRUE(SameColor(m.GetPixelInt(4, 0), White));
    EXPECT_TRUE(SameColor(m.GetPixelInt(0, -1), White));
    m.Background = TColorHdr{0.25f, 0.5f, 0.75f, 0.0f};
    EXPECT_TRUE(SameColor(m.GetPixelInt(-100, 1), TColorHdr{0.25f, 0.5f, 0.75f, 0.0f}));
    m.ClampEdges = true;
    EXPECT_TRUE(SameColor(m.GetPixelInt(-100, 1), PatternAt(0, 1)));
    EXPECT_TRUE(SameColor(m.GetPixelInt(9, 9), PatternAt(3, 2)));
    EXPECT_TRUE(SameColor(m.GetPixelInt(2, -5), PatternAt(2, 0)));
}

TEST(THdrManager, NearestRoundsHalfToEvenAndKeepsTheColour)
{
    const TBmpHdr image = PatternImage(4, 3);
    THdrManager m(&image, MaxRectHdr);
    m.SetInterpolation(0);
    EXPECT_TRUE(SameColor(m.GetPixel(2.0f, 1.0f), PatternAt(2, 1)));  // R 12, above 1
    EXPECT_TRUE(SameColor(m.GetPixel(0.5f, 0.5f), PatternAt(0, 0)));
    EXPECT_TRUE(SameColor(m.GetPixel(1.5f, 1.5f), PatternAt(2, 2)));
    EXPECT_TRUE(SameColor(m.GetPixel(2.5f, 0.49f), PatternAt(2, 0)));
    EXPECT_TRUE(SameColor(m.GetPixel(2.51f, 0.0f), PatternAt(3, 0)));
    EXPECT_TRUE(SameColor(m.GetPixel(-0.5f, 0.0f), PatternAt(0, 0)));  // -0.5 -> -0
    EXPECT_TRUE(SameColor(m.GetPixel(-0.51f, 0.0f), White));
    EXPECT_TRUE(SameColor(m.GetPixel(3.5f, 0.0f), White));  // 3.5 -> 4
    EXPECT_TRUE(SameColor(m.GetPixel(20.0f, 20.0f), White));
    EXPECT_TRUE(SameColor(m.GetPixel(NaN, 0.0f), White));
    EXPECT_TRUE(SameColor(m.GetPixel(1e30f, -1e30f), White));
    m.ClampEdges = true;
    EXPECT_TRUE(SameColor(m.GetPixel(-5.0f, 20.0f), PatternAt(0, 2)));
}

TEST(THdrManager, BilinearMixesFourPixelsAndClampsEveryChannel)
{
    TBmpHdr image;
    image.SetSize(2, 2, TColorHdr{0.0f, 3.0f, -1.0f, 0.5f});
    image.Pixels[0][1].B = 1.0f;
    image.Pixels[1][0].B = 0.5f;
    image.Pixels[1][1].B = 0.25f;
    image.Pixels[1][1].A = 2.0f;
    THdrManager m(&image, MaxRectHdr);
    m.SetInterpolation(1);
    // fx 0.25, fy 0.5: 1 x 0.25 x 0.5 + 0.5 x 0.75 x 0.5 + 0.25 x 0.25 x 0.5 = 0.34375;
    // G 3 -> 1, R -1 -> 0, A 0.5 x 0.875 + 2 x 0.125 = 0.6875.
    EXPECT_TRUE(SameColor(m.GetPixel(0.25f, 0.5f), TColorHdr{0.34375f, 1.0f, 0.0f, 0.6875f}));
    // On a pixel: that pixel, clamped.
    EXPECT_TRUE(SameColor(m.GetPixel(1.0f, 1.0f), TColorHdr{0.25f, 1.0f, 0.0f, 1.0f}));
    EXPECT_TRUE(SameColor(m.GetPixel(1.0f, 0.0f), TColorHdr{1.0f, 1.0f, 0.0f, 0.5f}));
    // Half a pixel below the last row mixes with the white background: B 0.5 x 0.5 + 0.5,
    // R -1 x 0.5 + 0.5 = 0.
    EXPECT_TRUE(SameColor(m.GetPixel(0.0f, 1.5f), TColorHdr{0.75f, 1.0f, 0.0f, 0.75f}));
    m.ClampEdges = true;
    EXPECT_TRUE(SameColor(m.GetPixel(0.0f, 1.5f), TColorHdr{0.5f, 1.0f, 0.0f, 0.5f}));
    // An unknown mode samples the same way.
    m.SetInterpolation(200);
    EXPECT_TRUE(SameColor(m.GetPixel(0.25f, 0.5f), TColorHdr{0.34375f, 1.0f, 0.0f, 0.6875f}));
}

TEST(THdrManager, CubicKernelsFollowTheirFormulas)
{
    // The references against hand values first: K(0.5) and K(1.5) of each kernel.
    EXPECT_DOUBLE_EQ(BicubicRef(0.0), 1.0);
    EXPECT_DOUBLE_EQ(BicubicRef(0.5), 0.625);   // (0.25 - 0.5 - 1)(-0.5)
    EXPECT_DOUBLE_EQ(BicubicRef(1.5), -0.125);  // -(0.5)(0.25)
    EXPECT_DOUBLE_EQ(BicubicRef(1.0), 0.0);
    EXPECT_DOUBLE_EQ(MitchellRef(0.0), 8.0 / 9.0);
    EXPECT_NEAR(MitchellRef(1.0), 1.0 / 18.0, 1e-14);    // the second branch cancels a little
    EXPECT_DOUBLE_EQ(MitchellRef(0.5), 77.0 / 144.0);    // 21/144 - 72/144 + 128/144
    EXPECT_NEAR(MitchellRef(1.5), -5.0 / 144.0, 1e-14);  // 648 - 720 - 189 + 256, over 144
    EXPECT_NEAR(MitchellRef(2.0), 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(LagrangeRef(0.0), 1.0);
    EXPECT_DOUBLE_EQ(LagrangeRef(0.5), 9.0 / 16.0);   // (-1.5)(0.5)(1.5)(-0.5)
    EXPECT_DOUBLE_EQ(LagrangeRef(1.5), -1.0 / 16.0);  // -(-1.5)(-0.5)(0.5) / 6
    EXPECT_DOUBLE_EQ(LagrangeRef(1.0), 0.0);

    // Grey 0.5 with one B impulse of +0.25 at (3, 3): B is 0.5 + 0.25 Kx Ky (the weights of
    // all three kernels sum to 1), G stays 0.5.
    TBmpHdr image;
    image.SetSize(8, 8, GrayHdr(0.5f, 1.0f));
    image.Pixels[3][3].B = 0.75f;
    THdrManager m(&image, MaxRectHdr);
    using TKernel = double (*)(double);
    const TKernel refs[] = {BicubicRef, MitchellRef, LagrangeRef};
    const float points[][2] = {{3.5f, 3.5f}, {4.5f, 3.5f}, {3.25f, 2.75f},
                               {3.0f, 3.0f}, {4.0f, 3.0f}, {1.9f, 4.6f}};
    for (std::uint8_t mode = 2; mode <= 4; ++mode) {
        m.SetInterpolation(mode);
        const TKernel k = refs[mode - 2];
        for (const auto& pt : points) {
            const double dx = std::fabs(double{pt[0]} - 3.0);
            const double dy = std::fabs(double{pt[1]} - 3.0);
            const double wx = dx < 2.0 ? k(dx) : 0.0;
            const double wy = dy < 2.0 ? k(dy) : 0.0;
            const TColorHdr p = m.GetPixel(pt[0], pt[1]);
            // 16 float products and sums of values below 1: within 2e-6 of the exact value
            EXPECT_NEAR(p.B, 0.5 + 0.25 * wx * wy, 2e-6)
                << int{mode} << " at " << pt[0] << "," << pt[1];
            EXPECT_NEAR(p.G, 0.5, 2e-6) << int{mode} << " at " << pt[0] << "," << pt[1];
            EXPECT_NEAR(p.A, 1.0, 2e-6) << int{mode} << " at " << pt[0] << "," << pt[1];
        }
    }
}

TEST(THdrManager, CubicOnARampAndAtEdges)
{
    // B = x / 8, constant along y.
    TBmpHdr image;
    image.SetSize(8, 8, GrayHdr(0.5f, 1.0f));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            image.Pixels[y][x].B = static_cast<float>(x) * 0.125f;
    THdrManager m(&image, MaxRectHdr);

    // Lagrange reproduces cubics, so the ramp exactly (up to float rounding).
    m.SetInterpolation(4);
    EXPECT_NEAR(m.GetPixel(2.25f, 3.0f).B, 0.28125f, 2e-6);  // 2.25 / 8
    EXPECT_NEAR(m.GetPixel(4.75f, 2.5f).B, 0.59375f, 2e-6);
    // Mitchell is symmetric, so on a pixel column it keeps the ramp: 3 / 8.
    m.SetInterpolation(3);
    EXPECT_NEAR(m.GetPixel(3.0f, 3.5f).B, 0.375f, 2e-6);
    // The a = -1 bicubic does not keep a ramp: at 2.25 the weights of x = 1..4 are
    // -0.140625, 0.890625, 0.296875, -0.046875, giving 2.34375 / 8.
    m.SetInterpolation(2);
    EXPECT_NEAR(m.GetPixel(2.25f, 3.0f).B, 0.29296875f, 2e-6);

    // A step 0 | 1 between x 3 and 4 overshoots both ways; every kernel clamps to 0..1.
    TBmpHdr step;
    step.SetSize(8, 4, GrayHdr(0.0f, 1.0f));
    for (int y = 0; y < 4; ++y)
        for (int x = 4; x < 8; ++x)
            step.Pixels[y][x] = GrayHdr(1.0f, 1.0f);
    THdrManager s(&step, MaxRectHdr);
    for (std::uint8_t mode = 2; mode <= 4; ++mode) {
        s.SetInterpolation(mode);
        // bicubic: 0.625 + 0.625 - 0.125 = 1.125 and -0.125
        EXPECT_EQ(s.GetPixel(4.5f, 1.0f).B, 1.0f) << int{mode};
        EXPECT_EQ(s.GetPixel(2.5f, 1.0f).B, 0.0f) << int{mode};
    }

    // Far outside only the white background contributes; with ClampEdges the edge pixel.
    for (std::uint8_t mode = 2; mode <= 4; ++mode) {
        m.SetInterpolation(mode);
        m.ClampEdges = false;
        const TColorHdr out = m.GetPixel(20.0f, -7.5f);
        EXPECT_NEAR(out.B, 1.0f, 2e-6) << int{mode};
        EXPECT_NEAR(out.R, 1.0f, 2e-6) << int{mode};
        EXPECT_NEAR(out.A, 1.0f, 2e-6) << int{mode};
        m.ClampEdges = true;
        EXPECT_NEAR(m.GetPixel(20.0f, -7.5f).B, 0.875f, 2e-6) << int{mode};
    }
}

namespace {

// The single pass of the definition: rows, columns, then B, G, R, strict comparisons.
void PlainMinMax(const TBmpHdr& image, TRect rect, float (&lo)[4], float (&hi)[4])
{
    for (int c = 0; c < 4; ++c) {
        lo[c] = MaxValueHdr;
        hi[c] = -MaxValueHdr;
    }
    rect = IntersectRect(rect, image.GetBounds());
    for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x) {
            const TColorHdr& p = image.Pixels[y][x];
            const float v[3] = {p.B, p.G, p.R};
            for (int k = 0; k < 3; ++k)
                for (const int c : {k, 3}) {
                    if (v[k] > hi[c])
                        hi[c] = v[k];
                    if (v[k] < lo[c])
                        lo[c] = v[k];
                }
        }
}

bool SameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// Signed zeros as extremes in every position, NaN, infinities and the start values, on sizes
// with every tail length of the accumulators, for several thread counts.
TEST(GetMinMax, EqualsThePlainPassBitForBitOnMixedValues)
{
    std::mt19937 gen(77u);
    // The first six are never negative: a zero is then the minimum, and a zero of a later
    // accumulator may come first in visiting order.
    const float pool[] = {
        0.0f,     -0.0f, 1.0f,      0.5f,        std::numeric_limits<float>::quiet_NaN(),
        INFINITY, -1.0f, -INFINITY, MaxValueHdr, -MaxValueHdr,
        3.0e38f};
    const int sizes[][2] = {{1, 1}, {1, 50}, {37, 1}, {13, 7}, {5, 70}, {129, 40}, {6, 3}};
    for (int round = 0; round < 40; ++round)
        for (const auto& size : sizes) {
            TBmpHdr image;
            image.SetSize(size[0], size[1], GrayHdr(0.0f, 1.0f));
            // Some rounds only non-negative values, some (negated) only non-positive ones.
            const std::size_t span = round % 3 == 2 ? std::size(pool) : 6;
            for (auto& row : image.Pixels)
                for (TColorHdr& p : row) {
                    auto value = [&]() {
                        const float v = pool[gen() % span];
                        return round % 5 == 4 && round % 3 != 2 ? -v : v;
                    };
                    p = TColorHdr{value(), value(), value(), value()};
                }
            const TRect rect =
                round % 2 == 0 ? MaxRectHdr : TRect{size[0] / 3, size[1] / 4, size[0], size[1]};
            float lo[4];
            float hi[4];
            PlainMinMax(image, rect, lo, hi);
            for (const int threads : {1, 2, 7}) {
                SetThreadCount(threads);
                float minimum = 0.0f;
                float maximum = 0.0f;
                image.GetMinMax(minimum, maximum, rect);
                float c[6];
                image.GetChannelMinMax(c[0], c[1], c[2], c[3], c[4], c[5], rect);
                const std::string where =
                    "round " + std::to_string(round) + ", " + std::to_string(size[0]) + " x " +
                    std::to_string(size[1]) + ", " + std::to_string(threads) + " threads";
                EXPECT_TRUE(SameFloat(minimum, lo[3])) << where;
                EXPECT_TRUE(SameFloat(maximum, hi[3])) << where;
                for (int k = 0; k < 3; ++k) {
                    EXPECT_TRUE(SameFloat(c[2 * k], lo[k])) << where << ", channel " << k;
                    EXPECT_TRUE(SameFloat(c[2 * k + 1], hi[k])) << where << ", channel " << k;
                }
            }
            SetThreadCount(0);
        }
}
