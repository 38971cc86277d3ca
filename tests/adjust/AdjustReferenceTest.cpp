#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "adjust/ColorAdjust.h"
#include "adjust/HistogramHdr.h"
#include "adjust/PowerLanes.h"
#include "adjust/ToneAdjust.h"
#include "adjust/ToneCurve.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"

// The vectorised kernels against plain single-threaded loops written from the definitions, on
// real pictures, their crops and scalings, and sweeps of float inputs.

using namespace lumivex;
using lumivex::detail::TLaneKind;
using lumivex::test::RefClamp;
using lumivex::test::RefContrast;
using lumivex::test::RefLevelsCurve;
using lumivex::test::RefLevelsLinear;
using lumivex::test::RefPower;
using lumivex::test::RefSCurve;
using lumivex::test::SameBits;

namespace {

const char* KindName(TLaneKind kind)
{
    return kind == TLaneKind::lkAvx512 ? "AVX-512" : kind == TLaneKind::lkFma ? "FMA" : "plain";
}

// ---------------------------------------------------------------------------------------------
// Images

// PFM: "PF" (RGB) or "Pf" (grey), width height, a negative scale for little-endian floats, rows
// bottom-up.
TBmpHdr LoadPfm(const std::string& relative)
{
    std::ifstream in(lumivex::test::TestDataPath(relative), std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    double scale = 0.0;
    in >> magic >> width >> height >> scale;
    in.get();
    const int channels = magic == "PF" ? 3 : 1;
    EXPECT_TRUE((magic == "PF" || magic == "Pf") && scale < 0.0) << relative;
    std::vector<float> data(static_cast<std::size_t>(width) * height * channels);
    in.read(reinterpret_cast<char*>(data.data()),
            static_cast<std::streamsize>(data.size() * sizeof(float)));
    EXPECT_TRUE(in.good()) << relative;
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float* v =
                &data[(static_cast<std::size_t>(height - 1 - y) * width + x) * channels];
            const float r = v[0];
            const float g = channels == 3 ? v[1] : v[0];
            const float b = channels == 3 ? v[2] : v[0];
            image.Pixels[y][x] = ColorHdr(r, g, b, 0.25f + 0.01f * static_cast<float>(x % 7));
        }
    return image;
}

TBmpHdr Crop(const TBmpHdr& source, TRect rect)
{
    TBmpHdr crop;
    crop.SetSize(rect.Width(), rect.Height(), clNoneHdr);
    CopyRectHdr(&source, rect, &crop, 0, 0, MaxRectHdr);
    return crop;
}

TBmpHdr Scaled(const TBmpHdr& source, float factor)
{
    TBmpHdr image;
    image.Assign(&source);
    for (auto& row : image.Pixels)
        for (TColorHdr& p : row) {
            p.B *= factor;
            p.G *= factor;
            p.R *= factor;
        }
    return image;
}

// Random bit patterns: every exponent range, NaN payloads, infinities, subnormals and both zeros
// turn up. mt19937 output is fixed by the standard.
TBmpHdr BitsImage(int width, int height, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    auto value = [&]() { return std::bit_cast<float>(static_cast<std::uint32_t>(gen())); };
    return test::GeneratedImage(width, height, value);
}

// Few distinct values, so ties between channels (greys, equal maxima), signed zeros, NaN and
// infinities meet in one pixel.
TBmpHdr TiesImage(int width, int height, std::uint32_t seed)
{
    const float pool[] = {0.0f, -0.0f, 0.5f, 1.0f, -1.0f, 2.0f, NAN, INFINITY, -INFINITY, 0.25f};
    std::mt19937 gen(seed);
    auto value = [&]() { return pool[gen() % std::size(pool)]; };
    return test::GeneratedImage(width, height, value);
}

std::vector<TBmpHdr> RealImages()
{
    std::vector<TBmpHdr> images;
    images.reserve(16);  // sunset below must stay where it is
    images.push_back(LoadPfm("hdr/sunset_160x80.pfm"));
    images.push_back(LoadPfm("hdr/synthetic_nan_inf_8x8.pfm"));
    images.push_back(LoadPfm("hdr/synthetic_ramp_signed_64x16.pfm"));
    images.push_back(LoadPfm("hdr/synthetic_grey_ramp_16x16.pfm"));
    const TBmpHdr& sunset = images[0];
    images.push_back(Scaled(sunset, 0.02f));  // mostly below 0.5: the other side of the curves
    images.push_back(Scaled(sunset, 37.0f));
    images.push_back(Crop(sunset, TRect{100, 10, 101, 70}));  // one column
    images.push_back(Crop(sunset, TRect{13, 40, 150, 41}));   // one row
    images.push_back(Crop(sunset, TRect{9, 3, 46, 15}));      // 37 x 12
    images.push_back(Crop(sunset, TRect{0, 0, 1, 1}));
    images.push_back(BitsImage(129, 33, 7u));
    images.push_back(TiesImage(67, 9, 5u));
    return images;
}

// ---------------------------------------------------------------------------------------------
// The definitions, one value at a time

float RefCurve(int method, float x)
{
    switch (method) {
        case 1:
            return RefPower(x, 0.4545f);
        case 2: {
            if (!(x > 0.0f))
                return 0.0f;
            if (std::isinf(x))
                return 1.0f;
            const double u = double{x} / (double{0.53f} + x);
            return static_cast<float>(std::exp(double{0.4545f} * std::log(u)));
        }
        case 3: {
            const double shifted = double{x} - 0.004;
            const double y = static_cast<float>(double{1.3f} * (0.0 > shifted ? 0.0 : shifted));
            if (std::isinf(y))
                return 1.0f;
            return static_cast<float>(((6.2 * y + 0.5) * y) / ((6.2 * y + 1.7) * y + 0.06));
        }
        default:
            return x;
    }
}

float RefBrightness(float x, float k)
{
    if (k == 0.0f)
        return x;
    if (k <= 0.0f)
        return RefClamp(static_cast<float>(double{x} * k + x));
    return RefClamp(static_cast<float>((1.0 - x) * k + x));
}

float RefLevels(float x, const TLevels& s)
{
    const auto e = static_cast<float>(1.0 / s.Gamma);
    if (!(x > s.InLow))
        return s.OutLow;
    if (x >= s.InHigh)
        return s.OutHigh;
    const auto in = static_cast<float>(double{s.InHigh} - s.InLow);
    const auto out = static_cast<float>(double{s.OutHigh} - s.OutLow);
    return static_cast<float>(
        s.OutLow + double{out} * RefPower(static_cast<float>((double{x} - s.InLow) / in), e));
}

// std::max and std::min as the definition uses them: the first argument wins unless the second
// compares greater (smaller).
float Max(float a, float b) { return a < b ? b : a; }
float Min(float a, float b) { return b < a ? b : a; }

void RefHue(TColorHdr& px, float shift)
{
    const float r = px.R;
    const float g = px.G;
    const float b = px.B;
    const float mx = Max(Max(b, g), r);
    const float mn = Min(Min(b, g), r);
    const float l = (mx + mn) / 2.0f;
    float h = 0.0f;
    float s = 0.0f;
    if (mx != mn) {
        const float d = mx - mn;
        s = l >= 0.5f ? d / (2.0f - mx - mn) : d / (mx + mn);
        if (r == mx)
            h = (g - b) / d;
        else if (g == mx)
            h = (b - r) / d + 2.0f;
        else
            h = (r - g) / d + 4.0f;
        h = h / 6.0f;
        if (h < 0.0f)
            h = h + 1.0f;
    }
    h = h + Max(Min(shift, 1.0f), -1.0f);
    if (h < 0.0f)
        h = h + 1.0f;
    else if (h > 1.0f)
        h = h - 1.0f;
    if (s == 0.0f) {
        px.R = px.G = px.B = l;
        return;
    }
    const float q = l <= 0.5f ? l * (1.0f + s) : l + s - l * s;
    const float p = 2.0f * l - q;
    auto value = [p, q](float t) {
        t = t - std::floor(t);
        if (6.0f * t < 1.0f)
            return p + (q - p) * 6.0f * t;
        if (2.0f * t < 1.0f)
            return q;
        if (3.0f * t < 2.0f)
            return p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
        return p;
    };
    px.R = value(h + 1.0f / 3.0f);
    px.G = value(h);
    px.B = value(h - 1.0f / 3.0f);
}

// One value map per channel, the plain walk of the definition.
void RefMap(TBmpHdr& image, TRect rect, const std::function<void(TColorHdr&)>& pixel)
{
    rect = IntersectRect(rect, image.GetBounds());
    for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x)
            pixel(image.Pixels[y][x]);
}

