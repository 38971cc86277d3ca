#include "geometry/GeometryHdr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <span>
#include <utility>

#include "core/Parallel.h"
#include "core/Progress.h"
#include "geometry/PixelVec.h"

namespace lumivex {
namespace {

struct TProgressEnd {
    ~TProgressEnd() { FilterProgress(psEnd, 0); }
};

using namespace geometry;

// The cubic kernels of THdrManager, repeated here so that the inner loop can inline them, as
// their two pieces (near: d < 1, far: 1 <= d < 2), each written once for a float and for four
// lanes at a time; the tests compare every mode against the manager bit for bit.
struct TBicubic {
    template <typename T>
    static T Near(T d)
    {
        return (d * d - d - 1.0f) * (d - 1.0f);
    }
    template <typename T>
    static T Far(T d)
    {
        return -(d - 1.0f) * (d - 2.0f) * (d - 2.0f);
    }
};

struct TMitchell {
    template <typename T>
    static T Near(T d)
    {
        return 7.0f * d * d * d / 6.0f - 2.0f * d * d + 8.0f / 9.0f;
    }
    template <typename T>
    static T Far(T d)
    {
        return 2.0f * d * d - 10.0f * d / 3.0f - 7.0f * d * d * d / 18.0f + 16.0f / 9.0f;
    }
};

struct TLagrange {
    template <typename T>
    static T Near(T d)
    {
        return (d - 2.0f) * 0.5f * (d + 1.0f) * (d - 1.0f);
    }
    template <typename T>
    static T Far(T d)
    {
        return -(d - 3.0f) * (d - 2.0f) * (d - 1.0f) / 6.0f;
    }
};

// The kernel at four distances, both pieces in every lane and the right one kept: lane by lane
// the scalar kernel's arithmetic.
template <typename TKernel>
TVec4 KernelLanes(TVec4 d)
{
    return d < 1.0f ? TKernel::Near(d) : TKernel::Far(d);
}

// The source a copy of which the caller gets when src and dst are one image, so that clearing
// dst cannot destroy what is still to be read.
template <typename TBody>
void WithDistinctSource(const TBmpHdr* src, TBmpHdr* dst, TBody body)
{
    if (src != dst) {
        body(src);
        return;
    }
    TBmpHdr copy;
    copy.Assign(src);
    body(&copy);
}

// Quarter turns: dst row r, column c takes src pixel (column col(r, c), row row(r, c)). Blocks of
// 16 destination rows read 16 neighbouring source pixels per step, so both sides stay in cache.
template <typename TSourceOf>
void TurnInto(const TBmpHdr& src, TBmpHdr& dst, TSourceOf sourceOf)
{
    const std::int64_t width = dst.Width();
    const std::int64_t height = dst.Height();
    ParallelRows(0, height, [&](std::int64_t first, std::int64_t last) {
        constexpr std::int64_t Block = 16;
        for (std::int64_t r0 = first; r0 < last; r0 += Block) {
            const std::int64_t r1 = std::min(last, r0 + Block);
            for (std::int64_t c = 0; c < width; ++c)
                for (std::int64_t r = r0; r < r1; ++r) {
                    const auto [sx, sy] = sourceOf(r, c);
                    dst.Pixels[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                        src.Pixels[static_cast<std::size_t>(sy)][static_cast<std::size_t>(sx)];
                }
        }
    });
}

// std::floor and std::nearbyint without SSE4.1 are library calls; these give the same integer
// values for |v| < 2^22 (the sign of a zero result may differ, which only ever meets a clamp or
// an index). Callers check the range first.
constexpr float FastRange = 4194304.0f;

inline float FloorSmall(float v)
{
    const auto t = static_cast<float>(static_cast<std::int32_t>(v));
    return t > v ? t - 1.0f : t;
}

inline float RoundSmall(float v)
{
    // Adding and removing 2^23 rounds to an integer, halves to even, in the default mode.
    constexpr float Shift = 8388608.0f;
    return v >= 0.0f ? (v + Shift) - Shift : (v - Shift) + Shift;
}

inline bool IsSmall(float x, float y)
{
    return std::fabs(x) < FastRange && std::fabs(y) < FastRange;
}

// The geometry of one RotateHdr call.
struct TRotation {
    const TBmpHdr* Src;
    const THdrManager* Manager;
    bool SampleAll;  // clamped edges: every canvas pixel is sampled
    float Cos, Sin, Dcx, Dcy, Scx, Scy;
};

// Destination rows of RotateHdr. Where the whole footprint of the kernel lies inside the source,
// the pixels are read directly with the manager's arithmetic; near the edges the manager itself
// decides (background or clamped edge). Compared bit for bit with the manager in the tests.
class TRotateRows {
public:
    explicit TRotateRows(const TRotation& r)
        : m_r(r),
          m_lastX(static_cast<float>(r.Src->Width() - 1)),
          m_lastY(static_cast<float>(r.Src->Height() - 1)),
          m_support{static_cast<float>(r.Manager->SupportRect().Left),
                    static_cast<float>(r.Manager->SupportRect().Top),
                    static_cast<float>(r.Manager->SupportRect().Right),
                    static_cast<float>(r.Manager->SupportRect().Bottom)}
    {
    }

    /// Destination rows [y0, y1) of dst, in tiles: a tile's source footprint stays in cache,
    /// where whole rows would cross a new source line at almost every pixel.
    void Run(TBmpHdr& dst, std::int64_t y0, std::int64_t y1) const
    {
        switch (m_r.Manager->Interpolation()) {
            case 0:
                Tiles(dst, y0, y1, [this](float sx, float sy) { return Nearest(sx, sy); });
                break;
            case 2:
                Tiles(dst, y0, y1, [this](float sx, float sy) { return Cubic<TBicubic>(sx, sy); });
                break;
            case 3:
                Tiles(dst, y0, y1, [this](float sx, float sy) { return Cubic<TMitchell>(sx, sy); });
                break;
            case 4:
                Tiles(dst, y0, y1, [this](float sx, float sy) { return Cubic<TLagrange>(sx, sy); });
                break;
            default:  // the manager samples bilinearly for 1 and every unknown mode
                Tiles(dst, y0, y1, [this](float sx, float sy) { return Bilinear(sx, sy); });
                break;
        }
    }

private:
    template <typename TSample>
    void Tiles(TBmpHdr& dst, std::int64_t y0, std::int64_t y1, TSample sample) const
    {
        constexpr std::size_t TileWidth = 64;
        const std::size_t width = dst.Width();
        for (std::size_t x0 = 0; x0 < width; x0 += TileWidth)
            for (std::int64_t y = y0; y < y1; ++y)
                Walk(y, dst.Pixels[static_cast<std::size_t>(y)], x0,
                     std::min(width, x0 + TileWidth), sample);
    }

    template <typename TSample>
    void Walk(std::int64_t y, TRawHdr& row, std::size_t x0, std::size_t x1, TSample sample) const
    {
        // (x - DCx) cos - (y - DCy) sin + SCx in double, rounded once to float: the products of
        // these short operands are exact, so hoisting the row's terms changes no bit.
        const double dy = static_cast<double>(y) - double{m_r.Dcy};
        const double rowSin = dy * double{m_r.Sin};
        const double rowCos = dy * double{m_r.Cos};
        for (std::size_t x = x0; x < x1; ++x) {
            const double dx = static_cast<double>(x) - double{m_r.Dcx};
            const auto sx = static_cast<float>(dx * double{m_r.Cos} - rowSin + double{m_r.Scx});
            const auto sy = static_cast<float>(dx * double{m_r.Sin} + rowCos + double{m_r.Scy});
            // The manager's InSupport, inline; NaN compares false.
            if (!m_r.SampleAll && !(m_support[0] <= sx && sx <= m_support[2] &&
                                    m_support[1] <= sy && sy <= m_support[3]))
                continue;
            row[x] = sample(sx, sy);
        }
    }

    const TColorHdr& At(std::size_t x, std::size_t y) const { return m_r.Src->Pixels[y][x]; }

    TColorHdr Nearest(float x, float y) const
    {
        if (!IsSmall(x, y))
            return m_r.Manager->GetPixel(x, y);
        const float rx = RoundSmall(x);
        const float ry = RoundSmall(y);
        if (rx >= 0.0f && rx <= m_lastX && ry >= 0.0f && ry <= m_lastY)
            return At(static_cast<std::size_t>(rx), static_cast<std::size_t>(ry));
        return m_r.Manager->GetPixel(x, y);
    }

    TColorHdr Bilinear(float x, float y) const
    {
        if (!IsSmall(x, y))
            return m_r.Manager->GetPixel(x, y);
        const float fx0 = FloorSmall(x);
        const float fy0 = FloorSmall(y);
        if (!(fx0 >= 0.0f && fx0 <= m_lastX - 1.0f && fy0 >= 0.0f && fy0 <= m_lastY - 1.0f))
            return m_r.Manager->GetPixel(x, y);
        const auto x0 = static_cast<std::size_t>(fx0);
        const auto y0 = static_cast<std::size_t>(fy0);
        const float fx = x - fx0;
        const float fy = y - fy0;
        const TColorHdr* r0 = &At(x0, y0);
        const TColorHdr* r1 = &At(x0, y0 + 1);
        return Clamped(Load(r0[0]) * (1.0f - fx) * (1.0f - fy) + Load(r0[1]) * fx * (1.0f - fy) +
                       Load(r1[0]) * (1.0f - fx) * fy + Load(r1[1]) * fx * fy);
    }

    template <typename TKernel>
    TColorHdr Cubic(float x, float y) const
    {
        if (!IsSmall(x, y))
            return m_r.Manager->GetPixel(x, y);
        const float fx0 = FloorSmall(x);
        const float fy0 = FloorSmall(y);
        if (!(fx0 >= 1.0f && fx0 <= m_lastX - 2.0f && fy0 >= 1.0f && fy0 <= m_lastY - 2.0f))
            return m_r.Manager->GetPixel(x, y);
        const auto x0 = static_cast<std::int32_t>(fx0);
        const auto y0 = static_cast<std::int32_t>(fy0);
        // The manager evaluates K(|x - i|) and K(|y - j|) inside its loops, for taps i and j
        // that are small integers (exact as floats); here four at a time.
        const TVec4 taps{-1.0f, 0.0f, 1.0f, 2.0f};
        const TVec4 kx = KernelLanes<TKernel>(Abs(x - (fx0 + taps)));
        const TVec4 ky = KernelLanes<TKernel>(Abs(y - (fy0 + taps)));
        TVec4 sum{0.0f, 0.0f, 0.0f, 0.0f};
        for (int j = 0; j < 4; ++j) {
            const TColorHdr* p =
                &At(static_cast<std::size_t>(x0 - 1), static_cast<std::size_t>(y0 - 1 + j));
            const TVec4 w = kx * ky[j];  // the products kx[i] * ky[j]
            for (int i = 0; i < 4; ++i)
                sum += Load(p[i]) * w[i];
        }
        return Clamped(sum);
    }

    TRotation m_r;
    float m_lastX;
    float m_lastY;
    float m_support[4];  // left, top, right, bottom, inclusive
};

}  // namespace

void FlipHorzHdr(TBmpHdr* image, TRect rect)
{
    if (!ClipRectHdr(image, rect))
        return;
    ParallelRows(rect.Top, rect.Bottom, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t y = first; y < last; ++y) {
            TRawHdr& row = image->Pixels[static_cast<std::size_t>(y)];
            std::reverse(row.begin() + rect.Left, row.begin() + rect.Right);
        }
    });
}

