#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "TestData.h"
#include "platform/IniFile.h"

namespace lumivex {
namespace {

using test::TTempDir;

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

// Written by hand the way people edit these files.
const char* const HandWritten =
    "\xEF\xBB\xBF"
    "orphan=before any section\r\n"
    "; a comment line\r\n"
    "[Position]\r\n"
    "  Left =  12  \r\n"
    "TOP=\"  34 \"\r\n"
    "width='56'\r\n"
    "Height=\"78\r\n"
    "left=999\r\n"
    "Empty=\r\n"
    "Quotes=\"\"\r\n"
    "Inner=a \"b\" c\r\n"
    "Spaced key = x = y\r\n"
    "not a key line\r\n"
    ";Maximized=1\r\n"
    "\r\n"
    "[ TFrmGaussBlur ]\r\n"
    "Slider1=35\r\n"
    "[Broken\r\n"
    "Value=in broken\r\n"
    "[position]\r\n"
    "Maximized=1\r\n";

TEST(TIniFile, ReadsAHandWrittenFileAsThePlatformWould)
{
    TTempDir dir;
    WriteFile(dir.File("a.ini"), HandWritten);
    const TIniFile ini(dir.File("a.ini"));
    EXPECT_EQ(ini.ReadString("Position", "Left", "ERR"), "12");      // blanks around removed
    EXPECT_EQ(ini.ReadString("POSITION", "top", "ERR"), "  34 ");    // quotes keep blanks
    EXPECT_EQ(ini.ReadString("position", "Width", "ERR"), "56");     // single quotes too
    EXPECT_EQ(ini.ReadString("Position", "Height", "ERR"), "\"78");  // no closing quote
    EXPECT_EQ(ini.ReadString("Position", "Empty", "ERR"), "");
    EXPECT_EQ(ini.ReadString("Position", "Quotes", "ERR"), "");
    EXPECT_EQ(ini.ReadString("Position", "Inner", "ERR"), "a \"b\" c");
    EXPECT_EQ(ini.ReadString("Position", "Spaced key", "ERR"), "x = y");  // the first "="
    EXPECT_EQ(ini.ReadString("Position", "not a key line", "ERR"), "ERR");
    // Comments are not keys, and the second [position] section is never read.
    EXPECT_EQ(ini.ReadString("Position", "Maximized", "ERR"), "ERR");
    EXPECT_EQ(ini.ReadString("Position", "orphan", "ERR"), "ERR");
    EXPECT_EQ(ini.ReadString("TFrmGaussBlur", "slider1", "ERR!"), "35");
    // A header without "]" is no section: its lines belong to the one before.
    EXPECT_EQ(ini.ReadString("Broken", "Value", "ERR"), "ERR");
    EXPECT_EQ(ini.ReadString("TFrmGaussBlur", "Value", "ERR"), "in broken");
    EXPECT_EQ(ini.ReadString("Missing", "Left", "ERR"), "ERR");
    EXPECT_EQ(ini.ReadString("Position", "Missing", "default"), "default");
}

TEST(TIniFile, AMissingFileReadsAsDefaultsAndIsCreatedOnFlush)
{
    TTempDir dir;
    const std::string path = dir.File("new.ini");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Position", "Left", "ERR"), "ERR");
    EXPECT_TRUE(ini.Flush());  // nothing pending: nothing written
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(ini.WriteString("Position", "Maximized", "0"));
    EXPECT_TRUE(ini.WriteString("Position", "Left", "-50"));
    EXPECT_TRUE(ini.Flush());
    EXPECT_EQ(ReadFile(path), "[Position]\nMaximized=0\nLeft=-50\n");
}

TEST(TIniFile, WritingChangesOnlyTheKeyLine)
{
    TTempDir dir;
    const std::string path = dir.File("a.ini");
    WriteFile(path, HandWritten);
    {
        TIniFile ini(path);
        EXPECT_TRUE(ini.WriteString("position", "LEFT", "77"));  // the file's spelling stays
        EXPECT_TRUE(ini.Flush());
    }
    std::string expected = HandWritten;
    expected.replace(expected.find("  Left =  12  "), 14, "Left=77");
    EXPECT_EQ(ReadFile(path), expected);

    {
        TIniFile ini(path);
        // A new key goes after the section's last key, before the blank line and the next one.
        EXPECT_TRUE(ini.WriteString("Position", "Maximized", "1"));
        EXPECT_TRUE(ini.WriteString("TFrmGaussBlur", "Slider2", "2"));
        EXPECT_TRUE(ini.WriteString("TFrmNew", "$Left", "412"));
    }  // flushed on destruction
    expected.replace(expected.find("not a key line"), 0, "Maximized=1\r\n");
    expected.replace(expected.find("[position]"), 0, "Slider2=2\r\n");
    expected += "\r\n[TFrmNew]\r\n$Left=412\r\n";
    EXPECT_EQ(ReadFile(path), expected);
    const TIniFile again(path);
    EXPECT_EQ(again.ReadString("Position", "Maximized", "ERR"), "1");
    EXPECT_EQ(again.ReadString("position", "Left", "ERR"), "77");
}

TEST(TIniFile, ValuesRoundTripThroughTheFile)
{
    TTempDir dir;
    const std::string path = dir.File("round.ini");
    const std::pair<const char*, const char*> values[] = {
        {"Slider1", "30"},      {"Cursors", "0;127;255"}, {"Edit", "\"  padded  \""},
        {"Colour", "#FF8000"},  {"Float", "1.25"},        {"Empty", ""},
        {"Unicode", "Ünïcødé"}, {"Equals", "a=b=c"},
    };
    {
        TIniFile ini(path);
        for (const auto& [key, value] : values)
            EXPECT_TRUE(ini.WriteString("TFrmTest", key, value)) << key;
        EXPECT_TRUE(ini.WriteString("Other", "Slider1", "other"));
        EXPECT_TRUE(ini.WriteString("TFrmTest", "slider1", "31"));  // the same key
        EXPECT_TRUE(ini.Flush());
        EXPECT_FALSE(ini.IsModified());
    }
    const TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("TFrmTest", "Slider1", "ERR!"), "31");
    EXPECT_EQ(ini.ReadString("TFrmTest", "Edit", "ERR!"), "  padded  ");
    for (std::size_t i = 3; i < std::size(values); ++i)
        EXPECT_EQ(ini.ReadString("TFrmTest", values[i].first, "ERR!"), values[i].second);
    EXPECT_EQ(ini.ReadString("TFrmTest", "Cursors", "ERR!"), "0;127;255");
    EXPECT_EQ(ini.ReadString("Other", "Slider1", "ERR!"), "other");
}

TEST(TIniFile, RefusesNamesAndValuesALineCannotHold)
{
    TIniFile ini("");
    EXPECT_FALSE(ini.WriteString("", "Key", "v"));
    EXPECT_FALSE(ini.WriteString("Sec", "", "v"));
    EXPECT_FALSE(ini.WriteString("Se]c", "Key", "v"));
    EXPECT_FALSE(ini.WriteString("Sec", "K=ey", "v"));
    EXPECT_FALSE(ini.WriteString("Sec", "[Key", "v"));
    EXPECT_FALSE(ini.WriteString("Sec", ";Key", "v"));
    EXPECT_FALSE(ini.WriteString("Sec", " Key", "v"));
    EXPECT_FALSE(ini.WriteString("Sec ", "Key", "v"));
    EXPECT_FALSE(ini.WriteString("Sec", "Key", "two\nlines"));
    EXPECT_FALSE(ini.WriteString("Sec", "Key", "cr\r"));
    EXPECT_FALSE(ini.WriteString("S\nec", "Key", "v"));
    EXPECT_FALSE(ini.IsModified());
    EXPECT_EQ(ini.Text(), "");
}

TEST(TIniFile, FailedWritesLeaveEverythingAsItWas)
{
    TTempDir dir;
    // The folder does not exist: the write fails and is reported, nothing is created.
    TIniFile missingFolder(dir.File("no/such/folder/a.ini"));
    EXPECT_TRUE(missingFolder.WriteString("Position", "Left", "1"));
    EXPECT_FALSE(missingFolder.Flush());
    EXPECT_TRUE(missingFolder.IsModified());
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));

    // A name that is a folder cannot be read, so it is never replaced.
    std::filesystem::create_directory(dir.File("folder.ini"));
    {
        TIniFile folder(dir.File("folder.ini"));
        EXPECT_EQ(folder.ReadString("Position", "Left", "ERR"), "ERR");
        EXPECT_TRUE(folder.WriteString("Position", "Left", "1"));
        EXPECT_FALSE(folder.Flush());
    }  // the destructor's flush fails silently
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.ini")));

    // A successful flush replaces the file whole and leaves no temporary file behind.
    const std::string path = dir.File("a.ini");
    WriteFile(path, "[A]\nx=1\n");
    TIniFile ini(path);
    EXPECT_TRUE(ini.WriteString("A", "x", "2"));
    EXPECT_TRUE(ini.Flush());
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
    EXPECT_EQ(ReadFile(path), "[A]\nx=2\n");
}

TEST(TIniFile, KeepsLineEndsAndAMissingFinalLineEnd)
{
    TIniFile ini("");
    ini.SetText("[A]\r\nx=1");
    EXPECT_EQ(ini.ReadString("A", "x", "ERR"), "1");
    EXPECT_EQ(ini.Text(), "[A]\r\nx=1");
    EXPECT_TRUE(ini.WriteString("A", "x", "2"));
    EXPECT_EQ(ini.Text(), "[A]\r\nx=2");
    EXPECT_TRUE(ini.WriteString("B", "y", "3"));
    EXPECT_EQ(ini.Text(), "[A]\r\nx=2\r\n\r\n[B]\r\ny=3\r\n");
    EXPECT_FALSE(ini.Flush());  // no file name: nowhere to write
}

}  // namespace
}  // namespace lumivex
