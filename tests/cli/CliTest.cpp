#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "adjust/ToneCurve.h"
#include "cli/Cli.h"
#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/FreeImageApi.h"
#include "io/IsolatedLoad.h"

namespace lumivex {
namespace {

using test::SameBits;
using test::SmoothImage;
using test::TestDataPath;
using test::TTempDir;

struct TRun {
    int Code = -1;
    std::string Out;
    std::string Err;
};

TRun RunTool(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    TRun r;
    r.Code = RunCli(args, out, err);
    r.Out = out.str();
    r.Err = err.str();
    return r;
}

std::string Describe(const std::vector<std::string>& args)
{
    std::string s;
    for (const std::string& a : args)
        s += " " + a;
    return s;
}

// --no-freeimage and --threads change process-wide settings; every test leaves them as found.
class RunCliTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetFreeImageLibraryName("libfreeimage.so.3");
        SetThreadCount(0);
    }
};

struct TLoaded {
    bool Ok = false;
    TBmpHdr Image;
    TImageInfo Info;
};

TLoaded Load(const std::string& path, TLoadPath loadPath = TLoadPath::lpFreeImage)
{
    TLoaded r;
    r.Ok = LoadImageFile(path, &r.Image, r.Info, loadPath);
    return r;
}

std::vector<std::uint8_t> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

float MaxColourDifference(const TBmpHdr& a, const TBmpHdr& b)
{
    float worst = 0.0f;
    for (std::size_t y = 0; y < a.Pixels.size(); ++y)
        for (std::size_t x = 0; x < a.Pixels[y].size(); ++x) {
            const TColorHdr& p = a.Pixels[y][x];
            const TColorHdr& q = b.Pixels[y][x];
            worst =
                std::max({worst, std::fabs(p.B - q.B), std::fabs(p.G - q.G), std::fabs(p.R - q.R)});
        }
    return worst;
}

// The value after "key": in a one-line JSON object; a dotted key looks inside a nested object.
std::string JsonField(const std::string& json, const std::string& key)
{
    std::size_t from = 0;
    std::string last = key;
    if (const std::size_t dot = key.find('.'); dot != std::string::npos) {
        from = json.find("\"" + key.substr(0, dot) + "\":{");
        if (from == std::string::npos)
            return "<missing>";
        last = key.substr(dot + 1);
    }
    const std::string pattern = "\"" + last + "\":";
    const std::size_t at = json.find(pattern, from);
    if (at == std::string::npos)
        return "<missing>";
    const std::size_t begin = at + pattern.size();
    std::size_t end = begin;
    if (json[begin] == '"')
        end = json.find('"', begin + 1) + 1;
    else
        end = json.find_first_of(",}", begin);
    return json.substr(begin, end - begin);
}

