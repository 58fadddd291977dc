// The folder scan of a run: turns the ticks of the folder tree into the two
// folder lists (folders taken with their own files only, folders taken with
// everything below them) and adds up the bytes they hold.
//
// The tree is walked on the user-interface thread only, in slices handed
// over by the scan thread; between slices that thread keeps running the
// progress window, so Cancel is heard. The scan thread itself reads only the
// file system (existence and sizes of the folders the walk gave).
#pragma once
#include "framework/ComCtrls.h"
#include "framework/StdCtrls.h"
#include "framework/Strings.h"
#include "framework/Thread.h"
#include "tree/core/LazyTrees.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace krv {

// A folder path as the lists hold it: no trailing "\" (a drive stays "C:").
std::string ScanPath(const std::string& path);
// The log line of a folder left out: its path and why (error: the system's
// error of listing it; link: a link to a folder, which is not followed).
std::string FolderLeftOutLine(const std::string& folder, unsigned long error, bool link);
// The system's error of listing a folder now (0 when it can be listed).
unsigned long FolderListingError(const std::string& folder);
// True when path lies inside folder (not equal to it), by exact names.
bool PathIsInside(const std::string& path, const std::string& folder);
// True for a link to a folder (a symbolic link, junction or mount point): never followed.
bool IsFolderLink(const std::string& path);
// The folders a run backs up, as a link's line weighs its target.
struct TBackedUpFolders {
    std::vector<std::string> Whole;   // taken with their subfolders
    std::vector<std::string> Own;     // taken with their own files (their ticked subfolders are listed apart)
    // True when the exclusion masks keep folder, inside the folder searched
    // with its subfolders, out of the backup (none: no masks known).
    std::function<bool(const std::string& folder, const std::string& searched)> Excluded;
    // The folders above that the system finds elsewhere (a link on their
    // way): their final paths, each with the folder's own. Asked of the
    // system once, at the first link that needs it, whichever thread asks.
    const std::vector<std::pair<std::string, std::string>>& Reached() const;

private:
    mutable std::once_flag reachedOnce_;
    mutable std::vector<std::pair<std::string, std::string>> reached_;
};
// What is true of the target of a link to a folder: it is backed up
// (following the link would add nothing; a target ticked in part is backed up
// as ticked), an exclusion mask keeps it out (nothing asked for is missing),
// or it is left out (it lies elsewhere, is unticked, or cannot be read).
enum TLinkTarget { ltLeftOut, ltBackedUp, ltExcluded };
TLinkTarget LinkTargetOf(const std::string& link, const TBackedUpFolders& folders);
// The log line of such a link: red and counted only for ltLeftOut.
std::string LinkLine(const std::string& link, TLinkTarget target);
// True for the ticked states of a node.
inline bool IsTicked(PLazyNode node) {
    return node && (node->CheckState == csCheckedNormal || node->CheckState == csCheckedPressed);
}

// What a scan gives: the lists (gone folders dropped), the size, or both
// from one walk (a run that also counts the size).
enum TCheckDirMode { cdmLists = 0, cdmSize = 1, cdmListsAndSize = 2 };
inline bool ScanGivesLists(TCheckDirMode mode) { return mode != cdmSize; }
inline bool ScanGivesSize(TCheckDirMode mode) { return mode != cdmLists; }

// What the walk asks of the folder tree beyond its nodes. Both run on the
// user-interface thread.
struct TFolderTreeAccess {
    TBaseLazyTree* Tree = nullptr;
    // The folder of a node; empty when the node stands for no file-system folder.
    std::function<std::string(PLazyNode)> NodePath;
    // The node of a folder, made, expanded and selected on the way; null when
    // the tree has no node for it.
    std::function<PLazyNode(const std::string&)> WalkToPath;
};

// The walk over the ticked folders, one slice at a time. A ticked folder
// whose children were never made is taken whole; one with children gives its
// own files and is walked on, each child judged the same way. Without
// "Include subfolders" every ticked folder gives its own files only.
class TDirWalk {
public:
    TDirWalk(TFolderTreeAccess access, std::vector<std::string> checkedPaths, bool includeSubfolders);

    // Walks at most budget nodes; false when the walk is over.
    bool Step(int budget);
    // Index (from 1) of the checked path being walked, and the path.
    int PathNumber() const { return pathNumber_; }
    const std::string& CurrentPath() const { return currentPath_; }
    // Nodes visited below the checked paths (for the child bar).
    int64_t NodesVisited() const { return nodesVisited_; }

    std::vector<std::string> FlatDirs;
    std::vector<std::string> RecursiveDirs;
    // Ticked folders the tree has no node for (gone, renamed, not a folder).
    std::vector<std::string> Missing;
    // Links to folders met inside a folder taken with its subfolders: never
    // in the lists nor walked into, each named by the run.
    std::vector<std::string> Links;

private:
    struct TStep {
        PLazyNode node;
        bool insideWhole;   // its parent is ticked and taken with its subfolders
    };
    bool Taken(const std::string& path) const;
    bool Covered(const std::string& path) const;
    void Take(std::vector<std::string>& list, const std::string& path, bool whole);
    void Visit(PLazyNode node, bool insideWhole);

    TFolderTreeAccess access_;
    std::vector<std::string> paths_;
    bool includeSubfolders_;
    size_t next_ = 0;
    int pathNumber_ = 0;
    std::string currentPath_;
    std::vector<TStep> stack_;
    // By exact names: the folders taken, and those taken with everything below them.
    std::unordered_set<std::string> visited_;
    std::unordered_set<std::string> wholeFolders_;
    int64_t nodesVisited_ = 0;
};

class TCheckDirThread : public TThread {
public:
    // Starts at once. The walk, the bars and the label belong to the
    // user-interface thread; the thread reaches them only by hand-off.
    TCheckDirThread(TDirWalk& walk, TProgressBar* progressDirs, TProgressBar* progressChilds, TLabel* labelMsg,
                    bool includeSubfolders, TCheckDirMode mode, std::function<void()> afterSlice = {});
    ~TCheckDirThread() override;

    int64_t Size() const { return size_; }
    // Folders of the walk that are gone from the disk by now: left out.
    std::vector<std::string> Vanished;
    // Lines for the folders the size count could not take (see FolderLeftOutLine).
    std::vector<std::string> NotCounted;
    // The message shown by the window ("Reading dir: ...").
    std::string Message;
    // Nodes walked per hand-off: big enough that the hand-offs cost little,
    // small enough that the window answers between two of them (tests make
    // it small to stop a walk half way).
    static inline std::atomic<int> Slice{400};
    // When set (an end-to-end test seam), the walk waits on this event after
    // its first slice; the window sets it when the scan is stopped.
    std::atomic<HANDLE> HoldAfterFirstSlice{nullptr};

protected:
    void Execute() override;

private:
    void WalkTree();
    void DropVanished(std::vector<std::string>& list);
    void AddSizes();
    void ShowFolder(const std::string& path);

    TDirWalk& walk_;
    TProgressBar* progressDirs_;
    TProgressBar* progressChilds_;
    TLabel* labelMsg_;
    bool includeSubfolders_;
    TCheckDirMode mode_;
    std::function<void()> afterSlice_;
    std::atomic<int64_t> size_{0};
    int childPos_ = 0;
    DWORD lastShown_ = 0;
};

} // namespace krv
