#include "adjust/ToneCurve.h"

#include <cmath>

#include "adjust/PowerLanes.h"

namespace lumivex {
namespace {

using namespace detail;

float LinearCurve(float x) { return x; }

float GammaCurve(float x) { return PowerHdr(x, GammaExponent); }

float ReinhardCurve(float x)
{
    if (!(x > 0.0f))
        return 0.0f;
    // inf / (key + inf) would be NaN, which the clamp turns into black.
    if (std::isinf(x))
        return 1.0f;
    const double u = static_cast<double>(x) / (static_cast<double>(ReinhardKey) + x);
    return static_cast<float>(std::exp(static_cast<double>(GammaExponent) * std::log(u)));
}

float FilmicCurve(float x)
{
    const double shifted = static_cast<double>(x) - 0.004;
    const auto y = static_cast<double>(
        static_cast<float>(static_cast<double>(FilmicScale) * (0.0 > shifted ? 0.0 : shifted)));
    // +inf, and any input above FLT_MAX / FilmicScale, gives y = inf and inf / inf = NaN,
    // which the clamp would turn into black.
    if (std::isinf(y))
        return 1.0f;
    return static_cast<float>(((6.2 * y + 0.5) * y) / ((6.2 * y + 1.7) * y + 0.06));
}

enum class TToneCurve : std::uint8_t { tcLinear, tcGamma, tcReinhard, tcFilmic };

#pragma GCC diagnostic ignored "-Wpsabi"

// The curves of the table above on whole pixels; each lane computes exactly what the scalar
// curve computes for its channel.
template <TLaneKind Kind>
[[gnu::always_inline]] inline TFloatLanes<Kind> ReinhardLanes(TFloatLanes<Kind> x)
{
    using F = TFloatLanes<Kind>;
    using D = TDoubleLanes<Kind>;
    const TMaskLanes<F> positive = x > 0.0f;
    const TMaskLanes<F> infinite = x == __builtin_huge_valf();
    const TMaskLanes<F> compute = positive & ~infinite;
    const D dx = WidenTo<D>(Select(compute, x, Splat<F>(1.0f)));
    const D u = dx / (static_cast<double>(ReinhardKey) + dx);
    const F p = PowerLanes<Kind, F>(u, SplatD<D>(static_cast<double>(GammaExponent)),
                                    WidenMask<D>(compute));
    const F curved = Select(infinite, Splat<F>(1.0f), p);
    return Select(positive, curved, Splat<F>(0.0f));
}

[[gnu::always_inline]] inline TVec FilmicLanes(TVec x)
{
    const TVecD shifted = Widen(x) - 0.004;
    const TVecD limited = Select(shifted < 0.0, SplatD(0.0), shifted);
    const TVecD y = Widen(Narrow(static_cast<double>(FilmicScale) * limited));
    const TVec curved = Narrow(((6.2 * y + 0.5) * y) / ((6.2 * y + 1.7) * y + 0.06));
    return Select(Narrow(y) == __builtin_huge_valf(), Splat(1.0f), curved);
}

// The exp and log curves run on the kernel version's float lanes; the others are cheap and
// stay on blocks of four pixels.
template <TLaneKind Kind>
[[gnu::always_inline]] inline void ToneMapRowOf(TColorHdr* row, std::size_t count, TToneCurve curve,
                                                float k)
{
    using F = TFloatLanes<Kind>;
    const F kf = Splat<F>(k);
    const TVec kv = Splat(k);
    switch (curve) {
        case TToneCurve::tcGamma:
            MapColourValues<F>(
                row, count, [kf](F v, int) __attribute__((always_inline)) {
                    return ClampLanes(
                        PowerHdrLanes<Kind>(kf * v, Splat<F>(GammaExponent), EveryLane<F>()));
                });
            break;
        case TToneCurve::tcReinhard:
            MapColourValues<F>(
                row, count, [kf](F v, int) __attribute__((always_inline)) {
                    return ClampLanes(ReinhardLanes<Kind>(kf * v));
                });
            break;
        case TToneCurve::tcFilmic:
            MapColourValues(
                row, count, [kv](TVec v, int) __attribute__((always_inline)) {
                    return ClampLanes(FilmicLanes(kv * v));
                });
            break;
        default:
            MapBlocks(
                row,
                count, [kv](TVec v) __attribute__((always_inline)) { return ClampLanes(kv * v); });
            break;
    }
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void ToneMapRowAvx512(
    TColorHdr* row, std::size_t count, TToneCurve curve, float k)
{
    ToneMapRowOf<TLaneKind::lkAvx512>(row, count, curve, k);
}

__attribute__((target("avx2,fma"))) void ToneMapRowFma(TColorHdr* row, std::size_t count,
                                                       TToneCurve curve, float k)
{
    ToneMapRowOf<TLaneKind::lkFma>(row, count, curve, k);
}

__attribute__((target_clones("avx2", "default"))) void ToneMapRowPlain(TColorHdr* row,
                                                                       std::size_t count,
                                                                       TToneCurve curve, float k)
{
    ToneMapRowOf<TLaneKind::lkPlain>(row, count, curve, k);
}

void ToneMapRow(TColorHdr* row, std::size_t count, TToneCurve curve, float k)
{
    RunLanes(ToneMapRowAvx512, ToneMapRowFma, ToneMapRowPlain, row, count, curve, k);
}

__attribute__((target_clones("avx2", "default"))) void OffsetRow(TColorHdr* row, std::size_t count,
                                                                 float offset)
{
    const double o = offset;
    MapBlocks(
        row, count, [o](TVec v) __attribute__((always_inline)) {
            return ClampLanes(Narrow(Widen(v) + o));
        });
}

}  // namespace

TToneCurveFunc ToneCurve = LinearCurve;

float PowerHdr(float base, float exponent)
{
    if (!(base > 0.0f))
        return 0.0f;
    if (exponent == 1.0f)
        return base;
    return static_cast<float>(
        std::exp(static_cast<double>(exponent) * std::log(static_cast<double>(base))));
}

float ExposureFactor(std::int8_t exposure)
{
    if (exposure == 0)
        return 1.0f;
    if (exposure > 0)
        return PowerHdr(2.0f, static_cast<float>(exposure) / 2.0f);
    return static_cast<float>(1.0 / PowerHdr(2.0f, static_cast<float>(-exposure) / 2.0f));
}

void SelectToneCurve(std::uint8_t method)
{
    switch (method) {
        case 1:
            ToneCurve = GammaCurve;
            break;
        case 2:
            ToneCurve = ReinhardCurve;
            break;
        case 3:
            ToneCurve = FilmicCurve;
            break;
        default:
            ToneCurve = LinearCurve;
            break;
    }
}

void ToneMapHdr(TBmpHdr* image, std::uint8_t method, std::int8_t exposure, TRect rect)
{
    if (!ClipRectHdr(image, rect))
        return;
    SelectToneCurve(method);
    const float k = ExposureFactor(exposure);
    const TToneCurve curve = ToneCurve == GammaCurve      ? TToneCurve::tcGamma
                             : ToneCurve == ReinhardCurve ? TToneCurve::tcReinhard
                             : ToneCurve == FilmicCurve   ? TToneCurve::tcFilmic
                                                          : TToneCurve::tcLinear;
    ForEachRowHdr(image, rect, [k, curve](TColorHdr* row, std::size_t count) {
        ToneMapRow(row, count, curve, k);
    });
}

void OffsetHdr(TBmpHdr* image, TRect rect, float offset)
{
    if (offset == 0.0f)
        return;
    ForEachRowHdr(image, rect,
                  [offset](TColorHdr* row, std::size_t count) { OffsetRow(row, count, offset); });
}

}  // namespace lumivex