void FlipVertHdr(TBmpHdr* image, TRect rect)
{
    if (!ClipRectHdr(image, rect))
        return;
    // Whole rows are exchanged as arrays, which moves no pixel data at all.
    const bool fullWidth = rect.Left == 0 && rect.Right == image->Width();
    ParallelRows(0, rect.Height() / 2, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t i = first; i < last; ++i) {
            TRawHdr& a = image->Pixels[static_cast<std::size_t>(rect.Top + i)];
            TRawHdr& b = image->Pixels[static_cast<std::size_t>(rect.Bottom - 1 - i)];
            if (fullWidth)
                a.swap(b);
            else
                std::swap_ranges(a.begin() + rect.Left, a.begin() + rect.Right,
                                 b.begin() + rect.Left);
        }
    });
}

void Rotate180Hdr(TBmpHdr* image, TRect rect)
{
    if (!ClipRectHdr(image, rect))
        return;
    const std::int32_t width = rect.Width();
    ParallelRows(0, rect.Height() / 2, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t i = first; i < last; ++i) {
            TColorHdr* a = image->Pixels[static_cast<std::size_t>(rect.Top + i)].data() + rect.Left;
            TColorHdr* b =
                image->Pixels[static_cast<std::size_t>(rect.Bottom - 1 - i)].data() + rect.Left;
            for (std::int32_t x = 0; x < width; ++x)
                std::swap(a[x], b[width - 1 - x]);
        }
    });
    if (rect.Height() % 2 != 0) {
        TRawHdr& middle = image->Pixels[static_cast<std::size_t>(rect.Top + rect.Height() / 2)];
        std::reverse(middle.begin() + rect.Left, middle.begin() + rect.Right);
    }
}

