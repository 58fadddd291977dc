#include "TempFolder.h"
#include "app/Lang.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include <gtest/gtest.h>
#include <fstream>
#include <set>
#include <iterator>

using namespace krv;

TEST(LogRouting, EveryLevelKindAndColourWithDebugOnAndOff) {
    for (int reportLevel = 0; reportLevel <= 3; ++reportLevel)
        for (int debug = 0; debug <= 1; ++debug)
            for (int colour = -1; colour <= 3; ++colour)
                for (int level = 0; level <= 3; ++level)
                    for (int kind = 0; kind <= 2; ++kind) {
                        LogRoute r = RouteLogLine(reportLevel, debug != 0, colour, level, kind);
                        SCOPED_TRACE(Format("report %d debug %d colour %d level %d kind %d", reportLevel, debug, colour, level, kind));
                        // The report depends on the level only.
                        EXPECT_EQ(r.ToReport, reportLevel >= level);
                        bool hidden = !debug && (kind == 2 || (kind == 1 && colour == 0));
                        EXPECT_EQ(r.ToPanel, !hidden);
                        TColor expected = colour == 1 ? clRed : colour == 2 ? clBlue : clBlack;
                        EXPECT_EQ(r.Color, expected);
                    }
}

TEST(LogRouting, TheCasesUsersMeet) {
    // "No report" still records the level-0 error lines.
    EXPECT_TRUE(RouteLogLine(0, false, 1, 0, 0).ToReport);
    EXPECT_FALSE(RouteLogLine(0, false, 0, 1, 0).ToReport);
    // "Scanning drives..." (black detail): report at Full, panel only with debug.
    EXPECT_TRUE(RouteLogLine(3, false, 0, 3, 1).ToReport);
    EXPECT_FALSE(RouteLogLine(3, false, 0, 3, 1).ToPanel);
    EXPECT_TRUE(RouteLogLine(3, true, 0, 3, 1).ToPanel);
    // "Folders tree generated" (blue detail): both.
    EXPECT_TRUE(RouteLogLine(3, false, 2, 3, 1).ToPanel);
    // A red debug line stays hidden without debug.
    EXPECT_FALSE(RouteLogLine(3, false, 1, 0, 2).ToPanel);
    // A level above 3 never reaches the report; a negative one always does.
    EXPECT_FALSE(RouteLogLine(3, false, 0, 4, 0).ToReport);
    EXPECT_TRUE(RouteLogLine(0, false, 0, -1, 0).ToReport);
}

TEST(FormatSize, BoundariesOfEachUnit) {
    char sep[8] = {};
    ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep);
    auto expect = [&](const char* dotted) { return StringReplaceAll(dotted, ".", sep); };
    EXPECT_EQ(FormatSize(0), "0 bytes");
    EXPECT_EQ(FormatSize(-5), "-5 bytes");
    EXPECT_EQ(FormatSize(1023), "1023 bytes");
    EXPECT_EQ(FormatSize(1024), expect("    1.00 KB"));
    EXPECT_EQ(FormatSize(1536), expect("    1.50 KB"));
    EXPECT_EQ(FormatSize(1048575), expect(" 1024.00 KB"));   // rounds up but stays KB
    EXPECT_EQ(FormatSize(1048576), expect("    1.00 MB"));
    EXPECT_EQ(FormatSize(1073741823), expect(" 1024.00 MB"));
    EXPECT_EQ(FormatSize(1073741824), expect("    1.00 GB"));
    EXPECT_EQ(FormatSize(5368709120LL), expect("    5.00 GB"));
    EXPECT_EQ(FormatSize(1099511627776LL * 10), expect("10240.00 GB"));   // wider than the field
}

namespace {
struct TempFolder {
    std::string path = krv::ExcludeTrailingBackslash(krvtest::NewTempFolder("krv_report"));
    ~TempFolder() { krvtest::RemoveFolderTree(path); }
};
std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
}

