// The icon thread: a control asks for the system-image-list index of an
// item, draws without it meanwhile, and receives the index later in a
// private message (wParam = the request, lParam = 0), newest request first.
// One manager per process owns the thread, which runs while at least one
// control is registered.
#pragma once
#include "shell/base/PIDLTools.h"
#include "framework/Controls.h"
#include "framework/SysUtils.h"
#include "framework/Thread.h"
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace krv {

class TNamespace;

// A broken promise of the icon thread's callers (an unregistered control).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// One queued request; owned by whoever holds it last (the list, the thread,
// or the control that received it and gives it back with ReleaseItem).
struct TImageThreadRequest {
    LPITEMIDLIST PIDL = nullptr;   // a copy of the item's absolute list
    int ImageIndex = 0;            // the answer
    bool Large = false;            // carried; the answer is the small icon's index
    TWinControl* Control = nullptr;
    void* Data = nullptr;          // the caller's pointer (the tree's node)
    uint32_t Spare = 0;
    int Tag = 0;
    UINT MessageID = 0;
    // The control's window when the request was queued.
    HWND Window = nullptr;
    // The item whose loading flag the request holds; cleared when the request
    // is dropped, so that the item's icon is asked for again later.
    TNamespace* Namespace = nullptr;
    uint64_t Serial = 0;
};

// Frees a request and its list (with malloc, or the task allocator when nil).
void FreeImageRequest(TImageThreadRequest* request, IMalloc* malloc);

class TLazyImageThread : public TThread {
public:
    TLazyImageThread();
    ~TLazyImageThread() override;

    // The request list and its lock; the lock may be taken again by its holder.
    std::recursive_mutex ListLock;
    std::vector<TImageThreadRequest*> ImageThreadList;
    // Wakes the thread; reset by the thread when the list is empty.
    void Signal() { ::SetEvent(event_.get()); }
    // Stops the thread and waits for it.
    void Stop();

    virtual void ReleaseItem(TImageThreadRequest* request, IMalloc* malloc);

protected:
    void Execute() override;
    virtual void ExtractInfo(LPITEMIDLIST pidl, TImageThreadRequest* request);
    virtual void InfoLoad(TImageThreadRequest* request);
    virtual void InvalidItem(TImageThreadRequest* request);
    // Posts the answer, retrying a failed post; false when it could not be posted.
    virtual bool PostAnswer(TImageThreadRequest* request);

    int ImageIndex = 0;

private:
    KernelHandle event_;
};

class ILazyImageThreadManager {
public:
    virtual ~ILazyImageThreadManager() = default;
    // Queues a request served before all older ones. With an item, its
    // loading flag is set now and cleared if the request is dropped.
    virtual void AddNewItem(TWinControl* control, UINT messageID, int tag, void* data, bool large,
                            LPCITEMIDLIST pidl, TNamespace* ns = nullptr) = 0;
    // Delivers the answers already posted to the control, then drops its queued requests.
    virtual void ClearPendingItems(TWinControl* control, UINT messageID, IMalloc* malloc) = 0;
    virtual void ClearPendingItem(TWinControl* control, void* data, IMalloc* malloc, UINT messageID) = 0;
    // Queues a request served after all others.
    virtual void InsertNewItem(TWinControl* control, UINT messageID, int tag, void* data, bool large,
                               LPCITEMIDLIST pidl, TNamespace* ns = nullptr) = 0;
    // The thread's request list, locked until UnlockThread; nil without a thread.
    virtual std::vector<TImageThreadRequest*>* LockThread() = 0;
    virtual void RegisterControl(TWinControl* control) = 0;
    virtual void ReleaseItem(TImageThreadRequest* request, IMalloc* malloc) = 0;
    virtual void SetThreadPriority(int priority) = 0;
    virtual void UnlockThread() = 0;
    // Drops the control's queued requests; the last control stops the thread.
    virtual void UnRegisterControl(TWinControl* control) = 0;
};

class TLazyImageThreadManager : public ILazyImageThreadManager {
public:
    TLazyImageThreadManager() = default;
    ~TLazyImageThreadManager() override;

    void AddNewItem(TWinControl* control, UINT messageID, int tag, void* data, bool large, LPCITEMIDLIST pidl,
                    TNamespace* ns = nullptr) override;
    void ClearPendingItems(TWinControl* control, UINT messageID, IMalloc* malloc) override;
    void ClearPendingItem(TWinControl* control, void* data, IMalloc* malloc, UINT messageID) override;
    void InsertNewItem(TWinControl* control, UINT messageID, int tag, void* data, bool large, LPCITEMIDLIST pidl,
                       TNamespace* ns = nullptr) override;
    std::vector<TImageThreadRequest*>* LockThread() override;
    void RegisterControl(TWinControl* control) override;
    void ReleaseItem(TImageThreadRequest* request, IMalloc* malloc) override;
    void SetThreadPriority(int priority) override;
    void UnlockThread() override;
    void UnRegisterControl(TWinControl* control) override;

    TLazyImageThread* ImageThread() const { return thread_.get(); }
    int ThreadPriority() const { return priority_; }
    bool IsRegistered(TWinControl* control) const;

private:
    void Queue(TWinControl* control, UINT messageID, int tag, void* data, bool large, LPCITEMIDLIST pidl,
               TNamespace* ns, bool front);
    // Under the list's lock: drops the control's requests (with data, only those).
    void DropRequests(TWinControl* control, bool anyData, void* data, IMalloc* malloc);
    // Delivers the answers already posted, then drops the requests as DropRequests.
    void ClearPending(TWinControl* control, bool anyData, void* data, IMalloc* malloc, UINT messageID);
    void StopThread();

    mutable std::mutex controlLock_;
    std::vector<TWinControl*> controls_;
    std::unique_ptr<TLazyImageThread> thread_;
    int priority_ = 3;
    uint64_t nextSerial_ = 1;
};

// The process's manager, made on first use.
ILazyImageThreadManager& ImageThreadManager();
TLazyImageThreadManager& ImageThreadManagerObject();

// Requests alive in the process (queued, in hand or not yet given back).
int LiveImageRequests();

} // namespace krv
