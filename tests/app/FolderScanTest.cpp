// The folder scan through its window: the folder lists and the selected size
// from the session's ticked folders, and from a tree that has expanded nodes.
#include "RunFixture.h"
#include "app/Log.h"
#include "app/ZipCheckDirs.h"
#include <deque>
#include <map>

using namespace krvtest;

namespace {

// A tree with expanded folders: nodes with children are taken as their own
// files plus their ticked children.
class ExpandedTree : public TScanTree {
public:
    struct N {
        std::string path;
        bool checked = false;
        int64_t ownBytes = 0;
        std::vector<N*> kids;
    };
    N* Add(const std::string& path, bool checked, int64_t ownBytes, N* parent = nullptr) {
        nodes.push_back({path, checked, ownBytes, {}});
        if (parent) parent->kids.push_back(&nodes.back());
        return &nodes.back();
    }
    void GetCheckedPaths(TStringList& paths) override {
        paths.Clear();
        for (const std::string& p : top) paths.Add(p);
    }
    Node WalkToPath(const std::string& path, bool) override { return FindNodeByPath(path); }
    Node FindNodeByPath(const std::string& path) override {
        for (N& n : nodes)
            if (SameText(n.path, path)) return &n;
        return nullptr;
    }
    bool HasShellItem(Node node) override { return node != nullptr; }
    std::string NodePath(Node node) override { return static_cast<const N*>(node)->path; }
    std::vector<Node> Children(Node node) override {
        const N* n = static_cast<const N*>(node);
        return {n->kids.begin(), n->kids.end()};
    }
    bool IsChecked(Node node) override { return static_cast<const N*>(node)->checked; }
    void SetChecked(Node node) override { const_cast<N*>(static_cast<const N*>(node))->checked = true; }
    void ResetNode(Node) override { ++resets; }
    int64_t FolderSize(Node node, bool recurse) override {
        const N* n = static_cast<const N*>(node);
        int64_t total = n->ownBytes;
        if (recurse)
            for (const N* k : n->kids) total += FolderSize(k, true);
        return total;
    }
    void BeginUpdate() override { ++updates; }
    void EndUpdate() override { --updates; }

    std::deque<N> nodes;
    std::vector<std::string> top;
    int resets = 0;
    int updates = 0;
};

class FolderScan : public RunFixture {
protected:
    void MakeTree() {
        Write("src\\one\\a.txt", std::string(100, 'a'));
        Write("src\\one\\b c.txt", std::string(20, 'b'));
        Write("src\\one\\sub\\deep.txt", std::string(1000, 'd'));
        Write("src\\one\\sub\\empty.txt", "");
        Folder("src\\one\\zero");
        Write("src\\two\\t.txt", std::string(7, 't'));
    }
};

} // namespace

TEST_F(FolderScan, TickedFoldersAreTakenWholeOnceEvenWhenNested) {
    MakeTree();
    TMainForm& f = MakeForm({src + "\\one\\sub\\", src + "\\one", src + "\\two", src + "\\gone"});
    f.SubFoldersCheck->SetChecked(true);
    f.MakeDirLists();
    EXPECT_FALSE(f.Cancel);
    EXPECT_EQ(f.RecursiveDirs.ToVector(), (std::vector<std::string>{src + "\\one", src + "\\two"}));
    EXPECT_TRUE(f.FlatDirs.Empty());
    // A ticked folder that is gone is left out with its red line, and counted.
    EXPECT_EQ(f.ReportLines.ToVector().back(), src + "\\gone not found, skipped.");
    EXPECT_EQ(f.LeftOut, 1);

    f.ButtonUpdateSize->SetEnabled(true);
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, 100 + 20 + 1000 + 7);
    EXPECT_EQ(f.LabelSize->Caption(), FormatSize(1127));
    EXPECT_FALSE(f.ButtonUpdateSize->Enabled());
}

TEST_F(FolderScan, WithoutSubfoldersTheTickedFoldersStillGiveTheirOwnFiles) {
    MakeTree();
    TMainForm& f = MakeForm({src + "\\one", src + "\\one\\sub", src + "\\two"});
    f.SubFoldersCheck->SetChecked(false);
    f.MakeDirLists();
    EXPECT_TRUE(f.RecursiveDirs.Empty());
    EXPECT_EQ(f.FlatDirs.ToVector(), (std::vector<std::string>{src + "\\one", src + "\\two", src + "\\one\\sub"}));
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, 100 + 20 + 7 + 1000);
}

