#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "platform/BmpFile.h"

namespace lumivex {
namespace {

using test::ReadTestFile;
using test::TestDataPath;
using test::TTempDir;

// The refusals below must happen before the pixel buffer exists. TBitmap zero-fills what it
// allocates, so a buffer of the claimed size would raise the peak resident size by gigabytes
// (or throw std::bad_alloc, which fails the test as well).
class TPeakMemoryProbe {
public:
    TPeakMemoryProbe() : m_before(PeakBytes()) {}
    std::uint64_t Growth() const { return PeakBytes() - m_before; }

private:
    static std::uint64_t PeakBytes()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // Linux counts kilobytes
    }
    std::uint64_t m_before;
};

TBitmap LoadOk(const std::string& relative)
{
    TBitmap bitmap;
    std::string error;
    EXPECT_TRUE(LoadBmpFromFile(TestDataPath(relative), bitmap, error))
        << relative << ": " << error;
    return bitmap;
}

struct TProbePixel {
    int X, Y, R, G, B, A;
};

// The 8-bit columns of probe_values.txt, written by the script that made the probe files.
std::vector<TProbePixel> ProbeValues()
{
    std::vector<TProbePixel> values;
    std::ifstream in(TestDataPath("probe/probe_values.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        TProbePixel p{};
        char bar = 0;
        fields >> p.X >> p.Y >> bar >> p.R >> p.G >> p.B >> p.A;
        values.push_back(p);
    }
    EXPECT_EQ(values.size(), 15u);
    return values;
}

void ExpectProbePixels(const TBitmap& bitmap, bool withAlpha)
{
    ASSERT_EQ(bitmap.Width(), 5);
    ASSERT_EQ(bitmap.Height(), 3);
    ASSERT_EQ(bitmap.PixelFormat(), withAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    const int step = bitmap.BytesPerPixel();
    for (const TProbePixel& p : ProbeValues()) {
        const std::uint8_t* px = bitmap.ScanLine(p.Y) + p.X * step;
        EXPECT_EQ(px[0], p.B) << p.X << "," << p.Y;
        EXPECT_EQ(px[1], p.G) << p.X << "," << p.Y;
        EXPECT_EQ(px[2], p.R) << p.X << "," << p.Y;
        if (withAlpha) {
            EXPECT_EQ(px[3], p.A) << p.X << "," << p.Y;
        }
    }
}

bool SameBitmap(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    for (std::int32_t y = 0; y < a.Height(); ++y) {
        if (!std::equal(a.ScanLine(y), a.ScanLine(y) + a.BytesPerLine(), b.ScanLine(y)))
            return false;
    }
    return true;
}

// Hand-assembled files for the layouts tests/data has no sample of.
void Put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct TBmpLayout {
    std::uint32_t HeaderSize = 40;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t BitsPerPixel = 24;
    std::uint32_t Compression = 0;
    std::uint32_t ColorsUsed = 0;
    std::vector<std::uint8_t> AfterHeader;  // masks and/or palette
    std::vector<std::uint8_t> Pixels;
};

std::vector<std::uint8_t> MakeBmp(const TBmpLayout& s)
{
    std::vector<std::uint8_t> out;
    const std::uint32_t offset =
        14 + s.HeaderSize + static_cast<std::uint32_t>(s.AfterHeader.size());
    Put16(out, 0x4D42);
    Put32(out, offset + static_cast<std::uint32_t>(s.Pixels.size()));
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, s.HeaderSize);
    if (s.HeaderSize == 12) {
        Put16(out, static_cast<std::uint32_t>(s.Width));
        Put16(out, static_cast<std::uint32_t>(s.Height));
        Put16(out, 1);
        Put16(out, s.BitsPerPixel);
    } else {
        Put32(out, static_cast<std::uint32_t>(s.Width));
        Put32(out, static_cast<std::uint32_t>(s.Height));
        Put16(out, 1);
        Put16(out, s.BitsPerPixel);
        Put32(out, s.Compression);
        Put32(out, static_cast<std::uint32_t>(s.Pixels.size()));
        Put32(out, 2835);
        Put32(out, 2835);
        Put32(out, s.ColorsUsed);
        Put32(out, 0);
        out.resize(14 + s.HeaderSize, 0);  // V4/V5 fields: zero unless a test writes them
    }
    out.insert(out.end(), s.AfterHeader.begin(), s.AfterHeader.end());
    out.insert(out.end(), s.Pixels.begin(), s.Pixels.end());
    return out;
}

// Palette entries B, G, R, 0 for index i: blue = 10 * i, green = 20 * i, red = 30 * i.
std::vector<std::uint8_t> RampPalette(int count)
{
    std::vector<std::uint8_t> palette;
    for (int i = 0; i < count; ++i) {
        palette.push_back(static_cast<std::uint8_t>(10 * i));
        palette.push_back(static_cast<std::uint8_t>(20 * i));
        palette.push_back(static_cast<std::uint8_t>(30 * i));
        palette.push_back(0);
    }
    return palette;
}

// B, G, R (, A) of pixel x in row y.
std::vector<int> Pixel(const TBitmap& bitmap, int x, int y)
{
    const std::uint8_t* p = bitmap.ScanLine(y) + x * bitmap.BytesPerPixel();
    return std::vector<int>(p, p + bitmap.BytesPerPixel());
}

std::vector<int> Ramp(int i) { return {10 * i, 20 * i, 30 * i}; }

bool LoadSynthetic(const TBmpLayout& layout, TBitmap& bitmap, std::string& error)
{
    const std::vector<std::uint8_t> file = MakeBmp(layout);
    return LoadBmpFromMemory(file, bitmap, error);
}

TEST(LoadBmp, ProbeFilesGiveTheExactValuesTopRowFirst)
{
    ExpectProbePixels(LoadOk("probe/probe_rgb8.bmp"), false);
    ExpectProbePixels(LoadOk("probe/probe_rgba8.bmp"), true);  // BITMAPV5, alpha mask
}

TEST(LoadBmp, TopDownAndBottomUpFilesAreTheSamePicture)
{
    const TBitmap topDown = LoadOk("tricky/bmp24_topdown_5x3.bmp");
    const TBitmap bottomUp = LoadOk("tricky/bmp24_bottomup_5x3.bmp");
    EXPECT_TRUE(SameBitmap(topDown, bottomUp));
    ExpectProbePixels(topDown, false);
}

TEST(LoadBmp, SkipsRowPaddingOfOddWidths)
{
    // 3 x 5: 9-byte rows padded to 12. From the file's hex dump: the last stored row (the top)
    // starts fd ff fe, the first stored row (the bottom) ends d5 ef fd.
    const TBitmap small = LoadOk("ldr/bmp24_3x5.bmp");
    ASSERT_EQ(small.Width(), 3);
    ASSERT_EQ(small.Height(), 5);
    EXPECT_EQ(Pixel(small, 0, 0), (std::vector<int>{0xfd, 0xff, 0xfe}));
    EXPECT_EQ(Pixel(small, 2, 4), (std::vector<int>{0xd5, 0xef, 0xfd}));

    // 257 x 129: 771-byte rows padded to 772 after the 54 header bytes, bottom row first.
    const std::vector<unsigned char> raw = ReadTestFile("ldr/bmp24_257x129.bmp");
    const TBitmap odd = LoadOk("ldr/bmp24_257x129.bmp");
    ASSERT_EQ(odd.Width(), 257);
    ASSERT_EQ(odd.Height(), 129);
    ASSERT_EQ(raw.size(), 54u + 772u * 129u);
    for (int y = 0; y < 129; ++y) {
        const unsigned char* stored = raw.data() + 54 + (128 - y) * 772;
        ASSERT_TRUE(std::equal(stored, stored + 771, odd.ScanLine(y))) << "row " << y;
    }
}

TEST(LoadBmp, PaletteAndRle8FilesOfTheSamePictureMatch)
{
    // Both come from the same 200-colour quantisation of one picture.
    const TBitmap palette = LoadOk("ldr/bmp8_palette_256x128.bmp");
    const TBitmap rle = LoadOk("ldr/bmp8_rle8_256x128.bmp");
    ASSERT_EQ(palette.Width(), 256);
    ASSERT_EQ(palette.Height(), 128);
    EXPECT_EQ(palette.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(SameBitmap(palette, rle));
    // Not trivially equal because both are black: the picture has a white area near the
    // middle of row 40 and coloured sky in the corners.
    EXPECT_EQ(Pixel(palette, 128, 40), (std::vector<int>{255, 255, 255}));
    EXPECT_NE(Pixel(palette, 0, 0), Pixel(palette, 128, 40));
}

TEST(LoadBmp, AlphaOfTheV4FileIsTheHorizontalRamp)
{
    // alpha goes 0 (left) .. 1 (right) over 256 columns, so the stored byte is x.
    const TBitmap bitmap = LoadOk("ldr/bmp32_alpha_256x128.bmp");
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit);
    ASSERT_EQ(bitmap.Width(), 256);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(bitmap.ScanLine(y)[x * 4 + 3], x) << x << "," << y;
}

TEST(LoadBmp, EveryBadFileFailsWithAMessageAndNoLargeAllocation)
{
    const std::filesystem::path folder = TestDataPath("bad");
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".bmp")
            continue;
        const std::string name = entry.path().filename().string();
        TBitmap bitmap(2, 2, TPixelFormat::pf24bit);
        std::string error;
        bool ok = true;
        const TPeakMemoryProbe memory;
        const auto start = std::chrono::steady_clock::now();
        ok = LoadBmpFromFile(entry.path().string(), bitmap, error);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        // truncated_half.bmp may fail or load by the rules of the collection; uncompressed
        // data that stops short is refused here, so it fails like the rest.
        EXPECT_FALSE(ok) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_NE(error.back(), '.') << name;
        EXPECT_EQ(bitmap.Width(), 2) << name << ": the bitmap must stay untouched";
        EXPECT_LT(memory.Growth(), 16u << 20) << name;
        EXPECT_LT(elapsed, std::chrono::seconds(1)) << name;
        ++checked;
    }
    EXPECT_EQ(checked, 12);
}

