#pragma once

// Saturation, hue, grey conversion, negative and constant alpha. The coloured layer is
// FillRectModeHdr of the image core.

#include <cstdint>

#include "core/BmpHdr.h"

namespace lumivex {

/// Grey value of a pixel: 0.11 B + 0.59 G + 0.3 R, as float.
float LuminosityHdr(const TColorHdr& p);

/// x := clamp(x + amount (x - Y)) with Y the pixel's grey value; nothing when all amounts are 0.
void SaturationChannelsHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR);
void SaturationHdr(TBmpHdr* image, TRect rect, float amount);
/// Rotates every hue by shift (a fraction of the circle, limited to -1..1); grey stays grey.
void HueHdr(TBmpHdr* image, TRect rect, float shift);

enum class TGrayMode : std::uint8_t {
    gmLuminosity = 0,
    gmAverage = 1,
    gmMinimum = 2,
    gmMaximum = 3,
    gmBlue = 4,
    gmGreen = 5,
    gmRed = 6,
};
/// B, G, R := the grey value of the mode (unknown modes: luminosity); unclamped.
void GrayscaleHdr(TBmpHdr* image, TRect rect, std::uint8_t mode);
/// B, G, R := 1 - value, unclamped (1.5 becomes -0.5), so a second call restores the image.
void NegativeHdr(TBmpHdr* image, TRect rect);
/// A := clamp(value); colours unchanged.
void SetAlphaHdr(TBmpHdr* image, TRect rect, float value);

}  // namespace lumivex
