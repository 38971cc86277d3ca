#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestData.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/ImageFile.h"
#include "io/IsolatedLoad.h"
#include "io/PlatformHdr.h"

namespace lumivex {
namespace {

using test::ReadBytes;
using test::TestDataPath;
using test::TTempDir;
using test::WriteBytes;

struct TLoaded {
    bool Ok = false;
    TBmpHdr Image;
    TImageInfo Info;
    TFileStatus Status;
    double Seconds = 0.0;
};

TLoaded LoadFile(const std::string& path, TLoadPath loadPath, TLoadLimits limits = {})
{
    TLoaded r;
    const auto start = std::chrono::steady_clock::now();
    r.Ok = LoadImageFile(path, &r.Image, r.Info, loadPath, limits);
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.Status = LastFileStatus();
    return r;
}

// Short header limits: a file that hangs the decoder costs seconds, not the default 10.
TLoadLimits QuickLimits(double headerSeconds = 5.0)
{
    TLoadLimits limits;
    limits.HeaderSeconds = headerSeconds;
    limits.PixelBaseSeconds = 10.0;
    return limits;
}

const char* PathName(TLoadPath path)
{
    return path == TLoadPath::lpPlatform ? " (platform)" : " (FreeImage)";
}

void ExpectCleanFailure(const TLoaded& loaded, const std::string& what)
{
    EXPECT_FALSE(loaded.Ok) << what;
    EXPECT_TRUE(loaded.Image.IsEmpty()) << what;
    EXPECT_EQ(loaded.Image.Width(), 0) << what;
    EXPECT_NE(loaded.Status.Code, TFileErrorCode::feNone) << what;
    EXPECT_FALSE(loaded.Status.Message.empty()) << what;
}

std::set<std::string> FolderContents(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// ---------------------------------------------------------------------------------------------
// Loading

// What a truncated half does on each path: a decoder that pads the missing data delivers the
// full size; the others fail. Any other outcome (a wrong size, a crash) is a fault.
struct TTruncatedOutcome {
    int Width;
    int Height;
    bool LoadsThroughFreeImage;
    bool LoadsThroughPlatform;
};

const std::map<std::string, TTruncatedOutcome> TruncatedHalves = {
    {"truncated_half.bmp", {257, 129, false, false}},
    {"truncated_half.exr", {256, 128, false, false}},
    {"truncated_half.gif", {256, 128, false, false}},
    {"truncated_half.hdr", {320, 160, false, false}},
    {"truncated_half.jpg", {256, 128, true, true}},  // libjpeg pads with grey
    {"truncated_half.png", {256, 128, false, false}},
    {"truncated_half.tif", {257, 129, false, false}},
};

TEST(LoadImageFile, RefusesEveryBadFileCleanlyOnBothPaths)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath("bad"))) {
        const std::string name = entry.path().filename().string();
        if (TruncatedHalves.contains(name))
            continue;
        ++count;
        for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
            const TLoaded loaded = LoadFile(entry.path().string(), path, QuickLimits());
            ExpectCleanFailure(loaded, name + PathName(path));
            EXPECT_LT(loaded.Seconds, 30.0) << name << PathName(path);
        }
    }
    EXPECT_EQ(count, 49);
}

TEST(LoadImageFile, TruncatedHalvesFailOrLoadAtTheirFullSize)
{
    for (const auto& [name, outcome] : TruncatedHalves) {
        for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
            const TLoaded loaded = LoadFile(TestDataPath("bad/" + name), path, QuickLimits());
            const bool expected = path == TLoadPath::lpPlatform ? outcome.LoadsThroughPlatform
                                                                : outcome.LoadsThroughFreeImage;
            EXPECT_EQ(loaded.Ok, expected)
                << name << PathName(path) << ": " << loaded.Status.Message;
            if (loaded.Ok) {
                EXPECT_EQ(loaded.Image.Width(), outcome.Width) << name << PathName(path);
                EXPECT_EQ(loaded.Image.Height(), outcome.Height) << name << PathName(path);
                EXPECT_EQ(loaded.Image.Pixels.size(), static_cast<std::size_t>(outcome.Height));
            } else {
                ExpectCleanFailure(loaded, name + PathName(path));
            }
        }
    }
}

