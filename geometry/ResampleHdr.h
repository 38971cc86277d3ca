#pragma once

// Separable filtered resampling: a horizontal pass from the source into an intermediate image of
// the new width and the old height, then a vertical pass into the destination. Every output value
// is the weighted sum of its contributors divided by their integer weight total and clamped to
// 0..1 (NaN to 0), so values above 1.0 do not survive.

#include <cstdint>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

/// A reconstruction kernel: weight at a distance in source pixels, 0 outside its support.
using TResampleFilter = float (*)(float x);

float BoxFilter(float x);       ///< 1 for -0.5 < x <= 0.5
float TriangleFilter(float x);  ///< 1 - |x| for |x| < 1
float HermiteFilter(float x);   ///< (2|x| - 3) x^2 + 1 for |x| < 1
float BellFilter(float x);      ///< quadratic B-spline, |x| < 1.5
float SplineFilter(float x);    ///< cubic B-spline, |x| < 2
float LanczosFilter(float x);   ///< sinc(x) sinc(x / 3) for |x| < 3
float MitchellFilter(float x);  ///< Mitchell-Netravali with B = C = 1/3, |x| < 2

struct TResampleFilterDef {
    const char* Name;
    TResampleFilter Filter;
    float Support;  ///< default radius in source pixels
};
inline constexpr int ResampleFilterCount = 7;
/// Index 0 Nearest, 1 Bilinear, 2 Hermite, 3 Bell, 4 B-Spline, 5 Lanczos, 6 Mitchell.
extern const TResampleFilterDef ResampleFilters[ResampleFilterCount];

/// One source pixel of an output pixel; the weight is the kernel value x 1000, rounded.
struct TContributor {
    std::uint16_t Index;
    std::int16_t Weight;
};

/// The contributors of output index `i` (0 .. dstSize - 1) when srcSize pixels become dstSize.
/// Indices past the borders are reflected and then clamped, so none lies outside the source.
/// When the weights total 0 (all rounded away when shrinking by ~2000x, or cancelling out), the
/// list is the nearest source pixel alone with weight 1.
std::vector<TContributor> ResampleContributors(std::int32_t i, std::int32_t srcSize,
                                               std::int32_t dstSize, TResampleFilter filter,
                                               float support);

/// Resamples src to dst's size; nothing when either is absent or empty. Progress counts one step
/// per destination column and source row of the horizontal pass and one per destination row and
/// column of the vertical pass (2 DW + SH + DH). src and dst may be the same image.
void StretchHdr(const TBmpHdr* src, TBmpHdr* dst, TResampleFilter filter, float support);

/// Sizes dst to newWidth x newHeight without filling, then StretchHdr with the filter of that
/// index (support 0 takes the filter's own). Sizes outside 1..65535, an unknown filter or a
/// negative or non-finite support do nothing. dst is not touched before the new pixels are
/// allocated, and src may be dst.
void ResizeHdr(const TBmpHdr* src, TBmpHdr* dst, std::int64_t newWidth, float support,
               std::uint8_t filterIndex, std::int64_t newHeight);

}  // namespace lumivex
