// The socket component over loopback, with our own listening socket as peer.
#include "NetTestUtil.h"

using namespace krvtest;

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

} // namespace

TEST(NetSocket, ConnectsByNameAndByDottedAddress) {
    TestServer server;
    for (const char* host : {"localhost", "127.0.0.1"}) {
        Client c;
        c.Connect(host, server.Port());
        ASSERT_TRUE(c.WaitConnected()) << host;
        EXPECT_EQ(c.connectError, 0) << host;
        EXPECT_EQ(c.socket.State(), wsConnected);
        EXPECT_EQ(c.socket.PeerAddr(), "127.0.0.1");
        EXPECT_EQ(c.socket.PeerPort(), server.Port());
    }
    EXPECT_EQ(server.peers.size(), 2u);
}

TEST(NetSocket, DataOfEverySizeArrivesWholeThroughAnEcho) {
    TestServer server;
    server.onData = TestServer::Echo();
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    for (size_t size : {size_t(1), size_t(1460), size_t(1461), size_t(1) << 20}) {
        c.received.clear();
        std::string data = Pattern(size);
        EXPECT_EQ(c.socket.SendStr(data), static_cast<int>(size));
        ASSERT_TRUE(PumpUntil([&] { return c.received.size() >= size; })) << size;
        EXPECT_TRUE(c.received == data) << size;
    }
    EXPECT_EQ(c.socket.ReadCount(), 1 + 1460 + 1461 + (1 << 20));
}

TEST(NetSocket, DataSentComesAfterTheWholeSendAndFromTheMessageLoop) {
    TestServer server;
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    // Winsock's own first write notice comes once connected; a late one
    // would be taken for the notice of the send below.
    ASSERT_TRUE(PumpUntil([&] { return c.dataSent > 0; }));
    int before = c.dataSent;
    std::vector<int> sentChunks;
    c.socket.OnSendData = [&](TObject*, int n) { sentChunks.push_back(n); };
    c.socket.SendStr("hello");
    EXPECT_EQ(c.dataSent, before) << "must not fire inside Send";
    ASSERT_TRUE(PumpUntil([&] { return c.dataSent > before; }));
    EXPECT_TRUE(c.socket.AllSent());

    // A send too big to go at once: OnDataSent only once the queue is empty.
    std::string big = Pattern(8 << 20);
    before = c.dataSent;
    sentChunks.clear();
    c.socket.SendStr(big);
    ASSERT_TRUE(PumpUntil([&] { return c.dataSent > before; }));
    long total = 0;
    for (int n : sentChunks) total += n;
    EXPECT_EQ(total, static_cast<long>(big.size()));
    ASSERT_EQ(server.peers.size(), 1u);
    const std::string all = "hello" + big;
    EXPECT_TRUE(PumpUntil([&] { return server.peers[0]->received.size() >= all.size(); }));
    EXPECT_TRUE(server.peers[0]->received == all);
}

TEST(NetSocket, SessionClosedFiresExactlyOnceWhoeverCloses) {
    TestServer server;
    {   // The peer closes.
        Client c;
        c.Connect("127.0.0.1", server.Port());
        ASSERT_TRUE(c.WaitConnected());
        ASSERT_TRUE(PumpUntil([&] { return !server.peers.empty(); }));
        server.peers.back()->socket->Close();
        ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
        PumpFor(200);
        EXPECT_EQ(c.closed, 1);
        EXPECT_EQ(c.socket.State(), wsClosed);
        c.socket.Close();
        EXPECT_EQ(c.closed, 1);
    }
    {   // We close; the peer sees its end once too.
        Client c;
        c.Connect("127.0.0.1", server.Port());
        ASSERT_TRUE(c.WaitConnected());
        ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 2; }));
        c.socket.Close();
        EXPECT_EQ(c.closed, 1);
        c.socket.Close();
        ASSERT_TRUE(PumpUntil([&] { return server.peers[1]->closedCount > 0; }));
        PumpFor(200);
        EXPECT_EQ(c.closed, 1);
        EXPECT_EQ(server.peers[1]->closedCount, 1);
    }
}

TEST(NetSocket, PeerDataSentJustBeforeClosingIsNotLost) {
    TestServer server;
    std::string data = Pattern(300000);
    server.onAccept = [&](Peer& p) {
        p.socket->SendStr(data);
        p.socket->OnDataSent = [&p](TObject*, WORD) { p.socket->CloseDelayed(); };
    };
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
    EXPECT_EQ(c.received.size(), data.size());
    EXPECT_TRUE(c.received == data);
}

