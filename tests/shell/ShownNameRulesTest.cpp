// The rules of shown names against a scripted shell: every name they give
// must be the one the shell itself would have given.
#include "shell/item/ShownNameRules.h"
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using krv::TShownNameRules;

namespace {

// A shell that cuts the extensions of cutFiles from file names (not from
// names that are all extension, nor from directories unless listed in
// cutDirs) and gives some items names of their own.
struct TScriptedShell {
    std::set<std::wstring> cutFiles, cutDirs;
    std::map<std::wstring, std::wstring> ownNames;
    int asked = 0;

    std::wstring Shown(const std::wstring& name, bool directory) {
        ++asked;
        if (auto own = ownNames.find(name); own != ownNames.end()) return own->second;
        size_t dot = name.rfind(L'.');
        if (dot == std::wstring::npos || dot == 0 || name.find(L' ', dot) != std::wstring::npos) return name;
        return (directory ? cutDirs : cutFiles).count(name.substr(dot)) ? name.substr(0, dot) : name;
    }
};

struct TItem {
    std::wstring name;
    bool directory;
    std::wstring shown;
};

struct TCase {
    const char* what;
    TScriptedShell shell;
    std::vector<TItem> items;
    int asked;
};

} // namespace

// Items in the order given, each checked against the scripted shell's name.
TEST(ShownNameRules, EachExtensionAndKindFollowsTheShell) {
    TCase cases[] = {
        {"extensions cut and kept",
         {{L".one", L".lnk"}, {L".{cls}"}, {}},
         {
             {L"a.one", false, L"a"},
             {L"b.two", false, L"b.two"},
             {L"c.one", false, L"c"},
             {L"d.two", false, L"d.two"},
             {L"dir.one", true, L"dir.one"},   // the same extension on a directory
             {L"other dir.one", true, L"other dir.one"},
             {L"e.ONE", false, L"e.ONE"},       // another spelling is another extension
             {L".one", false, L".one"},         // all extension: never cut
             {L"f.one", false, L"f"},
             {L"README", false, L"README"},
             {L"x.tar.one", false, L"x.tar"},    // only the last extension
             {L"y.one two", false, L"y.one two"},   // a space after the dot: no extension
             {L"shortcut.lnk", false, L"shortcut"},
             {L"junction.{cls}", true, L"junction"},
             {L"twin.{cls}", true, L"twin"},
             {L"file.{cls}", false, L"file.{cls}"},
         },
         // .one, .two, .one directory, .ONE, ".one" itself, no extension (which
         // "y.one two" then follows), .lnk, .{cls} directory, .{cls} file.
         9},
        {"an item with a name of its own makes its extension always asked",
         {{L".txt"}, {}, {{L"first.ini", L"Settings"}, {L"third.ini", L"Other settings"}}},
         {
             {L"first.ini", false, L"Settings"},
             {L"second.ini", false, L"second.ini"},
             {L"third.ini", false, L"Other settings"},
             {L"a.txt", false, L"a"},
             {L"b.txt", false, L"b"},
         },
         4},
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.what);
        TShownNameRules rules;
        for (const TItem& i : c.items)
            EXPECT_EQ(rules.ShownName(i.name, i.directory, [&] { return c.shell.Shown(i.name, i.directory); }), i.shown)
                << std::string(i.name.begin(), i.name.end()) << (i.directory ? " (directory)" : "");
        EXPECT_EQ(c.shell.asked, c.asked) << "times the shell was asked";
    }
}

// Random folders whose shell is consistent per extension and kind: the rules
// never give a name the shell would not, and ask at most once per extension
// and kind, plus every all-extension name.
TEST(ShownNameRules, RandomFoldersAlwaysMatchTheShell) {
    std::mt19937 random(20261207);
    const std::vector<std::wstring> stems = {L"a", L"report", L"x.y", L"", L"Привет", L"name with space", L"dot."};
    const std::vector<std::wstring> exts = {L".txt", L".TXT", L".doc", L".lnk", L".a b", L"", L".", L".{c}"};
    for (int folder = 0; folder < 200; ++folder) {
        TScriptedShell shell;
        for (const auto& e : exts) {
            if (random() % 2) shell.cutFiles.insert(e);
            if (random() % 4 == 0) shell.cutDirs.insert(e);
        }
        TShownNameRules rules;
        std::set<std::pair<std::wstring, bool>> keys;
        int allExtension = 0;
        for (int i = 0; i < 40; ++i) {
            std::wstring name = stems[random() % stems.size()] + exts[random() % exts.size()];
            if (name.empty()) continue;
            bool dir = random() % 3 == 0;
            std::wstring want = TScriptedShell(shell).Shown(name, dir);
            ASSERT_EQ(rules.ShownName(name, dir, [&] { return shell.Shown(name, dir); }), want)
                << "folder " << folder << " item " << i;
            std::wstring ext = ::PathFindExtensionW(name.c_str());
            if (ext == name) ++allExtension;
            else keys.insert({ext, dir});
        }
        EXPECT_LE(shell.asked, int(keys.size()) + allExtension);
    }
}