float Number(const std::string& text)
{
    char* end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    EXPECT_TRUE(end != nullptr && *end == '\0' && !text.empty()) << "not a number: " << text;
    return v;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One line: "lumivex-cli: FILE: reason".
void ExpectOneLineNaming(const std::string& err, const std::string& file)
{
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(err.ends_with("\n")) << err;
    EXPECT_TRUE(err.starts_with("lumivex-cli: " + file + ": ")) << err;
    EXPECT_GT(err.size(), ("lumivex-cli: " + file + ": \n").size()) << err;
}

// ---------------------------------------------------------------------------------------------
// info

TEST_F(RunCliTest, InfoPrintsSizeKindDepthTransparencyDpiAndRanges)
{
    const std::string file = TestDataPath("probe/probe_rgba8.png");
    const TRun r = RunTool({"info", file});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(r.Err.empty()) << r.Err;
    const std::regex line(
        R"((.*): (\d+) x (\d+), (\w+), (\d+) bpp, (transparent|opaque), (\S+) x (\S+) dpi, )"
        R"(B (\S+) \.\. (\S+), G (\S+) \.\. (\S+), R (\S+) \.\. (\S+)\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.Out, m, line)) << r.Out;
    EXPECT_EQ(m[1], file);
    EXPECT_EQ(m[2], "5");
    EXPECT_EQ(m[3], "3");
    EXPECT_EQ(m[4], "ikStandard");
    EXPECT_EQ(m[5], "32");
    EXPECT_EQ(m[6], "transparent");
    EXPECT_EQ(Number(m[7]), 72.0f);
    EXPECT_EQ(Number(m[8]), 72.0f);
    // probe_values.txt: B bytes 10 .. 234, G and R 0 .. 255; printed so that they read back.
    EXPECT_EQ(Number(m[9]), 10 / 255.0f);
    EXPECT_EQ(Number(m[10]), 234 / 255.0f);
    EXPECT_EQ(Number(m[11]), 0.0f);
    EXPECT_EQ(Number(m[12]), 1.0f);
    EXPECT_EQ(Number(m[13]), 0.0f);
    EXPECT_EQ(Number(m[14]), 1.0f);
    // An opaque 16-bit file.
    const TRun rgb16 = RunTool({"info", TestDataPath("ldr/png_rgb16_256x128.png")});
    EXPECT_EQ(rgb16.Code, 0);
    EXPECT_NE(rgb16.Out.find(": 256 x 128, ikHighPrecision, 48 bpp, opaque, "), std::string::npos)
        << rgb16.Out;
    // Non-finite values are printed as such in text.
    const TRun nan = RunTool({"info", TestDataPath("hdr/synthetic_nan_inf_8x8_float.exr")});
    EXPECT_EQ(nan.Code, 0);
    EXPECT_NE(nan.Out.find("R -inf .. inf"), std::string::npos) << nan.Out;
}

TEST_F(RunCliTest, InfoJsonPrintsOneObjectPerFile)
{
    const std::string rgba = TestDataPath("probe/probe_rgba8.png");
    const std::string exr = TestDataPath("probe/probe_float.exr");
    const std::string peak = TestDataPath("hdr/synthetic_peak5_32x8.hdr");
    const std::string nan = TestDataPath("hdr/synthetic_nan_inf_8x8_float.exr");
    const std::string rgb16 = TestDataPath("probe/probe_rgba16.tif");
    const std::string dpi = TestDataPath("ldr/png_rgb8_300dpi_256x128.png");
    const TRun r = RunTool({"--json", "info", rgba, exr, peak, nan, rgb16, dpi});
    EXPECT_EQ(r.Code, 0) << r.Err;
    const std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 6u) << r.Out;
    for (const std::string& l : lines) {
        EXPECT_TRUE(l.starts_with("{\"file\":\"") && l.ends_with("}}")) << l;
        // JSON has no NaN or infinity (the file names may contain the words).
        for (const char* token : {":inf", ":-inf", ":nan", ":-nan"})
            EXPECT_EQ(l.find(token), std::string::npos) << l;
    }
    const std::string& a = lines[0];
    EXPECT_EQ(JsonField(a, "file"), "\"" + rgba + "\"");
    EXPECT_EQ(JsonField(a, "width"), "5");
    EXPECT_EQ(JsonField(a, "height"), "3");
    EXPECT_EQ(JsonField(a, "kind"), "\"ikStandard\"");
    EXPECT_EQ(JsonField(a, "bpp"), "32");
    EXPECT_EQ(JsonField(a, "transparent"), "true");
    EXPECT_EQ(Number(JsonField(a, "dpiX")), 72.0f);
    EXPECT_EQ(Number(JsonField(a, "dpiY")), 72.0f);
    EXPECT_EQ(Number(JsonField(a, "min.B")), 10 / 255.0f);
    EXPECT_EQ(Number(JsonField(a, "max.B")), 234 / 255.0f);
    EXPECT_EQ(Number(JsonField(a, "min.G")), 0.0f);
    EXPECT_EQ(Number(JsonField(a, "max.R")), 1.0f);
    // Float probe: B 0 .. 2, G 0.25 .. 4, R 0 .. 5 (probe_values.txt).
    const std::string& e = lines[1];
    EXPECT_EQ(JsonField(e, "kind"), "\"ikHighRange\"");
    EXPECT_EQ(JsonField(e, "bpp"), "96");
    EXPECT_EQ(JsonField(e, "transparent"), "false");
    EXPECT_EQ(Number(JsonField(e, "min.B")), 0.0f);
    EXPECT_EQ(Number(JsonField(e, "max.B")), 2.0f);
    EXPECT_EQ(Number(JsonField(e, "min.G")), 0.25f);
    EXPECT_EQ(Number(JsonField(e, "max.G")), 4.0f);
    EXPECT_EQ(Number(JsonField(e, "min.R")), 0.0f);
    EXPECT_EQ(Number(JsonField(e, "max.R")), 5.0f);
    // Peak: everything R 0.5, G 0.25, B 0.125, one grey pixel of 5.
    const std::string& p = lines[2];
    EXPECT_EQ(JsonField(p, "width"), "32");
    EXPECT_EQ(JsonField(p, "height"), "8");
    EXPECT_EQ(Number(JsonField(p, "min.B")), 0.125f);
    EXPECT_EQ(Number(JsonField(p, "min.G")), 0.25f);
    EXPECT_EQ(Number(JsonField(p, "min.R")), 0.5f);
    EXPECT_EQ(Number(JsonField(p, "max.G")), 5.0f);
    // NaN never wins; infinities become null; -0 is the smallest B.
    const std::string& n = lines[3];
    EXPECT_EQ(JsonField(n, "min.R"), "null");
    EXPECT_EQ(JsonField(n, "max.R"), "null");
    EXPECT_EQ(JsonField(n, "max.B"), "null");
    EXPECT_EQ(Number(JsonField(n, "min.B")), 0.0f);
    const std::string& w = lines[4];
    EXPECT_EQ(JsonField(w, "kind"), "\"ikHighPrecision\"");
    EXPECT_EQ(JsonField(w, "bpp"), "64");
    EXPECT_EQ(JsonField(w, "transparent"), "true");
    EXPECT_EQ(Number(JsonField(lines[5], "dpiX")), 300.0f);  // 11811 dots per metre
    EXPECT_EQ(Number(JsonField(lines[5], "dpiY")), 300.0f);
}

TEST_F(RunCliTest, InfoGoesOnAfterAnUnreadableFileAndFailsAtTheEnd)
{
    const TTempDir dir;
    const std::string missing = dir.File("missing.png");
    const std::string good = TestDataPath("probe/probe_rgb8.png");
    const TRun r = RunTool({"info", missing, good});
    EXPECT_EQ(r.Code, 1);
    ExpectOneLineNaming(r.Err, missing);
    EXPECT_EQ(Lines(r.Out).size(), 1u);
    EXPECT_TRUE(r.Out.starts_with(good + ": 5 x 3, ")) << r.Out;
    const TRun refused = RunTool({"info", TestDataPath("ldr/png_grey16_256x128.png")});
    EXPECT_EQ(refused.Code, 1);
    ExpectOneLineNaming(refused.Err, TestDataPath("ldr/png_grey16_256x128.png"));
    EXPECT_TRUE(refused.Out.empty());
}

// ---------------------------------------------------------------------------------------------
// convert

// A source with every byte value of B, G and R somewhere and partial alpha, made with the
// (separately tested) PNG writer.
std::string WriteSource(const TTempDir& dir, bool withAlpha)
{
    TBmpHdr image;
    image.SetSize(64, 12, clNoneHdr);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 64; ++x) {
            const int i = y * 64 + x;
            image.Pixels[y][x] = TColorHdr{(i % 256) / 255.0f, ((i * 7 + 3) % 256) / 255.0f,
                                           ((255 - i % 256 + y) % 256) / 255.0f,
                                           withAlpha ? ((i * 3) % 256) / 255.0f : 1.0f};
        }
    TImageInfo info;
    info.Transparent = withAlpha;
    const std::string name = dir.File(withAlpha ? "source_rgba.png" : "source.png");
    EXPECT_TRUE(SaveAsPng(name, &image, info)) << LastFileStatus().Message;
    return name;
}

