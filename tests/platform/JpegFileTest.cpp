#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestData.h"
#include "platform/BmpFile.h"
#include "platform/JpegFile.h"

namespace lumivex {
namespace {

using test::ReadTestFile;
using test::TestDataPath;
using test::TTempDir;

TBitmap LoadOk(const std::string& relative, TJpegInfo* info = nullptr)
{
    TBitmap bitmap;
    std::string error;
    EXPECT_TRUE(LoadJpegFromFile(TestDataPath(relative), bitmap, info, error))
        << relative << ": " << error;
    return bitmap;
}

TBitmap LoadBmpOk(const std::string& relative)
{
    TBitmap bitmap;
    std::string error;
    EXPECT_TRUE(LoadBmpFromFile(TestDataPath(relative), bitmap, error))
        << relative << ": " << error;
    return bitmap;
}

// Mean over all pixels of B, G and R.
std::array<double, 3> ChannelMeans(const TBitmap& bitmap)
{
    std::array<double, 3> sum{};
    const int step = bitmap.BytesPerPixel();
    for (std::int32_t y = 0; y < bitmap.Height(); ++y)
        for (std::int32_t x = 0; x < bitmap.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += bitmap.ScanLine(y)[x * step + c];
    const double count = static_cast<double>(bitmap.Width()) * bitmap.Height();
    return {sum[0] / count, sum[1] / count, sum[2] / count};
}

// Mean absolute difference of B, G, R between two pictures of the same size.
double MeanAbsDifference(const TBitmap& a, const TBitmap& b)
{
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return 1e9;
    double sum = 0;
    for (std::int32_t y = 0; y < a.Height(); ++y)
        for (std::int32_t x = 0; x < a.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(a.ScanLine(y)[x * a.BytesPerPixel() + c] -
                                b.ScanLine(y)[x * b.BytesPerPixel() + c]);
    return sum / (3.0 * a.Width() * a.Height());
}

std::vector<std::uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ReadJpegHeader, GivesSizeComponentsAndDensity)
{
    TJpegInfo info;
    std::string error;
    ASSERT_TRUE(ReadJpegHeader(ReadTestFile("ldr/jpeg_baseline_q90_256x128.jpg"), info, error))
        << error;
    EXPECT_EQ(info.Width, 256);
    EXPECT_EQ(info.Height, 128);
    EXPECT_EQ(info.Components, 3);
    EXPECT_EQ(info.DpiX, 72.0);
    EXPECT_EQ(info.DpiY, 72.0);

    ASSERT_TRUE(ReadJpegHeader(ReadTestFile("ldr/jpeg_300dpi_257x129.jpg"), info, error));
    EXPECT_EQ(info.Width, 257);
    EXPECT_EQ(info.Height, 129);
    EXPECT_EQ(info.DpiX, 300.0);
    EXPECT_EQ(info.DpiY, 300.0);

    // JFIF unit 2: 40 dots per centimetre = 40 x 2.54 = 101.6 dpi.
    ASSERT_TRUE(ReadJpegHeader(ReadTestFile("ldr/jpeg_444_40dpcm_256x128.jpg"), info, error));
    EXPECT_DOUBLE_EQ(info.DpiX, 101.6);
    EXPECT_DOUBLE_EQ(info.DpiY, 101.6);

    ASSERT_TRUE(ReadJpegHeader(ReadTestFile("ldr/jpeg_grey_256x128.jpg"), info, error));
    EXPECT_EQ(info.Components, 1);
    ASSERT_TRUE(ReadJpegHeader(ReadTestFile("ldr/jpeg_cmyk_256x128.jpg"), info, error));
    EXPECT_EQ(info.Components, 4);
}

TEST(LoadJpeg, BaselineMatchesTheBmpOfTheSamePicture)
{
    // Both files come from one 256 x 128 picture: the BMP quantised to 200 colours, the JPEG at
    // quality 90 with 4:2:0 chroma. Together they stay within a few levels on average (about
    // 2.5); a swapped channel order or an upside-down decode differs by tens.
    TJpegInfo info;
    const TBitmap jpeg = LoadOk("ldr/jpeg_baseline_q90_256x128.jpg", &info);
    EXPECT_EQ(jpeg.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(info.Warnings, 0);
    EXPECT_LT(MeanAbsDifference(jpeg, LoadBmpOk("ldr/bmp8_palette_256x128.bmp")), 5.0);
}

TEST(LoadJpeg, ProgressiveAndFourFourFourMatchBaseline)
{
    // Same picture, other encodings: quality 90 progressive, quality 95 4:4:4. The JPEG errors
    // of the two files add up to about 1.3 and 2.2 levels on average.
    const TBitmap baseline = LoadOk("ldr/jpeg_baseline_q90_256x128.jpg");
    EXPECT_LT(MeanAbsDifference(baseline, LoadOk("ldr/jpeg_progressive_256x128.jpg")), 3.0);
    EXPECT_LT(MeanAbsDifference(baseline, LoadOk("ldr/jpeg_444_40dpcm_256x128.jpg")), 4.0);
}

TEST(LoadJpeg, OddSizeMatchesTheBmpOfTheSamePicture)
{
    // 257 x 129 needs partial MCUs on the right and bottom edges; quality 85 4:2:0 against the
    // uncompressed BMP of the same picture is about 3.2 levels on average.
    TJpegInfo info;
    const TBitmap jpeg = LoadOk("ldr/jpeg_300dpi_257x129.jpg", &info);
    ASSERT_EQ(jpeg.Width(), 257);
    ASSERT_EQ(jpeg.Height(), 129);
    EXPECT_EQ(info.DpiX, 300.0);
    EXPECT_LT(MeanAbsDifference(jpeg, LoadBmpOk("ldr/bmp24_257x129.bmp")), 6.0);
}

TEST(LoadJpeg, GreyIsSpreadToAllChannels)
{
    const TBitmap grey = LoadOk("ldr/jpeg_grey_256x128.jpg");
    ASSERT_EQ(grey.Width(), 256);
    ASSERT_EQ(grey.PixelFormat(), TPixelFormat::pf24bit);
    for (std::int32_t y = 0; y < grey.Height(); ++y) {
        for (std::int32_t x = 0; x < grey.Width(); ++x) {
            const std::uint8_t* p = grey.ScanLine(y) + x * 3;
            ASSERT_EQ(p[0], p[1]) << x << "," << y;
            ASSERT_EQ(p[1], p[2]) << x << "," << y;
        }
    }
    // Its mean is the luma of the colour file's mean, within 1.5 levels: the Rec. 601 and
    // Rec. 709 weightings differ by 0.7 on this picture, JPEG error adds a little.
    const std::array<double, 3> colour = ChannelMeans(LoadOk("ldr/jpeg_baseline_q90_256x128.jpg"));
    const double luma = 0.114 * colour[0] + 0.587 * colour[1] + 0.299 * colour[2];
    EXPECT_NEAR(ChannelMeans(grey)[0], luma, 1.5);
}

TEST(LoadJpeg, AdobeCmykBecomesPlausibleRgb)
{
    // The CMYK file is the same picture converted with the naive K = 1 - max(R, G, B) rule, so
    // converting back must land on the colour file's channel means; both are quality 90, and
    // their means differ by under 0.3 levels. Tolerance 1 level per channel. Reading the
    // inverted Adobe values as plain ink would put the means near 255 - mean.
    TJpegInfo info;
    const TBitmap cmyk = LoadOk("ldr/jpeg_cmyk_256x128.jpg", &info);
    EXPECT_EQ(info.Components, 4);
    ASSERT_EQ(cmyk.PixelFormat(), TPixelFormat::pf24bit);
    const TBitmap baseline = LoadOk("ldr/jpeg_baseline_q90_256x128.jpg");
    const std::array<double, 3> expected = ChannelMeans(baseline);
    const std::array<double, 3> actual = ChannelMeans(cmyk);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(actual[c], expected[c], 1.0) << "channel " << c << " (B, G, R)";
    EXPECT_LT(MeanAbsDifference(cmyk, baseline), 3.0);  // pixel by pixel, about 1.9
}

// A bitmap of the image's size keeps its bytes (the isolated loader lends shared memory this
// way); any other is replaced. Colour, grey and CMYK files take different paths to the rows.
TEST(LoadJpeg, DecodesInPlaceIntoABitmapOfTheRightSize)
{
    for (const char* file : {"ldr/jpeg_300dpi_257x129.jpg", "ldr/jpeg_grey_256x128.jpg",
                             "ldr/jpeg_cmyk_256x128.jpg"}) {
        const TBitmap fresh = LoadOk(file);
        std::vector<std::uint8_t> bytes(fresh.BytesPerLine() * fresh.Height(), 0xA5);
        int released = 0;
        TBitmap lent = TBitmap::OnBytes(fresh.Width(), fresh.Height(), TPixelFormat::pf24bit,
                                        bytes.data(), [&](std::uint8_t*) { ++released; });
        std::string error;
        ASSERT_TRUE(LoadJpegFromFile(TestDataPath(file), lent, nullptr, error)) << error;
        EXPECT_EQ(lent.ScanLine(0), bytes.data()) << file;
        EXPECT_EQ(released, 0) << file;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), fresh.ScanLine(0))) << file;

        TBitmap narrower =
            TBitmap::OnBytes(fresh.Width() - 1, fresh.Height(), TPixelFormat::pf24bit, bytes.data(),
                             [&](std::uint8_t*) { ++released; });
        ASSERT_TRUE(LoadJpegFromFile(TestDataPath(file), narrower, nullptr, error)) << error;
        EXPECT_EQ(released, 1) << file;
        ASSERT_EQ(narrower.Width(), fresh.Width());
        EXPECT_TRUE(
            std::equal(fresh.ScanLine(0), fresh.ScanLine(0) + bytes.size(), narrower.ScanLine(0)))
            << file;
    }
}

TEST(LoadJpeg, TruncatedFileDecodesWithWarnings)
{
    // libjpeg pads the missing half ("Premature end of JPEG file") and succeeds; the top rows,
    // whose data is all there, equal the complete file's.
    TJpegInfo info;
    const TBitmap half = LoadOk("bad/truncated_half.jpg", &info);
    EXPECT_GT(info.Warnings, 0);
    ASSERT_EQ(half.Width(), 256);
    ASSERT_EQ(half.Height(), 128);
    const TBitmap full = LoadOk("ldr/jpeg_baseline_q90_256x128.jpg");
    for (std::int32_t y = 0; y < 32; ++y) {
        ASSERT_TRUE(
            std::equal(full.ScanLine(y), full.ScanLine(y) + full.BytesPerLine(), half.ScanLine(y)))
            << "row " << y;
    }
}

TEST(LoadJpeg, BadFilesFailWithAMessage)
{
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath("bad"))) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".jpg" || name == "truncated_half.jpg")
            continue;
        TBitmap bitmap(2, 2, TPixelFormat::pf24bit);
        std::string error;
        EXPECT_FALSE(LoadJpegFromFile(entry.path().string(), bitmap, nullptr, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_EQ(bitmap.Width(), 2) << name << ": the bitmap must stay untouched";
        ++checked;
    }
    EXPECT_EQ(checked, 5);

    auto errorOf = [](const std::string& relative) {
        TBitmap bitmap;
        std::string error;
        EXPECT_FALSE(LoadJpegFromFile(TestDataPath(relative), bitmap, nullptr, error));
        return error;
    };
    EXPECT_EQ(errorOf("bad/zero_bytes.jpg"), "empty file");
    EXPECT_EQ(errorOf("bad/jpeg_soi_eoi_only.jpg"), "JPEG datastream contains no image");
    EXPECT_EQ(errorOf("bad/truncated_after_sof.jpg"),
              "Invalid JPEG file structure: missing SOS marker");
    EXPECT_EQ(errorOf("tricky/png_named_as.jpg"), "Not a JPEG file: starts with 0x89 0x50");
}

