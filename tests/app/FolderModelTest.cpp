// A model check of the folder selection: random folder trees, random ticks
// and unticks (mouse and space key), folders opened and closed, size scans
// and runs whose scan window is closed half way, all through the main
// window's real tree; then a run. The archive must hold exactly the files a
// plain model of the ticks selects, and every other file must be under an
// unticked folder, kept out by a mask, or named as left out in the report.
//
// Numbered cases: KRV_MODEL_CASE=<n> runs that one case; a failure prints its number
// and the steps that led to it.
#include "CloseWays.h"
#include "FolderTreeFixture.h"
#include "app/ZipCheckDirs.h"
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace krvtest;

namespace {

// Case-insensitive match of a file name against one mask of "*" and "?".
bool MaskMatches(const std::string& mask, const std::string& name) {
    size_t m = 0, n = 0, star = std::string::npos, resume = 0;
    auto same = [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); };
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || (mask[m] != '*' && same(mask[m], name[n])))) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == '*') {
            star = m++;
            resume = n;
        } else if (star != std::string::npos) {
            m = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

bool AnyMatches(const std::vector<std::string>& masks, const std::string& name) {
    return std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return MaskMatches(m, name); });
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ";") + p;
    return text;
}

// What a person means by the ticks: a folder's tick or untick, with
// "Include subfolders", holds for the folder and everything below it, shown
// in the tree or not; without, for the folder alone. A ticked folder's own
// files are selected; masks then choose among them by name.
struct SelectionModel {
    bool subfolders = true;
    std::vector<std::string> include, exclude;   // empty include: no filters
    std::vector<std::string> folders;            // relative to the top ("" is the top), parents first
    std::map<std::string, std::vector<std::string>> files;   // folder -> its file names
    std::map<std::string, int> sizes;                        // file -> bytes
    std::set<std::string> ticked;

    static bool Below(const std::string& folder, const std::string& top) {
        return top.empty() ? !folder.empty() : folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 &&
                                                   folder[top.size()] == '\\';
    }
    void Toggle(const std::string& folder) {
        const bool tick = !ticked.count(folder);
        for (const std::string& f : folders) {
            if (f != folder && !(subfolders && Below(f, folder))) continue;
            if (tick) ticked.insert(f);
            else ticked.erase(f);
        }
    }
    bool PassesMasks(const std::string& name) const {
        if (include.empty()) return true;
        return AnyMatches(include, name) && !AnyMatches(exclude, name);
    }
    // Selected files (folder\name), before the masks.
    std::vector<std::string> Selected() const {
        std::vector<std::string> out;
        for (const std::string& f : ticked)
            for (const std::string& n : files.at(f)) out.push_back(f.empty() ? n : f + "\\" + n);
        return out;
    }
    int64_t SelectedBytes() const {
        int64_t total = 0;
        for (const std::string& file : Selected()) total += sizes.at(file);
        return total;
    }
};