struct TCase {
    std::string Name;
    std::function<void(TBmpHdr*, TRect)> Engine;
    std::function<void(TColorHdr&)> Reference;
};

std::vector<TCase> Cases()
{
    std::vector<TCase> cases;
    for (int method = 0; method <= 3; ++method)
        for (const int exposure : {-5, 0, 3, 8}) {
            const float k = ExposureFactor(static_cast<std::int8_t>(exposure));
            cases.push_back(
                {"ToneMapHdr " + std::to_string(method) + " " + std::to_string(exposure),
                 [method, exposure](TBmpHdr* i, TRect rc) {
                     ToneMapHdr(i, static_cast<std::uint8_t>(method),
                                static_cast<std::int8_t>(exposure), rc);
                 },
                 [method, k](TColorHdr& p) {
                     p.B = RefClamp(RefCurve(method, k * p.B));
                     p.G = RefClamp(RefCurve(method, k * p.G));
                     p.R = RefClamp(RefCurve(method, k * p.R));
                 }});
        }
    for (const float o : {0.1f, -0.37f})
        cases.push_back({"OffsetHdr", [o](TBmpHdr* i, TRect rc) { OffsetHdr(i, rc, o); },
                         [o](TColorHdr& p) {
                             p.B = RefClamp(static_cast<float>(p.B + double{o}));
                             p.G = RefClamp(static_cast<float>(p.G + double{o}));
                             p.R = RefClamp(static_cast<float>(p.R + double{o}));
                         }});
    cases.push_back({"BrightnessHdr",
                     [](TBmpHdr* i, TRect rc) { BrightnessHdr(i, rc, -0.3f, 0.0f, 0.5f); },
                     [](TColorHdr& p) {
                         p.B = RefBrightness(p.B, -0.3f);
                         p.G = RefBrightness(p.G, 0.0f);
                         p.R = RefBrightness(p.R, 0.5f);
                     }});
    cases.push_back({"ContrastChannelsHdr",
                     [](TBmpHdr* i, TRect rc) { ContrastChannelsHdr(i, rc, 0.5f, -0.3f, 1.0f); },
                     [](TColorHdr& p) {
                         p.B = RefContrast(p.B, 0.5f);
                         p.G = RefContrast(p.G, -0.3f);
                         p.R = RefContrast(p.R, 1.0f);
                     }});
    cases.push_back({"GammaHdr", [](TBmpHdr* i, TRect rc) { GammaHdr(i, rc, 2.2f, 0.5f, 1.0f); },
                     [](TColorHdr& p) {
                         p.B = RefPower(p.B, static_cast<float>(1.0 / 2.2f));
                         p.G = RefPower(p.G, static_cast<float>(1.0 / 0.5f));
                         p.R = RefPower(p.R, 1.0f);
                     }});
    cases.push_back({"GammaHdr strong",
                     [](TBmpHdr* i, TRect rc) { GammaHdr(i, rc, 0.04f, 25.0f, 0.3f); },
                     [](TColorHdr& p) {
                         p.B = RefPower(p.B, static_cast<float>(1.0 / 0.04f));
                         p.G = RefPower(p.G, static_cast<float>(1.0 / 25.0f));
                         p.R = RefPower(p.R, static_cast<float>(1.0 / 0.3f));
                     }});
    cases.push_back({"SCurveHdr", [](TBmpHdr* i, TRect rc) { SCurveHdr(i, rc, 2.0f, 0.5f, 3.0f); },
                     [](TColorHdr& p) {
                         p.B = RefSCurve(p.B, 2.0f);
                         p.G = RefSCurve(p.G, 0.5f);
                         p.R = RefSCurve(p.R, 3.0f);
                     }});
    for (const float pivot : {0.1f, 0.4f, 0.9f})
        cases.push_back(
            {"LevelsLinearHdr",
             [pivot](TBmpHdr* i, TRect rc) { LevelsLinearHdr(i, rc, 0.1f, 0.9f, pivot, 0.3f); },
             [pivot](TColorHdr& p) {
                 p.B = RefLevelsLinear(p.B, 0.1f, 0.9f, pivot, 0.3f);
                 p.G = RefLevelsLinear(p.G, 0.1f, 0.9f, pivot, 0.3f);
                 p.R = RefLevelsLinear(p.R, 0.1f, 0.9f, pivot, 0.3f);
             }});
    for (const float pivot : {0.1f, 0.4f, 0.9f})
        cases.push_back(
            {"LevelsCurveHdr",
             [pivot](TBmpHdr* i, TRect rc) { LevelsCurveHdr(i, rc, 0.1f, 0.9f, pivot, 2.0f); },
             [pivot](TColorHdr& p) {
                 p.B = RefLevelsCurve(p.B, 0.1f, 0.9f, pivot, 2.0f);
                 p.G = RefLevelsCurve(p.G, 0.1f, 0.9f, pivot, 2.0f);
                 p.R = RefLevelsCurve(p.R, 0.1f, 0.9f, pivot, 2.0f);
             }});
    cases.push_back({"SaturationChannelsHdr",
                     [](TBmpHdr* i, TRect rc) { SaturationChannelsHdr(i, rc, 0.5f, -0.4f, 1.2f); },
                     [](TColorHdr& p) {
                         const double y = static_cast<float>(0.11 * p.B + 0.59 * p.G + 0.3 * p.R);
                         p.B = RefClamp(static_cast<float>(p.B + 0.5f * (p.B - y)));
                         p.G = RefClamp(static_cast<float>(p.G + double{-0.4f} * (p.G - y)));
                         p.R = RefClamp(static_cast<float>(p.R + double{1.2f} * (p.R - y)));
                     }});
    for (const float shift : {0.3f, -0.45f, 1.0f, -1.0f, 0.0f, -0.0f, 1e-7f})
        cases.push_back({"HueHdr", [shift](TBmpHdr* i, TRect rc) { HueHdr(i, rc, shift); },
                         [shift](TColorHdr& p) { RefHue(p, shift); }});
    const TLevels blue{1.5f, 0.1f, 0.9f, 0.05f, 0.95f};
    const TLevels green{0.7f, 0.0f, 0.8f, 0.0f, 1.0f};
    const TLevels red{};
    cases.push_back({"ChannelLevelsHdr",
                     [=](TBmpHdr* i, TRect rc) { ChannelLevelsHdr(i, rc, blue, green, red); },
                     [=](TColorHdr& p) {
                         p.B = RefLevels(p.B, blue);
                         p.G = RefLevels(p.G, green);
                         p.R = RefLevels(p.R, red);
                     }});
    return cases;
}

