// A stream socket that reaches its target through a SOCKS 4, 4A or 5 proxy
// (with user/password login for 5). The negotiation runs between the TCP
// connection to the proxy and OnSessionConnected; afterwards events and
// receives behave as for a direct connection.
#pragma once
#include "net/NetSocket.h"
#include "net/SocksReply.h"
#include <vector>

namespace krv {

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

class TCustomSocksNetSocket : public TCustomNetSocket {
public:
    explicit TCustomSocksNetSocket(TComponent* owner = nullptr) : TCustomNetSocket(owner) {}

    void Connect() override;
    void Listen() override;

    // "4", "4A" or "5", stored upper-case; only when closed.
    const std::string& SocksLevel() const { return socksLevel_; }
    void SetSocksLevel(const std::string& value);
    // A non-empty server switches the proxy on; only when closed.
    const std::string& SocksServer() const { return socksServer_; }
    void SetSocksServer(const std::string& value);
    const std::string& SocksPort() const { return socksPort_; }
    void SetSocksPort(const std::string& value);
    std::string SocksUsercode;
    std::string SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    // Where a SOCKS 5 proxy says it connected from.
    const std::string& BoundAddr() const { return boundAddr_; }
    const std::string& BoundPort() const { return boundPort_; }
    bool SocksNegotiating() const { return socksState_ != snNone; }

    std::function<void(TObject* sender, WORD error)> OnSocksConnected;
    std::function<void(TObject* sender, int error, const std::string& msg)> OnSocksError;
    std::function<void(TObject* sender, TSocksAuthState state)> OnSocksAuthState;

protected:
    void AssignDefaultValue() override;
    int WaitingCount() override;
    int DoRecv(char* buffer, int len, int flags) override;
    bool DoDataAvailable(WORD error) override;
    void DoSessionConnected(WORD error) override;
    void DoSessionClosed(WORD error) override;
    virtual void DoSocksConnected(WORD error);
    virtual void DoSocksError(int error, const std::string& msg);
    virtual void DoSocksAuthState(TSocksAuthState state);

private:
    bool Socks4() const { return socksLevel_ != "5"; }
    void SocksDoConnect();
    void SocksDoAuthenticate();
    void SocksEndWithError(int error, const std::string& msg);
    void SocksConsume(int count);
    int BehindCount() const { return static_cast<int>(socksBehind_.size() - socksBehindPos_); }

    std::string socksLevel_ = "5";
    std::string socksServer_;
    std::string socksPort_;
    int socksState_ = snNone;
    bool socksProxyUp_ = false;      // the TCP connection to the proxy was reported
    int socksMethod_ = 0;
    unsigned char socksReply_[kSocksReplyMax] = {};
    int socksRcvdCnt_ = 0;
    u_short socksTargetPort_ = 0;    // host order
    u_long socksTargetAddr_ = 0;     // level 4: resolved here, network order
    std::string boundAddr_, boundPort_;
    std::vector<char> socksBehind_;  // target bytes that came with the proxy's reply
    size_t socksBehindPos_ = 0;
};

} // namespace krv