std::string WriteSmooth(const TTempDir& dir)
{
    const TBmpHdr image = SmoothImage();
    const std::string name = dir.File("smooth.png");
    EXPECT_TRUE(SaveAsPng(name, &image, TImageInfo{}));
    return name;
}

TEST_F(RunCliTest, ConvertsToEveryFormatAndBack)
{
    const TTempDir dir;
    const std::string rgbaName = WriteSource(dir, true);
    const std::string rgbName = WriteSource(dir, false);
    const TLoaded rgba = Load(rgbaName);
    const TLoaded rgb = Load(rgbName);
    ASSERT_TRUE(rgba.Ok && rgb.Ok);
    // Lossless byte formats keep the bytes; PNG and TIFF keep alpha too.
    for (const char* ext : {".png", ".tif", ".tiff"}) {
        const std::string out = dir.File(std::string("a") + ext);
        const TRun r = RunTool({"convert", rgbaName, out});
        ASSERT_EQ(r.Code, 0) << ext << ": " << r.Err;
        EXPECT_TRUE(r.Out.empty() && r.Err.empty()) << r.Out << r.Err;
        const TLoaded back = Load(out);
        ASSERT_TRUE(back.Ok) << ext;
        EXPECT_TRUE(SameBits(back.Image, rgba.Image)) << ext;
        EXPECT_TRUE(back.Info.Transparent) << ext;
    }
    {
        const std::string out = dir.File("a.bmp");
        ASSERT_EQ(RunTool({"convert", rgbName, out}).Code, 0);
        const TLoaded back = Load(out);
        ASSERT_TRUE(back.Ok);
        EXPECT_TRUE(SameBits(back.Image, rgb.Image));
        // And back to PNG.
        const std::string png = dir.File("a_bmp.png");
        ASSERT_EQ(RunTool({"convert", out, png}).Code, 0);
        EXPECT_TRUE(SameBits(Load(png).Image, rgb.Image));
    }
    // JPEG at the default (superb) quality, on a smooth image: within 4 levels.
    const std::string smoothName = WriteSmooth(dir);
    const TLoaded smooth = Load(smoothName);
    for (const char* ext : {".jpg", ".jpeg"}) {
        const std::string out = dir.File(std::string("s") + ext);
        ASSERT_EQ(RunTool({"convert", smoothName, out}).Code, 0) << ext;
        const TLoaded back = Load(out);
        ASSERT_TRUE(back.Ok) << ext;
        EXPECT_LE(MaxColourDifference(back.Image, smooth.Image), 4.0f / 255.0f) << ext;
    }
    // Float formats of an 8-bit source get gamma 2.2 by default: v^2.2.
    ASSERT_EQ(RunTool({"convert", rgbName, dir.File("g.hdr")}).Code, 0);
    ASSERT_EQ(RunTool({"convert", rgbName, dir.File("g.exr")}).Code, 0);
    const TLoaded hdr = Load(dir.File("g.hdr"));
    const TLoaded exr = Load(dir.File("g.exr"));
    ASSERT_TRUE(hdr.Ok && exr.Ok);
    EXPECT_FALSE(exr.Info.Transparent);
    for (std::size_t y = 0; y < 12; ++y)
        for (std::size_t x = 0; x < 64; ++x) {
            const TColorHdr& s = rgb.Image.Pixels[y][x];
            const float expected[] = {PowerHdr(s.B, 2.2f), PowerHdr(s.G, 2.2f),
                                      PowerHdr(s.R, 2.2f)};
            const TColorHdr& h = hdr.Image.Pixels[y][x];
            const TColorHdr& e = exr.Image.Pixels[y][x];
            const float hs[] = {h.B, h.G, h.R};
            const float es[] = {e.B, e.G, e.R};
            const float top = std::max({expected[0], expected[1], expected[2]});
            for (int c = 0; c < 3; ++c) {
                // RGBE: within two mantissa steps of the largest component; half: 2^-11.
                ASSERT_LE(std::fabs(hs[c] - expected[c]), top / 64.0f) << x << "," << y;
                ASSERT_LE(std::fabs(es[c] - expected[c]), expected[c] * 0x1p-11f + 0x1p-25f)
                    << x << "," << y;
            }
        }
    // Gamma 1 into float EXR keeps the bytes' values exactly; back to PNG gives the bytes.
    const std::string linear = dir.File("linear.exr");
    ASSERT_EQ(RunTool({"convert", "--gamma", "1", "--exr-float", rgbaName, linear}).Code, 0);
    const TLoaded lin = Load(linear);
    ASSERT_TRUE(lin.Ok);
    EXPECT_TRUE(lin.Info.Transparent);
    EXPECT_TRUE(SameBits(lin.Image, rgba.Image));
    const std::string back = dir.File("linear_back.png");
    ASSERT_EQ(RunTool({"convert", linear, back}).Code, 0);
    EXPECT_TRUE(SameBits(Load(back).Image, rgba.Image));
    // The same through half floats: b / 255 moves by at most 2^-11 of itself, so the bytes
    // come back. RGBE keeps steps of 2^(e-8) of the largest component, at most 2^-7 for values
    // up to 1, and FreeImage's encoder truncates: at most two levels once rounded to bytes.
    ASSERT_EQ(RunTool({"convert", "--gamma", "1", rgbName, dir.File("half.exr")}).Code, 0);
    ASSERT_EQ(RunTool({"convert", dir.File("half.exr"), dir.File("half_back.png")}).Code, 0);
    EXPECT_TRUE(SameBits(Load(dir.File("half_back.png")).Image, rgb.Image));
    ASSERT_EQ(RunTool({"convert", "--gamma", "1", rgbName, dir.File("rgbe.hdr")}).Code, 0);
    ASSERT_EQ(RunTool({"convert", dir.File("rgbe.hdr"), dir.File("rgbe_back.png")}).Code, 0);
    EXPECT_LE(MaxColourDifference(Load(dir.File("rgbe_back.png")).Image, rgb.Image),
              2.0f / 255.0f + 1e-6f);
}