TEST_F(FolderScan, NoTickedFolderGivesSizeZeroAndEmptyLists) {
    TMainForm& f = MakeForm({});
    f.SelectedSize = 555;
    f.LabelSize->SetCaption("stale");
    f.MakeDirLists();
    EXPECT_TRUE(f.RecursiveDirs.Empty());
    EXPECT_TRUE(f.FlatDirs.Empty());
    EXPECT_EQ(f.SelectedSize, 0);
    EXPECT_EQ(f.LabelSize->Caption(), "0 bytes");
}

TEST_F(FolderScan, AnExpandedFolderGivesItsOwnFilesAndItsTickedChildren) {
    TMainForm& f = MakeForm({});
    auto tree = std::make_unique<ExpandedTree>();
    ExpandedTree* t = tree.get();
    auto* a = t->Add("C:\\a", false, 10);
    t->Add("C:\\a\\b", true, 200, a);
    auto* c = t->Add("C:\\a\\c", false, 3000, a);
    t->Add("C:\\a\\c\\x", true, 40000, c);   // ticked below an unticked, expanded folder
    auto* d = t->Add("C:\\a\\d", true, 500000, a);
    t->Add("C:\\a\\d\\e", true, 6000000, d);
    t->Add("C:\\a\\d\\f", false, 70000000, d);
    t->top = {"C:\\a"};
    f.SetScanTree(std::move(tree));
    f.SubFoldersCheck->SetChecked(true);

    f.MakeDirLists();
    EXPECT_EQ(f.FlatDirs.ToVector(), (std::vector<std::string>{"C:\\a", "C:\\a\\d"}));
    EXPECT_EQ(f.RecursiveDirs.ToVector(), (std::vector<std::string>{"C:\\a\\b", "C:\\a\\c\\x", "C:\\a\\d\\e"}));
    EXPECT_EQ(t->resets, 3);    // every expanded folder is reset after its walk
    EXPECT_EQ(t->updates, 0);   // the tree's update bracket is closed again

    // The size walk goes only through ticked folders.
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, 10 + 200 + 500000 + 6000000);
}

TEST_F(FolderScan, CancelOfTheListsAsksAndStopsTheRun) {
    MakeTree();
    TMainForm& f = MakeForm({src + "\\one"});
    TFormZipCheckDirs window(&f, cdmLists, "start");
    boxAnswer = IDNO;
    window.ButtonWaitCancelClick();
    EXPECT_FALSE(window.Cancelled);
    EXPECT_FALSE(f.Cancel);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 52u);
    EXPECT_EQ(boxes[0].text, "Do you really want to stop the task?");
    boxAnswer = IDYES;
    window.ButtonWaitCancelClick();
    EXPECT_TRUE(window.Cancelled);
    EXPECT_TRUE(f.Cancel);
    EXPECT_EQ(window.LabelWaitTask->Caption(), "Aborting task...");
    EXPECT_FALSE(window.ButtonWaitCancel->Enabled());

    // The size window stops without a question.
    TFormZipCheckDirs sizeWindow(&f, cdmSize, "start");
    sizeWindow.ButtonWaitCancelClick();
    EXPECT_TRUE(sizeWindow.Cancelled);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST(ScanPaths, TrailingSeparatorsAndInsideTests) {
    EXPECT_EQ(ScanPath("C:\\a\\"), "C:\\a");
    EXPECT_EQ(ScanPath("C:\\"), "C:");
    EXPECT_TRUE(PathIsInside("C:\\a\\b", "C:\\A"));
    EXPECT_TRUE(PathIsInside("C:\\a\\b", "C:\\a\\"));
    EXPECT_FALSE(PathIsInside("C:\\ab", "C:\\a"));
    EXPECT_FALSE(PathIsInside("C:\\a", "C:\\a"));
    EXPECT_TRUE(PathIsInside("C:\\a", "C:"));
}