void Rotate90CWHdr(const TBmpHdr* src, TBmpHdr* dst)
{
    if (src == nullptr || dst == nullptr)
        return;
    WithDistinctSource(src, dst, [&](const TBmpHdr* s) {
        dst->Clear();
        if (s->IsEmpty())
            return;
        const std::int64_t h = s->Height();
        dst->SetSize(h, s->Width(), clNoneHdr);
        // Src (x, y) goes to dst row x, column h - 1 - y.
        TurnInto(*s, *dst, [h](std::int64_t r, std::int64_t c) {
            return std::pair<std::int64_t, std::int64_t>{r, h - 1 - c};
        });
    });
}

void Rotate90CCWHdr(const TBmpHdr* src, TBmpHdr* dst)
{
    if (src == nullptr || dst == nullptr)
        return;
    WithDistinctSource(src, dst, [&](const TBmpHdr* s) {
        dst->Clear();
        if (s->IsEmpty())
            return;
        const std::int64_t w = s->Width();
        dst->SetSize(s->Height(), w, clNoneHdr);
        // Src (x, y) goes to dst row w - 1 - x, column y.
        TurnInto(*s, *dst, [w](std::int64_t r, std::int64_t c) {
            return std::pair<std::int64_t, std::int64_t>{w - 1 - r, c};
        });
    });
}

