#include "io/PlatformHdr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <functional>
#include <new>
#include <vector>

#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "platform/BmpFile.h"
#include "platform/JpegFile.h"
#include "platform/SafeSave.h"

namespace lumivex {
namespace {

std::string LowerExtension(const std::string& fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool ReadWholeFile(const std::string& fileName, std::vector<std::uint8_t>& data)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        SetFileStatus(TFileErrorCode::feCannotOpen, "cannot open the file");
        return false;
    }
    // One read of the known size: growing the vector byte by byte costs more than the decode
    // of a small photograph.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) {
        SetFileStatus(TFileErrorCode::feCannotOpen, "cannot read the file");
        return false;
    }
    data.resize(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))) {
        SetFileStatus(TFileErrorCode::feCannotOpen, "cannot read the file");
        return false;
    }
    return true;
}

TFileErrorCode CodeForDecoderMessage(const std::string& message)
{
    if (message.find("too large") != std::string::npos)
        return TFileErrorCode::feTooLarge;
    return TFileErrorCode::feCorrupt;
}

// JPEG quality from FreeImage's save flags: the low 7 bits are an explicit quality; the named
// levels (superb 0x80, good 0x100, normal 0x200, average 0x400, bad 0x800) and 0 (default 75).
int JpegQualityFromFlags(std::int32_t flags)
{
    const int explicitQuality = flags & 0x7F;
    if (explicitQuality >= 1 && explicitQuality <= 100)
        return explicitQuality;
    if (flags & 0x80)
        return 100;
    if (flags & 0x100)
        return 75;
    if (flags & 0x200)
        return 50;
    if (flags & 0x400)
        return 25;
    if (flags & 0x800)
        return 10;
    return 75;
}

bool DrawToBitmap(const TBmpHdr* image, TBitmap& bitmap)
{
    if (image == nullptr || image->IsEmpty()) {
        SetFileStatus(TFileErrorCode::feWriteFailed, "there is no image to save");
        return false;
    }
    try {
        bitmap = TBitmap(image->Width(), image->Height(), TPixelFormat::pf24bit);
    } catch (const std::bad_alloc&) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "cannot allocate the image to save");
        return false;
    }
    DrawHdrToBitmap(image, MaxRectHdr, &bitmap, 0, 0, MaxRectHdr, 1.0f);
    return true;
}

std::int32_t PelsPerMeter(float dpi)
{
    const double v = std::trunc(static_cast<double>(dpi) / 2.54 * 100.0 + 0.5);
    return std::isfinite(v) && v >= 1.0 && v <= 2147483647.0 ? static_cast<std::int32_t>(v) : 2835;
}

}  // namespace

bool IsJpegFileName(const std::string& fileName)
{
    const std::string ext = LowerExtension(fileName);
    return ext == ".jpg" || ext == ".jpeg";
}

bool ReadPlatformHeader(const std::string& fileName, std::int32_t& width, std::int32_t& height)
{
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(fileName, data))
        return false;
    std::string error;
    bool ok = false;
    if (IsJpegFileName(fileName)) {
        TJpegInfo info;
        ok = ReadJpegHeader(data, info, error);
        width = info.Width;
        height = info.Height;
    } else {
        int bpp = 0;
        ok = ReadBmpHeader(data, width, height, bpp, error);
        height = std::abs(height);
    }
    if (!ok)
        SetFileStatus(CodeForDecoderMessage(error), error);
    return ok;
}

bool LoadPlatformBitmap(const std::string& fileName, TBitmap& bitmap)
{
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(fileName, data))
        return false;
    std::string error;
    bool ok = false;
    try {
        ok = IsJpegFileName(fileName) ? LoadJpegFromMemory(data, bitmap, nullptr, error)
                                      : LoadBmpFromMemory(data, bitmap, error);
    } catch (const std::bad_alloc&) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory to decode the file");
        return false;
    }
    if (!ok)
        SetFileStatus(CodeForDecoderMessage(error), error);
    return ok;
}

bool IsBmpFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    return in.gcount() == 2 && magic[0] == 'B' && magic[1] == 'M';
}

bool LoadBmpFallback(const std::string& fileName, TBitmap& bitmap, bool& transparent)
{
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(fileName, data))
        return false;
    std::string error;
    try {
        if (!LoadBmpFromMemory(data, bitmap, error)) {
            SetFileStatus(CodeForDecoderMessage(error), error);
            return false;
        }
    } catch (const std::bad_alloc&) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory to decode the file");
        return false;
    }
    transparent = false;
    if (bitmap.PixelFormat() == TPixelFormat::pf32bit) {
        bool anyAlpha = false;
        for (std::int32_t y = 0; y < bitmap.Height() && !anyAlpha; ++y) {
            const std::uint8_t* s = bitmap.ScanLine(y);
            for (std::int32_t x = 0; x < bitmap.Width(); ++x)
                anyAlpha = anyAlpha || s[4 * x + 3] != 0;
        }
        if (anyAlpha)
            transparent = true;
        else
            bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    }
    ClearFileStatus();
    return true;
}

