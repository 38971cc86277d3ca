#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "adjust/ToneCurve.h"
#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/FreeImageApi.h"
#include "io/ImageFile.h"
#include "io/IsolatedLoad.h"
#include "io/PlatformHdr.h"

namespace lumivex {
namespace {

using test::SameBits;
using test::SmoothImage;
using test::TestDataPath;
using test::TTempDir;

constexpr const char* FreeImageLibrary = "libfreeimage.so.3";
constexpr float Inf = std::numeric_limits<float>::infinity();

// Hides FreeImage for one scope; restored also when a check fails early.
class TWithoutFreeImage {
public:
    TWithoutFreeImage() { SetFreeImageLibraryName(""); }
    ~TWithoutFreeImage() { SetFreeImageLibraryName(FreeImageLibrary); }
    TWithoutFreeImage(const TWithoutFreeImage&) = delete;
    TWithoutFreeImage& operator=(const TWithoutFreeImage&) = delete;
};

struct TLoaded {
    bool Ok = false;
    TBmpHdr Image;
    TImageInfo Info;
    TFileStatus Status;
};

TLoaded LoadFile(const std::string& path, TLoadPath loadPath = TLoadPath::lpFreeImage,
                 bool isolate = true)
{
    TLoaded r;
    TLoadLimits limits;
    limits.Isolate = isolate;
    r.Ok = LoadImageFile(path, &r.Image, r.Info, loadPath, limits);
    r.Status = LastFileStatus();
    return r;
}

TLoaded LoadData(const std::string& relative, TLoadPath loadPath = TLoadPath::lpFreeImage,
                 bool isolate = true)
{
    return LoadFile(TestDataPath(relative), loadPath, isolate);
}

// Equal values, or NaN on both sides.
bool SameValue(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void ExpectSameInfo(const TImageInfo& a, const TImageInfo& b, const std::string& what)
{
    EXPECT_EQ(a.Transparent, b.Transparent) << what;
    EXPECT_EQ(a.DpiX, b.DpiX) << what;
    EXPECT_EQ(a.DpiY, b.DpiY) << what;
    EXPECT_EQ(a.Kind, b.Kind) << what;
    EXPECT_EQ(a.Gamma, b.Gamma) << what;
}

void ExpectPixel(const TColorHdr& actual, const TColorHdr& expected, const std::string& where)
{
    EXPECT_TRUE(SameValue(actual.B, expected.B))
        << where << " B " << actual.B << " vs " << expected.B;
    EXPECT_TRUE(SameValue(actual.G, expected.G))
        << where << " G " << actual.G << " vs " << expected.G;
    EXPECT_TRUE(SameValue(actual.R, expected.R))
        << where << " R " << actual.R << " vs " << expected.R;
    EXPECT_TRUE(SameValue(actual.A, expected.A))
        << where << " A " << actual.A << " vs " << expected.A;
}

std::string At(const std::string& file, int x, int y)
{
    return file + " (" + std::to_string(x) + "," + std::to_string(y) + ")";
}

// B, G, R and A of every pixel; alpha too, because several checks are about it.
float MaxDifference(const TBmpHdr& a, const TBmpHdr& b, bool withAlpha)
{
    float worst = 0.0f;
    for (std::size_t y = 0; y < a.Pixels.size(); ++y)
        for (std::size_t x = 0; x < a.Pixels[y].size(); ++x) {
            const TColorHdr& p = a.Pixels[y][x];
            const TColorHdr& q = b.Pixels[y][x];
            worst = std::max({worst, std::fabs(p.B - q.B), std::fabs(p.G - q.G),
                              std::fabs(p.R - q.R), withAlpha ? std::fabs(p.A - q.A) : 0.0f});
        }
    return worst;
}

// ---------------------------------------------------------------------------------------------
// The probe files: 5 x 3 pixels whose stored values are listed in probe/probe_values.txt.

struct TProbePixel {
    int X = 0;
    int Y = 0;
    int R8 = 0, G8 = 0, B8 = 0, A8 = 0;
    int R16 = 0, G16 = 0, B16 = 0, A16 = 0;
    float Rf = 0, Gf = 0, Bf = 0;
};

std::vector<TProbePixel> ProbeValues()
{
    std::ifstream in(TestDataPath("probe/probe_values.txt"));
    std::vector<TProbePixel> values;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::replace(line.begin(), line.end(), '|', ' ');
        std::istringstream s(line);
        TProbePixel p;
        s >> p.X >> p.Y >> p.R8 >> p.G8 >> p.B8 >> p.A8 >> p.R16 >> p.G16 >> p.B16 >> p.A16 >>
            p.Rf >> p.Gf >> p.Bf;
        if (!s)
            ADD_FAILURE() << "unreadable probe line: " << line;
        else
            values.push_back(p);
    }
    EXPECT_EQ(values.size(), 15u);
    return values;
}

// The RGB-only PNG and TIFF probes were cut from the RGBA probe with oiiotool, which associates
// alpha on reading: they hold floor(colour x alpha / max) of the table, not its colours (checked
// against the stored bytes by an independent script).
enum class TProbeLayout {
    Rgb8,
    Rgba8,
    Rgb8Associated,
    Rgb16,
    Rgba16,
    Rgb16Associated,
    Float,
    FloatRgba
};

TColorHdr ExpectedProbe(const TProbePixel& p, TProbeLayout layout)
{
    switch (layout) {
        case TProbeLayout::Rgb8:
            return {p.B8 / 255.0f, p.G8 / 255.0f, p.R8 / 255.0f, 1.0f};
        case TProbeLayout::Rgba8:
            return {p.B8 / 255.0f, p.G8 / 255.0f, p.R8 / 255.0f, p.A8 / 255.0f};
        case TProbeLayout::Rgb8Associated:
            return {(p.B8 * p.A8 / 255) / 255.0f, (p.G8 * p.A8 / 255) / 255.0f,
                    (p.R8 * p.A8 / 255) / 255.0f, 1.0f};
        case TProbeLayout::Rgb16:
            return {p.B16 / 65535.0f, p.G16 / 65535.0f, p.R16 / 65535.0f, 1.0f};
        case TProbeLayout::Rgb16Associated: {
            const auto associate = [&](int c) {
                return static_cast<float>(std::int64_t{c} * p.A16 / 65535) / 65535.0f;
            };
            return {associate(p.B16), associate(p.G16), associate(p.R16), 1.0f};
        }
        case TProbeLayout::Rgba16:
            return {p.B16 / 65535.0f, p.G16 / 65535.0f, p.R16 / 65535.0f, p.A16 / 65535.0f};
        case TProbeLayout::Float:
            return {p.Bf, p.Gf, p.Rf, 1.0f};
        case TProbeLayout::FloatRgba:
            return {p.Bf, p.Gf, p.Rf, p.A8 / 255.0f};
    }
    return {};
}

struct TProbeFile {
    const char* Name;
    TProbeLayout Layout;
    TImageKind Kind;
    bool Transparent;
    float Dpi;  // 0: the file's resolution is not documented
};

// Every probe file FreeImage reads (the 32-bit BMP is refused, see below). PNG and BMP probes
// carry 2835 dots per metre; FreeImage reports 2835 for EXR and HDR, which store no resolution.
const TProbeFile ProbeFiles[] = {
    {"probe/probe_rgb8.png", TProbeLayout::Rgb8Associated, TImageKind::ikStandard, false, 72.0f},
    {"probe/probe_rgb8.tif", TProbeLayout::Rgb8Associated, TImageKind::ikStandard, false, 0.0f},
    {"probe/probe_rgb8.bmp", TProbeLayout::Rgb8, TImageKind::ikStandard, false, 72.0f},
    {"probe/probe_rgba8.png", TProbeLayout::Rgba8, TImageKind::ikStandard, true, 72.0f},
    {"probe/probe_rgba8.tif", TProbeLayout::Rgba8, TImageKind::ikStandard, true, 0.0f},
    {"probe/probe_rgb16.png", TProbeLayout::Rgb16Associated, TImageKind::ikHighPrecision, false,
     0.0f},
    {"probe/probe_rgb16.tif", TProbeLayout::Rgb16Associated, TImageKind::ikHighPrecision, false,
     0.0f},
    {"probe/probe_rgba16.png", TProbeLayout::Rgba16, TImageKind::ikHighPrecision, true, 0.0f},
    {"probe/probe_rgba16.tif", TProbeLayout::Rgba16, TImageKind::ikHighPrecision, true, 0.0f},
    {"probe/probe_float.exr", TProbeLayout::Float, TImageKind::ikHighRange, false, 72.0f},
    {"probe/probe_float.hdr", TProbeLayout::Float, TImageKind::ikHighRange, false, 72.0f},
    {"probe/probe_float.tif", TProbeLayout::Float, TImageKind::ikHighRange, false, 0.0f},
    {"probe/probe_float.pfm", TProbeLayout::Float, TImageKind::ikHighRange, false, 0.0f},
    {"probe/probe_half.exr", TProbeLayout::Float, TImageKind::ikHighRange, false, 72.0f},
    {"probe/probe_float_rgba.exr", TProbeLayout::FloatRgba, TImageKind::ikHighRange, true, 72.0f},
};

void ExpectProbePixels(const TLoaded& loaded, const std::string& name, TProbeLayout layout,
                       bool opaque)
{
    ASSERT_EQ(loaded.Image.Width(), 5) << name;
    ASSERT_EQ(loaded.Image.Height(), 3) << name;
    for (const TProbePixel& p : ProbeValues()) {
        TColorHdr expected = ExpectedProbe(p, layout);
        if (opaque)
            expected.A = 1.0f;
        const TColorHdr& actual =
            loaded.Image.Pixels[static_cast<std::size_t>(p.Y)][static_cast<std::size_t>(p.X)];
        if (layout == TProbeLayout::FloatRgba) {
            // The file's writer made its float alpha from the 8-bit one, possibly as
            // a x (1/255), which may differ from a / 255 by one float step.
            EXPECT_NEAR(actual.A, expected.A, 1e-7f) << At(name, p.X, p.Y);
            expected.A = actual.A;
        }
        ExpectPixel(actual, expected, At(name, p.X, p.Y));
    }
}

TEST(LoadImageFile, ReadsEveryProbeFileWithRowZeroOnTop)
{
    for (const TProbeFile& f : ProbeFiles) {
        const TLoaded loaded = LoadData(f.Name);
        ASSERT_TRUE(loaded.Ok) << f.Name << ": " << loaded.Status.Message;
        ExpectProbePixels(loaded, f.Name, f.Layout, false);
        EXPECT_EQ(loaded.Info.Kind, f.Kind) << f.Name;
        EXPECT_EQ(loaded.Info.Transparent, f.Transparent) << f.Name;
        if (f.Dpi != 0.0f) {
            EXPECT_EQ(loaded.Info.DpiX, f.Dpi) << f.Name;
            EXPECT_EQ(loaded.Info.DpiY, f.Dpi) << f.Name;
        }
    }
}

TEST(LoadImageFile, PlatformPathReadsBmpOpaqueAtStandardKindAnd72Dpi)
{
    // The platform path keeps no alpha, even from a 32-bit BMP that has one.
    const char* files[][2] = {{"probe/probe_rgb8.bmp", "rgb"},
                              {"probe/probe_rgba8.bmp", "rgba"},
                              {"tricky/bmp24_bottomup_5x3.bmp", "rgb"},
                              {"tricky/bmp24_topdown_5x3.bmp", "rgb"}};
    for (const auto& [name, kind] : files) {
        const TProbeLayout layout =
            std::string(kind) == "rgba" ? TProbeLayout::Rgba8 : TProbeLayout::Rgb8;
        for (const bool isolate : {true, false}) {
            const TLoaded loaded = LoadData(name, TLoadPath::lpPlatform, isolate);
            ASSERT_TRUE(loaded.Ok) << name << ": " << loaded.Status.Message;
            ExpectProbePixels(loaded, name, layout, true);
            EXPECT_FALSE(loaded.Info.Transparent) << name;
            EXPECT_EQ(loaded.Info.Kind, TImageKind::ikStandard) << name;
            EXPECT_EQ(loaded.Info.DpiX, 72.0f) << name;  // although the tricky ones say 96.02
            EXPECT_EQ(loaded.Info.DpiY, 72.0f) << name;
        }
    }
    // The same files through FreeImage: the top-down one upright, 3780 dots/m read as
    // round(2.54 x 37.80 x 50) / 50 = 4801 / 50.
    for (const char* name : {"tricky/bmp24_bottomup_5x3.bmp", "tricky/bmp24_topdown_5x3.bmp"}) {
        const TLoaded loaded = LoadData(name);
        ASSERT_TRUE(loaded.Ok) << name << ": " << loaded.Status.Message;
        ExpectProbePixels(loaded, name, TProbeLayout::Rgb8, false);
        EXPECT_FALSE(loaded.Info.Transparent) << name;
        EXPECT_EQ(loaded.Info.DpiX, 96.02f) << name;
    }
}

TEST(LoadImageFile, FallsBackToThePlatformPathWithoutFreeImage)
{
    {
        TWithoutFreeImage hidden;
        EXPECT_FALSE(IsFreeImageAvailable());
        TLoaded loaded = LoadData("probe/probe_rgba8.bmp", TLoadPath::lpAuto);
        ASSERT_TRUE(loaded.Ok) << loaded.Status.Message;
        ExpectProbePixels(loaded, "probe_rgba8.bmp without FreeImage", TProbeLayout::Rgba8, true);
        EXPECT_FALSE(loaded.Info.Transparent);
        // Asking for FreeImage explicitly fails cleanly instead.
        loaded = LoadData("probe/probe_rgb8.png", TLoadPath::lpFreeImage);
        EXPECT_FALSE(loaded.Ok);
        EXPECT_TRUE(loaded.Image.IsEmpty());
        EXPECT_FALSE(loaded.Status.Message.empty());
    }
    EXPECT_TRUE(IsFreeImageAvailable());
    const TLoaded loaded = LoadData("probe/probe_rgba8.png", TLoadPath::lpAuto);
    ASSERT_TRUE(loaded.Ok);
    ExpectProbePixels(loaded, "probe_rgba8.png with FreeImage", TProbeLayout::Rgba8, false);
    EXPECT_TRUE(loaded.Info.Transparent);
}

TEST(LoadImageFile, BmpsFreeImageRefusesLoadThroughOurReaderWithTheirAlpha)
{
    // FreeImage 3.18 answers "Invalid file format" for 32-bit BI_BITFIELDS BMPs with V4/V5
    // headers and rejects the end markers of this RLE8 encoder; the loader falls back to our
    // reader for them, keeping alpha, in the child and in process alike.
    for (const bool isolate : {true, false}) {
        TLoadLimits limits;
        limits.Isolate = isolate;
        TBmpHdr image;
        TImageInfo info;
        ASSERT_TRUE(LoadImageFile(TestDataPath("probe/probe_rgba8.bmp"), &image, info,
                                  TLoadPath::lpFreeImage, limits));
        const TLoaded loaded{true, std::move(image), info, LastFileStatus()};
        ExpectProbePixels(loaded, "probe_rgba8.bmp through the fallback", TProbeLayout::Rgba8,
                          false);
        EXPECT_TRUE(loaded.Info.Transparent);
    }
    for (const char* name : {"ldr/bmp32_alpha_256x128.bmp", "ldr/bmp8_rle8_256x128.bmp"}) {
        const TLoaded free = LoadData(name);
        const TLoaded platform = LoadData(name, TLoadPath::lpPlatform);
        ASSERT_TRUE(free.Ok) << name;
        ASSERT_TRUE(platform.Ok) << name;
        // The platform path is opaque by definition; the colours agree.
        EXPECT_EQ(free.Image.Pixels[7][9].G, platform.Image.Pixels[7][9].G) << name;
    }
}

// ---------------------------------------------------------------------------------------------
// ldr/

struct TExpectedFile {
    const char* Name;
    int Width;
    int Height;
    TImageKind Kind;
    int Transparent;  // -1: not documented
    float Dpi;        // 0: not documented
    bool Grey;
    bool FreeImageReads = true;
};

constexpr TImageKind Std = TImageKind::ikStandard;
constexpr TImageKind Precise = TImageKind::ikHighPrecision;
constexpr TImageKind Range = TImageKind::ikHighRange;
// For files whose range is not documented: the kind must follow from the loaded values.
constexpr auto KindFromValues = static_cast<TImageKind>(0xFF);

const TExpectedFile LdrFiles[] = {
    {"ldr/bmp24_257x129.bmp", 257, 129, Std, 0, 0.0f, false},
    {"ldr/bmp24_3x5.bmp", 3, 5, Std, 0, 0.0f, false},
    {"ldr/bmp32_alpha_256x128.bmp", 256, 128, Std, 1, 0.0f, false},
    {"ldr/bmp8_palette_256x128.bmp", 256, 128, Std, 0, 0.0f, false},
    {"ldr/bmp8_rle8_256x128.bmp", 256, 128, Std, 0, 0.0f, false},
    {"ldr/gif_pal_256x128.gif", 256, 128, Std, -1, 0.0f, false},
    {"ldr/gif_transparent_256x128.gif", 256, 128, Std, 1, 0.0f, false},
    {"ldr/jpeg_300dpi_257x129.jpg", 257, 129, Std, 0, 300.0f, false},
    {"ldr/jpeg_444_40dpcm_256x128.jpg", 256, 128, Std, 0, 101.6f, false},  // 40 dots/cm
    {"ldr/jpeg_baseline_q90_256x128.jpg", 256, 128, Std, 0, 72.0f, false},
    {"ldr/jpeg_grey_256x128.jpg", 256, 128, Std, 0, 72.0f, true},
    {"ldr/jpeg_progressive_256x128.jpg", 256, 128, Std, 0, 72.0f, false},
    {"ldr/png_grey1_256x128.png", 256, 128, Std, 0, 0.0f, true},
    {"ldr/png_grey8_256x128.png", 256, 128, Std, 0, 0.0f, true},
    {"ldr/png_greyalpha8_256x128.png", 256, 128, Std, 1, 0.0f, true},
    {"ldr/png_pal8_64colours_256x128.png", 256, 128, Std, 0, 0.0f, false},
    {"ldr/png_pal8_trns_256x128.png", 256, 128, Std, 1, 0.0f, false},
    {"ldr/png_rgb16_256x128.png", 256, 128, Precise, 0, 0.0f, false},
    {"ldr/png_rgb8_1x1.png", 1, 1, Std, 0, 0.0f, false},
    {"ldr/png_rgb8_257x129.png", 257, 129, Std, 0, 0.0f, false},
    {"ldr/png_rgb8_300dpi_256x128.png", 256, 128, Std, 0, 300.0f, false},  // 11811 dots/m
    {"ldr/png_rgb8_3x5.png", 3, 5, Std, 0, 0.0f, false},
    {"ldr/png_rgba16_256x128.png", 256, 128, Precise, 1, 0.0f, false},
    {"ldr/png_rgba8_partial_alpha_256x128.png", 256, 128, Std, 1, 0.0f, false},
    {"ldr/tif_grey8_300dpi_256x128.tif", 256, 128, Std, 0, 300.0f, true},
    {"ldr/tif_rgb16_300dpi_257x129.tif", 257, 129, Precise, 0, 300.0f, false},
    {"ldr/tif_rgb8_300dpi_257x129.tif", 257, 129, Std, 0, 300.0f, false},
    {"ldr/tif_rgba16_300dpi_256x128.tif", 256, 128, Precise, 1, 300.0f, false},
    {"ldr/tif_rgba8_300dpi_256x128.tif", 256, 128, Std, 1, 300.0f, false},
};

void ExpectAsListed(const TLoaded& loaded, const TExpectedFile& f)
{
    ASSERT_TRUE(loaded.Ok) << f.Name << ": " << loaded.Status.Message;
    EXPECT_EQ(loaded.Image.Width(), f.Width) << f.Name;
    EXPECT_EQ(loaded.Image.Height(), f.Height) << f.Name;
    EXPECT_EQ(loaded.Info.Kind, f.Kind) << f.Name;
    if (f.Transparent >= 0) {
        EXPECT_EQ(loaded.Info.Transparent, f.Transparent == 1) << f.Name;
    }
    if (f.Dpi != 0.0f) {
        EXPECT_EQ(loaded.Info.DpiX, f.Dpi) << f.Name;
        EXPECT_EQ(loaded.Info.DpiY, f.Dpi) << f.Name;
    }
    bool allGrey = true;
    bool opaque = true;
    bool inRange = true;
    for (const TRawHdr& row : loaded.Image.Pixels)
        for (const TColorHdr& p : row) {
            allGrey = allGrey && p.B == p.G && p.G == p.R;
            opaque = opaque && p.A == 1.0f;
            inRange = inRange && p.B >= 0.0f && p.B <= 1.0f && p.G >= 0.0f && p.G <= 1.0f &&
                      p.R >= 0.0f && p.R <= 1.0f && p.A >= 0.0f && p.A <= 1.0f;
        }
    EXPECT_TRUE(inRange) << f.Name;
    if (f.Grey) {
        EXPECT_TRUE(allGrey) << f.Name;
    }
    if (f.Transparent == 0) {
        EXPECT_TRUE(opaque) << f.Name;
    }
}

TEST(LoadImageFile, ReadsEveryLdrFileWithItsSizeKindTransparencyAndDpi)
{
    for (const TExpectedFile& f : LdrFiles) {
        if (f.FreeImageReads)
            ExpectAsListed(LoadData(f.Name), f);
    }
}

TEST(LoadImageFile, ReadsLdrBmpAndJpegThroughThePlatformPath)
{
    for (const TExpectedFile& f : LdrFiles) {
        const std::string name = f.Name;
        const bool bmp = name.ends_with(".bmp");
        if (!bmp && !name.ends_with(".jpg"))
            continue;
        const TLoaded platform = LoadData(f.Name, TLoadPath::lpPlatform);
        TExpectedFile opaque = f;
        opaque.Kind = Std;
        opaque.Transparent = 0;
        opaque.Dpi = 72.0f;
        ExpectAsListed(platform, opaque);
        if (!platform.Ok)
            continue;
        if (!f.FreeImageReads)
            continue;
        TLoaded free = LoadData(f.Name);
        ASSERT_TRUE(free.Ok) << f.Name;
        // The platform path is opaque by definition; compare colours only.
        for (TRawHdr& row : free.Image.Pixels)
            for (TColorHdr& p : row)
                p.A = 1.0f;
        // Both readers decode JPEG with libjpeg's accurate IDCT and smooth upsampling, so they
        // agree bit for bit, like the two BMP readers.
        EXPECT_TRUE(SameBits(platform.Image, free.Image)) << f.Name;
    }
    // CMYK loads as RGB on both paths (or fails cleanly); the two CMYK-to-RGB conversions may
    // round differently by one level.
    TLoaded cmyk[2];
    for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
        TLoaded& loaded = cmyk[path == TLoadPath::lpPlatform ? 1 : 0];
        loaded = LoadData("ldr/jpeg_cmyk_256x128.jpg", path);
        if (loaded.Ok) {
            EXPECT_EQ(loaded.Image.Width(), 256);
            EXPECT_EQ(loaded.Image.Height(), 128);
        } else {
            EXPECT_TRUE(loaded.Image.IsEmpty());
            EXPECT_FALSE(loaded.Status.Message.empty());
        }
    }
    if (cmyk[0].Ok && cmyk[1].Ok) {
        EXPECT_LE(MaxDifference(cmyk[0].Image, cmyk[1].Image, false), 1.0f / 255.0f + 1e-6f);
    }
}

TEST(LoadImageFile, ReadsAlphaFromFourthByteAndBinaryTransparency)
{
    // Alpha ramps of the documented files: the stored alpha of column x is x (of 255) in
    // every row, 16-bit ones x * 257 (of 65535).
    for (const char* name :
         {"ldr/png_rgba8_partial_alpha_256x128.png", "ldr/tif_rgba8_300dpi_256x128.tif",
          "ldr/png_rgba16_256x128.png", "ldr/tif_rgba16_300dpi_256x128.tif"}) {
        const TLoaded loaded = LoadData(name);
        ASSERT_TRUE(loaded.Ok) << name << ": " << loaded.Status.Message;
        ASSERT_EQ(loaded.Image.Width(), 256) << name;
        for (std::size_t y = 0; y < loaded.Image.Pixels.size(); ++y)
            for (std::size_t x = 0; x < 256; ++x)
                ASSERT_EQ(loaded.Image.Pixels[y][x].A, static_cast<float>(x) / 255.0f)
                    << At(name, static_cast<int>(x), static_cast<int>(y));
    }
    // The ramp left (transparent) to right (opaque) of the other RGBA files.
    for (const char* name : {"ldr/png_greyalpha8_256x128.png"}) {
        const TLoaded loaded = LoadData(name);
        ASSERT_TRUE(loaded.Ok) << name;
        EXPECT_TRUE(loaded.Info.Transparent) << name;
        for (const TRawHdr& row : loaded.Image.Pixels) {
            EXPECT_EQ(row.front().A, 0.0f) << name;
            EXPECT_EQ(row.back().A, 1.0f) << name;
            for (std::size_t x = 1; x < row.size(); ++x)
                ASSERT_LE(row[x - 1].A, row[x].A) << name << " x " << x;
        }
    }
    // Palette images with a transparent index: 32-bit path, alpha 0 or 1, left half clear.
    for (const char* name : {"ldr/png_pal8_trns_256x128.png", "ldr/gif_transparent_256x128.gif"}) {
        const TLoaded loaded = LoadData(name);
        ASSERT_TRUE(loaded.Ok) << name;
        EXPECT_TRUE(loaded.Info.Transparent) << name;
        for (const TRawHdr& row : loaded.Image.Pixels) {
            for (const TColorHdr& p : row)
                ASSERT_TRUE(p.A == 0.0f || p.A == 1.0f) << name << " A " << p.A;
            EXPECT_EQ(row.front().A, 0.0f) << name;
            EXPECT_EQ(row.back().A, 1.0f) << name;
        }
    }
    // A palette without transparency and a 24-bit BMP are opaque and not transparent.
    for (const char* name : {"ldr/png_pal8_64colours_256x128.png", "ldr/bmp24_3x5.bmp"}) {
        const TLoaded loaded = LoadData(name);
        ASSERT_TRUE(loaded.Ok) << name;
        EXPECT_FALSE(loaded.Info.Transparent) << name;
        for (const TRawHdr& row : loaded.Image.Pixels)
            for (const TColorHdr& p : row)
                ASSERT_EQ(p.A, 1.0f) << name;
    }
    // A bilevel PNG is black and white only.
    const TLoaded bilevel = LoadData("ldr/png_grey1_256x128.png");
    ASSERT_TRUE(bilevel.Ok);
    for (const TRawHdr& row : bilevel.Image.Pixels)
        for (const TColorHdr& p : row)
            ASSERT_TRUE(p.G == 0.0f || p.G == 1.0f) << p.G;
}

TEST(LoadImageFile, FilesMadeFromTheSameSourceGiveTheSamePixels)
{
    // Pairs whose stored samples are identical (checked byte by byte when the data was made),
    // and copies under another name.
    const char* pairs[][2] = {
        {"ldr/png_rgb8_257x129.png", "ldr/bmp24_257x129.bmp"},
        {"ldr/png_rgb8_257x129.png", "ldr/tif_rgb8_300dpi_257x129.tif"},
        {"ldr/png_grey8_256x128.png", "ldr/tif_grey8_300dpi_256x128.tif"},
        {"ldr/png_rgba16_256x128.png", "ldr/tif_rgba16_300dpi_256x128.tif"},
        {"ldr/bmp24_3x5.bmp", "tricky/bmp_named_as.jpg"},
        {"ldr/png_rgb8_3x5.png", "tricky/png_named_as.jpg"},
        {"ldr/jpeg_baseline_q90_256x128.jpg", "tricky/jpeg_named_as.png"},
        {"hdr/city_grey_128x64_float.tif", "hdr/city_grey_128x64_float_Y.exr"},
        {"hdr/synthetic_inrange_32x32.hdr", "hdr/synthetic_inrange_32x32_float.exr"},
        {"hdr/synthetic_inrange_32x32.hdr", "hdr/synthetic_inrange_32x32_float.tif"},
        {"hdr/synthetic_ramp_signed_64x16.pfm", "hdr/synthetic_ramp_signed_64x16_float.exr"},
        {"hdr/synthetic_ramp_signed_64x16.pfm", "hdr/synthetic_ramp_signed_64x16_float.tif"},
        {"probe/probe_float.pfm", "probe/probe_float.exr"},
    };
    for (const auto& [first, second] : pairs) {
        const TLoaded a = LoadData(first);
        const TLoaded b = LoadData(second);
        ASSERT_TRUE(a.Ok && b.Ok) << first << " / " << second;
        EXPECT_TRUE(SameBits(a.Image, b.Image)) << first << " / " << second;
    }
    // Palette BMP, plain and RLE8 (FreeImage refuses the latter): through our reader.
    const TLoaded palette = LoadData("ldr/bmp8_palette_256x128.bmp", TLoadPath::lpPlatform);
    const TLoaded rle = LoadData("ldr/bmp8_rle8_256x128.bmp", TLoadPath::lpPlatform);
    ASSERT_TRUE(palette.Ok && rle.Ok) << rle.Status.Message;
    EXPECT_TRUE(SameBits(palette.Image, rle.Image));
}

// ---------------------------------------------------------------------------------------------
// hdr/

const TExpectedFile HdrFiles[] = {
    {"hdr/city_320x160_rle.hdr", 320, 160, Range, 0, 72.0f, false},
    {"hdr/city_grey_128x64_float.tif", 128, 64, KindFromValues, 0, 0.0f, true},
    {"hdr/city_grey_128x64_float_Y.exr", 128, 64, KindFromValues, 0, 72.0f, true},
    {"hdr/courtyard_256x128_float_zip.exr", 256, 128, Range, 0, 72.0f, false},
    {"hdr/courtyard_256x128_half_piz.exr", 256, 128, Range, 0, 72.0f, false},
    {"hdr/courtyard_256x128_rgb16_linear.tif", 256, 128, Precise, 0, 0.0f, false},
    {"hdr/interior_200x100_float.tif", 200, 100, Range, 0, 0.0f, false},
    {"hdr/interior_rgba_128x64_half.exr", 128, 64, KindFromValues, 1, 72.0f, false},
    {"hdr/sunset_160x80.pfm", 160, 80, KindFromValues, 0, 0.0f, false},
    {"hdr/sunset_sun_crop_96x64.hdr", 96, 64, Range, 0, 72.0f, false},
    {"hdr/sunset_sun_crop_96x64_float.exr", 96, 64, Range, 0, 72.0f, false},
    {"hdr/synthetic_grey_ramp_16x16.pfm", 16, 16, Range, 0, 0.0f, true},
    {"hdr/synthetic_inrange_32x32.hdr", 32, 32, Precise, 0, 72.0f, false},
    {"hdr/synthetic_inrange_32x32_float.exr", 32, 32, Precise, 0, 72.0f, false},
    {"hdr/synthetic_inrange_32x32_float.tif", 32, 32, Precise, 0, 0.0f, false},
    {"hdr/synthetic_nan_inf_8x8.pfm", 8, 8, Range, 0, 0.0f, false},
    {"hdr/synthetic_nan_inf_8x8_float.exr", 8, 8, Range, 0, 72.0f, false},
    {"hdr/synthetic_peak5_32x8.hdr", 32, 8, Range, 0, 72.0f, false},
    {"hdr/synthetic_ramp_signed_64x16.pfm", 64, 16, Range, 0, 0.0f, false},
    {"hdr/synthetic_ramp_signed_64x16_float.exr", 64, 16, Range, 0, 72.0f, false},
    {"hdr/synthetic_ramp_signed_64x16_float.tif", 64, 16, Range, 0, 0.0f, false},
};

TEST(LoadImageFile, ReadsEveryHdrFileWithItsSizeKindAndAlpha)
{
    for (const TExpectedFile& f : HdrFiles) {
        const TLoaded loaded = LoadData(f.Name);
        ASSERT_TRUE(loaded.Ok) << f.Name << ": " << loaded.Status.Message;
        EXPECT_EQ(loaded.Image.Width(), f.Width) << f.Name;
        EXPECT_EQ(loaded.Image.Height(), f.Height) << f.Name;
        TImageKind kind = f.Kind;
        if (kind == KindFromValues) {
            float lo = 0.0f;
            float hi = 0.0f;
            loaded.Image.GetMinMax(lo, hi, MaxRectHdr);
            kind = lo < 0.0f || hi > 1.0f ? Range : Precise;
        }
        EXPECT_EQ(loaded.Info.Kind, kind) << f.Name;
        EXPECT_EQ(loaded.Info.Transparent, f.Transparent == 1) << f.Name;
        if (f.Dpi != 0.0f) {
            EXPECT_EQ(loaded.Info.DpiX, f.Dpi) << f.Name;
        }
        for (const TRawHdr& row : loaded.Image.Pixels)
            for (const TColorHdr& p : row) {
                if (f.Grey) {
                    ASSERT_TRUE(p.B == p.G && p.G == p.R) << f.Name;
                }
                if (f.Transparent == 0) {
                    ASSERT_EQ(p.A, 1.0f) << f.Name;
                }
            }
    }
    // The RGBA half file: alpha 1 on the top row down to 0 on the bottom row, copied as float.
    const TLoaded rgba = LoadData("hdr/interior_rgba_128x64_half.exr");
    ASSERT_TRUE(rgba.Ok);
    for (std::size_t y = 0; y < rgba.Image.Pixels.size(); ++y)
        for (const TColorHdr& p : rgba.Image.Pixels[y]) {
            if (y == 0) {
                ASSERT_EQ(p.A, 1.0f);
            } else if (y == 63) {
                ASSERT_EQ(p.A, 0.0f);
            } else {
                ASSERT_LE(p.A, rgba.Image.Pixels[y - 1][0].A) << "row " << y;
            }
        }
    // High range survives loading: the sun crop goes far above 1.
    const TLoaded sun = LoadData("hdr/sunset_sun_crop_96x64_float.exr");
    ASSERT_TRUE(sun.Ok);
    float lo = 0.0f;
    float hi = 0.0f;
    sun.Image.GetMinMax(lo, hi, MaxRectHdr);
    EXPECT_GT(hi, 1000.0f);
}

TEST(LoadImageFile, RefusesPixelTypesWithoutAFloatConversion)
{
    // FIT_UINT16 grey and FIT_DOUBLE: no conversion to float RGBA.
    for (const char* name : {"ldr/png_grey16_256x128.png", "ldr/tif_grey16_300dpi_256x128.tif",
                             "hdr/courtyard_grey_64x32_double.tif"}) {
        for (const bool isolate : {true, false}) {
            const TLoaded loaded = LoadData(name, TLoadPath::lpFreeImage, isolate);
            EXPECT_FALSE(loaded.Ok) << name;
            EXPECT_TRUE(loaded.Image.IsEmpty()) << name;
            EXPECT_EQ(loaded.Status.Code, TFileErrorCode::feUnsupportedType) << name;
            EXPECT_FALSE(loaded.Status.Message.empty()) << name;
        }
    }
}

TEST(LoadImageFile, ReadsSyntheticFloatFilesToTheDocumentedValues)
{
    // Grey ramp: 3 (x + 16 y) / 255, stored as float.
    const TLoaded ramp = LoadData("hdr/synthetic_grey_ramp_16x16.pfm");
    ASSERT_TRUE(ramp.Ok);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const auto v = static_cast<float>(3.0 * (x + 16 * y) / 255.0);
            ExpectPixel(ramp.Image.Pixels[y][x], TColorHdr{v, v, v, 1.0f}, At("grey ramp", x, y));
        }
    // One peak of 5.0 at (16, 4); everything else R 0.5, G 0.25, B 0.125 (all exact in RGBE).
    const TLoaded peak = LoadData("hdr/synthetic_peak5_32x8.hdr");
    ASSERT_TRUE(peak.Ok);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const TColorHdr expected = x == 16 && y == 4 ? TColorHdr{5.0f, 5.0f, 5.0f, 1.0f}
                                                         : TColorHdr{0.125f, 0.25f, 0.5f, 1.0f};
            ExpectPixel(peak.Image.Pixels[y][x], expected, At("peak5", x, y));
        }
    // In-range file: only the documented values, so high precision, not high range.
    const TLoaded inRange = LoadData("hdr/synthetic_inrange_32x32.hdr");
    ASSERT_TRUE(inRange.Ok);
    for (const TRawHdr& row : inRange.Image.Pixels)
        for (const TColorHdr& p : row)
            for (const float v : {p.B, p.G, p.R})
                ASSERT_TRUE(v == 0.0f || v == 0.125f || v == 0.25f || v == 0.5f || v == 0.75f ||
                            v == 1.0f)
                    << v;
    // Signed ramp: R = -1 + 5 x / 63, G 0 then 0.5 from x 32, B -0.25 / 0 / 1 by row band.
    for (const char* name :
         {"hdr/synthetic_ramp_signed_64x16.pfm", "hdr/synthetic_ramp_signed_64x16_float.exr",
          "hdr/synthetic_ramp_signed_64x16_float.tif"}) {
        const TLoaded signedRamp = LoadData(name);
        ASSERT_TRUE(signedRamp.Ok) << name;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 64; ++x) {
                const float b = y < 4 ? -0.25f : (y < 8 ? 0.0f : 1.0f);
                const float g = x < 32 ? 0.0f : 0.5f;
                const auto r = static_cast<float>(-1.0 + 5.0 * x / 63.0);
                ExpectPixel(signedRamp.Image.Pixels[y][x], TColorHdr{b, g, r, 1.0f},
                            At(name, x, y));
            }
    }
}

