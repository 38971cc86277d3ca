#include "core/BmpHdr.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "core/Parallel.h"
#include "platform/Bitmap.h"

namespace lumivex {
namespace {

std::span<TColorHdr> RowSpan(TBmpHdr& image, const TRect& rect, std::int32_t y)
{
    return std::span(image.Pixels[static_cast<std::size_t>(y)])
        .subspan(static_cast<std::size_t>(rect.Left), static_cast<std::size_t>(rect.Width()));
}

std::span<const TColorHdr> RowSpan(const TBmpHdr& image, const TRect& rect, std::int32_t y)
{
    return std::span(image.Pixels[static_cast<std::size_t>(y)])
        .subspan(static_cast<std::size_t>(rect.Left), static_cast<std::size_t>(rect.Width()));
}

// Min/max bands: the same per-band search in the defined visiting order, combined in band
// order with the same strict comparisons, so the result never depends on the thread count.
// Slots 0..2 are B, G, R; slot 3 sees B, G, R of every pixel in turn, which GetMinMax needs to
// keep the first of equal extremes (-0.0 against 0.0) as a single pass would.
struct TMinMax3 {
    float Min[4] = {MaxValueHdr, MaxValueHdr, MaxValueHdr, MaxValueHdr};
    float Max[4] = {-MaxValueHdr, -MaxValueHdr, -MaxValueHdr, -MaxValueHdr};

    void Add(int c, float v)
    {
        if (v > Max[c])
            Max[c] = v;
        if (v < Min[c])
            Min[c] = v;
    }