TEST_F(RunCliTest, ExrFloatIsLosslessWhereTheDefaultHalfIsNot)
{
    const TTempDir dir;
    const std::string source = TestDataPath("hdr/courtyard_256x128_float_zip.exr");
    const TLoaded original = Load(source);
    ASSERT_TRUE(original.Ok);
    // High-range input: gamma 1 by default; all its values are positive, so nothing changes.
    ASSERT_EQ(RunTool({"convert", "--exr-float", source, dir.File("f.exr")}).Code, 0);
    ASSERT_EQ(RunTool({"convert", source, dir.File("h.exr")}).Code, 0);
    const TLoaded full = Load(dir.File("f.exr"));
    const TLoaded half = Load(dir.File("h.exr"));
    ASSERT_TRUE(full.Ok && half.Ok);
    EXPECT_TRUE(SameBits(full.Image, original.Image));
    EXPECT_FALSE(SameBits(half.Image, original.Image));
    for (std::size_t y = 0; y < 128; ++y)
        for (std::size_t x = 0; x < 256; ++x) {
            const TColorHdr& a = half.Image.Pixels[y][x];
            const TColorHdr& b = original.Image.Pixels[y][x];
            ASSERT_LE(std::fabs(a.G - b.G), b.G * 0x1p-11f + 0x1p-25f) << x << "," << y;
        }
    EXPECT_GT(std::filesystem::file_size(dir.File("f.exr")),
              std::filesystem::file_size(dir.File("h.exr")));
}

