#include "common/TempPath.h"
#include "framework/IniFiles.h"
#include "framework/Strings.h"
#include <gtest/gtest.h>

using namespace krv;

namespace {
std::string TempName(const char* name) {
    std::string path = krv::test::TempPath(name);
    ::DeleteFileA(path.c_str());
    return path;
}
}

TEST(IniFile, ValuesRoundTripAndMissingKeysGiveTheDefault) {
    std::string path = TempName("krv-ini-test.ini");
    {
        TIniFile ini(path);
        ini.WriteString("General", "TempDir", "C:\\Backup Temp\\");
        ini.WriteInteger("General", "LogLevel", 3);
        ini.WriteInteger("General", "Negative", -42);
        ini.WriteBool("General", "Log", true);
        ini.WriteBool("Mail", "Send", false);
        ini.WriteString("Mail", "Empty", "");
    }
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("General", "TempDir", "x"), "C:\\Backup Temp\\");
    EXPECT_EQ(ini.ReadInteger("General", "LogLevel", 0), 3);
    EXPECT_EQ(ini.ReadInteger("General", "Negative", 0), -42);
    EXPECT_TRUE(ini.ReadBool("General", "Log", false));
    EXPECT_FALSE(ini.ReadBool("Mail", "Send", true));
    EXPECT_EQ(ini.ReadString("Mail", "Empty", "default"), "");
    EXPECT_EQ(ini.ReadString("Mail", "Missing", "default"), "default");
    EXPECT_EQ(ini.ReadInteger("General", "TempDir", 7), 7);   // not a number
    EXPECT_TRUE(ini.SectionExists("Mail"));
    EXPECT_FALSE(ini.SectionExists("Nothing"));
    EXPECT_TRUE(ini.ValueExists("mail", "EMPTY"));

    TStringList keys;
    ini.ReadSection("General", keys);
    ASSERT_EQ(keys.Count(), 4);
    EXPECT_EQ(keys[0], "TempDir");
    EXPECT_EQ(keys[3], "Log");

    TIniFile(path).DeleteKey("General", "Log");
    EXPECT_FALSE(ini.ValueExists("General", "Log"));
    TIniFile(path).EraseSection("Mail");
    EXPECT_FALSE(ini.SectionExists("Mail"));
    ::DeleteFileA(path.c_str());
}

TEST(IniFile, LongValuesAreNotCut) {
    std::string path = TempName("krv-ini-long.ini");
    std::string longValue(5000, 'a');
    longValue += "end";
    TIniFile ini(path);
    ini.WriteString("S", "Long", longValue);
    EXPECT_EQ(ini.ReadString("S", "Long", ""), longValue);
    ::DeleteFileA(path.c_str());
}

TEST(IniFile, WritingIntoAMissingFolderRaises) {
    TIniFile ini("C:\\no-such-folder-krv\\sub\\x.ini");
    EXPECT_THROW(ini.WriteString("S", "K", "V"), EIniFileException);
}
