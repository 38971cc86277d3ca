#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "TestImages.h"
#include "adjust/ToneCurve.h"
#include "cli/Cli.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "io/FreeHdr.h"
#include "io/FreeImageApi.h"
#include "io/IsolatedLoad.h"
#include "merge/MergeFiles.h"
#include "merge/MergeHdr.h"

namespace lumivex {
namespace {

using test::SameBits;
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

std::vector<std::string> Courtyard()
{
    std::vector<std::string> files;
    for (const char* ev : {"-2", "+0", "+2"})
        files.push_back(
            TestDataPath(std::string("brackets/courtyard_3ev/courtyard_ev") + ev + ".jpg"));
    return files;
}

std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& in,
                              const std::vector<std::string>& tail = {})
{
    head.insert(head.end(), in.begin(), in.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The engine's result for the files, as the dialog would produce it.
TBmpHdr Merged(const std::vector<std::string>& files, TMergeMode mode, bool automatic)
{
    TBmpList list;
    std::size_t failed = 0;
    EXPECT_TRUE(AddMergeFiles(list, files, TLoadPath::lpAuto, failed));
    list.Mode = mode;
    if (automatic)
        list.ComputeAutoExposure();
    TBmpHdr image;
    list.Merge(&image);
    return image;
}

TBmpHdr Load(const std::string& name)
{
    TBmpHdr image;
    TImageInfo info;
    EXPECT_TRUE(LoadImageFile(name, &image, info)) << name;
    return image;
}

// The image with gamma applied to B, G, R, as the float writers do.
TBmpHdr WithGamma(const TBmpHdr& image, float gamma)
{
    TBmpHdr out;
    out.Assign(&image);
    for (auto& row : out.Pixels)
        for (TColorHdr& p : row) {
            p.B = PowerHdr(p.B, gamma);
            p.G = PowerHdr(p.G, gamma);
            p.R = PowerHdr(p.R, gamma);
        }
    return out;
}

std::string FileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MergeCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!IsFreeImageAvailable())
            GTEST_SKIP() << "FreeImage is needed to write OpenEXR";
    }
    void TearDown() override
    {
        SetFreeImageLibraryName("libfreeimage.so.3");
        SetThreadCount(0);
    }
};

}  // namespace