TEST_F(RunCliTest, GammaDpiAndQualityReachTheWriters)
{
    const TTempDir dir;
    // --gamma 2 on the peak file: 0.5 -> 0.25, 0.25 -> 0.0625, 0.125 -> 0.015625, 5 -> 25.
    ASSERT_EQ(RunTool({"convert", "--gamma", "2", "--exr-float",
                       TestDataPath("hdr/synthetic_peak5_32x8.hdr"), dir.File("g.exr")})
                  .Code,
              0);
    const TLoaded g = Load(dir.File("g.exr"));
    ASSERT_TRUE(g.Ok);
    EXPECT_EQ(g.Image.Pixels[0][0].R, 0.25f);
    EXPECT_EQ(g.Image.Pixels[0][0].G, 0.0625f);
    EXPECT_EQ(g.Image.Pixels[0][0].B, 0.015625f);
    EXPECT_EQ(g.Image.Pixels[4][16].G, 25.0f);
    // --dpi for every writer that stores one; without it the input's resolution is kept.
    const std::string source = WriteSource(dir, false);
    for (const char* ext : {".png", ".tif", ".jpg", ".bmp"}) {
        const std::string out = dir.File(std::string("d") + ext);
        ASSERT_EQ(RunTool({"convert", "--dpi", "300", source, out}).Code, 0) << ext;
        const TLoaded loaded = Load(out);
        ASSERT_TRUE(loaded.Ok) << ext;
        EXPECT_EQ(loaded.Info.DpiX, 300.0f) << ext;
        EXPECT_EQ(loaded.Info.DpiY, 300.0f) << ext;
    }
    ASSERT_EQ(
        RunTool({"convert", TestDataPath("ldr/png_rgb8_300dpi_256x128.png"), dir.File("k.tif")})
            .Code,
        0);
    EXPECT_EQ(Load(dir.File("k.tif")).Info.DpiX, 300.0f);
    // --quality: a lower quality makes a smaller file that is further from the source, with
    // FreeImage's writer and with ours.
    const std::string smoothName = WriteSmooth(dir);
    const TLoaded smooth = Load(smoothName);
    for (const bool platform : {false, true}) {
        std::vector<std::string> options;
        if (platform)
            options.push_back("--no-freeimage");
        std::string previous;
        float previousError = 1.0f;
        std::uintmax_t previousSize = 0;
        // Through BMP for our writer: without FreeImage the PNG source cannot be read.
        const std::string input = platform ? dir.File("smooth.bmp") : smoothName;
        if (platform) {
            ASSERT_EQ(RunTool({"convert", smoothName, input}).Code, 0);
        }
        for (const char* quality : {"5", "50", "100"}) {
            std::vector<std::string> args = options;
            const std::string out =
                dir.File(std::string(platform ? "p" : "f") + "q" + quality + ".jpg");
            args.insert(args.end(), {"convert", "--quality", quality, input, out});
            const TRun r = RunTool(args);
            ASSERT_EQ(r.Code, 0) << Describe(args) << ": " << r.Err;
            SetFreeImageLibraryName("libfreeimage.so.3");
            const TLoaded loaded = Load(out);
            ASSERT_TRUE(loaded.Ok);
            const float error = MaxColourDifference(loaded.Image, smooth.Image);
            const std::uintmax_t size = std::filesystem::file_size(out);
            if (!previous.empty()) {
                EXPECT_GT(size, previousSize) << out << " vs " << previous;
                EXPECT_LE(error, previousError) << out << " vs " << previous;
            }
            previous = out;
            previousError = error;
            previousSize = size;
        }
        EXPECT_LE(previousError, 4.0f / 255.0f);  // quality 100
    }
}

