#include "platform/BmpFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

namespace lumivex {

namespace {

constexpr std::size_t FileHeaderSize = 14;
constexpr std::uint32_t CoreHeaderSize = 12;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint32_t V5HeaderSize = 124;

constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiRle8 = 1;
constexpr std::uint32_t BiRle4 = 2;
constexpr std::uint32_t BiBitfields = 3;
constexpr std::uint32_t BiAlphaBitfields = 6;

constexpr std::uint32_t LcsSrgb = 0x73524742;  // 'sRGB'
constexpr std::uint32_t LcsGmImages = 4;

// An RLE stream can describe a huge black canvas in a few bytes. Up to this many pixels we
// allocate whatever the header says; beyond it the stream must hold at least one byte per
// RlePixelsPerByte pixels (a run covers at most 255 pixels in 2 bytes), so a tiny file cannot
// make us zero-fill gigabytes.
constexpr std::uint64_t RleFreePixels = std::uint64_t{1} << 24;
constexpr std::uint64_t RlePixelsPerByte = 256;

std::uint16_t GetU16(std::span<const std::uint8_t> data, std::size_t pos)
{
    return static_cast<std::uint16_t>(data[pos] | (data[pos + 1] << 8));
}

std::uint32_t GetU32(std::span<const std::uint8_t> data, std::size_t pos)
{
    return static_cast<std::uint32_t>(data[pos]) |
           (static_cast<std::uint32_t>(data[pos + 1]) << 8) |
           (static_cast<std::uint32_t>(data[pos + 2]) << 16) |
           (static_cast<std::uint32_t>(data[pos + 3]) << 24);
}

std::int32_t GetI32(std::span<const std::uint8_t> data, std::size_t pos)
{
    return static_cast<std::int32_t>(GetU32(data, pos));
}

void PutU16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    PutU16(out, value & 0xFFFFu);
    PutU16(out, value >> 16);
}

struct TChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;  // 0: the channel is absent
};

// Masks must be one run of set bits inside the pixel; anything else has no sensible reading.
bool MakeChannel(std::uint32_t mask, int bitsPerPixel, TChannel& channel)
{
    channel = {};
    if (mask == 0)
        return true;
    if (bitsPerPixel < 32 && (mask >> bitsPerPixel) != 0)
        return false;
    const int shift = std::countr_zero(mask);
    const std::uint64_t bits = mask >> shift;
    if (((bits + 1) & bits) != 0)
        return false;
    channel = {mask, shift, std::popcount(mask)};
    return true;
}

// Scales a field of any width to 0..255. max is odd, so v * 255 / max never lands on a half and
// rounding up at .5 cannot disagree with half to even.
std::uint8_t Expand(std::uint32_t pixel, const TChannel& channel, std::uint8_t absent)
{
    if (channel.Bits == 0)
        return absent;
    const std::uint64_t value = (pixel & channel.Mask) >> channel.Shift;
    if (channel.Bits == 8)
        return static_cast<std::uint8_t>(value);
    const std::uint64_t max = (std::uint64_t{1} << channel.Bits) - 1;
    return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
}

struct TBmpHeader {
    std::uint32_t HeaderSize = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;  // positive; TopDown tells the row order
    bool TopDown = false;
    int BitsPerPixel = 0;
    std::uint32_t Compression = BiRgb;
    std::uint32_t ColorsUsed = 0;
    std::uint32_t PixelOffset = 0;
    std::size_t HeadersEnd = 0;  // first byte after the headers and any separate bit masks
    TChannel Red, Green, Blue, Alpha;
};

bool Fail(std::string& error, std::string message)
{
    error = std::move(message);
    return false;
}

