#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex::test {

/// Byte-wise equality of two images, so NaN payloads and the sign of zero count.
inline bool SameBits(const TBmpHdr& a, const TBmpHdr& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.Pixels.size() != b.Pixels.size())
        return false;
    for (std::size_t y = 0; y < a.Pixels.size(); ++y) {
        if (a.Pixels[y].size() != b.Pixels[y].size() ||
            std::memcmp(a.Pixels[y].data(), b.Pixels[y].data(),
                        a.Pixels[y].size() * sizeof(TColorHdr)) != 0)
            return false;
    }
    return true;
}

/// A width x height image whose channels B, G, R, A of each pixel, row by row, are value()'s
/// answers in that order.
template <typename TValue>
TBmpHdr GeneratedImage(int width, int height, TValue value)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (auto& row : image.Pixels)
        for (TColorHdr& p : row) {
            const float b = value();
            const float g = value();
            const float r = value();
            p = TColorHdr{b, g, r, value()};
        }
    return image;
}

/// An exact copy, visible as such at the call site.
inline TBmpHdr Copy(const TBmpHdr& source)
{
    TBmpHdr copy;
    copy.Assign(&source);
    return copy;
}

/// Byte-wise equality of two floats.
inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

/// A one-row image of the given pixels.
inline TBmpHdr RowImage(const std::vector<TColorHdr>& pixels)
{
    TBmpHdr image;
    image.SetSize(static_cast<std::int64_t>(pixels.size()), 1, clNoneHdr);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        image.Pixels[0][i] = pixels[i];
    return image;
}

/// A one-row image with B = G = R = each value and the given alpha.
inline TBmpHdr GreyRow(const std::vector<float>& values, float alpha)
{
    std::vector<TColorHdr> pixels;
    for (const float v : values)
        pixels.push_back(TColorHdr{v, v, v, alpha});
    return RowImage(pixels);
}

/// 64 x 48 byte-valued ramp of slowly changing hue: 4:2:0 chroma subsampling loses little of it.
inline TBmpHdr SmoothImage()
{
    TBmpHdr image;
    image.SetSize(64, 48, clNoneHdr);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const float v = static_cast<float>(x + y) / 110.0f;
            image.Pixels[y][x] =
                TColorHdr{std::nearbyint(255.0f * v) / 255.0f,
                          std::nearbyint(255.0f * (0.9f * v + 0.05f)) / 255.0f,
                          std::nearbyint(255.0f * (0.8f * v + 0.1f)) / 255.0f, 1.0f};
        }
    return image;
}

/// base^exponent written out independently of the engine: 0 for bases not above 0, the base for
/// exponent 1, else e^(exponent ln base) in double rounded to float.
inline float RefPower(float base, float exponent)
{
    if (!(base > 0.0f))
        return 0.0f;
    if (exponent == 1.0f)
        return base;
    return static_cast<float>(std::exp(double{exponent} * std::log(double{base})));
}

/// ClampHdr written out: 0 for values not above 0 (NaN included), 1 from 1 up.
inline float RefClamp(float v)
{
    if (!(v > 0.0f))
        return 0.0f;
    return v >= 1.0f ? 1.0f : v;
}

// The tone routines of one value straight from their formulas, in double.

inline float RefContrast(float x, float k)
{
    return RefClamp(static_cast<float>((double{x} - 0.5) * k + x));
}

inline float RefSCurve(float x, float p)
{
    if (!(x > 0.5f))
        return static_cast<float>(RefPower(static_cast<float>(2.0 * x), p) / 2.0);
    return static_cast<float>(1.0 - RefPower(static_cast<float>(2.0 * (1.0 - x)), p) / 2.0);
}

inline float RefLevelsLinear(float x, float low, float high, float pivot, float amount)
{
    if (!(x >= low && x <= high))
        return x;
    if (x <= pivot && pivot > low)
        return RefClamp(static_cast<float>(low + (double{x} - low) * (1.0 + amount)));
    return RefClamp(static_cast<float>(high - (double{high} - x) * (1.0 - amount)));
}

inline float RefLevelsCurve(float x, float low, float high, float pivot, float exponent)
{
    if (!(x >= low && x <= high))
        return x;
    const auto l = static_cast<float>(double{pivot} - low);
    const auto h = static_cast<float>(double{high} - pivot);
    const auto e = static_cast<float>(1.0 / exponent);
    if (x <= pivot && l > 0.0f)
        return static_cast<float>(low + double{l} *
                                            RefPower(static_cast<float>((double{x} - low) / l), e));
    return static_cast<float>(high -
                              double{h} * RefPower(static_cast<float>((double{high} - x) / h), e));
}

}  // namespace lumivex::test