// convert keeps an 8-bit file's bytes on the way to an 8-bit writer; the file is the one written
// through the float image (two flips make apply go that way), with every option applied.
TEST_F(RunCliTest, ConvertWritesAnEightBitFileAsThroughTheFloatImage)
{
    const TTempDir dir;
    for (const char* source :
         {"ldr/jpeg_300dpi_257x129.jpg", "ldr/png_rgb8_257x129.png",
          "ldr/png_rgba8_partial_alpha_256x128.png", "ldr/tif_rgb16_300dpi_257x129.tif"})
        for (const char* ext : {".jpg", ".png", ".tif", ".bmp"})
            for (const bool platform : {false, true}) {
                if (platform && std::string(ext) != ".jpg")
                    continue;
                std::vector<std::string> options = {"--dpi", "150", "--quality", "80"};
                if (platform)
                    options.insert(options.begin(), "--no-freeimage");
                const std::string converted = dir.File(std::string("c") + ext);
                const std::string flipped = dir.File(std::string("f") + ext);
                std::vector<std::string> convert = options;
                convert.insert(convert.end(), {"convert", TestDataPath(source), converted});
                std::vector<std::string> apply = options;
                apply.insert(apply.end(),
                             {"apply", TestDataPath(source), flipped, "fliphorz", "fliphorz"});
                const TRun c = RunTool(convert);
                const TRun a = RunTool(apply);
                SetFreeImageLibraryName("libfreeimage.so.3");  // --no-freeimage hid it
                ASSERT_EQ(c.Code, a.Code) << Describe(convert) << ": " << c.Err << a.Err;
                if (c.Code != 0)
                    continue;  // our reader takes JPEG and BMP only
                EXPECT_EQ(Bytes(converted), Bytes(flipped)) << Describe(convert);
            }
}

TEST_F(RunCliTest, OneAndTwoThreadsWriteIdenticalFiles)
{
    const TTempDir dir;
    const std::string source = TestDataPath("hdr/courtyard_256x128_float_zip.exr");
    for (const char* ext : {".png", ".tif", ".jpg", ".bmp", ".hdr", ".exr"}) {
        const std::string one = dir.File(std::string("one") + ext);
        const std::string two = dir.File(std::string("two") + ext);
        ASSERT_EQ(RunTool({"--threads", "1", "convert", source, one}).Code, 0) << ext;
        ASSERT_EQ(RunTool({"--threads", "2", "convert", source, two}).Code, 0) << ext;
        const std::vector<std::uint8_t> a = Bytes(one);
        EXPECT_FALSE(a.empty()) << ext;
        EXPECT_EQ(a, Bytes(two)) << ext;
    }
    ASSERT_EQ(RunTool({"--threads", "1", "info", source}).Out,
              RunTool({"--threads", "2", "info", source}).Out);
}