TEST(LoadBmp, BadFilesSayWhatIsWrong)
{
    auto errorOf = [](const std::string& name) {
        TBitmap bitmap;
        std::string error;
        EXPECT_FALSE(LoadBmpFromFile(TestDataPath("bad/" + name), bitmap, error)) << name;
        return error;
    };
    EXPECT_EQ(errorOf("bmp_claims_70000x70000.bmp"), "image too large: 70000 x 70000");
    EXPECT_EQ(errorOf("bmp_claims_2147483647x1.bmp"), "image too large: 2147483647 x 1");
    EXPECT_EQ(errorOf("bmp_claims_0x0.bmp"), "invalid image size 0 x 0");
    EXPECT_EQ(errorOf("bmp_claims_neg_width.bmp"), "invalid image size -5 x 3");
    EXPECT_EQ(errorOf("bmp8_palette_count_300.bmp"), "invalid BMP palette size 300");
    EXPECT_EQ(errorOf("bmp8_palette_count_2147483647.bmp"), "invalid BMP palette size 2147483647");
    EXPECT_EQ(errorOf("bmp24_offset_past_eof.bmp"),
              "BMP pixel data offset past the end of the file");
    EXPECT_EQ(errorOf("truncated_half.bmp"), "truncated BMP pixel data");
    EXPECT_EQ(errorOf("truncated_header_only.bmp"), "truncated BMP pixel data");
    EXPECT_EQ(errorOf("random_bytes.bmp"), "not a BMP file");
    EXPECT_EQ(errorOf("zero_bytes.bmp"), "empty file");

    TBitmap bitmap;
    std::string error;
    EXPECT_FALSE(LoadBmpFromFile(TestDataPath("bad") + "/no such file.bmp", bitmap, error));
    EXPECT_EQ(error, "cannot open the file");
}

