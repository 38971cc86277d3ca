#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "TestImages.h"
#include "adjust/ToneCurve.h"
#include "core/BmpHdr.h"

using namespace lumivex;
using lumivex::test::GreyRow;
using lumivex::test::RefClamp;
using lumivex::test::RefPower;
using lumivex::test::SameBits;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr float FloatMax = std::numeric_limits<float>::max();

float RefReinhard(float x)
{
    if (!(x > 0.0f))
        return 0.0f;
    const double u = double{x} / (double{0.53f} + double{x});
    return static_cast<float>(std::exp(double{0.4545f} * std::log(u)));
}

float RefFilmic(float x)
{
    const double shifted = std::max(0.0, double{x} - 0.004);
    const double y = static_cast<float>(double{1.3f} * shifted);
    return static_cast<float>(((6.2 * y + 0.5) * y) / ((6.2 * y + 1.7) * y + 0.06));
}

float RefCurve(std::uint8_t method, float x)
{
    switch (method) {
        case 1:
            return RefPower(x, 0.4545f);
        case 2:
            return RefReinhard(x);
        case 3:
            return RefFilmic(x);
        default:
            return x;
    }
}

float CurveOf(std::uint8_t method, float x)
{
    SelectToneCurve(method);
    return ToneCurve(x);
}

const std::vector<float> Samples = {0.0f,  0.001f, 0.004f, 0.0041f, 0.01f, 0.1f, 0.25f,
                                    0.3f,  0.5f,   0.75f,  1.0f,    1.7f,  3.0f, 12.5f,
                                    100.f, -0.2f,  -3.0f,  1e-30f,  1e5f};

}  // namespace

TEST(ToneConstants, HoldTheirFloatValues)
{
    EXPECT_EQ(GammaExponent, 0.4545f);
    EXPECT_NEAR(double{GammaExponent}, 0.454499989748, 1e-12);  // the float nearest 0.4545
    EXPECT_EQ(ReinhardKey, 0.53f);
    EXPECT_EQ(FilmicScale, 1.3f);
}

TEST(PowerHdr, GivesZeroForNonPositiveBasesAndTheBaseForExponentOne)
{
    EXPECT_EQ(PowerHdr(0.0f, 2.0f), 0.0f);
    EXPECT_EQ(PowerHdr(-0.0f, 0.5f), 0.0f);
    EXPECT_EQ(PowerHdr(-4.0f, 2.0f), 0.0f);  // not 16: negative bases have no real log
    EXPECT_EQ(PowerHdr(NaN, 2.0f), 0.0f);
    EXPECT_EQ(PowerHdr(-Inf, 1.0f), 0.0f);
    EXPECT_EQ(PowerHdr(0.0f, -1.0f), 0.0f);  // not +inf
    // Exponent 1 returns the base untouched, even where exp(ln x) would round differently.
    for (float b : {0.3f, 1e-40f, 3.7f, FloatMax, Inf})
        EXPECT_TRUE(SameBits(PowerHdr(b, 1.0f), b)) << b;
}

TEST(PowerHdr, IsExpOfExponentTimesLogRoundedToFloat)
{
    // 4^0.5 = e^(0.5 ln 4) = 2, 0.25^2 = 0.0625, 8^(1/3) = 2: all within far less than half a
    // float ulp of the exact value, so the float results are exact.
    EXPECT_EQ(PowerHdr(4.0f, 0.5f), 2.0f);
    EXPECT_EQ(PowerHdr(0.25f, 2.0f), 0.0625f);
    EXPECT_EQ(PowerHdr(2.0f, 0.0f), 1.0f);
    EXPECT_EQ(PowerHdr(Inf, 0.5f), Inf);
    EXPECT_EQ(PowerHdr(Inf, -0.5f), 0.0f);
    for (float b : {0.001f, 0.2f, 0.7f, 1.3f, 5.0f, 250.0f}) {
        for (float e : {-2.5f, -1.0f, 0.4545f, 0.5f, 2.2f, 3.0f}) {
            EXPECT_EQ(PowerHdr(b, e), RefPower(b, e)) << b << "^" << e;
            EXPECT_NEAR(PowerHdr(b, e), std::pow(double{b}, double{e}),
                        std::pow(double{b}, double{e}) * 1.2e-7)
                << b << "^" << e;  // the double result rounded once to float
        }
    }
}

