#pragma once

// Brightness, contrast, gamma, S-curve and the two levels operations. Brightness and contrast
// clamp to 0..1; gamma keeps values above 1; the S-curve maps everything into 0..1; the levels
// routines change only values inside their interval. Per-channel arguments come as B, G, R.

#include <cstddef>

#include "core/BmpHdr.h"

namespace lumivex {

/// k <= 0 scales towards black (x (1 + k)), k > 0 moves towards white; clamped.
float BrightnessValue(float x, float k);
/// Distances from 0.5 times (1 + k); clamped.
float ContrastValue(float x, float k);
/// x <= 0.5 (NaN included): (2x)^p / 2, else 1 - (2(1 - x))^p / 2, as float.
float SCurveValue(float x, float p);
/// Slider position -100..100 to a factor 0.2..5 (1 at 0), as float.
float SliderToFactor(float position);

/// Nothing when all three amounts are 0.
void BrightnessHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR);
/// Nothing when all three amounts are 0.
void ContrastChannelsHdr(TBmpHdr* image, TRect rect, float amountB, float amountG, float amountR);
void ContrastHdr(TBmpHdr* image, TRect rect, float amount);
/// Channel := channel^(1 / gamma), values above 1 kept; nothing when any gamma is 0.
void GammaHdr(TBmpHdr* image, TRect rect, float gammaB, float gammaG, float gammaR);
/// B, G and R of `count` pixels to PowerHdr(value, exponent), alpha kept: the gamma the savers
/// of float formats apply, on a row they own.
void PowerRowHdr(TColorHdr* row, std::size_t count, float exponent);
/// Nothing when any power is 0.
void SCurveHdr(TBmpHdr* image, TRect rect, float powerB, float powerG, float powerR);
/// Values in low..high: low..pivot scaled about low by (1 + amount), the rest about high by
/// (1 - amount), clamped. Nothing for amount 0, an interval outside 0..1 or empty, or a pivot
/// outside it.
void LevelsLinearHdr(TBmpHdr* image, TRect rect, float low, float high, float pivot, float amount);
/// Values in low..high bent by the power 1 / exponent about the pivot, ends fixed, unclamped.
/// Nothing for exponent 0 or 1 or an invalid interval or pivot.
void LevelsCurveHdr(TBmpHdr* image, TRect rect, float low, float high, float pivot, float exponent);

}  // namespace lumivex