void RotationCosSin(float angle, float& cosT, float& sinT)
{
    // cos(-pi / 2) in double is 6e-17, not 0, which would widen a 90-degree canvas by a column.
    if (std::isfinite(angle) && std::fmod(angle, 90.0f) == 0.0f) {
        const auto quarter = static_cast<std::int64_t>(double{angle} / 90.0);
        static constexpr float Cos[4] = {1.0f, 0.0f, -1.0f, 0.0f};
        static constexpr float Sin[4] = {0.0f, 1.0f, 0.0f, -1.0f};
        const auto turn = static_cast<std::size_t>(((-quarter) % 4 + 4) % 4);  // of -angle
        cosT = Cos[turn];
        sinT = Sin[turn];
        return;
    }
    const double theta = -double{angle} * std::numbers::pi / 180.0;
    cosT = static_cast<float>(std::cos(theta));
    sinT = static_cast<float>(std::sin(theta));
}

TRotatedSize RotatedSize(std::int64_t width, std::int64_t height, bool adjustSize, float angle)
{
    if (!std::isfinite(angle))
        return {};
    if (!adjustSize)
        return {width, height};
    float cosT = 0.0f;
    float sinT = 0.0f;
    RotationCosSin(angle, cosT, sinT);
    const double w = static_cast<double>(width);
    const double h = static_cast<double>(height);
    return {static_cast<std::int64_t>(std::ceil(std::fabs(h * sinT) + std::fabs(w * cosT))),
            static_cast<std::int64_t>(std::ceil(std::fabs(w * sinT) + std::fabs(h * cosT)))};
}

