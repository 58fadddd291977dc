#include "SessionFixture.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "app/SessionData.h"
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace krv;

namespace {

// Every field of the record as one text, so that "unchanged" and "equal"
// cover all of them at once.
std::string Dump(const TSessionValues& v) {
    std::string s;
    auto add = [&](const char* n, const std::string& t) { s += std::string(n) + "=" + t + "\n"; };
    add("SessionName", v.SessionName);
    add("Address", v.Address);
    add("SMTP", v.SMTP);
    add("UserName", v.UserName);
    add("Password", v.Password);
    add("ArchiveName", v.ArchiveName);
    add("InclusionMask", v.InclusionMask);
    add("ExclusionMask", v.ExclusionMask);
    add("DirHD", v.DirHD);
    add("Selected", v.SelectedFolders.Text());
    add("Unselected", v.UnselectedFolders.Text());
    add("flags", Format("%d%d%d%d%d%d%d%d%d", v.FiltersActive, v.MailActive, v.DoLogin, v.SubFolders, v.RWDisk,
                        v.Modified, v.CloseKRV, v.OverwriteHD, v.NeverSaved));
    add("numbers", Format("%d %d %d", v.Log, v.Type, v.Device));
    add("dates", Format("%.9f %.9f %.9f", v.Creation, v.LastSave, v.LastBackup));
    add("RebuildNeeded", v.RebuildNeeded ? "1" : "0");
    return s;
}

// A record with every value away from its reset value.
void FillEveryValue(TSessionData& s) {
    s.SessionName = "Daily";
    s.ArchiveName = "Caf\xE9.zip";                 // Latin-1 e acute
    s.Address = "ops@example.org";
    s.SMTP = "127.0.0.1";
    s.UserName = "backup user";
    s.Password = "p\"w<>&'d";
    s.InclusionMask = "*.doc;*.xls";
    s.ExclusionMask = "*.tmp";
    s.DirHD = "C:\\Backups\\";
    s.SelectedFolders.Add("C:\\Data");
    s.SelectedFolders.Add("C:\\M\xFCnchen");
    s.UnselectedFolders.Add("C:\\Data\\Cache");
    s.FiltersActive = true;
    s.MailActive = true;
    s.DoLogin = true;
    s.SubFolders = true;
    s.RWDisk = false;
    s.CloseKRV = true;
    s.OverwriteHD = true;
    s.Log = 3;
    s.Type = bmHardDisk;
    s.Device = 2;
    s.Creation = 46000.25;          // 6 Dec 2025, 06:00
    s.LastBackup = 46361.75;        // 6 Dec 2026, 18:00
}

// The names of the element children of a node, in order.
std::vector<std::string> ElementNames(TXmlNode node) {
    std::vector<std::string> names;
    for (TXmlNode e = node.FirstElement(); e; e = e.NextElement()) names.push_back(e.Name());
    return names;
}

const char* const kCompleteFile =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
    "<Korvane ver=\"0.9.1\">\r\n"
    "  <!-- weekly job, kept by hand -->\r\n"
    "  <SessionName value=\"Weekly\"/>\r\n"
    "  <ArchiveName value=\"Weekly.zip\"/>\r\n"
    "  <GenericOptions><SubFolders value=\"True\"/><CloseKRV value=\"False\"/><RWDisk value=\"True\"/>"
    "<Device value=\"0\"/><DirHD value=\"D:\\Store\"/><OverwriteHD value=\"False\"/><Type value=\"1\"/>"
    "<Creation value=\"%CREATION%\"/><LastSave value=\"%CREATION%\"/><LastBackup value=\"%CREATION%\"/></GenericOptions>\r\n"
    "  <MailOptions><Active value=\"False\"/><Address value=\"\"/><SMTP value=\"\"/><DoLogin value=\"False\"/>"
    "<UserName value=\"\"/><Password value=\"\"/><Log value=\"2\"/></MailOptions>\r\n"
    "  <Filters><Active value=\"True\"/><InclusionMask value=\"*.txt\"/><ExclusionMask value=\"\"/></Filters>\r\n"
    "  <Extra note=\"not ours\"/>\r\n"
    "  <SelectedDirectories><dir value=\"C:\\A\"/><dir_unsel value=\"C:\\A\\x\"/><dir value=\"C:\\B\"/>"
    "<other value=\"C:\\ignored\"/><dir_unsel value=\"C:\\B\\y\"/></SelectedDirectories>\r\n"
    "</Korvane>\r\n";

std::string CompleteFile() {
    return StringReplaceAll(kCompleteFile, "%CREATION%", SessionDateToText(46000.5));
}

// The complete file with one piece of text replaced.
std::string FileWith(const std::string& from, const std::string& to) {
    std::string text = CompleteFile();
    EXPECT_NE(text.find(from), std::string::npos) << from;
    return StringReplaceAll(text, from, to);
}

} // namespace