class FolderModel : public FolderTreeFixture, public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override {
        TFormZipCheckDirs::OnSlice = nullptr;
        TCheckDirThread::Slice = 400;
        FolderTreeFixture::TearDown();
    }
    std::string Top() const { return src + "\\m"; }
    std::string Full(const std::string& rel) const { return rel.empty() ? Top() : Top() + "\\" + rel; }

    // A random tree of at most 24 folders, three levels below the top, with
    // some names that look like file names the masks choose.
    void MakeTree(std::mt19937& rng) {
        static const char* const kFolderNames[] = {"d0", "d1", "d2", "x.doc", "y.tmp"};
        static const char* const kFileNames[] = {"a.txt", "b.doc", "c.tmp", "e.jpg"};
        std::vector<std::pair<std::string, int>> queue{{"", 0}};
        for (size_t i = 0; i < queue.size(); ++i) {
            const auto [folder, depth] = queue[i];
            model.folders.push_back(folder);
            Folder("src\\m" + (folder.empty() ? "" : "\\" + folder));
            auto& own = model.files[folder];
            for (const char* name : kFileNames) {
                if (rng() % 2) continue;
                const std::string rel = folder.empty() ? name : folder + "\\" + name;
                const int size = 1 + static_cast<int>(rng() % 60);
                Write("src\\m\\" + rel, std::string(size, 'a' + static_cast<char>(rng() % 26)));
                own.push_back(name);
                model.sizes[rel] = size;
            }
            if (depth == 3) continue;
            const int children = depth == 0 ? 2 + static_cast<int>(rng() % 3) : static_cast<int>(rng() % 4);
            std::vector<std::string> names(std::begin(kFolderNames), std::end(kFolderNames));
            std::shuffle(names.begin(), names.end(), rng);
            for (int c = 0; c < children && queue.size() < 24; ++c)
                queue.push_back({folder.empty() ? names[c] : folder + "\\" + names[c], depth + 1});
        }
    }

    // The steps, for the message of a failure.
    std::string Steps() const {
        std::ostringstream text;
        for (const std::string& s : steps) text << "\n  " << s;
        return text.str();
    }

    void Click(const std::string& folder, bool space) {
        steps.push_back((space ? "space on " : "click on ") + Full(folder));
        if (space) SpaceOn(Full(folder));
        else ClickBox(Full(folder));
        model.Toggle(folder);
    }
    void SetOpen(const std::string& folder, bool open) {
        steps.push_back((open ? "open " : "close ") + Full(folder));
        Tree().SetExpanded(Node(Full(folder)), open);
        Pump();
    }
    // What the tree shows is what the model says, for every folder it has made.
    void CheckShownTicks() {
        for (const std::string& folder : model.folders) {
            PLazyNode node = Tree().FindNodeByPath(AnsiToWide(Full(folder)));
            if (!node) continue;
            EXPECT_EQ(IsTicked(node), model.ticked.count(folder) > 0) << Full(folder) << Steps();
        }
    }
    void SizeScan(TMainForm& f) {
        steps.push_back("size scan");
        f.ButtonUpdateSizeClick();
        EXPECT_EQ(f.SelectedSize, model.SelectedBytes()) << Steps();
    }
    // A run whose scan window is closed half way: cancelled, nothing written.
    // A run whose scan window is closed half way: cancelled, nothing written.
    // When the walk ended before the close, the run is judged as a whole one.
    void ClosedRun(TMainForm& f, std::mt19937& rng) {
        // A close message or the close command, handled while the walk is under way.
        const CloseWay& way = CloseWays()[rng() % 2];
        const int at = 1 + static_cast<int>(rng() % 3);
        steps.push_back("run closed at slice " + std::to_string(at) + " by " + way.name);
        if (rng() % 2) f.ButtonUpdateSize->SetEnabled(true);   // the walk that also counts the size
        const std::set<std::string> before = DestFiles();
        TCheckDirThread::Slice = 2;
        int slices = 0;
        TFormZipCheckDirs::OnSlice = [&](TFormZipCheckDirs& window) {
            if (++slices == at) SendClose(window.Handle(), way);
        };
        f.ReportLines.Clear();
        f.ButtonStartClick();
        TFormZipCheckDirs::OnSlice = nullptr;
        TCheckDirThread::Slice = 400;
        if (slices < at) return JudgeRun(f, before);
        EXPECT_TRUE(f.RunStopped()) << Steps();
        EXPECT_EQ(f.ExitCode, ecFailed) << Steps();
        EXPECT_EQ(Report().back(), "Operation aborted") << Steps();
        EXPECT_EQ(DestFiles(), before) << Steps();
    }
    void Run(TMainForm& f) {
        steps.push_back("run");
        const std::set<std::string> before = DestFiles();
        f.ReportLines.Clear();
        f.ButtonStartClick();
        JudgeRun(f, before);
    }
    std::set<std::string> DestFiles() const {
        std::set<std::string> names;
        WIN32_FIND_DATAA fd;
        FindHandle h(::FindFirstFileA((dest + "\\*").c_str(), &fd));
        if (h) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(fd.cFileName);
            } while (::FindNextFileA(h.get(), &fd));
        }
        return names;
    }
    // A run's archive against the model: what it holds was selected, and what
    // it lacks was not, or was kept out by a mask, or is named in the report.
    // The earlier backup stays as it was.
    void JudgeRun(TMainForm& f, const std::set<std::string>& before) {
        const std::vector<std::string> report = Report();
        std::ifstream earlier(dest + "\\X.zip");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "the earlier backup") << Steps();
        std::vector<std::string> made;
        for (const std::string& name : DestFiles())
            if (!before.count(name)) made.push_back(name);
        if (model.ticked.empty()) {
            EXPECT_TRUE(f.RunStopped()) << "nothing ticked is no backup" << Steps();
            EXPECT_TRUE(made.empty()) << Steps();
            return;
        }
        ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(report) << Steps();
        ASSERT_EQ(made.size(), 1u) << ::testing::PrintToString(made) << Steps();
        std::set<std::string> archived;
        for (const std::string& e : Entries(dest + "\\" + made[0]))
            if (e.back() != '/') archived.insert(AnsiLowerCase(e));
        std::set<std::string> selected;
        for (const std::string& rel : model.Selected()) selected.insert(rel);
        for (const auto& [folder, names] : model.files) {
            for (const std::string& name : names) {
                const std::string rel = folder.empty() ? name : folder + "\\" + name;
                const bool inArchive = archived.erase(AnsiLowerCase(Stored("src\\m\\" + rel))) > 0;
                const bool wanted = selected.count(rel) && model.PassesMasks(name);
                if (inArchive) {
                    EXPECT_TRUE(wanted) << rel << " archived but not selected" << Steps();
                } else if (wanted) {
                    // Only a file the report names (itself or a folder above it) may be missing.
                    bool named = false;
                    for (std::string p = Full(rel); !named && p.size() > Top().size(); p = ExtractFileDir(p))
                        named = Holds(report, p + " not found") || Holds(report, p + " is locked");
                    EXPECT_TRUE(named) << rel << " left out without a word" << Steps();
                }
            }
        }
        EXPECT_TRUE(archived.empty()) << ::testing::PrintToString(archived) << " archived from outside" << Steps();
    }

    SelectionModel model;
    std::vector<std::string> steps;
};

