#include "app/Lang.h"
#include "app/Messages.h"
#include "LangFixture.h"
#include <gtest/gtest.h>
#include <set>

using namespace krv;

TEST(MessageTable, EnglishDefaultsWithoutALanguageFile) {
    TLang lang;
    lang.Init();
    LoadLanguageStrings(lang);
    EXPECT_EQ(KV_0Byte, "0 bytes");
    EXPECT_EQ(LogLevel1, "No report");
    EXPECT_EQ(LogLevel4, "Full");
    EXPECT_EQ(KV_Boot_1, " starting...");
    EXPECT_EQ(KV_Mkisofs_NotFound, "File \"mkisofs.exe\" not found.");
    EXPECT_EQ(KV_NoCDBackup, "The backup on Disc will be disabled, only the hard disk backup is available.");
    EXPECT_EQ(KV_UserCancel_Conform_Title, "Warning!!");
    EXPECT_EQ(KV_ZPErrorCodeTXT, "Zip error code:");
    EXPECT_EQ(KV_ArchiveFileName_Error_2, "The characters \\ | \" / * ? > < : are not allowed.");
    EXPECT_EQ(KV_SaveDialogTitle, "Save session...");
    EXPECT_EQ(KrvSessionFileError, " is not a valid Korvane Session file.");
    EXPECT_EQ(KrvStartingLine, "Korvane 0.9.1 starting...");
    EXPECT_EQ(KrvReadyLine, "Korvane 0.9.1 ready");
    EXPECT_EQ(KrvNoRecorderMessage, "Sorry Korvane has found no compatible writing devices on this computer. "
                                    "The backup on Disc will be disabled, only the hard disk backup is available.");
    EXPECT_EQ(KrvArchiveNameError, KV_ArchiveFileName_Error_1 + "\r\n" + KV_ArchiveFileName_Error_2);
    EXPECT_EQ(KrvTitleZipping, "Korvane :: Compressing Files...");
    EXPECT_EQ(KrvMailSubjectPrefix, "Korvane Mail Notification: ");
    EXPECT_EQ(KrvRestartLangMessage, "You need to restart Korvane to reset the language to the default value.");
    EXPECT_EQ(KrvMailFooter.find("Mail report done with Korvane 0.9.1.\r\nView "), 0u);
}

TEST(MessageTable, EveryKeyIsUniqueAndWellFormed) {
    const auto& table = MessageTable();
    EXPECT_EQ(table.size(), 191u);
    std::set<std::string> keys;
    for (const auto& row : table) {
        std::string key = row.Key;
        EXPECT_TRUE(keys.insert(key).second) << key;
        EXPECT_TRUE(key.rfind("KV_", 0) == 0 || key.rfind("KQ_", 0) == 0 || key.rfind("LogLevel", 0) == 0) << key;
    }
    EXPECT_EQ(table.front().Key, std::string("KV_0Byte"));
    // The documented rows first, in their order; the program's own texts after them.
    EXPECT_EQ(table[145].Key, std::string("KV_SaveDialogTitle"));
}

TEST(MessageTable, LanguageFileRefillsTextsAndComposedOnes) {
    LangFolder dir;
    const std::string file = dir.Write("it.lang",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
        "<Korvane><Lang value=\"Italiano\"/><Constant>"
        "<KV_Sorry value=\"Spiacente\"/>"
        "<KV_Reset value=\"\"/>"
        "<KV_Never/>"
        "<KQ_XmlError_1 value=\" non \xE8 un file \"/>"
        "</Constant></Korvane>");
    TLang lang;
    lang.Init();
    ASSERT_TRUE(lang.LoadFromFile(file));
    LoadLanguageStrings(lang);
    EXPECT_EQ(KV_Sorry, "Spiacente");
    EXPECT_EQ(KV_Reset, "");                  // present but empty
    EXPECT_EQ(KV_Never, "Never");              // no value attribute: the default
    EXPECT_EQ(KV_Error, "Error");              // missing element: the default
    EXPECT_EQ(KrvNoRecorderMessage.find("Spiacente Korvane "), 0u);
    EXPECT_EQ(KrvSessionFileError, " non \xE8 un file Korvane Session file.");

    // Back to English: everything follows the last fill.
    TLang english;
    english.Init();
    LoadLanguageStrings(english);
    EXPECT_EQ(KV_Sorry, "Sorry");
    EXPECT_EQ(KV_Reset, "Interface cleared");
    EXPECT_EQ(KrvNoRecorderMessage.find("Sorry Korvane "), 0u);
}
