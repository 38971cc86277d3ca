#include "view/DisplayHdr.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "adjust/HistogramHdr.h"
#include "core/Parallel.h"

namespace lumivex {
namespace {

bool IsTarget(const TBitmap* bitmap)
{
    return bitmap != nullptr && !bitmap->IsEmpty() &&
           bitmap->PixelFormat() == TPixelFormat::pf24bit;
}

TRect BitmapBounds(const TBitmap& bitmap) { return TRect{0, 0, bitmap.Width(), bitmap.Height()}; }

struct TBgr {
    std::uint8_t B;
    std::uint8_t G;
    std::uint8_t R;
};

TBgr ColorBytes(TColor color)
{
    if (color < 0)
        color = GetSysColor(color & 0xFF);
    const auto c = static_cast<std::uint32_t>(color);
    return TBgr{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                static_cast<std::uint8_t>(c)};
}

void PutPixel(TBitmap& bitmap, std::int32_t x, std::int32_t y, TBgr color)
{
    std::uint8_t* p = bitmap.ScanLine(y) + static_cast<std::size_t>(x) * 3;
    p[0] = color.B;
    p[1] = color.G;
    p[2] = color.R;
}

void FillRect(TBitmap& bitmap, TRect rect, TBgr color)
{
    rect = IntersectRect(rect, BitmapBounds(bitmap));
    if (rect.IsEmpty())
        return;
    for (std::int32_t y = rect.Top; y < rect.Bottom; ++y)
        for (std::int32_t x = rect.Left; x < rect.Right; ++x)
            PutPixel(bitmap, x, y, color);
}

// A vertical line from top down to bottom, bottom excluded as a platform pen draws it.
void VerticalLine(TBitmap& bitmap, std::int32_t x, std::int32_t top, std::int32_t bottom,
                  TBgr color)
{
    FillRect(bitmap, TRect{x, top, x + 1, bottom}, color);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::string StatText(const char* label, float value)
{
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, double{value}, std::chars_format::fixed, 2);
    return std::string(label) + " : " + (ec == std::errc() ? std::string(buf, end) : "0.00");
}

}  // namespace

void StretchDrawHdrToBitmap(const TBmpHdr* image, TRect srcRect, TBitmap* bitmap, TRect dstRect,
                            TRect clipRect, float opacity)
{
    if (!(opacity > 0.0f) || image == nullptr || image->IsEmpty() || !IsTarget(bitmap))
        return;
    if (!ClipRectHdr(image, srcRect))
        return;
    clipRect = IntersectRect(IntersectRect(clipRect, BitmapBounds(*bitmap)), dstRect);
    if (clipRect.IsEmpty())
        return;
    const double sx = static_cast<double>(std::int64_t{dstRect.Right} - dstRect.Left) /
                      static_cast<double>(srcRect.Width());
    const double sy = static_cast<double>(std::int64_t{dstRect.Bottom} - dstRect.Top) /
                      static_cast<double>(srcRect.Height());
    if (sx == 1.0 && sy == 1.0) {
        DrawHdrToBitmap(image, srcRect, bitmap, dstRect.Left, dstRect.Top, clipRect, opacity);
        return;
    }
    // One source column per screen column of the clip, worked out once for all rows.
    const auto width = static_cast<std::size_t>(clipRect.Width());
    std::vector<std::int32_t> columns(width);
    for (std::size_t i = 0; i < width; ++i) {
        const auto x = static_cast<double>(std::int64_t{clipRect.Left} +
                                           static_cast<std::int64_t>(i) - dstRect.Left);
        const double u = std::nearbyint(x / sx + srcRect.Left);
        columns[i] = static_cast<std::int32_t>(std::min(u, static_cast<double>(srcRect.Right - 1)));
    }
    const std::size_t offset = static_cast<std::size_t>(clipRect.Left) * 3;
    const std::int32_t* const map = columns.data();
    ParallelRows(clipRect.Top, clipRect.Bottom, [&](std::int64_t first, std::int64_t last) {
        // Locals: the byte stores below may alias anything, which would reload every capture.
        const float alpha = opacity;
        const std::size_t count = width;
        const std::int32_t top = dstRect.Top;
        const double srcTop = srcRect.Top;
        const double lastRow = static_cast<double>(srcRect.Bottom - 1);
        std::size_t previousRow = SIZE_MAX;
        bool previousOpaque = false;
        for (std::int64_t y = first; y < last; ++y) {
            const double v = std::nearbyint(static_cast<double>(y - top) / sy + srcTop);
            const auto row = static_cast<std::size_t>(std::min(v, lastRow));
            std::uint8_t* const d = bitmap->ScanLine(static_cast<std::int32_t>(y)) + offset;
            // An opaque pixel's bytes do not depend on the target, so when enlarging, a row of
            // opaque pixels this band drew from the same source row just before is copied.
            if (row == previousRow && previousOpaque) {
                std::memcpy(d, d - bitmap->BytesPerLine(), count * 3);
                continue;
            }
            const TColorHdr* const source = image->Pixels[row].data();
            bool opaque = true;
            for (std::size_t i = 0; i < count;) {
                const TColorHdr& p = source[map[i]];
                std::uint8_t* const target = d + i * 3;
                BlendPixelToBGR(p, target, alpha);
                std::size_t next = i + 1;
                if (p.A * alpha >= 1.0f) {
                    // The same bytes for the screen columns that show this pixel again.
                    for (; next < count && map[next] == map[i]; ++next)
                        std::memcpy(d + next * 3, target, 3);
                } else {
                    opaque = false;
                }
                i = next;
            }
            previousRow = row;
            previousOpaque = opaque;
        }
    });
}

void DrawCheckerboard(TBitmap* bitmap, std::int32_t originX, std::int32_t originY, TRect region,
                      std::int32_t cellWidth, std::int32_t cellHeight, TColor color1, TColor color2)
{
    if (!IsTarget(bitmap) || cellWidth < 1 || cellHeight < 1)
        return;
    region = IntersectRect(region, BitmapBounds(*bitmap));
    if (region.IsEmpty())
        return;
    const TBgr colors[2] = {ColorBytes(color1), ColorBytes(color2)};
    for (std::int32_t y = region.Top; y < region.Bottom; ++y) {
        const std::int64_t j = FloorDiv(std::int64_t{y} + originY, cellHeight);
        std::uint8_t* d = bitmap->ScanLine(y) + static_cast<std::size_t>(region.Left) * 3;
        for (std::int32_t x = region.Left; x < region.Right; ++x, d += 3) {
            const std::int64_t i = FloorDiv(std::int64_t{x} + originX, cellWidth);
            const TBgr& c = colors[((i ^ j) & 1) != 0 ? 1 : 0];
            d[0] = c.B;
            d[1] = c.G;
            d[2] = c.R;
        }
    }
}

std::int32_t ScaledExtent(std::int32_t extent, float zoom)
{
    return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(extent) * double{zoom}));
}

