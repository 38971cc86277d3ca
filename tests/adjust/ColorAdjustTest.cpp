#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "TestImages.h"
#include "adjust/ColorAdjust.h"
#include "core/BmpHdr.h"

using namespace lumivex;
using lumivex::test::Copy;
using lumivex::test::RefClamp;
using lumivex::test::RowImage;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

float RefLuminosity(float b, float g, float r)
{
    return static_cast<float>(0.11 * b + 0.59 * g + 0.3 * r);
}

bool SamePixel(const TColorHdr& a, const TColorHdr& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameImage(const TBmpHdr& a, const TBmpHdr& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (std::size_t y = 0; y < a.Pixels.size(); ++y)
        if (std::memcmp(a.Pixels[y].data(), b.Pixels[y].data(),
                        a.Pixels[y].size() * sizeof(TColorHdr)) != 0)
            return false;
    return true;
}

void ExpectColourNear(const TColorHdr& p, float r, float g, float b, double bound)
{
    EXPECT_NEAR(p.R, r, bound);
    EXPECT_NEAR(p.G, g, bound);
    EXPECT_NEAR(p.B, b, bound);
}

// Colourful, within 0..1 and away from the poles of HSL, so round trips stay within 1e-6.
const std::vector<TColorHdr> Colourful = {
    ColorHdr(1.0f, 0.0f, 0.0f, 1.0f),     ColorHdr(0.2f, 0.4f, 0.6f, 0.5f),
    ColorHdr(0.9f, 0.1f, 0.5f, -1.0f),    ColorHdr(0.3f, 0.8f, 0.25f, 7.0f),
    ColorHdr(0.625f, 0.5f, 0.125f, 0.0f), ColorHdr(0.45f, 0.7f, 0.95f, 1.0f),
    ColorHdr(0.1f, 0.2f, 0.15f, 1.0f),    ColorHdr(0.8f, 0.75f, 0.6f, 1.0f),
};

}  // namespace

TEST(LuminosityHdr, WeighsBlueGreenAndRedInDouble)
{
    // 0.11 x 0.2 + 0.59 x 0.4 + 0.3 x 0.6 = 0.022 + 0.236 + 0.18 = 0.438.
    const float y = LuminosityHdr(ColorHdr(0.6f, 0.4f, 0.2f, 1.0f));
    EXPECT_NEAR(y, 0.438, 1e-7);
    EXPECT_EQ(y, RefLuminosity(0.2f, 0.4f, 0.6f));
    EXPECT_EQ(LuminosityHdr(TColorHdr{1.0f, 0.0f, 0.0f, 0.0f}), 0.11f);
    EXPECT_EQ(LuminosityHdr(TColorHdr{0.0f, 1.0f, 0.0f, 0.0f}), 0.59f);
    EXPECT_EQ(LuminosityHdr(TColorHdr{0.0f, 0.0f, 1.0f, 0.0f}), 0.3f);
    EXPECT_EQ(LuminosityHdr(TColorHdr{0.0f, 0.0f, 0.0f, 5.0f}), 0.0f);   // alpha is no colour
    EXPECT_EQ(LuminosityHdr(TColorHdr{10.0f, 0.0f, 0.0f, 1.0f}), 1.1f);  // unclamped
}

TEST(SaturationChannelsHdr, ZeroAmountsChangeNothing)
{
    TBmpHdr image = RowImage({ColorHdr(2.5f, 0.5f, -1.0f, 7.0f), ColorHdr(NaN, 3.0f, 0.2f, -1.0f)});
    const TBmpHdr before = Copy(image);
    SaturationChannelsHdr(&image, MaxRectHdr, 0.0f, 0.0f, 0.0f);
    SaturationHdr(&image, MaxRectHdr, 0.0f);
    EXPECT_TRUE(SameImage(image, before));  // 2.5 and 3.0 survive
}

TEST(SaturationHdr, MinusOneGivesTheGreyValueInEveryChannel)
{
    TBmpHdr image = RowImage({ColorHdr(0.6f, 0.4f, 0.2f, 7.0f)});
    SaturationHdr(&image, MaxRectHdr, -1.0f);
    const TColorHdr p = image.Pixels[0][0];
    const float y = RefLuminosity(0.2f, 0.4f, 0.6f);  // 0.438, see LuminosityHdr
    EXPECT_EQ(p.B, y);                                // x - (x - y) is exact in double
    EXPECT_EQ(p.G, y);
    EXPECT_EQ(p.R, y);
    EXPECT_NEAR(p.G, 0.438, 1e-7);
    EXPECT_EQ(p.A, 7.0f);
}

