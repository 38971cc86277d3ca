#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "TestData.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/ImageFile.h"
#include "io/IsolatedLoad.h"

namespace lumivex {
namespace {

using test::TestDataPath;
using test::TTempDir;

struct TProgramRun {
    int Code = -1;
    std::string Err;
    double Seconds = 0.0;
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The installed program, as a script would run it; stdout is discarded.
TProgramRun RunProgram(const std::string& arguments, const TTempDir& dir)
{
    const std::string err = dir.File("err.txt");
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(
        ("'" + std::string(LUMIVEX_CLI_PATH) + "' " + arguments + " >/dev/null 2>'" + err + "'")
            .c_str());
    TProgramRun r;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Err = ReadText(err);
    return r;
}

// Files of the corpus that decode, padded, by design (libjpeg fills a cut scan with grey).
const std::set<std::string> LoadsPadded = {"truncated_half.jpg"};

TEST(HostileFiles, InfoRefusesEveryBadFileWithOneLineNamingItAndTheReason)
{
    const TTempDir dir;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath("bad"))) {
        const std::string name = entry.path().string();
        const bool padded = LoadsPadded.contains(entry.path().filename().string());
        ++count;
        for (const char* options : {"", "--no-freeimage "}) {
            const TProgramRun r = RunProgram(std::string(options) + "info '" + name + "'", dir);
            const std::string what = options + name;
            EXPECT_LT(r.Seconds, 30.0) << what;
            if (padded && r.Code == 0)
                continue;
            EXPECT_EQ(r.Code, 1) << what << ": " << r.Err;
            // "lumivex-cli: FILE: reason", one line and nothing else.
            const std::string prefix = "lumivex-cli: " + name + ": ";
            EXPECT_TRUE(r.Err.starts_with(prefix)) << what << ": " << r.Err;
            EXPECT_GT(r.Err.size(), prefix.size() + 2) << what << ": no reason given";
            EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << what << ": " << r.Err;
        }
    }
    EXPECT_GE(count, 49);
}

TEST(HostileFiles, EveryExtensionWeReadHasZeroByteRandomAndMisnamedFiles)
{
    for (const char* ext : {"bmp", "exr", "gif", "hdr", "jpg", "pfm", "png", "tif"}) {
        EXPECT_TRUE(std::filesystem::exists(TestDataPath(std::string("bad/zero_bytes.") + ext)));
        EXPECT_TRUE(std::filesystem::exists(TestDataPath(std::string("bad/random_bytes.") + ext)));
        bool misnamed = false;
        for (const auto& entry : std::filesystem::directory_iterator(TestDataPath("bad")))
            misnamed = misnamed || entry.path().filename().string().ends_with(
                                       std::string("_signature_named_as.") + ext);
        EXPECT_TRUE(misnamed) << ext;
    }
}

// ---------------------------------------------------------------------------------------------
// The decoder's limits

TEST(HostileFiles, A24MegapixelExrLoadsWellInsideTheDefaultLimitsOnABusyMachine)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "timings under a sanitizer say nothing about the limits";
#else
    // 6000 x 4000 float RGB with a gradient and noise, ZIP-compressed as a camera merge would be.
    const TTempDir dir;
    const std::string name = dir.File("big.exr");
    {
        TBmpHdr image;
        ASSERT_TRUE(image.SetSize(6000, 4000, clNoneHdr));
        std::uint32_t state = 1;
        for (std::size_t y = 0; y < image.Pixels.size(); ++y)
            for (std::size_t x = 0; x < image.Pixels[y].size(); ++x) {
                state = state * 1664525u + 1013904223u;
                const float v = static_cast<float>(x + y) / 2000.0f;
                image.Pixels[y][x] =
                    TColorHdr{v, v * 0.5f, static_cast<float>(state >> 8) / 1e6f, 1.0f};
            }
        TImageInfo info;
        info.Gamma = 1.0f;
        info.ExrFlags = EXR_FLOAT;
        ASSERT_TRUE(SaveAsExr(name, &image, info)) << LastFileStatus().Message;
    }
    const TLoadLimits limits;
    const double budget = limits.PixelBaseSeconds + limits.PixelSecondsPerMegapixel * 24.0;
    auto timedLoad = [&](TBmpHdr& image) {
        TImageInfo info;
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = LoadImageFile(name, &image, info, TLoadPath::lpFreeImage, limits);
        EXPECT_TRUE(loaded) << LastFileStatus().Message;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    TBmpHdr image;
    const double idle = timedLoad(image);
    // A busy loop on every core stands for the rest of a loaded machine.
    std::fflush(nullptr);
    std::vector<pid_t> hogs;
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    for (long i = 0; i < cores; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (std::chrono::steady_clock::now() < stop) {
            }
            ::_exit(0);
        }
        hogs.push_back(pid);
    }
    const double seconds = timedLoad(image);
    for (const pid_t pid : hogs) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    const bool ok = !image.IsEmpty();
    ASSERT_TRUE(ok) << LastFileStatus().Message;
    EXPECT_EQ(image.Width(), 6000);
    EXPECT_EQ(image.Height(), 4000);
    // "Well inside": at most a third of the time budget with every core busy elsewhere.
    EXPECT_LT(seconds, budget / 3.0) << "took " << seconds << " s of " << budget << " s";
    std::printf("24-megapixel EXR: %.2f s idle, %.2f s with every core busy, budget %.0f s\n", idle,
                seconds, budget);
#endif
}

// ---------------------------------------------------------------------------------------------
// Saving

