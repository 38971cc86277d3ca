#pragma once

// Flips, quarter turns and free rotation. Pixels move whole (all four channels) in the flips and
// turns, so any sequence of them is undone exactly by the inverse sequence.

#include <cstdint>

#include "core/BmpHdr.h"

namespace lumivex {

/// Mirrors the columns of the region, left to right; an odd width keeps its middle column.
void FlipHorzHdr(TBmpHdr* image, TRect rect);
/// Mirrors the rows of the region, top to bottom.
void FlipVertHdr(TBmpHdr* image, TRect rect);
/// Turns the region by 180 degrees: a horizontal flip followed by a vertical one.
void Rotate180Hdr(TBmpHdr* image, TRect rect);

// The quarter turns clear dst, then give it src's height as width and src's width as height.
// Nothing happens when either image is absent; an empty src leaves dst empty. src and dst may be
// the same image.
/// The top row of src becomes the right-most column of dst.
void Rotate90CWHdr(const TBmpHdr* src, TBmpHdr* dst);
/// The top row of src becomes the left-most column of dst, read from the bottom up.
void Rotate90CCWHdr(const TBmpHdr* src, TBmpHdr* dst);

/// Writes src turned by `angle` degrees (positive turns clockwise on screen) about its centre
/// into dst, sampled through THdrManager with `interpolation` 0..4 (nearest, bilinear, bicubic,
/// Mitchell, Lagrange). With adjustSize the canvas grows to the bounding box of the turned
/// picture; a canvas wider or taller than 65535, or one that does not fit in memory, is refused
/// and dst stays as it was. Uncovered pixels show `background`; clNoneHdr extends the picture's
/// edge pixels over the whole canvas instead. Angle 0 copies src exactly; a non-finite angle
/// does nothing. Multiples of 90 degrees use exact sines and cosines, so they match the turns.
void RotateHdr(const TBmpHdr* src, TBmpHdr* dst, bool adjustSize, std::uint8_t interpolation,
               const TColorHdr& background, float angle);
/// RotateHdr from a copy of the image into the image itself.
void RotateHdrInPlace(TBmpHdr* image, bool adjustSize, const TColorHdr& background,
                      std::uint8_t interpolation, float angle);

/// The canvas RotateHdr makes for a w x h image; 0 x 0 when the angle is not finite. The size is
/// computed in 64 bits, so a caller can see a canvas past 65535 before refusing it.
struct TRotatedSize {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
};
TRotatedSize RotatedSize(std::int64_t width, std::int64_t height, bool adjustSize, float angle);

/// The cosine and sine of -angle degrees as stored by RotateHdr, exact at multiples of 90.
void RotationCosSin(float angle, float& cosT, float& sinT);

/// Gives image the pixels of `canvas` (with their size), keeping image's OnChange hook, which it
/// then calls. Lets an operation allocate its result before it touches the image.
void AdoptPixelsHdr(TBmpHdr& image, TBmpHdr&& canvas);

}  // namespace lumivex
