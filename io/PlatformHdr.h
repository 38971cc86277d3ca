#pragma once

// The file path without FreeImage: BMP through our own reader and writer, JPEG through
// libjpeg-turbo, both by way of the platform bitmap.

#include <string>

#include "core/BmpHdr.h"
#include "io/FreeHdr.h"
#include "platform/Bitmap.h"

namespace lumivex {

/// True for names ending in .jpg or .jpeg (any case): those go to the JPEG decoder, everything
/// else to the BMP reader.
bool IsJpegFileName(const std::string& fileName);

/// Reads a BMP or JPEG file into a platform bitmap (24 or 32 bits).
bool LoadPlatformBitmap(const std::string& fileName, TBitmap& bitmap);
/// Reads only the header: the size a full load would produce.
bool ReadPlatformHeader(const std::string& fileName, std::int32_t& width, std::int32_t& height);
/// Imports a bitmap as an opaque image (alpha 1.0 everywhere, as the platform path always did).
void PlatformRowToHdr(const TBitmap& bitmap, std::int32_t y, TColorHdr* target);

/// True when the file starts with the BMP signature.
bool IsBmpFile(const std::string& fileName);
/// FreeImage refuses some valid BMP files (V4 and V5 headers with alpha, some RLE8 files); our
/// reader takes them. A 32-bit file keeps its alpha unless every pixel has alpha 0 (writers
/// that leave the byte unused), which loads opaque as 24 bits.
bool LoadBmpFallback(const std::string& fileName, TBitmap& bitmap, bool& transparent);

/// Sizes the image to the bitmap and imports it; alpha from the fourth byte of 32-bit bitmaps
/// when keepAlpha, else 1.0. False (image empty, status set) when it does not fit.
bool ImportBitmap(const TBitmap& bitmap, TBmpHdr& image, bool keepAlpha);

/// Loads in this process: Transparent false, Kind ikStandard, 72 DPI.
bool LoadPlatformHdr(const std::string& fileName, TBmpHdr* image, TImageInfo& info);

/// A 24-bit BMP of the image drawn opaquely over black, with the info's resolution.
bool SaveAsBmp(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
/// Our own JPEG writer, for when FreeImage is missing; quality from the FreeImage flags
/// (their low bits hold a quality 1..100; 0 and the named levels map to their qualities).
bool SaveAsJpegPlatform(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
/// SaveAsBmp and SaveAsJpegPlatform of a 24-bit bitmap as it is: the same file as saving an
/// opaque image whose colours round to its bytes.
bool SaveBitmapAsBmp(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info);
bool SaveBitmapAsJpegPlatform(const std::string& fileName, const TBitmap& bitmap,
                              const TImageInfo& info);

}  // namespace lumivex
