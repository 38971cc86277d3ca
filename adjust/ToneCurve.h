#pragma once

// Global tone mapping and the value routines every per-pixel adjustment shares.
//
// Per-pixel adjustments read 32-bit channel values, compute in double and store 32-bit floats;
// where an intermediate value is rounded to float, the routine says so. They walk the clipped
// region in place, change B, G, R only, allocate nothing and report no progress. Bands of rows
// run on all cores; every pixel depends on itself alone, so results never depend on the thread
// count.

#include <cstdint>
#include <span>

#include "core/BmpHdr.h"
#include "core/Parallel.h"

namespace lumivex {

/// The display gamma 1/2.2, the Reinhard key and the input scale of the Jim & Richard curve,
/// as 32-bit floats.
inline constexpr float GammaExponent = 0.4545f;
inline constexpr float ReinhardKey = 0.53f;
inline constexpr float FilmicScale = 1.3f;

using TToneCurveFunc = float (*)(float);
/// The curve of the running global tone map, chosen once per call.
extern TToneCurveFunc ToneCurve;

/// 0 for bases not above 0 (NaN included); the base for exponent 1; else e^(exponent ln base)
/// rounded to float.
float PowerHdr(float base, float exponent);
/// Exposure in half stops: 2^(exposure / 2); -8 gives 1/16, 8 gives 16.
float ExposureFactor(std::int8_t exposure);
/// 1 gamma 2.2, 2 Reinhard, 3 Jim & Richard, anything else linear.
void SelectToneCurve(std::uint8_t method);

/// Maps B, G, R through the curve after scaling by ExposureFactor; results clamped to 0..1.
/// +Infinity (legal in float files, e.g. the sun) maps to 1.0 under the saturating curves.
void ToneMapHdr(TBmpHdr* image, std::uint8_t method, std::int8_t exposure, TRect rect);
/// Adds offset to B, G, R, clamped to 0..1; an offset of exactly 0 changes nothing at all.
void OffsetHdr(TBmpHdr* image, TRect rect, float offset);

/// Runs body(row, count) on the region's part of every row, in bands of rows on all cores.
template <typename TBody>
void ForEachRowHdr(TBmpHdr* image, TRect rect, TBody body)
{
    if (!ClipRectHdr(image, rect))
        return;
    const auto left = static_cast<std::size_t>(rect.Left);
    const auto width = static_cast<std::size_t>(rect.Right - rect.Left);
    ParallelRows(rect.Top, rect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (auto y = first; y < last; ++y)
            body(image->Pixels[static_cast<std::size_t>(y)].data() + left, width);
    });
}

/// Runs body on every pixel of the clipped region, in bands of rows on all cores.
template <typename TBody>
void ForEachPixelHdr(TBmpHdr* image, TRect rect, TBody body)
{
    ForEachRowHdr(image, rect, [&body](TColorHdr* row, std::size_t count) {
        for (TColorHdr& p : std::span(row, count))
            body(p);
    });
}

}  // namespace lumivex
