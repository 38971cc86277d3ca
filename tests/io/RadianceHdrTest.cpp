#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "adjust/ToneAdjust.h"
#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/FreeImageApi.h"
#include "io/IsolatedLoad.h"
#include "io/RadianceHdr.h"

namespace lumivex {
namespace {

using test::ReadBytes;
using test::SameBits;
using test::TestDataPath;
using test::TTempDir;
using test::WriteBytes;

struct TLoad {
    bool Ok = false;
    TBmpHdr Image;
    TImageInfo Info;
    TFileDetails Details;
    TFileStatus Status;
};

// Isolated, our reader decodes Radiance files; in this process FreeImage's does.
TLoad Load(const std::string& path, bool ours)
{
    TLoad r;
    TLoadLimits limits;
    limits.Isolate = ours;
    r.Ok = LoadImageFile(path, &r.Image, r.Info, TLoadPath::lpFreeImage, limits, &r.Details);
    r.Status = LastFileStatus();
    return r;
}

// The scan line data: everything after the size line.
std::vector<std::uint8_t> Payload(const std::vector<std::uint8_t>& file)
{
    const std::string text(file.begin(), file.end());
    const std::size_t size = text.find("\n-Y ");
    const std::size_t end = size == std::string::npos ? size : text.find('\n', size + 1);
    if (end == std::string::npos)
        return {};
    return {file.begin() + static_cast<std::ptrdiff_t>(end + 1), file.end()};
}

// The file FreeImage's own writer makes of the image, as the float save did before.
bool SaveWithFreeImage(const std::string& path, const TBmpHdr& image, float gamma)
{
    TBmpFree free;
    if (free.AllocateUncleared(FIT_RGBF, image.Width(), image.Height(), 96) == nullptr)
        return false;
    for (int y = 0; y < image.Height(); ++y) {
        TRawHdr row = image.Pixels[static_cast<std::size_t>(y)];
        if (gamma != 1.0f)
            PowerRowHdr(row.data(), row.size(), gamma);
        auto* line = reinterpret_cast<float*>(free.GetScanLine(image.Height() - 1 - y));
        for (const TColorHdr& p : row) {
            *line++ = p.R > 0.0f ? p.R : 0.0f;
            *line++ = p.G > 0.0f ? p.G : 0.0f;
            *line++ = p.B > 0.0f ? p.B : 0.0f;
        }
    }
    return free.SaveToFile(FIF_HDR, path, 0);
}

class RadianceHdr : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!IsFreeImageAvailable())
            GTEST_SKIP() << "FreeImage is not available to compare with";
    }

    // Both readers on one file: the same answer, the same pixels bit for bit, the same details
    // (details are reported by isolated loads only).
    static void ExpectSameLoad(const std::string& path)
    {
        SCOPED_TRACE(path);
        const TLoad ours = Load(path, true);
        const TLoad theirs = Load(path, false);
        ASSERT_EQ(ours.Ok, theirs.Ok) << ours.Status.Message << " / " << theirs.Status.Message;
        if (!ours.Ok) {
            EXPECT_EQ(ours.Status.Code, theirs.Status.Code);
            return;
        }
        EXPECT_TRUE(SameBits(ours.Image, theirs.Image));
        EXPECT_EQ(ours.Info.DpiX, theirs.Info.DpiX);
        EXPECT_EQ(ours.Info.DpiY, theirs.Info.DpiY);
        EXPECT_EQ(ours.Info.Kind, theirs.Info.Kind);
        EXPECT_EQ(ours.Info.Transparent, theirs.Info.Transparent);
        // FreeImage reads every Radiance file as 96-bit float RGB.
        EXPECT_EQ(ours.Details.BitsPerPixel, 96);
        EXPECT_EQ(ours.Details.ImageType, FIT_RGBF);
    }
};