TEST(SaturationChannelsHdr, MovesEachChannelFromTheGreyOfTheOriginalPixel)
{
    // Amounts B 1, G 0.5, R -0.5 on (B 0.2, G 0.4, R 0.6), Y = 0.438 from the unchanged pixel:
    // B = 0.2 + (0.2 - 0.438) = -0.038 -> 0, G = 0.4 + 0.5 (0.4 - 0.438) = 0.381,
    // R = 0.6 - 0.5 (0.6 - 0.438) = 0.519.
    TBmpHdr image = RowImage({ColorHdr(0.6f, 0.4f, 0.2f, -1.0f)});
    SaturationChannelsHdr(&image, MaxRectHdr, 1.0f, 0.5f, -0.5f);
    const TColorHdr p = image.Pixels[0][0];
    const double y = RefLuminosity(0.2f, 0.4f, 0.6f);
    EXPECT_EQ(p.B, 0.0f);
    EXPECT_EQ(p.G, RefClamp(static_cast<float>(0.4f + 0.5 * (0.4f - y))));
    EXPECT_EQ(p.R, RefClamp(static_cast<float>(0.6f - 0.5 * (0.6f - y))));
    EXPECT_NEAR(p.G, 0.381, 1e-7);
    EXPECT_NEAR(p.R, 0.519, 1e-7);
    EXPECT_EQ(p.A, -1.0f);
    // Amount 1 on every channel, clamped above: Y = 0.099 + 0.531 + 0.03 = 0.66,
    // B = G = 0.9 + 0.24 = 1.14 -> 1, R = 0.1 - 0.56 -> 0.
    TBmpHdr bright = RowImage({ColorHdr(0.1f, 0.9f, 0.9f, 1.0f)});
    SaturationHdr(&bright, MaxRectHdr, 1.0f);
    EXPECT_EQ(bright.Pixels[0][0].B, 1.0f);
    EXPECT_EQ(bright.Pixels[0][0].G, 1.0f);
    EXPECT_EQ(bright.Pixels[0][0].R, 0.0f);
    for (const TColorHdr& c : Colourful) {
        for (float k : {-0.75f, 0.3f, 2.0f}) {
            TBmpHdr one = RowImage({c});
            SaturationHdr(&one, MaxRectHdr, k);
            const double g = RefLuminosity(c.B, c.G, c.R);
            const TColorHdr q = one.Pixels[0][0];
            EXPECT_EQ(q.B, RefClamp(static_cast<float>(c.B + k * (c.B - g))));
            EXPECT_EQ(q.G, RefClamp(static_cast<float>(c.G + k * (c.G - g))));
            EXPECT_EQ(q.R, RefClamp(static_cast<float>(c.R + k * (c.R - g))));
        }
    }
}

TEST(HueHdr, LeavesGreyAloneAndTurnsRedIntoGreenAThirdOfATurnOn)
{
    TBmpHdr grey = RowImage(
        {GrayHdr(0.0f, 1.0f), GrayHdr(0.3f, 7.0f), GrayHdr(1.0f, -1.0f), GrayHdr(2.5f, 0.5f)});
    const TBmpHdr before = Copy(grey);
    HueHdr(&grey, MaxRectHdr, 0.37f);
    EXPECT_TRUE(SameImage(grey, before));
    TBmpHdr red = RowImage({ColorHdr(1.0f, 0.0f, 0.0f, 0.5f)});
    HueHdr(&red, MaxRectHdr, 1.0f / 3.0f);
    ExpectColourNear(red.Pixels[0][0], 0.0f, 1.0f, 0.0f, 1e-6);
    EXPECT_EQ(red.Pixels[0][0].A, 0.5f);
    HueHdr(&red, MaxRectHdr, 1.0f / 3.0f);
    ExpectColourNear(red.Pixels[0][0], 0.0f, 0.0f, 1.0f, 1e-6);  // on to blue
}