TEST(LoadImageFile, KeepsNanInfinityNegativeZeroAndDenormals)
{
    for (const char* name :
         {"hdr/synthetic_nan_inf_8x8_float.exr", "hdr/synthetic_nan_inf_8x8.pfm"}) {
        const TLoaded loaded = LoadData(name);
        ASSERT_TRUE(loaded.Ok) << name << ": " << loaded.Status.Message;
        const TPixelsHdr& px = loaded.Image.Pixels;
        const float nan = std::numeric_limits<float>::quiet_NaN();
        ExpectPixel(px[1][1], TColorHdr{0.5f, 0.5f, nan, 1.0f}, At(name, 1, 1));  // R only
        ExpectPixel(px[6][6], TColorHdr{nan, nan, nan, 1.0f}, At(name, 6, 6));
        ExpectPixel(px[1][2], TColorHdr{Inf, Inf, Inf, 1.0f}, At(name, 2, 1));
        ExpectPixel(px[1][3], TColorHdr{0.5f, 0.5f, -Inf, 1.0f}, At(name, 3, 1));
        EXPECT_EQ(px[1][4].G, 0.0f);
        EXPECT_TRUE(std::signbit(px[1][4].B) && std::signbit(px[1][4].G) &&
                    std::signbit(px[1][4].R));
        EXPECT_EQ(px[1][5].B, 1e-40f);  // a denormal, not flushed to zero
        EXPECT_EQ(px[0][0].G, 0.5f);
        // -inf is the minimum (NaN never wins), so the kind is high range.
        float lo = 0.0f;
        float hi = 0.0f;
        loaded.Image.GetMinMax(lo, hi, MaxRectHdr);
        EXPECT_EQ(lo, -Inf);
        EXPECT_EQ(hi, Inf);
        EXPECT_EQ(loaded.Info.Kind, TImageKind::ikHighRange);
    }
}