class AdjustReference : public testing::Test {
protected:
    void TearDown() override
    {
        SetThreadCount(0);
        detail::LaneLimit = TLaneKind::lkAvx512;
    }
};

}  // namespace

TEST_F(AdjustReference, EveryKernelEqualsThePlainWalkOnRealImagesForAnyThreadCount)
{
    const std::vector<TBmpHdr> images = RealImages();
    const std::vector<TCase> cases = Cases();
    int index = 0;
    for (const TBmpHdr& source : images) {
        const int w = source.Width();
        const int h = source.Height();
        const TRect rects[] = {MaxRectHdr, TRect{w / 5, h / 4, w - w / 3, h - h / 5},
                               TRect{-7, h / 3, w / 2 + 1, h + 40}};
        for (const TCase& c : cases) {
            const TRect rect = rects[index++ % 3];
            TBmpHdr expect;
            expect.Assign(&source);
            RefMap(expect, rect, c.Reference);
            for (const int threads : {1, 2, 7}) {
                SetThreadCount(threads);
                TBmpHdr image;
                image.Assign(&source);
                c.Engine(&image, rect);
                EXPECT_TRUE(SameBits(image, expect))
                    << c.Name << " on " << w << " x " << h << ", rect " << rect.Left << " "
                    << rect.Top << " " << rect.Right << " " << rect.Bottom << ", " << threads
                    << " threads";
            }
        }
    }
}

