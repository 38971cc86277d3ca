#include "adjust/ColorAdjust.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "adjust/PowerLanes.h"
#include "adjust/ToneCurve.h"

namespace lumivex {
namespace {

using namespace detail;

#pragma GCC diagnostic ignored "-Wpsabi"

// x + amount (x - Y) lane by lane, Y the pixel's grey value rounded to float.
__attribute__((target_clones("avx2", "default"))) void SaturationRow(TColorHdr* row,
                                                                     std::size_t count,
                                                                     const TVec& amount)
{
    const TVecD k = Widen(amount);
    MapBlocks(
        row, count, [&](TVec v) __attribute__((always_inline)) {
            const TVecD x = Widen(v);
            TVecD y;
            for (std::size_t i = 0; i < BlockPixels; ++i) {
                // (0.11 B + 0.59 G) + 0.3 R in lane 0, then spread to all lanes; NaN never
                // survives the clamp, so which NaN an addition keeps does not matter.
                const TPixD w = x.P[i] * TPixD{0.11, 0.59, 0.3, 0.0};
                const TPixD sum = (w + __builtin_shufflevector(w, w, 1, 0, 3, 2)) +
                                  __builtin_shufflevector(w, w, 2, 2, 2, 2);
                const TPixD grey =
                    __builtin_convertvector(__builtin_convertvector(sum, TPix), TPixD);
                y.P[i] = __builtin_shufflevector(grey, grey, 0, 0, 0, 0);
            }
            return ClampLanes(Narrow(x + k * (x - y)));
        });
}

// RGBToHSL, the hue shift and HSLToRGB of core/ with one pixel per lane: 32 pixels' B, G and R
// each in a vector, every branch a select, each lane the scalar routines' operations in their
// order (std::max(a, b) is a < b ? b : a, std::min(a, b) is b < a ? b : a).

/// std::floor lane by lane: zeros keep their sign, and values from 2^23 up in magnitude (and
/// NaN, infinities) are their own floor.
[[gnu::always_inline]] inline TVec8 FloorLanes(const TVec8& t)
{
    const TMask8 small = (t < 8388608.0f) & (t > -8388608.0f);
    const TVec8 whole = Convert<TPix8>(Convert<TPixMask8>(Select(small, t, Splat8(0.0f))));
    const TVec8 down = Select(whole > t, whole - 1.0f, whole);
    return Select(small & ~(t == 0.0f), down, t);
}

[[gnu::always_inline]] inline TVec8 HueToValueLanes(TVec8 t, const TVec8& p, const TVec8& q)
{
    t = t - FloorLanes(t);
    const TVec8 rising = p + (q - p) * 6.0f * t;
    const TVec8 falling = p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
    return Select(6.0f * t < 1.0f, rising,
                  Select(2.0f * t < 1.0f, q, Select(3.0f * t < 2.0f, falling, p)));
}

__attribute__((target_clones("avx2", "default"))) void HueRow(TColorHdr* row, std::size_t count,
                                                              float shift)
{
    constexpr std::size_t Lanes = 32;
    for (std::size_t x = 0; x < count; x += Lanes) {
        const std::size_t n = std::min(Lanes, count - x);
        float channel[3][Lanes] = {};
        for (std::size_t i = 0; i < n; ++i) {
            channel[0][i] = row[x + i].R;
            channel[1][i] = row[x + i].G;
            channel[2][i] = row[x + i].B;
        }
        TVec8 r;
        TVec8 g;
        TVec8 b;
        std::memcpy(&r, channel[0], sizeof r);
        std::memcpy(&g, channel[1], sizeof g);
        std::memcpy(&b, channel[2], sizeof b);

        const TVec8 bg = Select(b < g, g, b);
        const TVec8 maximum = Select(bg < r, r, bg);
        const TVec8 gb = Select(g < b, g, b);
        const TVec8 minimum = Select(r < gb, r, gb);
        const TVec8 l = (maximum + minimum) / 2.0f;
        const TMask8 grey = maximum == minimum;
        const TVec8 d = maximum - minimum;
        // One division each, of the operands the branches would pick.
        const TVec8 s = Select(grey, Splat8(0.0f),
                               d / Select(l >= 0.5f, 2.0f - maximum - minimum, maximum + minimum));
        const TMask8 rMax = r == maximum;
        const TMask8 gMax = g == maximum;
        const TVec8 ratio = Select(rMax, g - b, Select(gMax, b - r, r - g)) / d;
        TVec8 h = Select(rMax, ratio, ratio + Select(gMax, Splat8(2.0f), Splat8(4.0f)));
        h = h / 6.0f;
        h = Select(h < 0.0f, h + 1.0f, h);
        h = Select(grey, Splat8(0.0f), h);

        h = h + shift;
        h = Select(h < 0.0f, h + 1.0f, Select(h > 1.0f, h - 1.0f, h));

        const TMask8 flat = s == 0.0f;
        const TVec8 q = Select(l <= 0.5f, l * (1.0f + s), l + s - l * s);
        const TVec8 p = 2.0f * l - q;
        r = Select(flat, l, HueToValueLanes(h + 1.0f / 3.0f, p, q));
        g = Select(flat, l, HueToValueLanes(h, p, q));
        b = Select(flat, l, HueToValueLanes(h - 1.0f / 3.0f, p, q));

        std::memcpy(channel[0], &r, sizeof r);
        std::memcpy(channel[1], &g, sizeof g);
        std::memcpy(channel[2], &b, sizeof b);
        for (std::size_t i = 0; i < n; ++i) {
            row[x + i].R = channel[0][i];
            row[x + i].G = channel[1][i];
            row[x + i].B = channel[2][i];
        }
    }
}

}  // namespace

float LuminosityHdr(const TColorHdr& p)
{
    return static_cast<float>(0.11 * p.B + 0.59 * p.G + 0.3 * p.R);
}

void SaturationChannelsHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR)
{
    if (amountB == 0.0f && amountG == 0.0f && amountR == 0.0f)
        return;
    TVec amount;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        amount.P[i] = TPix{amountB, amountG, amountR, 0.0f};
    ForEachRowHdr(image, rect,
                  [&](TColorHdr* row, std::size_t count) { SaturationRow(row, count, amount); });
}