TEST(LoadImageFile, HalfRgbeAndWordFilesAgreeWithTheirFloatSource)
{
    const TLoaded full = LoadData("hdr/courtyard_256x128_float_zip.exr");
    const TLoaded half = LoadData("hdr/courtyard_256x128_half_piz.exr");
    const TLoaded words = LoadData("hdr/courtyard_256x128_rgb16_linear.tif");
    ASSERT_TRUE(full.Ok && half.Ok && words.Ok);
    bool anyHalfDiffers = false;
    for (std::size_t y = 0; y < 128; ++y)
        for (std::size_t x = 0; x < 256; ++x) {
            const TColorHdr& f = full.Image.Pixels[y][x];
            const TColorHdr& h = half.Image.Pixels[y][x];
            const TColorHdr& w = words.Image.Pixels[y][x];
            const float fs[] = {f.B, f.G, f.R};
            const float hs[] = {h.B, h.G, h.R};
            const float ws[] = {w.B, w.G, w.R};
            for (int c = 0; c < 3; ++c) {
                // Half keeps 11 significant bits: rounding moves a value by at most 2^-11 of
                // itself (2^-25 absolute below the normal range).
                ASSERT_LE(std::fabs(hs[c] - fs[c]), std::fabs(fs[c]) * 0x1p-11f + 0x1p-25f)
                    << x << "," << y;
                anyHalfDiffers = anyHalfDiffers || hs[c] != fs[c];
                // 16 bits of the clipped value: within half a step of 1/65535 (plus float
                // rounding of the division).
                const float clipped = std::clamp(fs[c], 0.0f, 1.0f);
                ASSERT_LE(std::fabs(ws[c] - clipped), 0.5f / 65535.0f + 1e-7f) << x << "," << y;
            }
        }
    EXPECT_TRUE(anyHalfDiffers);  // the half file really went through half floats

    // RGBE: 8 bits of mantissa shared by the largest component; any component lies within two
    // steps of 2^(e-8), and 2^e is less than twice the largest component.
    const TLoaded rgbe = LoadData("hdr/sunset_sun_crop_96x64.hdr");
    const TLoaded exr = LoadData("hdr/sunset_sun_crop_96x64_float.exr");
    ASSERT_TRUE(rgbe.Ok && exr.Ok);
    for (std::size_t y = 0; y < 64; ++y)
        for (std::size_t x = 0; x < 96; ++x) {
            const TColorHdr& a = rgbe.Image.Pixels[y][x];
            const TColorHdr& b = exr.Image.Pixels[y][x];
            const float bound = std::max({b.B, b.G, b.R}) / 64.0f;
            ASSERT_LE(std::fabs(a.B - b.B), bound) << x << "," << y;
            ASSERT_LE(std::fabs(a.G - b.G), bound) << x << "," << y;
            ASSERT_LE(std::fabs(a.R - b.R), bound) << x << "," << y;
        }
}

