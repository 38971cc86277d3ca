#include "adjust/ToneAdjust.h"

#include "adjust/PowerLanes.h"
#include "adjust/ToneCurve.h"

namespace lumivex {
namespace {

using namespace detail;

#pragma GCC diagnostic ignored "-Wpsabi"

/// B, G, R, A lanes of every pixel of a block from per-channel values (alpha's is unused).
TVec ChannelLanes(float b, float g, float r)
{
    TVec v;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        v.P[i] = TPix{b, g, r, 0.0f};
    return v;
}

// Each kernel computes lane by lane what the scalar value routine of the definition computes for
// that channel.
__attribute__((target_clones("avx2", "default"))) void BrightnessRow(TColorHdr* row,
                                                                     std::size_t count,
                                                                     const TVec& amount)
{
    const TVecD k = Widen(amount);
    const TMask zero = amount == 0.0f;
    const TMaskD dark = Convert<TPixMaskD>(amount <= 0.0f);
    MapBlocks(
        row, count, [&](TVec v) __attribute__((always_inline)) {
            const TVecD x = Widen(v);
            const TVecD darker = x * k + x;
            const TVecD lighter = (1.0 - x) * k + x;
            return Select(zero, v, ClampLanes(Narrow(Select(dark, darker, lighter))));
        });
}

__attribute__((target_clones("avx2", "default"))) void ContrastRow(TColorHdr* row,
                                                                   std::size_t count,
                                                                   const TVec& amount)
{
    const TVecD k = Widen(amount);
    MapBlocks(
        row, count, [&](TVec v) __attribute__((always_inline)) {
            const TVecD x = Widen(v);
            return ClampLanes(Narrow((x - 0.5) * k + x));
        });
}

template <bool Fma>
[[gnu::always_inline]] inline void GammaRowOf(TColorHdr* row, std::size_t count,
                                              const TChannelValues& reciprocal)
{
    MapColourValues(
        row, count, [&](TVec v, int phase) __attribute__((always_inline)) {
            return PowerHdrLanes<Fma>(v, reciprocal.Phase[phase], AllLanes);
        });
}

__attribute__((target("avx2,fma"))) void GammaRowFma(TColorHdr* row, std::size_t count,
                                                     const TChannelValues& reciprocal)
{
    GammaRowOf<true>(row, count, reciprocal);
}

__attribute__((target_clones("avx2", "default"))) void GammaRowPlain(
    TColorHdr* row, std::size_t count, const TChannelValues& reciprocal)
{
    GammaRowOf<false>(row, count, reciprocal);
}

void GammaRow(TColorHdr* row, std::size_t count, const TChannelValues& reciprocal)
{
    if (FmaLanes())
        GammaRowFma(row, count, reciprocal);
    else
        GammaRowPlain(row, count, reciprocal);
}

template <bool Fma>
[[gnu::always_inline]] inline void SCurveRowOf(TColorHdr* row, std::size_t count,
                                               const TChannelValues& power)
{
    MapColourValues(
        row, count, [&](TVec v, int phase) __attribute__((always_inline)) {
            const TVecD x = Widen(v);
            const TMask low = ~(v > 0.5f);
            const TVec base = Select(low, Narrow(2.0 * x), Narrow(2.0 * (1.0 - x)));
            const TVecD p = Widen(PowerHdrLanes<Fma>(base, power.Phase[phase], AllLanes));
            return Select(low, Narrow(p / 2.0), Narrow(1.0 - p / 2.0));
        });
}

__attribute__((target("avx2,fma"))) void SCurveRowFma(TColorHdr* row, std::size_t count,
                                                      const TChannelValues& power)
{
    SCurveRowOf<true>(row, count, power);
}

__attribute__((target_clones("avx2", "default"))) void SCurveRowPlain(TColorHdr* row,
                                                                      std::size_t count,
                                                                      const TChannelValues& power)
{
    SCurveRowOf<false>(row, count, power);
}

void SCurveRow(TColorHdr* row, std::size_t count, const TChannelValues& power)
{
    if (FmaLanes())
        SCurveRowFma(row, count, power);
    else
        SCurveRowPlain(row, count, power);
}

__attribute__((target_clones("avx2", "default"))) void LevelsLinearRow(TColorHdr* row,
                                                                       std::size_t count, float low,
                                                                       float high, float pivot,
                                                                       float amount)
{
    const double lo = low;
    const double hi = high;
    const double up = 1.0 + static_cast<double>(amount);
    const double down = 1.0 - static_cast<double>(amount);
    const std::int32_t lowSegment = pivot > low ? -1 : 0;
    MapBlocks(
        row, count, [&](TVec v) __attribute__((always_inline)) {
            const TVecD x = Widen(v);
            const TMask inside = (v >= low) & (v <= high);
            const TMask first = (v <= pivot) & lowSegment;
            const TVec scaled = Select(first, ClampLanes(Narrow(lo + (x - lo) * up)),
                                       ClampLanes(Narrow(hi - (hi - x) * down)));
            return Select(inside, scaled, v);
        });
}

template <bool Fma>
[[gnu::always_inline]] inline void LevelsCurveRowOf(TColorHdr* row, std::size_t count, float low,
                                                    float high, float pivot, float l, float h,
                                                    float e)
{
    const double lo = low;
    const double hi = high;
    const double dl = l;
    const double dh = h;
    const TVec ev = Splat(e);
    const std::int32_t lowSegment = l > 0.0f ? -1 : 0;
    MapColourValues(
        row, count, [&](TVec v, int) __attribute__((always_inline)) {
            const TVecD x = Widen(v);
            const TMask inside = (v >= low) & (v <= high);
            const TMask first = (v <= pivot) & lowSegment;
            const TVec base = Select(first, Narrow((x - lo) / dl), Narrow((hi - x) / dh));
            const TVecD p = Widen(PowerHdrLanes<Fma>(base, ev, inside));
            return Select(inside, Select(first, Narrow(lo + dl * p), Narrow(hi - dh * p)), v);
        });
}

__attribute__((target("avx2,fma"))) void LevelsCurveRowFma(TColorHdr* row, std::size_t count,
                                                           float low, float high, float pivot,
                                                           float l, float h, float e)
{
    LevelsCurveRowOf<true>(row, count, low, high, pivot, l, h, e);
}

__attribute__((target_clones("avx2", "default"))) void LevelsCurveRowPlain(TColorHdr* row,
                                                                           std::size_t count,
                                                                           float low, float high,
                                                                           float pivot, float l,
                                                                           float h, float e)
{
    LevelsCurveRowOf<false>(row, count, low, high, pivot, l, h, e);
}

void LevelsCurveRow(TColorHdr* row, std::size_t count, float low, float high, float pivot, float l,
                    float h, float e)
{
    if (FmaLanes())
        LevelsCurveRowFma(row, count, low, high, pivot, l, h, e);
    else
        LevelsCurveRowPlain(row, count, low, high, pivot, l, h, e);
}

bool InUnitRange(float v) { return v >= 0.0f && v <= 1.0f; }

bool ValidInterval(float low, float high, float pivot)
{
    return InUnitRange(low) && InUnitRange(high) && low < high && pivot >= low && pivot <= high;
}

}  // namespace

float BrightnessValue(float x, float k)
{
    const double dx = x;
    const double dk = k;
    if (k <= 0.0f)
        return ClampHdr(static_cast<float>(dx * dk + dx));
    return ClampHdr(static_cast<float>((1.0 - dx) * dk + dx));
}

float ContrastValue(float x, float k)
{
    const double dx = x;
    return ClampHdr(static_cast<float>((dx - 0.5) * k + dx));
}

float SCurveValue(float x, float p)
{
    if (!(x > 0.5f))
        return static_cast<float>(PowerHdr(static_cast<float>(2.0 * x), p) / 2.0);
    return static_cast<float>(1.0 - PowerHdr(static_cast<float>(2.0 * (1.0 - x)), p) / 2.0);
}

float SliderToFactor(float position)
{
    const double v = position;
    return static_cast<float>(v < 0.0 ? v / 125.0 + 1.0 : v / 25.0 + 1.0);
}

void BrightnessHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR)
{
    if (amountB == 0.0f && amountG == 0.0f && amountR == 0.0f)
        return;
    // A zero amount leaves its channel alone; BrightnessValue(x, 0) would clamp it.
    const TVec amount = ChannelLanes(amountB, amountG, amountR);
    ForEachRowHdr(image, rect,
                  [&](TColorHdr* row, std::size_t count) { BrightnessRow(row, count, amount); });
}

void ContrastChannelsHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR)
{
    if (amountB == 0.0f && amountG == 0.0f && amountR == 0.0f)
        return;
    const TVec amount = ChannelLanes(amountB, amountG, amountR);
    ForEachRowHdr(image, rect,
                  [&](TColorHdr* row, std::size_t count) { ContrastRow(row, count, amount); });
}

void ContrastHdr(TBmpHdr* image, TRect rect, float amount)
{
    ContrastChannelsHdr(image, rect, amount, amount, amount);
}

void GammaHdr(TBmpHdr* image, TRect rect, float gammaB, float gammaG, float gammaR)
{
    if (gammaB == 0.0f || gammaG == 0.0f || gammaR == 0.0f)
        return;
    const TChannelValues reciprocal(static_cast<float>(1.0 / gammaB),
                                    static_cast<float>(1.0 / gammaG),
                                    static_cast<float>(1.0 / gammaR));
    ForEachRowHdr(image, rect,
                  [&](TColorHdr* row, std::size_t count) { GammaRow(row, count, reciprocal); });
}

void SCurveHdr(TBmpHdr* image, TRect rect, float powerB, float powerG, float powerR)
{
    if (powerB == 0.0f || powerG == 0.0f || powerR == 0.0f)
        return;
    const TChannelValues power(powerB, powerG, powerR);
    ForEachRowHdr(image, rect,
                  [&](TColorHdr* row, std::size_t count) { SCurveRow(row, count, power); });
}

void LevelsLinearHdr(TBmpHdr* image, TRect rect, float low, float high, float pivot, float amount)
{
    if (amount == 0.0f || !ValidInterval(low, high, pivot))
        return;
    ForEachRowHdr(image, rect, [&](TColorHdr* row, std::size_t count) {
        LevelsLinearRow(row, count, low, high, pivot, amount);
    });
}

void LevelsCurveHdr(TBmpHdr* image, TRect rect, float low, float high, float pivot, float exponent)
{
    if (exponent == 0.0f || exponent == 1.0f || !ValidInterval(low, high, pivot))
        return;
    const auto l = static_cast<float>(static_cast<double>(pivot) - low);
    const auto h = static_cast<float>(static_cast<double>(high) - pivot);
    const auto e = static_cast<float>(1.0 / exponent);
    ForEachRowHdr(image, rect, [&](TColorHdr* row, std::size_t count) {
        LevelsCurveRow(row, count, low, high, pivot, l, h, e);
    });
}

}  // namespace lumivex