TEST(NetSocket, RefusedConnectionIsReportedThroughTheEvents) {
    std::string port = UnusedPort();
    Client c;
    c.Connect("127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return c.connected > 0; }));
    EXPECT_EQ(c.connectError, WSAECONNREFUSED);
    EXPECT_EQ(NetSocketErrorDesc(c.connectError), "Connection refused");
    ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
    EXPECT_EQ(c.closed, 1);
    EXPECT_EQ(c.socket.State(), wsClosed);
}

TEST(NetSocket, UnknownHostIsReportedWithItsText) {
    // A label longer than 63 characters can never resolve, and never leaves the machine.
    const std::string host = std::string(64, 'x') + ".invalid";
    Client c;
    c.socket.DnsLookup(host);
    EXPECT_TRUE(c.lookupErrors.empty()) << "a name is looked up later, never at once";
    ASSERT_TRUE(PumpUntil([&] { return !c.lookupErrors.empty(); }));
    EXPECT_EQ(c.lookupErrors[0], WSAHOST_NOT_FOUND);
    EXPECT_EQ(NetSocketErrorDesc(c.lookupErrors[0]), "Host not found");
    EXPECT_EQ(c.socket.DnsResult(), "");

    c.socket.SetAddr(host);
    c.socket.SetPort("25");
    try {
        c.socket.Connect();
        FAIL() << "connect to an unknown host must fail";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "connect: NetSocketResolveHost: Cannot convert host address '" + host + "', Error #11001");
    }
}

TEST(NetSocket, DnsLookupOfADottedAddressEndsBeforeItReturns) {
    Client c;
    c.socket.DnsLookup("127.0.0.1");
    ASSERT_EQ(c.lookupErrors.size(), 1u);
    EXPECT_EQ(c.lookupErrors[0], 0);
    EXPECT_EQ(c.socket.DnsResult(), "127.0.0.1");
    EXPECT_EQ(c.socket.DnsResultList().Count(), 1);

    c.socket.DnsLookup("localhost");
    EXPECT_EQ(c.lookupErrors.size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return c.lookupErrors.size() == 2; }));
    EXPECT_EQ(c.lookupErrors[1], 0);
    EXPECT_EQ(c.socket.DnsResult(), "127.0.0.1");

    // A new lookup cancels the pending one, which reports 10004.
    c.socket.DnsLookup("localhost");
    c.socket.DnsLookup("127.0.0.1");
    ASSERT_GE(c.lookupErrors.size(), 4u);
    EXPECT_EQ(c.lookupErrors[2], WSAEINTR);
    EXPECT_EQ(c.lookupErrors[3], 0);
    PumpFor(300);
    EXPECT_EQ(c.lookupErrors.size(), 4u) << "the cancelled answer must not arrive";

    EXPECT_THROW(c.socket.DnsLookup(""), ESocketException);
}