// Real, synthetic and broken files of the test data, and files FreeImage wrote: flat and run-length
// lines, widths on both sides of the run-length limits.
TEST_F(RadianceHdr, ReadsWhatFreeImageReads)
{
    for (const char* folder : {"hdr", "probe", "bad"})
        for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(folder)))
            if (entry.path().extension() == ".hdr")
                ExpectSameLoad(entry.path().string());

    TTempDir dir;
    std::mt19937 random(7);
    for (const int width : {1, 7, 8, 9, 131, 0x7fff, 0x8000}) {
        TBmpHdr image;
        image.SetSize(width, 3, clNoneHdr);
        // Runs, literals and values of every exponent, including zero and subnormal results.
        for (auto& row : image.Pixels)
            for (std::size_t x = 0; x < row.size(); ++x) {
                const float v = std::ldexp(static_cast<float>(random() % 256) / 256.0f,
                                           static_cast<int>(random() % 260) - 130);
                row[x] = (x / 5) % 2 == 0 ? TColorHdr{0.5f, 0.25f, 2.0f, 1.0f}
                                          : TColorHdr{v, v * 0.5f, v * 3.0f, 1.0f};
            }
        const std::string path = dir.File("w" + std::to_string(width) + ".hdr");
        ASSERT_TRUE(SaveWithFreeImage(path, image, 1.0f));
        ExpectSameLoad(path);
    }
}

// A line without the run-length mark is read flat, and only that line; a truncated file or a
// run past the line's end is refused.
TEST_F(RadianceHdr, ReadsFlatLinesAmongRunLengthLinesAndRefusesBrokenOnes)
{
    TTempDir dir;
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 3 +X 8\n";
    std::vector<std::uint8_t> file(header.begin(), header.end());
    const auto rleLine = [&](std::uint8_t value) {
        file.insert(file.end(), {2, 2, 0, 8});
        for (int c = 0; c < 3; ++c)
            file.insert(file.end(), {128 + 8, value});
        file.insert(file.end(), {3, 130, 131, 132, 128 + 5, 129});
    };
    rleLine(10);
    for (std::uint8_t x = 0; x < 8; ++x)
        file.insert(file.end(), {x, static_cast<std::uint8_t>(x + 1), 7, 135});
    rleLine(200);
    const std::string good = dir.File("mixed.hdr");
    WriteBytes(good, file);
    ExpectSameLoad(good);
    const TLoad ours = Load(good, true);
    ASSERT_TRUE(ours.Ok) << ours.Status.Message;
    EXPECT_EQ(ours.Image.Pixels[1][2].R, 1.0f);             // mantissa 2 at exponent 135: 2 * 2^-1
    EXPECT_EQ(ours.Image.Pixels[2][3].B, 200.0f / 128.0f);  // the run of exponent 129

    // FreeImage accepts a file cut inside its last read and fills the missing bytes with
    // whatever its buffer held; ours refuses every cut.
    for (std::size_t cut = header.size() + 1; cut < file.size(); cut += 7) {
        const std::string name = dir.File("cut.hdr");
        WriteBytes(name, std::vector<std::uint8_t>(
                             file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)));
        const TLoad cutLoad = Load(name, true);
        EXPECT_FALSE(cutLoad.Ok) << cut;
        EXPECT_EQ(cutLoad.Status.Code, TFileErrorCode::feCorrupt) << cut;
    }
    std::vector<std::uint8_t> overrun = file;
    overrun[header.size() + 4] = 128 + 9;  // a run of 9 in a line of 8
    const std::string bad = dir.File("overrun.hdr");
    WriteBytes(bad, overrun);
    ExpectSameLoad(bad);
    std::vector<std::uint8_t> wrongWidth = file;
    wrongWidth[header.size() + 3] = 9;
    WriteBytes(bad, wrongWidth);
    ExpectSameLoad(bad);
}

// Headers ours does not take go to FreeImage, which then answers as before.
TEST_F(RadianceHdr, LeavesOtherHeadersToFreeImage)
{
    TTempDir dir;
    const std::string name = dir.File("h.hdr");
    const std::vector<std::uint8_t> flat(8 * 2 * 4, 130);
    for (const std::string header :
         {"#?RGBE\nEXPOSURE=2\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 8\n",
          "#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 2 +X 8\n",
          "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+X 8 +Y 2\n",
          "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y +2 +X 8\n", "#?RADIANCE\n\n-Y 2 +X 8\n",
          "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 0 +X 8\n"}) {
        std::vector<std::uint8_t> file(header.begin(), header.end());
        file.insert(file.end(), flat.begin(), flat.end());
        WriteBytes(name, file);
        ExpectSameLoad(name);
        TRadianceReader reader;
        EXPECT_EQ(reader.Open(name), header.starts_with("#?RGBE")) << header;
    }
}