    // Minimum against minimum only: a band without numbers (all NaN) keeps its start values,
    // which must not leak into the other side.
    void Merge(const TMinMax3& band)
    {
        for (int c = 0; c < 4; ++c) {
            if (band.Max[c] > Max[c])
                Max[c] = band.Max[c];
            if (band.Min[c] < Min[c])
                Min[c] = band.Min[c];
        }
    }
};

using TPixLanes = float __attribute__((vector_size(16)));

// The strict comparisons of TMinMax3::Add on whole pixels. Several accumulators, so the
// compares of consecutive pixels do not wait on each other.
constexpr std::size_t MinMaxLanes = 4;

// First value equal to zero in the band, channel c (3: B, G, R of every pixel in turn); only
// called when the band's zeros disagree in sign, which only this order can settle.
float FirstZero(const TBmpHdr& image, const TRect& rect, std::int64_t first, std::int64_t last,
                int c)
{
    for (auto y = static_cast<std::int32_t>(first); y < last; ++y)
        for (const TColorHdr& p : RowSpan(image, rect, y)) {
            const float values[3] = {p.B, p.G, p.R};
            for (int k = 0; k < 3; ++k)
                if ((c == 3 || c == k) && values[k] == 0.0f)
                    return values[k];
        }
    return 0.0f;
}

// The band's TMinMax3 as the single pass over B, G, R would give it. Equal numbers have equal
// bits except 0.0 and -0.0, so the accumulators' values only need the visiting order where a
// zero is the extreme and both signs were kept.
TMinMax3 BandMinMax(const TBmpHdr& image, const TRect& rect, std::int64_t first, std::int64_t last)
{
    TPixLanes lo[MinMaxLanes];
    TPixLanes hi[MinMaxLanes];
    for (std::size_t i = 0; i < MinMaxLanes; ++i) {
        lo[i] = TPixLanes{} + MaxValueHdr;
        hi[i] = TPixLanes{} - MaxValueHdr;
    }
    for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
        const std::span<const TColorHdr> row = RowSpan(image, rect, y);
        std::size_t x = 0;
        for (; x + MinMaxLanes <= row.size(); x += MinMaxLanes)
            for (std::size_t i = 0; i < MinMaxLanes; ++i) {
                TPixLanes v;
                std::memcpy(&v, &row[x + i], sizeof v);
                hi[i] = v > hi[i] ? v : hi[i];
                lo[i] = v < lo[i] ? v : lo[i];
            }
        for (std::size_t i = 0; x < row.size(); ++x, ++i) {
            TPixLanes v;
            std::memcpy(&v, &row[x], sizeof v);
            hi[i] = v > hi[i] ? v : hi[i];
            lo[i] = v < lo[i] ? v : lo[i];
        }
    }
    TMinMax3 m;
    for (int c = 0; c < 4; ++c) {
        bool plusZero[2] = {false, false};  // a kept +0.0 / -0.0 for min (0) and max (1)
        bool minusZero[2] = {false, false};
        for (std::size_t i = 0; i < MinMaxLanes; ++i)
            for (int k = 0; k < 3; ++k) {
                if (c != 3 && c != k)
                    continue;
                const float l = lo[i][k];
                const float h = hi[i][k];
                if (l < m.Min[c])
                    m.Min[c] = l;
                if (h > m.Max[c])
                    m.Max[c] = h;
                plusZero[0] |= l == 0.0f && !std::signbit(l);
                minusZero[0] |= l == 0.0f && std::signbit(l);
                plusZero[1] |= h == 0.0f && !std::signbit(h);
                minusZero[1] |= h == 0.0f && std::signbit(h);
            }
        if (m.Min[c] == 0.0f && plusZero[0] && minusZero[0])
            m.Min[c] = FirstZero(image, rect, first, last, c);
        if (m.Max[c] == 0.0f && plusZero[1] && minusZero[1])
            m.Max[c] = FirstZero(image, rect, first, last, c);
    }
    return m;
}

TMinMax3 ChannelMinMax(const TBmpHdr& image, const TRect& rect)
{
    const int bands = BandCount(rect.Height(), 32);
    std::vector<TMinMax3> partial(static_cast<std::size_t>(std::max(bands, 1)));
    ParallelBands(
        bands, rect.Top, rect.Bottom, [&](int band, std::int64_t first, std::int64_t last) {
            partial[static_cast<std::size_t>(band)] = BandMinMax(image, rect, first, last);
        });
    TMinMax3 result;
    for (const TMinMax3& m : partial)
        result.Merge(m);
    return result;
}

bool UsableRange(float range) { return std::isfinite(range) && range > 0.0f; }

// Float to int for sampling positions: NaN and far-away values land well outside any image
// instead of overflowing the conversion.
std::int32_t SafeToInt(float v)
{
    constexpr float Far = 1.0e9f;
    if (std::isnan(v))
        return std::numeric_limits<std::int32_t>::min() / 2;
    return static_cast<std::int32_t>(std::clamp(v, -Far, Far));
}

float RoundHalfEven(float v) { return std::nearbyint(v); }

float KernelBicubic(float d)
{
    if (d < 1.0f)
        return (d * d - d - 1.0f) * (d - 1.0f);
    return -(d - 1.0f) * (d - 2.0f) * (d - 2.0f);
}

float KernelMitchell(float d)
{
    if (d < 1.0f)
        return 7.0f * d * d * d / 6.0f - 2.0f * d * d + 8.0f / 9.0f;
    return 2.0f * d * d - 10.0f * d / 3.0f - 7.0f * d * d * d / 18.0f + 16.0f / 9.0f;
}

float KernelLagrange(float d)
{
    if (d < 1.0f)
        return (d - 2.0f) * 0.5f * (d + 1.0f) * (d - 1.0f);
    return -(d - 3.0f) * (d - 2.0f) * (d - 1.0f) / 6.0f;
}

// Placement shared by CopyRectHdr, DrawHdr and the bitmap imports: the source region clipped
// to the source, its top-left corner at (x, y), clipped to the target region and bounds.
bool PlaceRegion(TRect& src, const TRect& srcBounds, TRect& dst, const TRect& dstBounds,
                 std::int32_t x, std::int32_t y)
{
    src = IntersectRect(src, srcBounds);
    if (src.IsEmpty())
        return false;
    const TRect placed{x, y, static_cast<std::int32_t>(std::int64_t{x} + src.Width()),
                       static_cast<std::int32_t>(std::int64_t{y} + src.Height())};
    dst = IntersectRect(IntersectRect(dst, dstBounds), placed);
    return !dst.IsEmpty();
}

template <typename TBody>
void ForEachPlaced(const TRect& src, const TRect& dst, std::int32_t x, std::int32_t y, TBody body)
{
    for (std::int32_t ty = dst.Top; ty < dst.Bottom; ++ty) {
        const std::int32_t sy = ty - y + src.Top;
        body(ty, sy, dst.Left - x + src.Left);
    }
}

void BitmapToHdr(const TBitmap* bitmap, TPixelFormat format, TRect srcRect, TBmpHdr* image,
                 std::int32_t x, std::int32_t y, TRect dstRect)
{
    if (bitmap == nullptr || bitmap->IsEmpty() || bitmap->PixelFormat() != format ||
        image == nullptr || image->IsEmpty())
        return;
    const TRect bitmapBounds{0, 0, bitmap->Width(), bitmap->Height()};
    if (!PlaceRegion(srcRect, bitmapBounds, dstRect, image->GetBounds(), x, y))
        return;
    const int step = bitmap->BytesPerPixel();
    ForEachPlaced(srcRect, dstRect, x, y, [&](std::int32_t ty, std::int32_t sy, std::int32_t sx) {
        const std::uint8_t* s = bitmap->ScanLine(sy) + static_cast<std::size_t>(sx) * step;
        const auto span = RowSpan(*image, dstRect, ty);
        RowBytesToHdr(s, span.size(), step, format == TPixelFormat::pf32bit, span.data());
    });
}

}  // namespace