TEST_F(MergeCliTest, DefaultsAreLogarithmicWithAutomaticExposureSavedAsAStandardImage)
{
    TTempDir dir;
    const std::string out = dir.File("merged.exr");
    const TRun r = RunTool(Args({"merge", out}, Courtyard(), {"--exr-float"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(r.Out.empty());
    // A merged document is of standard kind, so OpenEXR gets gamma 2.2.
    const TBmpHdr expected = WithGamma(Merged(Courtyard(), TMergeMode::mmLogaritmic, true), 2.2f);
    EXPECT_TRUE(SameBits(Load(out), expected));

    const std::string linear = dir.File("linear.exr");
    ASSERT_EQ(RunTool(Args({"merge", linear}, Courtyard(), {"--exr-float", "--gamma", "1"})).Code,
              0);
    EXPECT_TRUE(SameBits(Load(linear), Merged(Courtyard(), TMergeMode::mmLogaritmic, true)));
}

TEST_F(MergeCliTest, ModesAndTheExposureSwitch)
{
    TTempDir dir;
    struct TCase {
        const char* Mode;
        const char* Auto;
        TMergeMode Expected;
        bool Automatic;
    };
    for (const TCase& c : {TCase{"average", "off", TMergeMode::mmAverage, false},
                           TCase{"weighted", "on", TMergeMode::mmWeighted, true},
                           TCase{"logaritmic", "off", TMergeMode::mmLogaritmic, false}}) {
        const std::string out = dir.File(std::string(c.Mode) + c.Auto + ".exr");
        const TRun r = RunTool(Args({"merge", "--mode", c.Mode, out}, Courtyard(),
                                    {"--auto-exposure", c.Auto, "--exr-float", "--gamma", "1"}));
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_TRUE(SameBits(Load(out), Merged(Courtyard(), c.Expected, c.Automatic)))
            << c.Mode << " " << c.Auto;
    }
}

TEST_F(MergeCliTest, TheSameFileForAnyThreadCountAndJpegOutput)
{
    TTempDir dir;
    const std::string one = dir.File("one.exr");
    const std::string seven = dir.File("seven.exr");
    ASSERT_EQ(RunTool(Args({"merge", "--threads", "1", one}, Courtyard())).Code, 0);
    ASSERT_EQ(RunTool(Args({"merge", "--threads", "7", seven}, Courtyard())).Code, 0);
    EXPECT_EQ(FileBytes(one), FileBytes(seven));

    const std::string jpeg = dir.File("merged.jpg");
    const TRun r = RunTool(Args({"merge", jpeg}, Courtyard(), {"--no-freeimage"}));
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Load(jpeg).Width(), 256);
}

TEST_F(MergeCliTest, RefusesABadFrameOrAnotherSizeNamingTheFile)
{
    TTempDir dir;
    const std::string out = dir.File("merged.exr");
    std::vector<std::string> files = Courtyard();
    files[1] = TestDataPath("bad/truncated_after_sof.jpg");
    TRun r = RunTool(Args({"merge", out}, files));
    EXPECT_EQ(r.Code, ceFailure);
    EXPECT_NE(r.Err.find("truncated_after_sof.jpg"), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(out));

    const std::string set = "brackets/size_mismatch_height/interior_ev";
    r = RunTool(Args({"merge", out}, {TestDataPath(set + "-2.jpg"), TestDataPath(set + "+0.jpg"),
                                      TestDataPath(set + "+2.jpg")}));
    EXPECT_EQ(r.Code, ceFailure);
    EXPECT_NE(r.Err.find("interior_ev+2.jpg: the image is 256 x 127, the first one 256 x 128"),
              std::string::npos)
        << r.Err;
    EXPECT_FALSE(std::filesystem::exists(out));

    r = RunTool(Args({"merge", out}, {TestDataPath(set + "-2.jpg"), dir.File("missing.jpg")}));
    EXPECT_EQ(r.Code, ceFailure);
    EXPECT_NE(r.Err.find("missing.jpg"), std::string::npos) << r.Err;
}

TEST_F(MergeCliTest, UsageErrors)
{
    TTempDir dir;
    const std::string out = dir.File("merged.exr");
    const std::vector<std::string> in = Courtyard();
    EXPECT_EQ(RunTool({"merge", out, in[0]}).Code, ceUsage);  // one photograph is no merge
    EXPECT_EQ(RunTool({"merge", out, in[0], in[0]}).Code, ceUsage);
    EXPECT_EQ(RunTool(Args({"merge", dir.File("merged.xyz")}, in)).Code, ceUsage);
    const TRun mode = RunTool(Args({"merge", out}, in, {"--mode", "extrapolate"}));
    EXPECT_EQ(mode.Code, ceUsage);
    EXPECT_NE(mode.Err.find("average, logaritmic or weighted"), std::string::npos);
    EXPECT_EQ(RunTool(Args({"merge", out}, in, {"--auto-exposure", "yes"})).Code, ceUsage);
    EXPECT_FALSE(std::filesystem::exists(out));

    // A name given twice counts once, as in the dialog's list.
    const TRun twice = RunTool({"merge", "--gamma", "1", "--exr-float", out, in[0], in[2], in[0]});
    ASSERT_EQ(twice.Code, 0) << twice.Err;
    EXPECT_NE(twice.Err.find("listed twice"), std::string::npos);
    EXPECT_TRUE(SameBits(Load(out), Merged({in[0], in[2]}, TMergeMode::mmLogaritmic, true)));

    const TRun help = RunTool({"--help"});
    EXPECT_NE(help.Out.find("merge OUT IN1 IN2"), std::string::npos);
}

}  // namespace lumivex
