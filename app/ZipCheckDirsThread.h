// The folder scan of a run: turns the ticked folders of the folder tree into
// the two folder lists (folders taken with their own files only, folders
// taken whole) or adds up the bytes they hold. The scan reads the tree only
// through TScanTree, so the tree behind it can change without touching the
// scan; every tree call is handed to the user-interface thread.
#pragma once
#include "framework/ComCtrls.h"
#include "framework/StdCtrls.h"
#include "framework/Strings.h"
#include "framework/Thread.h"
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace krv {

// What the scan reads of the folder tree. Nodes are opaque; a node without
// children is one the tree never expanded (it is taken whole).
class TScanTree {
public:
    using Node = const void*;
    virtual ~TScanTree() = default;
    // The paths of the ticked folders, each without a trailing "\".
    virtual void GetCheckedPaths(TStringList& paths) = 0;
    // The node of a path, made (and expanded when asked) on the way; null when
    // the path is not a folder of the tree.
    virtual Node WalkToPath(const std::string& path, bool expand) = 0;
    // The node of a path when it exists, without making one.
    virtual Node FindNodeByPath(const std::string& path) = 0;
    // False when the node stands for no folder (a shell item without a path).
    virtual bool HasShellItem(Node node) = 0;
    virtual std::string NodePath(Node node) = 0;
    // The children the tree holds for the node (none when never expanded).
    virtual std::vector<Node> Children(Node node) = 0;
    virtual bool IsChecked(Node node) = 0;
    virtual void SetChecked(Node node) = 0;
    // Drops the node's children; they are made again when needed.
    virtual void ResetNode(Node node) = 0;
    // Bytes of the folder's files (and its subfolders' with recurse). Reads
    // the file system only: it is called on the scan's own thread.
    virtual int64_t FolderSize(Node node, bool recurse) = 0;
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

// The tree as the session describes it, until the shell tree takes over:
// every ticked folder of the session is an unexpanded node (taken whole with
// "Include subfolders"); any other existing folder is a node that is not ticked.
class TSessionFolderFeed : public TScanTree {
public:
    // checked and unchecked are read at every GetCheckedPaths (the session's lists).
    TSessionFolderFeed(const TStringList& checked, const TStringList& unchecked);
    void GetCheckedPaths(TStringList& paths) override;
    Node WalkToPath(const std::string& path, bool expand) override;
    Node FindNodeByPath(const std::string& path) override;
    bool HasShellItem(Node node) override;
    std::string NodePath(Node node) override;
    std::vector<Node> Children(Node node) override;
    bool IsChecked(Node node) override;
    void SetChecked(Node node) override;
    void ResetNode(Node) override {}
    int64_t FolderSize(Node node, bool recurse) override;

private:
    struct FeedNode {
        std::string path;
        bool checked = false;
    };
    const TStringList& checked_;
    const TStringList& unchecked_;
    std::deque<FeedNode> nodes_;   // stable addresses: nodes are handed out as pointers
};

// A folder path as the lists hold it: no trailing "\" (a drive stays "C:").
std::string ScanPath(const std::string& path);
// True when path lies inside folder (not equal to it); case-insensitive.
bool PathIsInside(const std::string& path, const std::string& folder);

enum TCheckDirMode { cdmLists = 0, cdmSize = 1 };

class TCheckDirThread : public TThread {
public:
    // Starts at once. The bars and the label belong to the waiting window;
    // they are changed only on the user-interface thread.
    TCheckDirThread(TProgressBar* progressDirs, TProgressBar* progressChilds, TLabel* labelMsg, TScanTree& tree,
                    const TStringList& checkedPaths, TStringList& recursiveDirs, TStringList& flatDirs,
                    bool includeSubfolders, TCheckDirMode mode);
    ~TCheckDirThread() override;

    int64_t Size() const { return size_; }
    // The message shown by the window ("Reading dir: ...").
    std::string Message;
    // Ticked folders the tree does not find (gone, renamed, never there).
    std::vector<std::string> Missing;

protected:
    void Execute() override;

private:
    void AddListsOf(TScanTree::Node node, bool top);
    void AddSizeOf(TScanTree::Node node);
    void ShowDir(int position, const std::string& path);
    void AdvanceChild(const std::string* path = nullptr);
    // Runs a tree call on the user-interface thread.
    template <class F> auto OnTree(F&& f) -> decltype(f());
    bool Visited(const std::string& path) const { return visited_.IndexOf(path) >= 0; }
    bool CoveredByWholeFolder(const std::string& path) const;

    TProgressBar* progressDirs_;
    TProgressBar* progressChilds_;
    TLabel* labelMsg_;
    TScanTree& tree_;
    TStringList checkedPaths_;
    TStringList& recursiveDirs_;
    TStringList& flatDirs_;
    bool includeSubfolders_;
    TCheckDirMode mode_;
    TStringList visited_;
    std::vector<std::string> wholeFolders_;   // folders taken with everything below them
    std::atomic<int64_t> size_{0};
    int childPos_ = 0;
};

} // namespace krv