TEST(ReportFile, ReplacesTheOldFileWithTheLines) {
    TempFolder dir;
    TStringList lines;
    lines.Add("Korvane 0.9.1 starting...");
    lines.Add("Backup done");
    {
        std::ofstream old(dir.path + "/Daily.log");
        old << "an older report that is much longer than the new one\r\n";
    }
    ReportSaveResult r = SaveReportFile(lines, dir.path, "Daily");
    ASSERT_TRUE(r.Saved) << r.Problems;
    EXPECT_TRUE(r.Problems.empty());
    EXPECT_EQ(r.FileName, dir.path + "\\Daily.log");
    EXPECT_EQ(Slurp(r.FileName), "Korvane 0.9.1 starting...\r\nBackup done\r\n");
}

TEST(ReportFile, BadNamesAndAMissingTempFolderAreMendedNotThrown) {
    LoadLanguageStrings(TLang());
    TempFolder dir;
    TStringList lines;
    lines.Add("line");
    ReportSaveResult r = SaveReportFile(lines, dir.path, "a/b:c*?\"<>|d");
    ASSERT_TRUE(r.Saved) << r.Problems;
    EXPECT_EQ(r.FileName, dir.path + "\\a_b_c______d.log");
    EXPECT_NE(r.Problems.find("not allowed"), std::string::npos);

    std::string gone = dir.path + "\\again";
    r = SaveReportFile(lines, gone, "x");
    EXPECT_TRUE(r.Saved) << r.Problems;
    EXPECT_TRUE(DirectoryExists(gone));
    EXPECT_NE(r.Problems.find("created again"), std::string::npos);
    ::DeleteFileA((gone + "/x.log").c_str());

    // A folder that cannot be made: a clear failure, no exception.
    r = SaveReportFile(lines, "Q:\\no\\such\\drive", "x");
    EXPECT_FALSE(r.Saved);
    EXPECT_NE(r.Problems.find("cannot be created"), std::string::npos);
    r = SaveReportFile(lines, "", "x");
    EXPECT_FALSE(r.Saved);

    // A session without a name saves ".log".
    r = SaveReportFile(lines, dir.path, "");
    EXPECT_TRUE(r.Saved);
    EXPECT_EQ(ExtractFileName(StringReplaceAll(r.FileName, "/", "\\")), ".log");
}

// Names Windows opens as devices, or too long for a path, still give a
// report file, and the result says where it went.
TEST(ReportFile, DeviceNamesAndLongNamesGiveAFileThatCanBeWritten) {
    LoadLanguageStrings(TLang());
    TempFolder dir;
    TStringList lines;
    lines.Add("line");
    const std::string longName(300, 'n');
    struct Case {
        std::string session, file;
    } cases[] = {{"CON", "_CON.log"},     {"nul", "_nul.log"},           {"Com1.weekly", "_Com1.weekly.log"},
                 {"LPT9 ", "_LPT9 .log"}, {"aux.x.y", "_aux.x.y.log"},    {"CONSOLE", "CONSOLE.log"},
                 {"COM10", "COM10.log"},  {"prn_backup", "prn_backup.log"}, {"clock$", "_clock$.log"}};
    for (const Case& c : cases) {
        ReportSaveResult r = SaveReportFile(lines, dir.path, c.session);
        ASSERT_TRUE(r.Saved) << c.session << ": " << r.Problems;
        EXPECT_EQ(r.FileName, dir.path + "\\" + c.file) << c.session;
        EXPECT_EQ(Slurp(r.FileName), "line\r\n") << c.session;
        if (c.file != c.session + ".log")
            EXPECT_NE(r.Problems.find("saved as " + r.FileName), std::string::npos) << r.Problems;
        else
            EXPECT_TRUE(r.Problems.empty()) << r.Problems;
    }
    ReportSaveResult r = SaveReportFile(lines, dir.path, longName);
    ASSERT_TRUE(r.Saved) << r.Problems;
    EXPECT_LE(r.FileName.size(), static_cast<size_t>(MAX_PATH - 1));
    EXPECT_EQ(ExtractFileName(StringReplaceAll(r.FileName, "/", "\\")).rfind("nnnnnnnnnn", 0), 0u);
    EXPECT_NE(r.Problems.find("could not be saved as " + dir.path + "\\" + longName + ".log"), std::string::npos);
    // Long names that share the part kept: cut between characters, and two files.
    std::string cjk;
    for (int i = 0; i < 300; ++i) cjk += "\xE4\xB8\x80";   // one character, three bytes
    const std::string folder = "C:\\" + std::string(40, 'f');
    std::set<std::string> names;
    for (const std::string& session : {cjk.substr(0, 270), cjk, cjk + "a", cjk + "b", "CON" + std::string(300, ' ')}) {
        const std::string name = ReportBaseName(session, folder), kept = name.substr(0, name.rfind('~'));
        EXPECT_LE(folder.size() + name.size() + 5, static_cast<size_t>(MAX_PATH - 1)) << name;
        EXPECT_EQ(session.rfind(kept.substr(kept[0] == '_'), 0), 0u) << name;
        EXPECT_NE(static_cast<unsigned char>(session[kept.size()]) & 0xC0, 0x80) << "cut inside a character: " << name;
        EXPECT_TRUE(names.insert(name).second) << name;
    }
    EXPECT_EQ(ReportBaseName(cjk.substr(0, 180), folder), cjk.substr(0, 180)) << "a name that fits is kept as it is";
}