// LogLanes reads infinity as 2^1024: a small exponent must still give infinity, not 2^41.
TEST_F(AdjustReference, InfiniteBasesStayInfiniteUnderEverySmallExponent)
{
    for (const float gamma : {25.0f, 2.2f, 1.01f, 0.04f, -3.0f}) {
        TBmpHdr image;
        image.SetSize(5, 1, GrayHdr(INFINITY, 1.0f));
        GammaHdr(&image, MaxRectHdr, gamma, gamma, gamma);
        const float expect = RefPower(INFINITY, static_cast<float>(1.0 / gamma));
        for (const TColorHdr& p : image.Pixels[0])
            EXPECT_TRUE(SameBits(p.B, expect) && SameBits(p.G, expect) && SameBits(p.R, expect))
                << "gamma " << gamma << ": " << p.G;
    }
}

// The exp and log kernels pack B, G, R of 16 pixels into three vectors, so every width up to
// three chunks, and a region starting inside a row, meets each tail length and channel phase;
// random bits bring NaN, infinities, negatives and subnormals into every lane. Every kernel
// version the processor runs (they gather the values differently).
TEST_F(AdjustReference, EveryKernelEqualsThePlainWalkForEveryShortWidthAndPhase)
{
    const std::vector<TCase> cases = Cases();
    const TBmpHdr bits = BitsImage(53, 3, 99u);
    const TBmpHdr sunset = Crop(RealImages()[0], TRect{20, 30, 73, 33});
    for (const TBmpHdr* source : {&bits, &sunset})
        for (int width = 1; width <= 49; ++width)
            for (const TCase& c : cases) {
                const TRect rect{width % 5, width % 3, width % 5 + width, 3};
                TBmpHdr expect;
                expect.Assign(source);
                RefMap(expect, rect, c.Reference);
                for (const TLaneKind kind :
                     {TLaneKind::lkAvx512, TLaneKind::lkFma, TLaneKind::lkPlain}) {
                    detail::LaneLimit = kind;
                    SetThreadCount(kind == TLaneKind::lkFma ? 2 : 1);
                    TBmpHdr image;
                    image.Assign(source);
                    c.Engine(&image, rect);
                    EXPECT_TRUE(SameBits(image, expect))
                        << c.Name << ", width " << width << ", " << KindName(kind) << " kernels";
                }
            }
}

