// Loading and unloading Winsock at run time.
#include "NetTestUtil.h"

using namespace krvtest;

TEST(WinsockApi, TheLastSocketUnloadsAndTheNextLoadsAgain) {
    {
        TNetSocket a;
        TNetSocket b;
        a.DnsLookup("127.0.0.1");
        EXPECT_TRUE(ws::Loaded());
        EXPECT_EQ(ws::InstanceCount(), 2);
    }
    EXPECT_FALSE(ws::Loaded());
    EXPECT_EQ(ws::InstanceCount(), 0);
    // Released, yet the code a lookup still in flight runs on a system worker
    // stays where it was.
    EXPECT_NE(::GetModuleHandleA("ws2_32.dll"), nullptr);
    EXPECT_NE(::GetModuleHandleA("wsock32.dll"), nullptr);

    TestServer server;
    Client c;
    c.Connect("127.0.0.1", server.Port());
    EXPECT_TRUE(ws::Loaded());
    ASSERT_TRUE(c.WaitConnected());
    EXPECT_EQ(c.connectError, 0);
}

TEST(WinsockApi, AMissingExportIsNamed) {
    TNetSocket keepLoaded;
    try {
        ws::GetProc("NoSuchWinsockFunction");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()), "Procedure NoSuchWinsockFunction not found in wsock32.dll Error #127");
    }
    EXPECT_EQ(ws::GetProc(""), nullptr);
    EXPECT_FALSE(ws::LocalHostName().empty());
}
