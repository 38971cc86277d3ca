#include "platform/JpegFile.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

namespace lumivex {

namespace {

// Reading a whole file into memory beyond this is not worth it for any real JPEG.
constexpr std::uint64_t MaxJpegFileSize = 0xFFFFFFFFu;
// A damaged progressive file can hold an endless series of tiny scans, each one a pass over the
// whole coefficient buffer; no encoder writes more than a few dozen.
constexpr int MaxJpegScans = 1000;

// libjpeg reports fatal errors through error_exit, which must not return. We longjmp back to the
// frame that called setjmp; C++ exceptions must never cross libjpeg's C frames.
struct TJpegError {
    jpeg_error_mgr Pub;  // first member: libjpeg's jpeg_error_mgr* is also a TJpegError*
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    int Warnings;
};

TJpegError& ErrorOf(j_common_ptr cinfo) { return *reinterpret_cast<TJpegError*>(cinfo->err); }

void ErrorExit(j_common_ptr cinfo)
{
    TJpegError& error = ErrorOf(cinfo);
    (*cinfo->err->format_message)(cinfo, error.Message);
    std::longjmp(error.Jump, 1);
}

// Level -1 is a warning (corrupt data worked around), higher levels are trace messages.
void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0) {
        ++ErrorOf(cinfo).Warnings;
        ++cinfo->err->num_warnings;
    }
}

void OutputMessage(j_common_ptr) {}  // libjpeg's default writes to stderr

void InitError(TJpegError& error)
{
    jpeg_std_error(&error.Pub);
    error.Pub.error_exit = ErrorExit;
    error.Pub.emit_message = EmitMessage;
    error.Pub.output_message = OutputMessage;
    error.Message[0] = '\0';
    error.Warnings = 0;
}

void SetMessage(TJpegError& error, const std::string& message)
{
    std::snprintf(error.Message, sizeof error.Message, "%s", message.c_str());
}

void LimitScans(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MaxJpegScans) {
        TJpegError& error = ErrorOf(cinfo);
        SetMessage(error, "too many JPEG scans");
        std::longjmp(error.Jump, 1);
    }
}

// Everything the code after a longjmp looks at lives here, in the caller's frame: nothing in the
// frame that called setjmp needs to survive the jump, so nothing there can be clobbered.
struct TDecoder {
    jpeg_decompress_struct Cinfo{};
    TJpegError Error{};
    jpeg_progress_mgr Progress{};
    bool Created = false;
    TJpegInfo Info;
    TBitmap* Target = nullptr;  // the caller's bitmap, written in place when it has the size
    TBitmap Bitmap;
    TBitmap* Out = &Bitmap;  // where the rows went
    std::vector<std::uint8_t> CmykRow;

    TDecoder()
    {
        InitError(Error);
        Cinfo.err = &Error.Pub;
        Progress.progress_monitor = LimitScans;
    }
    ~TDecoder()
    {
        if (Created)
            jpeg_destroy_decompress(&Cinfo);
    }
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
};

