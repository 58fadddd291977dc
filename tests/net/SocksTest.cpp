// The SOCKS client against a scripted proxy made of our own listening
// socket: each step waits for a request of known length, keeps it and sends
// the scripted answer; after the last step the proxy echoes like a target.
#include "NetTestUtil.h"
#include "net/SocksReply.h"
#include <cstring>
#include <random>

using namespace krvtest;

namespace {

struct Step {
    size_t expect;        // request bytes to wait for
    std::string reply;
    bool closeAfter = false;
};

class ScriptedProxy {
public:
    std::vector<Step> steps;
    std::vector<std::string> requests;
    TestServer server;

    ScriptedProxy() {
        server.onData = [this](Peer& p) { Run(p); };
    }
    std::string Port() { return server.Port(); }

private:
    void Run(Peer& p) {
        while (requests.size() < steps.size()) {
            const Step& s = steps[requests.size()];
            if (p.received.size() < s.expect) return;
            requests.push_back(p.received.substr(0, s.expect));
            p.received.erase(0, s.expect);
            if (!s.reply.empty()) p.socket->SendStr(s.reply);
            if (s.closeAfter) {
                p.socket->CloseDelayed();
                return;
            }
        }
        if (!p.received.empty()) {   // past the script: a target that echoes
            p.socket->SendStr(p.received);
            p.received.clear();
        }
    }
};

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// A client socket recording the SOCKS events as well.
struct SocksClient : Client {
    std::vector<TSocksAuthState> auth;
    std::vector<std::pair<int, std::string>> errors;
    int socksConnected = 0;
    SocksClient() {
        socket.OnSocksAuthState = [this](TObject*, TSocksAuthState s) { auth.push_back(s); };
        socket.OnSocksError = [this](TObject*, int e, const std::string& m) { errors.emplace_back(e, m); };
        socket.OnSocksConnected = [this](TObject*, WORD) { ++socksConnected; };
    }
    void Via(const std::string& level, const std::string& proxyPort, const std::string& target,
             const std::string& port = "4321") {
        socket.SetSocksServer("127.0.0.1");
        socket.SetSocksPort(proxyPort);
        socket.SetSocksLevel(level);
        Connect(target, port);
    }
};

const std::string kGranted5 = B({5, 0, 0, 1, 10, 1, 2, 3, 0x12, 0x34});
const std::string kGranted4 = B({0, 90, 0x10, 0xE1, 127, 0, 0, 1});

std::string Socks5Request(const std::string& host, int port) {
    return B({5, 1, 0, 3, static_cast<int>(host.size())}) + host + B({port >> 8, port & 0xFF});
}

} // namespace

TEST(Socks, Level5ConnectsThroughTheProxyAndKeepsBytesBehindTheReply) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 0})}, {Socks5Request("target.example", 4321).size(), kGranted5 + "early bytes"}};
    SocksClient c;
    std::string firstReceive;
    c.socket.OnDataAvailable = [&](TObject*, WORD) {
        std::string got;
        ReadAll(c.socket, got);
        if (firstReceive.empty()) firstReceive = got;
        c.received += got;
    };
    c.Via("5", proxy.Port(), "target.example");
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 0);
    EXPECT_EQ(c.socksConnected, 1);
    ASSERT_EQ(proxy.requests.size(), 2u);
    EXPECT_EQ(proxy.requests[0], B({5, 1, 0}));
    EXPECT_EQ(proxy.requests[1], Socks5Request("target.example", 4321)) << "the name goes to the proxy unresolved";
    EXPECT_EQ(c.socket.BoundAddr(), "10.1.2.3");
    EXPECT_EQ(c.socket.BoundPort(), IntToStr(0x1234));
    ASSERT_TRUE(PumpUntil([&] { return c.received.size() >= 11; }));
    EXPECT_EQ(firstReceive, "early bytes");

    c.received.clear();
    c.socket.SendStr("ping through the proxy");
    ASSERT_TRUE(PumpUntil([&] { return c.received.size() >= 22; }));
    EXPECT_EQ(c.received, "ping through the proxy");
    EXPECT_TRUE(c.errors.empty());
}