// The case number decides everything: "Include subfolders" by its lowest bit, masks by the next.
unsigned CaseNumber(int index) {
    if (const char* fixed = std::getenv("KRV_MODEL_CASE")) return static_cast<unsigned>(std::strtoul(fixed, nullptr, 10));
    return 20261208u + static_cast<unsigned>(index);
}

} // namespace

TEST_P(FolderModel, TheArchiveHoldsExactlyWhatTheTicksSelect) {
    if (std::getenv("KRV_MODEL_CASE") && GetParam() != 0) GTEST_SKIP() << "one case asked for";
    const unsigned number = CaseNumber(GetParam());
    SCOPED_TRACE("case " + std::to_string(number) + " (KRV_MODEL_CASE=" + std::to_string(number) + " repeats it)");
    std::mt19937 rng(number);
    model.subfolders = number % 2 == 0;
    if (number / 2 % 2) {
        model.include = {"*.txt", "*.doc", "*.jpg"};
        model.include.erase(model.include.begin() + static_cast<long>(rng() % 3));
        model.exclude = {rng() % 2 ? "b.*" : "*.tmp"};
    }
    MakeTree(rng);
    Write("dest\\X.zip", "the earlier backup");
    TMainForm& f = ShownForm();
    f.SubFoldersCheck->SetChecked(model.subfolders);
    f.Settings.ExSubDir = rng() % 2;
    f.CheckFilters->SetChecked(!model.include.empty());
    f.EditInclusionMask->SetText(Joined(model.include));
    f.EditExclusionMask->SetText(Joined(model.exclude));
    steps.push_back(Format("subfolders %d, open on tick %d, masks '%s' less '%s'", model.subfolders,
                           f.Settings.ExSubDir, Joined(model.include).c_str(), Joined(model.exclude).c_str()));
    auto any = [&] { return model.folders[rng() % model.folders.size()]; };
    // Half the time a folder a tick reaches (its first opening hands the tick
    // down), or one near the top (closing it hides ticked folders the scan
    // then opens again).
    auto underTick = [&] {
        std::vector<std::string> some;
        for (const std::string& f : model.folders)
            if (!f.empty() && model.ticked.count(f.substr(0, f.rfind('\\') == std::string::npos ? 0 : f.rfind('\\'))))
                some.push_back(f);
        return some.empty() || rng() % 2 ? any() : some[rng() % some.size()];
    };
    auto nearTop = [&] {
        const std::string f = any();
        return rng() % 2 ? f.substr(0, f.find('\\') == std::string::npos ? f.size() : f.find('\\')) : f;
    };
    for (int step = 0; step < 28 && !HasFailure(); ++step) {
        const unsigned roll = rng() % 20;
        if (roll < 7) Click(any(), rng() % 2);
        else if (roll < 11) SetOpen(underTick(), true);
        else if (roll < 15) SetOpen(nearTop(), false);
        else if (roll < 18) SizeScan(f);
        else ClosedRun(f, rng);
        CheckShownTicks();
    }
    if (!HasFailure()) Run(f);
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderModel, ::testing::Range(0, 8));
