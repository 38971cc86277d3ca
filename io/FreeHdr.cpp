#include "io/FreeHdr.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "adjust/ToneAdjust.h"
#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "io/HeaderCheck.h"
#include "io/PlatformHdr.h"
#include "io/RadianceHdr.h"
#include "platform/SafeSave.h"

namespace lumivex {
namespace {

const TFreeImageApi& Api()
{
    // Only reached behind IsValid(), which implies a loaded table.
    return *FreeImageApi();
}

std::string FreeImageReason(const char* fallback)
{
    std::string message = FreeImageMessage();
    return message.empty() ? std::string(fallback) : message;
}

float ReadFloat(const std::uint8_t* p)
{
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

float ReadWord(const std::uint8_t* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<float>(v) / 65535.0f;
}

void WriteFloat(std::uint8_t* p, float v) { std::memcpy(p, &v, sizeof v); }

// FreeImage's own file writer ignores failed writes (PNG and TIFF then report success over a
// truncated file, and the temporary file would replace a good one); these callbacks remember
// the first failure.
struct TCheckedFile {
    std::FILE* File = nullptr;
    int Error = 0;
};

unsigned ReadChecked(void* buffer, unsigned size, unsigned count, void* handle)
{
    auto* f = static_cast<TCheckedFile*>(handle);
    return static_cast<unsigned>(std::fread(buffer, size, count, f->File));
}

unsigned WriteChecked(void* buffer, unsigned size, unsigned count, void* handle)
{
    auto* f = static_cast<TCheckedFile*>(handle);
    const std::size_t written = std::fwrite(buffer, size, count, f->File);
    if (written != count && f->Error == 0)
        f->Error = errno != 0 ? errno : EIO;
    return static_cast<unsigned>(written);
}

int SeekChecked(void* handle, long offset, int origin)
{
    return std::fseek(static_cast<TCheckedFile*>(handle)->File, offset, origin);
}

long TellChecked(void* handle) { return std::ftell(static_cast<TCheckedFile*>(handle)->File); }

// FreeImage's scan lines: whole bytes, padded to 4.
std::size_t LibraryPitch(int width, int bpp)
{
    const std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(bpp);
    return ((bits + 7) / 8 + 3) & ~std::size_t{3};
}

// Something to save, and FreeImage to save it.
bool CheckSave(bool something)
{
    if (!something) {
        SetFileStatus(TFileErrorCode::feWriteFailed, "there is no image to save");
        return false;
    }
    if (FreeImageApi() == nullptr) {
        SetFileStatus(TFileErrorCode::feNoWriter, "FreeImage is not available");
        return false;
    }
    return true;
}

bool CheckSaveImage(const TBmpHdr* image)
{
    return CheckSave(image != nullptr && !image->IsEmpty());
}

bool CommonSave(TBmpFree& free, int format, const std::string& fileName, const TImageInfo& info)
{
    free.SetDpcmX(static_cast<double>(info.DpiX) / 2.54);
    free.SetDpcmY(static_cast<double>(info.DpiY) / 2.54);
    int flags = 0;
    switch (format) {
        case FIF_JPEG:
            flags = info.JpegFlags;
            break;
        case FIF_PNG:
            flags = info.PngFlags;
            break;
        case FIF_TIFF:
            flags = info.TiffFlags;
            break;
        case FIF_EXR:
            flags = info.ExrFlags;
            break;
        default:
            break;
    }
    std::string error;
    const bool ok = SaveThroughTempFile(
        fileName, [&](const std::string& temp) { return free.SaveToFile(format, temp, flags); },
        error);
    if (!ok)
        SetFileStatusIfClear(TFileErrorCode::feWriteFailed, error);
    return ok;
}

// Allocates a bitmap of the type, fills it bottom-up, line y of the picture by fill(y, line), on
// all cores, and saves it. The fill writes every byte of a line but the pitch's padding, so the
// pixel memory is not cleared first: on a large image that pass cost as much as the fill, and
// on one thread.
template <typename TFill>
bool FillLinesAndSave(int format, int type, int bpp, int width, int height,
                      const std::string& fileName, const TImageInfo& info, TFill fill)
{
    TBmpFree free;
    if (free.AllocateUncleared(type, width, height, bpp) == nullptr) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "cannot allocate the image to save");
        return false;
    }
    const std::size_t lineBytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(bpp / 8);
    const std::size_t padding = free.GetPitch() - lineBytes;
    ParallelRows(0, height, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<int>(first); y < last; ++y) {
            std::uint8_t* line = free.GetScanLine(height - 1 - y);
            fill(y, line);
            std::memset(line + lineBytes, 0, padding);
        }
    });
    return CommonSave(free, format, fileName, info);
}