bool ParseHeader(std::span<const std::uint8_t> data, TBmpHeader& header, std::string& error)
{
    if (data.empty())
        return Fail(error, "empty file");
    if (data.size() < 2 || data[0] != 'B' || data[1] != 'M')
        return Fail(error, "not a BMP file");
    if (data.size() < FileHeaderSize + 4)
        return Fail(error, "truncated BMP header");

    TBmpHeader h;
    h.PixelOffset = GetU32(data, 10);
    h.HeaderSize = GetU32(data, 14);
    switch (h.HeaderSize) {
        case CoreHeaderSize:
        case InfoHeaderSize:
        case 52:   // BITMAPV2INFOHEADER
        case 56:   // BITMAPV3INFOHEADER
        case 108:  // BITMAPV4HEADER
        case V5HeaderSize:
            break;
        default:
            return Fail(error, "unsupported BMP header size " + std::to_string(h.HeaderSize));
    }
    if (data.size() < FileHeaderSize + h.HeaderSize)
        return Fail(error, "truncated BMP header");

    std::int64_t height = 0;
    if (h.HeaderSize == CoreHeaderSize) {
        // OS/2 and Windows 2 header: unsigned 16-bit sizes, always bottom-up, no compression.
        h.Width = GetU16(data, 18);
        height = GetU16(data, 20);
        h.BitsPerPixel = GetU16(data, 24);
    } else {
        h.Width = GetI32(data, 18);
        height = GetI32(data, 22);
        // biPlanes (offset 26) is ignored: it carries no layout information and old writers
        // disagree about it.
        h.BitsPerPixel = GetU16(data, 28);
        h.Compression = GetU32(data, 30);
        h.ColorsUsed = GetU32(data, 46);
    }
    if (h.Width <= 0 || height == 0) {
        return Fail(error, "invalid image size " + std::to_string(h.Width) + " x " +
                               std::to_string(height));
    }
    h.TopDown = height < 0;
    const std::int64_t rows = height < 0 ? -height : height;
    if (h.Width > MaxBmpSide || rows > MaxBmpSide) {
        return Fail(error,
                    "image too large: " + std::to_string(h.Width) + " x " + std::to_string(rows));
    }
    h.Height = static_cast<std::int32_t>(rows);

    const int bpp = h.BitsPerPixel;
    switch (h.Compression) {
        case BiRgb: {
            const bool coreDepth = bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24;
            const bool infoDepth = coreDepth || bpp == 16 || bpp == 32;
            if (!(h.HeaderSize == CoreHeaderSize ? coreDepth : infoDepth))
                return Fail(error, "unsupported BMP bit depth " + std::to_string(bpp));
            break;
        }
        case BiRle8:
            if (bpp != 8)
                return Fail(error,
                            "BMP RLE8 data needs 8 bits per pixel, not " + std::to_string(bpp));
            break;
        case BiRle4:
            if (bpp != 4)
                return Fail(error,
                            "BMP RLE4 data needs 4 bits per pixel, not " + std::to_string(bpp));
            break;
        case BiBitfields:
        case BiAlphaBitfields:
            if (bpp != 16 && bpp != 32)
                return Fail(error, "BMP bit masks need 16 or 32 bits per pixel, not " +
                                       std::to_string(bpp));
            break;
        default:
            return Fail(error, "unsupported BMP compression " + std::to_string(h.Compression));
    }
    if (h.TopDown && (h.Compression == BiRle8 || h.Compression == BiRle4))
        return Fail(error, "invalid top-down BMP with RLE compression");

    h.HeadersEnd = FileHeaderSize + h.HeaderSize;
    if (h.Compression == BiBitfields || h.Compression == BiAlphaBitfields) {
        std::size_t maskPos = FileHeaderSize + InfoHeaderSize;
        std::uint32_t alphaMask = 0;
        if (h.HeaderSize == InfoHeaderSize) {
            // The masks follow the 40-byte header instead of being part of it.
            const std::size_t maskBytes = h.Compression == BiAlphaBitfields ? 16 : 12;
            if (data.size() < h.HeadersEnd + maskBytes)
                return Fail(error, "truncated BMP header");
            h.HeadersEnd += maskBytes;
            if (h.Compression == BiAlphaBitfields)
                alphaMask = GetU32(data, maskPos + 12);
        } else if (h.HeaderSize >= 56) {
            alphaMask = GetU32(data, maskPos + 12);
        }
        if (!MakeChannel(GetU32(data, maskPos), bpp, h.Red) ||
            !MakeChannel(GetU32(data, maskPos + 4), bpp, h.Green) ||
            !MakeChannel(GetU32(data, maskPos + 8), bpp, h.Blue) ||
            !MakeChannel(alphaMask, bpp, h.Alpha) ||
            (h.Red.Bits == 0 && h.Green.Bits == 0 && h.Blue.Bits == 0))
            return Fail(error, "invalid BMP bit masks");
    } else if (bpp == 16) {
        MakeChannel(0x7C00, 16, h.Red);  // the 5-5-5 layout BI_RGB implies
        MakeChannel(0x03E0, 16, h.Green);
        MakeChannel(0x001F, 16, h.Blue);
    }
    header = h;
    return true;
}

