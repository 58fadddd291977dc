#include "framework/IniFiles.h"
#include "framework/Strings.h"
#include "framework/Stream.h"
#include "framework/XmlDoc.h"
#include <gtest/gtest.h>
#include <fstream>
#include <iterator>

using namespace krv;

namespace {
std::string TempName(const char* name) {
    char dir[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir) + name;
    ::DeleteFileA(path.c_str());
    return path;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
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

TEST(XmlDocument, SavesIso88591AndKeepsCommentsAndAttributes) {
    std::string path = TempName("krv-xml-test.xml");
    const std::string accented = "Caf\xE9 na\xEFve \xC0 \xFC";   // Latin-1 letters
    {
        TXmlDocument doc;
        TXmlNode root = doc.CreateDocumentElement("Session");
        root.AddComment(" written by a test ");
        TXmlNode name = root.AddChild("Name");
        name.SetAttribute("value", accented);
        name.SetAttribute("empty", "");
        root.AddChild("Folder").SetText("C:\\Data & <More>");
        doc.SaveToFile(path);
    }
    std::string bytes = ReadBytes(path);
    EXPECT_NE(bytes.find("encoding=\"ISO-8859-1\""), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("Caf\xE9"), std::string::npos) << "the e-acute must be one Latin-1 byte";
    EXPECT_NE(bytes.find("<!-- written by a test -->"), std::string::npos);

    TXmlDocument back;
    back.LoadFromFile(path);
    TXmlNode root = back.DocumentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(root.NodeName(), "Session");
    ASSERT_EQ(root.ChildNodes().size(), 3u);
    EXPECT_TRUE(root.ChildNodes()[0].IsComment());
    EXPECT_EQ(root.ChildNodes()[0].Text(), " written by a test ");
    EXPECT_EQ(root.ChildElements().size(), 2u);
    TXmlNode name = root.ChildNode("Name");
    EXPECT_EQ(name.Attribute("value").value_or("?"), accented);
    EXPECT_EQ(name.Attribute("empty").value_or("?"), "");
    EXPECT_FALSE(name.Attribute("missing").has_value());
    EXPECT_EQ(name.AttributeDef("missing", "dflt"), "dflt");
    EXPECT_EQ(root.ChildNode("Folder").Text(), "C:\\Data & <More>");
    EXPECT_FALSE(root.ChildNode("Nothing"));

    // Saving again keeps one declaration and the comment.
    back.SaveToFile(path);
    bytes = ReadBytes(path);
    EXPECT_EQ(bytes.find("<?xml"), bytes.rfind("<?xml"));
    EXPECT_NE(bytes.find("<!-- written by a test -->"), std::string::npos);
    ::DeleteFileA(path.c_str());
}

TEST(XmlDocument, BadInputRaisesAndLeavesAnEmptyDocument) {
    std::string path = TempName("krv-xml-bad.xml");
    {
        TFileStream f(path, fmCreate);
        const char junk[] = "<Session><Name value=\"x\"></Sess";
        f.WriteBuffer(junk, sizeof junk - 1);
    }
    TXmlDocument doc;
    EXPECT_THROW(doc.LoadFromFile(path), EXmlError);
    EXPECT_FALSE(doc.DocumentElement());
    EXPECT_THROW(doc.LoadFromFile(path + ".missing"), EXmlError);
    EXPECT_THROW(doc.LoadFromXml("<a><b></a>"), EXmlError);
    doc.LoadFromXml("<a><!--c--><b x='1'/></a>");
    EXPECT_EQ(doc.DocumentElement().ChildNode("b").AttributeDef("x", ""), "1");
    ::DeleteFileA(path.c_str());
}