TEST(ExposureFactor, IsTwoToTheHalfExposure)
{
    EXPECT_EQ(ExposureFactor(0), 1.0f);
    // 2^(-8/2) = 1/16, 2^(-2/2) = 1/2, 2^(2/2) = 2, 2^(8/2) = 16.
    EXPECT_EQ(ExposureFactor(-8), 0.0625f);
    EXPECT_EQ(ExposureFactor(-2), 0.5f);
    EXPECT_EQ(ExposureFactor(2), 2.0f);
    EXPECT_EQ(ExposureFactor(8), 16.0f);
    for (int e = -8; e <= 8; ++e) {
        const auto exact = static_cast<float>(std::pow(2.0, e / 2.0));
        const float ulp = std::nextafter(exact, Inf) - exact;
        EXPECT_NEAR(ExposureFactor(static_cast<std::int8_t>(e)), exact, ulp) << e;
    }
    // Odd exposures are half stops: 2^(1/2) and 1 / 2^(3/2).
    EXPECT_NEAR(ExposureFactor(1), 1.41421356, 2e-7);
    EXPECT_NEAR(ExposureFactor(-3), 0.35355339, 5e-8);
    // The ends of the 8-bit range do not overflow: 2^63.5 and 2^-64.
    EXPECT_NEAR(ExposureFactor(127) / 1.3043817825332783e19, 1.0, 2e-7);
    EXPECT_EQ(ExposureFactor(-128), 0x1p-64f);
}

TEST(SelectToneCurve, ChoosesGammaReinhardFilmicOrLinear)
{
    // Gamma: 0.25^0.4545 = e^(0.4545 x -1.386294) = e^-0.630071 = 0.532554.
    EXPECT_NEAR(CurveOf(1, 0.25f), 0.5326, 1e-4);
    EXPECT_NEAR(CurveOf(1, 0.25f), 0.532554, 1e-6);
    // Reinhard: 1 / 1.53 = 0.653595, ^0.4545 = e^(0.4545 x -0.425268) = 0.824248.
    EXPECT_NEAR(CurveOf(2, 1.0f), 0.824248, 1e-6);
    // Jim & Richard: y = float(1.3f x 0.996) = 1.2948; (6.2y + 0.5)y = 11.041742,
    // (6.2y + 1.7)y + 0.06 = 12.655502, quotient 0.872486.
    EXPECT_NEAR(CurveOf(3, 1.0f), 0.872486, 1e-6);
    for (std::uint8_t method : {0, 1, 2, 3, 4, 7, 255}) {
        for (float x : Samples) {
            const float expected = RefCurve(method >= 1 && method <= 3 ? method : 0, x);
            EXPECT_TRUE(SameBits(CurveOf(method, x), expected))
                << "method " << int{method} << " x " << x << ": " << CurveOf(method, x)
                << " expected " << expected;
        }
    }
    // Anything but 1..3 is the identity, values outside 0..1 included.
    EXPECT_EQ(CurveOf(7, 3.5f), 3.5f);
    EXPECT_EQ(CurveOf(0, -2.0f), -2.0f);
}

