#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "io/FileStatus.h"
#include "io/IsolatedLoad.h"
#include "merge/MergeFiles.h"
#include "platform/BmpFile.h"
#include "platform/JpegFile.h"

namespace lumivex {
namespace {

using test::TestDataPath;
using test::TTempDir;

std::string Bracket(const std::string& set, const std::string& name)
{
    return TestDataPath("brackets/" + set + "/" + name);
}

bool SameBytes(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    for (std::int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.BytesPerLine()) != 0)
            return false;
    return true;
}

}  // namespace

TEST(IsMergeJpegName, OnlyDotJpgInAnyCase)
{
    EXPECT_TRUE(IsMergeJpegName("a/b.jpg"));
    EXPECT_TRUE(IsMergeJpegName("PHOTO.JPG"));
    EXPECT_TRUE(IsMergeJpegName("x.Jpg"));
    EXPECT_FALSE(IsMergeJpegName("x.jpeg"));  // goes through the file bridge
    EXPECT_FALSE(IsMergeJpegName("x.bmp"));
    EXPECT_FALSE(IsMergeJpegName("jpg"));
    EXPECT_FALSE(IsMergeJpegName("dir.jpg/file"));
}

TEST(LoadMergeSource, GivesTheDecodersBytes)
{
    // JPEG: the bytes libjpeg-turbo decodes; the round trip through the loader's floats
    // (byte / 255, then x 255 rounded) gives every byte back.
    const std::string jpeg = Bracket("courtyard_3ev", "courtyard_ev+0.jpg");
    TBitmap direct;
    std::string error;
    ASSERT_TRUE(LoadJpegFromFile(jpeg, direct, nullptr, error)) << error;
    TBitmap loaded;
    ASSERT_TRUE(LoadMergeSource(jpeg, loaded)) << LastFileStatus().Message;
    EXPECT_EQ(loaded.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(SameBytes(loaded, direct));

    // A camera's PHOTO.JPG is a JPEG too.
    TTempDir dir;
    const std::string upper = dir.File("PHOTO.JPG");
    std::filesystem::copy_file(jpeg, upper);
    ASSERT_TRUE(LoadMergeSource(upper, loaded, TLoadPath::lpPlatform)) << LastFileStatus().Message;
    EXPECT_TRUE(SameBytes(loaded, direct));

    // BMP through the bridge: the file's own bytes.
    const std::string bmp = Bracket("courtyard_3ev_bmp24", "courtyard_ev+0.bmp");
    const std::vector<unsigned char> data =
        test::ReadTestFile("brackets/courtyard_3ev_bmp24/courtyard_ev+0.bmp");
    TBitmap file;
    ASSERT_TRUE(LoadBmpFromMemory(data, file, error)) << error;
    for (const TLoadPath path : {TLoadPath::lpAuto, TLoadPath::lpPlatform}) {
        ASSERT_TRUE(LoadMergeSource(bmp, loaded, path)) << LastFileStatus().Message;
        EXPECT_TRUE(SameBytes(loaded, file));
    }

    // 16-bit TIFF: each channel rounded to the nearest byte, v x 255 half to even.
    const std::string tiff = Bracket("courtyard_3ev_tiff16", "courtyard_ev+0.tif");
    TBmpHdr image;
    TImageInfo info;
    ASSERT_TRUE(LoadImageFile(tiff, &image, info));
    ASSERT_TRUE(LoadMergeSource(tiff, loaded));
    ASSERT_EQ(loaded.Width(), image.Width());
    ASSERT_EQ(loaded.Height(), image.Height());
    for (std::int32_t y = 0; y < loaded.Height(); ++y)
        for (std::int32_t x = 0; x < loaded.Width(); ++x) {
            const TColorHdr& p = image.Pixels[y][x];
            const std::uint8_t* b = loaded.ScanLine(y) + 3 * x;
            ASSERT_EQ(b[0], static_cast<int>(std::nearbyint(p.B * 255.0f))) << x << "," << y;
            ASSERT_EQ(b[1], static_cast<int>(std::nearbyint(p.G * 255.0f))) << x << "," << y;
            ASSERT_EQ(b[2], static_cast<int>(std::nearbyint(p.R * 255.0f))) << x << "," << y;
        }
}

TEST(LoadMergeSource, CorruptFilesFailCleanly)
{
    for (const char* name :
         {"bad/random_bytes.jpg", "bad/truncated_after_sof.jpg", "bad/jpeg_soi_eoi_only.jpg",
          "bad/zero_bytes.jpg", "bad/random_bytes.bmp", "bad/bmp_claims_70000x70000.bmp",
          "bad/png_claims_70000x70000.png", "bad/random_bytes.tif"}) {
        TBitmap bitmap = TBitmap(2, 2, TPixelFormat::pf24bit);
        EXPECT_FALSE(LoadMergeSource(TestDataPath(name), bitmap)) << name;
        EXPECT_TRUE(bitmap.IsEmpty()) << name;
        EXPECT_NE(LastFileStatus().Code, TFileErrorCode::feNone) << name;
    }
    TBitmap bitmap;
    EXPECT_FALSE(LoadMergeSource("/nonexistent/photo.jpg", bitmap));
    EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feCannotOpen);
}