std::set<std::string> FolderContents(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

constexpr TSaveFormat Formats[] = {TSaveFormat::sfBmp,  TSaveFormat::sfJpeg, TSaveFormat::sfPng,
                                   TSaveFormat::sfTiff, TSaveFormat::sfHdr,  TSaveFormat::sfExr};
constexpr const char* Extensions[] = {".bmp", ".jpg", ".png", ".tif", ".hdr", ".exr"};

TBmpHdr Picture()
{
    TBmpHdr image;
    image.SetSize(300, 200, clNoneHdr);  // noise: no writer gets it below the 1 KB limit
    std::uint32_t state = 99;
    for (TRawHdr& row : image.Pixels)
        for (TColorHdr& p : row) {
            state = state * 1664525u + 1013904223u;
            p = TColorHdr{static_cast<float>(state >> 24) / 255.0f,
                          static_cast<float>((state >> 16) & 0xFF) / 255.0f,
                          static_cast<float>((state >> 8) & 0xFF) / 64.0f, 0.75f};
        }
    return image;
}

// Runs `save` in a child process, after `prepare` there, and answers its result: limits and
// identities set for the test never reach this process.
bool SaveInChild(const std::function<void()>& prepare, const std::function<bool()>& save)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        prepare();
        ::_exit(save() ? 0 : 3);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the saving child died";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(HostileFiles, AFailingSaveKeepsTheOldFileAndLeavesNoTemporaryFileInEveryFormat)
{
    const TBmpHdr image = Picture();
    TImageInfo info;
    info.Transparent = true;
    const std::string old = "the old file";
    for (std::size_t f = 0; f < std::size(Formats); ++f) {
        const char* ext = Extensions[f];
        const TSaveFormat format = Formats[f];
        const TTempDir dir;
        const std::string target = dir.File(std::string("photo") + ext);
        std::ofstream(target) << old;
        auto save = [&] { return SaveImageFile(target, format, &image, info); };
        // A file-size limit: the disk is "full" after 1 KB.
        EXPECT_FALSE(SaveInChild(
            [] {
                const rlimit limit{1024, 1024};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                std::signal(SIGXFSZ, SIG_IGN);
            },
            save))
            << ext;
        EXPECT_EQ(ReadText(target), old) << ext;
        EXPECT_EQ(FolderContents(dir.Path()), std::set<std::string>{"photo" + std::string(ext)})
            << ext;
        // A folder the user may not write to. Root may write anywhere, so the child gives up
        // root first.
        std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all |
                                                     std::filesystem::perms::group_exec |
                                                     std::filesystem::perms::others_exec);
        const std::filesystem::path locked = dir.Path() / "locked";
        std::filesystem::create_directory(locked);
        const std::string lockedTarget = (locked / (std::string("photo") + ext)).string();
        std::ofstream(lockedTarget) << old;
        ::chmod(locked.c_str(), 0555);
        EXPECT_FALSE(SaveInChild(
            [] {
                if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                    ::_exit(4);
            },
            [&] { return SaveImageFile(lockedTarget, format, &image, info); }))
            << ext;
        ::chmod(locked.c_str(), 0755);
        EXPECT_EQ(ReadText(lockedTarget), old) << ext;
        EXPECT_EQ(FolderContents(locked), std::set<std::string>{"photo" + std::string(ext)}) << ext;
        // The target is a folder.
        const std::string folder = dir.File(std::string("folder") + ext);
        std::filesystem::create_directory(folder);
        EXPECT_FALSE(SaveImageFile(folder, format, &image, info)) << ext;
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << ext;
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << ext;
        // And with nothing in the way the save goes through, leaving only its file.
        EXPECT_TRUE(save()) << ext << ": " << LastFileStatus().Message;
        EXPECT_NE(ReadText(target), old) << ext;
        EXPECT_EQ(FolderContents(dir.Path()),
                  (std::set<std::string>{"photo" + std::string(ext), "locked",
                                         "folder" + std::string(ext)}))
            << ext;
    }
}

TEST(HostileFiles, SavingOverTheOpenFileKeepsTheDocument)
{
    const TTempDir dir;
    const std::string name = dir.File("open.png");
    std::filesystem::copy_file(TestDataPath("ldr/png_rgba8_partial_alpha_256x128.png"), name);
    TBmpHdr document;
    TImageInfo info;
    ASSERT_TRUE(LoadImageFile(name, &document, info));
    TBmpHdr before;
    before.Assign(&document);
    // A failing save over the file the document came from, then a good one.
    EXPECT_FALSE(SaveInChild(
        [] {
            const rlimit limit{512, 512};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_IGN);
        },
        [&] { return SaveImageFile(name, TSaveFormat::sfPng, &document, info); }));
    ASSERT_TRUE(SaveImageFile(name, TSaveFormat::sfPng, &document, info));
    TBmpHdr again;
    ASSERT_TRUE(LoadImageFile(name, &again, info));
    for (std::size_t y = 0; y < before.Pixels.size(); ++y)
        for (std::size_t x = 0; x < before.Pixels[y].size(); ++x) {
            ASSERT_EQ(document.Pixels[y][x].B, before.Pixels[y][x].B);
            ASSERT_EQ(again.Pixels[y][x].B, before.Pixels[y][x].B);  // 8-bit data round trips
            ASSERT_EQ(again.Pixels[y][x].A, before.Pixels[y][x].A);
        }
    EXPECT_EQ(FolderContents(dir.Path()), std::set<std::string>{"open.png"});
}

}  // namespace
}  // namespace lumivex
