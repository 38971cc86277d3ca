#pragma once

// What the screen shows of an image: the scaled draw onto a 24-bit platform bitmap, the
// checkerboard under transparency and the histogram pictures. The 1:1 draw and the pixel blend
// (DrawHdrToBitmap, BlendPixelToBGR) live in core/BmpHdr, which the BMP writer shares.
//
// Targets are 24-bit bitmaps (bytes B, G, R, row 0 on top); bitmaps of another format, empty
// and absent ones are not drawn on. Colours are platform values $00BBGGRR.

#include <cstdint>
#include <string>
#include <vector>

#include "core/BmpHdr.h"
#include "platform/Bitmap.h"
#include "platform/SysColors.h"

namespace lumivex {

/// The view's transparency pattern: 8 x 8 cells, grey in the image's top-left corner.
inline constexpr std::int32_t CheckerCellSize = 8;
inline constexpr TColor CheckerColor1 = 0x00C3C3C3;  // 195, 195, 195
inline constexpr TColor CheckerColor2 = 0x00FFFFFF;

/// Draws srcRect scaled into dstRect, writing only inside clipRect, by nearest neighbour: screen
/// pixel (x, y) shows source column Round((x - dst.Left) / sx + src.Left), limited to
/// src.Right - 1 (rows alike), with sx the double quotient of the widths and ties to even.
/// Equal sizes go through DrawHdrToBitmap. Rows are cut into bands across cores; every pixel
/// is computed alone, so the bytes do not depend on the thread count.
void StretchDrawHdrToBitmap(const TBmpHdr* image, TRect srcRect, TBitmap* bitmap, TRect dstRect,
                            TRect clipRect, float opacity);

/// Fills region with cells of cellWidth x cellHeight: pixel (x, y) gets color1 when
/// floor((x + originX) / cellWidth) and floor((y + originY) / cellHeight) have the same parity,
/// else color2. Cell sizes below 1 draw nothing. A negative colour is a system colour.
void DrawCheckerboard(TBitmap* bitmap, std::int32_t originX, std::int32_t originY, TRect region,
                      std::int32_t cellWidth, std::int32_t cellHeight, TColor color1,
                      TColor color2);

/// Round(extent x zoom) in double, ties to even: the view's scaled width or height.
std::int32_t ScaledExtent(std::int32_t extent, float zoom);

/// The view's picture of the whole image at a zoom limited to 0.1..16: the bitmap becomes
/// ScaledExtent of width by height, 24 bits, black, with the checkerboard anchored at the
/// image's corner when asked, and the image drawn over it at opacity 1. An empty image gives an
/// empty bitmap.
void RenderImageToBitmap(const TBmpHdr* image, float zoom, bool checkerboard, TBitmap& bitmap);

/// Number of bins of the shared histograms (their length minus the four statistics).
std::int32_t HistogramBinCount();

/// Draws one histogram of n bins (channel 1 red, 2 green, 3 blue, else luminosity) at (x, y), n
/// wide and `height` high: white ground, three grid lines at n k / 4, one bar per bin of height
/// Round(sqrt(bin / peak) (height - 7)). A histogram of only zero bins draws no bars. Moves x
/// past the picture by n and y by height.
void DrawHistogram(TBitmap* bitmap, std::int32_t& x, std::int32_t& y, std::uint8_t channel,
                   std::int32_t height);

/// One line of histogram statistics: text on the left and text ending at the right edge.
struct THistogramStatsLine {
    std::string Left;
    std::string Right;
};

/// The statistics lines of a histogram: flag bit 0 "Min : 0.00" and "Max : 1.00", bit 1 "Avg"
/// and "Med", in that order, two decimals whatever the locale. The drawing of the text belongs
/// to the window layer, which has the fonts.
std::vector<THistogramStatsLine> HistogramStatsLines(std::uint8_t flags, std::uint8_t channel);

}  // namespace lumivex
