#include "app/ZipCheckDirsThread.h"
#include "app/Messages.h"
#include "framework/SysUtils.h"
#include "shell/WideFileUtils.h"
#include <algorithm>
#include <optional>
#include <windows.h>

namespace krv {

std::string ScanPath(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    return p;
}

bool PathIsInside(const std::string& path, const std::string& folder) {
    std::string f = ScanPath(folder);
    if (f.empty() || path.size() <= f.size() + 1) return false;
    return SameText(path.substr(0, f.size()), f) && (path[f.size()] == '\\' || path[f.size()] == '/');
}

namespace {
// A drive given as "C:" names the drive's root, not its current folder.
std::string FolderForSystem(const std::string& path) {
    return path.size() == 2 && path[1] == ':' ? path + "\\" : path;
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

int Depth(const std::string& path) { return static_cast<int>(std::count(path.begin(), path.end(), '\\')); }
}

// ------------------------------------------------------------ session feed

TSessionFolderFeed::TSessionFolderFeed(const TStringList& checked, const TStringList& unchecked)
    : checked_(checked), unchecked_(unchecked) {}

void TSessionFolderFeed::GetCheckedPaths(TStringList& paths) {
    paths.Clear();
    for (int i = 0; i < checked_.Count(); ++i) {
        std::string p = ScanPath(checked_[i]);
        if (!p.empty() && paths.IndexOf(p) < 0) paths.Add(p);
    }
}

TScanTree::Node TSessionFolderFeed::WalkToPath(const std::string& path, bool) {
    if (Node found = FindNodeByPath(path)) return found;
    std::string p = ScanPath(path);
    if (p.empty() || !DirectoryExists(FolderForSystem(p))) return nullptr;
    FeedNode node;
    node.path = p;
    for (int i = 0; i < checked_.Count(); ++i)
        if (SameText(ScanPath(checked_[i]), p)) node.checked = true;
    for (int i = 0; i < unchecked_.Count(); ++i)
        if (SameText(ScanPath(unchecked_[i]), p)) node.checked = false;
    nodes_.push_back(node);
    return &nodes_.back();
}

TScanTree::Node TSessionFolderFeed::FindNodeByPath(const std::string& path) {
    std::string p = ScanPath(path);
    for (const FeedNode& n : nodes_)
        if (SameText(n.path, p)) return &n;
    return nullptr;
}

bool TSessionFolderFeed::HasShellItem(Node node) { return node != nullptr; }

std::string TSessionFolderFeed::NodePath(Node node) { return static_cast<const FeedNode*>(node)->path; }

std::vector<TScanTree::Node> TSessionFolderFeed::Children(Node) { return {}; }

bool TSessionFolderFeed::IsChecked(Node node) { return static_cast<const FeedNode*>(node)->checked; }

void TSessionFolderFeed::SetChecked(Node node) { const_cast<FeedNode*>(static_cast<const FeedNode*>(node))->checked = true; }

int64_t TSessionFolderFeed::FolderSize(Node node, bool recurse) {
    return static_cast<int64_t>(CalcFolderSize(Widen(FolderForSystem(NodePath(node))), recurse));
}

// ------------------------------------------------------------------ thread

TCheckDirThread::TCheckDirThread(TProgressBar* progressDirs, TProgressBar* progressChilds, TLabel* labelMsg,
                                 TScanTree& tree, const TStringList& checkedPaths, TStringList& recursiveDirs,
                                 TStringList& flatDirs, bool includeSubfolders, TCheckDirMode mode)
    : progressDirs_(progressDirs), progressChilds_(progressChilds), labelMsg_(labelMsg), tree_(tree),
      checkedPaths_(checkedPaths), recursiveDirs_(recursiveDirs), flatDirs_(flatDirs),
      includeSubfolders_(includeSubfolders), mode_(mode) {
    Start();
}

TCheckDirThread::~TCheckDirThread() {
    Terminate();
    WaitFor();
}

template <class F> auto TCheckDirThread::OnTree(F&& f) -> decltype(f()) {
    if constexpr (std::is_void_v<decltype(f())>) {
        Synchronize([&] { f(); });
    } else {
        std::optional<decltype(f())> result;
        Synchronize([&] { result = f(); });
        return std::move(*result);
    }
}

void TCheckDirThread::ShowDir(int position, const std::string& path) {
    Message = KV_Reading + " " + path;
    Synchronize([&] {
        if (progressDirs_) progressDirs_->SetPosition(position);
        if (labelMsg_) labelMsg_->SetCaption(Message);
    });
}

void TCheckDirThread::AdvanceChild(const std::string* path) {
    if (path) Message = KV_Reading + " " + *path;
    Synchronize([&] {
        if (progressChilds_) {
            childPos_ = childPos_ >= progressChilds_->Max() ? 0 : childPos_ + 1;
            progressChilds_->SetPosition(childPos_);
        }
        if (path && labelMsg_) labelMsg_->SetCaption(Message);
    });
}

bool TCheckDirThread::CoveredByWholeFolder(const std::string& path) const {
    for (const std::string& whole : wholeFolders_)
        if (PathIsInside(path, whole)) return true;
    return false;
}

void TCheckDirThread::Execute() {
    // Folders before the folders inside them, so that a ticked folder inside
    // one already taken whole is not taken (or counted) twice.
    std::vector<std::string> paths = checkedPaths_.ToVector();
    std::stable_sort(paths.begin(), paths.end(),
                     [](const std::string& a, const std::string& b) { return Depth(a) < Depth(b); });
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        ShowDir(static_cast<int>(i + 1), path);
        if (Terminated()) break;
        if (CoveredByWholeFolder(path) || Visited(path)) continue;
        if (mode_ == cdmLists) {
            TScanTree::Node node = OnTree([&] { return tree_.WalkToPath(path, true); });
            if (!node) Missing.push_back(path);
            if (node) OnTree([&] { tree_.SetChecked(node); });
            if (Terminated()) break;
            node = OnTree([&] { return tree_.FindNodeByPath(path); });
            if (node) AddListsOf(node, false);
        } else {
            AddSizeOf(OnTree([&] { return tree_.WalkToPath(path, true); }));
        }
    }
    visited_.Clear();
}

void TCheckDirThread::AddListsOf(TScanTree::Node node, bool top) {
    if (Terminated() || !node || !OnTree([&] { return tree_.HasShellItem(node); })) return;
    std::string path = OnTree([&] { return tree_.NodePath(node); });
    bool taken = top || OnTree([&] { return tree_.IsChecked(node); });
    if (!includeSubfolders_) {
        // Without subfolders a ticked folder still gives its own files.
        if (taken && !Visited(path)) {
            flatDirs_.Add(path);
            visited_.Add(path);
        }
        return;
    }
    std::vector<TScanTree::Node> children = OnTree([&] { return tree_.Children(node); });
    if (children.empty()) {
        if (taken && !Visited(path)) {
            recursiveDirs_.Add(path);
            visited_.Add(path);
            wholeFolders_.push_back(path);
        }
        return;
    }
    if (taken && !Visited(path)) {
        flatDirs_.Add(path);
        visited_.Add(path);
    }
    for (TScanTree::Node child : children) {
        AdvanceChild();
        if (Terminated()) return;
        AddListsOf(child, false);
    }
    OnTree([&] { tree_.ResetNode(node); });
}

void TCheckDirThread::AddSizeOf(TScanTree::Node node) {
    if (Terminated() || !node) return;
    bool hasItem = OnTree([&] { return tree_.HasShellItem(node); });
    std::vector<TScanTree::Node> children = OnTree([&] { return tree_.Children(node); });
    std::string path = hasItem ? OnTree([&] { return tree_.NodePath(node); }) : std::string();
    if (children.empty()) {
        if (!hasItem || Visited(path)) return;
        size_ += tree_.FolderSize(node, includeSubfolders_);
        visited_.Add(path);
        if (includeSubfolders_) wholeFolders_.push_back(path);
        return;
    }
    if (hasItem) {
        size_ += tree_.FolderSize(node, false);
        visited_.Add(path);
    }
    for (TScanTree::Node child : children) {
        if (Terminated()) return;
        if (!OnTree([&] { return tree_.HasShellItem(child); })) continue;
        std::string childPath = OnTree([&] { return tree_.NodePath(child); });
        if (!OnTree([&] { return tree_.IsChecked(child); }) || checkedPaths_.IndexOf(childPath) >= 0 ||
            Visited(childPath))
            continue;
        AdvanceChild(&childPath);
        AddSizeOf(child);
    }
}

} // namespace krv