TEST_F(RunCliTest, WithoutFreeImageOnlyBmpAndJpegAreRead)
{
    const TTempDir dir;
    const std::string bmp = TestDataPath("probe/probe_rgba8.bmp");
    TRun r = RunTool({"--no-freeimage", "info", bmp});
    EXPECT_EQ(r.Code, 0) << r.Err;
    // The platform path is opaque at 72 dpi whatever the file holds.
    EXPECT_NE(r.Out.find(": 5 x 3, ikStandard, 32 bpp, opaque, 72 x 72 dpi, "), std::string::npos)
        << r.Out;
    EXPECT_EQ(RunTool({"--no-freeimage", "convert", bmp, dir.File("a.bmp")}).Code, 0);
    EXPECT_EQ(RunTool({"--no-freeimage", "convert", bmp, dir.File("a.jpg")}).Code, 0);
    EXPECT_EQ(RunTool({"--no-freeimage", "convert", dir.File("a.jpg"), dir.File("b.bmp")}).Code, 0);
    SetFreeImageLibraryName("libfreeimage.so.3");
    const TLoaded copy = Load(dir.File("a.bmp"));
    const TLoaded source = Load(bmp, TLoadPath::lpPlatform);
    ASSERT_TRUE(copy.Ok && source.Ok);
    EXPECT_TRUE(SameBits(copy.Image, source.Image));
    EXPECT_TRUE(Load(dir.File("b.bmp")).Ok);
    // Other output formats are a usage error; other inputs cannot be read.
    r = RunTool({"--no-freeimage", "convert", bmp, dir.File("a.png")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.png")));
    const std::string png = TestDataPath("probe/probe_rgb8.png");
    r = RunTool({"--no-freeimage", "convert", png, dir.File("c.bmp")});
    EXPECT_EQ(r.Code, 1);
    ExpectOneLineNaming(r.Err, png);
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.bmp")));
    r = RunTool({"--no-freeimage", "--version"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("FreeImage not available"), std::string::npos) << r.Out;
}

TEST_F(RunCliTest, HelpAndVersion)
{
    TRun r = RunTool({"--help"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Out.starts_with("Usage: lumivex-cli")) << r.Out;
    EXPECT_NE(r.Out.find("convert IN OUT"), std::string::npos);
    EXPECT_TRUE(r.Err.empty());
    r = RunTool({"--version"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Out.starts_with("lumivex-cli ")) << r.Out;
    EXPECT_NE(r.Out.find("FreeImage 3.18.0"), std::string::npos) << r.Out;
    EXPECT_EQ(Lines(r.Out).size(), 1u);
}

TEST_F(RunCliTest, BadUsageExitsWithTwoAndTouchesNothing)
{
    const TTempDir dir;
    const std::string in = TestDataPath("probe/probe_rgb8.png");
    const std::string out = dir.File("out.png");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--frobnicate", "info", in},
        {"info", "-x", in},
        {"info"},
        {"convert"},
        {"convert", in},
        {"convert", in, out, dir.File("third.png")},
        {"transmogrify", in},
        {"convert", "--gamma", in, out},  // the value is missing: "in" is not a number
        {"convert", in, out, "--gamma"},
        {"convert", "--gamma", "abc", in, out},
        {"convert", "--gamma", "1.5x", in, out},
        {"convert", "--gamma", "nan", in, out},
        {"convert", "--gamma", "inf", in, out},
        {"convert", "--gamma", "1e400", in, out},
        {"convert", "--gamma", "0", in, out},
        {"convert", "--gamma", "-1", in, out},
        {"convert", "--gamma", "10.5", in, out},
        {"convert", "--dpi", "0", in, out},
        {"convert", "--dpi", "100001", in, out},
        {"convert", "--quality", "0", in, out},
        {"convert", "--quality", "101", in, out},
        {"convert", "--quality", "50.5", in, out},
        {"convert", "--threads", "0", in, out},
        {"convert", "--threads", "65", in, out},
        {"convert", in, dir.File("out.gif")},
        {"convert", in, dir.File("out")},
        {"convert", in, dir.File("out.pfm")},
    };
    for (const std::vector<std::string>& args : cases) {
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Code, 2) << Describe(args);
        EXPECT_FALSE(r.Err.empty()) << Describe(args);
        EXPECT_TRUE(r.Out.empty()) << Describe(args);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    // The limits themselves are accepted.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--gamma", "10", "--dpi", "100000", "--quality", "1",
                                   "--threads", "64", "convert", in, dir.File("a.png")},
          std::vector<std::string>{"--gamma", "0.001", "--quality", "100", "--threads", "1",
                                   "convert", in, dir.File("b.jpg")}}) {
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Code, 0) << Describe(args) << ": " << r.Err;
    }
    // "--" ends the options: a file name may start with a dash.
    std::filesystem::copy_file(in, dir.File("-dash.png"));
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const TRun dashed = RunTool({"info", "--", "-dash.png"});
    const TRun option = RunTool({"info", "-dash.png"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(dashed.Code, 0) << dashed.Err;
    EXPECT_TRUE(dashed.Out.starts_with("-dash.png: 5 x 3")) << dashed.Out;
    EXPECT_EQ(option.Code, 2);
}

TEST_F(RunCliTest, AFailedConvertExitsWithOneLeavesNoOutputAndKeepsTheInput)
{
    const TTempDir dir;
    const std::string good = dir.File("good.png");
    std::filesystem::copy_file(TestDataPath("probe/probe_rgb8.png"), good);
    const std::string random = TestDataPath("bad/random_bytes.png");
    const std::string wide = TestDataPath("bad/png_valid_65536x1_too_wide.png");
    const std::string grey16 = TestDataPath("ldr/png_grey16_256x128.png");
    const std::string missing = dir.File("missing.png");
    struct TCase {
        std::string In;
        std::string Out;
    };
    const std::vector<TCase> cases = {
        {missing, dir.File("o1.png")},       // cannot open
        {random, dir.File("o2.png")},        // unknown contents
        {wide, dir.File("o3.png")},          // too large for the image model
        {grey16, dir.File("o4.tif")},        // no float conversion
        {good, dir.File("nowhere/o5.png")},  // the folder does not exist
        {good, dir.File("nowhere/o6.bmp")},
    };
    for (const TCase& c : cases) {
        const bool inExists = std::filesystem::exists(c.In);
        const std::vector<std::uint8_t> before =
            inExists ? Bytes(c.In) : std::vector<std::uint8_t>{};
        const auto time =
            inExists ? std::filesystem::last_write_time(c.In) : std::filesystem::file_time_type{};
        const TRun r = RunTool({"convert", c.In, c.Out});
        EXPECT_EQ(r.Code, 1) << c.In << " -> " << c.Out;
        // The message names the file that failed: the input, or the output it could not write.
        ExpectOneLineNaming(r.Err, c.In == good ? c.Out : c.In);
        EXPECT_FALSE(std::filesystem::exists(c.Out)) << c.Out;
        if (inExists) {
            EXPECT_EQ(Bytes(c.In), before) << c.In;
            EXPECT_EQ(std::filesystem::last_write_time(c.In), time) << c.In;
        }
    }
    // An existing output is kept when the input cannot be read.
    const std::string kept = dir.File("kept.png");
    std::filesystem::copy_file(good, kept);
    const std::vector<std::uint8_t> keptBytes = Bytes(kept);
    EXPECT_EQ(RunTool({"convert", random, kept}).Code, 1);
    EXPECT_EQ(Bytes(kept), keptBytes);
    // Only the files made here are in the folder: no temporary file was left behind.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"good.png", "kept.png"}));
}

TEST_F(RunCliTest, TheProgramReturnsTheExitCodes)
{
    const TTempDir dir;
    const std::string cli = LUMIVEX_CLI_PATH;
    ASSERT_TRUE(std::filesystem::exists(cli)) << cli;
    auto exitCode = [](const std::string& command) {
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string in = TestDataPath("probe/probe_rgb8.png");
    EXPECT_EQ(exitCode("'" + cli + "' convert '" + dir.File("missing.png") + "' '" +
                       dir.File("out.png") + "'"),
              1);
    EXPECT_EQ(exitCode("'" + cli + "' convert '" + TestDataPath("bad/random_bytes.jpg") + "' '" +
                       dir.File("out.png") + "'"),
              1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
    EXPECT_EQ(
        exitCode("'" + cli + "' convert --quality 0 '" + in + "' '" + dir.File("out.jpg") + "'"),
        2);
    EXPECT_EQ(exitCode("'" + cli + "' convert '" + in + "' '" + dir.File("out.tif") + "'"), 0);
    EXPECT_TRUE(Load(dir.File("out.tif")).Ok);
    // The message goes to stderr, nothing to stdout.
    const std::string errFile = dir.File("err.txt");
    const std::string outFile = dir.File("out.txt");
    std::system(("'" + cli + "' convert '" + dir.File("missing.png") + "' '" + dir.File("x.png") +
                 "' >'" + outFile + "' 2>'" + errFile + "'")
                    .c_str());
    const std::vector<std::uint8_t> err = Bytes(errFile);
    ExpectOneLineNaming(std::string(err.begin(), err.end()), dir.File("missing.png"));
    EXPECT_TRUE(Bytes(outFile).empty());
}

}  // namespace
}  // namespace lumivex