TEST(LoadImageFile, HostileHeadersFailWellWithinTheTimeLimit)
{
    // Truncated and oversized headers: refused, never decoded for the full budget.
    for (const char* name : {"bad/exr_datawindow_70000x70000.exr",
                             "bad/exr_datawindow_inverted.exr", "bad/truncated_16_bytes.exr",
                             "bad/bmp_claims_70000x70000.bmp", "bad/png_claims_70000x70000.png",
                             "bad/tif_claims_70000x70000.tif", "bad/hdr_claims_70000x70000.hdr",
                             "bad/gif_claims_65535x65535.gif", "bad/bmp_claims_2147483647x1.bmp"}) {
        const TLoaded loaded = LoadFile(TestDataPath(name), TLoadPath::lpFreeImage, QuickLimits());
        ExpectCleanFailure(loaded, name);
        EXPECT_LT(loaded.Seconds, 30.0) << name;
    }
}

TEST(LoadImageFile, SidesBeyondTheImageModelAreTooLarge)
{
    for (const char* name : {"bad/bmp_claims_70000x70000.bmp", "bad/png_valid_65536x1_too_wide.png",
                             "bad/png_claims_70000x70000.png", "bad/exr_datawindow_70000x70000.exr",
                             "bad/hdr_claims_70000x70000.hdr", "bad/tif_claims_70000x70000.tif"}) {
        for (const bool isolate : {true, false}) {
            // In-process only where the header alone decides: the BMP would allocate 15 GB.
            if (!isolate && std::string(name).find("bmp") != std::string::npos)
                continue;
            TLoadLimits limits = QuickLimits();
            limits.Isolate = isolate;
            const TLoaded loaded = LoadFile(TestDataPath(name), TLoadPath::lpFreeImage, limits);
            ExpectCleanFailure(loaded, name);
            EXPECT_EQ(loaded.Status.Code, TFileErrorCode::feTooLarge)
                << name << (isolate ? "" : " in process") << ": " << loaded.Status.Message;
        }
    }
    const TLoaded bmp =
        LoadFile(TestDataPath("bad/bmp_claims_70000x70000.bmp"), TLoadPath::lpPlatform);
    ExpectCleanFailure(bmp, "bmp_claims_70000x70000.bmp (platform)");
    EXPECT_EQ(bmp.Status.Code, TFileErrorCode::feTooLarge) << bmp.Status.Message;
}

