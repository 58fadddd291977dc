#include "app/ZipCheckDirsThread.h"
#include "app/Messages.h"
#include "framework/LazyLibrary.h"
#include "framework/SysUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
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
    // By exact names, as the tree and the file system give them.
    return path.compare(0, f.size(), f) == 0 && (path[f.size()] == '\\' || path[f.size()] == '/');
}

namespace {
// Where the system finds a folder, every link on its way resolved ("" when
// it cannot). Bound at run time: systems before Vista lack the call, and a
// link's target stays unknown there.
std::string FinalPath(const std::string& folder) {
    using TFinalPath = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const auto finalPath = KernelLibrary().TryGet<TFinalPath>("GetFinalPathNameByHandleW");
    if (!finalPath) return {};
    FileHandle target(::CreateFileW(LongPathW(folder).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target) return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = finalPath(target.get(), path.data(), static_cast<DWORD>(path.size()), 0);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(n);
    }
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) path = L"\\" + path.substr(7);
    else if (path.rfind(L"\\\\?\\", 0) == 0) path = path.substr(4);
    return ScanPath(WideToAnsi(SystemRoot(path)));
}

// Where a target spelled so lies among the backed-up folders, by exact names
// ("SRC" beside a backed-up "src" is another folder; "C:\dataX" is not inside "C:\data").
TLinkTarget TargetAmong(const std::string& target, const TBackedUpFolders& folders) {
    for (const std::string& folder : folders.Whole) {
        const std::string whole = ScanPath(folder);
        if (target != whole && !PathIsInside(target, whole)) continue;
        return folders.Excluded && folders.Excluded(target, whole) ? ltExcluded : ltBackedUp;
    }
    const bool own = std::any_of(folders.Own.begin(), folders.Own.end(),
                                 [&](const std::string& folder) { return target == ScanPath(folder); });
    return own ? ltBackedUp : ltLeftOut;
}
} // namespace

const std::vector<std::pair<std::string, std::string>>& TBackedUpFolders::Reached() const {
    std::call_once(reachedOnce_, [this] {
        for (const auto* list : {&Whole, &Own})
            for (const std::string& folder : *list) {
                const std::string listed = ScanPath(folder), final = FinalPath(listed);
                if (!final.empty() && final != listed) reached_.emplace_back(final, listed);
            }
    });
    return reached_;
}

TLinkTarget LinkTargetOf(const std::string& link, const TBackedUpFolders& folders) {
    const std::string target = FinalPath(link);
    if (target.empty()) return ltLeftOut;
    if (const TLinkTarget found = TargetAmong(target, folders); found != ltLeftOut) return found;
    // A folder backed up through a link (a ticked link, or a folder below
    // one) holds what its target holds, under the link's path.
    for (const auto& [final, listed] : folders.Reached()) {
        if (target != final && !PathIsInside(target, final)) continue;
        if (const TLinkTarget found = TargetAmong(listed + target.substr(final.size()), folders); found != ltLeftOut)
            return found;
    }
    return ltLeftOut;
}

std::string LinkLine(const std::string& link, TLinkTarget target) {
    if (target == ltLeftOut) return FolderLeftOutLine(link, ERROR_SUCCESS, true);
    return link + ": " + (target == ltExcluded ? KV_FolderLinkExcluded : KV_FolderLinkCovered);
}

std::string FolderLeftOutLine(const std::string& folder, unsigned long error, bool link) {
    std::string reason;
    if (link) reason = KV_FolderLink;
    else if (error == ERROR_ACCESS_DENIED) reason = KV_FolderDenied;
    // Wine refuses a path past its host's limit (about 4,096 bytes) as a
    // general failure; for a long path that is the length.
    else if (error == ERROR_FILENAME_EXCED_RANGE || (error == ERROR_GEN_FAILURE && IsLongPath(folder)))
        reason = KV_FolderTooLong;
    else if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) reason = KV_ZPFileNotFound;
    else if (error == ERROR_SUCCESS) reason = KV_ZPFileUnread;   // it failed only while it was searched
    else reason = KV_FolderCannotRead + " " + SysErrorMessage(error);
    return folder + ": " + reason;
}

unsigned long FolderListingError(const std::string& folder) {
    WIN32_FIND_DATAA fd;
    bool wide = false;
    FindHandle find(FindFirstFileAny(IncludeTrailingBackslash(folder) + "*.*", fd, wide));
    return find ? ERROR_SUCCESS : ::GetLastError();
}

namespace {
// A drive given as "C:" names the drive's root, not its current folder.
std::string FolderForSystem(const std::string& path) {
    return path.size() == 2 && path[1] == ':' ? path + "\\" : path;
}

int Depth(const std::string& path) { return static_cast<int>(std::count(path.begin(), path.end(), '\\')); }
}

bool IsFolderLink(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return GetFileAttributesAny(FolderForSystem(path), data) && (data.dwFileAttributes & link) == link;
}

// --------------------------------------------------------------- the walk

