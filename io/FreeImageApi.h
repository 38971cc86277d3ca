#pragma once

#include <cstdint>
#include <string>

// The FreeImage library is loaded at run time, so the program runs (with BMP and JPEG only)
// where it is not installed. Only the functions used are declared; on Linux they are plain C
// symbols with int-sized BOOL and enums.

struct FIBITMAP;

namespace lumivex {

using FiBool = std::int32_t;

// FreeImage formats and image types, as the library numbers them.
enum : int {
    FIF_UNKNOWN = -1,
    FIF_BMP = 0,
    FIF_JPEG = 2,
    FIF_PNG = 13,
    FIF_TIFF = 18,
    FIF_HDR = 26,
    FIF_EXR = 29,
    FIF_PFM = 32,
};
enum : int {
    FIT_UNKNOWN = 0,
    FIT_BITMAP = 1,
    FIT_UINT16 = 2,
    FIT_INT16 = 3,
    FIT_UINT32 = 4,
    FIT_INT32 = 5,
    FIT_FLOAT = 6,
    FIT_DOUBLE = 7,
    FIT_COMPLEX = 8,
    FIT_RGB16 = 9,
    FIT_RGBA16 = 10,
    FIT_RGBF = 11,
    FIT_RGBAF = 12,
};
constexpr int FIF_LOAD_NOPIXELS = 0x8000;
constexpr int EXR_FLOAT = 0x0001;
constexpr int JPEG_QUALITYSUPERB = 0x80;
constexpr int PNG_IGNOREGAMMA = 0x0001;
constexpr int JPEG_ACCURATE = 0x0002;

/// FreeImage's stream callbacks (FreeImageIO); the handle is the caller's.
struct TFreeImageIO {
    unsigned (*ReadProc)(void* buffer, unsigned size, unsigned count, void* handle);
    unsigned (*WriteProc)(void* buffer, unsigned size, unsigned count, void* handle);
    int (*SeekProc)(void* handle, long offset, int origin);
    long (*TellProc)(void* handle);
};

struct TFreeImageApi {
    int (*GetFileType)(const char* fileName, int size);
    int (*GetFIFFromFilename)(const char* fileName);
    FiBool (*FIFSupportsReading)(int fif);
    FiBool (*FIFSupportsWriting)(int fif);
    FiBool (*FIFSupportsExportType)(int fif, int type);
    FiBool (*FIFSupportsExportBPP)(int fif, int bpp);
    FiBool (*FIFSupportsNoPixels)(int fif);
    FIBITMAP* (*Load)(int fif, const char* fileName, int flags);
    FiBool (*SaveToHandle)(int fif, FIBITMAP* dib, TFreeImageIO* io, void* handle, int flags);
    void (*Unload)(FIBITMAP* dib);
    FIBITMAP* (*AllocateT)(int type, int width, int height, int bpp, unsigned redMask,
                           unsigned greenMask, unsigned blueMask);
    int (*GetImageType)(FIBITMAP* dib);
    unsigned (*GetBPP)(FIBITMAP* dib);
    unsigned (*GetWidth)(FIBITMAP* dib);
    unsigned (*GetHeight)(FIBITMAP* dib);
    std::uint8_t* (*GetScanLine)(FIBITMAP* dib, int scanline);
    FiBool (*IsTransparent)(FIBITMAP* dib);
    FiBool (*HasPixels)(FIBITMAP* dib);
    FIBITMAP* (*ConvertTo24Bits)(FIBITMAP* dib);
    FIBITMAP* (*ConvertTo32Bits)(FIBITMAP* dib);
    FiBool (*FlipVertical)(FIBITMAP* dib);
    unsigned (*GetDotsPerMeterX)(FIBITMAP* dib);
    unsigned (*GetDotsPerMeterY)(FIBITMAP* dib);
    void (*SetDotsPerMeterX)(FIBITMAP* dib, unsigned res);
    void (*SetDotsPerMeterY)(FIBITMAP* dib, unsigned res);
    const char* (*GetVersion)();
    void (*SetOutputMessage)(void (*handler)(int fif, const char* message));
    /// A bitmap over the caller's pixel memory (FreeImage 3.17 and later; may be null).
    FIBITMAP* (*AllocateHeaderForBits)(std::uint8_t* bits, unsigned pitch, int type, int width,
                                       int height, unsigned bpp, unsigned redMask,
                                       unsigned greenMask, unsigned blueMask);
};

/// The loaded function table, or nullptr when the library or one of its functions is missing.
/// The first call loads the library.
const TFreeImageApi* FreeImageApi();

/// Selects the shared library to load (default "libfreeimage.so.3"); an empty name forces the
/// path without FreeImage. Takes effect for the next FreeImageApi() call; for tests and the
/// command line's --no-freeimage.
void SetFreeImageLibraryName(const std::string& name);

/// The library's version text, or empty when it is not loaded.
std::string FreeImageVersion();

/// Lets the OpenEXR library under FreeImage decode blocks of lines on a pool of `threads`
/// threads (1 or less: on the calling thread only), which it otherwise does not. The result does
/// not depend on it. Only a decoder process calls this: a pool's threads would not survive a
/// fork. Nothing happens without FreeImage or with an OpenEXR library it does not know.
void SetExrDecoderThreads(int threads);

/// While alive, OpenEXR under FreeImage compresses blocks of lines on a pool of `threads`
/// threads (the bytes written do not depend on it); the pool is stopped again at the end, so no
/// pool thread is alive when a decoder process is forked (see TExrPoolStopped).
class TExrEncodeThreads {
public:
    explicit TExrEncodeThreads(int threads);
    ~TExrEncodeThreads();
    TExrEncodeThreads(const TExrEncodeThreads&) = delete;
    TExrEncodeThreads& operator=(const TExrEncodeThreads&) = delete;

private:
    bool m_started = false;
};

/// Held around a fork: waits until no TExrEncodeThreads pool is running in this process.
class TExrPoolStopped {
public:
    TExrPoolStopped();
    ~TExrPoolStopped();
    TExrPoolStopped(const TExrPoolStopped&) = delete;
    TExrPoolStopped& operator=(const TExrPoolStopped&) = delete;
};

/// The last message FreeImage reported on this thread since ClearFreeImageMessage.
std::string FreeImageMessage();
void ClearFreeImageMessage();

}  // namespace lumivex