TEST(LoadImageFile, ReadsTrickyFilesOfTheLargestSidesAndOddLayouts)
{
    struct TBig {
        const char* Name;
        int Width;
        int Height;
    };
    for (const TBig& f : {TBig{"tricky/png_rgb8_65535x1.png", 65535, 1},
                          TBig{"tricky/png_grey8_1x65535.png", 1, 65535}}) {
        for (const bool isolate : {true, false}) {
            const TLoaded loaded = LoadData(f.Name, TLoadPath::lpFreeImage, isolate);
            ASSERT_TRUE(loaded.Ok) << f.Name << ": " << loaded.Status.Message;
            EXPECT_EQ(loaded.Image.Width(), f.Width) << f.Name;
            EXPECT_EQ(loaded.Image.Height(), f.Height) << f.Name;
            EXPECT_EQ(loaded.Image.Pixels.size(), static_cast<std::size_t>(f.Height));
            EXPECT_EQ(loaded.Image.Pixels.back().size(), static_cast<std::size_t>(f.Width));
        }
    }
    // Content decides through FreeImage, whatever the name says.
    struct TNamed {
        const char* Name;
        int Width;
        int Height;
    };
    for (const TNamed& f :
         {TNamed{"tricky/bmp_named_as.jpg", 3, 5}, TNamed{"tricky/jpeg_named_as.png", 256, 128},
          TNamed{"tricky/png_named_as.jpg", 3, 5}}) {
        const TLoaded loaded = LoadData(f.Name);
        ASSERT_TRUE(loaded.Ok) << f.Name;
        EXPECT_EQ(loaded.Image.Width(), f.Width) << f.Name;
        EXPECT_EQ(loaded.Image.Height(), f.Height) << f.Name;
    }
}