// A file that declares a size the image model holds but memory does not (a decompression bomb)
// is refused before the editor allocates it, on both paths, with the sizes in the message.
TEST(LoadImageFile, DeclaredSizesThatDoNotFitInMemoryAreRefusedBeforeAllocation)
{
    // The 70000 x 70000 PNG header rewritten to 60000 x 60000: 57.6 GB of float pixels.
    std::vector<std::uint8_t> bomb = ReadBytes(TestDataPath("bad/png_claims_70000x70000.png"));
    ASSERT_GT(bomb.size(), 33u);
    for (const int at : {16, 20}) {
        bomb[at + 1] = 0x00;  // 60000 = 0x0000EA60
        bomb[at + 2] = 0xEA;
        bomb[at + 3] = 0x60;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= bomb[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    for (int k = 0; k < 4; ++k)
        bomb[29 + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
    const TTempDir dir;
    WriteBytes(dir.File("bomb.png"), bomb);
    TLoadLimits limits = QuickLimits();
    limits.AvailableBytes = std::int64_t{1} << 30;
    const TLoaded loaded = LoadFile(dir.File("bomb.png"), TLoadPath::lpFreeImage, limits);
    ExpectCleanFailure(loaded, "bomb.png");
    EXPECT_EQ(loaded.Status.Code, TFileErrorCode::feOutOfMemory);
    EXPECT_EQ(loaded.Status.Message,
              "not enough memory for a 60000 x 60000 image (57600 MB needed, 1074 MB free)");

    // The limit is exact: a 256 x 128 image needs 524288 bytes.
    for (const char* name : {"ldr/png_rgb8_300dpi_256x128.png", "ldr/jpeg_grey_256x128.jpg"})
        for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
            if (path == TLoadPath::lpPlatform && std::string(name).ends_with(".png"))
                continue;
            for (const std::int64_t available : {524287, 524288}) {
                limits.AvailableBytes = available;
                const TLoaded small = LoadFile(TestDataPath(name), path, limits);
                EXPECT_EQ(small.Ok, available == 524288) << name << PathName(path);
                if (!small.Ok) {
                    EXPECT_EQ(small.Status.Code, TFileErrorCode::feOutOfMemory) << name;
                }
            }
        }
}

TEST(LoadImageFile, ZeroByteFilesFailWithAMessage)
{
    for (const char* ext : {".bmp", ".exr", ".gif", ".hdr", ".jpg", ".pfm", ".png", ".tif"})
        for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
            const std::string name = std::string("bad/zero_bytes") + ext;
            ExpectCleanFailure(LoadFile(TestDataPath(name), path), name + PathName(path));
        }
}

TEST(LoadImageFile, ContentDecidesThroughFreeImageAndTheNameThroughThePlatform)
{
    const TLoaded png = LoadFile(TestDataPath("ldr/png_rgb8_3x5.png"), TLoadPath::lpFreeImage);
    ASSERT_TRUE(png.Ok);
    // A PNG named .jpg: FreeImage sniffs the contents; our path hands it to the JPEG decoder.
    const TLoaded named = LoadFile(TestDataPath("tricky/png_named_as.jpg"), TLoadPath::lpFreeImage);
    ASSERT_TRUE(named.Ok) << named.Status.Message;
    EXPECT_EQ(named.Image.Width(), 3);
    EXPECT_EQ(named.Image.Height(), 5);
    EXPECT_EQ(named.Image.Pixels[4][2].B, png.Image.Pixels[4][2].B);
    for (const char* name :
         {"tricky/png_named_as.jpg", "tricky/bmp_named_as.jpg", "tricky/jpeg_named_as.png"})
        ExpectCleanFailure(LoadFile(TestDataPath(name), TLoadPath::lpPlatform),
                           std::string(name) + " (platform)");
}

TEST(LoadImageFile, MissingFilesAndFoldersCannotBeOpened)
{
    const TTempDir dir;
    for (const TLoadPath path :
         {TLoadPath::lpFreeImage, TLoadPath::lpPlatform, TLoadPath::lpAuto}) {
        for (const bool isolate : {true, false}) {
            TLoadLimits limits;
            limits.Isolate = isolate;
            for (const std::string& name :
                 {dir.File("missing.png"), dir.File("missing.bmp"), dir.Path().string()}) {
                const TLoaded loaded = LoadFile(name, path, limits);
                ExpectCleanFailure(loaded, name + PathName(path));
                EXPECT_EQ(loaded.Status.Code, TFileErrorCode::feCannotOpen) << name;
            }
        }
    }
    // A null image is refused without touching the status of an earlier call.
    TImageInfo info;
    EXPECT_FALSE(LoadImageFile(TestDataPath("probe/probe_rgb8.png"), nullptr, info));
}

TEST(LoadImageFile, AnExrCutInsideItsHeaderIsRefusedBeforeFreeImageReadsIt)
{
    // FreeImage never returns from an EXR cut inside its header; the header check refuses it
    // first, well before the time limit would stop the child.
    std::vector<std::uint8_t> bytes = ReadBytes(TestDataPath("hdr/courtyard_256x128_half_piz.exr"));
    ASSERT_GT(bytes.size(), 400u);
    bytes.resize(400);
    const TTempDir dir;
    const std::string name = dir.File("cut.exr");
    WriteBytes(name, bytes);
    for (const bool isolate : {true, false}) {
        TLoadLimits limits = QuickLimits(2.0);
        limits.Isolate = isolate;
        const TLoaded loaded = LoadFile(name, TLoadPath::lpFreeImage, limits);
        ExpectCleanFailure(loaded, isolate ? "cut.exr" : "cut.exr in process");
        EXPECT_EQ(loaded.Status.Code, TFileErrorCode::feCorrupt) << loaded.Status.Message;
        EXPECT_LT(loaded.Seconds, 1.5);
    }
}

TEST(LoadImageFile, ADecoderPastItsTimeLimitIsStopped)
{
    // No time at all for the pixels of a real 1024 x 512 DWAB file (about 25 ms of decoding):
    // the parent stops the child as soon as it sees the header accepted.
    TLoadLimits limits = QuickLimits();
    limits.PixelBaseSeconds = 0.0;
    limits.PixelSecondsPerMegapixel = 0.0;
    TBmpHdr image;
    image.SetSize(4, 4, GrayHdr(0.5f, 1.0f));  // an earlier picture is cleared on failure
    TImageInfo info;
    EXPECT_FALSE(LoadImageFile(TestDataPath("src/courtyard.exr"), &image, info,
                               TLoadPath::lpFreeImage, limits));
    EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feTimeout) << LastFileStatus().Message;
    EXPECT_FALSE(LastFileStatus().Message.empty());
    EXPECT_TRUE(image.IsEmpty());
    // The same file with the default budget, and the process is healthy afterwards.
    const TLoaded good = LoadFile(TestDataPath("src/courtyard.exr"), TLoadPath::lpFreeImage);
    ASSERT_TRUE(good.Ok) << good.Status.Message;
    EXPECT_EQ(good.Image.Width(), 1024);
}

