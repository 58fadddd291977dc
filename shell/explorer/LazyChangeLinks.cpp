#include "shell/explorer/LazyChangeLinks.h"
#include <algorithm>
#include <utility>

namespace krv {

namespace {
std::unique_ptr<TLETChangeDispatch>& Instance() {
    static std::unique_ptr<TLETChangeDispatch> instance;
    return instance;
}
} // namespace

TLETChangeDispatch* ChangeDispatch() { return Instance().get(); }

TLETChangeDispatch& EnsureChangeDispatch() {
    if (!Instance()) Instance() = std::make_unique<TLETChangeDispatch>();
    return *Instance();
}

void TLETChangeDispatch::AddLink(TObject* server, TObject* client, TLETChangeLinkEvent event) {
    auto link = std::make_shared<TLETChangeLink>();
    link->Server = server;
    link->Client = client;
    link->ChangeLinkEvent = std::move(event);
    links_.push_back(std::move(link));
}

template <class Pred> void TLETChangeDispatch::Drop(Pred names) {
    links_.erase(std::remove_if(links_.begin(), links_.end(), names), links_.end());
    // A control going away in the middle of a dispatch is not called any more.
    dispatchList_.erase(std::remove_if(dispatchList_.begin(), dispatchList_.end(), names), dispatchList_.end());
}

void TLETChangeDispatch::RemoveLinks(TObject* control, TLETLinkKind kind) {
    Drop([control, kind](const std::shared_ptr<TLETChangeLink>& link) {
        return (kind != lkClient && link->Server == control) || (kind != lkServer && link->Client == control);
    });
}

void TLETChangeDispatch::RemoveLink(TObject* server, TObject* client) {
    Drop([server, client](const std::shared_ptr<TLETChangeLink>& link) {
        return link->Server == server && link->Client == client;
    });
}

void TLETChangeDispatch::DispatchChange(TObject* server, LPCITEMIDLIST pidl) {
    if (dispatching_) {
        // A client passing the change on: the same links, never back to the first server.
        CallLinks(server, pidl);
        return;
    }
    dispatchList_.clear();
    for (const auto& link : links_) {
        if (link->Client == link->Server) continue;
        bool duplicate = std::any_of(dispatchList_.begin(), dispatchList_.end(), [&link](const auto& kept) {
            return kept->Server == link->Server && kept->Client == link->Client;
        });
        if (!duplicate) dispatchList_.push_back(link);
    }
    struct TIdle {
        TObject*& dispatching;
        ~TIdle() { dispatching = nullptr; }
    } idle{dispatching_};
    dispatching_ = server;
    CallLinks(server, pidl);
}

void TLETChangeDispatch::CallLinks(TObject* server, LPCITEMIDLIST pidl) {
    // A copy: a client may add or drop links while it follows.
    std::vector<std::shared_ptr<TLETChangeLink>> links = dispatchList_;
    for (const auto& link : links) {
        if (link->Server != server || !link->ChangeLinkEvent || link->Client == dispatching_) continue;
        // Dropped by an earlier client of this round.
        if (std::find(dispatchList_.begin(), dispatchList_.end(), link) == dispatchList_.end()) continue;
        // A client still following this change is not asked again: two
        // clients passing it to each other would never end.
        if (std::find(following_.begin(), following_.end(), link->Client) != following_.end()) continue;
        following_.push_back(link->Client);
        struct TDone {
            std::vector<TObject*>& following;
            ~TDone() { following.pop_back(); }
        } done{following_};
        link->ChangeLinkEvent(server, pidl);
    }
}

} // namespace krv
