// Changes of the shell namespace and of watched folders as the change
// notifier hands them to controls: one event per changed folder or item, a
// reference-counted list of them per batch, and the queue that turns raw
// notifications into events, drops repeats and merges a batch.
#pragma once
#include "framework/Handle.h"
#include "shell/base/PIDLTools.h"
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace krv {

// Carries a TLazyShellEventList* (word parameter) to the notifier's window
// and from there to each registered control, which releases it after use.
constexpr UINT WM_SHELLNOTIFY = 0x8033;

enum TLazyShellEventKind {
    sekUpdateDir,          // a folder's content changed: read it again
    sekUpdateImage,
    sekAssociationChanged,
    sekDriveAdd,
    sekDriveRemoved,
    sekMediaInserted,
    sekMediaRemoved,
    sekNetShare,
    sekNetUnShare,
    sekServerDisconnect,
    sekFreeSpace,
    sekExtended,
};

struct TLazyShellEvent {
    TLazyShellEventKind Kind = sekUpdateDir;
    // The shell's SHCNE_ bits of every notification folded into this event
    // (0 for a change seen by a folder watch).
    LONG Flags = 0;
    PIDLPtr PIDL1, PIDL2;
    PIDLPtr ParentPIDL1, ParentPIDL2;
};

// A batch of events. Made with one reference; whoever holds it releases it
// once, and the last release frees it.
class TLazyShellEventList {
public:
    TLazyShellEventList() { items_.reserve(50); }
    TLazyShellEventList(const TLazyShellEventList&) = delete;
    TLazyShellEventList& operator=(const TLazyShellEventList&) = delete;

    long AddRef() { return ++refCount_; }
    long Release();
    long RefCount() const { return refCount_; }

    int Count();
    // The event stays the list's; valid while a reference is held.
    const TLazyShellEvent& Items(int i);
    void Add(std::unique_ptr<TLazyShellEvent> event);

private:
    ~TLazyShellEventList() = default;
    std::atomic<long> refCount_{1};
    std::mutex lock_;
    std::vector<std::unique_ptr<TLazyShellEvent>> items_;
};

// Holds references of a list: made from a pointer it takes that reference
// over (as a window does with a posted batch); a copy adds one.
class TLazyShellEventListPtr : public ComPtr<TLazyShellEventList> {
public:
    TLazyShellEventListPtr() = default;
    explicit TLazyShellEventListPtr(TLazyShellEventList* list) : ComPtr(Attach(list)) {}
};

// Takes the batches still posted to a window out of its queue and gives
// their references back (a window that goes would drop them unreleased).
void ReleasePostedBatches(HWND window);

// Equal lists by the shell's test (shell32 #21); false when either is nil.
bool SameShellPIDL(LPCITEMIDLIST a, LPCITEMIDLIST b);

// Not thread-safe: the dispatch thread guards it with its lock.
class TLazyShellEventQueue {
public:
    TLazyShellEventQueue() = default;
    TLazyShellEventQueue(const TLazyShellEventQueue&) = delete;
    TLazyShellEventQueue& operator=(const TLazyShellEventQueue&) = delete;

    // A shell notification (SHCNE_ bits with the one or two lists it names).
    // A changed, made or removed item becomes an update of its parent
    // folder; a renamed one an update of both parents.
    void QueueShellNotification(LONG eventBits, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    // Something changed inside a watched folder.
    void QueueFolderChange(LPCITEMIDLIST folder);
    bool Empty() const { return events_.empty(); }
    int Count() const { return static_cast<int>(events_.size()); }
    // Everything queued as one list (events with equal first lists merged
    // into one), or nil when nothing is queued.
    TLazyShellEventList* TakeBatch();

private:
    void Queue(TLazyShellEventKind kind, LONG flags, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    void QueueParentUpdate(LONG flags, LPCITEMIDLIST item);
    std::vector<std::unique_ptr<TLazyShellEvent>> events_;
};

} // namespace krv