// Fills a bitmap from the image, one row at a time; rows are independent.
template <typename TFill>
bool FillAndSave(int format, int type, int bpp, const std::string& fileName, const TBmpHdr* image,
                 const TImageInfo& info, TFill fill)
{
    ClearFileStatus();
    ClearFreeImageMessage();
    if (!CheckSaveImage(image))
        return false;
    return FillLinesAndSave(
        format, type, bpp, image->Width(), image->Height(), fileName, info,
        [&](int y, std::uint8_t* line) { fill(image->Pixels[static_cast<std::size_t>(y)], line); });
}

bool SaveBytes(int format, const std::string& fileName, const TBmpHdr* image,
               const TImageInfo& info, bool withAlpha)
{
    const int bpp = withAlpha ? 32 : 24;
    return FillAndSave(format, FIT_BITMAP, bpp, fileName, image, info,
                       [withAlpha](const TRawHdr& row, std::uint8_t* line) {
                           RowHdrToBytes(row.data(), row.size(), line, withAlpha);
                       });
}

// The bitmap's 24-bit lines as they are.
bool SaveBitmapBytes(int format, const std::string& fileName, const TBitmap& bitmap,
                     const TImageInfo& info)
{
    ClearFileStatus();
    ClearFreeImageMessage();
    if (!CheckSave(!bitmap.IsEmpty() && bitmap.PixelFormat() == TPixelFormat::pf24bit))
        return false;
    return FillLinesAndSave(format, FIT_BITMAP, 24, bitmap.Width(), bitmap.Height(), fileName, info,
                            [&](int y, std::uint8_t* line) {
                                std::memcpy(line, bitmap.ScanLine(y), bitmap.BytesPerLine());
                            });
}