bool IsValidImageSize(std::int64_t width, std::int64_t height)
{
    return width > 0 && height > 0 && width <= MaxImageSide && height <= MaxImageSide;
}

TRect IntersectRect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    if (r.IsEmpty())
        return TRect{};
    return r;
}

bool ClipRectHdr(const TBmpHdr* image, TRect& rect)
{
    if (image == nullptr || image->IsEmpty())
        return false;
    rect = IntersectRect(rect, image->GetBounds());
    return !rect.IsEmpty();
}

// ---------------------------------------------------------------------------------------------
// TBmpHdr

void TBmpHdr::Clear()
{
    TPixelsHdr().swap(Pixels);
    m_width = 0;
    m_height = 0;
}

TRect TBmpHdr::GetBounds() const
{
    if (IsEmpty())
        return TRect{};
    return TRect{0, 0, m_width, m_height};
}

std::int64_t TBmpHdr::GetDataSize() const
{
    if (IsEmpty())
        return 0;
    return std::int64_t{m_width} * std::int64_t{m_height} * std::int64_t{sizeof(TColorHdr)};
}

void TBmpHdr::AllocatePixels()
{
    if (m_width == 0 || m_height == 0 || !Pixels.empty())
        return;
    TPixelsHdr rows(m_height);
    const std::int64_t rowBytes = std::int64_t{m_width} * std::int64_t{sizeof(TColorHdr)};
    {
        // The rows of a large image are carved from one block, already faulted in on all cores
        // (and backed by huge pages where the heap gets them); clearing it is then stores that
        // both cores share. Bands of at least 4 MB keep small images on the calling thread.
        const TRowBlock block(static_cast<std::size_t>(m_height) *
                              (static_cast<std::size_t>(rowBytes) + TRowBlock::RowOverhead));
        for (TRawHdr& row : rows)
            row.reserve(m_width);
    }
    ParallelRows(
        0, m_height,
        [&](std::int64_t first, std::int64_t last) {
            for (std::int64_t y = first; y < last; ++y)
                rows[static_cast<std::size_t>(y)].resize(m_width);
        },
        std::max<std::int64_t>(16, (std::int64_t{4} << 20) / rowBytes));
    Pixels.swap(rows);
}

bool TBmpHdr::SetWidth(std::int64_t value)
{
    if (value < 0 || value > MaxImageSide)
        return false;
    const auto width = static_cast<std::uint16_t>(value);
    if (width == m_width)
        return true;
    const std::uint16_t old = m_width;
    m_width = width;
    try {
        if (width == 0) {
            TPixelsHdr().swap(Pixels);
        } else if (!Pixels.empty()) {
            std::size_t done = 0;
            try {
                for (TRawHdr& row : Pixels) {
                    row.resize(width);
                    row.shrink_to_fit();
                    ++done;
                }
            } catch (...) {
                for (std::size_t i = 0; i < done; ++i)
                    Pixels[i].resize(old);
                throw;
            }
        } else {
            AllocatePixels();
        }
    } catch (...) {
        m_width = old;
        throw;
    }
    Changed();
    return true;
}

bool TBmpHdr::SetHeight(std::int64_t value)
{
    if (value < 0 || value > MaxImageSide)
        return false;
    const auto height = static_cast<std::uint16_t>(value);
    if (height == m_height)
        return true;
    const std::uint16_t old = m_height;
    m_height = height;
    try {
        if (height == 0) {
            TPixelsHdr().swap(Pixels);
        } else if (!Pixels.empty()) {
            const std::size_t oldRows = Pixels.size();
            try {
                Pixels.resize(height);
                for (std::size_t y = oldRows; y < Pixels.size(); ++y)
                    Pixels[y].resize(m_width);
            } catch (...) {
                Pixels.resize(std::min<std::size_t>(oldRows, Pixels.size()));
                throw;
            }
        } else {
            AllocatePixels();
        }
    } catch (...) {
        m_height = old;
        throw;
    }
    Changed();
    return true;
}

bool TBmpHdr::SetSize(std::int64_t width, std::int64_t height, TColorHdr color)
{
    if (width < 0 || height < 0 || width > MaxImageSide || height > MaxImageSide)
        return false;
    if (width != m_width || height != m_height) {
        Clear();
        SetWidth(width);
        SetHeight(height);
    }
    if (IsEmpty() || SameColorHdr(color, clNoneHdr))
        return true;
    ParallelRows(0, m_height, [&](std::int64_t first, std::int64_t last) {
        for (auto y = first; y < last; ++y)
            std::fill(Pixels[static_cast<std::size_t>(y)].begin(),
                      Pixels[static_cast<std::size_t>(y)].end(), color);
    });
    return true;
}