// A complete single-part header with the multi-part flag set: the header check lets it through
// (multi-part files have other offset tables) and OpenEXR, looking for the next part's header,
// allocates without end.
[[maybe_unused]] std::string WriteRunawayExr(const TTempDir& dir)
{
    std::vector<std::uint8_t> bytes = ReadBytes(TestDataPath("hdr/courtyard_256x128_half_piz.exr"));
    EXPECT_GT(bytes.size(), 893u);
    bytes.resize(893);       // 861 header bytes and the 4 chunk offsets of 32-line PIZ blocks
    EXPECT_EQ(bytes[4], 2);  // version 2, no flags
    bytes[5] |= 0x10;        // 0x1000: multi-part
    const std::string name = dir.File("multipart.exr");
    WriteBytes(name, bytes);
    return name;
}

TEST(LoadImageFile, ADecoderOutOfMemoryIsACleanFailure)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs unlimited address space in the child";
#else
    const TTempDir dir;
    const TLoaded runaway = LoadFile(WriteRunawayExr(dir), TLoadPath::lpFreeImage, QuickLimits());
    ExpectCleanFailure(runaway, "multipart.exr");
    EXPECT_EQ(runaway.Status.Code, TFileErrorCode::feOutOfMemory) << runaway.Status.Message;
    EXPECT_LT(runaway.Seconds, 30.0);
    // No memory beyond what the child inherits: a small file may still fit in the heap the child
    // inherited (the pixels now come back without a shared buffer), otherwise it fails cleanly.
    TLoadLimits limits;
    limits.MemoryBaseBytes = 0;
    limits.MemoryBytesPerPixel = 0;
    const TLoaded starved =
        LoadFile(TestDataPath("tricky/png_rgb8_65535x1.png"), TLoadPath::lpFreeImage, limits);
    if (!starved.Ok) {
        ExpectCleanFailure(starved, "no memory");
        EXPECT_TRUE(starved.Status.Code == TFileErrorCode::feOutOfMemory ||
                    starved.Status.Code == TFileErrorCode::feCorrupt ||
                    starved.Status.Code == TFileErrorCode::feCrashed)
            << starved.Status.Message;
    } else {
        EXPECT_EQ(starved.Image.Width(), 65535);
    }
    // The parent is unaffected.
    EXPECT_TRUE(LoadFile(TestDataPath("tricky/png_rgb8_65535x1.png"), TLoadPath::lpFreeImage).Ok);
#endif
}

// ---------------------------------------------------------------------------------------------
// Saving

TBmpHdr NoisyImage(int width, int height)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    std::uint32_t state = 12345;
    for (TRawHdr& row : image.Pixels)
        for (TColorHdr& p : row) {
            state = state * 1664525u + 1013904223u;
            p = TColorHdr{static_cast<float>(state >> 24) / 255.0f,
                          static_cast<float>((state >> 16) & 0xFF) / 255.0f,
                          static_cast<float>((state >> 8) & 0xFF) / 64.0f, 0.5f};
        }
    return image;
}