TEST(Socks, Level5LogsInWithUserAndPassword) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 2})}, {3 + 4 + 6, B({1, 0})}, {Socks5Request("localhost", 4321).size(), kGranted5}};
    SocksClient c;
    c.socket.SocksAuthentication = socksAuthenticateUsercode;
    c.socket.SocksUsercode = "user";
    c.socket.SocksPassword = "secret";
    c.Via("5", proxy.Port(), "localhost");
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 0);
    ASSERT_EQ(proxy.requests.size(), 3u);
    EXPECT_EQ(proxy.requests[0], B({5, 1, 2}));
    EXPECT_EQ(proxy.requests[1], B({1, 4}) + "user" + B({6}) + "secret");
    EXPECT_EQ(c.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthSuccess}));
}

TEST(Socks, AWrongPasswordEndsWith20015AndTheFailureEvent) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 2})}, {3 + 4 + 5, B({1, 1}), true}};
    SocksClient c;
    c.socket.SocksAuthentication = socksAuthenticateUsercode;
    c.socket.SocksUsercode = "user";
    c.socket.SocksPassword = "wrong";
    c.Via("5", proxy.Port(), "localhost");
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 20015);
    ASSERT_EQ(c.errors.size(), 1u);
    EXPECT_EQ(c.errors[0], std::make_pair(20015, std::string("socks authentication failed")));
    EXPECT_EQ(c.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthFailure}));
    ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
    PumpFor(100);
    EXPECT_EQ(c.closed, 1);
    EXPECT_EQ(c.closeError, 20015);
    EXPECT_EQ(c.connected, 1);
}

TEST(Socks, AProxyThatRefusesEveryMethodEndsWith20003) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 255})}};
    SocksClient c;
    c.Via("5", proxy.Port(), "localhost");
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 20003);
    ASSERT_EQ(c.errors.size(), 1u);
    EXPECT_EQ(c.errors[0].second, "authentification method not acceptable");
}

TEST(Socks, AProxyThatNeedsNoLoginSaysSo) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 0})}, {Socks5Request("h", 4321).size(), kGranted5}};
    SocksClient c;
    c.socket.SocksAuthentication = socksAuthenticateUsercode;
    c.socket.SocksUsercode = "u";
    c.Via("5", proxy.Port(), "h");
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 0);
    EXPECT_EQ(c.auth, std::vector<TSocksAuthState>{socksAuthNotRequired});
}

TEST(Socks, EveryLevel5ReplyCodeGivesItsError) {
    const std::pair<int, std::pair<int, const char*>> codes[] = {
        {1, {20004, "general SOCKS server failure"}}, {2, {20005, "connection not allowed by ruleset"}},
        {3, {20006, "network unreachable"}},          {4, {20007, "host unreachable"}},
        {5, {20008, "connection refused"}},           {6, {20009, "time to live expired"}},
        {7, {20010, "command not supported"}},        {8, {20011, "address type not supported"}},
        {9, {20012, "unassigned error #9"}},          {255, {20012, "unassigned error #255"}},
    };
    for (auto& [code, expected] : codes) {
        ScriptedProxy proxy;
        proxy.steps = {{3, B({5, 0})}, {Socks5Request("h", 4321).size(), B({5, code, 0, 1, 0, 0, 0, 0, 0, 0})}};
        SocksClient c;
        c.Via("5", proxy.Port(), "h");
        ASSERT_TRUE(c.WaitConnected()) << code;
        EXPECT_EQ(c.connectError, expected.first) << code;
        ASSERT_EQ(c.errors.size(), 1u) << code;
        EXPECT_EQ(c.errors[0].second, expected.second);
        ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
        EXPECT_EQ(c.socket.State(), wsClosed);
    }
    // Wrong version in the connect reply, and an address type we cannot read.
    for (auto& [reply, error] : {std::make_pair(B({4, 0, 0, 1, 0, 0, 0, 0, 0, 0}), 20002),
                                 std::make_pair(B({5, 0, 0, 4, 0, 0, 0, 0, 0, 0}), 20011)}) {
        ScriptedProxy proxy;
        proxy.steps = {{3, B({5, 0})}, {Socks5Request("h", 4321).size(), reply}};
        SocksClient c;
        c.Via("5", proxy.Port(), "h");
        ASSERT_TRUE(c.WaitConnected());
        EXPECT_EQ(c.connectError, error);
    }
}