// Adobe writes CMYK inverted (255 = no ink), and Photoshop-style files carry the Adobe marker;
// without it the values are taken as plain ink amounts. Either way R = (1 - c)(1 - k) with c, k
// the ink fractions, so with inverted bytes R = C * K / 255. The products never fall on a half
// (2 C K is even, 255 (2n + 1) odd), so the rounding is exact.
void CmykToBgr(const std::uint8_t* src, std::uint8_t* dst, std::size_t width, bool inverted)
{
    for (std::size_t x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned c = src[0];
        unsigned m = src[1];
        unsigned y = src[2];
        unsigned k = src[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        dst[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        dst[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

// Returns false with d.Error.Message set. Only d is touched after setjmp, and no object with a
// destructor is alive in this frame when libjpeg may jump.
bool Decode(TDecoder& d, const std::uint8_t* data, std::size_t size, bool withPixels)
{
    if (setjmp(d.Error.Jump) != 0)
        return false;
    d.Created = true;  // destroying after a failed create is safe: create zeroes the struct first
    jpeg_create_decompress(&d.Cinfo);
    d.Cinfo.progress = &d.Progress;
    jpeg_mem_src(&d.Cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.Cinfo, TRUE);

    d.Info.Width = static_cast<std::int32_t>(d.Cinfo.image_width);
    d.Info.Height = static_cast<std::int32_t>(d.Cinfo.image_height);
    d.Info.Components = d.Cinfo.num_components;
    if (d.Cinfo.saw_JFIF_marker && d.Cinfo.density_unit == 1) {
        d.Info.DpiX = d.Cinfo.X_density;
        d.Info.DpiY = d.Cinfo.Y_density;
    } else if (d.Cinfo.saw_JFIF_marker && d.Cinfo.density_unit == 2) {
        d.Info.DpiX = d.Cinfo.X_density * 2.54;
        d.Info.DpiY = d.Cinfo.Y_density * 2.54;
    }
    if (d.Cinfo.image_width > static_cast<JDIMENSION>(MaxJpegSide) ||
        d.Cinfo.image_height > static_cast<JDIMENSION>(MaxJpegSide)) {
        SetMessage(d.Error, "image too large: " + std::to_string(d.Cinfo.image_width) + " x " +
                                std::to_string(d.Cinfo.image_height));
        return false;
    }
    if (!withPixels) {
        d.Info.Warnings = d.Error.Warnings;
        return true;
    }

    bool cmyk = false;
    switch (d.Cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            d.Cinfo.out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            d.Cinfo.out_color_space = JCS_CMYK;  // libjpeg turns YCCK into CMYK
            cmyk = true;
            break;
        default:
            SetMessage(d.Error, "unsupported JPEG colour space with " +
                                    std::to_string(d.Cinfo.num_components) + " components");
            return false;
    }
    jpeg_start_decompress(&d.Cinfo);
    const auto width = static_cast<std::int32_t>(d.Cinfo.output_width);
    const auto height = static_cast<std::int32_t>(d.Cinfo.output_height);
    if (d.Target != nullptr && d.Target->Width() == width && d.Target->Height() == height &&
        d.Target->PixelFormat() == TPixelFormat::pf24bit)
        d.Out = d.Target;
    else  // uncleared: every row is written below
        d.Bitmap = TBitmap::Uncleared(width, height, TPixelFormat::pf24bit);
    if (cmyk)
        d.CmykRow.resize(static_cast<std::size_t>(d.Cinfo.output_width) * 4);
    while (d.Cinfo.output_scanline < d.Cinfo.output_height) {
        const auto y = static_cast<std::int32_t>(d.Cinfo.output_scanline);
        JSAMPROW row = cmyk ? d.CmykRow.data() : d.Out->ScanLine(y);
        if (jpeg_read_scanlines(&d.Cinfo, &row, 1) != 1) {
            SetMessage(d.Error, "JPEG decoding stopped early");
            return false;
        }
        if (cmyk) {
            CmykToBgr(d.CmykRow.data(), d.Out->ScanLine(y), d.CmykRow.size() / 4,
                      d.Cinfo.saw_Adobe_marker != 0);
        }
    }
    // jpeg_finish_decompress is skipped on purpose: it only reads on to the EOI marker, and
    // damage after the last scan must not cost us an image we already have.
    d.Info.Warnings = d.Error.Warnings;
    return true;
}

bool ReadWholeFile(const std::string& fileName, std::vector<std::uint8_t>& data, std::string& error)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        error = "cannot open the file";
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) {
        error = "cannot read the file";
        return false;
    }
    if (static_cast<std::uint64_t>(size) > MaxJpegFileSize) {
        error = "file too large for JPEG";
        return false;
    }
    in.seekg(0, std::ios::beg);
    data.resize(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))) {
        error = "cannot read the file";
        return false;
    }
    return true;
}

struct TEncoder {
    jpeg_compress_struct Cinfo{};
    TJpegError Error{};
    bool Created = false;
    std::FILE* File = nullptr;

    TEncoder()
    {
        InitError(Error);
        Cinfo.err = &Error.Pub;
    }
    ~TEncoder()
    {
        if (Created)
            jpeg_destroy_compress(&Cinfo);
        if (File != nullptr)
            std::fclose(File);
    }
    TEncoder(const TEncoder&) = delete;
    TEncoder& operator=(const TEncoder&) = delete;
};

// The same setjmp discipline as Decode.
bool Encode(TEncoder& e, const TBitmap& bitmap, int quality, std::uint16_t dpiX, std::uint16_t dpiY)
{
    if (setjmp(e.Error.Jump) != 0)
        return false;
    e.Created = true;
    jpeg_create_compress(&e.Cinfo);
    jpeg_stdio_dest(&e.Cinfo, e.File);
    e.Cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
    e.Cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    const bool alpha = bitmap.PixelFormat() == TPixelFormat::pf32bit;
    e.Cinfo.input_components = alpha ? 4 : 3;
    e.Cinfo.in_color_space = alpha ? JCS_EXT_BGRX : JCS_EXT_BGR;  // BGRX skips the alpha byte
    jpeg_set_defaults(&e.Cinfo);
    jpeg_set_quality(&e.Cinfo, quality, TRUE);
    if (dpiX > 0 && dpiY > 0) {
        e.Cinfo.density_unit = 1;
        e.Cinfo.X_density = dpiX;
        e.Cinfo.Y_density = dpiY;
    }
    jpeg_start_compress(&e.Cinfo, TRUE);
    while (e.Cinfo.next_scanline < e.Cinfo.image_height) {
        // libjpeg's API takes non-const rows but only reads them.
        JSAMPROW row =
            const_cast<JSAMPROW>(bitmap.ScanLine(static_cast<std::int32_t>(e.Cinfo.next_scanline)));
        jpeg_write_scanlines(&e.Cinfo, &row, 1);
    }
    jpeg_finish_compress(&e.Cinfo);
    return true;
}

// 0 when the value cannot be stored in a 16-bit JFIF density field.
std::uint16_t DensityField(double dpi)
{
    if (!(dpi > 0) || !std::isfinite(dpi))
        return 0;
    const double rounded = std::nearbyint(dpi);
    if (rounded < 1 || rounded > 65535)
        return 0;
    return static_cast<std::uint16_t>(rounded);
}

}  // namespace

