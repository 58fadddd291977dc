// The order check of a big folder's children, run beside its enumeration:
// a worker binds the folder anew on its own thread and compares each newly
// accepted child with the one before it, so that the check is mostly done
// when the enumeration ends. The children's identifiers are only borrowed:
// they must stay alive until Finish or Stop has returned.
#pragma once
#include "framework/Handle.h"
#include "framework/Thread.h"
#include "shell/PIDLTools.h"
#include <shlobj.h>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace krv {

// What the worker saw of the column-0 order of neighbouring children.
struct TChildOrderVerdict {
    // False when the worker never ran or failed: the caller checks itself.
    bool Known = false;
    // Some child compares after its successor (breaks ascending order).
    bool Falls = false;
    // Some child compares before its successor (breaks descending order).
    bool Rises = false;
    bool InOrder(bool ascending) const { return Known && !(ascending ? Falls : Rises); }
};

class TChildOrderThread : public TThread {
public:
    // Answers the folder of an absolute list on the calling thread; nil when it cannot.
    using TBindFolder = std::function<ComPtr<IShellFolder>(LPCITEMIDLIST folderPIDL)>;
    // Takes the folder's absolute list; bind is called on the worker.
    TChildOrderThread(PIDLPtr folderPIDL, TBindFolder bind);
    ~TChildOrderThread() override;

    // Appends relative identifiers in their order and empties batch.
    void Hand(std::vector<LPCITEMIDLIST>& batch);
    // Hands the last ones, waits for the worker and answers what it saw.
    TChildOrderVerdict Finish(std::vector<LPCITEMIDLIST>& rest);
    // Drops what is queued and waits for the worker; nothing is borrowed after it.
    void Stop();

protected:
    void Execute() override;

private:
    // Takes what is queued; false once the worker should end.
    bool TakeBatch(std::vector<LPCITEMIDLIST>& batch);
    void Compare(IShellFolder* folder, const std::vector<LPCITEMIDLIST>& batch);

    PIDLPtr folderPIDL_;
    TBindFolder bind_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<LPCITEMIDLIST> queue_;
    bool closed_ = false;
    // The worker's own until it has ended.
    TChildOrderVerdict verdict_;
    LPCITEMIDLIST previous_ = nullptr;
};

// The enumerating side: collects the accepted children's identifiers and
// starts the worker with the first full batch, so a small folder pays
// nothing but the collecting.
class TChildOrderFeed {
public:
    using TStartThread = std::function<std::unique_ptr<TChildOrderThread>()>;
    static constexpr size_t BatchSize = 256;
    explicit TChildOrderFeed(TStartThread start) : start_(std::move(start)) {}
    ~TChildOrderFeed() { Stop(); }
    TChildOrderFeed(const TChildOrderFeed&) = delete;
    TChildOrderFeed& operator=(const TChildOrderFeed&) = delete;

    void Add(LPCITEMIDLIST relativePIDL);
    // Unknown when no worker ran.
    TChildOrderVerdict Finish();
    void Stop();
    bool Started() const { return thread_ != nullptr; }

private:
    TStartThread start_;
    std::unique_ptr<TChildOrderThread> thread_;
    std::vector<LPCITEMIDLIST> pending_;
    bool gaveUp_ = false;
};

// The folder of an absolute list, bound from the desktop (the desktop itself for the empty list).
ComPtr<IShellFolder> BindFolderOfPIDL(LPCITEMIDLIST folderPIDL);

} // namespace krv