struct TWriter {
    const char* Extension;
    bool (*Save)(const std::string&, const TBmpHdr*, const TImageInfo&);
};

bool SaveThroughDispatcher(const std::string& name, const TBmpHdr* image, const TImageInfo& info)
{
    return SaveImageFile(name, *SaveFormatFromFileName(name), image, info);
}

const TWriter Writers[] = {
    {".png", SaveAsPng},  {".tif", SaveAsTiff},
    {".jpg", SaveAsJpeg}, {".jpg", SaveAsJpegPlatform},
    {".hdr", SaveAsHdr},  {".exr", SaveAsExr},
    {".bmp", SaveAsBmp},  {".bmp", SaveThroughDispatcher},
};

TEST(SaveImageFile, FailsIntoAMissingFolderWithoutCreatingAnything)
{
    const TTempDir dir;
    const TBmpHdr image = NoisyImage(8, 8);
    TImageInfo info;
    info.Transparent = true;
    for (const TWriter& w : Writers) {
        const std::string name = dir.File(std::string("missing/out") + w.Extension);
        EXPECT_FALSE(w.Save(name, &image, info)) << w.Extension;
        EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feWriteFailed) << w.Extension;
        EXPECT_FALSE(LastFileStatus().Message.empty()) << w.Extension;
    }
    EXPECT_TRUE(FolderContents(dir.Path()).empty());
}

TEST(SaveImageFile, FailedSaveKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    const TTempDir dir;
    const TBmpHdr image = NoisyImage(300, 200);
    const TBmpHdr empty;
    TImageInfo info;
    info.Transparent = true;
    info.ExrFlags = EXR_FLOAT;
    const std::vector<std::uint8_t> old{'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};
    for (const TWriter& w : Writers) {
        const std::string name = dir.File(std::string("target") + w.Extension);
        WriteBytes(name, old);
        // Nothing to save: refused before any file is made.
        EXPECT_FALSE(w.Save(name, &empty, info)) << w.Extension;
        EXPECT_FALSE(LastFileStatus().Message.empty()) << w.Extension;
        EXPECT_FALSE(w.Save(name, nullptr, info)) << w.Extension;
        EXPECT_EQ(ReadBytes(name), old) << w.Extension;
        // The writer fails half way: a file size limit makes the disk "full" after 2 KB. Run
        // in a child so that the limit never reaches this process.
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            rlimit limit{2048, 2048};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(w.Save(name, &image, info) ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << w.Extension << " child died";
        EXPECT_EQ(WEXITSTATUS(status), 3) << w.Extension << ": the save claimed success";
        EXPECT_EQ(ReadBytes(name), old) << w.Extension;
        EXPECT_EQ(FolderContents(dir.Path()),
                  std::set<std::string>{"target" + std::string(w.Extension)})
            << w.Extension;
        // A target that is a folder cannot be replaced; the folder stays as it was.
        const std::string folder = dir.File(std::string("folder") + w.Extension);
        std::filesystem::create_directory(folder);
        EXPECT_FALSE(w.Save(folder, &image, info)) << w.Extension;
        EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feWriteFailed) << w.Extension;
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << w.Extension;
        EXPECT_EQ(FolderContents(dir.Path()).size(), 2u) << w.Extension;
        // A good save replaces the old file and leaves nothing else behind.
        ASSERT_TRUE(w.Save(name, &image, info)) << w.Extension << ": " << LastFileStatus().Message;
        EXPECT_NE(ReadBytes(name), old) << w.Extension;
        EXPECT_EQ(FolderContents(dir.Path()).size(), 2u) << w.Extension;
        std::filesystem::remove(name);
        std::filesystem::remove(folder);
    }
}

TEST(SaveImageFile, KeepsThePermissionsOfTheFileItReplaces)
{
    const TTempDir dir;
    const TBmpHdr image = NoisyImage(4, 4);
    const std::string name = dir.File("kept.png");
    WriteBytes(name, {1, 2, 3});
    std::filesystem::permissions(name, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    ASSERT_TRUE(SaveAsPng(name, &image, TImageInfo{}));
    EXPECT_EQ(std::filesystem::status(name).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
}

}  // namespace
}  // namespace lumivex
