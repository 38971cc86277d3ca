#include "io/ImageFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "io/FileStatus.h"
#include "io/PlatformHdr.h"

namespace lumivex {

std::optional<TSaveFormat> SaveFormatFromFileName(const std::string& fileName)
{
    std::string ext = std::filesystem::path(fileName).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".bmp")
        return TSaveFormat::sfBmp;
    if (ext == ".jpg" || ext == ".jpeg")
        return TSaveFormat::sfJpeg;
    if (ext == ".png")
        return TSaveFormat::sfPng;
    if (ext == ".tif" || ext == ".tiff")
        return TSaveFormat::sfTiff;
    if (ext == ".hdr")
        return TSaveFormat::sfHdr;
    if (ext == ".exr")
        return TSaveFormat::sfExr;
    return std::nullopt;
}

bool SaveFormatKeepsAlpha(TSaveFormat format)
{
    return format == TSaveFormat::sfPng || format == TSaveFormat::sfTiff ||
           format == TSaveFormat::sfExr;
}

bool SaveImageFile(const std::string& fileName, TSaveFormat format, const TBmpHdr* image,
                   const TImageInfo& info)
{
    switch (format) {
        case TSaveFormat::sfBmp:
            return SaveAsBmp(fileName, image, info);
        case TSaveFormat::sfJpeg:
            return IsFreeImageAvailable() ? SaveAsJpeg(fileName, image, info)
                                          : SaveAsJpegPlatform(fileName, image, info);
        case TSaveFormat::sfPng:
            return SaveAsPng(fileName, image, info);
        case TSaveFormat::sfTiff:
            return SaveAsTiff(fileName, image, info);
        case TSaveFormat::sfHdr:
            return SaveAsHdr(fileName, image, info);
        case TSaveFormat::sfExr:
            return SaveAsExr(fileName, image, info);
    }
    SetFileStatus(TFileErrorCode::feNoWriter, "no writer for this format");
    return false;
}

bool SaveFormatIsEightBit(TSaveFormat format)
{
    return format == TSaveFormat::sfBmp || format == TSaveFormat::sfJpeg ||
           format == TSaveFormat::sfPng || format == TSaveFormat::sfTiff;
}

bool SaveBitmapFile(const std::string& fileName, TSaveFormat format, const TBitmap& bitmap,
                    const TImageInfo& info)
{
    switch (format) {
        case TSaveFormat::sfBmp:
            return SaveBitmapAsBmp(fileName, bitmap, info);
        case TSaveFormat::sfJpeg:
            return IsFreeImageAvailable() ? SaveBitmapAsJpeg(fileName, bitmap, info)
                                          : SaveBitmapAsJpegPlatform(fileName, bitmap, info);
        case TSaveFormat::sfPng:
            return SaveBitmapAsPng(fileName, bitmap, info);
        case TSaveFormat::sfTiff:
            return SaveBitmapAsTiff(fileName, bitmap, info);
        case TSaveFormat::sfHdr:
        case TSaveFormat::sfExr:
            break;
    }
    SetFileStatus(TFileErrorCode::feNoWriter, "this writer needs the float image");
    return false;
}

}  // namespace lumivex