TEST(Socks, Level4SendsTheResolvedAddressAndMapsItsCodes) {
    {
        ScriptedProxy proxy;
        proxy.steps = {{8 + 3 + 1, kGranted4}};
        SocksClient c;
        c.socket.SocksUsercode = "bob";
        c.Via("4", proxy.Port(), "localhost", "4321");
        ASSERT_TRUE(c.WaitConnected());
        EXPECT_EQ(c.connectError, 0);
        ASSERT_EQ(proxy.requests.size(), 1u);
        EXPECT_EQ(proxy.requests[0], B({4, 1, 0x10, 0xE1, 127, 0, 0, 1}) + "bob" + B({0}));
        c.socket.SendStr("four");
        ASSERT_TRUE(PumpUntil([&] { return c.received == "four"; }));
    }
    const std::pair<int, std::pair<int, const char*>> codes[] = {
        {91, {20016, "request rejected or failed"}}, {92, {20008, "connection refused"}},
        {93, {20015, "authentification failed"}},    {94, {20012, "unassigned error #94"}},
    };
    for (auto& [code, expected] : codes) {
        ScriptedProxy proxy;
        proxy.steps = {{9, B({0, code, 0, 0, 0, 0, 0, 0})}};
        SocksClient c;
        c.Via("4", proxy.Port(), "127.0.0.1");
        ASSERT_TRUE(c.WaitConnected()) << code;
        EXPECT_EQ(c.connectError, expected.first) << code;
        ASSERT_EQ(c.errors.size(), 1u);
        EXPECT_EQ(c.errors[0].second, expected.second);
        EXPECT_TRUE(c.auth.empty()) << code << ": no login took place";
    }
}

TEST(Socks, Level4AAnd5CarryA200CharacterHostName) {
    const std::string host = std::string(196, 'h') + ".net";
    ASSERT_EQ(host.size(), 200u);
    {
        ScriptedProxy proxy;
        proxy.steps = {{8 + 1 + host.size() + 1, kGranted4}};
        SocksClient c;
        c.Via("4a", proxy.Port(), host, "25");
        EXPECT_EQ(c.socket.SocksLevel(), "4A");
        ASSERT_TRUE(c.WaitConnected());
        EXPECT_EQ(c.connectError, 0);
        ASSERT_EQ(proxy.requests.size(), 1u);
        EXPECT_EQ(proxy.requests[0], B({4, 1, 0, 25, 0, 0, 0, 1, 0}) + host + B({0}));
    }
    {
        ScriptedProxy proxy;
        proxy.steps = {{3, B({5, 0})}, {Socks5Request(host, 25).size(), B({5, 0, 0, 3, 4}) + "bind" + B({0, 80})}};
        SocksClient c;
        c.Via("5", proxy.Port(), host, "25");
        ASSERT_TRUE(c.WaitConnected());
        EXPECT_EQ(c.connectError, 0);
        EXPECT_EQ(proxy.requests[1], Socks5Request(host, 25));
        EXPECT_EQ(c.socket.BoundAddr(), "bind");
        EXPECT_EQ(c.socket.BoundPort(), "80");
    }
}

TEST(Socks, SettingsAreCheckedAndResetAfterClose) {
    TNetSocket s;
    EXPECT_EQ(s.SocksLevel(), "5");
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
    try {
        s.SetSocksLevel("6");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Invalid socks level. Must be 4, 4A or 5.");
    }
    s.SetSocksServer(" 127.0.0.1 ");
    EXPECT_EQ(s.SocksServer(), "127.0.0.1");
    try {
        s.Listen();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Listening is not supported thru socks server");
    }
    s.SetProto("udp");
    s.SetAddr("h");
    s.SetPort("1");
    try {
        s.Connect();
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "tcp is the only protocol supported thru socks server");
    }
    s.SetProto("tcp");
    s.SetAddr(std::string(256, 'n'));
    s.SetSocksPort("1080");
    EXPECT_THROW(s.Connect(), ESocketException) << "a name a length byte cannot hold";
    s.Close();
    EXPECT_EQ(s.SocksServer(), "");
    EXPECT_EQ(s.SocksLevel(), "5");
}