TEST(HueHdr, WrapsAroundTheCircle)
{
    // (R 1, G 0, B 0.6): max R, so hue = ((G - B) / 1) / 6 + 1 = 0.9. 0.9 + 0.2 = 1.1 -> 0.1,
    // which HSL (S 1, L 0.5) turns into R 1, G 6 x 0.1 = 0.6, B 0.
    TBmpHdr image = RowImage({ColorHdr(1.0f, 0.0f, 0.6f, 1.0f)});
    HueHdr(&image, MaxRectHdr, 0.2f);
    ExpectColourNear(image.Pixels[0][0], 1.0f, 0.6f, 0.0f, 1e-6);
    // And back: 0.1 - 0.2 = -0.1 -> 0.9.
    HueHdr(&image, MaxRectHdr, -0.2f);
    ExpectColourNear(image.Pixels[0][0], 1.0f, 0.0f, 0.6f, 1e-6);
}

TEST(HueHdr, HalfTurnsCancelAndShiftsAreLimitedToOneTurn)
{
    const TBmpHdr source = RowImage(Colourful);
    TBmpHdr twice = Copy(source);
    HueHdr(&twice, MaxRectHdr, 0.5f);
    HueHdr(&twice, MaxRectHdr, 0.5f);
    TBmpHdr full = Copy(source);
    HueHdr(&full, MaxRectHdr, 1.0f);
    for (std::size_t i = 0; i < Colourful.size(); ++i) {
        const TColorHdr& c = Colourful[i];
        ExpectColourNear(twice.Pixels[0][i], c.R, c.G, c.B, 1e-6);
        ExpectColourNear(full.Pixels[0][i], c.R, c.G, c.B, 1e-6);
        EXPECT_EQ(twice.Pixels[0][i].A, c.A);
    }
    TBmpHdr two = Copy(source);
    HueHdr(&two, MaxRectHdr, 2.0f);
    EXPECT_TRUE(SameImage(two, full));  // 2 is limited to 1
    TBmpHdr minusOne = Copy(source);
    HueHdr(&minusOne, MaxRectHdr, -1.0f);
    TBmpHdr minusFive = Copy(source);
    HueHdr(&minusFive, MaxRectHdr, -5.0f);
    EXPECT_TRUE(SameImage(minusFive, minusOne));
    TBmpHdr nan = Copy(source);
    HueHdr(&nan, MaxRectHdr, NaN);
    EXPECT_TRUE(SameImage(nan, source));
}

TEST(GrayscaleHdr, ModesPickLuminosityAverageMinimumMaximumOrOneChannel)
{
    const TColorHdr source = ColorHdr(0.5f, 2.0f, 0.2f, -1.0f);  // B 0.2, G 2, R 0.5
    // 0.022 + 1.18 + 0.15 = 1.352; (0.5 + 2 + 0.2) / 3 = 0.9.
    const float luminosity = RefLuminosity(0.2f, 2.0f, 0.5f);
    const auto average = static_cast<float>((0.5 + 2.0 + double{0.2f}) / 3.0);
    EXPECT_NEAR(luminosity, 1.352, 1e-6);
    EXPECT_NEAR(average, 0.9, 1e-7);
    const std::pair<std::uint8_t, float> modes[] = {
        {0, luminosity}, {1, average}, {2, 0.2f},       {3, 2.0f},         {4, 0.2f},
        {5, 2.0f},       {6, 0.5f},    {7, luminosity}, {255, luminosity},
    };
    for (const auto& [mode, expected] : modes) {
        TBmpHdr image = RowImage({source});
        GrayscaleHdr(&image, MaxRectHdr, mode);
        const TColorHdr p = image.Pixels[0][0];
        EXPECT_EQ(p.B, expected) << int{mode};
        EXPECT_EQ(p.G, expected) << int{mode};
        EXPECT_EQ(p.R, expected) << int{mode};
        EXPECT_EQ(p.A, -1.0f) << int{mode};
    }
}