namespace {

// Positive finite floats from their bit patterns first .. first + count - 1 (stepping over
// NaN and infinity), three per pixel.
TBmpHdr FloatRange(std::uint32_t first, std::uint32_t count)
{
    const std::uint32_t pixels = (count + 2) / 3;
    const int width = 4096;
    const int height = static_cast<int>((pixels + width - 1) / width);
    TBmpHdr image;
    image.SetSize(width, height, GrayHdr(1.0f, 1.0f));
    std::uint32_t bits = first;
    for (std::uint32_t i = 0; i < count; ++i, ++bits) {
        TColorHdr& p = image.Pixels[(i / 3) / width][(i / 3) % width];
        const float v = std::bit_cast<float>(bits % 0x7F800000u);
        (i % 3 == 0 ? p.B : i % 3 == 1 ? p.G : p.R) = v;
    }
    return image;
}

// Gamma with the same reciprocal on all channels, and the Reinhard curve, against the scalar
// definitions on every value of the image; counts the mismatches.
std::int64_t PowerMismatches(const TBmpHdr& source, float gamma)
{
    const auto e = static_cast<float>(1.0 / gamma);
    TBmpHdr image;
    image.Assign(&source);
    GammaHdr(&image, MaxRectHdr, gamma, gamma, gamma);
    TBmpHdr mapped;
    mapped.Assign(&source);
    ToneMapHdr(&mapped, 2, 0, MaxRectHdr);
    std::int64_t wrong = 0;
    for (std::size_t y = 0; y < source.Pixels.size(); ++y)
        for (std::size_t x = 0; x < source.Pixels[y].size(); ++x) {
            const TColorHdr& s = source.Pixels[y][x];
            const TColorHdr& g = image.Pixels[y][x];
            const TColorHdr& m = mapped.Pixels[y][x];
            wrong += !SameBits(g.B, RefPower(s.B, e)) + !SameBits(g.G, RefPower(s.G, e)) +
                     !SameBits(g.R, RefPower(s.R, e));
            wrong += !SameBits(m.B, RefClamp(RefCurve(2, s.B))) +
                     !SameBits(m.G, RefClamp(RefCurve(2, s.G))) +
                     !SameBits(m.R, RefClamp(RefCurve(2, s.R)));
        }
    return wrong;
}

// Half of the values uniform over the bit patterns of positive floats, half uniform in 0..2.
TBmpHdr RandomSweep(std::uint32_t seed, std::int32_t width, std::int32_t height)
{
    std::mt19937 gen(seed);
    TBmpHdr source;
    source.SetSize(width, height, GrayHdr(1.0f, 1.0f));
    const auto value = [&]() {
        const auto u = static_cast<std::uint32_t>(gen());
        return (u & 1u) != 0u ? std::bit_cast<float>((u >> 1) % 0x7F800000u)
                              : 2.0f * static_cast<float>(u >> 8) / 16777216.0f;
    };
    for (auto& row : source.Pixels)
        for (TColorHdr& p : row)
            p = TColorHdr{value(), value(), value(), 1.0f};
    return source;
}

}  // namespace