void TBmpHdr::Changed()
{
    if (OnChange)
        OnChange(*this);
}

void TBmpHdr::Exchange(TBmpHdr& other)
{
    if (&other == this)
        return;
    const bool resized = m_width != other.m_width || m_height != other.m_height;
    Pixels.swap(other.Pixels);
    std::swap(m_width, other.m_width);
    std::swap(m_height, other.m_height);
    if (resized) {
        Changed();
        other.Changed();
    }
}

void TBmpHdr::Assign(const TBmpHdr* source)
{
    if (source == this)
        return;
    if (source == nullptr || source->IsEmpty()) {
        Clear();
        return;
    }
    if (source->m_width != m_width || source->m_height != m_height) {
        Clear();
        SetWidth(source->m_width);
        SetHeight(source->m_height);
    }
    const std::size_t bytes = std::size_t{m_width} * sizeof(TColorHdr);
    ParallelRows(0, m_height, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<std::size_t>(first); y < static_cast<std::size_t>(last); ++y)
            std::memcpy(Pixels[y].data(), source->Pixels[y].data(), bytes);
    });
}

void TBmpHdr::GetMinMax(float& minimum, float& maximum, TRect rect) const
{
    minimum = MaxValueHdr;
    maximum = -MaxValueHdr;
    if (!ClipRectHdr(this, rect))
        return;
    const TMinMax3 m = ChannelMinMax(*this, rect);
    minimum = m.Min[3];
    maximum = m.Max[3];
}

void TBmpHdr::GetChannelMinMax(float& minB, float& maxB, float& minG, float& maxG, float& minR,
                               float& maxR, TRect rect) const
{
    minB = minG = minR = MaxValueHdr;
    maxB = maxG = maxR = -MaxValueHdr;
    if (!ClipRectHdr(this, rect))
        return;
    const TMinMax3 m = ChannelMinMax(*this, rect);
    minB = m.Min[0];
    maxB = m.Max[0];
    minG = m.Min[1];
    maxG = m.Max[1];
    minR = m.Min[2];
    maxR = m.Max[2];
}

void TBmpHdr::ShiftToPositive(TRect rect)
{
    if (!ClipRectHdr(this, rect))
        return;
    float minimum = 0.0f;
    float maximum = 0.0f;
    GetMinMax(minimum, maximum, rect);
    if (!(minimum < 0.0f))
        return;
    ParallelRows(rect.Top, rect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
            for (TColorHdr& p : RowSpan(*this, rect, y)) {
                p.B = p.B - minimum;
                p.G = p.G - minimum;
                p.R = p.R - minimum;
            }
        }
    });
}

void TBmpHdr::Normalize(TRect rect)
{
    if (!ClipRectHdr(this, rect))
        return;
    float minimum = 0.0f;
    float maximum = 0.0f;
    GetMinMax(minimum, maximum, rect);
    if (minimum == 0.0f && maximum == 1.0f)
        return;
    const float range = maximum - minimum;
    if (!UsableRange(range))
        return;
    ParallelRows(rect.Top, rect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
            for (TColorHdr& p : RowSpan(*this, rect, y)) {
                p.B = (p.B - minimum) / range;
                p.G = (p.G - minimum) / range;
                p.R = (p.R - minimum) / range;
            }
        }
    });
}

