#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "cli/Cli.h"
#include "cli/Operations.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "io/FreeHdr.h"
#include "io/IsolatedLoad.h"

using namespace lumivex;
using lumivex::test::SameBits;
using lumivex::test::TestDataPath;
using lumivex::test::TTempDir;

namespace {

struct TRun {
    int Code;
    std::string Out;
    std::string Err;
};

TRun RunTool(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli(args, out, err);
    return TRun{code, out.str(), err.str()};
}

TBmpHdr Load(const std::string& name)
{
    TBmpHdr image;
    TImageInfo info;
    EXPECT_TRUE(LoadImageFile(name, &image, info)) << name;
    return image;
}

}  // namespace

TEST(ParseOperation, ReadsKeysColoursAndRegionsWithDefaults)
{
    const TOperation tone = ParseOperation("tonemap:method=2,exposure=-4");
    EXPECT_EQ(tone.Def->Name, "tonemap");
    EXPECT_EQ(tone.Args.I("method"), 2);
    EXPECT_EQ(tone.Args.I("exposure"), -4);
    EXPECT_EQ(tone.Args.Rect, MaxRectHdr);

    const TOperation fill = ParseOperation("fillrectmode:color=1,0.5,0,1,rect=1,2,3,4");
    EXPECT_EQ(fill.Args.Values.at("color"), (std::vector<double>{1.0, 0.5, 0.0, 1.0}));
    EXPECT_EQ(fill.Args.Rect, (TRect{1, 2, 3, 4}));
    EXPECT_EQ(fill.Args.F("opacity"), 0.5f);  // default
    EXPECT_EQ(fill.Args.I("mode"), 0);

    EXPECT_EQ(ParseOperation("negative").Def->Name, "negative");
    EXPECT_EQ(ParseOperation("gamma:gammag=2").Args.F("gammab"), 1.0f);
}