TEST(NetSocket, SendWhileClosedGivesTheExactErrorText) {
    Client c;
    try {
        c.socket.SendStr("x");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(c.socket.LastError(), WSAENOTCONN);
    EXPECT_EQ(c.closed, 0) << "a socket that never connected has no session to close";

    // With OnError assigned nothing is raised; the handler runs instead.
    int errors = 0;
    c.socket.OnError = [&](TObject*) { ++errors; };
    EXPECT_EQ(c.socket.SendStr("x"), -1);
    EXPECT_EQ(errors, 1);
}

TEST(NetSocket, SettersOnlyWorkWhenClosed) {
    TestServer server;
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    auto expectRaise = [&](const std::function<void()>& f, const std::string& text) {
        try {
            f();
            ADD_FAILURE() << "no exception for " << text;
        } catch (const ESocketException& e) {
            EXPECT_EQ(e.Message(), text);
        }
    };
    expectRaise([&] { c.socket.SetAddr("10.0.0.1"); }, "Cannot change Addr if not closed");
    expectRaise([&] { c.socket.SetPort("1"); }, "Cannot change Port if not closed");
    expectRaise([&] { c.socket.SetProto("udp"); }, "Cannot change Proto if not closed");
    expectRaise([&] { c.socket.SetLocalAddr("127.0.0.1"); }, "Cannot change LocalAddr if not closed");
    expectRaise([&] { c.socket.SetLocalPort("1"); }, "Cannot change LocalPort if not closed");
    expectRaise([&] { c.socket.SetSocksServer("127.0.0.1"); }, "Can't change socks server if not closed");
    expectRaise([&] { c.socket.SetSocksPort("1080"); }, "Can't change socks port if not closed");
    expectRaise([&] { c.socket.SetSocksLevel("4"); }, "Can't change socks level if not closed");
    expectRaise([&] { c.socket.Connect(); }, "Connect: Socket already in use");
    expectRaise([&] { c.socket.SetSendFlags(7); }, "Invalid SendFlags");

    // After a close the address and port must be given again.
    c.socket.Close();
    expectRaise([&] { c.socket.Connect(); }, "Connect: No Port Specified");
    c.socket.SetPort(server.Port());
    expectRaise([&] { c.socket.Connect(); }, "Connect: No IP Address Specified");
    EXPECT_EQ(c.socket.LocalAddr(), "0.0.0.0");
    c.socket.SetLocalAddr("");
    EXPECT_EQ(c.socket.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(c.socket.PeerAddr(), "error");
}

TEST(NetSocket, ResolutionFailuresGiveTheirTexts) {
    Client c;   // loads Winsock
    auto text = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const ESocketException& e) {
            return e.Message();
        }
        return std::string("(nothing raised)");
    };
    EXPECT_EQ(text([] { NetSocketResolveHost(""); }), "NetSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(text([] { NetSocketResolveHost(std::string(257, 'a')); }),
              "NetSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
    EXPECT_EQ(text([] { NetSocketResolvePort("", "tcp"); }), "NetSocketResolvePort: Invalid Port.");
    EXPECT_EQ(text([] { NetSocketResolvePort(std::string(32, '1'), "tcp"); }), "NetSocketResolvePort: Invalid Port.");
    EXPECT_EQ(text([] { NetSocketResolvePort("25", ""); }), "NetSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(text([] { NetSocketResolveProto(""); }), "NetSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(NetSocketResolvePort(" 25abc", "tcp"), 25);
    EXPECT_EQ(NetSocketResolveProto("tcp"), IPPROTO_TCP);
    EXPECT_EQ(NetSocketResolveProto("17"), IPPROTO_UDP);
    EXPECT_EQ(NetSocketResolveHost("127.0.0.1"), 0x0100007Fu);
    EXPECT_EQ(NetSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);

    EXPECT_TRUE(NetSocketIsDottedAddress("  10.1.2.3  "));
    EXPECT_TRUE(NetSocketIsDottedAddress("10"));
    for (const char* bad : {"", ".1.2.3", "1.2.3.", "1..2", "256.1.1.1", "1.2.3.4.5", "1.2.3.x", "a.b", "1.2 3"})
        EXPECT_FALSE(NetSocketIsDottedAddress(bad)) << bad;

    EXPECT_EQ(text([&] {
                  c.socket.SetAddr("127.0.0.1");
                  c.socket.SetPort("no-such-service-name");
                  c.socket.Connect();
              }).rfind("connect: NetSocketResolvePort: Cannot convert port 'no-such-service-name', Error #", 0),
              0u);
}

TEST(NetSocket, ErrorTextsCoverTheWinsockCodes) {
    EXPECT_EQ(NetSocketErrorDesc(0), "No Error");
    EXPECT_EQ(NetSocketErrorDesc(10004), "Interrupted system call");
    EXPECT_EQ(NetSocketErrorDesc(10035), "Operation would block");
    EXPECT_EQ(NetSocketErrorDesc(10047), "Address family not supported by protocol family");
    EXPECT_EQ(NetSocketErrorDesc(10054), "Connection reset by peer");
    EXPECT_EQ(NetSocketErrorDesc(10058), "Can't send after socket shutdown");
    EXPECT_EQ(NetSocketErrorDesc(10071), "Too many levels of remote in path");
    EXPECT_EQ(NetSocketErrorDesc(10092), "WinSock DLL cannot support this application");
    EXPECT_EQ(NetSocketErrorDesc(11004), "No Data");
    EXPECT_EQ(NetSocketErrorDesc(10072), "Not a WinSock error");
    EXPECT_EQ(NetSocketErrorDesc(-1), "Not a WinSock error");
    int known = 0;
    for (int code = 10000; code < 11010; ++code)
        if (NetSocketErrorDesc(code) != "Not a WinSock error") ++known;
    EXPECT_EQ(known, 50);
}

TEST(NetSocket, ListensAndAcceptsTwoClients) {
    TestServer server;
    server.onData = TestServer::Echo();
    EXPECT_EQ(server.listener.State(), wsListening);
    EXPECT_NE(server.Port(), "0");
    Client a, b;
    a.Connect("127.0.0.1", server.Port());
    b.Connect("localhost", server.Port());
    ASSERT_TRUE(a.WaitConnected());
    ASSERT_TRUE(b.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 2; }));
    a.socket.SendStr("from a");
    b.socket.SendStr("from b");
    ASSERT_TRUE(PumpUntil([&] { return a.received == "from a" && b.received == "from b"; }));
    EXPECT_EQ(server.peers[0]->socket->State(), wsConnected);

    // Accept outside the listening state fails through the error path.
    try {
        a.socket.Accept();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Error 10022 in function not a listening socket\r\nInvalid argument");
    }
    try {
        a.socket.Dup(INVALID_SOCKET);
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Error 10022 in function Dup\r\nInvalid argument");
    }
}