TEST(SessionValues, TextConversionsReadBackWhatTheyWrite) {
    for (TDateTime d : {0.0, 0.5, 46362.0, 46362.75, 36526.999988425926, 2.0}) {
        TDateTime back = -1;
        ASSERT_TRUE(SessionTextToDate(SessionDateToText(d), back)) << SessionDateToText(d);
        EXPECT_NEAR(back, d, 1.0 / 86400 / 2) << SessionDateToText(d);
    }
    bool b = false;
    EXPECT_EQ(SessionBoolToText(true), "True");
    EXPECT_EQ(SessionBoolToText(false), "False");
    ASSERT_TRUE(SessionTextToBool("True", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(SessionTextToBool("False", b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(SessionTextToBool("maybe", b));
    int n = 0;
    ASSERT_TRUE(SessionTextToInt("-1", n));
    EXPECT_EQ(n, -1);
    EXPECT_FALSE(SessionTextToInt("12abc", n));
    EXPECT_FALSE(SessionTextToInt("", n));
    TDateTime d = 0;
    EXPECT_FALSE(SessionTextToDate("not a date", d));
    // Limits count characters, not the bytes of the UTF-8 text.
    for (const auto& [text, count] : {std::pair<std::string, size_t>{"Caf\xC3\xA9", 4}, {"\xE4\xB8\x80\xE4\xBA\x8C", 2},
                                      {"\xF0\x9F\x98\x80!", 2}, {"", 0}})
        EXPECT_EQ(CharacterCount(text, CP_UTF8), count) << text;
    EXPECT_EQ(CharacterCount("Caf\xE9", 1252), 4u);
}

TEST(SessionFile, FreshRecordIsWrittenInOrderWithItsResetValues) {
    FixedSessionClock clock;
    SessionFolder dir;
    TSessionData s;
    s.Address = "kept@example.org";
    s.Reset();
    EXPECT_EQ(s.SessionName, "Unsaved");
    EXPECT_EQ(s.Address, "kept@example.org") << "mail strings survive a reset";
    EXPECT_TRUE(s.NeverSaved);
    EXPECT_TRUE(s.RWDisk);
    EXPECT_EQ(s.Device, -1);
    EXPECT_EQ(s.Log, 1);
    EXPECT_EQ(s.Creation, 46362.5);

    const std::string path = dir.Path("fresh.xml");
    clock.Set(46363.25);
    s.Modified = true;
    s.SaveToFile(path);
    EXPECT_FALSE(s.Modified);
    EXPECT_EQ(s.LastSave, 46363.25);

    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", 0), 0u) << bytes;

    TXmlDocument doc;
    ASSERT_TRUE(doc.Load(path)) << doc.ParseError();
    TXmlNode root = doc.Root();
    EXPECT_EQ(root.Name(), "Korvane");
    EXPECT_EQ(root.AttributeOr("ver", ""), "0.9.1");
    EXPECT_EQ(ElementNames(root), (std::vector<std::string>{"SessionName", "ArchiveName", "GenericOptions",
                                                             "MailOptions", "Filters", "SelectedDirectories"}));
    EXPECT_EQ(ElementNames(root.Child("GenericOptions")),
              (std::vector<std::string>{"SubFolders", "CloseKRV", "RWDisk", "Device", "DirHD", "OverwriteHD", "Type",
                                        "Creation", "LastSave", "LastBackup"}));
    EXPECT_EQ(ElementNames(root.Child("MailOptions")),
              (std::vector<std::string>{"Active", "Address", "SMTP", "DoLogin", "UserName", "Password", "Log"}));
    EXPECT_EQ(ElementNames(root.Child("Filters")),
              (std::vector<std::string>{"Active", "InclusionMask", "ExclusionMask"}));
    EXPECT_TRUE(ElementNames(root.Child("SelectedDirectories")).empty());

    auto value = [&](const char* container, const char* name) {
        return root.Child(container).Child(name).AttributeOr("value", "<absent>");
    };
    EXPECT_EQ(root.Child("SessionName").AttributeOr("value", ""), "Unsaved");
    EXPECT_EQ(root.Child("ArchiveName").Attribute("value"), std::optional<std::string>(""));
    EXPECT_EQ(value("GenericOptions", "RWDisk"), "True");
    EXPECT_EQ(value("GenericOptions", "SubFolders"), "False");
    EXPECT_EQ(value("GenericOptions", "Device"), "-1");
    EXPECT_EQ(value("GenericOptions", "Type"), "0");
    EXPECT_EQ(value("GenericOptions", "LastBackup"), SessionDateToText(0));
    EXPECT_EQ(value("GenericOptions", "LastSave"), SessionDateToText(46363.25));
    EXPECT_EQ(value("GenericOptions", "Creation"), SessionDateToText(46362.5));
    EXPECT_EQ(value("MailOptions", "Log"), "1");
    EXPECT_EQ(value("MailOptions", "Address"), "kept@example.org");
    // Containers carry no attributes.
    EXPECT_FALSE(root.Child("GenericOptions").Attribute("value").has_value());
}

TEST(SessionFile, EveryValueLoadsBackEqualIncludingLatin1AndMarkup) {
    FixedSessionClock clock;
    SessionFolder dir;
    TSessionData out;
    out.Reset();
    FillEveryValue(out);
    const std::string path = dir.Path("all.xml");
    out.SaveToFile(path);
    EXPECT_NE(ReadFileBytes(path).find("Caf\xE9.zip"), std::string::npos) << "single-byte Latin-1 in the file";

    TSessionData in;
    in.Reset();
    in.Modified = true;
    ASSERT_TRUE(in.LoadFromFile(path));
    EXPECT_FALSE(in.NeverSaved);
    in.Modified = false;
    in.NeverSaved = true;   // the saving record's flag; the rest must match
    EXPECT_EQ(Dump(in), Dump(out));
}

TEST(SessionFile, SaveUpdatesInPlaceKeepingCommentsAndForeignElements) {
    FixedSessionClock clock;
    SessionFolder dir;
    const std::string path = dir.Write("weekly.xml", CompleteFile());
    TSessionData s;
    s.Reset();
    ASSERT_TRUE(s.LoadFromFile(path));
    EXPECT_FALSE(s.RebuildNeeded);
    EXPECT_EQ(s.SessionName, "Weekly");
    EXPECT_EQ(s.DirHD, "D:\\Store");
    EXPECT_EQ(s.Log, 2);
    EXPECT_EQ(s.Creation, 46000.5);
    // dir and dir_unsel interleaved, other names skipped.
    EXPECT_EQ(s.SelectedFolders.ToVector(), (std::vector<std::string>{"C:\\A", "C:\\B"}));
    EXPECT_EQ(s.UnselectedFolders.ToVector(), (std::vector<std::string>{"C:\\A\\x", "C:\\B\\y"}));

    s.ArchiveName = "Changed.zip";
    s.SaveToFile(path);
    const std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("weekly job, kept by hand"), std::string::npos);
    EXPECT_NE(bytes.find("not ours"), std::string::npos);

    TXmlDocument doc;
    ASSERT_TRUE(doc.Load(path));
    EXPECT_EQ(doc.Root().Child("ArchiveName").AttributeOr("value", ""), "Changed.zip");
    // All ticked folders first, then the unticked ones.
    TXmlNode dirs = doc.Root().Child("SelectedDirectories");
    EXPECT_EQ(ElementNames(dirs), (std::vector<std::string>{"dir", "dir", "dir_unsel", "dir_unsel"}));
    EXPECT_EQ(dirs.FirstElement().NextElement().AttributeOr("value", ""), "C:\\B");
}

TEST(SessionFile, MissingOptionalPartsLoadAndTheNextSaveWritesEveryElement) {
    FixedSessionClock clock;
    SessionFolder dir;
    // No Filters at all, no Device, no LastBackup.
    std::string text = CompleteFile();
    text.erase(text.find("  <Filters>"), text.find("</Filters>\r\n") + 12 - text.find("  <Filters>"));
    text = StringReplaceAll(text, "<Device value=\"0\"/>", "");
    text.erase(text.find("<LastBackup"), text.find("</GenericOptions>") - text.find("<LastBackup"));
    const std::string path = dir.Write("partial.xml", text);

    TSessionData s;
    s.Reset();
    s.InclusionMask = "*.previous";
    s.FiltersActive = true;
    s.Device = 7;
    s.LastBackup = 100.0;
    ASSERT_TRUE(s.LoadFromFile(path));
    EXPECT_TRUE(s.RebuildNeeded);
    EXPECT_EQ(s.InclusionMask, "*.previous") << "absent values keep what the record held";
    EXPECT_TRUE(s.FiltersActive);
    EXPECT_EQ(s.Device, 7);
    EXPECT_EQ(s.LastBackup, 100.0);
    EXPECT_EQ(s.SessionName, "Weekly");

    s.SaveToFile(path);
    TSessionData back;
    back.Reset();
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_FALSE(back.RebuildNeeded) << "the rewritten file is complete";
    EXPECT_EQ(back.InclusionMask, "*.previous");
    EXPECT_EQ(back.Device, 7);
    EXPECT_EQ(ReadFileBytes(path).find("not ours"), std::string::npos) << "a rebuild writes only our layout";

    // The rebuild sticks to the record: a second save rebuilds again.
    EXPECT_TRUE(s.RebuildNeeded);
}

TEST(SessionFile, RefusedFilesLeaveTheCurrentSessionUntouched) {
    FixedSessionClock clock;
    SessionFolder dir;
    const std::string creation = SessionDateToText(46000.5);
    struct Case {
        const char* what;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"no SessionName", FileWith("<SessionName value=\"Weekly\"/>", "")},
        {"no ArchiveName", FileWith("<ArchiveName value=\"Weekly.zip\"/>", "")},
        {"no Creation", FileWith("<Creation value=\"" + creation + "\"/>", "")},
        {"Creation without value", FileWith("<Creation value=\"" + creation + "\"/>", "<Creation/>")},
        {"no GenericOptions", FileWith("GenericOptions", "Generic")},
        {"no MailOptions", FileWith("MailOptions", "Mail")},
        {"no SelectedDirectories", FileWith("SelectedDirectories", "Dirs")},
        {"bad Boolean", FileWith("<SubFolders value=\"True\"/>", "<SubFolders value=\"often\"/>")},
        {"bad integer", FileWith("<Device value=\"0\"/>", "<Device value=\"zero\"/>")},
        {"not XML", "this is not a session"},
        {"truncated", CompleteFile().substr(0, 300)},
        {"empty file", ""},
        {"no root", "<?xml version=\"1.0\"?>\r\n<!-- nothing -->"},
    };
    for (const Case& c : cases) {
        TSessionData s;
        s.Reset();
        FillEveryValue(s);
        s.NeverSaved = false;
        s.Modified = true;
        const std::string before = Dump(s);
        const std::string docBefore = s.Document()->Xml();
        EXPECT_FALSE(s.LoadFromFile(dir.Write("bad.xml", c.text))) << c.what;
        EXPECT_EQ(Dump(s), before) << c.what;
        EXPECT_EQ(s.Document()->Xml(), docBefore) << c.what;
    }
    TSessionData s;
    s.Reset();
    EXPECT_FALSE(s.LoadFromFile(dir.Path("no such file.xml")));
    EXPECT_TRUE(s.NeverSaved);
}

// Dates only inform: one this computer's date format cannot read (written
// under another format) counts as none and is named, and the file loads.
TEST(SessionFile, UnreadableDatesCountAsNoneAndAreNamed) {
    FixedSessionClock clock;
    SessionFolder dir;
    const std::string creation = SessionDateToText(46000.5);
    std::string text = FileWith("<LastBackup value=\"" + creation, "<LastBackup value=\"32.13.2026 23:00");
    text = StringReplaceAll(text, "<Creation value=\"" + creation, "<Creation value=\"yesterday");
    TSessionData s;
    s.Reset();
    s.LastBackup = 5.0;
    ASSERT_TRUE(s.LoadFromFile(dir.Write("dates.xml", text)));
    EXPECT_EQ(s.LastBackup, 0.0);
    EXPECT_EQ(s.Creation, 0.0);
    EXPECT_EQ(s.UnreadableDates, "Creation \"yesterday\", LastBackup \"32.13.2026 23:00\"");
    ASSERT_TRUE(s.LoadFromFile(dir.Write("good.xml", CompleteFile())));
    EXPECT_EQ(s.UnreadableDates, "") << "a later load that reads every date names none";
}

// Values too long to use, an unknown destination type and a file too large
// are refused with the value and its limit named; the longest usable load.
TEST(SessionFile, ValuesTheProgramCannotUseAreRefusedAndNamed) {
    LoadLanguageStrings(TLang());
    FixedSessionClock clock;
    SessionFolder dir;
    const std::string deep = "C:\\" + std::string(32764, 'd');   // the system's longest path
    // The value after `from` made n characters longer.
    auto value = [](const std::string& from, size_t n, char c) { return FileWith(from, from + std::string(n, c)); };
    struct Case {
        std::string text, problem;   // empty problem: the file loads
    } cases[] = {
        {value("<SessionName value=\"", 1019, 'n'), "SessionName holds 1025 characters, the limit is 1024."},
        {value("<SessionName value=\"", 1018, 'n'), ""},
        {value("<ArchiveName value=\"", 256, 'a'), "ArchiveName holds 266 characters, the limit is 255."},
        {value("<SMTP value=\"", 256, 'h'), "SMTP holds 256"},
        {value("<Device value=\"", 65, '0'), "Device holds 66 characters, the limit is 64."},
        {FileWith("\"C:\\B\"", "\"" + deep + "x\""), "dir holds 32768 characters, the limit is 32767."},
        {FileWith("\"C:\\B\"", "\"" + deep + "\""), ""},
        {FileWith("<Type value=\"1\"", "<Type value=\"2\""), "type the program does not know (0 disc, 1 hard disk): Type \"2\""},
        {FileWith("<Type value=\"1\"", "<Type value=\"-1\""), "Type \"-1\""},
        {FileWith("<Extra", "<!-- " + std::string(kMaxSessionFileBytes, 'c') + " --><Extra"), "The session file is too large"},
    };
    for (const Case& c : cases) {
        TSessionData s;
        s.Reset();
        EXPECT_EQ(s.LoadFromFile(dir.Write("values.xml", c.text)), c.problem.empty()) << c.problem;
        EXPECT_EQ(c.problem.empty() ? s.LoadProblem.empty() : s.LoadProblem.find(c.problem) != std::string::npos, true)
            << c.problem << ": " << s.LoadProblem;
        EXPECT_EQ(s.SessionName, c.problem.empty() ? s.SessionName : "Unsaved") << c.problem;
    }
}

TEST(SessionFile, FailedSaveRaisesAndKeepsTheRecordModified) {
    FixedSessionClock clock;
    SessionFolder dir;
    TSessionData s;
    s.Reset();
    s.Modified = true;
    EXPECT_THROW(s.SaveToFile(dir.Path("missing folder\\x.xml")), EXmlError);
    EXPECT_TRUE(s.Modified);
    EXPECT_EQ(s.LastSave, 0.0);

    // A folder in the way of the file: nothing is written, the folder stays.
    const std::string folder = dir.Path("taken.xml");
    ::CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_THROW(s.SaveToFile(folder), EXmlError);
    EXPECT_EQ(::GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(s.Modified);
    ::RemoveDirectoryA(folder.c_str());

    // What a load would refuse is not written: a saved session always loads.
    for (auto [field, limit] : {std::pair{&TSessionValues::Password, 255}, {&TSessionValues::Address, 1024}}) {
        const std::string file = dir.Path(std::to_string(limit) + ".xml");
        s.*field = std::string(limit + 1, 'v');
        EXPECT_THROW(s.SaveToFile(file), Exception) << limit;
        EXPECT_FALSE(FileExists(file));
        s.*field = std::string(limit, 'v');
        s.SaveToFile(file);
        EXPECT_TRUE(TSessionData().LoadFromFile(file)) << limit;
    }
}

TEST(SessionFile, ClearThenResetStartsAFreshDocument) {
    FixedSessionClock clock;
    SessionFolder dir;
    const std::string path = dir.Write("weekly.xml", CompleteFile());
    TSessionData s;
    s.Reset();
    ASSERT_TRUE(s.LoadFromFile(path));
    s.Clear();
    EXPECT_EQ(s.Document(), nullptr);
    EXPECT_EQ(s.SelectedFolders.Count(), 0);
    s.Reset();
    const std::string fresh = dir.Path("fresh.xml");
    s.SaveToFile(fresh);
    EXPECT_EQ(ReadFileBytes(fresh).find("kept by hand"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(fresh).find("Weekly"), std::string::npos);
}

TEST(SessionFile, LastBackupRewriteChangesOnlyThatValue) {
    FixedSessionClock clock;
    SessionFolder dir;
    const std::string path = dir.Write("weekly.xml", CompleteFile());
    TSessionData s;
    s.Reset();
    s.SessionName = "Other";   // the record's other values must not reach the file
    s.LastBackup = 46362.75;
    std::string error;
    ASSERT_TRUE(UpdateLastBackupInFile(s, path, &error)) << error;

    const std::string bytes = ReadFileBytes(path);
    EXPECT_NE(bytes.find("weekly job, kept by hand"), std::string::npos);
    EXPECT_NE(bytes.find("not ours"), std::string::npos);
    TSessionData back;
    back.Reset();
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(back.LastBackup, 46362.75);
    EXPECT_EQ(back.LastSave, 46000.5);
    EXPECT_EQ(back.SessionName, "Weekly");

    // A file lacking the element gets it; its neighbours stay.
    const std::string noLast = dir.Write("nolast.xml", FileWith("<LastBackup value=\"" + SessionDateToText(46000.5) + "\"/>", ""));
    ASSERT_TRUE(UpdateLastBackupInFile(s, noLast, &error)) << error;
    ASSERT_TRUE(back.LoadFromFile(noLast));
    EXPECT_EQ(back.LastBackup, 46362.75);
}

TEST(SessionFile, LastBackupRewriteNeverWritesOverAFileItCannotRead) {
    SessionFolder dir;
    TSessionData s;
    s.Reset();
    s.LastBackup = 46362.75;
    std::string error;
    for (const std::string& text : {std::string("garbage <not xml"), std::string(""),
                                    std::string("<?xml version=\"1.0\"?><Other><x/></Other>"),
                                    CompleteFile().substr(0, 200)}) {
        const std::string path = dir.Write("broken.xml", text);
        EXPECT_FALSE(UpdateLastBackupInFile(s, path, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFileBytes(path), text) << "the user's file keeps its bytes";
    }
    const std::string missing = dir.Path("gone.xml");
    EXPECT_FALSE(UpdateLastBackupInFile(s, missing, &error));
    EXPECT_EQ(::GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "no stub file is created";
}

TEST(SessionFile, MutatedFilesNeverCrashAndFailuresChangeNothing) {
    SessionFolder dir;
    const std::string good = CompleteFile();
    std::mt19937 rng(20261207);
    const char noise[] = "<>/=\"'&;!?- \r\nxQ\xE9\x00";
    int loaded = 0;
    for (int round = 0; round < 150; ++round) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % text.size();
            switch (rng() % 3) {
            case 0: text[at] = noise[rng() % (sizeof noise - 1)]; break;
            case 1: text.erase(at, 1 + rng() % 12); break;
            default: text.insert(at, 1, noise[rng() % (sizeof noise - 1)]); break;
            }
            if (text.empty()) text.assign(1, '<');
        }
        TSessionData s;
        s.Reset();
        const std::string before = Dump(s);
        if (s.LoadFromFile(dir.Write("fuzz.xml", text))) {
            ++loaded;
            EXPECT_FALSE(s.NeverSaved);
        } else {
            EXPECT_EQ(Dump(s), before) << "round " << round;
        }
    }
    EXPECT_GT(loaded, 0) << "some mutations keep the file loadable";
}