using TPalette = std::array<std::uint8_t, 256 * 3>;  // B, G, R; entries the file lacks are black

bool ReadPalette(std::span<const std::uint8_t> data, const TBmpHeader& h, TPalette& palette,
                 std::string& error)
{
    palette.fill(0);
    const std::uint64_t maxCount = std::uint64_t{1} << h.BitsPerPixel;
    const std::size_t entrySize = h.HeaderSize == CoreHeaderSize ? 3 : 4;
    std::uint64_t count = h.ColorsUsed == 0 ? maxCount : h.ColorsUsed;
    if (h.HeaderSize == CoreHeaderSize && h.PixelOffset >= h.HeadersEnd) {
        // The core header has no colour count; some writers store a short palette, which the
        // pixel offset reveals.
        count = std::min<std::uint64_t>(count, (h.PixelOffset - h.HeadersEnd) / entrySize);
    }
    if (count > maxCount)
        return Fail(error, "invalid BMP palette size " + std::to_string(count));
    if (h.HeadersEnd + count * entrySize > data.size())
        return Fail(error, "truncated BMP palette");
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t pos = h.HeadersEnd + i * entrySize;
        palette[i * 3 + 0] = data[pos + 0];
        palette[i * 3 + 1] = data[pos + 1];
        palette[i * 3 + 2] = data[pos + 2];
    }
    return true;
}

void ConvertRow(const std::uint8_t* src, std::uint8_t* dst, const TBmpHeader& h,
                const TPalette& palette)
{
    const auto width = static_cast<std::size_t>(h.Width);
    switch (h.BitsPerPixel) {
        case 1:
        case 4:
        case 8: {
            const int bpp = h.BitsPerPixel;
            const unsigned indexMask = (1u << bpp) - 1;
            for (std::size_t x = 0; x < width; ++x, dst += 3) {
                const std::size_t bit = x * static_cast<std::size_t>(bpp);
                // The leftmost pixel sits in the most significant bits of its byte.
                const unsigned shift = 8 - static_cast<unsigned>(bpp) - bit % 8;
                const unsigned index = (src[bit / 8] >> shift) & indexMask;
                std::memcpy(dst, &palette[index * 3], 3);
            }
            break;
        }
        case 16:
            for (std::size_t x = 0; x < width; ++x, src += 2, dst += 3) {
                const std::uint32_t pixel = static_cast<std::uint32_t>(src[0] | (src[1] << 8));
                dst[0] = Expand(pixel, h.Blue, 0);
                dst[1] = Expand(pixel, h.Green, 0);
                dst[2] = Expand(pixel, h.Red, 0);
            }
            break;
        case 24:
            std::memcpy(dst, src, width * 3);
            break;
        case 32:
            if (h.Compression == BiRgb) {
                std::memcpy(dst, src, width * 4);  // B, G, R, A already
                break;
            }
            for (std::size_t x = 0; x < width; ++x, src += 4, dst += 4) {
                const std::uint32_t pixel = static_cast<std::uint32_t>(src[0]) |
                                            (static_cast<std::uint32_t>(src[1]) << 8) |
                                            (static_cast<std::uint32_t>(src[2]) << 16) |
                                            (static_cast<std::uint32_t>(src[3]) << 24);
                dst[0] = Expand(pixel, h.Blue, 0);
                dst[1] = Expand(pixel, h.Green, 0);
                dst[2] = Expand(pixel, h.Red, 0);
                dst[3] = Expand(pixel, h.Alpha, 255);  // no alpha mask: opaque
            }
            break;
        default:
            break;
    }
}

