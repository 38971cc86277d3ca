#pragma once

// Local tone mapping and micro details: each pixel is compared with a weighted average of the
// cross-shaped neighbourhood (its row and its column, 2h + 1 taps each of a one-row kernel) and
// the two are combined per channel by a TLocalToneFunc. In place on the clipped region, results
// clamped to 0..1, alpha unchanged, neighbours never taken from outside the region, one
// FilterProgress step per row.

#include <cstdint>

#include "core/BmpHdr.h"
#include "filters/ConvolutionHdr.h"

namespace lumivex {

using TLocalToneFunc = float (*)(float value, float average);

/// Neighbours enter the local tone-map average only when B, G and R each differ from the pixel
/// by at most this much.
extern float SimilarityThreshold;
/// Strength of micro details, -1..1 (negative softens).
extern float MicroDetailsAmount;

/// The average is edge-preserving (similar neighbours only); value and average are scaled by
/// ExposureFactor(exposure) before func. Needs non-negative values (ShiftToPositive first).
void LocalToneMapHdr(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect, TLocalToneFunc func,
                     std::int8_t exposure);
/// The average is the mean of the row and column weighted averages.
void MicroDetailsHdr(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect, TLocalToneFunc func);

/// (v / a) * a^0.4545; 0 for v = 0.
float LocalLogaritmic(float value, float average);
/// (v / (0.53 + a))^0.4545 * (v / a); 0 for v = 0.
float LocalReinhard(float value, float average);
/// The filmic curve of v over that of a; 0 for v <= 0.004.
float LocalJimRichard(float value, float average);
/// value + (value - average) * MicroDetailsAmount.
float MicroDetailsFunc(float value, float average);

}  // namespace lumivex
