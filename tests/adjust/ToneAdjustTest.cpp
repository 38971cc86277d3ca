#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "TestImages.h"
#include "adjust/ToneAdjust.h"
#include "core/BmpHdr.h"

using namespace lumivex;
using lumivex::test::GreyRow;
using lumivex::test::RefClamp;
using lumivex::test::RefContrast;
using lumivex::test::RefLevelsCurve;
using lumivex::test::RefLevelsLinear;
using lumivex::test::RefPower;
using lumivex::test::RefSCurve;
using lumivex::test::SameBits;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

float RefBrightness(float x, float k)
{
    if (k <= 0.0f)
        return RefClamp(static_cast<float>(double{x} * k + x));
    return RefClamp(static_cast<float>((1.0 - x) * k + x));
}

bool Unchanged(const TBmpHdr& image, const std::vector<float>& values)
{
    for (std::size_t i = 0; i < values.size(); ++i) {
        const TColorHdr& p = image.Pixels[0][i];
        if (!SameBits(p.B, values[i]) || !SameBits(p.G, values[i]) || !SameBits(p.R, values[i]) ||
            p.A != 7.0f)
            return false;
    }
    return true;
}

// Checks B, G, R of every pixel against the reference of its own input, and alpha 7.
template <typename TRef>
void ExpectRow(const TBmpHdr& image, const std::vector<float>& inputs, TRef ref)
{
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const float expected = ref(inputs[i]);
        const TColorHdr& p = image.Pixels[0][i];
        EXPECT_TRUE(SameBits(p.B, expected) && SameBits(p.G, expected) && SameBits(p.R, expected))
            << "input " << inputs[i] << ": " << p.B << " " << p.G << " " << p.R << ", expected "
            << expected;
        EXPECT_EQ(p.A, 7.0f);
    }
}

TColorHdr OnePixel(TColorHdr p, const std::function<void(TBmpHdr*)>& operation)
{
    TBmpHdr image;
    image.SetSize(1, 1, p);
    operation(&image);
    return image.Pixels[0][0];
}

const std::vector<float> Inputs = {0.0f, 0.05f, 0.1f, 0.2f,  0.25f, 0.3f,  0.4f,    0.45f,
                                   0.5f, 0.55f, 0.6f, 0.7f,  0.75f, 0.8f,  0.9f,    0.95f,
                                   1.0f, 1.4f,  2.5f, -0.3f, -2.0f, 1e-6f, 0.99999f};

}  // namespace

TEST(BrightnessValue, ScalesTowardsBlackOrMovesTowardsWhiteAndClamps)
{
    EXPECT_EQ(BrightnessValue(0.5f, -0.5f), 0.25f);  // 0.5 x -0.5 + 0.5
    EXPECT_EQ(BrightnessValue(0.5f, 0.5f), 0.75f);   // (1 - 0.5) 0.5 + 0.5
    EXPECT_EQ(BrightnessValue(0.5f, -1.0f), 0.0f);
    EXPECT_EQ(BrightnessValue(0.5f, 1.0f), 1.0f);
    EXPECT_EQ(BrightnessValue(2.0f, -0.25f), 1.0f);  // 1.5 clamped
    EXPECT_EQ(BrightnessValue(-0.5f, 0.5f), 0.25f);  // 1.5 x 0.5 - 0.5
    EXPECT_EQ(BrightnessValue(0.3f, 0.0f), 0.3f);    // k = 0 takes the scaling branch
    EXPECT_EQ(BrightnessValue(2.5f, 0.0f), 1.0f);    // and clamps
    EXPECT_EQ(BrightnessValue(NaN, 0.5f), 0.0f);
    for (float x : Inputs)
        for (float k : {-1.0f, -0.7f, -0.13f, 0.01f, 0.3f, 0.77f, 1.0f, 2.0f})
            EXPECT_TRUE(SameBits(BrightnessValue(x, k), RefBrightness(x, k))) << x << " " << k;
}

