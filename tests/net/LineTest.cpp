// Line mode and the synchronous wait, against our own listening socket.
#include "NetTestUtil.h"

using namespace krvtest;

namespace {

// A connected pair: the client in line mode collecting one entry per event.
struct LinePair {
    TestServer server;
    Client c;
    std::vector<std::string> lines;
    Peer* peer = nullptr;

    LinePair() {
        c.socket.SetLineMode(true);
        c.socket.OnDataAvailable = [this](TObject*, WORD) {
            char buf[512];
            int n = c.socket.Receive(buf, sizeof buf);
            if (n > 0) lines.emplace_back(buf, static_cast<size_t>(n));
        };
        c.Connect("127.0.0.1", server.Port());
        EXPECT_TRUE(c.WaitConnected());
        EXPECT_TRUE(PumpUntil([this] { return !server.peers.empty(); }));
        peer = server.peers.empty() ? nullptr : server.peers[0].get();
    }
    // Sends one piece and lets it arrive before the next.
    void Piece(const std::string& s, size_t expectLines) {
        peer->socket->SendStr(s);
        PumpUntil([&] { return lines.size() >= expectLines; });
        PumpFor(50);
    }
};

} // namespace

TEST(LineMode, SeveralLinesInOnePieceComeOneByOne) {
    LinePair p;
    ASSERT_NE(p.peer, nullptr);
    p.Piece("first\r\nsecond\r\n", 2);
    EXPECT_EQ(p.lines, (std::vector<std::string>{"first\r\n", "second\r\n"}));
}

TEST(LineMode, ALineSplitAcrossPiecesIsFoundEvenBetweenCrAndLf) {
    LinePair p;
    ASSERT_NE(p.peer, nullptr);
    p.Piece("250-hel", 0);
    p.Piece("lo\r", 0);
    EXPECT_TRUE(p.lines.empty());
    p.Piece("\n250 ok\r\nrest", 2);
    EXPECT_EQ(p.lines, (std::vector<std::string>{"250-hello\r\n", "250 ok\r\n"}));
    EXPECT_EQ(p.c.socket.RcvdCount(), 0);
}

TEST(LineMode, ALineOverTheLimitIsReportedAndCleared) {
    LinePair p;
    ASSERT_NE(p.peer, nullptr);
    p.c.socket.LineLimit = 10;
    std::vector<int> exceeded;
    p.c.socket.OnLineLimitExceeded = [&](TObject*, int n, bool& clear) {
        exceeded.push_back(n);
        EXPECT_TRUE(clear);
    };
    p.Piece("0123456789X", 0);
    ASSERT_TRUE(PumpUntil([&] { return !exceeded.empty(); }));
    EXPECT_EQ(exceeded, std::vector<int>{11});
    p.Piece("ok\r\n", 1);
    EXPECT_EQ(p.lines, std::vector<std::string>{"ok\r\n"}) << "the cleared bytes are gone";

    // Keeping the data: the over-long line still arrives once it ends.
    p.c.socket.OnLineLimitExceeded = [&](TObject*, int, bool& clear) { clear = false; };
    p.lines.clear();
    p.Piece("0123456789ABC", 0);
    p.Piece("\r\n", 1);
    EXPECT_EQ(p.lines, std::vector<std::string>{"0123456789ABC\r\n"});
}

TEST(LineMode, EditingAppliesBackspaceAndTab) {
    LinePair p;
    ASSERT_NE(p.peer, nullptr);
    p.c.socket.LineEdit = true;
    p.c.socket.LineEcho = true;
    p.Piece("ab\bc\r\n", 1);
    EXPECT_EQ(p.lines, std::vector<std::string>{"ac\r\n"});
    ASSERT_TRUE(PumpUntil([&] { return p.peer->received.size() >= 8; }));
    EXPECT_EQ(p.peer->received, "ab\b \bc\r\n") << "the echo";
    p.lines.clear();
    p.Piece("x\ty\r\n", 1);
    EXPECT_EQ(p.lines, std::vector<std::string>{"x       y\r\n"});
}

TEST(LineMode, BytesWithoutALineEndAreTheLastLineBeforeTheClose) {
    LinePair p;
    ASSERT_NE(p.peer, nullptr);
    std::vector<std::string> order;
    p.c.socket.OnSessionClosed = [&](TObject*, WORD) { order.push_back("closed"); };
    p.c.socket.OnDataAvailable = [&](TObject*, WORD) { order.push_back(p.c.socket.ReceiveStr()); };
    p.peer->socket->SendStr("abc");
    p.peer->socket->CloseDelayed();
    ASSERT_TRUE(PumpUntil([&] { return !order.empty() && order.back() == "closed"; }));
    EXPECT_EQ(order, (std::vector<std::string>{"abc", "closed"}));
}

TEST(LineMode, SwitchingOffHandsTheBufferedBytesOut) {
    LinePair p;
    ASSERT_NE(p.peer, nullptr);
    p.c.socket.OnDataAvailable = [&](TObject*, WORD) {
        std::string got = p.c.socket.ReceiveStr();
        p.lines.push_back(got);
        if (got == "HEADER\r\n") p.c.socket.SetLineMode(false);
    };
    p.Piece("HEADER\r\nbody bytes", 2);
    ASSERT_TRUE(PumpUntil([&] { return p.lines.size() >= 2; }));
    EXPECT_EQ(p.lines, (std::vector<std::string>{"HEADER\r\n", "body bytes"}));
}

TEST(SyncWait, WaitsForTheFlagWhileEventsKeepComing) {
    TestServer server;
    TNetSocket s;
    bool connected = false;
    s.OnSessionConnected = [&](TObject*, WORD) { connected = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(server.Port());
    EXPECT_EQ(s.RunAndWait([&] { s.Connect(); }, connected), 0);
    EXPECT_EQ(s.State(), wsConnected);

    bool never = false;
    s.Timeout = 200;
    EXPECT_EQ(s.WaitUntilReady(never), kSyncWaitFailed);
}

TEST(SyncWait, GivesUpAtOnceWhenTheApplicationEnds) {
    TNetSocket s;
    bool never = false;
    ::PostQuitMessage(0);
    EXPECT_EQ(s.WaitUntilReady(never), kSyncWaitFailed);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }

    TNetSocket own;
    own.MultiThreaded = true;
    ::PostQuitMessage(0);
    EXPECT_EQ(own.WaitUntilReady(never), kSyncWaitFailed);
}