void TBmpHdr::NormalizeChannels(TRect rect)
{
    if (!ClipRectHdr(this, rect))
        return;
    const TMinMax3 m = ChannelMinMax(*this, rect);
    bool identity = true;
    for (int c = 0; c < 3; ++c)
        identity = identity && m.Min[c] == 0.0f && m.Max[c] == 1.0f;
    if (identity)
        return;
    // A channel with nothing to stretch keeps its values: offset 0 and divisor 1 are exact.
    float low[3];
    float range[3];
    for (int c = 0; c < 3; ++c) {
        range[c] = m.Max[c] - m.Min[c];
        low[c] = m.Min[c];
        if (!UsableRange(range[c])) {
            low[c] = 0.0f;
            range[c] = 1.0f;
        }
    }
    ParallelRows(rect.Top, rect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
            for (TColorHdr& p : RowSpan(*this, rect, y)) {
                p.B = (p.B - low[0]) / range[0];
                p.G = (p.G - low[1]) / range[1];
                p.R = (p.R - low[2]) / range[2];
            }
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Values and conversions

TColorHdr ColorHdr(float r, float g, float b, float a) { return TColorHdr{b, g, r, a}; }

TColorHdr GrayHdr(float v, float a) { return TColorHdr{v, v, v, a}; }

bool SameColorHdr(const TColorHdr& a, const TColorHdr& b)
{
    return a.B == b.B && a.G == b.G && a.R == b.R && a.A == b.A;
}

float ClampHdr(float v)
{
    if (!(v > 0.0f))
        return 0.0f;
    if (v >= 1.0f)
        return 1.0f;
    return v;
}

TColorHdr BGRAToColorHdr(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a)
{
    return TColorHdr{b / 255.0f, g / 255.0f, r / 255.0f, a / 255.0f};
}

TColorHdr BGRToColorHdr(std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    return TColorHdr{b / 255.0f, g / 255.0f, r / 255.0f, 1.0f};
}

void RowBytesToHdr(const std::uint8_t* in, std::size_t count, int bytesPerPixel, bool withAlpha,
                   TColorHdr* row)
{
    static const std::array<float, 256> Quotient = [] {
        std::array<float, 256> q{};
        for (int v = 0; v < 256; ++v)
            q[static_cast<std::size_t>(v)] = static_cast<float>(v) / 255.0f;
        return q;
    }();
    const auto step = static_cast<std::size_t>(bytesPerPixel);
    for (std::size_t x = 0; x < count; ++x, in += step)
        row[x] = TColorHdr{Quotient[in[0]], Quotient[in[1]], Quotient[in[2]],
                           withAlpha ? Quotient[in[3]] : 1.0f};
}

void RowHdrToBytes(const TColorHdr* row, std::size_t count, std::uint8_t* out, bool withAlpha)
{
    std::size_t x = 0;
#if defined(__SSE2__)
    // FloatToByte lane by lane, the same float operations in the same order. max(v, 0) keeps v
    // only when v > 0, so NaN becomes 0 as in FloatToByte; the rounded values are whole
    // numbers, which truncation keeps.
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(255.0f);
    const __m128 shift = _mm_set1_ps(8388608.0f);
    const auto toInts = [&](const TColorHdr& p) {
        __m128 v = _mm_loadu_ps(&p.B);
        v = _mm_min_ps(_mm_max_ps(v, zero), one);
        v = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(v, scale), shift), shift);
        return _mm_cvttps_epi32(v);
    };
    for (; x + 4 <= count; x += 4) {
        const __m128i low = _mm_packs_epi32(toInts(row[x]), toInts(row[x + 1]));
        const __m128i high = _mm_packs_epi32(toInts(row[x + 2]), toInts(row[x + 3]));
        alignas(16) std::uint8_t bytes[16];  // B, G, R, A of four pixels
        _mm_store_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(low, high));
        if (withAlpha) {
            std::memcpy(out, bytes, 16);
            out += 16;
            continue;
        }
        for (int i = 0; i < 4; ++i, out += 3)
            std::memcpy(out, bytes + 4 * i, 3);
    }
#endif
    for (; x < count; ++x) {
        ColorHdrToBGR(row[x], out);
        if (withAlpha)
            out[3] = FloatToByte(row[x].A);
        out += withAlpha ? 4 : 3;
    }
}

TColorHdr ColorToColorHdr(TColor color)
{
    const auto value = static_cast<std::uint32_t>(color < 0 ? GetSysColor(color & 0xFF) : color);
    return TColorHdr{static_cast<float>((value >> 16) & 0xFF) / 255.0f,
                     static_cast<float>((value >> 8) & 0xFF) / 255.0f,
                     static_cast<float>(value & 0xFF) / 255.0f, 1.0f};
}

// ---------------------------------------------------------------------------------------------
// Raw region copies

void CopyRectHdr(const TBmpHdr* src, TRect srcRect, TBmpHdr* dst, std::int32_t x, std::int32_t y,
                 TRect dstRect)
{
    if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty())
        return;
    if (!PlaceRegion(srcRect, src->GetBounds(), dstRect, dst->GetBounds(), x, y))
        return;
    // memmove: source and target may be the same image.
    const std::size_t bytes = static_cast<std::size_t>(dstRect.Width()) * sizeof(TColorHdr);
    auto copyRow = [&](std::int32_t ty, std::int32_t sy, std::int32_t sx) {
        std::memmove(
            &dst->Pixels[static_cast<std::size_t>(ty)][static_cast<std::size_t>(dstRect.Left)],
            &src->Pixels[static_cast<std::size_t>(sy)][static_cast<std::size_t>(sx)], bytes);
    };
    if (src == dst && y > srcRect.Top) {
        // Overlapping rows of one image moving down: copy from the bottom up.
        for (std::int32_t ty = dstRect.Bottom - 1; ty >= dstRect.Top; --ty)
            copyRow(ty, ty - y + srcRect.Top, dstRect.Left - x + srcRect.Left);
        return;
    }
    if (src == dst) {
        ForEachPlaced(srcRect, dstRect, x, y, copyRow);
        return;
    }
    // Two images: rows are independent, and a history record's copy of a whole photo is one of
    // the passes every preview and undo waits for.
    const std::int32_t sx = dstRect.Left - x + srcRect.Left;
    ParallelRows(dstRect.Top, dstRect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (auto ty = static_cast<std::int32_t>(first); ty < last; ++ty)
            copyRow(ty, ty - y + srcRect.Top, sx);
    });
}