TEST_F(AdjustReference, PowerEqualsTheScalarExpAndLogOnARandomSweep)
{
    // Bases from every exponent range and exponents the dialogs reach (gamma 0.04..25, and the
    // reciprocals that appear in levels and S-curve).
    const TBmpHdr source = RandomSweep(1234u, 2048, 256);
    for (const float gamma : {2.2f, 0.04f, 25.0f, 0.5f, 1.0f / 0.4545f, 3.7f, 0.9999f})
        for (const int threads : {1, 2}) {
            SetThreadCount(threads);
            EXPECT_EQ(PowerMismatches(source, gamma), 0)
                << "gamma " << gamma << ", " << threads << " threads";
        }
}

// The log and exp of both kernel versions where they could go wrong: 129 mantissas across a binade
// (both sides of each, the split at sqrt 2 among them) in many binades, exact powers of two, the
// neighbours of 1, the smallest and largest floats, and exponents far from the gamma curve's,
// whose t nears +-87.
TEST_F(AdjustReference, PowerEqualsTheScalarExpAndLogAtEdgesAndFarExponents)
{
    std::vector<float> bases;
    for (int k = -149; k <= 127; ++k)
        bases.push_back(std::ldexp(1.0f, k));
    for (int point = 0; point <= 128; ++point) {
        const float edge =
            point == 128 ? std::sqrt(2.0f) : 1.0f + static_cast<float>(point) / 128.0f;
        for (const int k : {-140, -100, -60, -20, -3, 0, 1, 5, 40, 90, 126}) {
            const auto bits = std::bit_cast<std::uint32_t>(std::ldexp(edge, k));
            for (std::uint32_t step = 0; step < 5; ++step)
                bases.push_back(std::bit_cast<float>(bits + step - 2u));
        }
    }
    for (std::uint32_t step = 0; step < 64; ++step) {
        bases.push_back(std::bit_cast<float>(std::bit_cast<std::uint32_t>(1.0f) + step));
        bases.push_back(std::bit_cast<float>(std::bit_cast<std::uint32_t>(1.0f) - step));
    }
    for (const float v : {std::numeric_limits<float>::denorm_min(),
                          std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::infinity(), 0.5f, 2.0f, 0.1f, 10.0f})
        bases.push_back(v);
    TBmpHdr source;
    const int width = 512;
    source.SetSize(width, static_cast<int>((bases.size() + 3 * width - 1) / (3 * width)),
                   GrayHdr(1.0f, 1.0f));
    for (std::size_t i = 0; i < bases.size(); ++i) {
        TColorHdr& p = source.Pixels[i / 3 / width][i / 3 % width];
        (i % 3 == 0 ? p.B : i % 3 == 1 ? p.G : p.R) = bases[i];
    }
    for (const TLaneKind kind : {TLaneKind::lkAvx512, TLaneKind::lkFma, TLaneKind::lkPlain}) {
        detail::LaneLimit = kind;
        for (const float exponent : {0.4545f, 1e-4f, 0.01f, 0.3f, 0.999f, 1.001f, 2.0f, 7.5f, 40.0f,
                                     150.0f, 1000.0f, 1e5f, -0.5f, -7.0f, -60.0f, -1000.0f}) {
            // GammaHdr raises to 1 / gamma, rounded to float: find the gamma that gives exponent.
            const auto gamma = static_cast<float>(1.0 / exponent);
            const auto e = static_cast<float>(1.0 / gamma);
            TBmpHdr image;
            image.Assign(&source);
            GammaHdr(&image, MaxRectHdr, gamma, gamma, gamma);
            std::int64_t wrong = 0;
            for (std::size_t y = 0; y < source.Pixels.size(); ++y)
                for (std::size_t x = 0; x < source.Pixels[y].size(); ++x) {
                    const TColorHdr& s = source.Pixels[y][x];
                    const TColorHdr& g = image.Pixels[y][x];
                    wrong += !SameBits(g.B, RefPower(s.B, e)) + !SameBits(g.G, RefPower(s.G, e)) +
                             !SameBits(g.R, RefPower(s.R, e));
                }
            EXPECT_EQ(wrong, 0) << "exponent " << e << ", " << KindName(kind) << " kernels";
        }
    }
    detail::LaneLimit = TLaneKind::lkAvx512;
}

