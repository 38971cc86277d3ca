#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/Bitmap.h"

namespace lumivex {

// Windows BMP files, read and written without any imaging library.
// Loading gives pf32bit for 32 bits-per-pixel files (alpha from the fourth byte or the alpha
// mask) and pf24bit for everything else; row 0 of the bitmap is the top row whatever the file's
// row order. Uncompressed pixel data that stops short is refused; RLE data that stops short
// leaves the rest black. An RLE canvas above 2^24 pixels needs at least one stored byte per 256
// pixels, so a few bytes cannot claim gigabytes. On failure the functions return false, leave
// the bitmap untouched and put a short English sentence into error.

/// The largest width and height accepted, the limit of the 16-bit image model.
inline constexpr std::int32_t MaxBmpSide = 65535;
/// 72 dpi, the density written when the caller has none.
inline constexpr std::int32_t DefaultBmpPelsPerMeter = 2835;
/// BMP size fields are 32-bit, so no valid file is larger.
inline constexpr std::uint64_t MaxBmpFileSize = 0xFFFFFFFFu;

/// Checks the file and information headers (and bit masks) only: neither the palette nor the
/// pixels are looked at, so a prefix of the file that holds the headers is enough. height is
/// returned positive for top-down files too.
bool ReadBmpHeader(std::span<const std::uint8_t> data, std::int32_t& width, std::int32_t& height,
                   int& bitsPerPixel, std::string& error);

bool LoadBmpFromMemory(std::span<const std::uint8_t> data, TBitmap& bitmap, std::string& error);
/// Refuses files larger than MaxBmpFileSize before reading them.
bool LoadBmpFromFile(const std::string& fileName, TBitmap& bitmap, std::string& error);

/// Bytes SaveBmpToFile writes for an image of this size at 24 or 32 bits per pixel (headers
/// included); 0 for any other depth.
std::uint64_t BmpFileSize(std::int32_t width, std::int32_t height, int bitsPerPixel);

/// pf24bit is written as 24-bit BI_RGB, pf32bit as 32-bit BI_BITFIELDS with a BITMAPV5 header and
/// an alpha mask, so alpha survives a round trip. Rows are stored bottom-up. The file is written
/// in place at fileName; an image whose file would exceed MaxBmpFileSize is refused before
/// anything is created.
bool SaveBmpToFile(const std::string& fileName, const TBitmap& bitmap, std::int32_t pelsPerMeterX,
                   std::int32_t pelsPerMeterY, std::string& error);
bool SaveBmpToFile(const std::string& fileName, const TBitmap& bitmap, std::string& error);

}  // namespace lumivex
