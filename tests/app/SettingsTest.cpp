#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "TestData.h"
#include "app/DialogSettings.h"
#include "app/Settings.h"

namespace lumivex {
namespace {

using test::TTempDir;

class TFakeWindow : public TWindowStateTarget {
public:
    bool Maximized = false;
    std::optional<TRect> Bounds;  // set by LoadWindowState
    TRect Current{10, 20, 872, 611};
    std::vector<TRect> Screens;

    TFakeWindow() { Screens.push_back(TRect{0, 0, 1920, 1080}); }

    bool IsMaximized() const override { return Maximized; }
    void SetMaximized() override { Maximized = true; }
    TRect BoundsRect() const override { return Current; }
    void SetBoundsRect(const TRect& bounds) override { Bounds = bounds; }
    std::vector<TRect> ScreenRects() const override { return Screens; }
};

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TFakeWindow LoadFrom(const std::string& text, const TTempDir& dir)
{
    const std::string path = dir.File("LumivexHD.ini");
    WriteFile(path, text);
    TFakeWindow window;
    LoadWindowState(path, window);
    return window;
}

// Sets an environment variable for one test and puts the old value back.
class TEnv {
public:
    TEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }
    TEnv(const TEnv&) = delete;
    TEnv& operator=(const TEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(SettingsFolder, FollowsTheUsersConfigurationFolder)
{
    {
        TEnv xdg("XDG_CONFIG_HOME", "/tmp/cfg");
        EXPECT_EQ(SettingsFolder(), "/tmp/cfg/LumivexHD");
    }
    {
        TEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // ignored: not absolute
        TEnv home("HOME", "/home/someone");
        EXPECT_EQ(SettingsFolder(), "/home/someone/.config/LumivexHD");
    }
    {
        TEnv xdg("XDG_CONFIG_HOME", nullptr);
        TEnv home("HOME", "/home/other");
        EXPECT_EQ(SettingsFolder(), "/home/other/.config/LumivexHD");
        EXPECT_EQ(MainSettingsFile(SettingsFolder()),
                  "/home/other/.config/LumivexHD/LumivexHD.ini");
    }
}

TEST(DialogsFileName, ReplacesOnlyTheFinalIniOfTheFileName)
{
    EXPECT_EQ(DialogsFileName("/home/u/.config/LumivexHD/LumivexHD.ini"),
              "/home/u/.config/LumivexHD/LumivexHD_Dialogs.ini");
    EXPECT_EQ(DialogsFileName("/opt/my.ini.files/LumivexHD.ini"),
              "/opt/my.ini.files/LumivexHD_Dialogs.ini");
    EXPECT_EQ(DialogsFileName("/a/b.ini/settings"), "/a/b.ini/settings_Dialogs.ini");
    EXPECT_EQ(DialogsFileName("x.ini.ini"), "x.ini_Dialogs.ini");
}

TEST(LoadWindowState, CutsTheStoredBoundsToTheScreens)
{
    TTempDir dir;
    // Saved with the left edge 50 pixels off the screen: back at the edge, 50 narrower.
    TFakeWindow off = LoadFrom(
        "[Position]\nMaximized=0\nLeft=-50\nTop=100\nWidth=800\n"
        "Height=600\n",
        dir);
    ASSERT_TRUE(off.Bounds);
    EXPECT_EQ(*off.Bounds, (TRect{0, 100, 750, 700}));
    EXPECT_FALSE(off.Maximized);

    // A second screen left of the first: the virtual desktop holds both.
    const std::string path = dir.File("two.ini");
    WriteFile(path, "[Position]\nLeft=-1000\nTop=50\nWidth=800\nHeight=600\n");
    TFakeWindow two;
    two.Screens = {TRect{0, 0, 1920, 1080}, TRect{-1280, 0, 0, 1024}};
    LoadWindowState(path, two);
    ASSERT_TRUE(two.Bounds);
    EXPECT_EQ(*two.Bounds, (TRect{-1000, 50, -200, 650}));

    // Right worked out in 64 bits: a width near the 32-bit limit does not wrap negative.
    TFakeWindow wide = LoadFrom("[Position]\nLeft=100\nTop=0\nWidth=2147483647\nHeight=500\n", dir);
    ASSERT_TRUE(wide.Bounds);
    EXPECT_EQ(*wide.Bounds, (TRect{100, 0, 1920, 500}));
}

TEST(LoadWindowState, MaximisedWindowsIgnoreTheStoredBounds)
{
    TTempDir dir;
    TFakeWindow window = LoadFrom(
        "[Position]\nMaximized=1\nLeft=10\nTop=10\nWidth=500\n"
        "Height=400\n",
        dir);
    EXPECT_TRUE(window.Maximized);
    EXPECT_FALSE(window.Bounds);
}

TEST(LoadWindowState, MissingOrBadValuesKeepTheDesignedSize)
{
    TTempDir dir;
    const char* const files[] = {
        "[Position]\nMaximized=0\n",                                   // only Maximized
        "",                                                            // empty file
        "[Other]\nLeft=1\nTop=1\nWidth=100\nHeight=100\n",             // wrong section
        "[Position]\nLeft=10\nTop=10\nWidth=100\n",                    // no height
        "[Position]\nLeft=3000\nTop=10\nWidth=100\nHeight=100\n",      // beyond the screen
        "[Position]\nLeft=10\nTop=10\nWidth=0\nHeight=100\n",          // nothing wide
        "[Position]\nLeft=1\nTop=1\nWidth=99999999999\nHeight=100\n",  // beyond 32 bits
        "[Position]\nMaximized=yes\nLeft=1\nTop=1\nWidth=1x\nHeight=100\n",
    };
    for (const char* text : files) {
        TFakeWindow window = LoadFrom(text, dir);
        EXPECT_FALSE(window.Bounds) << text;
        EXPECT_FALSE(window.Maximized) << text;
    }
    // A left edge that is not a number counts as -1, like a missing one: Right is then 99.
    TFakeWindow bad = LoadFrom("[Position]\nLeft=abc\nTop=1\nWidth=100\nHeight=100\n", dir);
    ASSERT_TRUE(bad.Bounds);
    EXPECT_EQ(*bad.Bounds, (TRect{0, 1, 99, 101}));
    TFakeWindow none;  // no file at all
    LoadWindowState(dir.File("missing.ini"), none);
    EXPECT_FALSE(none.Bounds);
    TFakeWindow noScreens;
    noScreens.Screens.clear();
    WriteFile(dir.File("s.ini"), "[Position]\nLeft=1\nTop=1\nWidth=100\nHeight=100\n");
    LoadWindowState(dir.File("s.ini"), noScreens);
    EXPECT_FALSE(noScreens.Bounds);
    EXPECT_EQ(TextToIntDef(" -42 ", 7), -42);
    EXPECT_EQ(TextToIntDef("+5", 7), 5);
    EXPECT_EQ(TextToIntDef("", 7), 7);
    EXPECT_EQ(TextToIntDef("2147483648", 7), 7);
}

TEST(SaveWindowState, WritesThePositionAndKeepsItWhenMaximised)
{
    TTempDir dir;
    const std::string path = dir.File("sub/folder/LumivexHD.ini");  // the folder is created
    TFakeWindow window;
    window.Current = TRect{-30, 40, 770, 640};
    SaveWindowState(path, window);
    EXPECT_EQ(ReadFile(path), "[Position]\nMaximized=0\nLeft=-30\nTop=40\nWidth=800\nHeight=600\n");
    TFakeWindow back;
    LoadWindowState(path, back);
    ASSERT_TRUE(back.Bounds);
    EXPECT_EQ(*back.Bounds, (TRect{0, 40, 770, 640}));

    window.Maximized = true;
    window.Current = TRect{0, 0, 1920, 1080};
    SaveWindowState(path, window);
    EXPECT_EQ(ReadFile(path), "[Position]\nMaximized=1\nLeft=-30\nTop=40\nWidth=800\nHeight=600\n");

    // A write that cannot happen is ignored.
    WriteFile(dir.File("file"), "x");
    SaveWindowState(dir.File("file/LumivexHD.ini"), window);
    EXPECT_EQ(ReadFile(dir.File("file")), "x");
}

// ---------------------------------------------------------------------------------------------
// The dialog settings file

TEST(TDialogSettings, ReadsKeyByKeyWithTheMissingSentinel)
{
    TTempDir dir;
    const std::string path = DialogsFileName(MainSettingsFile(dir.Path().string()));
    WriteFile(path,
              "[TFrmGaussBlur]\n$Left=412\n$Top=230\nChkRealTime=1\nSlider1=35\n"
              "Edit1=\"  two  \"\nBad=ERR!\n");
    {
        const TDialogSettings settings(path, "TFrmGaussBlur");
        EXPECT_EQ(settings.Read("$Left"), "412");
        EXPECT_EQ(settings.Read("slider1"), "35");
        EXPECT_EQ(settings.Read("Edit1"), "  two  ");
        EXPECT_EQ(settings.Read("Bad"), std::nullopt);  // a stored "ERR!" is missing too
        EXPECT_EQ(settings.Read("Slider9"), std::nullopt);
        const TDialogSettings unnamed(path, "");
        EXPECT_EQ(unnamed.Read("$Left"), std::nullopt);
    }
    {
        TDialogSettings settings(path, "TFrmGaussBlur");
        settings.Write("Slider1", "40");
        settings.Write(TDialogSettings::VarKey(0), QuotedText(" a "));
        EXPECT_TRUE(settings.Flush());
        TDialogSettings unnamed(path, "");
        unnamed.Write("Slider1", "1");
    }
    const TDialogSettings settings(path, "TFrmGaussBlur");
    EXPECT_EQ(settings.Read("Slider1"), "40");
    EXPECT_EQ(settings.Read("$Var0"), " a ");
    EXPECT_EQ(settings.Read("$Top"), "230");
}

TEST(DialogValueTexts, ConvertEachControlKind)
{
    const std::int32_t one[] = {30};
    const std::int32_t three[] = {0, 127, 255};
    EXPECT_EQ(SliderText(one), "30");
    EXPECT_EQ(SliderText(three), "0;127;255");
    EXPECT_EQ(SliderFirstCursor("35"), 35);
    EXPECT_EQ(SliderFirstCursor("0;127;255"), 0);  // not a single number
    EXPECT_EQ(SliderFirstCursor("-7"), -7);
    EXPECT_EQ(TextToInt("12a"), 0);

    EXPECT_EQ(FloatText(1.25), "1.25");
    EXPECT_EQ(FloatText(-0.1), "-0.1");
    EXPECT_EQ(TextToFloat("1.25"), 1.25);
    EXPECT_EQ(TextToFloat("1,25"), 1.25);  // written under a decimal-comma locale
    EXPECT_EQ(TextToFloat(" -3.5 "), -3.5);
    EXPECT_EQ(TextToFloat(FloatText(0.1)), 0.1);
    EXPECT_EQ(TextToFloat("abc"), 0.0);
    EXPECT_EQ(TextToFloat("1.2.3"), 0.0);
    EXPECT_EQ(TextToFloat("nan"), 0.0);

    EXPECT_EQ(QuotedText(" x "), "\" x \"");
    EXPECT_EQ(CheckText(true), "1");
    EXPECT_EQ(CheckText(false), "0");
    EXPECT_TRUE(TextToCheck("1"));
    EXPECT_TRUE(TextToCheck("yes"));
    EXPECT_FALSE(TextToCheck("0"));

    EXPECT_EQ(ColorText(0x000080FF), "#FF8000");  // $00BBGGRR: red FF, green 80, blue 00
    EXPECT_EQ(TextToColor("#FF8000"), 0x000080FF);
    EXPECT_EQ(TextToColor("$ff8000"), 0x000080FF);
    EXPECT_EQ(TextToColor("FF8000"), 0x000080FF);
    EXPECT_EQ(TextToColor("clRed"), 0x0000FF);
    EXPECT_EQ(TextToColor("clwhite"), 0xFFFFFF);
    EXPECT_EQ(TextToColor("#FF80"), 0);
    EXPECT_EQ(TextToColor("#GG8000"), 0);
    EXPECT_EQ(TextToColor("-12345"), 0);

    EXPECT_EQ(StateText(true, false, "35"), "1035");
    const TControlState state = SplitStateText("0135");
    EXPECT_TRUE(state.HasState);
    EXPECT_FALSE(state.Visible);
    EXPECT_TRUE(state.Enabled);
    EXPECT_EQ(state.Value, "35");
    EXPECT_FALSE(SplitStateText("1").HasState);
    EXPECT_EQ(SplitStateText("1").Value, "1");
}

TEST(ClampDialogEdge, KeepsDialogsOnTheScreen)
{
    // Off the right edge: the right side ends 4 pixels before the screen's edge.
    EXPECT_EQ(ClampDialogEdge(1800, 300, 1920, 4), 1616);
    EXPECT_EQ(ClampDialogEdge(1800, 300, 1920, 0), 1620);
    EXPECT_EQ(ClampDialogEdge(-20, 300, 1920, 4), 4);
    EXPECT_EQ(ClampDialogEdge(2, 300, 1920, 4), 4);
    EXPECT_EQ(ClampDialogEdge(500, 300, 1920, 4), 500);
}

}  // namespace
}  // namespace lumivex