TEST(LoadJpeg, RefusesSizesBeyondTheLimitBeforeDecoding)
{
    // Patch the frame header of a real file to 65535 x 65535 (SOF0: FF C0, length, precision,
    // height, width). libjpeg stops at 65500 before any pixel buffer exists.
    std::vector<unsigned char> file = ReadTestFile("ldr/jpeg_baseline_q90_256x128.jpg");
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 9 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    }
    ASSERT_NE(sof, 0u);
    for (std::size_t i = sof + 5; i < sof + 9; ++i)
        file[i] = 0xFF;
    TJpegInfo info;
    std::string error;
    EXPECT_FALSE(ReadJpegHeader(file, info, error));
    EXPECT_EQ(error, "Maximum supported image dimension is 65500 pixels");
    TBitmap bitmap;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(LoadJpegFromMemory(file, bitmap, nullptr, error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(bitmap.IsEmpty());
}

TBitmap Gradient(TPixelFormat format)
{
    TBitmap bitmap(64, 48, format);
    const int step = bitmap.BytesPerPixel();
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            std::uint8_t* p = bitmap.ScanLine(y) + x * step;
            p[0] = static_cast<std::uint8_t>(x * 4);
            p[1] = static_cast<std::uint8_t>(y * 5);
            p[2] = static_cast<std::uint8_t>((x + y) * 2);
            if (step == 4)
                p[3] = static_cast<std::uint8_t>(x + y);  // must not leak into the colour
        }
    }
    return bitmap;
}