// A socket whose window throws on a message of the test's own.
constexpr UINT kThrowMessage = WM_USER + 100;
class ThrowingSocket : public TNetSocket {
protected:
    bool DispatchSocketMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == kThrowMessage) throw ESocketException("Test exception in NetSocket");
        return TNetSocket::DispatchSocketMessage(msg, wParam, lParam);
    }
};

TEST(NetSocket, ExceptionsInsideMessagesGoToTheBackgroundHandler) {
    TestServer server;
    ClientOf<ThrowingSocket> c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    std::string seen;
    bool keep = true;
    c.socket.OnBgException = [&](TObject*, const std::exception& e, bool& canClose) {
        seen = e.what();
        EXPECT_TRUE(canClose);
        canClose = !keep;
    };
    ::PostMessageA(c.socket.Handle(), kThrowMessage, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, "Test exception in NetSocket");
    EXPECT_EQ(c.socket.State(), wsConnected) << "CanClose false keeps the socket";

    seen.clear();
    keep = false;
    ::PostMessageA(c.socket.Handle(), kThrowMessage, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(c.socket.State(), wsClosed) << "CanClose true aborts";
    EXPECT_EQ(c.closed, 1);
}

TEST(NetSocket, CloseDelayedAndReleaseRunFromTheMessageLoop) {
    TestServer server;
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    c.socket.CloseDelayed();
    EXPECT_EQ(c.socket.State(), wsConnected);
    ASSERT_TRUE(PumpUntil([&] { return c.closed == 1; }));
    EXPECT_EQ(c.socket.State(), wsClosed);

    // Release frees the component; its owner hears of it.
    TComponent owner;
    auto* s = new TNetSocket(&owner);
    EXPECT_EQ(owner.ComponentCount(), 1);
    s->Release();
    ASSERT_TRUE(PumpUntil([&] { return owner.ComponentCount() == 0; }));
}

TEST(NetSocket, StateChangesAreReportedInOrder) {
    TestServer server;
    Client c;
    std::vector<std::pair<TSocketState, TSocketState>> changes;
    c.socket.OnChangeState = [&](TObject*, TSocketState o, TSocketState n) { changes.emplace_back(o, n); };
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    c.socket.Close();
    std::vector<std::pair<TSocketState, TSocketState>> expected = {
        {wsClosed, wsOpened}, {wsOpened, wsConnecting}, {wsConnecting, wsConnected}, {wsConnected, wsClosed}};
    EXPECT_EQ(changes, expected);
}

TEST(NetSocket, FlushAndWaitForCloseReturnOnceDone) {
    TestServer server;
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 1; }));
    c.socket.SendStr(Pattern(4 << 20));
    c.socket.Flush();
    EXPECT_TRUE(c.socket.AllSent());
    ASSERT_TRUE(PumpUntil([&] { return server.peers[0]->received.size() == (4u << 20); }));

    server.peers[0]->socket->SendStr("bye");
    server.peers[0]->socket->CloseDelayed();
    c.socket.WaitForClose();
    EXPECT_EQ(c.socket.State(), wsClosed);
    EXPECT_EQ(c.received, "bye");
    EXPECT_EQ(c.closed, 1);
}

