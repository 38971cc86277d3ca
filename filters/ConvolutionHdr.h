#pragma once

// Neighbourhood filters built on one kernel class and three convolution passes.
//
// Every pass changes B, G and R of the clipped region in place, leaves alpha unread and
// unchanged, and clamps its results to 0..1 (ClampHdr). The window never leaves the region:
// neighbours beyond its edges repeat the edge pixels, and pixels outside the rectangle are never
// read. Each weighted sum is accumulated in a float, in window order, so results do not depend on
// the thread count or the vector width. Progress: one FilterProgress step per row (per column for
// ConvolveColumns); a false answer stops the pass, leaving the rows done so far filtered.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

/// The exponent of the gaussian and sharpening profiles and the base of the soften profile.
inline constexpr float GaussExponent = 1.69f;

class TFilterMatrix {
public:
    /// width x height zero weights, Divisor 1, Bias 0.
    TFilterMatrix(std::uint16_t width, std::uint16_t height);

    std::vector<float> Values;  // row by row: (X, Y) is entry X + Width * Y
    std::uint16_t Width;
    std::uint16_t Height;
    float Divisor = 1.0f;
    float Bias = 0.0f;

    float GetValue(int x, int y) const { return Values[static_cast<std::size_t>(x + Width * y)]; }
    void SetValue(int x, int y, float v) { Values[static_cast<std::size_t>(x + Width * y)] = v; }
    /// Accumulated in a float, in index order.
    float Sum() const;
    int HalfWidth() const { return (Width - 1) / 2; }
    int HalfHeight() const { return (Height - 1) / 2; }
};

/// A ring of equally sized buffers: entry 0 is the oldest row, the last entry the newest.
class TBufferList {
public:
    explicit TBufferList(std::int32_t bufferSize) : BufferSize(bufferSize) {}

    /// Count buffers; all but the first receive a copy of source (the first is recycled by the
    /// first PushBuffer).
    void FillBuffers(const void* source, std::uint16_t count);
    /// Moves the oldest buffer to the end and copies BufferSize bytes of source into it.
    void PushBuffer(const void* source);
    void* GetBuffer(int index) { return m_buffers[static_cast<std::size_t>(index)].get(); }
    int Count() const { return static_cast<int>(m_buffers.size()); }

    const std::int32_t BufferSize;

private:
    std::vector<std::unique_ptr<std::byte[]>> m_buffers;
};

/// One-row kernel (Height 1) along the rows of the region; otherwise a no-op.
void ConvolveRows(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect);
/// One-row kernel (Height 1) applied vertically; progress per column.
void ConvolveColumns(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect);
/// The full 2-D kernel, in place.
void ConvolveMatrix(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect);

// Kernel builders: sizes 2 * ceil(radius) + 1; the radial ones weigh taps by their distance d to
// the centre and keep 0 where d exceeds the larger rounded-up radius. Divisor = sum of weights.
std::unique_ptr<TFilterMatrix> MakeBoxMatrix(float radiusX, float radiusY);
/// (R - d)^exponent + 1, the centre times centerWeight.
std::unique_ptr<TFilterMatrix> MakeGaussMatrix(float radiusX, float radiusY, float exponent,
                                               float centerWeight);
/// -((R - d)^exponent + 1), the centre replaced by -amount * (sum + 1).
std::unique_ptr<TFilterMatrix> MakeSharpenMatrix(float radiusX, float radiusY, float exponent,
                                                 float amount);
/// base^(R - d), the centre times centerWeight.
std::unique_ptr<TFilterMatrix> MakeSoftenMatrix(float radiusX, float radiusY, float base,
                                                float centerWeight);

// The Filter menu. "Fast" forms run a one-row kernel along rows, then columns, and need a
// radius above 0; "Full" forms run the 2-D kernel and need both radii >= 0, not both 0.
// Sensitivity is clamped to 0..1.
void BlurFast(TBmpHdr* image, TRect rect, float radius);
void BlurFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY);
void GaussBlurFast(TBmpHdr* image, TRect rect, float radius, float sensitivity);
void GaussBlurFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY, float sensitivity);
void UnsharpMaskFast(TBmpHdr* image, TRect rect, float radius, float sensitivity);
void UnsharpMaskFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY, float sensitivity);
void SoftenFast(TBmpHdr* image, TRect rect, float radius, float sensitivity);
void SoftenFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY, float sensitivity);

}  // namespace lumivex