TEST(LoadBmp, ReadsEveryPalettedDepth)
{
    // 1 bit, 10 x 1: bytes 1010 0000 11xx xxxx, two of four padding bytes. Palette 0 and 1.
    TBmpLayout oneBit;
    oneBit.Width = 10;
    oneBit.BitsPerPixel = 1;
    oneBit.ColorsUsed = 2;
    oneBit.AfterHeader = RampPalette(2);
    oneBit.Pixels = {0xA0, 0xC0, 0, 0};
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(LoadSynthetic(oneBit, bitmap, error)) << error;
    ASSERT_EQ(bitmap.Width(), 10);
    const int expectedBits[10] = {1, 0, 1, 0, 0, 0, 0, 0, 1, 1};
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(Pixel(bitmap, x, 0), Ramp(expectedBits[x])) << x;

    // 4 bits, 3 x 1, biClrUsed 3: nibbles 1 2 0 (high nibble first).
    TBmpLayout fourBit;
    fourBit.Width = 3;
    fourBit.BitsPerPixel = 4;
    fourBit.ColorsUsed = 3;
    fourBit.AfterHeader = RampPalette(3);
    fourBit.Pixels = {0x12, 0x00, 0, 0};
    ASSERT_TRUE(LoadSynthetic(fourBit, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 0, 0), Ramp(1));
    EXPECT_EQ(Pixel(bitmap, 1, 0), Ramp(2));
    EXPECT_EQ(Pixel(bitmap, 2, 0), Ramp(0));

    // An index past the stored palette is black rather than a read past it.
    fourBit.Pixels = {0x9F, 0x00, 0, 0};
    ASSERT_TRUE(LoadSynthetic(fourBit, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 0, 0), Ramp(0));
    EXPECT_EQ(Pixel(bitmap, 1, 0), Ramp(0));

    // Old 12-byte header: 3-byte palette entries, 8 bits, 2 x 2 bottom-up.
    TBmpLayout core;
    core.HeaderSize = 12;
    core.Width = 2;
    core.Height = 2;
    core.BitsPerPixel = 8;
    for (int i = 0; i < 256; ++i) {
        core.AfterHeader.push_back(static_cast<std::uint8_t>(i));
        core.AfterHeader.push_back(static_cast<std::uint8_t>(255 - i));
        core.AfterHeader.push_back(7);
    }
    core.Pixels = {1, 2, 0, 0, 3, 4, 0, 0};
    ASSERT_TRUE(LoadSynthetic(core, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<int>{3, 252, 7}));  // top row = second stored
    EXPECT_EQ(Pixel(bitmap, 1, 1), (std::vector<int>{2, 253, 7}));
}