bool ReadJpegHeader(std::span<const std::uint8_t> data, TJpegInfo& info, std::string& error)
{
    if (data.empty()) {
        error = "empty file";
        return false;
    }
    TDecoder d;
    if (!Decode(d, data.data(), data.size(), false)) {
        error = d.Error.Message;
        return false;
    }
    info = d.Info;
    return true;
}

bool LoadJpegFromMemory(std::span<const std::uint8_t> data, TBitmap& bitmap, TJpegInfo* info,
                        std::string& error)
{
    if (data.empty()) {
        error = "empty file";
        return false;
    }
    TDecoder d;
    d.Target = &bitmap;
    if (!Decode(d, data.data(), data.size(), true)) {
        error = d.Error.Message;
        return false;
    }
    if (d.Out != &bitmap)
        bitmap = std::move(d.Bitmap);
    if (info != nullptr)
        *info = d.Info;
    return true;
}

bool LoadJpegFromFile(const std::string& fileName, TBitmap& bitmap, TJpegInfo* info,
                      std::string& error)
{
    std::vector<std::uint8_t> data;
    if (!ReadWholeFile(fileName, data, error))
        return false;
    return LoadJpegFromMemory(data, bitmap, info, error);
}

bool SaveJpegToFile(const std::string& fileName, const TBitmap& bitmap, int quality, double dpiX,
                    double dpiY, std::string& error)
{
    if (bitmap.IsEmpty()) {
        error = "cannot save an empty image";
        return false;
    }
    if (bitmap.Width() > JPEG_MAX_DIMENSION || bitmap.Height() > JPEG_MAX_DIMENSION) {
        error = "image too large for JPEG";
        return false;
    }
    TEncoder e;
    e.File = std::fopen(fileName.c_str(), "wb");
    if (e.File == nullptr) {
        error = "cannot create the file";
        return false;
    }
    bool ok =
        Encode(e, bitmap, std::clamp(quality, 1, 100), DensityField(dpiX), DensityField(dpiY));
    if (!ok)
        error = e.Error.Message;
    const int closed = std::fclose(e.File);
    e.File = nullptr;
    if (ok && closed != 0) {
        ok = false;
        error = "cannot write the file";
    }
    if (!ok)
        std::remove(fileName.c_str());  // a partial file would only mislead
    return ok;
}

}  // namespace lumivex