TEST(SaveJpeg, SmoothGradientRoundTripsClosely)
{
    // Quality 95, 4:2:0. Ramps of 2 to 5 levels per pixel come back within 8 levels everywhere
    // (about 5 at worst, in the subsampled chroma) and within 1.5 on average (about 0.6).
    const TBitmap source = Gradient(TPixelFormat::pf24bit);
    TTempDir dir;
    std::string error;
    ASSERT_TRUE(SaveJpegToFile(dir.File("g.jpg"), source, 95, 0, 0, error)) << error;
    TJpegInfo info;
    TBitmap loaded;
    ASSERT_TRUE(LoadJpegFromFile(dir.File("g.jpg"), loaded, &info, error)) << error;
    ASSERT_EQ(loaded.Width(), 64);
    ASSERT_EQ(loaded.Height(), 48);
    EXPECT_EQ(info.Warnings, 0);
    int worst = 0;
    for (int y = 0; y < 48; ++y)
        for (std::size_t i = 0; i < source.BytesPerLine(); ++i)
            worst = std::max(worst, std::abs(source.ScanLine(y)[i] - loaded.ScanLine(y)[i]));
    EXPECT_LE(worst, 8);
    EXPECT_LT(MeanAbsDifference(source, loaded), 1.5);
    EXPECT_EQ(info.DpiX, 0.0);  // none given, none written
}

