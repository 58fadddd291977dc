// Change links keep controls in step: when the selection of one control (the
// server) changes, each control linked to it (a client) browses to the same
// shell item. A dispatch never calls back the control it started from, nor
// a client still following it, even when clients pass the change on.
#pragma once
#include "framework/Classes.h"
#include <shlobj.h>
#include <functional>
#include <memory>
#include <vector>

namespace krv {

// A client's answer to a change: the server and the new absolute list.
using TLETChangeLinkEvent = std::function<void(TObject* server, LPCITEMIDLIST pidl)>;

struct TLETChangeLink {
    TObject* Server = nullptr;
    TObject* Client = nullptr;
    TLETChangeLinkEvent ChangeLinkEvent;
};

// Which links RemoveLinks drops: those naming the control as server, as client, or either.
enum TLETLinkKind { lkServer, lkClient, lkServerAndClient };

class TLETChangeDispatch {
public:
    void AddLink(TObject* server, TObject* client, TLETChangeLinkEvent event);
    void RemoveLinks(TObject* control, TLETLinkKind kind);
    // Drops the links from server to client only.
    void RemoveLink(TObject* server, TObject* client);
    void DispatchChange(TObject* server, LPCITEMIDLIST pidl);
    int LinkCount() const { return int(links_.size()); }
    // The control whose change is being passed on; nil when idle.
    TObject* DispatchingServer() const { return dispatching_; }

private:
    std::vector<std::shared_ptr<TLETChangeLink>> links_;
    // The links of the dispatch under way: one per server and client.
    std::vector<std::shared_ptr<TLETChangeLink>> dispatchList_;
    TObject* dispatching_ = nullptr;
    // The clients whose events are running, innermost last.
    std::vector<TObject*> following_;
    void CallLinks(TObject* server, LPCITEMIDLIST pidl);
    template <class Pred> void Drop(Pred names);
};

// The process-wide dispatch; made by the first link, so nil until then.
TLETChangeDispatch* ChangeDispatch();
TLETChangeDispatch& EnsureChangeDispatch();

} // namespace krv
