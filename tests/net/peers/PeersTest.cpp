// The socket component against real peers on 127.0.0.1, started by
// tests/e2e/net_peers.sh, which passes their ports in the environment:
// a Python echo server, a SOCKS 4/5 proxy, and a SOCKS 5 proxy that wants
// a user name and password.
#include "NetTestUtil.h"

using namespace krvtest;

namespace {

std::string Env(const char* name) { return PeerEnv(name, "tests/e2e/net_peers.sh"); }

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    return s;
}

// Sends each size and expects it back whole.
void ExpectEcho(Client& c) {
    for (size_t size : {size_t(1), size_t(1460), size_t(1) << 20}) {
        c.received.clear();
        std::string data = Pattern(size);
        c.socket.SendStr(data);
        ASSERT_TRUE(PumpUntil([&] { return c.received.size() >= size; }, 30000)) << size;
        EXPECT_TRUE(c.received == data) << size;
    }
}

struct ProxyClient : Client {
    std::vector<TSocksAuthState> auth;
    std::vector<int> errors;
    ProxyClient(const std::string& proxyPort, const std::string& level) {
        socket.OnSocksAuthState = [this](TObject*, TSocksAuthState s) { auth.push_back(s); };
        socket.OnSocksError = [this](TObject*, int e, const std::string&) { errors.push_back(e); };
        socket.SetSocksServer("127.0.0.1");
        socket.SetSocksPort(proxyPort);
        socket.SetSocksLevel(level);
    }
};

} // namespace

TEST(Peers, EchoServerByNameAndByAddress) {
    for (const char* host : {"localhost", "127.0.0.1"}) {
        Client c;
        c.Connect(host, Env("KRV_ECHO_PORT"));
        ASSERT_TRUE(c.WaitConnected()) << host;
        ASSERT_EQ(c.connectError, 0) << host;
        ExpectEcho(c);
        c.socket.SendStr("QUIT\n");   // the echo server hangs up
        ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
        PumpFor(200);
        EXPECT_EQ(c.closed, 1);
    }
}

TEST(Peers, SocksLevels4And5ThroughARealProxy) {
    for (const char* level : {"4", "5"}) {
        ProxyClient c(Env("KRV_SOCKS_PORT"), level);
        c.Connect("127.0.0.1", Env("KRV_ECHO_PORT"));
        ASSERT_TRUE(c.WaitConnected()) << level;
        ASSERT_EQ(c.connectError, 0) << level;
        ExpectEcho(c);
    }
    // By name: resolved here for 4, by the proxy for 5.
    for (const char* level : {"4", "5"}) {
        ProxyClient c(Env("KRV_SOCKS_PORT"), level);
        c.Connect("localhost", Env("KRV_ECHO_PORT"));
        ASSERT_TRUE(c.WaitConnected()) << level;
        ASSERT_EQ(c.connectError, 0) << level;
        c.socket.SendStr("by name");
        ASSERT_TRUE(PumpUntil([&] { return c.received == "by name"; })) << level;
    }
}

TEST(Peers, ARealProxyRefusingATargetGivesAMappedError) {
    // Nobody listens on the run's own loopback address (the echo server is on 127.0.0.1).
    ProxyClient c(Env("KRV_SOCKS_PORT"), "5");
    c.Connect(Env("KRV_CLOSED_HOST"), Env("KRV_ECHO_PORT"));
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_GE(c.connectError, 20004);
    EXPECT_LE(c.connectError, 20012);
    ASSERT_EQ(c.errors.size(), 1u);
}

TEST(Peers, Socks5WithUserAndPassword) {
    {
        ProxyClient c(Env("KRV_AUTH_SOCKS_PORT"), "5");
        c.socket.SocksAuthentication = socksAuthenticateUsercode;
        c.socket.SocksUsercode = Env("KRV_AUTH_SOCKS_USER");
        c.socket.SocksPassword = Env("KRV_AUTH_SOCKS_PASS");
        c.Connect("127.0.0.1", Env("KRV_ECHO_PORT"));
        ASSERT_TRUE(c.WaitConnected());
        ASSERT_EQ(c.connectError, 0);
        EXPECT_EQ(c.auth, (std::vector<TSocksAuthState>{socksAuthStart, socksAuthSuccess}));
        ExpectEcho(c);
    }
    {
        ProxyClient c(Env("KRV_AUTH_SOCKS_PORT"), "5");
        c.socket.SocksAuthentication = socksAuthenticateUsercode;
        c.socket.SocksUsercode = Env("KRV_AUTH_SOCKS_USER");
        c.socket.SocksPassword = "not the password";
        c.Connect("127.0.0.1", Env("KRV_ECHO_PORT"));
        ASSERT_TRUE(c.WaitConnected());
        EXPECT_EQ(c.connectError, 20015);
        EXPECT_EQ(c.errors, std::vector<int>{20015});
        ASSERT_GE(c.auth.size(), 2u);
        EXPECT_EQ(c.auth.back(), socksAuthFailure);
        ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
        PumpFor(200);
        EXPECT_EQ(c.closed, 1);
    }
}

TEST(Peers, ARealProxyThatRefuses4AGivesItsMappedError) {
    // This proxy answers a 4A request with code 91 (it does not resolve names for level 4).
    ProxyClient c(Env("KRV_SOCKS_PORT"), "4A");
    c.Connect("localhost", Env("KRV_ECHO_PORT"));
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 20016);
    EXPECT_EQ(c.errors, std::vector<int>{20016});
    ASSERT_TRUE(PumpUntil([&] { return c.closed > 0; }));
    EXPECT_EQ(c.closed, 1);
}