TDirWalk::TDirWalk(TFolderTreeAccess access, std::vector<std::string> checkedPaths, bool includeSubfolders)
    : access_(std::move(access)), includeSubfolders_(includeSubfolders) {
    // Folders before the folders inside them (the tree's list is in no such
    // order), so that a ticked folder inside one already taken whole is found
    // covered and not taken twice.
    for (std::string& p : checkedPaths) p = ScanPath(p);
    std::stable_sort(checkedPaths.begin(), checkedPaths.end(),
                     [](const std::string& a, const std::string& b) { return Depth(a) < Depth(b); });
    paths_ = std::move(checkedPaths);
}

// Folders by their exact names: the tree's paths are real names, and "data"
// beside "DATA" is another folder.
bool TDirWalk::Taken(const std::string& path) const { return visited_.count(path) > 0; }

bool TDirWalk::Covered(const std::string& path) const {
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
        if (wholeFolders_.count(path.substr(0, at)) > 0) return true;
    return false;
}

void TDirWalk::Take(std::vector<std::string>& list, const std::string& path, bool whole) {
    list.push_back(path);
    if (whole) wholeFolders_.insert(path);
    visited_.insert(path);
}

bool TDirWalk::Step(int budget) {
    while (budget-- > 0) {
        if (stack_.empty()) {
            if (next_ >= paths_.size()) return false;
            currentPath_ = paths_[next_++];
            pathNumber_ = static_cast<int>(next_);
            if (currentPath_.empty() || Taken(currentPath_) || Covered(currentPath_)) continue;
            // A ticked folder is reached whatever path leads to it, a link on the way included.
            PLazyNode node = access_.WalkToPath(currentPath_);
            if (!node) {
                Missing.push_back(currentPath_);
                continue;
            }
            // The walk may have made the node just now: it shows the tick it stands for.
            if (!IsTicked(node)) node->CheckState = csCheckedNormal;
            stack_.push_back({node, false});
            continue;
        }
        const TStep step = stack_.back();
        stack_.pop_back();
        Visit(step.node, step.insideWhole);
    }
    return true;
}

void TDirWalk::Visit(PLazyNode node, bool insideWhole) {
    ++nodesVisited_;
    const std::string path = ScanPath(access_.NodePath(node));
    if (path.empty()) return;
    const bool ticked = IsTicked(node);
    const bool hasChildren = node->ChildCount > 0 && node->FirstChild;
    // A link to a folder met inside a folder taken with its subfolders is
    // never followed (it can loop or leave the tree); the run names it, and
    // nothing ticked below it is taken apart. One ticked on its own is
    // followed like any folder, and so is one on the way to a tick.
    if (ticked && insideWhole && IsFolderLink(path)) {
        if (!Taken(path)) Take(Links, path, true);
        return;
    }
    if (ticked && !Taken(path)) {
        // Below a checked path nothing lies inside a folder taken whole:
        // such a folder has no children here, and shallower paths come first.
        if (includeSubfolders_ && !hasChildren) {
            Take(RecursiveDirs, path, true);
            return;
        }
        Take(FlatDirs, path, false);
    }
    // Children in their order: pushed last to first. A node is not reset
    // once its children are walked: the walk goes on in slices between which
    // the stack holds those children, and a reset would free them (and fold
    // up folders the user has opened).
    std::vector<PLazyNode> children;
    for (PLazyNode child = node->FirstChild; child; child = child->NextSibling) children.push_back(child);
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack_.push_back({*it, ticked && includeSubfolders_});
}

// ------------------------------------------------------------- the thread

TCheckDirThread::TCheckDirThread(TDirWalk& walk, TProgressBar* progressDirs, TProgressBar* progressChilds,
                                 TLabel* labelMsg, bool includeSubfolders, TCheckDirMode mode,
                                 std::function<void()> afterSlice)
    : walk_(walk), progressDirs_(progressDirs), progressChilds_(progressChilds), labelMsg_(labelMsg),
      includeSubfolders_(includeSubfolders), mode_(mode), afterSlice_(std::move(afterSlice)) {
    Start();
}

TCheckDirThread::~TCheckDirThread() {
    Terminate();
    WaitFor();
}

void TCheckDirThread::Execute() {
    WalkTree();
    if (Terminated()) return;
    if (ScanGivesLists(mode_)) {
        DropVanished(walk_.FlatDirs);
        DropVanished(walk_.RecursiveDirs);
    }
    if (ScanGivesSize(mode_)) AddSizes();
}

void TCheckDirThread::WalkTree() {
    bool more = true;
    int shownPath = 0;
    while (more && !Terminated()) {
        Synchronize([&] {
            more = walk_.Step(Slice);
            if (walk_.PathNumber() != shownPath) {
                shownPath = walk_.PathNumber();
                Message = KV_Reading + " " + walk_.CurrentPath();
                if (progressDirs_) progressDirs_->SetPosition(shownPath);
                if (labelMsg_) labelMsg_->SetCaption(Message);
            }
            if (progressChilds_) {
                childPos_ = static_cast<int>(walk_.NodesVisited() % (progressChilds_->Max() + 1));
                progressChilds_->SetPosition(childPos_);
            }
            if (afterSlice_) afterSlice_();
        });
        if (HANDLE hold = HoldAfterFirstSlice.exchange(nullptr)) ::WaitForSingleObject(hold, INFINITE);
    }
}

