#pragma once

// The floating-point image and the pixel services every other subsystem builds on.
//
// Rules shared by the whole family:
// - A pixel is four 32-bit floats in the order B, G, R, A. 1.0 is the full intensity of an
//   8-bit channel; colour values outside 0..1 are legal and survive every routine that does not
//   say it clamps. Alpha 0.0 is transparent, 1.0 opaque; only routines that say so touch it.
// - Per-channel parameters come in the pixel's order B, G, R.
// - Regions are rectangles with Right and Bottom exclusive. Every routine first intersects its
//   region with the image bounds and does nothing when the result is empty; `MaxRectHdr` means
//   the whole image.
// - An absent (null) or empty image, an empty region or an invalid parameter makes a routine a
//   silent no-op. Only out-of-memory escapes, as std::bad_alloc.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/RowMemory.h"
#include "platform/SysColors.h"

namespace lumivex {

class TBitmap;

struct TColorHdr {
    float B = 0.0f;
    float G = 0.0f;
    float R = 0.0f;
    float A = 0.0f;
};
static_assert(sizeof(TColorHdr) == 16, "pixels are four packed floats");

/// A platform rectangle: Right and Bottom are exclusive.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;

    std::int32_t Width() const { return Right - Left; }
    std::int32_t Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

using TRawHdr = std::vector<TColorHdr, TRowAllocator<TColorHdr>>;
using TPixelsHdr = std::vector<TRawHdr>;

inline constexpr TRect MaxRectHdr{-99999, -99999, 99999, 99999};
inline constexpr TColorHdr clNoneHdr{-1.0f, -1.0f, -1.0f, -1.0f};
inline constexpr float MaxValueHdr = 100000.0f;
/// The largest width or height the image model holds (16-bit dimensions).
inline constexpr std::int64_t MaxImageSide = 65535;

/// True when a width and height fit the 16-bit image model and are not zero.
bool IsValidImageSize(std::int64_t width, std::int64_t height);

class TBmpHdr {
public:
    using TChangeEvent = std::function<void(TBmpHdr& sender)>;

    TBmpHdr() = default;
    ~TBmpHdr() = default;
    TBmpHdr(const TBmpHdr&) = delete;
    TBmpHdr& operator=(const TBmpHdr&) = delete;
    TBmpHdr(TBmpHdr&&) noexcept = default;
    TBmpHdr& operator=(TBmpHdr&&) noexcept = default;

    // Rows are separate arrays so that operations address a pixel by row and column and undo
    // can swap whole rows. Pixel writes notify nobody.
    TPixelsHdr Pixels;
    /// Called after Width or Height changed; never for pixel writes.
    TChangeEvent OnChange;

    std::uint16_t Width() const { return m_width; }
    std::uint16_t Height() const { return m_height; }

    void Clear();
    bool IsEmpty() const { return Pixels.empty() || m_width == 0 || m_height == 0; }
    TRect GetBounds() const;
    /// Bytes of pixel data (Width x Height x 16); 0 when empty.
    std::int64_t GetDataSize() const;

    // The setters take a wide type so that a computed size is never wrapped modulo 65536: a value
    // outside 0..65535 changes nothing and answers false. New pixels are zero. If memory runs out
    // the image keeps its old size and std::bad_alloc propagates.
    bool SetWidth(std::int64_t value);
    bool SetHeight(std::int64_t value);
    /// Resizes when the size differs, then fills with the colour unless it is clNoneHdr.
    bool SetSize(std::int64_t width, std::int64_t height, TColorHdr color);

    void Changed();
    /// Exact copy of the source's pixels (empty when the source is absent or empty). OnChange
    /// is not copied; it is called only when the size changes.
    void Assign(const TBmpHdr* source);
    /// Swaps pixels and size with another image without copying a pixel, so it cannot fail
    /// half-way. OnChange stays with each object and is called on each whose size changed.
    void Exchange(TBmpHdr& other);

    // Statistics of B, G, R only; alpha is never read. Minimum searches start at MaxValueHdr,
    // maximum searches at -MaxValueHdr, and NaN never wins a comparison.
    void GetMinMax(float& minimum, float& maximum, TRect rect) const;
    void GetChannelMinMax(float& minB, float& maxB, float& minG, float& maxG, float& minR,
                          float& maxR, TRect rect) const;
    /// Subtracts the region's minimum from B, G, R when it is below 0.
    void ShiftToPositive(TRect rect);
    /// Stretches B, G, R linearly to 0..1. A zero or non-finite range leaves the values as
    /// they are (dividing by it would write NaN into the region).
    void Normalize(TRect rect);
    /// The same per channel; a channel of zero or non-finite range is left unchanged.
    void NormalizeChannels(TRect rect);

private:
    void AllocatePixels();