void PlatformRowToHdr(const TBitmap& bitmap, std::int32_t y, TColorHdr* target)
{
    RowBytesToHdr(bitmap.ScanLine(y), static_cast<std::size_t>(bitmap.Width()),
                  bitmap.BytesPerPixel(), false, target);
}

bool ImportBitmap(const TBitmap& bitmap, TBmpHdr& image, bool keepAlpha)
{
    if (!IsValidImageSize(bitmap.Width(), bitmap.Height())) {
        SetFileStatus(TFileErrorCode::feTooLarge, "image too large");
        return false;
    }
    try {
        image.SetWidth(bitmap.Width());
        image.SetHeight(bitmap.Height());
    } catch (const std::bad_alloc&) {
        image.Clear();
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for the image");
        return false;
    }
    const bool alpha = keepAlpha && bitmap.PixelFormat() == TPixelFormat::pf32bit;
    ParallelRows(0, bitmap.Height(), [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<std::int32_t>(first); y < last; ++y) {
            TColorHdr* row = image.Pixels[static_cast<std::size_t>(y)].data();
            if (alpha)
                ConvertFreeRow(TFreeLayout::flBitmap32, bitmap.ScanLine(y), row, image.Width());
            else
                PlatformRowToHdr(bitmap, y, row);
        }
    });
    return true;
}

bool LoadPlatformHdr(const std::string& fileName, TBmpHdr* image, TImageInfo& info)
{
    if (image == nullptr)
        return false;
    ClearFileStatus();
    image->Assign(nullptr);
    TBitmap bitmap;
    if (!LoadPlatformBitmap(fileName, bitmap) || !ImportBitmap(bitmap, *image, false))
        return false;
    info.Transparent = false;
    info.Kind = TImageKind::ikStandard;
    info.DpiX = info.DpiY = 72.0f;
    return true;
}

namespace {

using TBitmapWriter = std::function<bool(const std::string&, const TBitmap&, std::string&)>;

// Writes a bitmap through a temporary file.
bool WriteBitmap(const std::string& fileName, const TBitmap& bitmap, const TBitmapWriter& write)
{
    ClearFileStatus();
    if (bitmap.IsEmpty()) {
        SetFileStatus(TFileErrorCode::feWriteFailed, "there is no image to save");
        return false;
    }
    std::string error;
    const bool ok = SaveThroughTempFile(
        fileName, [&](const std::string& temp) { return write(temp, bitmap, error); }, error);
    if (!ok)
        SetFileStatus(TFileErrorCode::feWriteFailed, error);
    return ok;
}

// Draws the image onto a 24-bit bitmap and writes that.
bool SaveBitmap(const std::string& fileName, const TBmpHdr* image, const TBitmapWriter& write)
{
    ClearFileStatus();
    TBitmap bitmap;
    if (!DrawToBitmap(image, bitmap))
        return false;
    return WriteBitmap(fileName, bitmap, write);
}

TBitmapWriter BmpWriter(const TImageInfo& info)
{
    return [&info](const std::string& temp, const TBitmap& bitmap, std::string& error) {
        return SaveBmpToFile(temp, bitmap, PelsPerMeter(info.DpiX), PelsPerMeter(info.DpiY), error);
    };
}

TBitmapWriter JpegWriter(const TImageInfo& info)
{
    return [&info](const std::string& temp, const TBitmap& bitmap, std::string& error) {
        return SaveJpegToFile(temp, bitmap, JpegQualityFromFlags(info.JpegFlags), info.DpiX,
                              info.DpiY, error);
    };
}

}  // namespace

bool SaveAsBmp(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    return SaveBitmap(fileName, image, BmpWriter(info));
}

bool SaveBitmapAsBmp(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info)
{
    return WriteBitmap(fileName, bitmap, BmpWriter(info));
}

bool SaveBitmapAsJpegPlatform(const std::string& fileName, const TBitmap& bitmap,
                              const TImageInfo& info)
{
    return WriteBitmap(fileName, bitmap, JpegWriter(info));
}

bool SaveAsJpegPlatform(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    return SaveBitmap(fileName, image, JpegWriter(info));
}

}  // namespace lumivex