TEST(ParseOperation, RefusesUnknownNamesKeysBadNumbersAndOutOfRangeValues)
{
    auto message = [](const std::string& word) {
        try {
            ParseOperation(word);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(message("blurr").find("unknown operation"), std::string::npos);
    EXPECT_NE(message("offset:ofset=0.1").find("unknown key \"ofset\""), std::string::npos);
    EXPECT_NE(message("offset:offset=abc").find("offset"), std::string::npos);
    EXPECT_NE(message("offset:offset=0.6").find("outside -0.5..0.5"), std::string::npos);
    EXPECT_NE(message("tonemap:method=1.5").find("whole number"), std::string::npos);
    EXPECT_NE(message("tonemap:exposure=9").find("exposure"), std::string::npos);
    EXPECT_NE(message("fillrectmode:color=1,0,0").find("4"), std::string::npos);
    EXPECT_NE(message("negative:rect=0,0,2").find("rect"), std::string::npos);
    EXPECT_NE(message("offset:offset=nan").find("not a number"), std::string::npos);
    EXPECT_NE(message("offset:0.1").find("key=value"), std::string::npos);
    EXPECT_NE(message("gaussblurfast:radius=0").find("outside 0.1..50"), std::string::npos);
    EXPECT_NE(message("unsharpmaskfull:radiusx=31").find("radiusx"), std::string::npos);
    EXPECT_NE(message("blurfast:sensitivity=1").find("unknown key"), std::string::npos);
    EXPECT_NE(message("localtonemap:method=3").find("method"), std::string::npos);
    EXPECT_NE(message("localtonemap:radius=2.5").find("whole number"), std::string::npos);
    EXPECT_NE(message("microdetails:amount=-1.5").find("amount"), std::string::npos);
    EXPECT_NE(message("resize:newwidth=0").find("outside 1..65535"), std::string::npos);
    EXPECT_NE(message("resize:newheight=65536").find("newheight"), std::string::npos);
    EXPECT_NE(message("resize:filterindex=7").find("outside 0..6"), std::string::npos);
    EXPECT_NE(message("resize:support=-1").find("support"), std::string::npos);
    EXPECT_NE(message("rotate:interpolation=5").find("interpolation"), std::string::npos);
    EXPECT_NE(message("rotate:angle=361").find("angle"), std::string::npos);
    EXPECT_NE(message("rotate:adjustsize=2").find("adjustsize"), std::string::npos);
    EXPECT_NE(message("rotate:background=nothing").find("4 numbers"), std::string::npos);
    EXPECT_NE(message("rotate:background=1,1,1").find("background"), std::string::npos);
    EXPECT_NE(message("fillrectmode:color=none").find("color"), std::string::npos);
    // "none" is the one word a background takes: no colour, the edges are extended.
    const TOperation none = ParseOperation("rotate:angle=12.25,background=none");
    EXPECT_EQ(none.Args.Values.at("background"), (std::vector<double>{-1.0, -1.0, -1.0, -1.0}));
    EXPECT_EQ(ParseOperation("rotate").Args.Values.at("background"),
              (std::vector<double>{1.0, 1.0, 1.0, 1.0}));  // white, as the dialog
}

TEST(ParseOperation, EveryOperationRunsWithItsDefaultsOnAnImage)
{
    for (const TOperationDef& def : OperationTable()) {
        TBmpHdr image;
        image.SetSize(3, 2, ColorHdr(0.25f, 0.5f, 0.75f, 1.0f));
        const TOperation op = ParseOperation(def.Name);
        op.Def->Run(image, op.Args);
        // The quarter turns swap the size; resize defaults to 100 x 100.
        const bool turn = def.Name == "rotate90cw" || def.Name == "rotate90ccw";
        const int width = def.Name == "resize" ? 100 : (turn ? 2 : 3);
        ASSERT_EQ(image.Width(), width) << def.Name;
        EXPECT_EQ(image.Pixels[image.Height() - 1][width - 1].A, 1.0f)
            << def.Name;  // no default touches alpha
    }
    EXPECT_NE(RunTool({"ops"}).Out.find("channellevels"), std::string::npos);
}

TEST(RunCliApply, RunsOperationsLeftToRightAndSavesLikeConvert)
{
    TTempDir dir;
    const std::string out = dir.File("negative.exr");
    // Two negatives cancel; the region limits the third to the top-left pixel.
    const TRun run = RunTool({"apply", TestDataPath("probe/probe_float.exr"), out, "negative",
                              "--exr-float", "negative", "negative:rect=0,0,1,1"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const TBmpHdr source = Load(TestDataPath("probe/probe_float.exr"));
    const TBmpHdr result = Load(out);
    ASSERT_EQ(result.Width(), source.Width());
    EXPECT_EQ(result.Pixels[0][0].G, 1.0f - source.Pixels[0][0].G);  // 1 - 0.25
    EXPECT_EQ(result.Pixels[2][4].R, source.Pixels[2][4].R);         // 5.0 survives twice
}

TEST(RunCliApply, ResizesAndTurnsFiles)
{
    TTempDir dir;
    const std::string in = TestDataPath("hdr/courtyard_256x128_float_zip.exr");
    const std::string resized = dir.File("resized.exr");
    TRun run = RunTool(
        {"apply", in, resized, "--exr-float", "resize:newwidth=100,newheight=77,filterindex=6"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    TBmpHdr result = Load(resized);
    EXPECT_EQ(result.Width(), 100);
    EXPECT_EQ(result.Height(), 77);
    float minimum = 0.0f;
    float maximum = 0.0f;
    result.GetMinMax(minimum, maximum, MaxRectHdr);
    EXPECT_LE(maximum, 1.0f);  // the resampler clamps
    EXPECT_GE(minimum, 0.0f);

    // A clockwise quarter turn, then a free rotation that fits the canvas: 128 x 256 at
    // 90 degrees is 256 x 128 again, and four quarter turns in all give back the source.
    const std::string turned = dir.File("turned.exr");
    run = RunTool({"apply", in, turned, "--exr-float", "rotate90cw"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    result = Load(turned);
    EXPECT_EQ(result.Width(), 128);
    EXPECT_EQ(result.Height(), 256);
    run = RunTool({"apply", in, turned, "--exr-float", "rotate90cw", "rotate90cw", "rotate180",
                   "rotate:angle=90,adjustsize=1,interpolation=0", "rotate90ccw"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_TRUE(SameBits(Load(turned), Load(in)));
}

TEST(RunCliApply, BadOperationsAreUsageErrorsAndWriteNothing)
{
    TTempDir dir;
    const std::string out = dir.File("out.png");
    const std::string in = TestDataPath("probe/probe_rgb8.png");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"apply", in, out, "offset:offset=2"},
          std::vector<std::string>{"apply", in, out, "nosuchop"},
          std::vector<std::string>{"apply", in, out},
          std::vector<std::string>{"apply", in, dir.File("out.xyz"), "negative"}}) {
        const TRun run = RunTool(args);
        EXPECT_EQ(run.Code, 2) << args.back();
        EXPECT_FALSE(run.Err.empty());
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(RunCliApply, BatchGoesOnPastAFailingFileAndReportsIt)
{
    TTempDir dir;
    const TRun run =
        RunTool({"apply", "--out-dir", dir.Path().string(), "--format", "png",
                 TestDataPath("probe/probe_rgb8.png"), TestDataPath("bad/zero_bytes.png"),
                 TestDataPath("ldr/bmp24_3x5.bmp"), "--", "negative", "grayscale:mode=3"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("zero_bytes.png"), std::string::npos);
    EXPECT_NE(run.Err.find("2 of 3 files done"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.File("probe_rgb8_HD.png")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("bmp24_3x5_HD.png")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("zero_bytes_HD.png")));
    const TBmpHdr grey = Load(dir.File("bmp24_3x5_HD.png"));
    EXPECT_EQ(grey.Pixels[0][0].B, grey.Pixels[0][0].R);

    EXPECT_EQ(RunTool({"apply", "--out-dir", dir.Path().string(), "negative"}).Code, 2);
    // A folder name the system refuses (longer than a name may be) is a usage error with the
    // system's reason, not an exception out of the tool.
    const TRun tooLong = RunTool({"apply", "--out-dir", std::string(300, 'W'),
                                  TestDataPath("ldr/bmp24_3x5.bmp"), "--", "negative"});
    EXPECT_EQ(tooLong.Code, 2);
    EXPECT_NE(tooLong.Err.find("File name too long"), std::string::npos) << tooLong.Err;
    // Two inputs that would write one output are refused before anything is written.
    TTempDir other;
    const TRun clash = RunTool({"apply", "--out-dir", other.Path().string(), "--format", "png",
                                TestDataPath("probe/probe_rgb8.png"),
                                TestDataPath("probe/probe_rgb8.bmp"), "--", "negative"});
    EXPECT_EQ(clash.Code, 2);
    EXPECT_TRUE(std::filesystem::is_empty(other.Path()));
}

TEST(RunCliHistogram, PrintsTheFourChannelsAndTheBinsInJson)
{
    // A black-and-white probe is not needed: a 1x1 PNG has one value per channel.
    const TRun run = RunTool({"histogram", TestDataPath("ldr/png_rgb8_1x1.png"), "--bins", "4"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    for (const char* name : {"luminosity:", "red:", "green:", "blue:"})
        EXPECT_NE(run.Out.find(name), std::string::npos) << name;

    const TRun json =
        RunTool({"histogram", TestDataPath("probe/probe_rgb8.png"), "--json", "--bins", "8"});
    ASSERT_EQ(json.Code, 0) << json.Err;
    EXPECT_NE(json.Out.find("\"bins\":["), std::string::npos);
    EXPECT_EQ(RunTool({"histogram", TestDataPath("probe/probe_rgb8.png"), "--rect", "1,2"}).Code,
              2);
    EXPECT_EQ(RunTool({"histogram", TestDataPath("bad/zero_bytes.png")}).Code, 1);
}

TEST(Operations, GiveTheSameBitsOnRealImagesForOneTwoAndSevenThreads)
{
    const std::vector<std::string> words = {
        "shifttopositive",
        "tonemap:method=0,exposure=3",
        "tonemap:method=1,exposure=-1",
        "tonemap:method=2,exposure=2",
        "tonemap:method=3",
        "offset:offset=0.1",
        "brightness:amountb=-0.3,amountg=0.2,amountr=0.5",
        "contrast:amount=0.4",
        "contrastchannels:amountb=0.5,amountg=-0.3,amountr=1",
        "gamma:gammab=2.2,gammag=0.5,gammar=1.3",
        "scurve:powerb=2,powerg=0.5,powerr=3",
        "levelslinear:low=0.1,high=0.9,pivot=0.4,amount=0.3",
        "levelscurve:low=0.1,high=0.9,pivot=0.4,exponent=2",
        "saturation:amount=-0.6",
        "saturationchannels:amountb=0.5,amountg=-0.4,amountr=1",
        "hue:shift=0.3",
        "grayscale:mode=1",
        "fillrectmode:color=1,0.5,0,1,mode=1,opacity=0.7",
        "negative",
        "setalpha:value=0.6",
        "levels:gamma=2,inlow=0.1,inhigh=0.8",
        "channellevels:gammar=1.5,inlowb=0.2,outhighg=0.9",
        "normalize",
        "normalizechannels",
        "blurfast:radius=2.5",
        "blurfull:radiusx=2,radiusy=0",
        "gaussblurfast:radius=7,sensitivity=0.3",
        "gaussblurfull:radiusx=3,radiusy=2",
        "unsharpmaskfast",
        "unsharpmaskfull:radiusx=2,radiusy=2,sensitivity=0",
        "softenfast:radius=4",
        "softenfull:radiusx=1.5,radiusy=1.5",
        "localtonemap:method=0,radius=5,exposure=2,offset=0.1",
        "localtonemap:method=1,radius=1",
        "localtonemap:method=2,radius=30,exposure=-3",
        "microdetails:amount=-0.5,radius=4",
        "microdetails:amount=1,radius=0.1",
        "fliphorz",
        "flipvert:rect=1,1,40,50",
        "rotate180",
        "rotate90cw",
        "rotate90ccw",
        "resize:newwidth=97,newheight=301,filterindex=0",
        "resize:newwidth=300,newheight=40,filterindex=1",
        "resize:newwidth=31,newheight=17,filterindex=2",
        "resize:newwidth=5,newheight=400,filterindex=3",
        "resize:newwidth=200,newheight=200,filterindex=4,support=3",
        "resize:newwidth=77,newheight=45,filterindex=5",
        "resize:newwidth=1,newheight=90,filterindex=6",
        "rotate:angle=17,interpolation=0",
        "rotate:angle=-33.33,interpolation=1,adjustsize=1,background=0.2,0.4,0.6,0",
        "rotate:angle=45,interpolation=2,background=none",
        "rotate:angle=123.45,interpolation=3,adjustsize=1",
        "rotate:angle=-290,interpolation=4,adjustsize=1,background=none",
    };
    for (const char* file :
         {"hdr/courtyard_256x128_float_zip.exr", "ldr/jpeg_300dpi_257x129.jpg",
          "ldr/png_rgba8_partial_alpha_256x128.png", "hdr/synthetic_nan_inf_8x8_float.exr"}) {
        const TBmpHdr source = Load(TestDataPath(file));
        for (const std::string& word : words) {
            const TOperation op = ParseOperation(word);
            TBmpHdr results[3];
            const int threads[3] = {1, 2, 7};
            for (int t = 0; t < 3; ++t) {
                SetThreadCount(threads[t]);
                results[t].Assign(&source);
                op.Def->Run(results[t], op.Args);
            }
            EXPECT_TRUE(SameBits(results[0], results[1])) << file << " " << word;
            EXPECT_TRUE(SameBits(results[0], results[2])) << file << " " << word;
        }
    }
    SetThreadCount(0);
}
