#include <gtest/gtest.h>

#include "app/Labels.h"

namespace lumivex {
namespace {

TEST(CleanCaption, StripsMnemonicsEllipsisColonAndBlanks)
{
    EXPECT_EQ(CleanCaption("&Gaussian blur..."), "Gaussian blur");
    EXPECT_EQ(CleanCaption("Negative"), "Negative");
    EXPECT_EQ(CleanCaption("  Radius: "), "Radius:");  // the colon is not last before trimming
    EXPECT_EQ(CleanCaption(" Radius :"), "Radius");
    EXPECT_EQ(CleanCaption("Levels..:"), "Levels..");  // "..." first, then only one ":"
    EXPECT_EQ(CleanCaption("Black && white"), "Black & white");
    EXPECT_EQ(CleanCaption("..."), "");
    EXPECT_EQ(CleanCaption(""), "");
}

TEST(MakeLabel, CapitalisesAndDecoratesByKind)
{
    EXPECT_EQ(MakeLabel("processing", 1), "Processing...");
    EXPECT_EQ(MakeLabel("&radius...", 0), " Radius ");
    EXPECT_EQ(MakeLabel("Radius", 2), "Radius :");
    EXPECT_EQ(MakeLabel("Radius", 3), "- Radius");
    EXPECT_EQ(MakeLabel("", 1), "");
}

TEST(MakeValueFormat, AppendsOneValueFormat)
{
    EXPECT_EQ(MakeValueFormat("Radius", 1), "Radius : %.2f");
    EXPECT_EQ(MakeValueFormat("Amount", 0), "Amount : %d");
    EXPECT_EQ(MakeValueFormat("Opacity", 2), "Opacity : %d%%");
    EXPECT_EQ(MakeValueFormat("Hue", 3), "Hue : %d\xC2\xB0");  // U+00B0 in UTF-8
    EXPECT_EQ(MakeValueFormat("", 3), "");
}

TEST(SizeText, PicksTheUnitAndTwoDecimals)
{
    EXPECT_EQ(SizeText(0), "0 byte");
    EXPECT_EQ(SizeText(1), "1 byte");
    EXPECT_EQ(SizeText(2), "2 bytes");
    EXPECT_EQ(SizeText(1023), "1023 bytes");
    EXPECT_EQ(SizeText(1024), "1.00 Kb");
    EXPECT_EQ(SizeText(256 * 128 * 16), "512.00 Kb");       // 524288 / 1024
    EXPECT_EQ(SizeText(3 * 1024 * 1024 / 2), "1.50 Mb");    // 1572864 / 1048576
    EXPECT_EQ(SizeText(65535LL * 65535 * 16), "64.00 Gb");  // 68716134400 / 2^30 = 63.9990...
}

}  // namespace
}  // namespace lumivex