TEST(SelectToneCurve, SendsZeroAndFilmicToesToBlack)
{
    for (std::uint8_t method : {0, 1, 2, 3})
        EXPECT_EQ(CurveOf(method, 0.0f), 0.0f) << int{method};
    for (std::uint8_t method : {1, 2, 3})
        EXPECT_EQ(CurveOf(method, -0.5f), 0.0f) << int{method};
    EXPECT_EQ(CurveOf(1, NaN), 0.0f);
    EXPECT_EQ(CurveOf(2, NaN), 0.0f);
    // Jim & Richard cuts everything up to 0.004 off: y = 1.3 max(0, x - 0.004) = 0 gives 0/0.06.
    // 0.004f itself is 0.0040000002, just above; the float below it is 0.0039999997.
    const float below = std::nextafter(0.004f, 0.0f);
    for (float x : {1e-30f, 0.001f, 0.0039f, below})
        EXPECT_EQ(CurveOf(3, x), 0.0f) << x;
    EXPECT_GT(CurveOf(3, 0.004f), 0.0f);
    EXPECT_GT(CurveOf(3, 0.0041f), 0.0f);
}

TEST(SelectToneCurve, SaturatingCurvesApproachOneFromBelowAndInfinityIsOne)
{
    const float xs[] = {1.0f, 10.0f, 1e3f, 1e6f, 1e12f, 1e20f, 1e30f, 2.6e38f, 3e38f, FloatMax};
    for (std::uint8_t method : {2, 3}) {
        float previous = 0.0f;
        for (float x : xs) {
            const float v = CurveOf(method, x);
            EXPECT_GE(v, previous) << "method " << int{method} << " x " << x;
            EXPECT_LE(v, 1.0f) << "method " << int{method} << " x " << x;
            previous = v;
        }
        EXPECT_GT(CurveOf(method, 1e6f), 0.9999f) << int{method};
        EXPECT_EQ(CurveOf(method, Inf), 1.0f) << int{method};  // inf / inf would be NaN
    }
    EXPECT_LT(CurveOf(2, 1e3f), 1.0f);
    EXPECT_LT(CurveOf(3, 1e3f), 1.0f);
}

TEST(ToneMapHdr, MethodZeroWithoutExposureIsAPureClamp)
{
    TBmpHdr image = GreyRow({1.7f, -0.2f, 0.3f, 1.0f, 0.0f, Inf, -Inf, NaN, 1e-40f}, 7.0f);
    ToneMapHdr(&image, 0, 0, MaxRectHdr);
    const float expected[] = {1.0f, 0.0f, 0.3f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1e-40f};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const TColorHdr& p = image.Pixels[0][i];
        EXPECT_TRUE(SameBits(p.B, expected[i]) && SameBits(p.G, expected[i]) &&
                    SameBits(p.R, expected[i]))
            << i << ": " << p.B << " " << p.G << " " << p.R;
        EXPECT_EQ(p.A, 7.0f);
    }
}

TEST(ToneMapHdr, ScalesByTheExposureThenAppliesTheCurveAndClamps)
{
    // Exposures with exact factors, so the scaled inputs are known without the code.
    const std::pair<std::int8_t, float> exposures[] = {
        {-8, 0.0625f}, {-2, 0.5f}, {0, 1.0f}, {2, 2.0f}, {8, 16.0f}};
    for (std::uint8_t method : {0, 1, 2, 3, 7}) {
        for (const auto& [exposure, k] : exposures) {
            TBmpHdr image = GreyRow(Samples, 7.0f);
            ToneMapHdr(&image, method, exposure, MaxRectHdr);
            for (std::size_t i = 0; i < Samples.size(); ++i) {
                const float expected =
                    RefClamp(RefCurve(method >= 1 && method <= 3 ? method : 0, k * Samples[i]));
                const TColorHdr& p = image.Pixels[0][i];
                EXPECT_TRUE(SameBits(p.B, expected) && SameBits(p.G, expected) &&
                            SameBits(p.R, expected))
                    << "method " << int{method} << " exposure " << int{exposure} << " x "
                    << Samples[i] << ": " << p.B << " expected " << expected;
                EXPECT_EQ(p.A, 7.0f);
            }
        }
    }
    // Each channel through its own value: B 0.25, G 1.7, R 0.125 at exposure 2 (x 2), linear.
    TBmpHdr image;
    image.SetSize(1, 1, ColorHdr(0.125f, 1.7f, 0.25f, -1.0f));
    ToneMapHdr(&image, 0, 2, MaxRectHdr);
    EXPECT_EQ(image.Pixels[0][0].B, 0.5f);
    EXPECT_EQ(image.Pixels[0][0].G, 1.0f);
    EXPECT_EQ(image.Pixels[0][0].R, 0.25f);
    EXPECT_EQ(image.Pixels[0][0].A, -1.0f);
}