void RenderImageToBitmap(const TBmpHdr* image, float zoom, bool checkerboard, TBitmap& bitmap)
{
    // NaN is taken as 1:1 rather than passed on to the size.
    zoom = std::isnan(zoom) ? 1.0f : std::clamp(zoom, 0.1f, 16.0f);
    if (image == nullptr || image->IsEmpty()) {
        bitmap = TBitmap();
        return;
    }
    const std::int32_t width = std::max(ScaledExtent(image->Width(), zoom), 1);
    const std::int32_t height = std::max(ScaledExtent(image->Height(), zoom), 1);
    bitmap = TBitmap(width, height, TPixelFormat::pf24bit);
    const TRect all{0, 0, width, height};
    if (checkerboard)
        DrawCheckerboard(&bitmap, 0, 0, all, CheckerCellSize, CheckerCellSize, CheckerColor1,
                         CheckerColor2);
    StretchDrawHdrToBitmap(image, MaxRectHdr, &bitmap, all, all, 1.0f);
}

std::int32_t HistogramBinCount()
{
    return static_cast<std::int32_t>(std::max<std::size_t>(HistLuminosity.size(), 4) - 4);
}

void DrawHistogram(TBitmap* bitmap, std::int32_t& x, std::int32_t& y, std::uint8_t channel,
                   std::int32_t height)
{
    if (!IsTarget(bitmap))
        return;
    const THistogram& histogram = HistogramOf(channel);
    const std::int32_t n =
        static_cast<std::int32_t>(std::max<std::size_t>(histogram.size(), 4) - 4);
    FillRect(*bitmap, TRect{x, y, x + n, y + height}, TBgr{255, 255, 255});
    const TBgr grid{222, 205, 205};
    for (std::int32_t k = 1; k <= 3; ++k)
        VerticalLine(*bitmap, x + n * k / 4, y + 7, y + height, grid);
    TBgr pen{0, 0, 0};
    if (channel == 1)
        pen = TBgr{0, 0, 255};
    else if (channel == 2)
        pen = TBgr{0, 128, 0};
    else if (channel == 3)
        pen = TBgr{255, 0, 0};
    float peak = 0.0f;
    for (std::int32_t i = 0; i < n; ++i)
        peak = std::max(peak, histogram[static_cast<std::size_t>(i) + 4]);
    const std::int32_t room = std::max(height - 7, 0);
    // An empty histogram would divide 0 by 0: it has no bars.
    if (peak > 0.0f && std::isfinite(peak)) {
        for (std::int32_t i = 0; i < n; ++i) {
            const float bin = histogram[static_cast<std::size_t>(i) + 4];
            if (!(bin > 0.0f))
                continue;
            const double b = std::nearbyint(std::sqrt(double{bin} / double{peak}) * room);
            const auto bar =
                static_cast<std::int32_t>(std::clamp(b, 0.0, static_cast<double>(room)));
            VerticalLine(*bitmap, x + i, y + height - bar, y + height, pen);
        }
    }
    x += n;
    y += height;
}

std::vector<THistogramStatsLine> HistogramStatsLines(std::uint8_t flags, std::uint8_t channel)
{
    float minimum = 0.0f;
    float maximum = 0.0f;
    float average = 0.0f;
    float median = 0.0f;
    GetHistogramStats(channel, minimum, maximum, average, median);
    std::vector<THistogramStatsLine> lines;
    if ((flags & 1) != 0)
        lines.push_back({StatText("Min", minimum), StatText("Max", maximum)});
    if ((flags & 2) != 0)
        lines.push_back({StatText("Avg", average), StatText("Med", median)});
    return lines;
}

}  // namespace lumivex