// Every picture of the folders that must load, in name order.
std::vector<std::string> EveryImageFile()
{
    std::vector<std::string> files;
    for (const char* folder : {"probe", "ldr", "hdr", "tricky"})
        for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(folder)))
            if (entry.path().extension() != ".txt")
                files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// FreeImage reads every one of them; the platform path BMP and JPEG as well.
std::vector<TLoadPath> PathsThatRead(const std::string& file)
{
    std::vector<TLoadPath> paths{TLoadPath::lpFreeImage};
    if (file.ends_with(".bmp") || file.ends_with(".jpg"))
        paths.push_back(TLoadPath::lpPlatform);
    return paths;
}

// Every file that must load: an isolated and an in-process decode give the same bits and the
// same info, on every path that can read the file.
TEST(LoadImageFile, IsolatedAndInProcessLoadsAreIdentical)
{
    const std::vector<std::string> files = EveryImageFile();
    ASSERT_GT(files.size(), 70u);
    int loadedCount = 0;
    for (const std::string& file : files) {
        for (const TLoadPath path : PathsThatRead(file)) {
            const TLoaded isolated = LoadFile(file, path, true);
            const TLoaded inProcess = LoadFile(file, path, false);
            const std::string what =
                file + (path == TLoadPath::lpPlatform ? " (platform)" : " (FreeImage)");
            ASSERT_EQ(isolated.Ok, inProcess.Ok)
                << what << ": " << isolated.Status.Message << " / " << inProcess.Status.Message;
            if (!isolated.Ok) {
                EXPECT_EQ(isolated.Status.Code, inProcess.Status.Code) << what;
                continue;
            }
            ++loadedCount;
            EXPECT_TRUE(SameBits(isolated.Image, inProcess.Image)) << what;
            ExpectSameInfo(isolated.Info, inProcess.Info, what);
            // The way back through shared memory, used where reading the child is forbidden.
            TLoaded copied;
            TLoadLimits limits;
            limits.ReadChildMemory = false;
            ASSERT_TRUE(LoadImageFile(file, &copied.Image, copied.Info, path, limits)) << what;
            EXPECT_TRUE(SameBits(copied.Image, inProcess.Image)) << what << " (copied)";
            ExpectSameInfo(copied.Info, inProcess.Info, what + " (copied)");
        }
    }
    EXPECT_GT(loadedCount, 70);
}

// A file written again in an 8-bit format: 8-bit colour files without transparency come back
// as bytes, every other file as its float image, and either way every 8-bit writer (FreeImage's
// and our own) writes the same file as it does from the loaded image.
TEST(LoadImageOrBitmap, WritesWhatTheLoadedImageWritesOnEveryFileAndPath)
{
    const TTempDir dir;
    const std::vector<TSaveFormat> formats = {TSaveFormat::sfJpeg, TSaveFormat::sfPng,
                                              TSaveFormat::sfTiff, TSaveFormat::sfBmp};
    TLoadLimits copying;
    copying.ReadChildMemory = false;
    TLoadLimits inProcess;
    inProcess.Isolate = false;
    int asBytes = 0;
    int compared = 0;
    for (const std::string& file : EveryImageFile()) {
        for (const TLoadPath path : PathsThatRead(file)) {
            const std::string what =
                file + (path == TLoadPath::lpPlatform ? " (platform)" : " (FreeImage)");
            const TLoaded loaded = LoadFile(file, path, true);
            for (const TLoadLimits& limits : {TLoadLimits{}, copying, inProcess}) {
                TBmpHdr image;
                image.SetSize(2, 2, clNoneHdr);
                TBitmap bitmap(3, 3, TPixelFormat::pf24bit);
                TImageInfo info;
                const bool ok = LoadImageOrBitmap(file, &image, bitmap, info, path, limits);
                ASSERT_EQ(ok, loaded.Ok) << what << ": " << LastFileStatus().Message;
                if (!ok) {
                    EXPECT_TRUE(image.IsEmpty() && bitmap.IsEmpty()) << what;
                    continue;
                }
                ExpectSameInfo(info, loaded.Info, what);
                ASSERT_NE(image.IsEmpty(), bitmap.IsEmpty()) << what;
                if (image.IsEmpty()) {
                    ++asBytes;
                    EXPECT_TRUE(limits.Isolate) << what;
                    EXPECT_FALSE(info.Transparent) << what;
                } else {
                    EXPECT_TRUE(SameBits(image, loaded.Image)) << what;
                }
                if (limits.ReadChildMemory == false)
                    continue;  // the same lines, checked for the writers once per path
                for (const TSaveFormat format : formats) {
                    for (const bool withFreeImage : {true, false}) {
                        if (!withFreeImage && format != TSaveFormat::sfJpeg)
                            continue;
                        std::optional<TWithoutFreeImage> hidden;
                        if (!withFreeImage)
                            hidden.emplace();
                        const std::string expected = dir.File("expected");
                        const std::string written = dir.File("written");
                        const bool expectedOk =
                            SaveImageFile(expected, format, &loaded.Image, info);
                        const bool writtenOk = image.IsEmpty()
                                                   ? SaveBitmapFile(written, format, bitmap, info)
                                                   : SaveImageFile(written, format, &image, info);
                        ASSERT_EQ(writtenOk, expectedOk) << what << " " << int(format);
                        if (!expectedOk)
                            continue;
                        EXPECT_EQ(test::ReadBytes(written), test::ReadBytes(expected))
                            << what << " " << int(format) << (withFreeImage ? "" : " (ours)");
                        ++compared;
                    }
                }
            }
        }
    }
    EXPECT_GT(asBytes, 20);
    EXPECT_GT(compared, 200);
}

// The merge's 24-bit load gives the bytes of the loaded image rounded, whichever way the lines
// come back (read from the child, copied by it, or decoded in this process), on every file.
TEST(LoadBitmapFile, GivesTheLoadedImageRoundedToBytesOnEveryFileAndPath)
{
    const std::vector<std::string> files = EveryImageFile();
    int compared = 0;
    for (const std::string& file : files) {
        for (const TLoadPath path : PathsThatRead(file)) {
            const std::string what =
                file + (path == TLoadPath::lpPlatform ? " (platform)" : " (FreeImage)");
            const TLoaded loaded = LoadFile(file, path, true);
            TLoadLimits copying;
            copying.ReadChildMemory = false;
            TLoadLimits inProcess;
            inProcess.Isolate = false;
            for (const TLoadLimits& limits : {TLoadLimits{}, copying, inProcess}) {
                TBitmap bitmap(3, 3, TPixelFormat::pf32bit);
                const bool ok = LoadBitmapFile(file, bitmap, path, limits);
                ASSERT_EQ(ok, loaded.Ok) << what << ": " << LastFileStatus().Message;
                if (!ok) {
                    EXPECT_TRUE(bitmap.IsEmpty()) << what;
                    continue;
                }
                ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit) << what;
                ASSERT_EQ(bitmap.Width(), loaded.Image.Width()) << what;
                ASSERT_EQ(bitmap.Height(), loaded.Image.Height()) << what;
                for (std::int32_t y = 0; y < bitmap.Height(); ++y)
                    for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
                        std::uint8_t expected[3];
                        ColorHdrToBGR(loaded.Image.Pixels[y][x], expected);
                        const std::uint8_t* got = bitmap.ScanLine(y) + 3 * x;
                        ASSERT_TRUE(std::equal(expected, expected + 3, got))
                            << what << " at " << x << "," << y;
                    }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 200);
}