void SaturationHdr(TBmpHdr* image, TRect rect, float amount)
{
    SaturationChannelsHdr(image, rect, amount, amount, amount);
}

void HueHdr(TBmpHdr* image, TRect rect, float shift)
{
    if (std::isnan(shift))
        return;
    const float h = std::max(std::min(shift, 1.0f), -1.0f);
    ForEachRowHdr(image, rect, [h](TColorHdr* row, std::size_t count) { HueRow(row, count, h); });
}

void GrayscaleHdr(TBmpHdr* image, TRect rect, std::uint8_t mode)
{
    ForEachPixelHdr(image, rect, [mode](TColorHdr& p) {
        float v = 0.0f;
        switch (static_cast<TGrayMode>(mode)) {
            case TGrayMode::gmAverage:
                v = static_cast<float>((static_cast<double>(p.R) + p.G + p.B) / 3.0);
                break;
            case TGrayMode::gmMinimum:
                v = std::min(std::min(p.B, p.G), p.R);
                break;
            case TGrayMode::gmMaximum:
                v = std::max(std::max(p.B, p.G), p.R);
                break;
            case TGrayMode::gmBlue:
                v = p.B;
                break;
            case TGrayMode::gmGreen:
                v = p.G;
                break;
            case TGrayMode::gmRed:
                v = p.R;
                break;
            default:
                v = LuminosityHdr(p);
                break;
        }
        p.B = p.G = p.R = v;
    });
}

void NegativeHdr(TBmpHdr* image, TRect rect)
{
    ForEachPixelHdr(image, rect, [](TColorHdr& p) {
        p.B = 1.0f - p.B;
        p.G = 1.0f - p.G;
        p.R = 1.0f - p.R;
    });
}

void SetAlphaHdr(TBmpHdr* image, TRect rect, float value)
{
    const float v = ClampHdr(value);
    ForEachPixelHdr(image, rect, [v](TColorHdr& p) { p.A = v; });
}

}  // namespace lumivex
