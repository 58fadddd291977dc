#include "shell/notify/LazyShellEvents.h"
#include "shell/base/ShellEntryPoints.h"
#include <cstring>

namespace krv {

namespace {
LPITEMIDLIST CopyList(LPCITEMIDLIST pidl) {
    if (!pidl) return nullptr;
    uint32_t size = TPIDLManager::PIDLSize(pidl);
    auto* copy = static_cast<LPITEMIDLIST>(::CoTaskMemAlloc(size));
    if (copy) std::memcpy(copy, pidl, size);
    return copy;
}

LPITEMIDLIST CopyParent(LPCITEMIDLIST pidl) {
    LPITEMIDLIST parent = CopyList(pidl);
    if (parent) TPIDLManager::StripLastID(parent);
    return parent;
}

// Kinds that keep their own identity; every other item or folder change
// becomes a folder update.
struct TKindBit {
    LONG Bit;
    TLazyShellEventKind Kind;
};
const TKindBit kOwnKinds[] = {
    {SHCNE_UPDATEIMAGE, sekUpdateImage},     {SHCNE_ASSOCCHANGED, sekAssociationChanged},
    {SHCNE_DRIVEADD, sekDriveAdd},           {SHCNE_DRIVEADDGUI, sekDriveAdd},
    {SHCNE_DRIVEREMOVED, sekDriveRemoved},   {SHCNE_MEDIAINSERTED, sekMediaInserted},
    {SHCNE_MEDIAREMOVED, sekMediaRemoved},   {SHCNE_NETSHARE, sekNetShare},
    {SHCNE_NETUNSHARE, sekNetUnShare},       {SHCNE_SERVERDISCONNECT, sekServerDisconnect},
    {SHCNE_FREESPACE, sekFreeSpace},         {SHCNE_EXTENDED_EVENT, sekExtended},
};
constexpr LONG kItemBits = SHCNE_CREATE | SHCNE_DELETE | SHCNE_MKDIR | SHCNE_RMDIR | SHCNE_UPDATEITEM |
                           SHCNE_ATTRIBUTES;
constexpr LONG kRenameBits = SHCNE_RENAMEITEM | SHCNE_RENAMEFOLDER;
} // namespace

long TLazyShellEventList::Release() {
    long n = --refCount_;
    if (n < 1) delete this;
    return n;
}

int TLazyShellEventList::Count() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(items_.size());
}

const TLazyShellEvent& TLazyShellEventList::Items(int i) {
    std::lock_guard<std::mutex> guard(lock_);
    return *items_.at(static_cast<size_t>(i));
}

void TLazyShellEventList::Add(std::unique_ptr<TLazyShellEvent> event) {
    std::lock_guard<std::mutex> guard(lock_);
    items_.push_back(std::move(event));
}

void ReleasePostedBatches(HWND window) {
    MSG msg;
    while (window && ::PeekMessageW(&msg, window, WM_SHELLNOTIFY, WM_SHELLNOTIFY, PM_REMOVE))
        TLazyShellEventListPtr(reinterpret_cast<TLazyShellEventList*>(msg.wParam)).reset();
}

bool SameShellPIDL(LPCITEMIDLIST a, LPCITEMIDLIST b) {
    if (!a || !b) return false;
    uint32_t size = TPIDLManager::PIDLSize(a);
    if (size == TPIDLManager::PIDLSize(b) && std::memcmp(a, b, size) == 0) return true;
    return krv::ILIsEqual(a, b);
}

void TLazyShellEventQueue::Queue(TLazyShellEventKind kind, LONG flags, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    for (auto& e : events_) {
        if (e->Kind == kind && SameShellPIDL(e->PIDL1.get(), pidl1)) {
            e->Flags |= flags;
            return;
        }
    }
    auto e = std::make_unique<TLazyShellEvent>();
    e->Kind = kind;
    e->Flags = flags;
    e->PIDL1.reset(CopyList(pidl1));
    e->PIDL2.reset(CopyList(pidl2));
    e->ParentPIDL1.reset(CopyParent(pidl1));
    e->ParentPIDL2.reset(CopyParent(pidl2));
    events_.push_back(std::move(e));
}

void TLazyShellEventQueue::QueueParentUpdate(LONG flags, LPCITEMIDLIST item) {
    if (!item) return;
    PIDLPtr parent(CopyParent(item));
    Queue(sekUpdateDir, flags, parent.get(), nullptr);
}

void TLazyShellEventQueue::QueueShellNotification(LONG eventBits, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    if (eventBits & kItemBits) QueueParentUpdate(eventBits & kItemBits, pidl1);
    if (eventBits & kRenameBits) {
        LONG bits = eventBits & kRenameBits;
        QueueParentUpdate(bits, pidl1);
        QueueParentUpdate(bits, pidl2);   // a repeat when both parents are one folder
    }
    if (eventBits & SHCNE_UPDATEDIR) Queue(sekUpdateDir, SHCNE_UPDATEDIR, pidl1, nullptr);
    for (const TKindBit& k : kOwnKinds)
        if (eventBits & k.Bit) Queue(k.Kind, k.Bit, pidl1, pidl2);
}

void TLazyShellEventQueue::QueueFolderChange(LPCITEMIDLIST folder) {
    Queue(sekUpdateDir, 0, folder, nullptr);
}

TLazyShellEventList* TLazyShellEventQueue::TakeBatch() {
    if (events_.empty()) return nullptr;
    // Merge events whose first lists are equal into the first of them.
    for (size_t i = 0; i < events_.size(); ++i) {
        if (!events_[i]) continue;
        for (size_t j = i + 1; j < events_.size(); ++j) {
            if (events_[j] && SameShellPIDL(events_[i]->PIDL1.get(), events_[j]->PIDL1.get())) {
                events_[i]->Flags |= events_[j]->Flags;
                events_[j].reset();
            }
        }
    }
    auto* list = new TLazyShellEventList;
    for (auto& e : events_)
        if (e) list->Add(std::move(e));
    events_.clear();
    return list;
}

} // namespace krv