// ---------------------------------------------------------------------------------------------
// Small pure routines.

TEST(RoundDpi, ConvertsDotsPerCentimetreToInchesInStepsOfOneFiftieth)
{
    EXPECT_EQ(RoundDpi(28.35), 72.0f);    // 2.54 x 28.35 x 50 = 3600.45 -> 3600
    EXPECT_EQ(RoundDpi(118.11), 300.0f);  // 14999.97 -> 15000
    EXPECT_EQ(RoundDpi(37.80), 96.02f);   // 4800.6 -> 4801
    EXPECT_EQ(RoundDpi(40.0), 101.6f);    // 5080 exactly
    EXPECT_EQ(RoundDpi(59.06), 150.02f);  // 7500.62 -> 7501
    EXPECT_EQ(RoundDpi(0.0), 0.0f);
}

// The savers' gamma is PowerHdr of each value.
TEST(SaverGamma, MapsNonPositiveAndNanToZeroAndRaisesTheRest)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const float gamma : {1.0f, 2.2f, 0.5f}) {
        EXPECT_EQ(PowerHdr(nan, gamma), 0.0f) << gamma;
        EXPECT_EQ(PowerHdr(-0.3f, gamma), 0.0f) << gamma;
        EXPECT_EQ(PowerHdr(-Inf, gamma), 0.0f) << gamma;
        EXPECT_EQ(PowerHdr(0.0f, gamma), 0.0f) << gamma;
        EXPECT_FALSE(std::signbit(PowerHdr(-0.0f, gamma))) << gamma;  // +0, not -0
    }
    // Gamma 1 is the identity, bit for bit, also far outside the half range.
    for (const float v : {0.1234567f, 1e-40f, 2.0f, 100000.0f, 3.0e38f, Inf})
        EXPECT_EQ(PowerHdr(v, 1.0f), v) << v;
    // Otherwise v^gamma, computed in double and rounded once to float.
    for (const float v : {0.5f, 2.0f, 0.25f, 5.0f, 0.125f})
        EXPECT_EQ(PowerHdr(v, 2.2f), static_cast<float>(std::pow(double{v}, double{2.2f}))) << v;
    EXPECT_EQ(PowerHdr(0.5f, 2.0f), 0.25f);
    EXPECT_EQ(PowerHdr(5.0f, 2.0f), 25.0f);
    EXPECT_EQ(PowerHdr(0.25f, 0.5f), 0.5f);
}

TEST(SaveFormatFromFileName, MapsTheKnownExtensionsOnly)
{
    EXPECT_EQ(SaveFormatFromFileName("a.bmp"), TSaveFormat::sfBmp);
    EXPECT_EQ(SaveFormatFromFileName("a.jpg"), TSaveFormat::sfJpeg);
    EXPECT_EQ(SaveFormatFromFileName("a.jpeg"), TSaveFormat::sfJpeg);
    EXPECT_EQ(SaveFormatFromFileName("/x/y.png"), TSaveFormat::sfPng);
    EXPECT_EQ(SaveFormatFromFileName("a.tif"), TSaveFormat::sfTiff);
    EXPECT_EQ(SaveFormatFromFileName("a.tiff"), TSaveFormat::sfTiff);
    EXPECT_EQ(SaveFormatFromFileName("a.hdr"), TSaveFormat::sfHdr);
    EXPECT_EQ(SaveFormatFromFileName("a.exr"), TSaveFormat::sfExr);
    EXPECT_EQ(SaveFormatFromFileName("A.PNG"), TSaveFormat::sfPng);  // compared in lower case
    EXPECT_EQ(SaveFormatFromFileName("a.b.Exr"), TSaveFormat::sfExr);
    for (const char* name : {"a.gif", "a.pfm", "a", "", "png", "a.png.gz", "dir.png/file", ".png"})
        EXPECT_FALSE(SaveFormatFromFileName(name).has_value()) << name;
    EXPECT_TRUE(SaveFormatKeepsAlpha(TSaveFormat::sfPng));
    EXPECT_TRUE(SaveFormatKeepsAlpha(TSaveFormat::sfTiff));
    EXPECT_TRUE(SaveFormatKeepsAlpha(TSaveFormat::sfExr));
    EXPECT_FALSE(SaveFormatKeepsAlpha(TSaveFormat::sfBmp));
    EXPECT_FALSE(SaveFormatKeepsAlpha(TSaveFormat::sfJpeg));
    EXPECT_FALSE(SaveFormatKeepsAlpha(TSaveFormat::sfHdr));
}

// ---------------------------------------------------------------------------------------------
// Saving.

// Every channel a multiple of 1/255, alpha too; no row or column equals another, so a flipped
// or shifted save shows. 37 x 23 makes odd row lengths.
TBmpHdr ByteImage(bool withAlpha)
{
    TBmpHdr image;
    image.SetSize(37, 23, clNoneHdr);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const int b = (x * 7 + y * 11) % 256;
            const int g = (x * 5 + y * 71 + 3) % 256;
            const int r = (x * 113 + y * 3 + 250) % 256;
            const int a = withAlpha ? (x * 17 + y * 29) % 256 : 255;
            image.Pixels[y][x] = TColorHdr{b / 255.0f, g / 255.0f, r / 255.0f, a / 255.0f};
        }
    image.Pixels[0][0] = TColorHdr{0.0f, 1.0f, 0.0f, 1.0f};  // both ends of the range
    return image;
}

TImageInfo SaveInfo(bool transparent, float gamma = 1.0f, std::int32_t exrFlags = 0)
{
    TImageInfo info;
    info.Transparent = transparent;
    info.Gamma = gamma;
    info.ExrFlags = exrFlags;
    return info;
}

TEST(SaveImageFile, EightBitFormatsRoundTripByteValuesExactly)
{
    const TTempDir dir;
    const TBmpHdr opaque = ByteImage(false);
    const TBmpHdr withAlpha = ByteImage(true);
    for (const char* ext : {".png", ".tif"}) {
        // With alpha: 32 bits, the alpha byte comes back.
        std::string name = dir.File(std::string("alpha") + ext);
        const TSaveFormat format = *SaveFormatFromFileName(name);
        ASSERT_TRUE(SaveImageFile(name, format, &withAlpha, SaveInfo(true)))
            << ext << ": " << LastFileStatus().Message;
        TLoaded loaded = LoadFile(name);
        ASSERT_TRUE(loaded.Ok) << ext;
        EXPECT_TRUE(SameBits(loaded.Image, withAlpha)) << ext;
        EXPECT_TRUE(loaded.Info.Transparent) << ext;
        // Not transparent: 24 bits, an image with alpha is written opaque.
        name = dir.File(std::string("opaque") + ext);
        ASSERT_TRUE(SaveImageFile(name, format, &withAlpha, SaveInfo(false))) << ext;
        loaded = LoadFile(name);
        ASSERT_TRUE(loaded.Ok) << ext;
        EXPECT_TRUE(SameBits(loaded.Image, opaque)) << ext;
        EXPECT_FALSE(loaded.Info.Transparent) << ext;
    }
    // BMP, our writer: byte-exact through both readers.
    const std::string bmp = dir.File("image.bmp");
    ASSERT_TRUE(SaveImageFile(bmp, TSaveFormat::sfBmp, &opaque, SaveInfo(true)))
        << LastFileStatus().Message;
    for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
        const TLoaded loaded = LoadFile(bmp, path);
        ASSERT_TRUE(loaded.Ok) << loaded.Status.Message;
        EXPECT_TRUE(SameBits(loaded.Image, opaque));
        EXPECT_FALSE(loaded.Info.Transparent);
    }
    // The BMP writer needs no FreeImage.
    {
        TWithoutFreeImage hidden;
        const std::string name = dir.File("plain.bmp");
        ASSERT_TRUE(SaveImageFile(name, TSaveFormat::sfBmp, &opaque, SaveInfo(false)));
        const TLoaded loaded = LoadFile(name, TLoadPath::lpPlatform);
        ASSERT_TRUE(loaded.Ok);
        EXPECT_TRUE(SameBits(loaded.Image, opaque));
    }
}

float MeanDifference(const TBmpHdr& a, const TBmpHdr& b)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t y = 0; y < a.Pixels.size(); ++y)
        for (std::size_t x = 0; x < a.Pixels[y].size(); ++x) {
            const TColorHdr& p = a.Pixels[y][x];
            const TColorHdr& q = b.Pixels[y][x];
            sum += std::fabs(p.B - q.B) + std::fabs(p.G - q.G) + std::fabs(p.R - q.R);
            count += 3;
        }
    return static_cast<float>(sum / static_cast<double>(count));
}

