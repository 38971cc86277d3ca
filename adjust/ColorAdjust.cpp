#include "adjust/ColorAdjust.h"

#include <algorithm>
#include <cmath>

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
    ForEachPixelHdr(image, rect, [h](TColorHdr& p) {
        float hue = 0.0f;
        float s = 0.0f;
        float l = 0.0f;
        RGBToHSL(p.R, p.G, p.B, hue, s, l);
        hue = hue + h;
        if (hue < 0.0f)
            hue = hue + 1.0f;
        else if (hue > 1.0f)
            hue = hue - 1.0f;
        HSLToRGB(hue, s, l, p.R, p.G, p.B);
    });
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
