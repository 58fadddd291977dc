#include "common/TempPath.h"
#include "framework/Stream.h"
#include "framework/XmlDoc.h"
#include <gtest/gtest.h>

using namespace krv;
using krv::test::TempPath;

namespace {
std::string ReadBytes(const std::string& path) {
    TMemoryStream m;
    m.LoadFromFile(path);
    return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}
void WriteBytes(const std::string& path, const std::string& bytes) {
    TFileStream f(path, fmCreate);
    f.WriteBuffer(bytes.data(), bytes.size());
}
}

TEST(XmlDocument, Latin1TextAndCommentsSurviveASaveAndLoad) {
    std::string path = TempPath("krv_xml_latin1.xml");
    // "Größe" in ISO-8859-1, a comment, an empty attribute.
    WriteBytes(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
                     "<Korvane>\r\n  <!-- kept by hand -->\r\n"
                     "  <Name value=\"Gr\xF6\xDF" "e\"/>\r\n  <Empty value=\"\"/>\r\n</Korvane>\r\n");
    TXmlDocument doc;
    ASSERT_TRUE(doc.Load(path)) << doc.ParseError();
    EXPECT_EQ(doc.Encoding(), "ISO-8859-1");
    TXmlNode root = doc.Root();
    ASSERT_TRUE(root);
    EXPECT_EQ(root.Name(), "Korvane");
    EXPECT_EQ(root.Child("Name").AttributeOr("value", "?"), "Gr\xF6\xDF" "e");
    // Absent and empty differ.
    EXPECT_EQ(root.Child("Empty").Attribute("value"), std::optional<std::string>(""));
    EXPECT_FALSE(root.Child("Empty").Attribute("other").has_value());
    EXPECT_FALSE(root.Child("Missing"));
    // The first child node is the comment; elements skip it.
    EXPECT_TRUE(root.FirstChild().IsComment());
    EXPECT_EQ(root.FirstElement().Name(), "Name");

    root.AddElement("Added").SetAttribute("value", "\xE9t\xE9");
    doc.Save(path);
    std::string bytes = ReadBytes(path);
    EXPECT_NE(bytes.find("kept by hand"), std::string::npos);
    EXPECT_NE(bytes.find("\xE9t\xE9"), std::string::npos) << "saved as single-byte Latin-1";
    EXPECT_EQ(bytes.find("\xC3\xA9"), std::string::npos) << "no UTF-8 sequences";

    TXmlDocument back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Root().Child("Added").AttributeOr("value", ""), "\xE9t\xE9");
    EXPECT_TRUE(back.Root().FirstChild().IsComment());
    // Held open for writing by another program that shares it (an editor): still read.
    FileHandle held(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(back.Load(path)) << back.ParseError();
    held.reset();
    ::DeleteFileA(path.c_str());
}

TEST(XmlDocument, NewDocumentIsBuiltInOrderAndSavedWithItsDeclaration) {
    TXmlDocument doc;
    doc.Clear("ISO-8859-1");
    EXPECT_FALSE(doc.Root());
    TXmlNode root = doc.CreateRoot("Korvane");
    TXmlNode second = root.AddElement("Second");
    root.AddElement("First", second);
    root.AddComment("note");
    std::vector<std::string> names;
    for (TXmlNode n = root.FirstElement(); n; n = n.NextElement()) names.push_back(n.Name());
    EXPECT_EQ(names, (std::vector<std::string>{"First", "Second"}));
    std::string path = TempPath("krv_xml_new.xml");
    doc.Save(path);
    std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.rfind("<?xml", 0), 0u);
    EXPECT_NE(bytes.find("ISO-8859-1"), std::string::npos);
    EXPECT_NE(bytes.find("<!--note-->"), std::string::npos);
    // A character Latin-1 cannot hold is written as a reference and reads back.
    root.AddElement("Euro").SetAttribute("value", "\x80");   // the euro sign in the ANSI code page
    doc.Save(path);
    EXPECT_NE(ReadBytes(path).find("&#8364;"), std::string::npos);
    TXmlDocument back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Root().Child("Euro").AttributeOr("value", ""), "\x80");
    ::DeleteFileA(path.c_str());
}

TEST(XmlDocument, BadInputIsRefusedAndAFailedSaveLeavesTheOldFile) {
    std::string path = TempPath("krv_xml_bad.xml");
    WriteBytes(path, "<Korvane><Open></Korvane>");
    TXmlDocument doc;
    EXPECT_FALSE(doc.Load(path));
    EXPECT_FALSE(doc.ParseError().empty());
    EXPECT_FALSE(doc.Root());
    EXPECT_FALSE(doc.Load(TempPath("krv_no_such_file.xml")));
    // Saving into a folder that does not exist raises and writes nothing.
    doc.Clear();
    doc.CreateRoot("x");
    EXPECT_THROW(doc.Save(TempPath("krv_no_dir\\out.xml")), EXmlError);
    // Saving over an existing file replaces it whole.
    doc.Save(path);
    TXmlDocument back;
    EXPECT_TRUE(back.Load(path));
    EXPECT_EQ(back.Root().Name(), "x");
    ::DeleteFileA(path.c_str());
}
