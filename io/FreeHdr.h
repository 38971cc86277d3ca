#pragma once

// The bridge to FreeImage: every readable format into a TBmpHdr, and TBmpHdr into JPEG, PNG,
// TIFF, Radiance HDR and OpenEXR. FreeImage scan line 0 is the BOTTOM row; 8-bit layouts are
// B, G, R (, A) bytes, 16-bit and float layouts R, G, B (, A). Routines answer false on failure
// and leave the reason in LastFileStatus(); they never throw.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/BmpHdr.h"
#include "io/FreeImageApi.h"
#include "platform/Bitmap.h"

namespace lumivex {

enum class TImageKind : std::uint8_t { ikStandard, ikHighRange, ikHighPrecision };

/// What a load reports, and what a save is told.
struct TImageInfo {
    bool Transparent = false;  ///< save: write an alpha channel (PNG, TIFF, OpenEXR)
    float Gamma = 1.0f;        ///< save: exponent applied to colours in HDR and OpenEXR
    float DpiX = 72.0f;
    float DpiY = 72.0f;
    TImageKind Kind = TImageKind::ikStandard;
    std::int32_t JpegFlags = 0;
    std::int32_t PngFlags = 0;
    std::int32_t TiffFlags = 0;
    std::int32_t ExrFlags = 0;
};

/// The FreeImage format of a file: by its contents, else by its name; FIF_UNKNOWN when neither
/// tells or FreeImage is not available.
int FreeImageFormatOf(const std::string& fileName);

/// Owns one FreeImage bitmap handle.
class TBmpFree {
public:
    TBmpFree() = default;
    /// Allocates when width, height and bits per pixel are all at least 1.
    TBmpFree(int type, int width, int height, int bpp);
    ~TBmpFree();
    TBmpFree(const TBmpFree&) = delete;
    TBmpFree& operator=(const TBmpFree&) = delete;

    FIBITMAP* Handle() const { return m_handle; }
    FIBITMAP* Allocate(int type, int width, int height, int bpp);
    /// As Allocate, over pixel memory of its own that is neither cleared nor touched: the caller
    /// writes every byte of every scan line (GetPitch) before use, which then also faults the
    /// pages in on the caller's threads. Falls back to Allocate when the library cannot.
    FIBITMAP* AllocateUncleared(int type, int width, int height, int bpp);
    /// False and no change for a null handle; otherwise takes ownership of it.
    bool SetHandle(FIBITMAP* handle);
    bool IsValid() const { return m_handle != nullptr; }

    bool IsTransparent() const;
    int GetImageType() const;
    int GetWidth() const;
    int GetHeight() const;
    int GetBPP() const;
    /// Null when y is not a row of the bitmap.
    std::uint8_t* GetScanLine(int y) const;
    /// The bytes from one scan line to the next, padding to 4 bytes included.
    std::size_t GetPitch() const;
    /// Dots per centimetre.
    double GetDpcmX() const;
    double GetDpcmY() const;
    /// Stores Trunc(value x 100 + 0.5) dots per metre when that is a finite value FreeImage can
    /// hold (1 .. 2^32-1); otherwise the bitmap keeps the library's default.
    void SetDpcmX(double value);
    void SetDpcmY(double value);
    bool ConvertTo24Bits();
    bool ConvertTo32Bits();
    /// Reads by contents, else by extension. Sizes that do not fit the image model are refused
    /// after a header-only read, before any pixel is decoded; onHeader, when given, sees the
    /// accepted size first (0 x 0 when the format cannot read its header alone) and may refuse.
    bool LoadFromFile(const std::string& fileName, int flags,
                      const std::function<bool(int width, int height)>& onHeader = {});
    bool CanSave(int format) const;
    bool SaveToFile(int format, const std::string& fileName, int flags) const;

private:
    void Unload();

    FIBITMAP* m_handle = nullptr;
    std::unique_ptr<std::uint8_t[]> m_bits;  // the pixels of AllocateUncleared, after m_handle
};

/// True when the FreeImage library could be loaded.
bool IsFreeImageAvailable();

/// Reads a file into the image in this process. Untrusted files go through LoadImageFile
/// (io/IsolatedLoad.h), which runs this in a child process with limits.
bool LoadBmpHdr(const std::string& fileName, TBmpHdr* image, TImageInfo& info);
/// Converts a loaded bitmap. The image is emptied first, also on failure.
bool FreeToBmpHdr(TBmpFree& free, TBmpHdr* image, TImageInfo& info);

bool SaveAsJpeg(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
bool SaveAsPng(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
bool SaveAsTiff(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
bool SaveAsHdr(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
/// EXR_FLOAT in ExrFlags writes 32-bit floats (lossless); without it, half floats.
bool SaveAsExr(const std::string& fileName, const TBmpHdr* image, const TImageInfo& info);
/// SaveAsJpeg, SaveAsPng and SaveAsTiff of a 24-bit bitmap's bytes as they are: the same file as
/// saving an image without transparency whose colours round to those bytes.
bool SaveBitmapAsJpeg(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info);
bool SaveBitmapAsPng(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info);
bool SaveBitmapAsTiff(const std::string& fileName, const TBitmap& bitmap, const TImageInfo& info);

/// Dots per centimetre to dots per inch, rounded to the nearest 0.02 (ties to even).
float RoundDpi(double dpcm);

// Pixel layouts of FreeImage bitmaps, shared by the in-process and the isolated loader.
enum class TFreeLayout : std::uint8_t {
    flNone,
    flBitmap24,
    flBitmap32,
    flFloat,
    flRGB16,
    flRGBA16,
    flRGBF,
    flRGBAF,
    flRgbe,  ///< Radiance R, G, B, exponent bytes, from our own reader
};
/// The conversion for an image type and bit depth of a bitmap that needs no FreeImage
/// conversion first; flNone when none applies (FIT_BITMAP below 24 bits needs one).
TFreeLayout LayoutOf(int type, int bpp);
/// Brings a FIT_BITMAP below 24 bits to 32 (transparent) or 24 bits; answers the layout to read
/// with, flNone when the type cannot be read (the status says why).
TFreeLayout PrepareForReading(TBmpFree& free);
/// One scan line to `width` pixels.
void ConvertFreeRow(TFreeLayout layout, const std::uint8_t* source, TColorHdr* target,
                    std::size_t width);
/// ikHighPrecision for 16-bit types; for float types ikHighRange when a B, G or R value lies
/// outside 0..1, else ikHighPrecision; ikStandard for 8-bit bitmaps.
TImageKind KindOf(int type, const TBmpHdr& image);

}  // namespace lumivex