void ExchangeRectHdr(TBmpHdr* a, TRect rect, TBmpHdr* b, std::int32_t x, std::int32_t y)
{
    if (a == nullptr || b == nullptr || a->IsEmpty() || b->IsEmpty())
        return;
    const std::int64_t w = std::int64_t{rect.Right} - rect.Left;
    const std::int64_t h = std::int64_t{rect.Bottom} - rect.Top;
    if (rect.Left < 0 || rect.Top < 0 || rect.Right > a->Width() || rect.Bottom > a->Height() ||
        x < 0 || y < 0 || x + w > b->Width() || y + h > b->Height() || h <= 0 || w <= 0)
        return;
    auto swapRows = [&](std::int64_t first, std::int64_t last) {
        for (auto ry = static_cast<std::int32_t>(first); ry < last; ++ry) {
            auto rowA = RowSpan(*a, rect, ry);
            TColorHdr* rowB = &b->Pixels[static_cast<std::size_t>(ry - rect.Top + y)]
                                        [static_cast<std::size_t>(x)];
            std::swap_ranges(rowA.begin(), rowA.end(), rowB);
        }
    };
    if (a == b)
        swapRows(rect.Top, rect.Bottom);  // rows of one image may overlap: in order
    else
        ParallelRows(rect.Top, rect.Bottom, swapRows);
}

// ---------------------------------------------------------------------------------------------
// Colour space

void RGBToHSL(float r, float g, float b, float& h, float& s, float& l)
{
    const float maximum = std::max(std::max(b, g), r);
    const float minimum = std::min(std::min(b, g), r);
    l = (maximum + minimum) / 2.0f;
    if (maximum == minimum) {
        h = 0.0f;
        s = 0.0f;
        return;
    }
    const float d = maximum - minimum;
    s = l >= 0.5f ? d / (2.0f - maximum - minimum) : d / (maximum + minimum);
    if (r == maximum)
        h = (g - b) / d;
    else if (g == maximum)
        h = (b - r) / d + 2.0f;
    else
        h = (r - g) / d + 4.0f;
    h = h / 6.0f;
    if (h < 0.0f)
        h = h + 1.0f;
}

void HSLToRGB(float h, float s, float l, float& r, float& g, float& b)
{
    if (s == 0.0f) {
        r = g = b = l;
        return;
    }
    const float q = l <= 0.5f ? l * (1.0f + s) : l + s - l * s;
    const float p = 2.0f * l - q;
    auto hueToValue = [p, q](float t) {
        t = t - std::floor(t);
        if (6.0f * t < 1.0f)
            return p + (q - p) * 6.0f * t;
        if (2.0f * t < 1.0f)
            return q;
        if (3.0f * t < 2.0f)
            return p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
        return p;
    };
    r = hueToValue(h + 1.0f / 3.0f);
    g = hueToValue(h);
    b = hueToValue(h - 1.0f / 3.0f);
}

// ---------------------------------------------------------------------------------------------
// Compositing

void LerpColorHdr(const TColorHdr& source, TColorHdr& target, float t)
{
    target.B = (source.B - target.B) * t + target.B;
    target.G = (source.G - target.G) * t + target.G;
    target.R = (source.R - target.R) * t + target.R;
}

void BlendColorHdr(const TColorHdr& source, TColorHdr& target, float opacity)
{
    if (!(source.A > 0.0f))
        return;
    const float a = source.A * opacity;
    if (a >= 1.0f) {
        target.B = source.B;
        target.G = source.G;
        target.R = source.R;
    } else {
        LerpColorHdr(source, target, a);
    }
}

void MergeColorHdr(const TColorHdr& source, TColorHdr& target, float opacity)
{
    if (!(source.A > 0.0f))
        return;
    const float a = source.A * opacity;
    if (a >= 1.0f) {
        target.B = source.B;
        target.G = source.G;
        target.R = source.R;
        target.A = 1.0f;
    } else if (!(target.A > 0.0f)) {
        target.B = source.B;
        target.G = source.G;
        target.R = source.R;
        target.A = a;
    } else if (target.A < 1.0f) {
        const float n = target.A + a - target.A * a;
        target.A = n >= 1.0f ? 1.0f : n;
        LerpColorHdr(source, target, a / n);
    } else {
        LerpColorHdr(source, target, a);
    }
}

