#pragma once

// Choosing the writer by file name, as the save dialog's file types do.

#include <optional>
#include <string>

#include "core/BmpHdr.h"
#include "io/FreeHdr.h"

namespace lumivex {

enum class TSaveFormat : std::uint8_t { sfBmp, sfJpeg, sfPng, sfTiff, sfHdr, sfExr };

/// The writer selected by the lower-case extension (.bmp .jpg .png .tif .hdr .exr; also .jpeg
/// and .tiff); nothing for any other name.
std::optional<TSaveFormat> SaveFormatFromFileName(const std::string& fileName);
/// True when the format stores an alpha channel when asked (PNG, TIFF, OpenEXR).
bool SaveFormatKeepsAlpha(TSaveFormat format);

/// Writes with the writer of the format. BMP always goes through the platform bitmap, JPEG
/// through it when FreeImage is missing; the other formats need FreeImage.
bool SaveImageFile(const std::string& fileName, TSaveFormat format, const TBmpHdr* image,
                   const TImageInfo& info);
/// Whether the format stores 8-bit colours, so that SaveBitmapFile can write it.
bool SaveFormatIsEightBit(TSaveFormat format);
/// Writes a 24-bit bitmap's bytes with the writer SaveImageFile picks: the same file as saving
/// an image without transparency whose colours round to those bytes (info.Transparent is not
/// looked at). False for formats that are not 8-bit.
bool SaveBitmapFile(const std::string& fileName, TSaveFormat format, const TBitmap& bitmap,
                    const TImageInfo& info);

}  // namespace lumivex