TEST(SaveAsJpeg, RoundTripsSmoothImagesWithinAFewLevels)
{
    const TTempDir dir;
    const TBmpHdr image = SmoothImage();
    TImageInfo info = SaveInfo(true);  // JPEG has no alpha whatever the info says
    info.JpegFlags = JPEG_QUALITYSUPERB;
    const std::string free = dir.File("free.jpg");
    ASSERT_TRUE(SaveAsJpeg(free, &image, info)) << LastFileStatus().Message;
    const std::string platform = dir.File("platform.jpg");
    ASSERT_TRUE(SaveAsJpegPlatform(platform, &image, info)) << LastFileStatus().Message;
    for (const std::string& name : {free, platform})
        for (const TLoadPath path : {TLoadPath::lpFreeImage, TLoadPath::lpPlatform}) {
            const TLoaded loaded = LoadFile(name, path);
            ASSERT_TRUE(loaded.Ok) << name << ": " << loaded.Status.Message;
            ASSERT_EQ(loaded.Image.Width(), 64);
            ASSERT_EQ(loaded.Image.Height(), 48);
            EXPECT_FALSE(loaded.Info.Transparent);
            // Quality 100 on gentle gradients: at most 4 levels anywhere, under 1 on average.
            EXPECT_LE(MaxDifference(loaded.Image, image, true), 4.0f / 255.0f) << name;
            EXPECT_LE(MeanDifference(loaded.Image, image), 1.0f / 255.0f) << name;
        }
    // Without FreeImage the dispatcher picks our writer.
    {
        TWithoutFreeImage hidden;
        const std::string fallback = dir.File("fallback.jpg");
        ASSERT_TRUE(SaveImageFile(fallback, TSaveFormat::sfJpeg, &image, info))
            << LastFileStatus().Message;
        const TLoaded loaded = LoadFile(fallback, TLoadPath::lpPlatform);
        ASSERT_TRUE(loaded.Ok);
        EXPECT_LE(MaxDifference(loaded.Image, image, true), 4.0f / 255.0f);
        // The other FreeImage writers fail cleanly.
        EXPECT_FALSE(SaveImageFile(dir.File("x.png"), TSaveFormat::sfPng, &image, info));
        EXPECT_EQ(LastFileStatus().Code, TFileErrorCode::feNoWriter);
        EXPECT_FALSE(std::filesystem::exists(dir.File("x.png")));
    }
    // A lower quality writes a smaller file: the flags reach the encoder.
    info.JpegFlags = 10;
    const std::string low = dir.File("low.jpg");
    ASSERT_TRUE(SaveAsJpeg(low, &image, info));
    const std::string lowPlatform = dir.File("lowPlatform.jpg");
    ASSERT_TRUE(SaveAsJpegPlatform(lowPlatform, &image, info));
    EXPECT_LT(std::filesystem::file_size(low), std::filesystem::file_size(free));
    EXPECT_LT(std::filesystem::file_size(lowPlatform), std::filesystem::file_size(platform));
}

TEST(SaveAsHdr, RoundTripsRgbeExactValuesAndDropsAlphaAndNegatives)
{
    // Multiples of 1/8 up to 6: the shared exponent of a maximum up to 8 leaves steps of at
    // most 2^-5, so every value is exact in RGBE.
    const float values[] = {0.0f, 0.125f, 0.25f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f, 4.0f, 6.0f};
    TBmpHdr image;
    image.SetSize(10, 9, clNoneHdr);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 10; ++x)
            image.Pixels[y][x] =
                TColorHdr{values[x], values[(x + y) % 10], values[(3 * x + 2 * y) % 10], 0.5f};
    image.Pixels[8][9].R = -2.0f;  // negatives cannot be stored: 0
    const TTempDir dir;
    const std::string name = dir.File("a.hdr");
    ASSERT_TRUE(SaveAsHdr(name, &image, SaveInfo(true))) << LastFileStatus().Message;
    const TLoaded loaded = LoadFile(name);
    ASSERT_TRUE(loaded.Ok);
    EXPECT_FALSE(loaded.Info.Transparent);
    EXPECT_EQ(loaded.Info.Kind, TImageKind::ikHighRange);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 10; ++x) {
            TColorHdr expected = image.Pixels[y][x];
            expected.A = 1.0f;
            expected.R = std::max(expected.R, 0.0f);
            ExpectPixel(loaded.Image.Pixels[y][x], expected, At("hdr", x, y));
        }
}

TEST(SaveAsExr, WritesHalfFloatsByDefaultWithinHalfPrecision)
{
    TBmpHdr image;
    image.SetSize(16, 5, clNoneHdr);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 16; ++x) {
            const float v = std::ldexp(1.0f + 0.0137f * static_cast<float>(x * 5 + y), x - 8);
            image.Pixels[y][x] = TColorHdr{v, v * 3.3f, v * 0.71f, static_cast<float>(y) / 4.0f};
        }
    image.Pixels[0][0] = TColorHdr{0.1234567f, 60000.0f, 0.0f, 0.3f};
    const TTempDir dir;
    for (const bool transparent : {false, true}) {
        const std::string name = dir.File(transparent ? "rgba.exr" : "rgb.exr");
        ASSERT_TRUE(SaveAsExr(name, &image, SaveInfo(transparent))) << LastFileStatus().Message;
        const TLoaded loaded = LoadFile(name);
        ASSERT_TRUE(loaded.Ok);
        EXPECT_EQ(loaded.Info.Transparent, transparent);
        // 0.1234567 = 1.9753... x 2^-4; 10 fraction bits: 1 + 999/1024, so 2023 / 16384.
        EXPECT_EQ(loaded.Image.Pixels[0][0].B, 2023.0f / 16384.0f);
        EXPECT_EQ(loaded.Image.Pixels[0][0].G, 60000.0f);  // a multiple of 32: exact in half
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 16; ++x) {
                const TColorHdr& p = loaded.Image.Pixels[y][x];
                const TColorHdr& q = image.Pixels[y][x];
                const float saved[] = {q.B, q.G, q.R};
                const float read[] = {p.B, p.G, p.R};
                for (int c = 0; c < 3; ++c)
                    ASSERT_LE(std::fabs(read[c] - saved[c]), std::fabs(saved[c]) * 0x1p-11f)
                        << x << "," << y;
                if (transparent) {
                    ASSERT_LE(std::fabs(p.A - q.A), q.A * 0x1p-11f) << x << "," << y;
                } else {
                    ASSERT_EQ(p.A, 1.0f);
                }
            }
    }
}

TEST(SaveAsExr, FloatFlagRoundTripsBitExactlyBeyondTheHalfRange)
{
    const float values[] = {0.1234567f,  100000.0f, 65504.5f, 1e-40f, 3.0e38f, Inf,
                            1.0f / 3.0f, 6.5e-5f,   1e10f,    0.0f,   7.0f};
    TBmpHdr image;
    image.SetSize(11, 3, clNoneHdr);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            image.Pixels[y][x] =
                TColorHdr{values[x], values[(x + 1 + y) % 11], values[(x + 5 + 2 * y) % 11], 0.0f};
    // Alpha is copied as it is: negative and above 1 survive.
    image.Pixels[0][0].A = -0.5f;
    image.Pixels[1][3].A = 2.5f;
    image.Pixels[2][10].A = 0.1234567f;
    // Colours go through GammaHdr, so a negative colour is written as 0.
    image.Pixels[2][2].G = -0.3f;
    image.Pixels[2][3].R = -100000.0f;
    const TTempDir dir;
    const std::string name = dir.File("f.exr");
    ASSERT_TRUE(SaveAsExr(name, &image, SaveInfo(true, 1.0f, EXR_FLOAT)))
        << LastFileStatus().Message;
    const TLoaded loaded = LoadFile(name);
    ASSERT_TRUE(loaded.Ok);
    EXPECT_TRUE(loaded.Info.Transparent);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x) {
            const TColorHdr& q = image.Pixels[y][x];
            const TColorHdr expected{PowerHdr(q.B, 1.0f), PowerHdr(q.G, 1.0f), PowerHdr(q.R, 1.0f),
                                     q.A};
            const TColorHdr& p = loaded.Image.Pixels[y][x];
            EXPECT_EQ(std::memcmp(&p, &expected, sizeof p), 0) << At("exr float", x, y);
        }
    EXPECT_EQ(loaded.Image.Pixels[2][2].G, 0.0f);
    EXPECT_EQ(loaded.Image.Pixels[0][0].A, -0.5f);
    // The half writer of the same image cannot hold 100000.
    const std::string halfName = dir.File("h.exr");
    ASSERT_TRUE(SaveAsExr(halfName, &image, SaveInfo(true)));
    const TLoaded half = LoadFile(halfName);
    ASSERT_TRUE(half.Ok);
    EXPECT_NE(half.Image.Pixels[0][1].B, 100000.0f);
    EXPECT_GT(std::filesystem::file_size(name), std::filesystem::file_size(halfName));
}

