#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/Bitmap.h"

namespace lumivex {

// JPEG files through libjpeg-turbo. Loading always gives pf24bit; greyscale is spread to B = G =
// R and CMYK/YCCK is converted to RGB without colour management. On failure the functions
// return false, leave the bitmap untouched and put libjpeg's message (or a short English
// sentence) into error; libjpeg never prints and never ends the process.

struct TJpegInfo {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    int Components = 0;  // as stored: 1 grey, 3 YCbCr/RGB, 4 CMYK/YCCK
    double DpiX = 0;     // from the JFIF density; 0 when the file gives none or only an aspect
    double DpiY = 0;
    /// Recoverable damage libjpeg worked around (a truncated file is padded, for instance). The
    /// pixels are still delivered; the caller decides whether to trust them.
    int Warnings = 0;
};

/// The largest width and height accepted, the limit of the 16-bit image model (libjpeg itself
/// stops at 65500).
inline constexpr std::int32_t MaxJpegSide = 65535;

/// Reads the markers up to the first scan, no pixels.
bool ReadJpegHeader(std::span<const std::uint8_t> data, TJpegInfo& info, std::string& error);

/// info may be null. A bitmap that already has the image's size in pf24bit is decoded into in
/// place, its own bytes kept (a shared mapping stays one); after a failure its rows may then be
/// partly written.
bool LoadJpegFromMemory(std::span<const std::uint8_t> data, TBitmap& bitmap, TJpegInfo* info,
                        std::string& error);
bool LoadJpegFromFile(const std::string& fileName, TBitmap& bitmap, TJpegInfo* info,
                      std::string& error);

/// pf24bit or pf32bit input (alpha is dropped), 4:2:0 YCbCr, quality clamped to 1..100. The
/// density is written in dots per inch, rounded, when both values are positive and fit the
/// 16-bit JFIF fields; otherwise the file carries none. The file is written in place.
bool SaveJpegToFile(const std::string& fileName, const TBitmap& bitmap, int quality, double dpiX,
                    double dpiY, std::string& error);

}  // namespace lumivex
