#include "app/IniFile.h"
#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using zephyrine::app::TIniFile;
using zephyrine::test::ReadFile;
using zephyrine::test::TTempDir;
using zephyrine::test::WriteFile;

TEST(IniFile, MissingFileGivesDefaultsAndIsNotCreated) {
    TTempDir dir;
    const std::string path = dir / "Config.ini";
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Config", "CurrentWinks", 0), 0);
    EXPECT_EQ(ini.ReadString("Config", "SkinFile", "MacOS.sui"), "MacOS.sui");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(IniFile, IntegerRule) {
    TTempDir dir;
    const std::string path = dir / "Config.ini";
    WriteFile(path,
              "[Config]\nA=abc\nB=0x1F\nC=0X1f\nD=  42  \nE=-7\nF=12abc\nG=\nH=0x\n"
              "I=99999999999\nJ=0xFFFFFFFF\nK=0x1G\nL=+5\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Config", "A", 0), 0);
    EXPECT_EQ(ini.ReadInteger("Config", "A", 5), 5);  // not a number: the default
    EXPECT_EQ(ini.ReadInteger("Config", "B", 0), 31);
    EXPECT_EQ(ini.ReadInteger("Config", "C", 0), 31);
    EXPECT_EQ(ini.ReadInteger("Config", "D", 0), 42);
    EXPECT_EQ(ini.ReadInteger("Config", "E", 0), -7);
    EXPECT_EQ(ini.ReadInteger("Config", "F", 0), 0);
    EXPECT_EQ(ini.ReadInteger("Config", "G", 3), 3);
    EXPECT_EQ(ini.ReadInteger("Config", "H", 0), 0);
    EXPECT_EQ(ini.ReadInteger("Config", "I", 0), 0);
    EXPECT_EQ(ini.ReadInteger("Config", "J", 0), -1);
    EXPECT_EQ(ini.ReadInteger("Config", "K", 0), 0);
    EXPECT_EQ(ini.ReadInteger("Config", "L", 0), 5);
}

TEST(IniFile, SectionsAndKeysIgnoreCaseAndOtherSectionsDoNotLeak) {
    TTempDir dir;
    const std::string path = dir / "Config.ini";
    WriteFile(path,
              "[Other]\nCurrentWinks=9\n\n[config]\n; a comment\ncurrentwinks = 12\n"
              "SkinFile=\"Blue.sui\"\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Config", "CurrentWinks", 0), 12);
    EXPECT_EQ(ini.ReadString("Config", "SkinFile", ""), "Blue.sui");
    EXPECT_EQ(ini.ReadString("Config", "Missing", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("Nowhere", "CurrentWinks", 4), 4);
}

TEST(IniFile, WritingKeepsEveryOtherLine) {
    TTempDir dir;
    const std::string path = dir / "Config.ini";
    const std::string before =
        "; Zephyrine settings\n"
        "[Window]\n"
        "Left=10\n"
        "\n"
        "[Config]\n"
        "# keep me\n"
        "CurrentWinks=abc\n"
        "Extra = something ; not a comment\n"
        "\n"
        "[Later]\n"
        "Key=Value\n";
    WriteFile(path, before);
    TIniFile ini(path);
    ini.WriteInteger("Config", "CurrentWinks", 120);
    ini.WriteString("Config", "SkinFile", "MacOS.sui");
    EXPECT_EQ(ReadFile(path),
              "; Zephyrine settings\n"
              "[Window]\n"
              "Left=10\n"
              "\n"
              "[Config]\n"
              "# keep me\n"
              "CurrentWinks=120\n"
              "Extra = something ; not a comment\n"
              "SkinFile=MacOS.sui\n"
              "\n"
              "[Later]\n"
              "Key=Value\n");
    EXPECT_EQ(TIniFile(path).ReadInteger("Config", "CurrentWinks", 0), 120);
}

TEST(IniFile, WritingAddsAMissingSectionAtTheEndAndKeepsCrLf) {
    TTempDir dir;
    const std::string path = dir / "Config.ini";
    WriteFile(path, "[Window]\r\nLeft=10");
    TIniFile ini(path);
    ini.WriteInteger("Config", "CurrentWinks", 7);
    EXPECT_EQ(ReadFile(path), "[Window]\r\nLeft=10\r\n\r\n[Config]\r\nCurrentWinks=7\r\n");
}

TEST(IniFile, WritingCreatesAMissingFile) {
    TTempDir dir;
    const std::string path = dir / "Config.ini";
    TIniFile ini(path);
    ini.WriteString("Config", "SkinFile", "X.sui");
    EXPECT_EQ(ReadFile(path), "[Config]\nSkinFile=X.sui\n");
}

TEST(IniFile, AFailedWriteThrowsAndLeavesNoFile) {
    TTempDir dir;
    TIniFile ini(dir / "no-such-folder/Config.ini");
    EXPECT_THROW(ini.WriteInteger("Config", "CurrentWinks", 1), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}
