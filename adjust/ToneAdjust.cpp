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

template <TLaneKind Kind>
[[gnu::always_inline]] inline void GammaRowOf(TColorHdr* row, std::size_t count,
                                              const TChannelValues& reciprocal)
{
    using F = TFloatLanes<Kind>;
    const F e[3] = {reciprocal.PhaseAs<F>(0), reciprocal.PhaseAs<F>(1), reciprocal.PhaseAs<F>(2)};
    MapColourValues<F>(
        row, count, [&](F v, int phase) __attribute__((always_inline)) {
            return PowerHdrLanes<Kind>(v, e[phase], EveryLane<F>());
        });
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void GammaRowAvx512(
    TColorHdr* row, std::size_t count, const TChannelValues& reciprocal)
{
    GammaRowOf<TLaneKind::lkAvx512>(row, count, reciprocal);
}

__attribute__((target("avx2,fma"))) void GammaRowFma(TColorHdr* row, std::size_t count,
                                                     const TChannelValues& reciprocal)
{
    GammaRowOf<TLaneKind::lkFma>(row, count, reciprocal);
}

__attribute__((target_clones("avx2", "default"))) void GammaRowPlain(
    TColorHdr* row, std::size_t count, const TChannelValues& reciprocal)
{
    GammaRowOf<TLaneKind::lkPlain>(row, count, reciprocal);
}

void GammaRow(TColorHdr* row, std::size_t count, const TChannelValues& reciprocal)
{
    RunLanes(GammaRowAvx512, GammaRowFma, GammaRowPlain, row, count, reciprocal);
}

template <TLaneKind Kind>
[[gnu::always_inline]] inline void SCurveRowOf(TColorHdr* row, std::size_t count,
                                               const TChannelValues& power)
{
    using F = TFloatLanes<Kind>;
    using D = TDoubleLanes<Kind>;
    const F e[3] = {power.PhaseAs<F>(0), power.PhaseAs<F>(1), power.PhaseAs<F>(2)};
    MapColourValues<F>(
        row, count, [&](F v, int phase) __attribute__((always_inline)) {
            const D x = WidenTo<D>(v);
            const TMaskLanes<F> low = ~(v > 0.5f);
            const F base = Select(low, NarrowTo<F>(2.0 * x), NarrowTo<F>(2.0 * (1.0 - x)));
            const D p = WidenTo<D>(PowerHdrLanes<Kind>(base, e[phase], EveryLane<F>()));
            return Select(low, NarrowTo<F>(p / 2.0), NarrowTo<F>(1.0 - p / 2.0));
        });
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void SCurveRowAvx512(
    TColorHdr* row, std::size_t count, const TChannelValues& power)
{
    SCurveRowOf<TLaneKind::lkAvx512>(row, count, power);
}

__attribute__((target("avx2,fma"))) void SCurveRowFma(TColorHdr* row, std::size_t count,
                                                      const TChannelValues& power)
{
    SCurveRowOf<TLaneKind::lkFma>(row, count, power);
}

__attribute__((target_clones("avx2", "default"))) void SCurveRowPlain(TColorHdr* row,
                                                                      std::size_t count,
                                                                      const TChannelValues& power)
{
    SCurveRowOf<TLaneKind::lkPlain>(row, count, power);
}

void SCurveRow(TColorHdr* row, std::size_t count, const TChannelValues& power)
{
    RunLanes(SCurveRowAvx512, SCurveRowFma, SCurveRowPlain, row, count, power);
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

template <TLaneKind Kind>
[[gnu::always_inline]] inline void LevelsCurveRowOf(TColorHdr* row, std::size_t count, float low,
                                                    float high, float pivot, float l, float h,
                                                    float e)
{
    const double lo = low;
    const double hi = high;
    const double dl = l;
    const double dh = h;
    using F = TFloatLanes<Kind>;
    using D = TDoubleLanes<Kind>;
    const F ev = Splat<F>(e);
    const std::int32_t lowSegment = l > 0.0f ? -1 : 0;
    MapColourValues<F>(
        row, count, [&](F v, int) __attribute__((always_inline)) {
            const D x = WidenTo<D>(v);
            const TMaskLanes<F> inside = (v >= low) & (v <= high);
            const TMaskLanes<F> first = (v <= pivot) & lowSegment;
            const F base = Select(first, NarrowTo<F>((x - lo) / dl), NarrowTo<F>((hi - x) / dh));
            const D p = WidenTo<D>(PowerHdrLanes<Kind>(base, ev, inside));
            return Select(inside, Select(first, NarrowTo<F>(lo + dl * p), NarrowTo<F>(hi - dh * p)),
                          v);
        });
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void LevelsCurveRowAvx512(
    TColorHdr* row, std::size_t count, float low, float high, float pivot, float l, float h,
    float e)
{
    LevelsCurveRowOf<TLaneKind::lkAvx512>(row, count, low, high, pivot, l, h, e);
}

__attribute__((target("avx2,fma"))) void LevelsCurveRowFma(TColorHdr* row, std::size_t count,
                                                           float low, float high, float pivot,
                                                           float l, float h, float e)
{
    LevelsCurveRowOf<TLaneKind::lkFma>(row, count, low, high, pivot, l, h, e);
}

__attribute__((target_clones("avx2", "default"))) void LevelsCurveRowPlain(TColorHdr* row,
                                                                           std::size_t count,
                                                                           float low, float high,
                                                                           float pivot, float l,
                                                                           float h, float e)
{
    LevelsCurveRowOf<TLaneKind::lkPlain>(row, count, low, high, pivot, l, h, e);
}

void LevelsCurveRow(TColorHdr* row, std::size_t count, float low, float high, float pivot, float l,
                    float h, float e)
{
    RunLanes(LevelsCurveRowAvx512, LevelsCurveRowFma, LevelsCurveRowPlain, row, count, low, high,
             pivot, l, h, e);
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

void PowerRowHdr(TColorHdr* row, std::size_t count, float exponent)
{
    GammaRow(row, count, TChannelValues(exponent, exponent, exponent));
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
