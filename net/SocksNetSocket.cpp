#include "net/SocksNetSocket.h"
#include <algorithm>
#include <cstring>

namespace krv {

void TCustomSocksNetSocket::AssignDefaultValue() {
    TCustomNetSocket::AssignDefaultValue();
    socksState_ = snNone;
    socksServer_.clear();
    socksPort_.clear();
    socksLevel_ = std::string("5");
    socksBehind_.clear();
    socksBehindPos_ = 0;
    socksRcvdCnt_ = 0;
}

void TCustomSocksNetSocket::SetSocksLevel(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Can't change socks level if not closed");
        return;
    }
    std::string v = AnsiUpperCase(Trim(value));
    if (v != "4" && v != "4A" && v != "5") {
        RaiseException("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    socksLevel_ = v;
}

void TCustomSocksNetSocket::SetSocksServer(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Can't change socks server if not closed");
        return;
    }
    socksServer_ = Trim(value);
}

void TCustomSocksNetSocket::SetSocksPort(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Can't change socks port if not closed");
        return;
    }
    socksPort_ = Trim(value);
}

void TCustomSocksNetSocket::Connect() {
    // Without a proxy, or when the base will refuse anyway, the base decides.
    if (socksServer_.empty() || (hSocket_ && state_ != wsClosed) || !portAssigned_ ||
        !addrAssigned_) {
        TCustomNetSocket::Connect();
        return;
    }
    if (AnsiLowerCase(protoStr_) != "tcp") {
        RaiseException("tcp is the only protocol supported thru socks server");
        return;
    }
    // Lengths go out as single bytes: refuse what would not fit rather than cut it.
    if (addrStr_.size() > 255 || SocksUsercode.size() > 255 || SocksPassword.size() > 255) {
        RaiseException("connect: socks host name, usercode or password longer than 255 characters");
        return;
    }
    try {
        sin_.sin_addr.s_addr = NetSocketResolveHost(socksServer_);
        sin_.sin_port = ws::htons(NetSocketResolvePort(socksPort_, "tcp"));
        socksTargetPort_ = NetSocketResolvePort(portStr_, "tcp");
        if (socksLevel_ == "4") socksTargetAddr_ = NetSocketResolveHost(addrStr_);
    } catch (const ESocketException& e) {
        RaiseException("connect: " + e.Message());
        return;
    }
    addrResolved_ = portResolved_ = true;
    socksState_ = snWaitMethod;
    socksProxyUp_ = false;
    socksRcvdCnt_ = 0;
    socksBehind_.clear();
    socksBehindPos_ = 0;
    boundAddr_.clear();
    boundPort_.clear();
    TCustomNetSocket::Connect();
}

void TCustomSocksNetSocket::Listen() {
    if (!socksServer_.empty()) {
        RaiseException("Listening is not supported thru socks server");
        return;
    }
    TCustomNetSocket::Listen();
}

void TCustomSocksNetSocket::DoSocksConnected(WORD error) { if (OnSocksConnected) OnSocksConnected(this, error); }
void TCustomSocksNetSocket::DoSocksError(int error, const std::string& msg) {
    if (OnSocksError) OnSocksError(this, error, msg);
}
void TCustomSocksNetSocket::DoSocksAuthState(TSocksAuthState state) {
    if (OnSocksAuthState) OnSocksAuthState(this, state);
}

void TCustomSocksNetSocket::DoSessionConnected(WORD error) {
    if (socksState_ != snWaitMethod || socksProxyUp_) {
        TCustomNetSocket::DoSessionConnected(error);
        return;
    }
    // Connected to the proxy: the user hears of it only once the target is reached.
    socksProxyUp_ = true;
    DoSocksConnected(error);
    if (error) {
        socksState_ = snNone;
        TCustomNetSocket::DoSessionConnected(error);
        return;
    }
    if (Socks4()) {
        SocksDoConnect();
        return;
    }
    socksMethod_ = SocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
    const char greeting[3] = {5, 1, static_cast<char>(socksMethod_)};
    Send(greeting, sizeof greeting);
}

void TCustomSocksNetSocket::SocksDoConnect() {
    socksState_ = snWaitConnect;
    std::string req;
    const char portHi = static_cast<char>(socksTargetPort_ >> 8), portLo = static_cast<char>(socksTargetPort_ & 0xFF);
    if (!Socks4()) {
        // The proxy resolves the name.
        req = {5, 1, 0, 3, static_cast<char>(addrStr_.size())};
        req += addrStr_;
        req += portHi;
        req += portLo;
    } else {
        req = {4, 1, portHi, portLo};
        if (socksLevel_ == "4A")
            req += std::string("\0\0\0\1", 4);
        else
            req.append(reinterpret_cast<const char*>(&socksTargetAddr_), 4);
        req += SocksUsercode;
        req += '\0';
        if (socksLevel_ == "4A") {
            req += addrStr_;
            req += '\0';
        }
    }
    SendStr(req);
}

