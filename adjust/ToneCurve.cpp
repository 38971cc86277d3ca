#include "adjust/ToneCurve.h"

#include <cmath>

namespace lumivex {
namespace {

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
    const TToneCurveFunc curve = ToneCurve;
    ForEachPixelHdr(image, rect, [k, curve](TColorHdr& p) {
        p.B = ClampHdr(curve(k * p.B));
        p.G = ClampHdr(curve(k * p.G));
        p.R = ClampHdr(curve(k * p.R));
    });
}

void OffsetHdr(TBmpHdr* image, TRect rect, float offset)
{
    if (offset == 0.0f)
        return;
    const double o = offset;
    ForEachPixelHdr(image, rect, [o](TColorHdr& p) {
        p.B = ClampHdr(static_cast<float>(p.B + o));
        p.G = ClampHdr(static_cast<float>(p.G + o));
        p.R = ClampHdr(static_cast<float>(p.R + o));
    });
}

}  // namespace lumivex