TEST(BrightnessHdr, ZeroAmountsLeaveTheirChannelsAlone)
{
    const std::vector<float> values = {2.5f, -1.0f, NaN, 0.3f};
    TBmpHdr image = GreyRow(values, 7.0f);
    BrightnessHdr(&image, MaxRectHdr, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(Unchanged(image, values));  // 2.5 stays 2.5
    // Only blue moves: (1 - 2.5) 0.01 + 2.5 = 2.485, clamped; green and red keep 2.5.
    const TColorHdr p = OnePixel(
        GrayHdr(2.5f, 0.5f), [](TBmpHdr* i) { BrightnessHdr(i, MaxRectHdr, 0.01f, 0.0f, 0.0f); });
    EXPECT_EQ(p.B, 1.0f);
    EXPECT_EQ(p.G, 2.5f);
    EXPECT_EQ(p.R, 2.5f);
    EXPECT_EQ(p.A, 0.5f);
}

TEST(BrightnessHdr, TakesAmountsInBlueGreenRedOrder)
{
    const TColorHdr p = OnePixel(
        GrayHdr(0.5f, 1.0f), [](TBmpHdr* i) { BrightnessHdr(i, MaxRectHdr, -0.5f, 0.5f, 1.0f); });
    EXPECT_EQ(p.B, 0.25f);
    EXPECT_EQ(p.G, 0.75f);
    EXPECT_EQ(p.R, 1.0f);
    TBmpHdr image = GreyRow(Inputs, 7.0f);
    BrightnessHdr(&image, MaxRectHdr, -0.3f, -0.3f, -0.3f);
    ExpectRow(image, Inputs, [](float x) { return RefBrightness(x, -0.3f); });
    image = GreyRow(Inputs, 7.0f);
    BrightnessHdr(&image, MaxRectHdr, 0.45f, 0.45f, 0.45f);
    ExpectRow(image, Inputs, [](float x) { return RefBrightness(x, 0.45f); });
}

TEST(ContrastValue, StretchesDistancesFromHalfAndClamps)
{
    EXPECT_EQ(ContrastValue(0.75f, 1.0f), 1.0f);   // 0.25 x 1 + 0.75
    EXPECT_EQ(ContrastValue(0.25f, -1.0f), 0.5f);  // -0.25 x -1 + 0.25
    EXPECT_EQ(ContrastValue(0.25f, 1.0f), 0.0f);
    EXPECT_EQ(ContrastValue(0.625f, 0.5f), 0.6875f);  // 0.125 x 0.5 + 0.625
    EXPECT_EQ(ContrastValue(0.9f, 1.0f), 1.0f);       // 1.3 clamped
    EXPECT_EQ(ContrastValue(0.1f, 1.0f), 0.0f);       // -0.3 clamped
    EXPECT_EQ(ContrastValue(NaN, 1.0f), 0.0f);
    for (float k : {-1.0f, 0.0f, 0.5f, 3.0f})
        EXPECT_EQ(ContrastValue(0.5f, k), 0.5f) << k;  // the fixed point
    for (float x : Inputs)
        for (float k : {-1.0f, -0.4f, 0.0f, 0.2f, 0.9f, 2.5f})
            EXPECT_TRUE(SameBits(ContrastValue(x, k), RefContrast(x, k))) << x << " " << k;
}

TEST(ContrastChannelsHdr, ZeroAmountsChangeNothingAndChannelsComeBlueFirst)
{
    const std::vector<float> values = {2.5f, -1.0f, NaN, 0.3f};
    TBmpHdr image = GreyRow(values, 7.0f);
    ContrastChannelsHdr(&image, MaxRectHdr, 0.0f, 0.0f, 0.0f);
    ContrastHdr(&image, MaxRectHdr, 0.0f);
    EXPECT_TRUE(Unchanged(image, values));
    const TColorHdr p = OnePixel(GrayHdr(0.75f, 1.0f), [](TBmpHdr* i) {
        ContrastChannelsHdr(i, MaxRectHdr, 1.0f, 0.0f, -1.0f);
    });
    EXPECT_EQ(p.B, 1.0f);
    EXPECT_EQ(p.G, 0.75f);
    EXPECT_EQ(p.R, 0.5f);
}

TEST(ContrastHdr, UsesOneAmountForAllChannels)
{
    for (float k : {-0.6f, 0.35f, 1.5f}) {
        TBmpHdr image = GreyRow(Inputs, 7.0f);
        ContrastHdr(&image, MaxRectHdr, k);
        ExpectRow(image, Inputs, [k](float x) { return RefContrast(x, k); });
    }
}

TEST(GammaHdr, RaisesToTheReciprocalGammaWithoutClamping)
{
    // 0.25^(1/2) = 0.5 and 4^(1/2) = 2: within far less than half an ulp of exact.
    TBmpHdr image = GreyRow({0.25f, 4.0f, 0.0f, -0.5f, NaN, 1.0f, Inf}, 7.0f);
    GammaHdr(&image, MaxRectHdr, 2.0f, 2.0f, 2.0f);
    const float expected[] = {0.5f, 2.0f, 0.0f, 0.0f, 0.0f, 1.0f, Inf};
    for (std::size_t i = 0; i < 7; ++i) {
        const TColorHdr& p = image.Pixels[0][i];
        EXPECT_TRUE(p.B == expected[i] && p.G == expected[i] && p.R == expected[i]) << i;
        EXPECT_EQ(p.A, 7.0f);
    }
    const TColorHdr q = OnePixel(GrayHdr(0.25f, 1.0f),
                                 [](TBmpHdr* i) { GammaHdr(i, MaxRectHdr, 2.0f, 1.0f, 0.5f); });
    EXPECT_EQ(q.B, 0.5f);
    EXPECT_EQ(q.G, 0.25f);    // exponent 1 returns the value itself
    EXPECT_EQ(q.R, 0.0625f);  // 0.25^2
    for (float g : {2.2f, 0.45f, 3.0f, -1.5f}) {
        TBmpHdr row = GreyRow(Inputs, 7.0f);
        GammaHdr(&row, MaxRectHdr, g, g, g);
        const auto e = static_cast<float>(1.0 / g);  // the reciprocal is rounded to float first
        ExpectRow(row, Inputs, [e](float x) { return RefPower(x, e); });
    }
}

TEST(GammaHdr, AnyZeroGammaChangesNothing)
{
    const std::vector<float> values = {0.25f, 4.0f, -1.0f, NaN};
    for (int zero = 0; zero < 3; ++zero) {
        float g[3] = {2.0f, 0.5f, 3.0f};
        g[zero] = 0.0f;
        TBmpHdr image = GreyRow(values, 7.0f);
        GammaHdr(&image, MaxRectHdr, g[0], g[1], g[2]);
        EXPECT_TRUE(Unchanged(image, values)) << zero;
    }
}

TEST(SCurveValue, BendsBothHalvesTowardsTheirEnds)
{
    EXPECT_EQ(SCurveValue(0.25f, 2.0f), 0.125f);  // (2 x 0.25)^2 / 2
    EXPECT_EQ(SCurveValue(0.75f, 2.0f), 0.875f);  // 1 - (2 x 0.25)^2 / 2
    EXPECT_EQ(SCurveValue(0.5f, 3.0f), 0.5f);     // 1^p / 2
    EXPECT_EQ(SCurveValue(0.0f, 2.0f), 0.0f);
    EXPECT_EQ(SCurveValue(1.0f, 2.0f), 1.0f);
    EXPECT_EQ(SCurveValue(NaN, 2.0f), 0.0f);
    EXPECT_EQ(SCurveValue(-0.3f, 0.5f), 0.0f);
    // Above 1 the mirrored base is negative, so the power is 0 and the value 1 for every p.
    for (float p : {-2.0f, 0.0f, 0.5f, 1.0f, 2.0f, 7.0f, NaN})
        EXPECT_EQ(SCurveValue(1.4f, p), 1.0f) << p;
    for (float x : Inputs)
        for (float p : {0.3f, 0.5f, 1.0f, 1.7f, 2.0f, 4.0f})
            EXPECT_TRUE(SameBits(SCurveValue(x, p), RefSCurve(x, p))) << x << " " << p;
}

TEST(SCurveHdr, AppliesPowersBlueFirstAndAnyZeroPowerChangesNothing)
{
    const TColorHdr p = OnePixel(GrayHdr(0.25f, 1.0f),
                                 [](TBmpHdr* i) { SCurveHdr(i, MaxRectHdr, 2.0f, 1.0f, 3.0f); });
    EXPECT_EQ(p.B, 0.125f);
    EXPECT_EQ(p.G, 0.25f);
    EXPECT_EQ(p.R, static_cast<float>(RefPower(0.5f, 3.0f) / 2.0));  // about 0.0625
    EXPECT_NEAR(p.R, 0.0625, 1e-8);
    const std::vector<float> values = {0.25f, 2.5f, -1.0f, NaN};
    for (int zero = 0; zero < 3; ++zero) {
        float powers[3] = {2.0f, 0.5f, 3.0f};
        powers[zero] = 0.0f;
        TBmpHdr image = GreyRow(values, 7.0f);
        SCurveHdr(&image, MaxRectHdr, powers[0], powers[1], powers[2]);
        EXPECT_TRUE(Unchanged(image, values)) << zero;
    }
    TBmpHdr image = GreyRow(Inputs, 7.0f);
    SCurveHdr(&image, MaxRectHdr, 1.8f, 1.8f, 1.8f);
    ExpectRow(image, Inputs, [](float x) { return RefSCurve(x, 1.8f); });
}

TEST(SliderToFactor, MapsMinusHundredToHundredOntoAFifthToFive)
{
    EXPECT_EQ(SliderToFactor(-100.0f), 0.2f);  // -100 / 125 + 1
    EXPECT_EQ(SliderToFactor(-50.0f), 0.6f);
    EXPECT_EQ(SliderToFactor(0.0f), 1.0f);
    EXPECT_EQ(SliderToFactor(25.0f), 2.0f);  // 25 / 25 + 1
    EXPECT_EQ(SliderToFactor(50.0f), 3.0f);
    EXPECT_EQ(SliderToFactor(100.0f), 5.0f);
    EXPECT_EQ(SliderToFactor(-125.0f), 0.0f);
    EXPECT_EQ(SliderToFactor(-1.0f), static_cast<float>(-1.0 / 125.0 + 1.0));
    EXPECT_EQ(SliderToFactor(1.0f), static_cast<float>(1.0 / 25.0 + 1.0));
}

TEST(LevelsLinearHdr, ALowPivotScalesTheWholeIntervalAboutItsTop)
{
    // (0, 0.2, pivot 0, amount 0.5): x := 0.2 - (0.2 - x) 0.5.
    const std::vector<float> in = {0.0f, 0.1f, 0.2f, 0.3f, -0.1f, 2.0f, NaN};
    TBmpHdr image = GreyRow(in, 7.0f);
    LevelsLinearHdr(&image, MaxRectHdr, 0.0f, 0.2f, 0.0f, 0.5f);
    const auto& row = image.Pixels[0];
    EXPECT_EQ(row[0].B, 0.1f);  // 0.2f / 2 is exactly 0.1f
    EXPECT_NEAR(row[1].G, 0.15, 1e-8);
    EXPECT_EQ(row[1].G, static_cast<float>(double{0.2f} - (double{0.2f} - 0.1f) * 0.5));
    EXPECT_EQ(row[2].R, 0.2f);
    ExpectRow(image, in, [](float x) { return RefLevelsLinear(x, 0.0f, 0.2f, 0.0f, 0.5f); });
    EXPECT_TRUE(std::isnan(row[6].B));  // outside every interval, so untouched
}

TEST(LevelsLinearHdr, AHighPivotScalesTheWholeIntervalAboutItsBottomAndClamps)
{
    // (0.8, 1, pivot 1, amount 0.5): x := 0.8 + (x - 0.8) 1.5, clamped.
    const std::vector<float> in = {0.9f, 1.0f, 1.5f, 0.8f, 0.5f};
    TBmpHdr image = GreyRow(in, 7.0f);
    LevelsLinearHdr(&image, MaxRectHdr, 0.8f, 1.0f, 1.0f, 0.5f);
    const auto& row = image.Pixels[0];
    EXPECT_NEAR(row[0].B, 0.95, 1e-7);
    EXPECT_EQ(row[1].B, 1.0f);  // 1.1 clamped
    EXPECT_EQ(row[2].B, 1.5f);  // outside the interval
    EXPECT_EQ(row[3].B, 0.8f);
    EXPECT_EQ(row[4].B, 0.5f);
    ExpectRow(image, in, [](float x) { return RefLevelsLinear(x, 0.8f, 1.0f, 1.0f, 0.5f); });
}

TEST(LevelsLinearHdr, AnInteriorPivotSplitsTheInterval)
{
    // (0.25, 0.75, pivot 0.5, amount 0.5): 0.375 -> 0.25 + 0.125 x 1.5 = 0.4375,
    // 0.625 -> 0.75 - 0.125 x 0.5 = 0.6875, 0.5 -> 0.25 + 0.25 x 1.5 = 0.625.
    const std::vector<float> in = {0.375f, 0.625f, 0.5f, 0.25f, 0.75f, 0.2f};
    TBmpHdr image = GreyRow(in, 7.0f);
    LevelsLinearHdr(&image, MaxRectHdr, 0.25f, 0.75f, 0.5f, 0.5f);
    const float expected[] = {0.4375f, 0.6875f, 0.625f, 0.25f, 0.75f, 0.2f};
    for (std::size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(image.Pixels[0][i].G, expected[i]) << i;
    for (float amount : {-1.0f, -0.3f, 0.7f, 2.0f}) {
        TBmpHdr row = GreyRow(Inputs, 7.0f);
        LevelsLinearHdr(&row, MaxRectHdr, 0.1f, 0.9f, 0.45f, amount);
        ExpectRow(row, Inputs,
                  [amount](float x) { return RefLevelsLinear(x, 0.1f, 0.9f, 0.45f, amount); });
    }
}

TEST(LevelsLinearHdr, InvalidSettingsChangeNothing)
{
    struct TCase {
        float Low, High, Pivot, Amount;
    };
    const TCase cases[] = {
        {0.0f, 1.0f, 0.5f, 0.0f},   // amount 0
        {-0.1f, 0.5f, 0.2f, 0.5f},  // low below 0
        {0.2f, 1.1f, 0.5f, 0.5f},   // high above 1
        {0.5f, 0.5f, 0.5f, 0.5f},   // low = high
        {0.6f, 0.4f, 0.5f, 0.5f},   // low > high
        {0.0f, 0.0f, 0.0f, 0.5f},   // high 0
        {0.2f, 0.6f, 0.1f, 0.5f},   // pivot below low
        {0.2f, 0.6f, 0.7f, 0.5f},   // pivot above high
        {NaN, 0.6f, 0.3f, 0.5f},   {0.2f, NaN, 0.3f, 0.5f}, {0.2f, 0.6f, NaN, 0.5f},
    };
    for (const TCase& c : cases) {
        TBmpHdr image = GreyRow(Inputs, 7.0f);
        LevelsLinearHdr(&image, MaxRectHdr, c.Low, c.High, c.Pivot, c.Amount);
        EXPECT_TRUE(Unchanged(image, Inputs)) << c.Low << " " << c.High << " " << c.Pivot;
    }
}

TEST(LevelsCurveHdr, BendsEachSideOfThePivotWithTheEndsFixed)
{
    // (0, 0.5, pivot 0.5, exponent 2): e = 0.5; 0.125 -> 0 + 0.5 x 0.25^0.5 = 0.25.
    const std::vector<float> in = {0.125f, 0.0f, 0.5f, 0.7f, -0.1f};
    TBmpHdr image = GreyRow(in, 7.0f);
    LevelsCurveHdr(&image, MaxRectHdr, 0.0f, 0.5f, 0.5f, 2.0f);
    const float expected[] = {0.25f, 0.0f, 0.5f, 0.7f, -0.1f};
    for (std::size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(image.Pixels[0][i].R, expected[i]) << i;
    // (0.25, 0.75, pivot 0.5, exponent 2): L = H = 0.25; 0.3125 -> 0.25 + 0.25 x 0.25^0.5 =
    // 0.375, 0.6875 -> 0.75 - 0.25 x 0.25^0.5 = 0.625, the pivot stays.
    TBmpHdr mid = GreyRow({0.3125f, 0.6875f, 0.5f, 0.25f, 0.75f}, 7.0f);
    LevelsCurveHdr(&mid, MaxRectHdr, 0.25f, 0.75f, 0.5f, 2.0f);
    const float midExpected[] = {0.375f, 0.625f, 0.5f, 0.25f, 0.75f};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(mid.Pixels[0][i].B, midExpected[i]) << i;
    // Pivot at low: everything is bent about high; 0.75 -> 1 - 1 x 0.25^0.5 = 0.5.
    TBmpHdr low = GreyRow({0.75f, 0.0f, 1.0f}, 7.0f);
    LevelsCurveHdr(&low, MaxRectHdr, 0.0f, 1.0f, 0.0f, 2.0f);
    EXPECT_EQ(low.Pixels[0][0].G, 0.5f);
    EXPECT_EQ(low.Pixels[0][1].G, 0.0f);
    EXPECT_EQ(low.Pixels[0][2].G, 1.0f);
    for (float exponent : {0.5f, 2.2f, 3.0f, -1.5f}) {
        TBmpHdr row = GreyRow(Inputs, 7.0f);
        LevelsCurveHdr(&row, MaxRectHdr, 0.1f, 0.9f, 0.35f, exponent);
        ExpectRow(row, Inputs,
                  [exponent](float x) { return RefLevelsCurve(x, 0.1f, 0.9f, 0.35f, exponent); });
    }
}

TEST(LevelsCurveHdr, DoesNotClampAndIgnoresInvalidSettings)
{
    // Exponent -1: 0.125 -> 0.5 x 0.25^-1 = 2, kept above 1.
    TBmpHdr image = GreyRow({0.125f}, 7.0f);
    LevelsCurveHdr(&image, MaxRectHdr, 0.0f, 0.5f, 0.5f, -1.0f);
    EXPECT_EQ(image.Pixels[0][0].B, 2.0f);
    struct TCase {
        float Low, High, Pivot, Exponent;
    };
    const TCase cases[] = {
        {0.0f, 1.0f, 0.5f, 0.0f}, {0.0f, 1.0f, 0.5f, 1.0f}, {-0.1f, 0.5f, 0.2f, 2.0f},
        {0.2f, 1.1f, 0.5f, 2.0f}, {0.5f, 0.5f, 0.5f, 2.0f}, {0.6f, 0.4f, 0.5f, 2.0f},
        {0.2f, 0.6f, 0.1f, 2.0f}, {0.2f, 0.6f, 0.7f, 2.0f}, {0.2f, 0.6f, NaN, 2.0f},
    };
    for (const TCase& c : cases) {
        TBmpHdr row = GreyRow(Inputs, 7.0f);
        LevelsCurveHdr(&row, MaxRectHdr, c.Low, c.High, c.Pivot, c.Exponent);
        EXPECT_TRUE(Unchanged(row, Inputs))
            << c.Low << " " << c.High << " " << c.Pivot << " " << c.Exponent;
    }
}
