// The order check of a big folder's children, run beside its enumeration:
// a worker binds the folder anew on its own thread and compares each newly
// accepted child with the one before it. The shell may hand the children
// over in one burst at the end of a long listing, so when the enumeration
// ends the caller takes pieces from the end of what is left and checks them
// through its own folder, while the worker goes on from the front. The
// children's identifiers are only borrowed: they must stay alive until
// Finish or Stop has returned.
#pragma once
#include "framework/Handle.h"
#include "framework/Thread.h"
#include "shell/base/PIDLTools.h"
#include <shlobj.h>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace krv {

// What the check saw of the column-0 order of neighbouring children.
struct TChildOrderVerdict {
    // False when no worker ran or it failed: the caller checks itself.
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
    // Hands the last ones, checks pieces of what is left through folder (the
    // caller's own), waits for the worker and answers what both saw.
    TChildOrderVerdict Finish(std::vector<LPCITEMIDLIST>& rest, IShellFolder* folder);
    // Drops what is queued and waits for the worker; nothing is borrowed after it.
    void Stop();

protected:
    void Execute() override;

private:
    // What each side takes at a time: the queue's lock is rare, and the
    // caller's share of a burst is near a half.
    static constexpr size_t PieceSize = 256;
    // The next piece from the front; false once the worker should end.
    bool TakeFront(std::vector<LPCITEMIDLIST>& piece);
    // The last piece and the identifier before it (nil for none); false when nothing is left.
    bool TakeBack(std::vector<LPCITEMIDLIST>& piece, LPCITEMIDLIST& before);
    // Compares previous with the piece's first item, then each item with the
    // next; false when stopped or once the order is broken both ways.
    bool Compare(IShellFolder* folder, LPCITEMIDLIST previous, const std::vector<LPCITEMIDLIST>& piece,
                 TChildOrderVerdict& verdict);

    PIDLPtr folderPIDL_;
    TBindFolder bind_;
    std::mutex lock_;
    std::condition_variable wake_;
    // Handed and not yet taken: [head_, size()).
    std::vector<LPCITEMIDLIST> queue_;
    size_t head_ = 0;
    // The last identifier the worker took: the one before queue_[head_].
    LPCITEMIDLIST lastTaken_ = nullptr;
    bool closed_ = false;
    // The worker ended without a folder: the caller takes nothing.
    bool failed_ = false;
    // The worker's own until it has ended.
    TChildOrderVerdict verdict_;
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
    // Unknown when no worker ran. folder is the caller's own, for its share of the rest.
    TChildOrderVerdict Finish(IShellFolder* folder);
    void Stop();

private:
    TStartThread start_;
    std::unique_ptr<TChildOrderThread> thread_;
    std::vector<LPCITEMIDLIST> pending_;
    bool gaveUp_ = false;
};

} // namespace krv
