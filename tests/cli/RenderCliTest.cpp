#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "cli/Cli.h"
#include "core/Parallel.h"
#include "io/FreeHdr.h"
#include "io/FreeImageApi.h"
#include "io/IsolatedLoad.h"
#include "platform/Bitmap.h"
#include "view/DisplayHdr.h"

namespace lumivex {
namespace {

using test::TestDataPath;
using test::TTempDir;

struct TRun {
    int Code = -1;
    std::string Err;
};

TRun Render(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"render"};
    all.insert(all.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    TRun r;
    r.Code = RunCli(all, out, err);
    r.Err = err.str();
    return r;
}

class RenderCliTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetFreeImageLibraryName("libfreeimage.so.3");
        SetThreadCount(0);
    }
};

// The saved file, read back, holds exactly the bytes the display routines draw.
void ExpectScreenBytes(const std::string& in, const std::string& out, float zoom, bool checkerboard)
{
    TBmpHdr image;
    TImageInfo info;
    ASSERT_TRUE(LoadImageFile(in, &image, info));
    TBitmap expected;
    RenderImageToBitmap(&image, zoom, checkerboard, expected);
    TBmpHdr saved;
    ASSERT_TRUE(LoadImageFile(out, &saved, info)) << out;
    ASSERT_EQ(saved.Width(), expected.Width());
    ASSERT_EQ(saved.Height(), expected.Height());
    int wrong = 0;
    for (int y = 0; y < expected.Height(); ++y)
        for (int x = 0; x < expected.Width(); ++x) {
            std::uint8_t bytes[3];
            ColorHdrToBGR(saved.Pixels[y][x], bytes);
            wrong += std::memcmp(bytes, expected.ScanLine(y) + x * 3, 3) != 0 ? 1 : 0;
        }
    EXPECT_EQ(wrong, 0) << out;
}

TEST_F(RenderCliTest, SavesTheBytesTheEditorShows)
{
    TTempDir dir;
    const std::string alpha = TestDataPath("ldr/bmp32_alpha_256x128.bmp");
    const std::string hdr = TestDataPath("hdr/sunset_sun_crop_96x64.hdr");
    if (!IsFreeImageAvailable())
        GTEST_SKIP() << "PNG needs FreeImage";
    ASSERT_EQ(Render({alpha, dir.File("a.png"), "--zoom", "0.333", "--checkerboard"}).Code, 0);
    ExpectScreenBytes(alpha, dir.File("a.png"), 0.333f, true);
    ASSERT_EQ(Render({"--zoom", "2.5", alpha, dir.File("b.png")}).Code, 0);
    ExpectScreenBytes(alpha, dir.File("b.png"), 2.5f, false);
    ASSERT_EQ(Render({hdr, dir.File("c.png")}).Code, 0);  // values above 1 saturate
    ExpectScreenBytes(hdr, dir.File("c.png"), 1.0f, false);
    for (const char* threads : {"1", "2", "7"}) {
        const std::string out = dir.File(std::string("t") + threads + ".png");
        ASSERT_EQ(Render({"--threads", threads, "--zoom", "3", hdr, out}).Code, 0);
        ExpectScreenBytes(hdr, out, 3.0f, false);
    }
}

TEST_F(RenderCliTest, WritesBmpWithoutFreeImage)
{
    TTempDir dir;
    const std::string bmp = TestDataPath("ldr/bmp24_257x129.bmp");
    const TRun r = Render({"--no-freeimage", "--zoom", "0.5", bmp, dir.File("a.bmp")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    SetFreeImageLibraryName("libfreeimage.so.3");
    ExpectScreenBytes(bmp, dir.File("a.bmp"), 0.5f, false);
}

TEST_F(RenderCliTest, RefusesBadArguments)
{
    TTempDir dir;
    const std::string bmp = TestDataPath("ldr/bmp24_3x5.bmp");
    EXPECT_EQ(Render({bmp}).Code, ceUsage);
    EXPECT_EQ(Render({bmp, dir.File("a.png"), "extra"}).Code, ceUsage);
    EXPECT_EQ(Render({bmp, dir.File("a.xyz")}).Code, ceUsage);
    const TRun low = Render({"--zoom", "0.05", bmp, dir.File("a.png")});
    EXPECT_EQ(low.Code, ceUsage);
    EXPECT_NE(low.Err.find("--zoom"), std::string::npos) << low.Err;
    EXPECT_EQ(Render({"--zoom", "17", bmp, dir.File("a.png")}).Code, ceUsage);
    EXPECT_EQ(Render({"--zoom", "x", bmp, dir.File("a.png")}).Code, ceUsage);
    const TRun missing = Render({dir.File("missing.bmp"), dir.File("a.bmp")});
    EXPECT_EQ(missing.Code, ceFailure);
    EXPECT_NE(missing.Err.find("missing.bmp"), std::string::npos) << missing.Err;
}

}  // namespace
}  // namespace lumivex