// The scan lines written are FreeImage's bytes for the same image and gamma, on any number of
// threads; extreme values included (infinity, above 2^127, below 1e-32, negative, NaN).
TEST_F(RadianceHdr, WritesFreeImagesScanLines)
{
    TTempDir dir;
    constexpr float Inf = std::numeric_limits<float>::infinity();
    const float extremes[] = {std::nextafter(1e-32f, 0.0f),
                              std::nextafter(1e-32f, 1.0f),
                              Inf,
                              3e38f,
                              1.7e38f,
                              1e-32f,
                              9e-33f,
                              1e-40f,
                              -1.0f,
                              std::nanf(""),
                              0.0f,
                              1.0f,
                              0.999f,
                              255.5f,
                              65504.0f};
    std::mt19937 random(11);
    for (const int width : {1, 7, 8, 200, 0x8000}) {
        TBmpHdr image;
        image.SetSize(width, 5, clNoneHdr);
        for (auto& row : image.Pixels)
            for (std::size_t x = 0; x < row.size(); ++x) {
                const auto pick = [&] {
                    return random() % 4 == 0 ? extremes[random() % std::size(extremes)]
                                             : static_cast<float>(random() % 1000) / 100.0f;
                };
                // Stretches of equal pixels make runs of every length.
                row[x] =
                    x % 37 < 20 && x > 0 ? row[x - 1] : TColorHdr{pick(), pick(), pick(), 0.5f};
            }
        // Row 1 walks through combinations of the values around the 1e-32 limit.
        const float limits[] = {0.0f,
                                9e-33f,
                                std::nextafter(1e-32f, 0.0f),
                                1e-32f,
                                std::nextafter(1e-32f, 1.0f),
                                2e-32f,
                                Inf,
                                1.0f};
        for (std::size_t x = 0; x < image.Pixels[1].size() && x < 512; ++x)
            image.Pixels[1][x] = TColorHdr{limits[x / 64], limits[x / 8 % 8], limits[x % 8], 1.0f};
        // In the last rows each channel repeats its values for its own random lengths, mostly
        // the short ones around the coder's limit of four.
        for (std::size_t y = 3; y < image.Pixels.size(); ++y)
            for (float TColorHdr::*channel : {&TColorHdr::R, &TColorHdr::G, &TColorHdr::B}) {
                const int lengths[] = {1, 1, 2, 2, 3, 3, 4, 5, 6, 127, 128, 300};
                float value = 0.0f;
                int left = 0;
                for (TColorHdr& p : image.Pixels[y]) {
                    if (left-- == 0) {
                        left = lengths[random() % std::size(lengths)] - 1;
                        value = static_cast<float>(1 + random() % 6) * 0.25f;
                    }
                    p.*channel = value;
                }
            }
        for (const float gamma : {1.0f, 2.2f})
            for (const int threads : {1, 2, 7}) {
                SetThreadCount(threads);
                const std::string ours = dir.File("ours.hdr");
                const std::string theirs = dir.File("theirs.hdr");
                ASSERT_TRUE(SaveRadiance(ours, &image, gamma)) << LastFileStatus().Message;
                ASSERT_TRUE(SaveWithFreeImage(theirs, image, gamma));
                const auto a = ReadBytes(ours);
                const auto b = ReadBytes(theirs);
                ASSERT_FALSE(Payload(a).empty());
                EXPECT_TRUE(Payload(a) == Payload(b)) << width << " " << gamma << " " << threads;
                const std::string text(a.begin(), a.end());
                EXPECT_EQ(text.rfind("#?RADIANCE\n# Made with Lumivex HD\nFORMAT=32-bit_rle_rgbe\n"
                                     "GAMMA=1\nEXPOSURE=0\n\n-Y 5 +X " +
                                         std::to_string(width) + "\n",
                                     0),
                          0u);
            }
        SetThreadCount(0);
    }
}

// A failed save keeps the file there; an empty image is refused.
TEST_F(RadianceHdr, FailedSaveKeepsTheOldFile)
{
    TTempDir dir;
    const std::string name = dir.File("keep.hdr");
    WriteBytes(name, {'o', 'l', 'd'});
    TBmpHdr empty;
    EXPECT_FALSE(SaveRadiance(name, &empty, 1.0f));
    EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feWriteFailed);
    EXPECT_EQ(ReadBytes(name).size(), 3u);
    TBmpHdr image;
    image.SetSize(4, 4, ColorHdr(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_FALSE(SaveRadiance(dir.File("missing/x.hdr"), &image, 1.0f));
    EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feWriteFailed);
    EXPECT_FALSE(LastFileStatus().Message.empty());
}

}  // namespace
}  // namespace lumivex