void TCheckDirThread::DropVanished(std::vector<std::string>& list) {
    std::vector<std::string> kept;
    kept.reserve(list.size());
    for (const std::string& path : list) {
        if (Terminated()) return;
        if (DirectoryExists(FolderForSystem(path))) kept.push_back(path);
        else Vanished.push_back(path);
    }
    list.swap(kept);
}

void TCheckDirThread::ShowFolder(const std::string& path) {
    // The label follows the folders, but not faster than a person reads.
    DWORD now = ::GetTickCount();
    if (now - lastShown_ < 100) return;
    lastShown_ = now;
    Message = KV_Reading + " " + path;
    Synchronize([&] {
        if (labelMsg_) labelMsg_->SetCaption(Message);
        if (progressChilds_) {
            childPos_ = childPos_ >= progressChilds_->Max() ? 0 : childPos_ + 1;
            progressChilds_->SetPosition(childPos_);
        }
    });
}

namespace {
// The folders to size, taken in turn by the scan's thread and a few helpers:
// each folder is a few calls to the file system that wait on it, and the
// calls of several threads overlap. The sum does not depend on who took what.
struct TSizeJobs {
    std::vector<std::pair<const std::string*, bool>> Folders;   // path, with its subfolders
    std::atomic<size_t> Next{0};
    std::atomic<uint64_t> Total{0};
    const TThread* Owner = nullptr;
    const TBackedUpFolders* BackedUp = nullptr;
    std::mutex LeftOutLock;
    std::vector<std::string> LeftOut;

    // Sizes folders until none is left or the owner is told to stop; shown
    // hears each folder taken (only the owner's own thread may show).
    void Work(const std::function<void(const std::string&)>& shown) {
        for (size_t i; !Owner->Terminated() && (i = Next++) < Folders.size();) {
            const std::string& path = *Folders[i].first;
            if (shown) shown(path);
            Total += CalcFolderSize(AnsiToWide(FolderForSystem(path)), Folders[i].second,
                                    [this](const std::wstring& folder, unsigned long error, bool link) {
                                        const std::string path = WideToAnsi(folder);
                                        // Nothing is missing from the count: the target is counted where it lies.
                                        if (link && LinkTargetOf(path, *BackedUp) != ltLeftOut) return;
                                        std::string line = FolderLeftOutLine(path, error, link);
                                        std::lock_guard<std::mutex> guard(LeftOutLock);
                                        LeftOut.push_back(std::move(line));
                                    });
        }
    }
};

class TSizeHelper : public TThread {
public:
    explicit TSizeHelper(TSizeJobs& jobs) : jobs_(jobs) {}
protected:
    void Execute() override { jobs_.Work(nullptr); }
private:
    TSizeJobs& jobs_;
};

unsigned SizeHelpers(size_t folders) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    // Beyond three, the file system's own lock is all they would wait on.
    const unsigned n = info.dwNumberOfProcessors > 1 ? std::min<unsigned>(info.dwNumberOfProcessors - 1, 3) : 0;
    return folders < 64 ? 0 : n;
}
} // namespace

void TCheckDirThread::AddSizes() {
    TSizeJobs jobs;
    jobs.Owner = this;
    TBackedUpFolders backedUp;
    backedUp.Whole = walk_.RecursiveDirs;
    backedUp.Own = walk_.FlatDirs;
    jobs.BackedUp = &backedUp;
    for (const std::string& path : walk_.FlatDirs) jobs.Folders.emplace_back(&path, false);
    for (const std::string& path : walk_.RecursiveDirs) jobs.Folders.emplace_back(&path, includeSubfolders_);
    std::vector<std::unique_ptr<TSizeHelper>> helpers;
    try {
        for (unsigned i = SizeHelpers(jobs.Folders.size()); i > 0; --i) {
            helpers.push_back(std::make_unique<TSizeHelper>(jobs));
            helpers.back()->Start();
        }
    } catch (const Exception&) {
        // A helper the system would not start: this thread sizes its share,
        // so the sum is the same.
    }
    std::exception_ptr failed;
    try {
        jobs.Work([this](const std::string& path) { ShowFolder(path); });
    } catch (...) {
        failed = std::current_exception();
        Terminate();   // the helpers stop at their next folder
    }
    for (auto& helper : helpers) {
        helper->WaitFor();
        if (helper->FatalException && !failed) failed = helper->FatalException;
    }
    if (failed) std::rethrow_exception(failed);
    size_ += static_cast<int64_t>(jobs.Total.load());
    NotCounted = std::move(jobs.LeftOut);
    for (const std::string& link : walk_.Links)
        if (LinkTargetOf(link, backedUp) == ltLeftOut) NotCounted.push_back(LinkLine(link, ltLeftOut));
}

} // namespace krv