std::string FileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int ThreadsOfThisProcess()
{
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

// The thread count once it has come down to `expected`, or after a second: a joined thread
// can still be listed for a moment while the kernel finishes its exit.
int ThreadsSettledAt(int expected)
{
    int threads = ThreadsOfThisProcess();
    for (int i = 0; i < 100 && threads > expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        threads = ThreadsOfThisProcess();
    }
    return threads;
}

// OpenEXR compresses blocks of 32 lines on a pool during the save; the file must not depend on
// it, and the pool must be gone afterwards (a decoder process forked later would copy it).
TEST(SaveAsExr, EveryThreadCountWritesTheSameBytesAndNoPoolOutlivesTheSave)
{
    TBmpHdr image;
    image.SetSize(203, 131, clNoneHdr);
    for (int y = 0; y < 131; ++y)
        for (int x = 0; x < 203; ++x) {
            const float v = std::ldexp(1.0f + 0.0071f * static_cast<float>((x * 13 + y * 7) % 97),
                                       (x + y) % 19 - 9);
            image.Pixels[y][x] = TColorHdr{v, v * 0.37f, v * 2.9f, static_cast<float>(x % 5) / 4};
        }
    const TTempDir dir;
    for (const std::int32_t flags : {0, EXR_FLOAT}) {
        for (const bool transparent : {false, true}) {
            std::string first;
            for (const int threads : {1, 2, 7}) {
                SetThreadCount(threads);
                const std::string name = dir.File("t" + std::to_string(threads) + ".exr");
                // The engine's own threads start with this save; only OpenEXR's differ after.
                ASSERT_TRUE(SaveAsHdr(dir.File("warm.hdr"), &image, SaveInfo(false)));
                const int before = ThreadsSettledAt(1);
                ASSERT_TRUE(SaveAsExr(name, &image, SaveInfo(transparent, 1.0f, flags)))
                    << LastFileStatus().Message;
                EXPECT_EQ(ThreadsSettledAt(before), before) << threads << " threads";
                const std::string bytes = FileBytes(name);
                if (first.empty())
                    first = bytes;
                EXPECT_EQ(bytes, first) << threads << " threads, flags " << flags;
            }
            const TLoaded loaded = LoadFile(dir.File("t7.exr"));
            ASSERT_TRUE(loaded.Ok) << "a decoder process started after the saves";
            EXPECT_EQ(loaded.Image.Width(), 203);
        }
    }
    SetThreadCount(0);
}

// Saves fill pixel memory that nothing cleared; scan lines keep the library's 4-byte pitch.
TEST(TBmpFree, UnclearedBitmapsHaveTheLibrarysPitch)
{
    if (!IsFreeImageAvailable())
        GTEST_SKIP() << "FreeImage is not available";
    struct TCase {
        int Type, Width, Bpp;
        std::size_t Pitch;
    };
    for (const TCase c :
         {TCase{FIT_BITMAP, 5, 24, 16}, TCase{FIT_BITMAP, 1, 24, 4}, TCase{FIT_BITMAP, 3, 32, 12},
          TCase{FIT_RGBF, 7, 96, 84}, TCase{FIT_RGBAF, 2, 128, 32}}) {
        TBmpFree own;
        ASSERT_NE(own.AllocateUncleared(c.Type, c.Width, 3, c.Bpp), nullptr);
        TBmpFree library(c.Type, c.Width, 3, c.Bpp);
        EXPECT_EQ(own.GetPitch(), c.Pitch) << c.Width << " x " << c.Bpp;
        EXPECT_EQ(library.GetPitch(), c.Pitch) << c.Width << " x " << c.Bpp;
        EXPECT_EQ(own.GetScanLine(1) - own.GetScanLine(0), static_cast<std::ptrdiff_t>(c.Pitch));
        EXPECT_EQ(library.GetScanLine(1) - library.GetScanLine(0),
                  static_cast<std::ptrdiff_t>(c.Pitch));
        EXPECT_EQ(own.GetImageType(), c.Type);
        EXPECT_EQ(own.GetBPP(), c.Bpp);
    }
}

TEST(SaveImageFile, WorkedExamplePixelInEveryFormat)
{
    TBmpHdr image;
    image.SetSize(1, 1, TColorHdr{0.5f, 2.0f, -0.3f, 1.0f});  // B, G, R
    const TTempDir dir;
    // PNG: FloatToByte: 127.5 rounds to even 128, 2.0 clips to 255, -0.3 to 0.
    ASSERT_TRUE(SaveAsPng(dir.File("a.png"), &image, SaveInfo(false)));
    TLoaded loaded = LoadFile(dir.File("a.png"));
    ASSERT_TRUE(loaded.Ok);
    ExpectPixel(loaded.Image.Pixels[0][0], TColorHdr{128 / 255.0f, 1.0f, 0.0f, 1.0f}, "png");
    // HDR, gamma 1: red 0, green 2, blue 0.5; 2.0 and 0.5 are exact in RGBE.
    ASSERT_TRUE(SaveAsHdr(dir.File("a.hdr"), &image, SaveInfo(false, 1.0f)));
    loaded = LoadFile(dir.File("a.hdr"));
    ASSERT_TRUE(loaded.Ok);
    ExpectPixel(loaded.Image.Pixels[0][0], TColorHdr{0.5f, 2.0f, 0.0f, 1.0f}, "hdr");
    // EXR float, gamma 2.2: v^2.2 in double, rounded to float; 0.5 gives about 0.2176.
    ASSERT_TRUE(SaveAsExr(dir.File("a.exr"), &image, SaveInfo(false, 2.2f, EXR_FLOAT)));
    loaded = LoadFile(dir.File("a.exr"));
    ASSERT_TRUE(loaded.Ok);
    const TColorHdr& p = loaded.Image.Pixels[0][0];
    EXPECT_EQ(p.B, static_cast<float>(std::pow(0.5, double{2.2f})));
    EXPECT_NEAR(p.B, 0.2176f, 0.0001f);
    EXPECT_EQ(p.G, static_cast<float>(std::pow(2.0, double{2.2f})));
    EXPECT_EQ(p.R, 0.0f);
    // JPEG, TIFF and BMP store the same clipped bytes (JPEG only approximately).
    TImageInfo bytes = SaveInfo(false);
    bytes.JpegFlags = JPEG_QUALITYSUPERB;
    for (const char* ext : {".tif", ".bmp", ".jpg"}) {
        const std::string name = dir.File(std::string("a") + ext);
        ASSERT_TRUE(SaveImageFile(name, *SaveFormatFromFileName(name), &image, bytes));
        loaded = LoadFile(name);
        ASSERT_TRUE(loaded.Ok) << ext;
        const float bound = std::string(ext) == ".jpg" ? 6.0f / 255.0f : 0.0f;
        const TColorHdr& q = loaded.Image.Pixels[0][0];
        EXPECT_NEAR(q.B, 128 / 255.0f, bound) << ext;
        EXPECT_NEAR(q.G, 1.0f, bound) << ext;
        EXPECT_NEAR(q.R, 0.0f, bound) << ext;
    }
}

TEST(SaveImageFile, FloatGammaIsPowerHdrOfEveryValueBitForBit)
{
    // Odd widths run the kernels' short tails; every kind of value meets every channel.
    const float special[] = {NAN,    -Inf, Inf,  -0.0f,    0.0f,    1.0f,  -0.3f, 1e-38f,
                             3e-45f, 0.5f, 2.0f, 65504.0f, 0.2176f, 1e30f, 7.25f};
    const TTempDir dir;
    for (const int width : {1, 5, 37}) {
        TBmpHdr image;
        image.SetSize(width, 3, clNoneHdr);
        std::uint32_t k = 0;
        for (TRawHdr& row : image.Pixels)
            for (TColorHdr& p : row) {
                auto next = [&] {
                    ++k;
                    return k % 3 == 0 ? special[k % std::size(special)]
                                      : static_cast<float>(k * 2654435761u % 100000u) / 7919.0f;
                };
                p = TColorHdr{next(), next(), next(), next()};
            }
        for (const float gamma : {2.2f, 0.45f, 1.0f}) {
            const std::string name = dir.File("g" + std::to_string(width) + ".exr");
            ASSERT_TRUE(SaveAsExr(name, &image, SaveInfo(true, gamma, EXR_FLOAT)))
                << LastFileStatus().Message;
            const TLoaded loaded = LoadFile(name);
            ASSERT_TRUE(loaded.Ok) << loaded.Status.Message;
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < width; ++x) {
                    const TColorHdr& s = image.Pixels[y][x];
                    const TColorHdr& q = loaded.Image.Pixels[y][x];
                    const std::string where = std::to_string(width) + " wide, gamma " +
                                              std::to_string(gamma) + ", x " + std::to_string(x);
                    EXPECT_EQ(std::bit_cast<std::uint32_t>(q.B),
                              std::bit_cast<std::uint32_t>(PowerHdr(s.B, gamma)))
                        << where << ", B of " << s.B;
                    EXPECT_EQ(std::bit_cast<std::uint32_t>(q.G),
                              std::bit_cast<std::uint32_t>(PowerHdr(s.G, gamma)))
                        << where << ", G of " << s.G;
                    EXPECT_EQ(std::bit_cast<std::uint32_t>(q.R),
                              std::bit_cast<std::uint32_t>(PowerHdr(s.R, gamma)))
                        << where << ", R of " << s.R;
                }
        }
    }
}

TEST(SaveImageFile, StoresDpiAsDotsPerMetre)
{
    // 300 -> Trunc(11811.02 + 0.5) = 11811 -> 300.0; 96 -> 3780 -> 96.02 (4801 / 50);
    // 72 -> 2835 -> 72.0.
    TBmpHdr image = ByteImage(false);
    const TTempDir dir;
    TImageInfo info = SaveInfo(false);
    info.DpiX = 300.0f;
    info.DpiY = 96.0f;
    info.JpegFlags = JPEG_QUALITYSUPERB;
    for (const char* ext : {".png", ".tif", ".jpg", ".bmp"}) {
        const std::string name = dir.File(std::string("d") + ext);
        ASSERT_TRUE(SaveImageFile(name, *SaveFormatFromFileName(name), &image, info)) << ext;
        const TLoaded loaded = LoadFile(name);
        ASSERT_TRUE(loaded.Ok) << ext;
        EXPECT_EQ(loaded.Info.DpiX, 300.0f) << ext;
        EXPECT_EQ(loaded.Info.DpiY, 96.02f) << ext;
    }
    const std::string platform = dir.File("platform.jpg");
    ASSERT_TRUE(SaveAsJpegPlatform(platform, &image, info));
    const TLoaded loaded = LoadFile(platform);
    ASSERT_TRUE(loaded.Ok);
    EXPECT_EQ(loaded.Info.DpiX, 300.0f);
    // A resolution that does not fit leaves the default of 72.
    info.DpiX = std::numeric_limits<float>::quiet_NaN();
    info.DpiY = -5.0f;
    ASSERT_TRUE(SaveAsPng(dir.File("bad.png"), &image, info));
    const TLoaded fallback = LoadFile(dir.File("bad.png"));
    ASSERT_TRUE(fallback.Ok);
    EXPECT_EQ(fallback.Info.DpiX, 72.0f);
    EXPECT_EQ(fallback.Info.DpiY, 72.0f);
}

TEST(SaveImageFile, NanAndInfinityFileSavesWithNanAsZero)
{
    const TLoaded source = LoadData("hdr/synthetic_nan_inf_8x8_float.exr");
    ASSERT_TRUE(source.Ok);
    const TTempDir dir;
    ASSERT_TRUE(SaveAsExr(dir.File("n.exr"), &source.Image, SaveInfo(false, 1.0f, EXR_FLOAT)));
    const TLoaded exr = LoadFile(dir.File("n.exr"));
    ASSERT_TRUE(exr.Ok);
    const TPixelsHdr& px = exr.Image.Pixels;
    ExpectPixel(px[1][1], TColorHdr{0.5f, 0.5f, 0.0f, 1.0f}, "NaN R");
    ExpectPixel(px[6][6], TColorHdr{0.0f, 0.0f, 0.0f, 1.0f}, "NaN");
    ExpectPixel(px[1][2], TColorHdr{Inf, Inf, Inf, 1.0f}, "+inf");
    ExpectPixel(px[1][3], TColorHdr{0.5f, 0.5f, 0.0f, 1.0f}, "-inf R");
    EXPECT_FALSE(std::signbit(px[1][4].B));  // -0 written as +0
    EXPECT_EQ(px[1][5].B, 1e-40f);
    // Bytes: NaN and -inf clip to 0, +inf to 255.
    ASSERT_TRUE(SaveAsPng(dir.File("n.png"), &source.Image, SaveInfo(false)));
    const TLoaded png = LoadFile(dir.File("n.png"));
    ASSERT_TRUE(png.Ok);
    ExpectPixel(png.Image.Pixels[1][1], TColorHdr{128 / 255.0f, 128 / 255.0f, 0.0f, 1.0f},
                "png NaN");
    ExpectPixel(png.Image.Pixels[1][2], TColorHdr{1.0f, 1.0f, 1.0f, 1.0f}, "png +inf");
}

}  // namespace
}  // namespace lumivex
