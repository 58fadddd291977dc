// Shared pieces of the socket tests: a bounded message pump and small
// loopback servers made of our own sockets.
#pragma once
#include "net/LineNetSocket.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krvtest {

using namespace krv;

// Runs the message loop until done() holds; the bound only guards against a hang.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > limitMs) return done();
        ProcessMessages();
        if (done()) break;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

// Lets queued messages run for a little while (for "nothing more happens" checks).
inline void PumpFor(DWORD ms) {
    DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
        ProcessMessages();
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// A value a peer script passes in the environment; missing, the test fails
// naming the script that sets it.
inline std::string PeerEnv(const char* name, const char* script) {
    const char* v = std::getenv(name);
    if (!v || !*v) ADD_FAILURE() << name << " is not set: run " << script;
    return v ? v : "";
}

// Reads everything a socket has waiting into text.
inline void ReadAll(TCustomNetSocket& s, std::string& text) {
    char buf[8192];
    for (;;) {
        int n = s.Receive(buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
}

// One accepted connection of a TestServer.
struct Peer {
    std::unique_ptr<TNetSocket> socket = std::make_unique<TNetSocket>();
    std::string received;
    int closedCount = 0;
};

// A listening socket on 127.0.0.1 with an ephemeral port. Each accepted
// connection records what it receives; onData may answer.
class TestServer {
public:
    std::function<void(Peer& peer)> onData;
    std::function<void(Peer& peer)> onAccept;
    std::vector<std::unique_ptr<Peer>> peers;
    TNetSocket listener;

    TestServer() {
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.OnSessionAvailable = [this](TObject*, WORD) { AcceptOne(); };
        listener.Listen();
    }
    std::string Port() { return listener.GetXPort(); }

    // Echoes every byte back.
    static std::function<void(Peer&)> Echo() {
        return [](Peer& p) {
            p.socket->SendStr(p.received);
            p.received.clear();
        };
    }

private:
    void AcceptOne() {
        auto peer = std::make_unique<Peer>();
        Peer* p = peer.get();
        p->socket->Dup(listener.Accept());
        p->socket->OnDataAvailable = [this, p](TObject*, WORD) {
            ReadAll(*p->socket, p->received);
            if (onData) onData(*p);
        };
        p->socket->OnSessionClosed = [p](TObject*, WORD) { ++p->closedCount; };
        peers.push_back(std::move(peer));
        if (onAccept) onAccept(*p);
    }
};

// A client socket that records its events.
template <class Socket = TNetSocket> struct ClientOf {
    Socket socket;
    std::string received;
    int connected = 0, closed = 0, dataSent = 0;
    WORD connectError = 0, closeError = 0;
    std::vector<WORD> lookupErrors;

    ClientOf() {
        socket.OnSessionConnected = [this](TObject*, WORD e) { ++connected; connectError = e; };
        socket.OnSessionClosed = [this](TObject*, WORD e) { ++closed; closeError = e; };
        socket.OnDataSent = [this](TObject*, WORD) { ++dataSent; };
        socket.OnDataAvailable = [this](TObject*, WORD) { ReadAll(socket, received); };
        socket.OnDnsLookupDone = [this](TObject*, WORD e) { lookupErrors.push_back(e); };
    }
    void Connect(const std::string& addr, const std::string& port) {
        socket.SetAddr(addr);
        socket.SetPort(port);
        socket.Connect();
    }
    bool WaitConnected() { return PumpUntil([this] { return connected > 0 || closed > 0; }); }
};
using Client = ClientOf<>;

// A test's stand-in for a Winsock function, as ws::ReplaceEntry takes it.
template <class F> FARPROC StandIn(F* f) { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f)); }

// A port where nobody listens: bound once, then let go.
inline std::string UnusedPort() {
    TestServer s;
    std::string port = s.Port();
    s.listener.Close();
    return port;
}

} // namespace krvtest