    std::uint16_t m_width = 0;
    std::uint16_t m_height = 0;
};

/// Intersects rect with the image bounds; false when the image is absent or empty or nothing
/// is left.
bool ClipRectHdr(const TBmpHdr* image, TRect& rect);
TRect IntersectRect(const TRect& a, const TRect& b);

// Pixel values and conversions.
/// Arguments R, G, B, A against the field order B, G, R, A.
TColorHdr ColorHdr(float r, float g, float b, float a);
TColorHdr GrayHdr(float v, float a);
bool SameColorHdr(const TColorHdr& a, const TColorHdr& b);
/// 0 for values not above 0 (NaN included), 1 for values from 1 up.
float ClampHdr(float v);
/// Clip to 0..1, times 255, round half to even. Inline, as BlendPixelToBGR: the display
/// converts every pixel of every repaint through them.
inline std::uint8_t FloatToByte(float v);
TColorHdr BGRAToColorHdr(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a);
TColorHdr BGRToColorHdr(std::uint8_t b, std::uint8_t g, std::uint8_t r);
/// `count` pixels of `bytesPerPixel` (3 or 4) bytes each: BGRAToColorHdr with `withAlpha` (4
/// bytes), else BGRToColorHdr of the first three; the same values, through a table of the 256
/// quotients instead of three divisions a pixel (loaders convert every pixel of an image).
void RowBytesToHdr(const std::uint8_t* in, std::size_t count, int bytesPerPixel, bool withAlpha,
                   TColorHdr* row);
/// Writes FloatToByte of B, G, R to bgr[0..2]; alpha ignored.
inline void ColorHdrToBGR(const TColorHdr& color, std::uint8_t* bgr);
/// ColorHdrToBGR of `count` pixels, 3 bytes each, or with FloatToByte of alpha as a fourth
/// byte; the same bytes, several pixels at a time (savers convert every pixel of an image).
void RowHdrToBytes(const TColorHdr* row, std::size_t count, std::uint8_t* out, bool withAlpha);
/// A negative value is a system-colour index in its low byte.
TColorHdr ColorToColorHdr(TColor color);

// Raw region copies (all four channels, no blending).
/// Copies srcRect of src with its clipped top-left corner at (x, y) of dst; dstRect only limits
/// what is written.
void CopyRectHdr(const TBmpHdr* src, TRect srcRect, TBmpHdr* dst, std::int32_t x, std::int32_t y,
                 TRect dstRect);
/// Swaps rect of a with the region of the same size at (x, y) of b. Clips nothing: a region
/// that does not lie wholly inside both images changes nothing.
void ExchangeRectHdr(TBmpHdr* a, TRect rect, TBmpHdr* b, std::int32_t x, std::int32_t y);

// Colour space (nominally 0..1 values).
void RGBToHSL(float r, float g, float b, float& h, float& s, float& l);
void HSLToRGB(float h, float s, float l, float& r, float& g, float& b);

// Compositing.
/// B, G, R := (source - target) x t + target; target alpha unchanged.
void LerpColorHdr(const TColorHdr& source, TColorHdr& target, float t);
/// Composite over an opaque target; the target's alpha is never changed.
void BlendColorHdr(const TColorHdr& source, TColorHdr& target, float opacity);
/// The over operator onto a target with its own alpha.
void MergeColorHdr(const TColorHdr& source, TColorHdr& target, float opacity);
/// MergeColorHdr of every source pixel of the region onto the target, placed as CopyRectHdr.
void DrawHdr(const TBmpHdr* src, TRect srcRect, TBmpHdr* dst, std::int32_t x, std::int32_t y,
             TRect dstRect, float opacity);
void FillRectHdr(const TColorHdr& color, TBmpHdr* image, TRect rect, float opacity);

enum class TFillMode : std::uint8_t { fmNormal = 0, fmAdd = 1, fmSubtract = 2 };
/// Mode 1 adds (limited to 1.0, even where the pixel was brighter), 2 subtracts (limited to
/// 0.0), anything else paints the colour. Alpha unchanged.
void FillRectModeHdr(const TColorHdr& color, TBmpHdr* image, TRect rect, std::uint8_t mode,
                     float opacity);

// Platform bitmaps (row 0 on top); placement as CopyRectHdr.
/// Alpha from the fourth byte / 255.
void Bitmap32ToHdr(const TBitmap* bitmap, TRect srcRect, TBmpHdr* image, std::int32_t x,
                   std::int32_t y, TRect dstRect);
/// Alpha 1.0.
void Bitmap24ToHdr(const TBitmap* bitmap, TRect srcRect, TBmpHdr* image, std::int32_t x,
                   std::int32_t y, TRect dstRect);
// Inline: savers call it for every pixel of a photograph.
inline void ColorHdrToBGR(const TColorHdr& color, std::uint8_t* bgr)
{
    bgr[0] = FloatToByte(color.B);
    bgr[1] = FloatToByte(color.G);
    bgr[2] = FloatToByte(color.R);
}

/// Composites one pixel onto 3 bytes B, G, R.
inline void BlendPixelToBGR(const TColorHdr& color, std::uint8_t* bgr, float opacity);
/// Draws the region 1:1 at (x, y) of a 24-bit bitmap, blending by alpha; other bitmaps are
/// left alone.
void DrawHdrToBitmap(const TBmpHdr* image, TRect srcRect, TBitmap* bitmap, std::int32_t x,
                     std::int32_t y, TRect dstRect, float opacity);

/// Reads an image at non-integer positions with one of five kernels. It shares the rows of the
/// image it was made for and must not outlive a change of that image's size.
class THdrManager {
public:
    THdrManager(const TBmpHdr* image, TRect rect);