// A temp folder that cannot take the report (a file in its place, a drive
// that is not there): the report goes to the fallback folder, and says so.
TEST(ReportFile, AnUnwritableTempFolderFallsBackAndSaysWhere) {
    LoadLanguageStrings(TLang());
    TempFolder dir, fallback;
    TStringList lines;
    lines.Add("line");
    {
        std::ofstream blocker(dir.path + "/temp");
        blocker << "a file where the folder should be";
    }
    for (const std::string& temp : {dir.path + "\\temp", std::string("Q:\\no\\such\\drive")}) {
        ReportSaveResult r = SaveReportFile(lines, temp, "Weekly", fallback.path);
        ASSERT_TRUE(r.Saved) << temp << ": " << r.Problems;
        EXPECT_EQ(r.FileName, fallback.path + "\\Weekly.log");
        EXPECT_EQ(Slurp(r.FileName), "line\r\n");
        EXPECT_NE(r.Problems.find("The report has been saved as " + r.FileName), std::string::npos) << r.Problems;
        ::DeleteFileA(r.FileName.c_str());
    }
    // A folder in the report's place: the system's reason, one full stop.
    ::CreateDirectoryA((dir.path + "\\Daily.log").c_str(), nullptr);
    ReportSaveResult denied = SaveReportFile(lines, dir.path, "Daily", fallback.path);
    EXPECT_EQ(denied.FileName, fallback.path + "\\Daily.log");
    EXPECT_EQ(denied.Problems.find(".."), std::string::npos) << denied.Problems;
    EXPECT_EQ(denied.Problems.find('/'), std::string::npos) << denied.Problems;
    // Nowhere to go at all: a clear failure, no exception.
    ReportSaveResult r = SaveReportFile(lines, "Q:\\no", "Weekly", "Q:\\neither");
    EXPECT_FALSE(r.Saved);
    EXPECT_NE(r.Problems.find("The report could not be saved as Q:\\no\\Weekly.log"), std::string::npos) << r.Problems;
}

// Two runs of one session at once: each keeps its own report.
TEST(ReportFile, ARunningSessionsReportIsNeverOverwrittenByASecondRun) {
    TempFolder dir;
    FileHandle first, second;
    EXPECT_EQ(ClaimReportName(dir.path, "Daily", first), "Daily");
    EXPECT_EQ(ClaimReportName(dir.path, "Daily", second), "Daily_1");
    for (const char* name : {"Daily", "Daily_1"}) {
        TStringList lines;
        lines.Add(name);
        (name[5] ? second : first).reset();
        EXPECT_TRUE(SaveReportFile(lines, dir.path, "Daily", {}, name).Problems.empty());
    }
    EXPECT_EQ(Slurp(dir.path + "\\Daily.log") + Slurp(dir.path + "\\Daily_1.log"), "Daily\r\nDaily_1\r\n");
    EXPECT_EQ(ClaimReportName(dir.path, "Daily", first), "Daily");   // both saved: the usual name again
}

TEST(ReportFile, CleanFileNameKeepsOrdinaryText) {
    EXPECT_EQ(CleanFileName("Backup 2026-12-07 (full).x"), "Backup 2026-12-07 (full).x");
    EXPECT_EQ(CleanFileName("tab\there"), "tab_here");
    EXPECT_EQ(CleanFileName("Caf\xE9"), "Caf\xE9");
}