// Pixels the stream never reaches (skipped by a delta or an early end) stay black, and runs
// that overflow a row are clipped rather than wrapped.
void DecodeRle(std::span<const std::uint8_t> src, const TBmpHeader& h, const TPalette& palette,
               TBitmap& out)
{
    const bool rle4 = h.Compression == BiRle4;
    const std::int64_t width = h.Width;
    const std::int64_t height = h.Height;
    std::int64_t x = 0;
    std::int64_t y = 0;  // counted from the bottom row, as stored
    std::uint8_t* row = out.ScanLine(static_cast<std::int32_t>(height - 1));
    auto put = [&](unsigned index) {
        if (x < width)
            std::memcpy(row + x * 3, &palette[index * 3], 3);
        ++x;
    };

    std::size_t pos = 0;
    while (pos + 2 <= src.size() && y < height) {
        const unsigned count = src[pos];
        const unsigned value = src[pos + 1];
        pos += 2;
        if (count > 0) {
            const unsigned n = static_cast<unsigned>(
                std::min<std::int64_t>(count, std::max<std::int64_t>(0, width - x)));
            for (unsigned i = 0; i < n; ++i)
                put(rle4 ? ((i & 1) != 0 ? value & 0x0F : value >> 4) : value);
            x += count - n;
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta: move right and up
            if (pos + 2 > src.size())
                break;
            x += src[pos];
            y += src[pos + 1];
            pos += 2;
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
            const std::size_t available = std::min(bytes, src.size() - pos);
            const unsigned pixels = static_cast<unsigned>(
                rle4 ? std::min<std::size_t>(value, available * 2) : available);
            for (unsigned i = 0; i < pixels; ++i) {
                const unsigned byte = src[pos + (rle4 ? i / 2 : i)];
                put(rle4 ? ((i & 1) != 0 ? byte & 0x0F : byte >> 4) : byte);
            }
            if (available < bytes)
                break;
            pos += std::min(bytes + (bytes & 1), src.size() - pos);
        }
        if (y < height)
            row = out.ScanLine(static_cast<std::int32_t>(height - 1 - y));
    }
}

}  // namespace

bool ReadBmpHeader(std::span<const std::uint8_t> data, std::int32_t& width, std::int32_t& height,
                   int& bitsPerPixel, std::string& error)
{
    TBmpHeader h;
    if (!ParseHeader(data, h, error))
        return false;
    width = h.Width;
    height = h.Height;
    bitsPerPixel = h.BitsPerPixel;
    return true;
}

bool LoadBmpFromMemory(std::span<const std::uint8_t> data, TBitmap& bitmap, std::string& error)
{
    TBmpHeader h;
    if (!ParseHeader(data, h, error))
        return false;
    TPalette palette{};
    if (h.BitsPerPixel <= 8 && !ReadPalette(data, h, palette, error))
        return false;
    if (h.PixelOffset > data.size())
        return Fail(error, "BMP pixel data offset past the end of the file");
    if (h.PixelOffset < h.HeadersEnd)
        return Fail(error, "invalid BMP pixel data offset");
    const std::span<const std::uint8_t> pixels = data.subspan(h.PixelOffset);
    const auto width = static_cast<std::uint64_t>(h.Width);
    const auto height = static_cast<std::uint64_t>(h.Height);

    if (h.Compression == BiRle8 || h.Compression == BiRle4) {
        const std::uint64_t area = width * height;
        if (area > RleFreePixels && area / RlePixelsPerByte > pixels.size()) {
            return Fail(error, "BMP RLE data too short for a " + std::to_string(width) + " x " +
                                   std::to_string(height) + " image");
        }
        TBitmap out(h.Width, h.Height, TPixelFormat::pf24bit);
        DecodeRle(pixels, h, palette, out);
        bitmap = std::move(out);
        return true;
    }

    // Sizes are at most 65535 x 65535 x 32 bits here, far inside 64 bits.
    const std::uint64_t rowBits = width * static_cast<std::uint64_t>(h.BitsPerPixel);
    const std::uint64_t stride = (rowBits + 31) / 32 * 4;
    // The last row's padding is not required: some writers leave it out.
    const std::uint64_t needed = stride * (height - 1) + (rowBits + 7) / 8;
    if (pixels.size() < needed)
        return Fail(error, "truncated BMP pixel data");

    TBitmap out(h.Width, h.Height,
                h.BitsPerPixel == 32 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    for (std::int32_t r = 0; r < h.Height; ++r) {
        const std::uint8_t* src = pixels.data() + static_cast<std::size_t>(r) * stride;
        ConvertRow(src, out.ScanLine(h.TopDown ? r : h.Height - 1 - r), h, palette);
    }
    bitmap = std::move(out);
    return true;
}

bool LoadBmpFromFile(const std::string& fileName, TBitmap& bitmap, std::string& error)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return Fail(error, "cannot open the file");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return Fail(error, "cannot read the file");
    if (static_cast<std::uint64_t>(size) > MaxBmpFileSize)
        return Fail(error, "file too large for BMP");
    in.seekg(0, std::ios::beg);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size)))
        return Fail(error, "cannot read the file");
    return LoadBmpFromMemory(data, bitmap, error);
}