TEST(NegativeHdr, InvertsWithoutClampingAndTwiceIsTheIdentity)
{
    TBmpHdr image = RowImage({ColorHdr(1.5f, 0.25f, -2.0f, 7.0f)});
    NegativeHdr(&image, MaxRectHdr);
    EXPECT_EQ(image.Pixels[0][0].R, -0.5f);
    EXPECT_EQ(image.Pixels[0][0].G, 0.75f);
    EXPECT_EQ(image.Pixels[0][0].B, 3.0f);
    EXPECT_EQ(image.Pixels[0][0].A, 7.0f);
    // For k / 256 with k in 0..512, 1 - x = (256 - k) / 256 and 1 - that are both exact, so
    // the second call gives the source back bit for bit.
    std::vector<TColorHdr> steps;
    for (int k = 0; k <= 512; ++k) {
        const float x = static_cast<float>(k) / 256.0f;
        const float y = static_cast<float>(512 - k) / 256.0f;
        steps.push_back(TColorHdr{x, y, static_cast<float>((k * 7) % 513) / 256.0f, -1.0f});
    }
    TBmpHdr ramp = RowImage(steps);
    const TBmpHdr before = Copy(ramp);
    NegativeHdr(&ramp, MaxRectHdr);
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(ramp.Pixels[0][i].B, 1.0f - steps[i].B) << i;
    NegativeHdr(&ramp, MaxRectHdr);
    EXPECT_TRUE(SameImage(ramp, before));
}

TEST(SetAlphaHdr, SetsTheClampedAlphaAndKeepsTheColours)
{
    const std::vector<TColorHdr> source = {ColorHdr(2.5f, NaN, -1.0f, 0.3f),
                                           ColorHdr(0.2f, 0.4f, 0.6f, 7.0f)};
    const std::pair<float, float> cases[] = {
        {1.7f, 1.0f}, {0.25f, 0.25f}, {-0.5f, 0.0f}, {NaN, 0.0f}, {0.0f, 0.0f}};
    for (const auto& [value, expected] : cases) {
        TBmpHdr image = RowImage(source);
        SetAlphaHdr(&image, MaxRectHdr, value);
        for (std::size_t i = 0; i < source.size(); ++i) {
            TColorHdr p = image.Pixels[0][i];
            EXPECT_EQ(p.A, expected) << value;
            p.A = source[i].A;
            EXPECT_TRUE(SamePixel(p, source[i])) << value << " " << i;
        }
    }
}

TEST(FillRectModeHdr, PaintsAddsOrSubtractsTheColourLayer)
{
    const TColorHdr white{1.0f, 1.0f, 1.0f, 1.0f};
    // Normal at opacity 0.5: (1 - 0) 0.5 + 0 = 0.5; the target's alpha stays.
    TBmpHdr black = RowImage({GrayHdr(0.0f, 0.3f)});
    FillRectModeHdr(white, &black, MaxRectHdr, 0, 0.5f);
    EXPECT_TRUE(SamePixel(black.Pixels[0][0], GrayHdr(0.5f, 0.3f)));
    // Subtract white at 0.5: halfway between x and max(x - 1, 0).
    const float xs[] = {0.0f, 0.25f, 1.5f, 3.0f};
    const float halfway[] = {0.0f, 0.125f, 1.0f, 2.5f};
    TBmpHdr image = RowImage(
        {GrayHdr(xs[0], 1.0f), GrayHdr(xs[1], 7.0f), GrayHdr(xs[2], -1.0f), GrayHdr(xs[3], 0.0f)});
    FillRectModeHdr(white, &image, MaxRectHdr, 2, 0.5f);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(image.Pixels[0][i].B, halfway[i]) << xs[i];
        EXPECT_EQ(image.Pixels[0][i].R, halfway[i]) << xs[i];
    }
    EXPECT_EQ(image.Pixels[0][1].A, 7.0f);
    EXPECT_EQ(image.Pixels[0][2].A, -1.0f);
    // Add at full opacity is limited to 1.0, even where the pixel was brighter.
    TBmpHdr bright = RowImage({GrayHdr(3.0f, 1.0f), GrayHdr(0.5f, 1.0f)});
    FillRectModeHdr(GrayHdr(0.25f, 1.0f), &bright, MaxRectHdr, 1, 1.0f);
    EXPECT_EQ(bright.Pixels[0][0].G, 1.0f);
    EXPECT_EQ(bright.Pixels[0][1].G, 0.75f);
    // Opacity 0 or a transparent colour paints nothing.
    TBmpHdr untouched = RowImage({GrayHdr(0.4f, 1.0f)});
    FillRectModeHdr(white, &untouched, MaxRectHdr, 0, 0.0f);
    FillRectModeHdr(GrayHdr(1.0f, 0.0f), &untouched, MaxRectHdr, 0, 1.0f);
    EXPECT_TRUE(SamePixel(untouched.Pixels[0][0], GrayHdr(0.4f, 1.0f)));
}
