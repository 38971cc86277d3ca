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
__attribute__((target_clones("avx2", "default"))) void SaturationRowPlain(TColorHdr* row,
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
template <typename F>
[[gnu::always_inline]] inline F FloorLanes(const F& t)
{
    using TNative = std::remove_cvref_t<decltype(t.P[0])>;
    const TMaskLanes<F> small = (t < 8388608.0f) & (t > -8388608.0f);
    const F whole = Convert<TNative>(Convert<TMaskOf<TNative>>(Select(small, t, Splat<F>(0.0f))));
    const F down = Select(whole > t, whole - 1.0f, whole);
    return Select(small & ~(t == 0.0f), down, t);
}

template <typename F>
[[gnu::always_inline]] inline F HueToValueLanes(F t, const F& p, const F& q)
{
    t = t - FloorLanes(t);
    const F rising = p + (q - p) * 6.0f * t;
    const F falling = p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
    return Select(6.0f * t < 1.0f, rising,
                  Select(2.0f * t < 1.0f, q, Select(3.0f * t < 2.0f, falling, p)));
}

/// The hue shift of 32 pixels whose R, G, B are the lanes of r, g, b.
template <typename F>
[[gnu::always_inline]] inline void HueLanes(F& r, F& g, F& b, float shift)
{
    using M = TMaskLanes<F>;
    const F bg = Select(b < g, g, b);
    const F maximum = Select(bg < r, r, bg);
    const F gb = Select(g < b, g, b);
    const F minimum = Select(r < gb, r, gb);
    const F l = (maximum + minimum) / 2.0f;
    const M grey = maximum == minimum;
    const F d = maximum - minimum;
    // One division each, of the operands the branches would pick.
    const F s = Select(grey, Splat<F>(0.0f),
                       d / Select(l >= 0.5f, 2.0f - maximum - minimum, maximum + minimum));
    const M rMax = r == maximum;
    const M gMax = g == maximum;
    const F ratio = Select(rMax, g - b, Select(gMax, b - r, r - g)) / d;
    F h = Select(rMax, ratio, ratio + Select(gMax, Splat<F>(2.0f), Splat<F>(4.0f)));
    h = h / 6.0f;
    h = Select(h < 0.0f, h + 1.0f, h);
    h = Select(grey, Splat<F>(0.0f), h);

    h = h + shift;
    h = Select(h < 0.0f, h + 1.0f, Select(h > 1.0f, h - 1.0f, h));

    const M flat = s == 0.0f;
    const F q = Select(l <= 0.5f, l * (1.0f + s), l + s - l * s);
    const F p = 2.0f * l - q;
    r = Select(flat, l, HueToValueLanes(h + 1.0f / 3.0f, p, q));
    g = Select(flat, l, HueToValueLanes(h, p, q));
    b = Select(flat, l, HueToValueLanes(h - 1.0f / 3.0f, p, q));
}

/// Pixels 4Q .. 4Q + 3 of a group of sixteen from their B, G, R lanes and the alpha of `pixels`,
/// the four pixels as loaded.
template <int Q>
[[gnu::always_inline]] inline TPix16 InterleaveQuad(const TPix16& b, const TPix16& g,
                                                    const TPix16& r, const TPix16& pixels)
{
    constexpr int P = 4 * Q;
    const TPix16 bg = __builtin_shufflevector(b, g, P, 16 + P, 0, 0, P + 1, 17 + P, 0, 0, P + 2,
                                              18 + P, 0, 0, P + 3, 19 + P, 0, 0);
    const TPix16 bgr = __builtin_shufflevector(bg, r, 0, 1, 16 + P, 0, 4, 5, 17 + P, 0, 8, 9,
                                               18 + P, 0, 12, 13, 19 + P, 0);
    return __builtin_shufflevector(bgr, pixels, 0, 1, 2, 19, 4, 5, 6, 23, 8, 9, 10, 27, 12, 13, 14,
                                   31);
}

/// map(r, g, b) on 32 whole pixels, their R, G, B each in two vectors of sixteen floats; the
/// channels are gathered and put back by shuffles rather than through memory, where narrow
/// stores would stall wide loads. Alpha is kept.
template <typename TMap>
[[gnu::always_inline]] inline void MapPlanarChunk32(TColorHdr* pixels, TMap map)
{
    using F = TWide<TPix16, 2>;
    TPix16 v[2][4];
    std::memcpy(v, pixels, sizeof v);
    F r;
    F g;
    F b;
    for (int half = 0; half < 2; ++half) {
        const TPix16* w = v[half];
        // Pixels 0..7 from the first two vectors, 8..15 from the last two: R and G, then B.
        const TPix16 rgLow = __builtin_shufflevector(w[0], w[1], 2, 6, 10, 14, 18, 22, 26, 30, 1, 5,
                                                     9, 13, 17, 21, 25, 29);
        const TPix16 rgHigh = __builtin_shufflevector(w[2], w[3], 2, 6, 10, 14, 18, 22, 26, 30, 1,
                                                      5, 9, 13, 17, 21, 25, 29);
        const TPix16 bLow = __builtin_shufflevector(w[0], w[1], 0, 4, 8, 12, 16, 20, 24, 28, 0, 4,
                                                    8, 12, 16, 20, 24, 28);
        const TPix16 bHigh = __builtin_shufflevector(w[2], w[3], 0, 4, 8, 12, 16, 20, 24, 28, 0, 4,
                                                     8, 12, 16, 20, 24, 28);
        r.P[half] = __builtin_shufflevector(rgLow, rgHigh, 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19,
                                            20, 21, 22, 23);
        g.P[half] = __builtin_shufflevector(rgLow, rgHigh, 8, 9, 10, 11, 12, 13, 14, 15, 24, 25, 26,
                                            27, 28, 29, 30, 31);
        b.P[half] = __builtin_shufflevector(bLow, bHigh, 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20,
                                            21, 22, 23);
    }
    map(r, g, b);
    for (int half = 0; half < 2; ++half) {
        TPix16* w = v[half];
        w[0] = InterleaveQuad<0>(b.P[half], g.P[half], r.P[half], w[0]);
        w[1] = InterleaveQuad<1>(b.P[half], g.P[half], r.P[half], w[1]);
        w[2] = InterleaveQuad<2>(b.P[half], g.P[half], r.P[half], w[2]);
        w[3] = InterleaveQuad<3>(b.P[half], g.P[half], r.P[half], w[3]);
    }
    std::memcpy(static_cast<void*>(pixels), v, sizeof v);
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void HueRowAvx512(TColorHdr* row,
                                                                                std::size_t count,
                                                                                float shift)
{
    ForEachChunk<32>(
        row, count, [shift](TColorHdr * pixels) __attribute__((always_inline)) {
            MapPlanarChunk32(
                pixels, [shift](auto& r, auto& g, auto& b)
                            __attribute__((always_inline)) { HueLanes(r, g, b, shift); });
        });
}

/// SaturationRowPlain with one pixel per lane: the same double operations on each channel.
__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void SaturationRowAvx512(
    TColorHdr* row, std::size_t count, const TVec& amount)
{
    const TVecD8 kb = SplatD<TVecD8>(amount.P[0][0]);
    const TVecD8 kg = SplatD<TVecD8>(amount.P[0][1]);
    const TVecD8 kr = SplatD<TVecD8>(amount.P[0][2]);
    ForEachChunk<32>(
        row, count, [&](TColorHdr * pixels) __attribute__((always_inline)) {
            MapPlanarChunk32(
                pixels, [&](auto& r, auto& g, auto& b) __attribute__((always_inline)) {
                    for (int half = 0; half < 2; ++half) {
                        const TVecD8 bd = WidenTo<TVecD8>(TVec16{{b.P[half]}});
                        const TVecD8 gd = WidenTo<TVecD8>(TVec16{{g.P[half]}});
                        const TVecD8 rd = WidenTo<TVecD8>(TVec16{{r.P[half]}});
                        const TVecD8 y =
                            WidenTo<TVecD8>(NarrowTo<TVec16>((bd * 0.11 + gd * 0.59) + rd * 0.3));
                        b.P[half] = ClampLanes(NarrowTo<TVec16>(bd + kb * (bd - y))).P[0];
                        g.P[half] = ClampLanes(NarrowTo<TVec16>(gd + kg * (gd - y))).P[0];
                        r.P[half] = ClampLanes(NarrowTo<TVec16>(rd + kr * (rd - y))).P[0];
                    }
                });
        });
}

__attribute__((target_clones("avx2", "default"))) void HueRowPlain(TColorHdr* row,
                                                                   std::size_t count, float shift)
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
        HueLanes(r, g, b, shift);
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

void SaturationRow(TColorHdr* row, std::size_t count, const TVec& amount)
{
    if (LaneKind() == TLaneKind::lkAvx512)
        SaturationRowAvx512(row, count, amount);
    else
        SaturationRowPlain(row, count, amount);
}

void HueRow(TColorHdr* row, std::size_t count, float shift)
{
    if (LaneKind() == TLaneKind::lkAvx512)
        HueRowAvx512(row, count, shift);
    else
        HueRowPlain(row, count, shift);
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