std::uint64_t BmpFileSize(std::int32_t width, std::int32_t height, int bitsPerPixel)
{
    const std::uint64_t w = static_cast<std::uint64_t>(std::max(width, 0));
    const std::uint64_t h = static_cast<std::uint64_t>(std::max(height, 0));
    if (bitsPerPixel == 24)
        return FileHeaderSize + InfoHeaderSize + (w * 3 + 3) / 4 * 4 * h;
    if (bitsPerPixel == 32)
        return FileHeaderSize + V5HeaderSize + w * 4 * h;
    return 0;
}

bool SaveBmpToFile(const std::string& fileName, const TBitmap& bitmap, std::int32_t pelsPerMeterX,
                   std::int32_t pelsPerMeterY, std::string& error)
{
    if (bitmap.IsEmpty())
        return Fail(error, "cannot save an empty image");
    const bool alpha = bitmap.PixelFormat() == TPixelFormat::pf32bit;
    const int bpp = alpha ? 32 : 24;
    const std::uint64_t fileSize = BmpFileSize(bitmap.Width(), bitmap.Height(), bpp);
    if (fileSize > MaxBmpFileSize)
        return Fail(error, "image too large for BMP");

    const std::uint32_t headerSize = alpha ? V5HeaderSize : InfoHeaderSize;
    const std::uint32_t pixelOffset = FileHeaderSize + headerSize;
    const std::size_t stride = (bitmap.BytesPerLine() + 3) / 4 * 4;
    std::vector<std::uint8_t> header;
    header.reserve(pixelOffset);
    PutU16(header, 0x4D42);  // "BM"
    PutU32(header, static_cast<std::uint32_t>(fileSize));
    PutU32(header, 0);
    PutU32(header, pixelOffset);
    PutU32(header, headerSize);
    PutU32(header, static_cast<std::uint32_t>(bitmap.Width()));
    PutU32(header, static_cast<std::uint32_t>(bitmap.Height()));  // positive: bottom-up
    PutU16(header, 1);
    PutU16(header, static_cast<std::uint32_t>(bpp));
    PutU32(header, alpha ? BiBitfields : BiRgb);
    PutU32(header, static_cast<std::uint32_t>(fileSize - pixelOffset));
    PutU32(header, static_cast<std::uint32_t>(pelsPerMeterX));
    PutU32(header, static_cast<std::uint32_t>(pelsPerMeterY));
    PutU32(header, 0);
    PutU32(header, 0);
    if (alpha) {
        PutU32(header, 0x00FF0000);
        PutU32(header, 0x0000FF00);
        PutU32(header, 0x000000FF);
        PutU32(header, 0xFF000000);
        PutU32(header, LcsSrgb);
        header.resize(header.size() + 36 + 12);  // endpoints and gamma, unused with sRGB
        PutU32(header, LcsGmImages);
        PutU32(header, 0);  // no profile
        PutU32(header, 0);
        PutU32(header, 0);
    }

    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        return Fail(error, "cannot create the file");
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    std::vector<std::uint8_t> row(stride, 0);  // the padding bytes stay zero
    for (std::int32_t y = bitmap.Height() - 1; y >= 0 && out; --y) {
        std::memcpy(row.data(), bitmap.ScanLine(y), bitmap.BytesPerLine());
        out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(stride));
    }
    out.close();
    if (!out) {
        std::remove(fileName.c_str());  // a partial file would only mislead
        return Fail(error, "cannot write the file");
    }
    return true;
}

bool SaveBmpToFile(const std::string& fileName, const TBitmap& bitmap, std::string& error)
{
    return SaveBmpToFile(fileName, bitmap, DefaultBmpPelsPerMeter, DefaultBmpPelsPerMeter, error);
}

}  // namespace lumivex