TEST(Socks, ReplyParserSurvivesMutatedInput) {
    std::mt19937 rng(42);
    const std::string seeds[] = {B({5, 0}), B({5, 2}), B({1, 0}), kGranted5, kGranted4,
                                 B({5, 0, 0, 3, 200}) + std::string(200, 'a') + B({0, 1}), B({5, 0, 0, 3, 255})};
    unsigned char buf[kSocksReplyMax];
    int granted = 0;
    for (int round = 0; round < 200000; ++round) {
        std::string input = seeds[rng() % std::size(seeds)];
        int mutations = rng() % 4;
        for (int m = 0; m < mutations && !input.empty(); ++m) {
            switch (rng() % 3) {
            case 0: input[rng() % input.size()] = static_cast<char>(rng()); break;
            case 1: input.resize(rng() % (input.size() + 1)); break;
            default: input += static_cast<char>(rng()); break;
            }
        }
        int count = static_cast<int>(std::min<size_t>(input.size(), sizeof buf));
        std::memcpy(buf, input.data(), static_cast<size_t>(count));
        int state = static_cast<int>(rng() % 5);
        bool socks4 = rng() % 2;
        TSocksReply r = ParseSocksReply(state, socks4, rng() % 2, buf, count);
        ASSERT_LE(r.Consumed, count);
        ASSERT_GE(r.Consumed, 0);
        if (r.Kind == srError) {
            ASSERT_GE(r.Error, 20001);
            ASSERT_LE(r.Error, 20016);
            ASSERT_FALSE(r.Text.empty());
        }
        if (r.Kind == srGranted) {
            ++granted;
            ASSERT_LE(r.BoundAddr.size(), 255u);
        }
        if (r.Kind == srNeedMore) {
            ASSERT_LT(count, kSocksReplyMax) << "a full buffer always decides";
        }
    }
    EXPECT_GT(granted, 0);
}

TEST(Socks, TheClientSurvivesAProxyThatAnswersGarbage) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        ScriptedProxy proxy;
        std::string junk;
        int len = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < len; ++i) junk += static_cast<char>(rng() % 4 == 0 ? 5 : rng());
        bool level5 = rng() % 2;
        if (level5)
            proxy.steps = {{3, rng() % 2 ? B({5, 0}) : junk}, {Socks5Request("h", 4321).size(), junk, rng() % 2 == 0}};
        else
            proxy.steps = {{9, junk, rng() % 2 == 0}};
        SocksClient c;
        c.Via(level5 ? "5" : "4", proxy.Port(), level5 ? "h" : "127.0.0.1");
        // Every round ends one way or the other: connected, refused, or closed.
        ASSERT_TRUE(PumpUntil([&] { return c.connected > 0 || c.closed > 0 || proxy.requests.size() == proxy.steps.size(); }))
            << round;
        if (c.connected == 0 && c.closed == 0) {
            // The proxy is waiting for nothing more and the reply was too short: close it ourselves.
            c.socket.Close();
            EXPECT_EQ(c.closed, 1);
        }
    }
}

TEST(Socks, AProxyThatCannotBeReachedIsReportedAsTheConnectError) {
    SocksClient c;
    c.Via("5", UnusedPort(), "h");
    ASSERT_TRUE(PumpUntil([&] { return c.connected > 0 && c.closed > 0; }));
    EXPECT_EQ(c.socksConnected, 1);
    EXPECT_EQ(c.connectError, WSAECONNREFUSED);
    EXPECT_EQ(c.closed, 1);
}

TEST(Socks, AProxyHangingUpDuringLoginIsAnAuthenticationFailure) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 2})}, {3 + 1 + 1, "", true}};
    SocksClient c;
    c.socket.SocksAuthentication = socksAuthenticateUsercode;
    c.socket.SocksUsercode = "u";
    c.socket.SocksPassword = "p";
    c.Via("5", proxy.Port(), "h");
    ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
    EXPECT_EQ(c.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthFailure}));
    EXPECT_EQ(c.closed, 1);
    EXPECT_EQ(c.connected, 0);
}

TEST(Socks, LineModeSeesTheGreetingThatCameWithTheReply) {
    ScriptedProxy proxy;
    proxy.steps = {{3, B({5, 0})}, {Socks5Request("mail", 25).size(), kGranted5 + "220 ready\r\n250 o"}};
    SocksClient c;
    std::vector<std::string> lines;
    c.socket.SetLineMode(true);
    c.socket.OnDataAvailable = [&](TObject*, WORD) { lines.push_back(c.socket.ReceiveStr()); };
    c.Via("5", proxy.Port(), "mail", "25");
    ASSERT_TRUE(PumpUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(c.connectError, 0);
    EXPECT_EQ(lines, std::vector<std::string>{"220 ready\r\n"});
    proxy.server.peers[0]->socket->SendStr("k\r\n");
    ASSERT_TRUE(PumpUntil([&] { return lines.size() == 2; }));
    EXPECT_EQ(lines[1], "250 ok\r\n");
}
