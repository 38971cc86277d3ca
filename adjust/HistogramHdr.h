#pragma once

// Histograms of luminosity and of each colour channel, the levels adjustment and the grey ramp
// of the transfer-curve preview.
//
// Each histogram array has n + 4 entries: 0 minimum (starts at 1), 1 maximum (starts at 0),
// 2 sum during accumulation and average afterwards, 3 median, then n bins; bin k counts values
// near k / (n - 1), fractionally. Values are clamped to 0..1 before they are counted. The arrays
// are shared: whoever computed last owns their content.

#include <cstdint>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

using THistogram = std::vector<float>;

extern THistogram HistLuminosity;
extern THistogram HistRed;
extern THistogram HistGreen;
extern THistogram HistBlue;

/// Gives all four arrays n + 4 entries (n = 0 releases them).
void SetHistogramBins(std::uint16_t bins);
std::uint16_t GetHistogramBins();
void ResetHistogram(THistogram& histogram);
/// Splits the clamped value between the two bins around it; NaN counts as 0.
void AddHistogramValue(THistogram& histogram, float value);
/// Samples the region on a grid so that at most about maxSize x maxSize pixels are read.
void ComputeHistograms(const TBmpHdr* image, TRect rect, std::int32_t maxSize);
void AccumulateHistograms(const TBmpHdr* image, TRect rect, std::uint16_t stepX,
                          std::uint16_t stepY);
/// Channel 1 red, 2 green, 3 blue, anything else luminosity.
void GetHistogramStats(std::uint8_t channel, float& minimum, float& maximum, float& average,
                       float& median);
const THistogram& HistogramOf(std::uint8_t channel);

/// Levels settings of one channel; neutral is gamma 1, in 0..1, out 0..1.
struct TLevels {
    float Gamma = 1.0f;
    float InLow = 0.0f;
    float InHigh = 1.0f;
    float OutLow = 0.0f;
    float OutHigh = 1.0f;
};

/// x <= inLow (NaN included): outLow; x >= inHigh: outHigh; else outLow + (outHigh - outLow)
/// ((x - inLow) / (inHigh - inLow))^e. e is the reciprocal of the gamma.
float LevelsValue(float x, float e, float inLow, float inHigh, float outLow, float outHigh);
/// Per channel, settings for B, then G, then R. Nothing when a gamma is 0, when all three are
/// neutral, or when any channel has inLow >= inHigh or outLow >= outHigh.
void ChannelLevelsHdr(TBmpHdr* image, TRect rect, const TLevels& blue, const TLevels& green,
                      const TLevels& red);
void LevelsHdr(TBmpHdr* image, TRect rect, const TLevels& levels);

/// The grey ramp of the transfer-curve preview: width x 1 pixels, value x / (width - 1), alpha
/// 1; made on first use, resized when the width changes, released for width 0.
TBmpHdr* TransferRamp(std::int32_t width);
/// One point of the preview curve per ramp pixel: y = top + (h - 1) - (h - 1) v, v the ramp's
/// value after the operation (channel as GetHistogramStats).
std::vector<float> TransferCurve(const TBmpHdr& ramp, std::uint8_t channel, std::int32_t top,
                                 std::int32_t height);

}  // namespace lumivex