bool SaveFloats(int format, const std::string& fileName, const TBmpHdr* image,
                const TImageInfo& info, bool withAlpha)
{
    const int type = withAlpha ? FIT_RGBAF : FIT_RGBF;
    const float gamma = info.Gamma;
    return FillAndSave(format, type, withAlpha ? 128 : 96, fileName, image, info,
                       [withAlpha, gamma](const TRawHdr& row, std::uint8_t* line) {
                           // PowerHdr of every value (0 for values not above 0, NaN
                           // included), through the vector power kernels.
                           thread_local TRawHdr mapped;
                           const TRawHdr* values = &row;
                           if (gamma != 1.0f) {
                               mapped.assign(row.begin(), row.end());
                               PowerRowHdr(mapped.data(), mapped.size(), gamma);
                               values = &mapped;
                           }
                           for (const TColorHdr& p : *values) {
                               WriteFloat(line, p.R > 0.0f ? p.R : 0.0f);
                               WriteFloat(line + 4, p.G > 0.0f ? p.G : 0.0f);
                               WriteFloat(line + 8, p.B > 0.0f ? p.B : 0.0f);
                               if (withAlpha)
                                   WriteFloat(line + 12, p.A);
                               line += withAlpha ? 16 : 12;
                           }
                       });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TBmpFree

TBmpFree::TBmpFree(int type, int width, int height, int bpp)
{
    if (width >= 1 && height >= 1 && bpp >= 1)
        Allocate(type, width, height, bpp);
}

TBmpFree::~TBmpFree() { Unload(); }

void TBmpFree::Unload()
{
    if (m_handle != nullptr)
        Api().Unload(m_handle);
    m_handle = nullptr;
    m_bits.reset();
}

FIBITMAP* TBmpFree::Allocate(int type, int width, int height, int bpp)
{
    Unload();
    if (FreeImageApi() != nullptr)
        m_handle = Api().AllocateT(type, width, height, bpp, 0, 0, 0);
    return m_handle;
}

FIBITMAP* TBmpFree::AllocateUncleared(int type, int width, int height, int bpp)
{
    Unload();
    const TFreeImageApi* api = FreeImageApi();
    if (api == nullptr || api->AllocateHeaderForBits == nullptr || width < 1 || height < 1 ||
        bpp < 1)
        return Allocate(type, width, height, bpp);
    // The library's own pitch, so that writers that copy whole scan lines write the same bytes.
    const std::size_t pitch = LibraryPitch(width, bpp);
    std::unique_ptr<std::uint8_t[]> bits(
        new (std::nothrow) std::uint8_t[pitch * static_cast<std::size_t>(height)]);
    if (bits == nullptr)
        return nullptr;
    m_handle = api->AllocateHeaderForBits(bits.get(), static_cast<unsigned>(pitch), type, width,
                                          height, static_cast<unsigned>(bpp), 0, 0, 0);
    if (m_handle != nullptr)
        m_bits = std::move(bits);
    return m_handle;
}

bool TBmpFree::SetHandle(FIBITMAP* handle)
{
    if (handle == nullptr)
        return false;
    if (handle != m_handle) {
        Unload();
        m_handle = handle;
    }
    return true;
}

bool TBmpFree::IsTransparent() const { return IsValid() && Api().IsTransparent(m_handle) != 0; }

int TBmpFree::GetImageType() const
{
    return IsValid() ? Api().GetImageType(m_handle) : FIT_UNKNOWN;
}

int TBmpFree::GetWidth() const
{
    return IsValid() ? static_cast<int>(std::min<unsigned>(Api().GetWidth(m_handle), INT32_MAX))
                     : 0;
}

int TBmpFree::GetHeight() const
{
    return IsValid() ? static_cast<int>(std::min<unsigned>(Api().GetHeight(m_handle), INT32_MAX))
                     : 0;
}

int TBmpFree::GetBPP() const { return IsValid() ? static_cast<int>(Api().GetBPP(m_handle)) : 0; }

std::uint8_t* TBmpFree::GetScanLine(int y) const
{
    if (!IsValid() || y < 0 || y >= GetHeight())
        return nullptr;
    return Api().GetScanLine(m_handle, y);
}

std::size_t TBmpFree::GetPitch() const
{
    // Our own pixel memory has the library's pitch too.
    return IsValid() ? LibraryPitch(GetWidth(), GetBPP()) : 0;
}

double TBmpFree::GetDpcmX() const
{
    return IsValid() ? Api().GetDotsPerMeterX(m_handle) / 100.0 : 0.0;
}

double TBmpFree::GetDpcmY() const
{
    return IsValid() ? Api().GetDotsPerMeterY(m_handle) / 100.0 : 0.0;
}

namespace {

bool DotsPerMeter(double dpcm, unsigned& dpm)
{
    const double v = std::trunc(dpcm * 100.0 + 0.5);
    if (!std::isfinite(v) || v < 1.0 ||
        v > static_cast<double>(std::numeric_limits<unsigned>::max()))
        return false;
    dpm = static_cast<unsigned>(v);
    return true;
}

}  // namespace

void TBmpFree::SetDpcmX(double value)
{
    unsigned dpm = 0;
    if (IsValid() && DotsPerMeter(value, dpm))
        Api().SetDotsPerMeterX(m_handle, dpm);
}

void TBmpFree::SetDpcmY(double value)
{
    unsigned dpm = 0;
    if (IsValid() && DotsPerMeter(value, dpm))
        Api().SetDotsPerMeterY(m_handle, dpm);
}

bool TBmpFree::ConvertTo24Bits() { return IsValid() && SetHandle(Api().ConvertTo24Bits(m_handle)); }

bool TBmpFree::ConvertTo32Bits() { return IsValid() && SetHandle(Api().ConvertTo32Bits(m_handle)); }

int FreeImageFormatOf(const std::string& fileName)
{
    const TFreeImageApi* api = FreeImageApi();
    if (api == nullptr)
        return FIF_UNKNOWN;
    const int format = api->GetFileType(fileName.c_str(), 0);
    return format != FIF_UNKNOWN ? format : api->GetFIFFromFilename(fileName.c_str());
}

bool TBmpFree::LoadFromFile(const std::string& fileName, int flags,
                            const std::function<bool(int, int)>& onHeader)
{
    const TFreeImageApi* api = FreeImageApi();
    if (api == nullptr) {
        SetFileStatus(TFileErrorCode::feUnknownFormat, "FreeImage is not available");
        return false;
    }
    const int format = FreeImageFormatOf(fileName);
    if (format == FIF_UNKNOWN || api->FIFSupportsReading(format) == 0) {
        SetFileStatus(TFileErrorCode::feUnknownFormat, "unknown or unreadable file format");
        return false;
    }
    Unload();
    std::string headerError;
    if (!CheckKnownHeader(fileName, headerError)) {
        SetFileStatus(headerError.find("too large") != std::string::npos
                          ? TFileErrorCode::feTooLarge
                          : TFileErrorCode::feCorrupt,
                      headerError);
        return false;
    }
    // The header first: a declared size the image model cannot hold is refused before any
    // pixel memory is asked for.
    int headerWidth = 0;
    int headerHeight = 0;
    if ((flags & FIF_LOAD_NOPIXELS) == 0 && api->FIFSupportsNoPixels(format) != 0) {
        FIBITMAP* header = api->Load(format, fileName.c_str(), flags | FIF_LOAD_NOPIXELS);
        if (header == nullptr) {
            SetFileStatus(TFileErrorCode::feCorrupt,
                          FreeImageReason("cannot read the file header"));
            return false;
        }
        const unsigned w = api->GetWidth(header);
        const unsigned h = api->GetHeight(header);
        api->Unload(header);
        if (!IsValidImageSize(w, h)) {
            SetFileStatus(TFileErrorCode::feTooLarge,
                          w == 0 || h == 0 ? "the file declares an empty image"
                                           : "image too large: " + std::to_string(w) + " x " +
                                                 std::to_string(h) + " (at most 65535 x 65535)");
            return false;
        }
        headerWidth = static_cast<int>(w);
        headerHeight = static_cast<int>(h);
    }
    if (onHeader && !onHeader(headerWidth, headerHeight))
        return false;
    // The stored samples, not a display rendering: without the flag FreeImage re-encodes PNGs
    // whose gAMA is not 1/2.2 for a 2.2 screen.
    if (format == FIF_PNG)
        flags |= PNG_IGNOREGAMMA;
    // FreeImage's default JPEG decode is its fast one (integer IDCT, no smooth chroma
    // upsampling); the accurate one is libjpeg's default and what the platform path gives.
    if (format == FIF_JPEG)
        flags |= JPEG_ACCURATE;
    m_handle = api->Load(format, fileName.c_str(), flags);
    if (m_handle == nullptr) {
        SetFileStatus(TFileErrorCode::feCorrupt, FreeImageReason("the file cannot be decoded"));
        return false;
    }
    // FreeImage puts the first stored row of a PFM on top, but PFM stores the bottom row first.
    if (format == FIF_PFM && api->FlipVertical(m_handle) == 0) {
        Unload();
        SetFileStatus(TFileErrorCode::feOutOfMemory, "cannot turn the PFM image upright");
        return false;
    }
    return true;
}

bool TBmpFree::CanSave(int format) const
{
    if (!IsValid() || format == FIF_UNKNOWN)
        return false;
    const int type = GetImageType();
    if (type != FIT_BITMAP)
        return Api().FIFSupportsExportType(format, type) != 0;
    return Api().FIFSupportsWriting(format) != 0 &&
           Api().FIFSupportsExportBPP(format, GetBPP()) != 0;
}

bool TBmpFree::SaveToFile(int format, const std::string& fileName, int flags) const
{
    if (!CanSave(format)) {
        SetFileStatus(TFileErrorCode::feNoWriter, "the format cannot store this kind of image");
        return false;
    }
    TCheckedFile file;
    file.File = std::fopen(fileName.c_str(), "w+b");
    if (file.File == nullptr) {
        SetFileStatus(TFileErrorCode::feWriteFailed,
                      std::string("cannot create the file: ") + std::strerror(errno));
        return false;
    }
    TFreeImageIO io{ReadChecked, WriteChecked, SeekChecked, TellChecked};
    errno = 0;
    const bool saved = Api().SaveToHandle(format, m_handle, &io, &file, flags) != 0;
    if (std::fclose(file.File) != 0 && file.Error == 0)
        file.Error = errno != 0 ? errno : EIO;
    if (!saved) {
        SetFileStatus(TFileErrorCode::feWriteFailed, FreeImageReason("write failed"));
        return false;
    }
    if (file.Error != 0) {
        SetFileStatus(TFileErrorCode::feWriteFailed,
                      std::string("write failed: ") + std::strerror(file.Error));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Loading

bool IsFreeImageAvailable() { return FreeImageApi() != nullptr; }

TFreeLayout LayoutOf(int type, int bpp)
{
    switch (type) {
        case FIT_BITMAP:
            if (bpp < 24)
                return TFreeLayout::flNone;
            return bpp == 32 ? TFreeLayout::flBitmap32 : TFreeLayout::flBitmap24;
        case FIT_FLOAT:
            return TFreeLayout::flFloat;
        case FIT_RGB16:
            return TFreeLayout::flRGB16;
        case FIT_RGBA16:
            return TFreeLayout::flRGBA16;
        case FIT_RGBF:
            return TFreeLayout::flRGBF;
        case FIT_RGBAF:
            return TFreeLayout::flRGBAF;
        default:
            return TFreeLayout::flNone;
    }
}

TFreeLayout PrepareForReading(TBmpFree& free)
{
    const int type = free.GetImageType();
    if (type == FIT_BITMAP && free.GetBPP() < 24) {
        const bool converted =
            free.IsTransparent() ? free.ConvertTo32Bits() : free.ConvertTo24Bits();
        if (!converted) {
            SetFileStatus(TFileErrorCode::feOutOfMemory, "cannot convert the palette image");
            return TFreeLayout::flNone;
        }
    }
    const TFreeLayout layout = LayoutOf(free.GetImageType(), free.GetBPP());
    if (layout == TFreeLayout::flNone)
        SetFileStatus(TFileErrorCode::feUnsupportedType,
                      "unsupported pixel type (FreeImage type " + std::to_string(type) + ", " +
                          std::to_string(free.GetBPP()) + " bits)");
    return layout;
}

void ConvertFreeRow(TFreeLayout layout, const std::uint8_t* s, TColorHdr* p, std::size_t width)
{
    const TColorHdr* end = p + width;
    switch (layout) {
        case TFreeLayout::flBitmap24:
            RowBytesToHdr(s, width, 3, false, p);
            break;
        case TFreeLayout::flBitmap32:
            RowBytesToHdr(s, width, 4, true, p);
            break;
        case TFreeLayout::flFloat:
            for (; p != end; ++p, s += 4)
                *p = GrayHdr(ReadFloat(s), 1.0f);
            break;
        case TFreeLayout::flRGB16:
            for (; p != end; ++p, s += 6)
                *p = TColorHdr{ReadWord(s + 4), ReadWord(s + 2), ReadWord(s), 1.0f};
            break;
        case TFreeLayout::flRGBA16:
            for (; p != end; ++p, s += 8)
                *p = TColorHdr{ReadWord(s + 4), ReadWord(s + 2), ReadWord(s), ReadWord(s + 6)};
            break;
        case TFreeLayout::flRGBF:
            for (; p != end; ++p, s += 12)
                *p = TColorHdr{ReadFloat(s + 8), ReadFloat(s + 4), ReadFloat(s), 1.0f};
            break;
        case TFreeLayout::flRGBAF:
            for (; p != end; ++p, s += 16)
                *p = TColorHdr{ReadFloat(s + 8), ReadFloat(s + 4), ReadFloat(s), ReadFloat(s + 12)};
            break;
        case TFreeLayout::flRgbe:
            RgbeRowToHdr(s, p, width);
            break;
        case TFreeLayout::flNone:
            break;
    }
}

TImageKind KindOf(int type, const TBmpHdr& image)
{
    switch (type) {
        case FIT_RGB16:
        case FIT_RGBA16:
            return TImageKind::ikHighPrecision;
        case FIT_FLOAT:
        case FIT_RGBF:
        case FIT_RGBAF: {
            float minimum = 0.0f;
            float maximum = 0.0f;
            image.GetMinMax(minimum, maximum, MaxRectHdr);
            return minimum < 0.0f || maximum > 1.0f ? TImageKind::ikHighRange
                                                    : TImageKind::ikHighPrecision;
        }
        default:
            return TImageKind::ikStandard;
    }
}

float RoundDpi(double dpcm)
{
    return static_cast<float>(std::nearbyint(2.54 * dpcm * 50.0) / 50.0);
}

bool FreeToBmpHdr(TBmpFree& free, TBmpHdr* image, TImageInfo& info)
{
    if (image == nullptr)
        return false;
    image->Assign(nullptr);
    if (!free.IsValid() || free.GetWidth() <= 0 || free.GetHeight() <= 0) {
        SetFileStatusIfClear(TFileErrorCode::feCorrupt, "the file holds no image");
        return false;
    }
    if (!IsValidImageSize(free.GetWidth(), free.GetHeight())) {
        SetFileStatus(TFileErrorCode::feTooLarge,
                      "image too large: " + std::to_string(free.GetWidth()) + " x " +
                          std::to_string(free.GetHeight()) + " (at most 65535 x 65535)");
        return false;
    }
    const int type = free.GetImageType();
    const TFreeLayout layout = PrepareForReading(free);
    if (layout == TFreeLayout::flNone)
        return false;
    const int height = free.GetHeight();
    try {
        image->SetWidth(free.GetWidth());
        image->SetHeight(height);
    } catch (const std::bad_alloc&) {
        image->Clear();
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for a " +
                                                         std::to_string(free.GetWidth()) + " x " +
                                                         std::to_string(height) + " image");
        return false;
    }
    ParallelRows(0, height, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<int>(first); y < last; ++y)
            ConvertFreeRow(layout, free.GetScanLine(height - 1 - y),
                           image->Pixels[static_cast<std::size_t>(y)].data(), image->Width());
    });
    if (image->IsEmpty())
        return false;
    info.DpiX = RoundDpi(free.GetDpcmX());
    info.DpiY = RoundDpi(free.GetDpcmY());
    info.Transparent = free.IsTransparent();
    info.Kind = KindOf(type, *image);
    return true;
}