// The lesser kernels, which processors without AVX-512 or FMA run, on the random sweep.
TEST_F(AdjustReference, LesserPowerKernelsEqualTheScalarExpAndLogOnARandomSweep)
{
    const TBmpHdr source = RandomSweep(4321u, 1024, 64);
    for (const TLaneKind kind : {TLaneKind::lkFma, TLaneKind::lkPlain}) {
        detail::LaneLimit = kind;
        for (const float gamma : {2.2f, 0.04f, 25.0f})
            EXPECT_EQ(PowerMismatches(source, gamma), 0)
                << "gamma " << gamma << ", " << KindName(kind) << " kernels";
    }
    detail::LaneLimit = TLaneKind::lkAvx512;
}

// Every positive float; about a minute per exponent on two cores. Run by hand with
// --gtest_also_run_disabled_tests --gtest_filter=*Exhaustive*.
TEST_F(AdjustReference, DISABLED_PowerEqualsTheScalarExpAndLogOnEveryFloat)
{
    SetThreadCount(0);
    constexpr std::uint32_t Chunk = 3u * 4096u * 4096u;
    for (const float gamma : {1.0f / 0.4545f, 2.2f, 0.5f}) {
        std::int64_t wrong = 0;
        for (std::uint64_t first = 0; first < 0x7F800000u; first += Chunk) {
            const auto count =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(Chunk, 0x7F800000u - first));
            wrong += PowerMismatches(FloatRange(static_cast<std::uint32_t>(first), count), gamma);
        }
        EXPECT_EQ(wrong, 0) << "gamma " << gamma;
    }
}