TEST(ToneMapHdr, InfinityIsWhiteUnderEveryCurveAndNaNIsBlack)
{
    for (std::uint8_t method : {0, 1, 2, 3}) {
        // 3e38 x 16 overflows to +inf in float before the curve sees it.
        TBmpHdr image = GreyRow({Inf, -Inf, NaN, 3e38f, FloatMax}, 7.0f);
        ToneMapHdr(&image, method, 8, MaxRectHdr);
        const float expected[] = {1.0f, 0.0f, 0.0f, 1.0f, 1.0f};
        for (std::size_t i = 0; i < std::size(expected); ++i)
            EXPECT_EQ(image.Pixels[0][i].G, expected[i]) << int{method} << " " << i;
    }
    // Without exposure the largest finite values stay white too, not NaN turned black.
    for (std::uint8_t method : {2, 3}) {
        TBmpHdr image = GreyRow({3e38f, FloatMax}, 7.0f);
        ToneMapHdr(&image, method, 0, MaxRectHdr);
        EXPECT_GT(image.Pixels[0][0].R, 0.9999f) << int{method};
        EXPECT_GT(image.Pixels[0][1].R, 0.9999f) << int{method};
    }
}

TEST(OffsetHdr, ZeroOffsetChangesNothingAtAll)
{
    TBmpHdr image = GreyRow({3.0f, -2.0f, NaN, -0.0f, Inf}, 7.0f);
    TBmpHdr before;
    before.Assign(&image);
    OffsetHdr(&image, MaxRectHdr, 0.0f);
    OffsetHdr(&image, MaxRectHdr, -0.0f);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(std::memcmp(&image.Pixels[0][i], &before.Pixels[0][i], sizeof(TColorHdr)), 0)
            << i;  // 3.0 stays 3.0, not clamped
}

TEST(OffsetHdr, AddsInDoubleAndClamps)
{
    TBmpHdr image = GreyRow({3.0f, 0.25f, 0.1f, 0.995f, -0.5f, NaN, Inf}, 7.0f);
    OffsetHdr(&image, MaxRectHdr, 0.01f);
    const auto& row = image.Pixels[0];
    EXPECT_EQ(row[0].B, 1.0f);  // 3.01 clamped
    EXPECT_EQ(row[1].G, static_cast<float>(0.25 + double{0.01f}));
    EXPECT_EQ(row[2].R, static_cast<float>(double{0.1f} + double{0.01f}));
    EXPECT_EQ(row[3].B, 1.0f);  // 1.005
    EXPECT_EQ(row[4].G, 0.0f);  // -0.49
    EXPECT_EQ(row[5].R, 0.0f);
    EXPECT_EQ(row[6].B, 1.0f);
    for (const TColorHdr& p : row)
        EXPECT_EQ(p.A, 7.0f);
    TBmpHdr dark = GreyRow({0.5f, 0.75f, 2.0f}, 7.0f);
    OffsetHdr(&dark, MaxRectHdr, -0.75f);
    EXPECT_EQ(dark.Pixels[0][0].B, 0.0f);  // -0.25
    EXPECT_EQ(dark.Pixels[0][1].B, 0.0f);
    EXPECT_EQ(dark.Pixels[0][2].B, 1.0f);  // 1.25
}