void TCustomSocksNetSocket::SocksDoAuthenticate() {
    socksState_ = snAuthenticating;
    DoSocksAuthState(socksAuthStart);
    std::string req;
    req += '\1';
    req += static_cast<char>(SocksUsercode.size());
    req += SocksUsercode;
    req += static_cast<char>(SocksPassword.size());
    req += SocksPassword;
    SendStr(req);
}

void TCustomSocksNetSocket::SocksEndWithError(int error, const std::string& msg) {
    DoSocksError(error, msg);
    socksState_ = snNone;
    DoSessionConnected(static_cast<WORD>(error));
    InternalClose(true, static_cast<WORD>(error));
}

void TCustomSocksNetSocket::SocksConsume(int count) {
    count = std::min(count, socksRcvdCnt_);
    std::memmove(socksReply_, socksReply_ + count, static_cast<size_t>(socksRcvdCnt_ - count));
    socksRcvdCnt_ -= count;
}

bool TCustomSocksNetSocket::DoDataAvailable(WORD error) {
    if (socksState_ == snNone) return TCustomNetSocket::DoDataAvailable(error);
    if (error) {
        SocksEndWithError(error, "data receive error");
        return true;
    }
    int room = kSocksReplyMax - socksRcvdCnt_;
    if (room <= 0) {
        SocksEndWithError(20013, "internal error");
        return true;
    }
    // Never more than the reply buffer can hold; the rest stays in the socket.
    int n = TCustomNetSocket::DoRecv(reinterpret_cast<char*>(socksReply_) + socksRcvdCnt_, room, 0);
    if (n < 0) {
        int e = ws::WSAGetLastError();
        if (e != WSAEWOULDBLOCK) SocksEndWithError(e, "data receive error");
        return true;
    }
    if (n == 0) return true;
    socksRcvdCnt_ += n;

    TSocksReply reply = ParseSocksReply(socksState_, Socks4(), socksMethod_ == 2, socksReply_, socksRcvdCnt_);
    switch (reply.Kind) {
    case srNeedMore: break;
    case srError:
        // A refused login is a failed authentication as much as a dropped
        // one; level 4's refusal (code 93) follows no login of ours.
        if (reply.Error == 20015 && socksState_ == snAuthenticating) DoSocksAuthState(socksAuthFailure);
        SocksEndWithError(reply.Error, reply.Text);
        break;
    case srMethodNoAuth:
        SocksConsume(reply.Consumed);
        if (socksMethod_ == 2) DoSocksAuthState(socksAuthNotRequired);
        SocksDoConnect();
        break;
    case srMethodUserPass:
        SocksConsume(reply.Consumed);
        SocksDoAuthenticate();
        break;
    case srAuthSuccess:
        SocksConsume(reply.Consumed);
        DoSocksAuthState(socksAuthSuccess);
        SocksDoConnect();
        break;
    case srGranted: {
        boundAddr_ = reply.BoundAddr;
        boundPort_ = reply.BoundPort;
        socksBehind_.assign(socksReply_ + reply.Consumed, socksReply_ + socksRcvdCnt_);
        socksBehindPos_ = 0;
        socksRcvdCnt_ = 0;
        socksState_ = snNone;
        DoSessionConnected(0);
        // Target bytes that came with the reply go to the user first.
        if (BehindCount() > 0 && hSocket_) DoDataAvailable(0);
        break;
    }
    }
    return true;
}

void TCustomSocksNetSocket::DoSessionClosed(WORD error) {
    if (socksState_ == snAuthenticating) DoSocksAuthState(socksAuthFailure);
    socksState_ = snNone;
    TCustomNetSocket::DoSessionClosed(error);
}

int TCustomSocksNetSocket::WaitingCount() {
    int behind = BehindCount();
    int n = TCustomNetSocket::WaitingCount();
    if (behind > 0) return behind + std::max(n, 0);
    return n;
}

int TCustomSocksNetSocket::DoRecv(char* buffer, int len, int flags) {
    int behind = BehindCount();
    if (behind > 0 && len > 0) {
        int n = std::min(len, behind);
        std::memcpy(buffer, socksBehind_.data() + socksBehindPos_, static_cast<size_t>(n));
        socksBehindPos_ += static_cast<size_t>(n);
        if (BehindCount() == 0) {
            socksBehind_.clear();
            socksBehindPos_ = 0;
        }
        return n;
    }
    return TCustomNetSocket::DoRecv(buffer, len, flags);
}

} // namespace krv