TEST(AddMergeFiles, RefusesAnotherSizeOrABadFrameAndNamesIt)
{
    const std::vector<std::string> height = {Bracket("size_mismatch_height", "interior_ev-2.jpg"),
                                             Bracket("size_mismatch_height", "interior_ev+0.jpg"),
                                             Bracket("size_mismatch_height", "interior_ev+2.jpg")};
    TBmpList list;
    std::size_t failed = 99;
    std::vector<std::size_t> told;
    EXPECT_FALSE(AddMergeFiles(list, height, TLoadPath::lpAuto, failed,
                               [&](std::size_t i) { told.push_back(i); }));
    EXPECT_EQ(failed, 2u);  // the EV +2 frame is 256 x 127
    EXPECT_EQ(told, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_NE(LastFileStatus().Message.find("256 x 127"), std::string::npos)
        << LastFileStatus().Message;
    EXPECT_NE(LastFileStatus().Message.find("256 x 128"), std::string::npos);

    const std::vector<std::string> width = {Bracket("size_mismatch_width", "interior_ev-2.jpg"),
                                            Bracket("size_mismatch_width", "interior_ev+0.jpg"),
                                            Bracket("size_mismatch_width", "interior_ev+2.jpg")};
    TBmpList second;
    EXPECT_FALSE(AddMergeFiles(second, width, TLoadPath::lpAuto, failed));
    EXPECT_EQ(failed, 1u);  // the EV 0 frame is 255 x 128
    EXPECT_NE(LastFileStatus().Message.find("255 x 128"), std::string::npos);

    for (const char* bad : {"bad/random_bytes.jpg", "bad/truncated_after_sof.jpg"}) {
        TBmpList third;
        const std::vector<std::string> files = {Bracket("courtyard_3ev", "courtyard_ev-2.jpg"),
                                                TestDataPath(bad),
                                                Bracket("courtyard_3ev", "courtyard_ev+2.jpg")};
        EXPECT_FALSE(AddMergeFiles(third, files, TLoadPath::lpAuto, failed)) << bad;
        EXPECT_EQ(failed, 1u) << bad;
        EXPECT_EQ(third.Count(), 1) << bad;
        EXPECT_NE(LastFileStatus().Code, TFileErrorCode::feNone) << bad;
    }

    TBmpList good;
    EXPECT_TRUE(AddMergeFiles(good,
                              {Bracket("courtyard_3ev", "courtyard_ev-2.jpg"),
                               Bracket("courtyard_3ev", "courtyard_ev+0.jpg")},
                              TLoadPath::lpAuto, failed));
    EXPECT_EQ(good.Count(), 2);
    EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feNone);
}

// No decoder process outlives its load: this test program has no other children.
bool NoChildLeft()
{
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(TBitmapLoad, DecodesWhileTheCallerWaitsAndStopsWhatIsNotFinished)
{
    const std::string a = Bracket("courtyard_3ev", "courtyard_ev-2.jpg");
    const std::string b = Bracket("courtyard_3ev", "courtyard_ev+0.jpg");
    TBitmap expectedA;
    TBitmap expectedB;
    ASSERT_TRUE(LoadMergeSource(a, expectedA));
    ASSERT_TRUE(LoadMergeSource(b, expectedB));
    {
        // Two decodes at once, finished in the other order.
        TBitmapLoad first(a, TLoadPath::lpPlatform);
        TBitmapLoad second(b, TLoadPath::lpPlatform);
        TBitmap got;
        ASSERT_TRUE(second.Finish(got)) << LastFileStatus().Message;
        EXPECT_TRUE(SameBytes(got, expectedB));
        ASSERT_TRUE(first.Finish(got)) << LastFileStatus().Message;
        EXPECT_TRUE(SameBytes(got, expectedA));
        EXPECT_FALSE(first.Finish(got));  // once only
        EXPECT_TRUE(got.IsEmpty());
    }
    EXPECT_TRUE(NoChildLeft());
    {
        TBitmapLoad abandoned(a);  // never finished: its child is stopped
    }
    EXPECT_TRUE(NoChildLeft());
    // A file that cannot be read fails at Finish, with its reason, however long after.
    TBitmapLoad missing("/nonexistent/photo.jpg");
    ClearFileStatus();
    TBitmap got;
    EXPECT_FALSE(missing.Finish(got));
    EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feCannotOpen);

    // A merge that stops at a bad frame stops the decode of the frame after it.
    TBmpList list;
    std::size_t failed = 0;
    EXPECT_FALSE(AddMergeFiles(list, {a, TestDataPath("bad/random_bytes.jpg"), b},
                               TLoadPath::lpAuto, failed));
    EXPECT_EQ(failed, 1u);
    EXPECT_TRUE(NoChildLeft());
}

}  // namespace lumivex