    TColorHdr Background{1.0f, 1.0f, 1.0f, 1.0f};
    bool ClampEdges = false;

    /// 0 nearest, 1 bilinear, 2 bicubic (a = -1), 3 Mitchell-Netravali, 4 cubic Lagrange;
    /// higher values sample bilinearly.
    void SetInterpolation(std::uint8_t mode);
    std::uint8_t Interpolation() const { return m_interpolation; }
    /// Inclusive bounds of the pixels that may be read.
    const TRect& ClipRect() const { return m_clipRect; }
    /// Inclusive bounds where sampling still gets a contribution.
    const TRect& SupportRect() const { return m_supportRect; }

    bool InSupport(float x, float y) const;
    TColorHdr GetPixel(float x, float y) const { return (this->*m_sampler)(x, y); }
    TColorHdr GetPixelInt(std::int32_t x, std::int32_t y) const;

private:
    using TSampler = TColorHdr (THdrManager::*)(float, float) const;
    TColorHdr SampleNearest(float x, float y) const;
    TColorHdr SampleBilinear(float x, float y) const;
    TColorHdr SampleCubic(float x, float y) const;

    const TPixelsHdr* m_pixels;  // not owned
    TRect m_clipRect;
    TRect m_supportRect;
    std::uint8_t m_interpolation = 0;
    TSampler m_sampler = &THdrManager::SampleNearest;
};

// ---------------------------------------------------------------------------------------------
// Inline definitions

namespace detail {
/// nearbyint for 0 <= v < 2^23 without a library call: adding 2^23 leaves no fraction bits, so
/// the addition itself rounds, in the mode nearbyint uses (by default half to even).
inline float RoundSmall(float v) { return (v + 8388608.0f) - 8388608.0f; }
}  // namespace detail

inline std::uint8_t FloatToByte(float v)
{
    // In this operand order max and min send NaN to 0, as "not above 0" does.
    const float c = std::min(std::max(0.0f, v), 1.0f);
    return static_cast<std::uint8_t>(detail::RoundSmall(c * 255.0f));
}

inline void BlendPixelToBGR(const TColorHdr& color, std::uint8_t* bgr, float opacity)
{
    if (!(color.A > 0.0f))
        return;
    const float a = color.A * opacity;
    if (a >= 1.0f) {
        bgr[0] = FloatToByte(color.B);
        bgr[1] = FloatToByte(color.G);
        bgr[2] = FloatToByte(color.R);
        return;
    }
    const float channels[3] = {color.B, color.G, color.R};
    for (int c = 0; c < 3; ++c) {
        const float d = static_cast<float>(bgr[c]) / 255.0f;
        const float v = ((channels[c] - d) * a + d) * 255.0f;
        // Limiting before rounding gives the same byte as rounding first (254.5 still becomes
        // 254); NaN compares false everywhere and ends as 0.
        bgr[c] =
            v >= 255.0f ? 255 : (v > 0.0f ? static_cast<std::uint8_t>(detail::RoundSmall(v)) : 0);
    }
}

}  // namespace lumivex