void DrawHdr(const TBmpHdr* src, TRect srcRect, TBmpHdr* dst, std::int32_t x, std::int32_t y,
             TRect dstRect, float opacity)
{
    if (!(opacity > 0.0f) || src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty())
        return;
    if (!PlaceRegion(srcRect, src->GetBounds(), dstRect, dst->GetBounds(), x, y))
        return;
    ForEachPlaced(srcRect, dstRect, x, y, [&](std::int32_t ty, std::int32_t sy, std::int32_t sx) {
        const TColorHdr* s =
            &src->Pixels[static_cast<std::size_t>(sy)][static_cast<std::size_t>(sx)];
        for (TColorHdr& p : RowSpan(*dst, dstRect, ty))
            MergeColorHdr(*s++, p, opacity);
    });
}

void FillRectHdr(const TColorHdr& color, TBmpHdr* image, TRect rect, float opacity)
{
    if (!(opacity > 0.0f) || !(color.A > 0.0f) || !ClipRectHdr(image, rect))
        return;
    for (std::int32_t y = rect.Top; y < rect.Bottom; ++y)
        for (TColorHdr& p : RowSpan(*image, rect, y))
            MergeColorHdr(color, p, opacity);
}

void FillRectModeHdr(const TColorHdr& color, TBmpHdr* image, TRect rect, std::uint8_t mode,
                     float opacity)
{
    if (!(opacity > 0.0f) || !(color.A > 0.0f) || !ClipRectHdr(image, rect))
        return;
    const float a = color.A * opacity;
    for (std::int32_t y = rect.Top; y < rect.Bottom; ++y) {
        for (TColorHdr& p : RowSpan(*image, rect, y)) {
            TColorHdr t = color;
            if (mode == 1) {
                t.B = std::min(p.B + color.B, 1.0f);
                t.G = std::min(p.G + color.G, 1.0f);
                t.R = std::min(p.R + color.R, 1.0f);
            } else if (mode == 2) {
                t.B = std::max(p.B - color.B, 0.0f);
                t.G = std::max(p.G - color.G, 0.0f);
                t.R = std::max(p.R - color.R, 0.0f);
            }
            if (a >= 1.0f) {
                p.B = t.B;
                p.G = t.G;
                p.R = t.R;
            } else {
                LerpColorHdr(t, p, a);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Platform bitmaps

void Bitmap32ToHdr(const TBitmap* bitmap, TRect srcRect, TBmpHdr* image, std::int32_t x,
                   std::int32_t y, TRect dstRect)
{
    BitmapToHdr(bitmap, TPixelFormat::pf32bit, srcRect, image, x, y, dstRect);
}

void Bitmap24ToHdr(const TBitmap* bitmap, TRect srcRect, TBmpHdr* image, std::int32_t x,
                   std::int32_t y, TRect dstRect)
{
    BitmapToHdr(bitmap, TPixelFormat::pf24bit, srcRect, image, x, y, dstRect);
}

void DrawHdrToBitmap(const TBmpHdr* image, TRect srcRect, TBitmap* bitmap, std::int32_t x,
                     std::int32_t y, TRect dstRect, float opacity)
{
    if (!(opacity > 0.0f) || image == nullptr || image->IsEmpty() || bitmap == nullptr ||
        bitmap->IsEmpty() || bitmap->PixelFormat() != TPixelFormat::pf24bit)
        return;
    const TRect bitmapBounds{0, 0, bitmap->Width(), bitmap->Height()};
    if (!PlaceRegion(srcRect, image->GetBounds(), dstRect, bitmapBounds, x, y))
        return;
    ParallelRows(dstRect.Top, dstRect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (auto ty = static_cast<std::int32_t>(first); ty < last; ++ty) {
            const std::int32_t sy = ty - y + srcRect.Top;
            const TColorHdr* s =
                &image->Pixels[static_cast<std::size_t>(sy)]
                              [static_cast<std::size_t>(dstRect.Left - x + srcRect.Left)];
            std::uint8_t* d = bitmap->ScanLine(ty) + static_cast<std::size_t>(dstRect.Left) * 3;
            for (std::int32_t tx = dstRect.Left; tx < dstRect.Right; ++tx, d += 3)
                BlendPixelToBGR(*s++, d, opacity);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// THdrManager

THdrManager::THdrManager(const TBmpHdr* image, TRect rect)
    : m_pixels(image != nullptr ? &image->Pixels : nullptr)
{
    if (image != nullptr)
        rect = IntersectRect(rect, image->GetBounds());
    else
        rect = TRect{};
    // Inclusive bounds; an empty region gives Right < Left, so nothing is ever read.
    m_clipRect = rect.IsEmpty() ? TRect{0, 0, -1, -1}
                                : TRect{rect.Left, rect.Top, rect.Right - 1, rect.Bottom - 1};
    SetInterpolation(0);
}

void THdrManager::SetInterpolation(std::uint8_t mode)
{
    m_interpolation = mode;
    std::int32_t grow = 2;
    switch (mode) {
        case 0:
            m_sampler = &THdrManager::SampleNearest;
            grow = 0;
            break;
        case 1:
            m_sampler = &THdrManager::SampleBilinear;
            grow = 1;
            break;
        case 2:
        case 3:
        case 4:
            m_sampler = &THdrManager::SampleCubic;
            break;
        default:
            m_sampler = &THdrManager::SampleBilinear;
            break;
    }
    m_supportRect = TRect{m_clipRect.Left - grow, m_clipRect.Top - grow, m_clipRect.Right + grow,
                          m_clipRect.Bottom + grow};
}

bool THdrManager::InSupport(float x, float y) const
{
    return static_cast<float>(m_supportRect.Left) <= x &&
           x <= static_cast<float>(m_supportRect.Right) &&
           static_cast<float>(m_supportRect.Top) <= y &&
           y <= static_cast<float>(m_supportRect.Bottom);
}

TColorHdr THdrManager::GetPixelInt(std::int32_t x, std::int32_t y) const
{
    const bool empty = m_clipRect.Right < m_clipRect.Left || m_clipRect.Bottom < m_clipRect.Top;
    if (empty || m_pixels == nullptr)
        return Background;
    if (ClampEdges) {
        x = std::clamp(x, m_clipRect.Left, m_clipRect.Right);
        y = std::clamp(y, m_clipRect.Top, m_clipRect.Bottom);
    } else if (x < m_clipRect.Left || x > m_clipRect.Right || y < m_clipRect.Top ||
               y > m_clipRect.Bottom) {
        return Background;
    }
    return (*m_pixels)[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
}

TColorHdr THdrManager::SampleNearest(float x, float y) const
{
    return GetPixelInt(SafeToInt(RoundHalfEven(x)), SafeToInt(RoundHalfEven(y)));
}

TColorHdr THdrManager::SampleBilinear(float x, float y) const
{
    const float fx0 = std::floor(x);
    const float fy0 = std::floor(y);
    const std::int32_t x0 = SafeToInt(fx0);
    const std::int32_t y0 = SafeToInt(fy0);
    const float fx = x - fx0;
    const float fy = y - fy0;
    const TColorHdr p00 = GetPixelInt(x0, y0);
    const TColorHdr p10 = GetPixelInt(x0 + 1, y0);
    const TColorHdr p01 = GetPixelInt(x0, y0 + 1);
    const TColorHdr p11 = GetPixelInt(x0 + 1, y0 + 1);
    auto mix = [&](float TColorHdr::*c) {
        return ClampHdr(p00.*c * (1.0f - fx) * (1.0f - fy) + p10.*c * fx * (1.0f - fy) +
                        p01.*c * (1.0f - fx) * fy + p11.*c * fx * fy);
    };
    return TColorHdr{mix(&TColorHdr::B), mix(&TColorHdr::G), mix(&TColorHdr::R),
                     mix(&TColorHdr::A)};
}

TColorHdr THdrManager::SampleCubic(float x, float y) const
{
    float (*kernel)(float) = KernelBicubic;
    if (m_interpolation == 3)
        kernel = KernelMitchell;
    else if (m_interpolation == 4)
        kernel = KernelLagrange;
    const float fx0 = std::floor(x);
    const float fy0 = std::floor(y);
    const std::int32_t x0 = SafeToInt(fx0);
    const std::int32_t y0 = SafeToInt(fy0);
    TColorHdr sum{0.0f, 0.0f, 0.0f, 0.0f};
    for (std::int32_t j = y0 - 1; j <= y0 + 2; ++j) {
        const float ky = kernel(std::fabs(y - static_cast<float>(j)));
        for (std::int32_t i = x0 - 1; i <= x0 + 2; ++i) {
            const float weight = kernel(std::fabs(x - static_cast<float>(i))) * ky;
            const TColorHdr p = GetPixelInt(i, j);
            sum.B += p.B * weight;
            sum.G += p.G * weight;
            sum.R += p.R * weight;
            sum.A += p.A * weight;
        }
    }
    return TColorHdr{ClampHdr(sum.B), ClampHdr(sum.G), ClampHdr(sum.R), ClampHdr(sum.A)};
}

}  // namespace lumivex