bool LoadBmpHdr(const std::string& fileName, TBmpHdr* image, TImageInfo& info)
{
    if (image == nullptr)
        return false;
    ClearFileStatus();
    ClearFreeImageMessage();
    TBmpFree free;
    if (free.LoadFromFile(fileName, 0))
        return FreeToBmpHdr(free, image, info);
    image->Assign(nullptr);
    TBitmap bitmap;
    bool transparent = false;
    if (LastFileStatus().Code == TFileErrorCode::feTooLarge || !IsBmpFile(fileName) ||
        !LoadBmpFallback(fileName, bitmap, transparent))
        return false;
    if (!ImportBitmap(bitmap, *image, true))
        return false;
    info.DpiX = info.DpiY = 72.0f;
    info.Transparent = transparent;
    info.Kind = TImageKind::ikStandard;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Saving

bool SaveAsJpeg(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    // Always 24 bits: FreeImage claims 32-bit JPEG support but fails to write it.
    return SaveBytes(FIF_JPEG, fileName, image, info, false);
}

bool SaveBitmapAsJpeg(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info)
{
    return SaveBitmapBytes(FIF_JPEG, fileName, bitmap, info);
}

bool SaveBitmapAsPng(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info)
{
    return SaveBitmapBytes(FIF_PNG, fileName, bitmap, info);
}

bool SaveBitmapAsTiff(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info)
{
    return SaveBitmapBytes(FIF_TIFF, fileName, bitmap, info);
}

bool SaveAsPng(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    return SaveBytes(FIF_PNG, fileName, image, info, info.Transparent);
}

bool SaveAsTiff(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    return SaveBytes(FIF_TIFF, fileName, image, info, info.Transparent);
}

bool SaveAsHdr(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    // Our own writer, on all cores, with the bytes FreeImage's would write; the format stays
    // one of the FreeImage path's.
    ClearFileStatus();
    if (!CheckSaveImage(image))
        return false;
    return SaveRadiance(fileName, image, info.Gamma);
}

bool SaveAsExr(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info)
{
    // OpenEXR compresses its blocks of lines on the engine's threads.
    const TExrEncodeThreads exrThreads(ThreadCount());
    return SaveFloats(FIF_EXR, fileName, image, info, info.Transparent);
}

}  // namespace lumivex