TEST(SaveJpeg, AlphaIsIgnored)
{
    TTempDir dir;
    std::string error;
    ASSERT_TRUE(
        SaveJpegToFile(dir.File("24.jpg"), Gradient(TPixelFormat::pf24bit), 90, 72, 72, error));
    ASSERT_TRUE(
        SaveJpegToFile(dir.File("32.jpg"), Gradient(TPixelFormat::pf32bit), 90, 72, 72, error));
    EXPECT_EQ(FileBytes(dir.File("24.jpg")), FileBytes(dir.File("32.jpg")));
}

TEST(SaveJpeg, DensityRoundTripsInDotsPerInch)
{
    TTempDir dir;
    std::string error;
    TJpegInfo info;
    const TBitmap source = Gradient(TPixelFormat::pf24bit);
    ASSERT_TRUE(SaveJpegToFile(dir.File("a.jpg"), source, 90, 300, 150, error)) << error;
    ASSERT_TRUE(ReadJpegHeader(FileBytes(dir.File("a.jpg")), info, error)) << error;
    EXPECT_EQ(info.DpiX, 300.0);
    EXPECT_EQ(info.DpiY, 150.0);

    // 101.6 dpi (40 dots/cm) is stored rounded; a density too large for 16 bits is left out.
    ASSERT_TRUE(SaveJpegToFile(dir.File("b.jpg"), source, 90, 101.6, 101.6, error)) << error;
    ASSERT_TRUE(ReadJpegHeader(FileBytes(dir.File("b.jpg")), info, error)) << error;
    EXPECT_EQ(info.DpiX, 102.0);
    ASSERT_TRUE(SaveJpegToFile(dir.File("c.jpg"), source, 90, 70000, 70000, error)) << error;
    ASSERT_TRUE(ReadJpegHeader(FileBytes(dir.File("c.jpg")), info, error)) << error;
    EXPECT_EQ(info.DpiX, 0.0);
}

TEST(SaveJpeg, QualityIsClamped)
{
    TTempDir dir;
    std::string error;
    const TBitmap source = Gradient(TPixelFormat::pf24bit);
    for (const int quality : {-5, 1, 100, 250})
        ASSERT_TRUE(SaveJpegToFile(dir.File(std::to_string(quality) + ".jpg"), source, quality, 0,
                                   0, error))
            << error;
    EXPECT_EQ(FileBytes(dir.File("-5.jpg")), FileBytes(dir.File("1.jpg")));
    EXPECT_EQ(FileBytes(dir.File("250.jpg")), FileBytes(dir.File("100.jpg")));
    EXPECT_NE(FileBytes(dir.File("1.jpg")), FileBytes(dir.File("100.jpg")));
}

TEST(SaveJpeg, RefusesWhatCannotBeWritten)
{
    TTempDir dir;
    std::string error;
    EXPECT_FALSE(SaveJpegToFile(dir.File("empty.jpg"), TBitmap(), 90, 0, 0, error));
    EXPECT_EQ(error, "cannot save an empty image");
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.jpg")));
    EXPECT_FALSE(SaveJpegToFile(dir.File("no/such/folder.jpg"),
                                TBitmap(1, 1, TPixelFormat::pf24bit), 90, 0, 0, error));
    EXPECT_EQ(error, "cannot create the file");
}

}  // namespace
}  // namespace lumivex