TEST(LoadBmp, ReadsSixteenBitLayouts)
{
    // BI_RGB 16 bits is 5-5-5. 0x7FFF white; 0x001F pure blue; 0x0421 = 1 in each field,
    // 1 * 255 / 31 = 8.2 -> 8.
    TBmpLayout rgb555;
    rgb555.Width = 3;
    rgb555.BitsPerPixel = 16;
    rgb555.Pixels = {0xFF, 0x7F, 0x1F, 0x00, 0x21, 0x04, 0, 0};
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(LoadSynthetic(rgb555, bitmap, error)) << error;
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(Pixel(bitmap, 1, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(Pixel(bitmap, 2, 0), (std::vector<int>{8, 8, 8}));

    // BI_BITFIELDS 5-6-5, masks after a 40-byte header. 0xF800 red; 0x0020 green 1 of 63:
    // 255 / 63 = 4.05 -> 4; 0x0010 blue 16 of 31: 16 * 255 / 31 = 131.6 -> 132.
    TBmpLayout rgb565;
    rgb565.Width = 3;
    rgb565.BitsPerPixel = 16;
    rgb565.Compression = 3;
    Put32(rgb565.AfterHeader, 0xF800);
    Put32(rgb565.AfterHeader, 0x07E0);
    Put32(rgb565.AfterHeader, 0x001F);
    rgb565.Pixels = {0x00, 0xF8, 0x20, 0x00, 0x10, 0x00, 0, 0};
    ASSERT_TRUE(LoadSynthetic(rgb565, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(Pixel(bitmap, 1, 0), (std::vector<int>{0, 4, 0}));
    EXPECT_EQ(Pixel(bitmap, 2, 0), (std::vector<int>{132, 0, 0}));

    // A mask with a hole in it has no meaning.
    rgb565.AfterHeader.clear();
    Put32(rgb565.AfterHeader, 0xF801);
    Put32(rgb565.AfterHeader, 0x07E0);
    Put32(rgb565.AfterHeader, 0x001E);
    EXPECT_FALSE(LoadSynthetic(rgb565, bitmap, error));
    EXPECT_EQ(error, "invalid BMP bit masks");
}

TEST(LoadBmp, ThirtyTwoBitFilesKeepTheirAlpha)
{
    // BI_RGB: the fourth byte is alpha, kept as stored, 0 included.
    TBmpLayout rgb;
    rgb.Width = 2;
    rgb.BitsPerPixel = 32;
    rgb.Pixels = {1, 2, 3, 0, 4, 5, 6, 200};
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(LoadSynthetic(rgb, bitmap, error)) << error;
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(Pixel(bitmap, 1, 0), (std::vector<int>{4, 5, 6, 200}));

    // BI_BITFIELDS with colour masks only (R in the low byte here): opaque.
    TBmpLayout fields;
    fields.Width = 1;
    fields.BitsPerPixel = 32;
    fields.Compression = 3;
    Put32(fields.AfterHeader, 0x000000FF);
    Put32(fields.AfterHeader, 0x0000FF00);
    Put32(fields.AfterHeader, 0x00FF0000);
    fields.Pixels = {10, 20, 30, 40};
    ASSERT_TRUE(LoadSynthetic(fields, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<int>{30, 20, 10, 255}));
}

TEST(LoadBmp, ReadsMasksInsideV3Headers)
{
    // BITMAPV3INFOHEADER (56 bytes) carries R, G, B and A masks at offsets 54..69 of the file.
    // Here A is the low byte and B the high byte: bytes 1 2 3 4 are A 1, R 2, G 3, B 4.
    TBmpLayout layout;
    layout.HeaderSize = 56;
    layout.BitsPerPixel = 32;
    layout.Compression = 3;
    layout.Pixels = {1, 2, 3, 4};
    std::vector<std::uint8_t> file = MakeBmp(layout);
    std::vector<std::uint8_t> masks;
    Put32(masks, 0x0000FF00);
    Put32(masks, 0x00FF0000);
    Put32(masks, 0xFF000000);
    Put32(masks, 0x000000FF);
    std::copy(masks.begin(), masks.end(), file.begin() + 54);
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(LoadBmpFromMemory(file, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<int>{4, 3, 2, 1}));
}

TEST(LoadBmp, DecodesRle8EscapesAndClipsOverlongRuns)
{
    // 4 x 3. Stored bottom row: run of two 1s, then an absolute run 2 3 1 that overflows the
    // row (the 1 is dropped), end of line. Then a delta (1, 1) skips the middle row, a run of
    // five 2s from x = 1 is clipped to three, end of bitmap.
    TBmpLayout layout;
    layout.Width = 4;
    layout.Height = 3;
    layout.BitsPerPixel = 8;
    layout.Compression = 1;
    layout.ColorsUsed = 4;
    layout.AfterHeader = RampPalette(4);
    layout.Pixels = {2, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 1, 5, 2, 0, 1};
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(LoadSynthetic(layout, bitmap, error)) << error;
    ASSERT_EQ(bitmap.Height(), 3);
    const int expected[3][4] = {{0, 2, 2, 2}, {0, 0, 0, 0}, {1, 1, 2, 3}};  // top row first
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(Pixel(bitmap, x, y), Ramp(expected[y][x])) << x << "," << y;

    // Stream cut after the first run: the rest stays black and the load succeeds.
    layout.Pixels.resize(3);
    ASSERT_TRUE(LoadSynthetic(layout, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 1, 2), Ramp(1));
    EXPECT_EQ(Pixel(bitmap, 2, 2), Ramp(0));
}

TEST(LoadBmp, DecodesRle4Nibbles)
{
    // 5 x 1: run of three alternating 1 2 1, absolute run 3 4 5 clipped to 3 4, end of bitmap.
    TBmpLayout layout;
    layout.Width = 5;
    layout.BitsPerPixel = 4;
    layout.Compression = 2;
    layout.ColorsUsed = 6;
    layout.AfterHeader = RampPalette(6);
    layout.Pixels = {3, 0x12, 0, 3, 0x34, 0x50, 0, 1};
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(LoadSynthetic(layout, bitmap, error)) << error;
    const int expected[5] = {1, 2, 1, 3, 4};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(Pixel(bitmap, x, 0), Ramp(expected[x])) << x;
}

TEST(LoadBmp, RefusesAHugeRleCanvasWithoutAllocatingIt)
{
    // 65535 x 65535 would be 12 GiB of pixels from a 2-byte stream.
    TBmpLayout layout;
    layout.Width = 65535;
    layout.Height = 65535;
    layout.BitsPerPixel = 8;
    layout.Compression = 1;
    layout.AfterHeader = RampPalette(256);
    layout.Pixels = {0, 1};
    TBitmap bitmap;
    std::string error;
    const TPeakMemoryProbe memory;
    EXPECT_FALSE(LoadSynthetic(layout, bitmap, error));
    EXPECT_EQ(error, "BMP RLE data too short for a 65535 x 65535 image");
    EXPECT_LT(memory.Growth(), 16u << 20);

    // A modest canvas that is all background is legal.
    layout.Width = 1000;
    layout.Height = 1000;
    ASSERT_TRUE(LoadSynthetic(layout, bitmap, error)) << error;
    EXPECT_EQ(Pixel(bitmap, 999, 999), Ramp(0));
}

TEST(LoadBmp, RefusesUnsupportedHeaders)
{
    TBitmap bitmap;
    std::string error;
    TBmpLayout jpegInside;
    jpegInside.BitsPerPixel = 0;
    jpegInside.Compression = 4;
    jpegInside.Pixels = {0xFF, 0xD8};
    EXPECT_FALSE(LoadSynthetic(jpegInside, bitmap, error));
    EXPECT_EQ(error, "unsupported BMP compression 4");

    TBmpLayout os2;
    os2.HeaderSize = 64;
    os2.Pixels = {0, 0, 0, 0};
    EXPECT_FALSE(LoadSynthetic(os2, bitmap, error));
    EXPECT_EQ(error, "unsupported BMP header size 64");

    TBmpLayout depth;
    depth.BitsPerPixel = 2;
    depth.Pixels = {0, 0, 0, 0};
    EXPECT_FALSE(LoadSynthetic(depth, bitmap, error));
    EXPECT_EQ(error, "unsupported BMP bit depth 2");
}

TEST(LoadBmp, RefusesFilesBeyondFourGibibytesUnread)
{
    // A sparse file: 5 GiB long, no disk blocks. Reading it would take seconds and 5 GiB.
    TTempDir dir;
    const std::string path = dir.File("huge.bmp");
    std::ofstream(path, std::ios::binary) << "BM";
    std::filesystem::resize_file(path, std::uint64_t{5} << 30);
    TBitmap bitmap;
    std::string error;
    const TPeakMemoryProbe memory;
    EXPECT_FALSE(LoadBmpFromFile(path, bitmap, error));
    EXPECT_EQ(error, "file too large for BMP");
    EXPECT_LT(memory.Growth(), 16u << 20);
}

TEST(ReadBmpHeader, NeedsOnlyTheHeaders)
{
    std::vector<unsigned char> file = ReadTestFile("ldr/bmp24_257x129.bmp");
    file.resize(54);
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bitsPerPixel = 0;
    std::string error;
    ASSERT_TRUE(ReadBmpHeader(file, width, height, bitsPerPixel, error)) << error;
    EXPECT_EQ(width, 257);
    EXPECT_EQ(height, 129);
    EXPECT_EQ(bitsPerPixel, 24);

    ASSERT_TRUE(ReadBmpHeader(ReadTestFile("tricky/bmp24_topdown_5x3.bmp"), width, height,
                              bitsPerPixel, error));
    EXPECT_EQ(height, 3);  // stored as -3

    EXPECT_FALSE(ReadBmpHeader(ReadTestFile("bad/bmp_claims_70000x70000.bmp"), width, height,
                               bitsPerPixel, error));
    EXPECT_EQ(error, "image too large: 70000 x 70000");
}

TEST(SaveBmp, TwentyFourBitRoundTripIsExact)
{
    // 7 pixels = 21 bytes, padded to 24 in the file.
    TBitmap source(7, 5, TPixelFormat::pf24bit);
    for (int y = 0; y < 5; ++y)
        for (std::size_t i = 0; i < source.BytesPerLine(); ++i)
            source.ScanLine(y)[i] = static_cast<std::uint8_t>(y * 53 + i * 7 + 1);
    TTempDir dir;
    std::string error;
    ASSERT_TRUE(SaveBmpToFile(dir.File("a.bmp"), source, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(dir.File("a.bmp")), 54u + 24u * 5u);

    TBitmap loaded;
    ASSERT_TRUE(LoadBmpFromFile(dir.File("a.bmp"), loaded, error)) << error;
    EXPECT_TRUE(SameBitmap(source, loaded));

    // Bottom-up: the first stored row is the source's last.
    std::ifstream in(dir.File("a.bmp"), std::ios::binary);
    const std::vector<char> raw((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    EXPECT_EQ(static_cast<std::uint8_t>(raw[54]), source.ScanLine(4)[0]);
    EXPECT_EQ(raw[54 + 21], 0);  // padding
}

TEST(SaveBmp, ThirtyTwoBitRoundTripKeepsAlphaAndColourUnderZeroAlpha)
{
    TBitmap source(5, 3, TPixelFormat::pf32bit);
    for (int y = 0; y < 3; ++y)
        for (std::size_t i = 0; i < source.BytesPerLine(); ++i)
            source.ScanLine(y)[i] = static_cast<std::uint8_t>(y * 91 + i * 13);
    source.ScanLine(1)[3] = 0;  // alpha 0 over a non-black colour
    source.ScanLine(2)[7] = 255;
    TTempDir dir;
    std::string error;
    ASSERT_TRUE(SaveBmpToFile(dir.File("a.bmp"), source, 3780, 1181, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(dir.File("a.bmp")), 14u + 124u + 5u * 4u * 3u);

    TBitmap loaded;
    ASSERT_TRUE(LoadBmpFromFile(dir.File("a.bmp"), loaded, error)) << error;
    EXPECT_TRUE(SameBitmap(source, loaded));

    std::ifstream in(dir.File("a.bmp"), std::ios::binary);
    const std::vector<unsigned char> raw((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t pos) {
        return raw[pos] | (raw[pos + 1] << 8) | (raw[pos + 2] << 16) |
               (static_cast<std::uint32_t>(raw[pos + 3]) << 24);
    };
    EXPECT_EQ(u32(38), 3780u);  // biXPelsPerMeter
    EXPECT_EQ(u32(42), 1181u);
    EXPECT_EQ(u32(30), 3u);           // BI_BITFIELDS
    EXPECT_EQ(u32(66), 0xFF000000u);  // alpha mask
}

TEST(SaveBmp, DefaultDensityIs72Dpi)
{
    TBitmap source(1, 1, TPixelFormat::pf24bit);
    TTempDir dir;
    std::string error;
    ASSERT_TRUE(SaveBmpToFile(dir.File("a.bmp"), source, error)) << error;
    std::ifstream in(dir.File("a.bmp"), std::ios::binary);
    const std::vector<unsigned char> raw((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    ASSERT_GE(raw.size(), 46u);
    EXPECT_EQ(raw[38] | (raw[39] << 8), 2835);  // 72 / 0.0254 = 2834.6
    EXPECT_EQ(raw[42] | (raw[43] << 8), 2835);
}

TEST(SaveBmp, RefusesWhatCannotBeWritten)
{
    TTempDir dir;
    std::string error;
    EXPECT_FALSE(SaveBmpToFile(dir.File("empty.bmp"), TBitmap(), error));
    EXPECT_EQ(error, "cannot save an empty image");
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.bmp")));

    EXPECT_FALSE(
        SaveBmpToFile(dir.File("no/such/folder.bmp"), TBitmap(1, 1, TPixelFormat::pf24bit), error));
    EXPECT_EQ(error, "cannot create the file");
}

TEST(BmpFileSize, StaysBelowFourGibibytesOrIsRefused)
{
    // 32 bits: 138 header bytes + 4 w h. 32768 x 32768 x 4 = 2^32 alone is too much;
    // one row less is 4 294 836 224 + 138, which fits in 32 bits.
    EXPECT_GT(BmpFileSize(32768, 32768, 32), MaxBmpFileSize);
    EXPECT_EQ(BmpFileSize(32768, 32767, 32), 4294836362u);
    EXPECT_LE(BmpFileSize(32768, 32767, 32), MaxBmpFileSize);
    // 24 bits: 65535 x 3 = 196605 bytes, padded to 196608. 21846 rows = 4 295 098 368 (+ 54)
    // exceed 4 294 967 295; 21845 rows = 4 294 901 760 + 54 fit.
    EXPECT_GT(BmpFileSize(65535, 21846, 24), MaxBmpFileSize);
    EXPECT_EQ(BmpFileSize(65535, 21845, 24), 4294901814u);
    // The largest image the reader takes is far beyond the limit: the writer must check.
    EXPECT_GT(BmpFileSize(65535, 65535, 32), MaxBmpFileSize);
    EXPECT_EQ(BmpFileSize(3, 5, 24), 54u + 12u * 5u);
    EXPECT_EQ(BmpFileSize(3, 5, 8), 0u);
}

}  // namespace
}  // namespace lumivex