TEST(NetSocket, DatagramsGoBothWays) {
    TNetSocket server;
    int serverConnected = 0;
    std::string got, from;
    server.SetProto("udp");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.OnSessionConnected = [&](TObject*, WORD e) { serverConnected += e == 0; };
    server.OnDataAvailable = [&](TObject*, WORD) {
        char buf[256];
        sockaddr_in src{};
        int srcLen = 0;
        int n = server.ReceiveFrom(buf, sizeof buf, src, srcLen);
        if (n > 0) {
            got.assign(buf, static_cast<size_t>(n));
            from = IntToStr(ws::ntohs(src.sin_port));
            server.SendTo(src, "pong", 4);
        }
    };
    server.Listen();
    EXPECT_EQ(server.State(), wsConnected);
    EXPECT_EQ(serverConnected, 1);

    Client c;
    c.socket.SetProto("udp");
    c.Connect("127.0.0.1", server.GetXPort());
    EXPECT_EQ(c.connected, 1) << "a datagram socket is connected at once";
    EXPECT_EQ(c.socket.State(), wsConnected);
    c.socket.SendStr("ping");
    ASSERT_TRUE(PumpUntil([&] { return got == "ping" && c.received == "pong"; }));
    EXPECT_EQ(from, c.socket.LocalPort());
}

TEST(NetSocket, ALocalAddressAndPortAreBoundBeforeConnecting) {
    TestServer server;
    std::string localPort = UnusedPort();
    Client c;
    c.socket.SetLocalAddr("127.0.0.1");
    c.socket.SetLocalPort(localPort);
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.socket.GetXPort(), localPort);
    EXPECT_EQ(c.socket.GetXAddr(), "127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 1; }));
    EXPECT_EQ(server.peers[0]->socket->PeerPort(), localPort);
}

TEST(NetSocket, PauseHoldsBackEventsUntilResume) {
    TestServer server;
    Client c;
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 1; }));
    c.socket.Pause();
    EXPECT_TRUE(c.socket.Paused());
    server.peers[0]->socket->SendStr("held");
    ASSERT_TRUE(PumpUntil([&] { return c.socket.RcvdCount() == 4; }));
    PumpFor(100);   // the read notice, were it let through, comes meanwhile
    EXPECT_EQ(c.received, "");
    c.socket.Resume();
    ASSERT_TRUE(PumpUntil([&] { return c.received == "held"; }));
}

TEST(NetSocket, ReverseLookupNamesTheLoopbackAddress) {
    Client c;
    c.socket.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return !c.lookupErrors.empty(); }));
    EXPECT_EQ(c.lookupErrors[0], 0);
    EXPECT_FALSE(c.socket.DnsResult().empty());
    EXPECT_EQ(c.socket.DnsResultList().Count(), 1);
    EXPECT_THROW(c.socket.ReverseDnsLookup(""), ESocketException);
}

TEST(NetSocket, AStateChangeHandlerThatClosesStopsTheConnect) {
    TestServer server;
    Client c;
    c.socket.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
        if (n == wsOpened) c.socket.Close();
    };
    try {
        c.Connect("127.0.0.1", server.Port());
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Error 10022 in function Connect (Invalid operation in OnChangeState)\r\nInvalid argument");
    }
    EXPECT_EQ(c.socket.State(), wsClosed);
}

TEST(NetSocket, ReceiveStrReadsWhatIsWaiting) {
    TestServer server;
    Client c;
    std::vector<std::string> pieces;
    c.socket.OnDataAvailable = [&](TObject*, WORD) { pieces.push_back(c.socket.ReceiveStr()); };
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 1; }));
    std::string big(3000, 'r');
    server.peers[0]->socket->SendStr(big);
    ASSERT_TRUE(PumpUntil([&] {
        size_t total = 0;
        for (auto& p : pieces) total += p.size();
        return total >= big.size();
    }));
    std::string joined;
    for (auto& p : pieces) joined += p;
    EXPECT_EQ(joined, big);
}

TEST(NetSocket, DataQueuedBeforeAGracefulCloseReachesASlowReader) {
    for (size_t size : {size_t(256) << 10, size_t(2) << 20}) {
        TestServer server;
        std::string data = Pattern(size);
        server.onAccept = [&](Peer& p) {
            p.socket->SendStr(data);
            p.socket->OnDataSent = [&p](TObject*, WORD) { p.socket->CloseDelayed(); };
        };
        Client c;
        c.socket.OnSessionConnected = [&](TObject*, WORD) {
            ++c.connected;
            c.socket.Pause();   // nothing is read while the peer sends and closes
        };
        c.Connect("127.0.0.1", server.Port());
        ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 1 && server.peers[0]->closedCount > 0; })) << size;
        c.socket.Resume();
        ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; })) << size << " bytes sent, " << c.received.size() << " received";
        EXPECT_EQ(c.received.size(), data.size()) << size;
        EXPECT_EQ(c.closeError, 0) << size;
    }
}