void AdoptPixelsHdr(TBmpHdr& image, TBmpHdr&& canvas)
{
    TBmpHdr::TChangeEvent hook = std::move(image.OnChange);
    image = std::move(canvas);
    image.OnChange = std::move(hook);
    image.Changed();
}

void RotateHdr(const TBmpHdr* src, TBmpHdr* dst, bool adjustSize, std::uint8_t interpolation,
               const TColorHdr& background, float angle)
{
    if (src == nullptr || src->IsEmpty() || dst == nullptr || !std::isfinite(angle))
        return;
    if (angle == 0.0f) {
        dst->Assign(src);
        return;
    }
    if (src == dst) {
        RotateHdrInPlace(dst, adjustSize, background, interpolation, angle);
        return;
    }
    const std::int64_t w = src->Width();
    const std::int64_t h = src->Height();
    const TRotatedSize size = RotatedSize(w, h, adjustSize, angle);
    if (!IsValidImageSize(size.Width, size.Height))
        return;
    // A new canvas is allocated before anything is started, so a refusal leaves dst alone.
    const bool resized = size.Width != dst->Width() || size.Height != dst->Height();
    TBmpHdr canvas;
    if (resized) {
        try {
            canvas.SetSize(size.Width, size.Height, clNoneHdr);
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    if (!FilterProgress(psStart, static_cast<std::int32_t>(size.Height)))
        return;
    TProgressEnd end;
    if (resized)
        AdoptPixelsHdr(*dst, std::move(canvas));
    const bool clampEdges = SameColorHdr(background, clNoneHdr);
    dst->SetSize(size.Width, size.Height, background);

    float cosT = 0.0f;
    float sinT = 0.0f;
    RotationCosSin(angle, cosT, sinT);
    const auto scx = static_cast<float>(static_cast<double>(w - 1) / 2.0);
    const auto scy = static_cast<float>(static_cast<double>(h - 1) / 2.0);
    const auto dcx = static_cast<float>(static_cast<double>(size.Width - 1) / 2.0);
    const auto dcy = static_cast<float>(static_cast<double>(size.Height - 1) / 2.0);
    THdrManager manager(src, MaxRectHdr);
    if (clampEdges)
        manager.ClampEdges = true;
    else
        manager.Background = background;
    manager.SetInterpolation(interpolation);
    // With clamped edges every position has a meaningful colour (the nearest edge), so the
    // whole canvas is sampled; otherwise pixels out of reach would keep whatever dst held.
    const TRotateRows rows(TRotation{src, &manager, clampEdges, cosT, sinT, dcx, dcy, scx, scy});
    ProgressBands(
        size.Height, BandCount(size.Height, std::max<std::int64_t>(4, 65536 / size.Width)),
        [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            // Groups of rows are stepped row by row, then drawn together in tiles.
            constexpr std::int64_t Group = 16;
            for (std::int64_t y0 = first; y0 < last; y0 += Group) {
                const std::int64_t wanted = std::min(Group, last - y0);
                std::int64_t count = 0;
                while (count < wanted && gate.Step())
                    ++count;
                rows.Run(*dst, y0, y0 + count);
                if (count < wanted)
                    return;
            }
        });
}

void RotateHdrInPlace(TBmpHdr* image, bool adjustSize, const TColorHdr& background,
                      std::uint8_t interpolation, float angle)
{
    if (image == nullptr || image->IsEmpty() || angle == 0.0f || !std::isfinite(angle))
        return;
    TBmpHdr source;
    try {
        source.Assign(image);
    } catch (const std::bad_alloc&) {
        return;
    }
    RotateHdr(&source, image, adjustSize, interpolation, background, angle);
}

}  // namespace lumivex
