#include "adjust/ToneAdjust.h"

#include "adjust/ToneCurve.h"

namespace lumivex {
namespace {

bool InUnitRange(float v) { return v >= 0.0f && v <= 1.0f; }

bool ValidInterval(float low, float high, float pivot)
{
    return InUnitRange(low) && InUnitRange(high) && low < high && pivot >= low && pivot <= high;
}

template <typename TValue>
void MapChannels(TBmpHdr* image, TRect rect, const float (&params)[3], TValue value)
{
    ForEachPixelHdr(image, rect, [&](TColorHdr& p) {
        p.B = value(p.B, params[0]);
        p.G = value(p.G, params[1]);
        p.R = value(p.R, params[2]);
    });
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
    MapChannels(image, rect, {amountB, amountG, amountR},
                [](float x, float k) { return k == 0.0f ? x : BrightnessValue(x, k); });
}

void ContrastChannelsHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR)
{
    if (amountB == 0.0f && amountG == 0.0f && amountR == 0.0f)
        return;
    MapChannels(image, rect, {amountB, amountG, amountR}, ContrastValue);
}

void ContrastHdr(TBmpHdr* image, TRect rect, float amount)
{
    ContrastChannelsHdr(image, rect, amount, amount, amount);
}

void GammaHdr(TBmpHdr* image, TRect rect, float gammaB, float gammaG, float gammaR)
{
    if (gammaB == 0.0f || gammaG == 0.0f || gammaR == 0.0f)
        return;
    const float reciprocal[3] = {static_cast<float>(1.0 / gammaB), static_cast<float>(1.0 / gammaG),
                                 static_cast<float>(1.0 / gammaR)};
    MapChannels(image, rect, reciprocal, PowerHdr);
}

void SCurveHdr(TBmpHdr* image, TRect rect, float powerB, float powerG, float powerR)
{
    if (powerB == 0.0f || powerG == 0.0f || powerR == 0.0f)
        return;
    MapChannels(image, rect, {powerB, powerG, powerR}, SCurveValue);
}

void LevelsLinearHdr(TBmpHdr* image, TRect rect, float low, float high, float pivot, float amount)
{
    if (amount == 0.0f || !ValidInterval(low, high, pivot))
        return;
    const double lo = low;
    const double hi = high;
    const double up = 1.0 + static_cast<double>(amount);
    const double down = 1.0 - static_cast<double>(amount);
    auto value = [&](float x) {
        if (!(x >= low && x <= high))
            return x;
        if (x <= pivot && pivot > low)
            return ClampHdr(static_cast<float>(lo + (x - lo) * up));
        return ClampHdr(static_cast<float>(hi - (hi - x) * down));
    };
    ForEachPixelHdr(image, rect, [&](TColorHdr& p) {
        p.B = value(p.B);
        p.G = value(p.G);
        p.R = value(p.R);
    });
}

void LevelsCurveHdr(TBmpHdr* image, TRect rect, float low, float high, float pivot, float exponent)
{
    if (exponent == 0.0f || exponent == 1.0f || !ValidInterval(low, high, pivot))
        return;
    const auto l = static_cast<float>(static_cast<double>(pivot) - low);
    const auto h = static_cast<float>(static_cast<double>(high) - pivot);
    const auto e = static_cast<float>(1.0 / exponent);
    const double lo = low;
    const double hi = high;
    auto value = [&](float x) {
        if (!(x >= low && x <= high))
            return x;
        if (x <= pivot && l > 0.0f)
            return static_cast<float>(
                lo + l * static_cast<double>(PowerHdr(static_cast<float>((x - lo) / l), e)));
        return static_cast<float>(
            hi - h * static_cast<double>(PowerHdr(static_cast<float>((hi - x) / h), e)));
    };
    ForEachPixelHdr(image, rect, [&](TColorHdr& p) {
        p.B = value(p.B);
        p.G = value(p.G);
        p.R = value(p.R);
    });
}

}  // namespace lumivex