TEST(NetSocket, ANewConnectionCanBeStartedFromTheClosedEvent) {
    TestServer server;
    Client c;
    int closes = 0;
    c.socket.OnSessionClosed = [&](TObject*, WORD) {
        if (++closes == 1) {
            c.socket.SetAddr("127.0.0.1");
            c.socket.SetPort(server.Port());
            c.socket.Connect();
        }
    };
    c.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(c.WaitConnected());
    c.socket.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(c.socket.State(), wsConnecting) << "the reset after the close must not wipe the new connection";
    ASSERT_TRUE(PumpUntil([&] { return c.connected == 2; }));
    EXPECT_EQ(c.socket.State(), wsConnected);
    ASSERT_TRUE(PumpUntil([&] { return server.peers.size() == 2; }));
}

// Lookups that never answer, and the buffers the socket gave them.
std::vector<char*> heldBuffers;
HANDLE WINAPI HoldLookup(HWND, u_int, const char*, char* buffer, int) {
    heldBuffers.push_back(buffer);
    return reinterpret_cast<HANDLE>(heldBuffers.size());
}
int WINAPI CancelButGoOn(HANDLE) { return 0; }

// The socket's error path and its hidden window, a row per way to get them wrong.
TEST(NetSocket, ErrorPathAndHiddenWindow) {
    auto listening = [](TNetSocket& s, int& errors) {
        s.OnError = [&errors](TObject*) { ++errors; };
        s.SetAddr("127.0.0.1");
        s.SetPort("0");
        s.Listen();
    };
    const std::pair<const char*, std::function<bool()>> rows[] = {
        {"the test message reaches the background handler, which aborts", [&] {
             TNetSocket s;
             int errors = 0;
             listening(s, errors);
             std::string seen;
             s.OnBgException = [&](TObject*, const std::exception& e, bool&) { seen = e.what(); };
             ::SendMessageA(s.Handle(), WM_USER + 6, 0, 0);
             return seen == "Test exception in NetSocket" && s.State() == wsClosed;
         }},
        {"a send while not connected (10057) keeps Addr and Port", [&] {
             TNetSocket s;
             int errors = 0;
             listening(s, errors);
             s.SendStr("x");
             const bool closed = errors == 1 && s.LastError() == 10057 && s.State() == wsClosed;
             s.Listen();
             return closed && errors == 1 && s.State() == wsListening;
         }},
        {"after a 10057 the next session reports its close, listening or connecting", [&] {
             TestServer server;
             TNetSocket s;
             int errors = 0, closes = 0;
             s.OnSessionClosed = [&](TObject*, WORD) { ++closes; };
             // Closed by the error path, its target kept; then the next session and its close.
             auto lostThen = [&](const std::function<void()>& start) {
                 listening(s, errors);
                 s.SendStr("x");
                 const int before = closes;
                 start();
                 s.Close();
                 return closes == before + 1;
             };
             return lostThen([&] { s.Listen(); }) && lostThen([&] { s.SetPort(server.Port()); s.Connect(); });
         }},
        {"a lookup cancelled while the system goes on keeps a buffer of its own", [&] {
             Client c;
             heldBuffers.clear();
             ws::ReplaceEntry("WSAAsyncGetHostByName", StandIn(&HoldLookup));
             ws::ReplaceEntry("WSACancelAsyncRequest", StandIn(&CancelButGoOn));
             c.socket.DnsLookup("first.test");
             c.socket.DnsLookup("second.test");   // cancels the first, which still writes its answer
             ws::ReplaceEntry("WSAAsyncGetHostByName", nullptr);
             ws::ReplaceEntry("WSACancelAsyncRequest", nullptr);
             return heldBuffers.size() == 2 && heldBuffers[0] != heldBuffers[1];
         }},
        {"RcvdCount without a socket runs the error path", [&] {
             TNetSocket s;
             int errors = 0;
             s.OnError = [&](TObject*) { ++errors; };
             return s.RcvdCount() == -1 && errors == 1;
         }},
        {"the window class goes with the last socket and comes back", [&] {
             WNDCLASSEXA wc{};
             wc.cbSize = sizeof wc;
             { TNetSocket s; }
             const bool gone = !::GetClassInfoExA(::GetModuleHandleA(nullptr), kSocketWindowClass, &wc);
             TNetSocket again;
             return ws::InstanceCount() == 1 && gone && again.Handle() != nullptr;
         }},
    };
    for (const auto& [what, holds] : rows) EXPECT_TRUE(holds()) << what;
}
