#include "net/NetSocket.h"
#include "framework/WindowClass.h"
#include <algorithm>
#include <cstring>

namespace krv {

const char* const kSocketWindowClass = "XSocketWindowClass";

namespace {
constexpr int kLookupBufferSize = MAXGETHOSTSTRUCT + 1;
}

// The hidden window: every message goes to the component behind it.
class TCustomNetSocket::TSocketWindow : public TWindow {
public:
    explicit TSocketWindow(TCustomNetSocket* owner) : owner_(owner) {
        RegisterWindowClass(kSocketWindowClass, 0);
        if (!CreateWindowHandle(kSocketWindowClass, "", WS_POPUP, WS_EX_TOOLWINDOW, 0, 0, 0, 0, nullptr))
            throw ESocketException("Cannot create a hidden window for TNetSocket");
    }
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        return owner_->WndProc(msg, wParam, lParam, result);
    }
private:
    TCustomNetSocket* owner_;
};

TCustomNetSocket::TCustomNetSocket(TComponent* owner) : TComponent(owner) {
    window_ = std::make_unique<TSocketWindow>(this);
    threadId_ = ::GetCurrentThreadId();
    AssignDefaultValue();
    ws::InstanceCreated();
}

TCustomNetSocket::~TCustomNetSocket() {
    destroying_ = true;
    // Nothing may escape a destructor; the events stay quiet while we go.
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    // The system may write a cancelled lookup's answer into its buffer at any
    // time, even while the process ends: with no window left to hear that
    // answer, the buffers are left to it for good (about 1 KB each).
    for (auto& cancelled : cancelledLookups_) static_cast<void>(cancelled.second.release());
    try {
        if (state_ != wsClosed) Close();
    } catch (...) {
    }
    // After an explicit unload the handle is already dead: only forget it.
    if (!ws::Loaded()) hSocket_.release();
    hSocket_.reset();
    bufList_.clear();
    window_.reset();
    // The last socket takes the class of the hidden windows with it.
    if (ws::InstanceCount() == 1) UnregisterWindowClass(kSocketWindowClass);
    ws::InstanceDestroyed();
}

HWND TCustomNetSocket::Handle() const { return window_ ? window_->Handle() : nullptr; }

void TCustomNetSocket::AssignDefaultValue() {
    std::memset(&sin_, 0, sizeof sin_);
    sin_.sin_family = AF_INET;
    addrResolved_ = portResolved_ = protoResolved_ = localPortResolved_ = false;
    addrAssigned_ = portAssigned_ = false;
    // Whole-string assignments: GCC 12 warns falsely on assigning short literals here.
    protoStr_ = std::string("tcp");
    protoAssigned_ = true;
    proto_ = IPPROTO_TCP;
    type_ = SOCK_STREAM;
    localPortStr_ = std::string("0");
    localAddr_ = std::string("0.0.0.0");
    localPortNum_ = 0;
    // Linger on with a time of 0 resets the connection at every close and
    // throws away what is still on its way (the end of a mail, QUIT): the
    // close lets the system deliver it.
    LingerOnOff = wsLingerOff;
    LingerTimeout = 0;
    hSocket_.release();
    selectEvent_ = 0;
    state_ = wsClosed;
    allSent_ = true;
    paused_ = false;
    closeInvoked_ = false;
    FlushTimeout = 60;
}

// ---- properties ------------------------------------------------------------

void TCustomNetSocket::SetAddr(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    std::string v = Trim(value);
    if (addrAssigned_ && v == addrStr_) return;
    addrStr_ = v;
    addrAssigned_ = true;
    addrResolved_ = false;
}

void TCustomNetSocket::SetPort(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    std::string v = Trim(value);
    if (portAssigned_ && v == portStr_) return;
    portStr_ = v;
    portAssigned_ = true;
    portResolved_ = false;
}

void TCustomNetSocket::SetProto(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    std::string v = Trim(value);
    if (protoAssigned_ && v == protoStr_) return;
    protoStr_ = v;
    protoAssigned_ = true;
    protoResolved_ = false;
    portResolved_ = false;   // a service name depends on the protocol
}

void TCustomNetSocket::SetLocalAddr(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    localAddr_ = Trim(value).empty() ? "0.0.0.0" : Trim(value);
}

void TCustomNetSocket::SetLocalPort(const std::string& value) {
    if (!IsClosed()) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    localPortStr_ = Trim(value);
    localPortResolved_ = false;
}

TSocketSendFlags TCustomNetSocket::SendFlags() const {
    if (sendFlags_ == 0) return wsSendNormal;
    if (sendFlags_ == MSG_OOB) return wsSendUrgent;
    throw ESocketException("Invalid internal SendFlags");
}

void TCustomNetSocket::SetSendFlags(int flags) {
    switch (flags) {
    case wsSendNormal: sendFlags_ = 0; break;
    case wsSendUrgent: sendFlags_ = MSG_OOB; break;
    default: RaiseException("Invalid SendFlags");
    }
}

// ---- errors ----------------------------------------------------------------

void TCustomNetSocket::RaiseException(const std::string& msg) {
    if (OnError) {
        DoError();
        return;
    }
    throw ESocketException(msg);
}

void TCustomNetSocket::SocketError(const std::string& function) {
    int error = ws::WSAGetLastError();
    std::string line = "Error " + IntToStr(error) + " in function " + function + "\r\n" + NetSocketErrorDesc(error);
    if (error == WSAECONNRESET || error == WSAENOTCONN) {
        // The connection is gone: close at once and say so, once.
        bool wasOpen = !IsClosed() || hSocket_;
        hSocket_.reset();
        if (wasOpen && !closeInvoked_ && !destroying_) {
            closeInvoked_ = true;
            DoSessionClosed(static_cast<WORD>(error));
        }
        if (state_ != wsClosed) ChangeState(wsClosed);
    }
    lastError_ = error;
    RaiseException(line);
}

void TCustomNetSocket::HandleBackgroundException(const std::exception& e) {
    bool canClose = true;
    try {
        DoBgException(e, canClose);
        if (canClose) Abort();
    } catch (...) {
        // A failure while recovering from a failure has nowhere left to go.
    }
}

// ---- window ----------------------------------------------------------------

bool TCustomNetSocket::WndProc(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    try {
        return DispatchSocketMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        HandleBackgroundException(e);
        return true;
    }
}

bool TCustomNetSocket::DispatchSocketMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ASYNCSELECT: HandleNetworkEvent(wParam, lParam); return true;
    case WM_ASYNCGETHOSTBYNAME:
    case WM_ASYNCGETHOSTBYADDR: HandleLookupDone(msg, wParam, lParam); return true;
    case WM_CLOSE_DELAYED: Close(); return true;
    case WM_NETSOCKET_RELEASE: delete this; return true;
    case WM_NETSOCKET_TEST_EXCEPTION: throw ESocketException("Test exception in NetSocket");
    default: return false;
    }
}

void TCustomNetSocket::WaitForMessage(DWORD ms) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void TCustomNetSocket::MessagePump() {
    if (!MultiThreaded) {
        if (!ProcessMessages()) terminated_ = true;
        return;
    }
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// ---- events ----------------------------------------------------------------

bool TCustomNetSocket::DoDataAvailable(WORD error) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, error);
    return true;
}
void TCustomNetSocket::DoSessionAvailable(WORD error) { if (OnSessionAvailable) OnSessionAvailable(this, error); }
void TCustomNetSocket::DoSessionConnected(WORD error) { if (OnSessionConnected) OnSessionConnected(this, error); }
void TCustomNetSocket::DoSessionClosed(WORD error) { if (OnSessionClosed) OnSessionClosed(this, error); }
void TCustomNetSocket::DoDataSent(WORD error) { if (OnDataSent) OnDataSent(this, error); }
void TCustomNetSocket::DoSendData(int bytesSent) { if (OnSendData) OnSendData(this, bytesSent); }
void TCustomNetSocket::DoChangeState(TSocketState o, TSocketState n) { if (OnChangeState) OnChangeState(this, o, n); }
void TCustomNetSocket::DoDnsLookupDone(WORD error) { if (OnDnsLookupDone) OnDnsLookupDone(this, error); }
void TCustomNetSocket::DoError() { if (OnError) OnError(this); }
void TCustomNetSocket::DoBgException(const std::exception& e, bool& canClose) {
    if (OnBgException) OnBgException(this, e, canClose);
}

void TCustomNetSocket::ChangeState(TSocketState newState) {
    TSocketState old = state_;
    state_ = newState;
    DoChangeState(old, newState);
}

// ---- network events ---------------------------------------------------------

void TCustomNetSocket::ConnectedEvent(WORD error) {
    ChangeState(wsConnected);
    DoSessionConnected(error);
    if (error && state_ != wsClosed) Close();
}

void TCustomNetSocket::HandleNetworkEvent(WPARAM wParam, LPARAM lParam) {
    if (static_cast<SOCKET>(wParam) != hSocket_.get() || !hSocket_ || paused_) return;
    WORD event = WSAGETSELECTEVENT(lParam);
    WORD error = WSAGETSELECTERROR(lParam);
    if (event & FD_CONNECT) {
        if (state_ != wsConnected) ConnectedEvent(error);
    } else if (event & FD_READ) {
        if (state_ != wsConnected) {
            ConnectedEvent(error);
            if (error) return;
        }
        ReadLoop(error, false);
    } else if (event & FD_WRITE) {
        TryToSend();
        if (allSent_ && hSocket_) DoDataSent(error);
    } else if (event & FD_ACCEPT) {
        DoSessionAvailable(error);
    } else if (event & FD_CLOSE) {
        if (state_ == wsConnecting) return;
        ReadLoop(0, true);
        if (!closeInvoked_) {
            closeInvoked_ = true;
            DoSessionClosed(error);
        }
        if (state_ != wsClosed) Close();
    }
}

void TCustomNetSocket::ReadLoop(WORD error, bool alwaysLoop) {
    int previous = -1;
    for (;;) {
        lastError_ = 0;
        if (!DoDataAvailable(error)) {
            // Nobody wants the bytes: read and drop them so the peer is not stalled.
            char scratch[1024];
            int n = DoRecv(scratch, sizeof scratch, 0);
            if (n <= 0) break;
        }
        if (!hSocket_) break;
        if ((ComponentOptions & wsoNoReceiveLoop) && !alwaysLoop) break;
        int waiting = WaitingCount();
        // A handler that reads nothing must not spin us forever.
        if (waiting <= 0 || lastError_ != 0 || waiting == previous) break;
        previous = waiting;
    }
}

// ---- send queue ----------------------------------------------------------------

void TCustomNetSocket::DeleteBufferedData() {
    bufList_.clear();
    allSent_ = true;
}

void TCustomNetSocket::PutDataInSendBuffer(const void* data, int len) {
    const char* p = static_cast<const char*>(data);
    if (len <= 0) return;
    allSent_ = false;
    if (!bufList_.empty()) {
        int n = bufList_.back()->Write(p, len);
        p += n;
        len -= n;
    }
    while (len > 0) {
        bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
        int n = bufList_.back()->Write(p, len);
        p += n;
        len -= n;
    }
}

int TCustomNetSocket::RealSend(const char* data, int len) {
    int n = type_ == SOCK_DGRAM
                ? ws::sendto(hSocket_.get(), data, len, sendFlags_, reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_)
                : ws::send(hSocket_.get(), data, len, sendFlags_);
    if (n > 0) DoSendData(n);
    return n;
}

void TCustomNetSocket::TryToSend() {
    if (!hSocket_ || bufList_.empty()) return;
    while (!bufList_.empty()) {
        int len = 0;
        const char* p = bufList_.front()->Peek(len);
        if (len <= 0) {
            // An empty block is freed unless it is the last: that one is reused.
            if (bufList_.size() > 1) {
                bufList_.pop_front();
                continue;
            }
            allSent_ = true;
            break;
        }
        int count = RealSend(p, len);
        if (count == 0) break;
        if (count == SOCKET_ERROR) {
            int error = ws::WSAGetLastError();
            if (error == WSAECONNRESET || error == WSAENOTSOCK || error == WSAENOTCONN || error == WSAEINVAL ||
                error == WSAECONNABORTED) {
                closeInvoked_ = true;
                Close();
                DoSessionClosed(static_cast<WORD>(error));
            } else if (error != WSAEWOULDBLOCK) {
                SocketError("TryToSend failed");
            }
            break;
        }
        // After a partial send keep going: only a send refused with
        // WSAEWOULDBLOCK makes Winsock announce the next FD_WRITE.
        bufList_.front()->Remove(count);
    }
}

int TCustomNetSocket::Send(const void* data, int len) {
    if (state_ != wsConnected) {
        ws::WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    if (len <= 0) return 0;
    PutDataInSendBuffer(data, len);
    TryToSend();
    // All gone at once: OnDataSent still comes, later, from the message loop.
    if (allSent_ && hSocket_)
        ::PostMessageA(Handle(), WM_ASYNCSELECT, static_cast<WPARAM>(hSocket_.get()), MAKELONG(FD_WRITE, 0));
    return len;
}

int TCustomNetSocket::SendStr(const std::string& s) {
    return s.empty() ? 0 : Send(s.data(), static_cast<int>(s.size()));
}

int TCustomNetSocket::SendTo(const sockaddr_in& dest, const void* data, int len) {
    int n = ws::sendto(hSocket_.get(), static_cast<const char*>(data), len, sendFlags_,
                       reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    if (n > 0) DoSendData(n);
    return n;
}

void TCustomNetSocket::Flush() {
    DWORD start = ::GetTickCount();
    while (hSocket_ && !allSent_) {
        TryToSend();
        if (allSent_ || !hSocket_) break;
        if (FlushTimeout > 0 && ::GetTickCount() - start >= static_cast<DWORD>(FlushTimeout) * 1000) break;
        WaitForMessage(100);
        MessagePump();
    }
}

void TCustomNetSocket::WaitForClose() {
    while (hSocket_ && state_ != wsClosed) {
        MessagePump();
        if (!hSocket_ || terminated_) break;
        u_long waiting = 0;
        if (ws::ioctlsocket(hSocket_.get(), FIONREAD, &waiting) == SOCKET_ERROR) break;
        if (waiting > 0) DoDataAvailable(0);
        if (!hSocket_) break;
        char c;
        if (ws::recv(hSocket_.get(), &c, 0, 0) == SOCKET_ERROR && ws::WSAGetLastError() != WSAEWOULDBLOCK) break;
        WaitForMessage(100);
    }
}

// ---- receive -------------------------------------------------------------------

int TCustomNetSocket::DoRecv(char* buffer, int len, int flags) {
    if (!hSocket_) {
        ws::WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    return ws::recv(hSocket_.get(), buffer, len, flags);
}

int TCustomNetSocket::DoRecvFrom(char* buffer, int len, int flags, sockaddr* from, int* fromLen) {
    return ws::recvfrom(hSocket_.get(), buffer, len, flags, from, fromLen);
}

int TCustomNetSocket::Receive(void* buffer, int len) {
    int n = DoRecv(static_cast<char*>(buffer), len, 0);
    if (n < 0) {
        lastError_ = ws::WSAGetLastError();
        return -1;
    }
    readCount_ += n;
    return n;
}

std::string TCustomNetSocket::ReceiveStr() {
    int n = RcvdCount();
    if (n < 0) return {};
    if (n == 0) n = 255;
    std::string s(static_cast<size_t>(n), '\0');
    int got = Receive(s.data(), n);
    if (got <= 0) return {};
    s.resize(static_cast<size_t>(got));
    return s;
}

int TCustomNetSocket::ReceiveFrom(void* buffer, int len, sockaddr_in& from, int& fromLen) {
    fromLen = sizeof from;
    int n = DoRecvFrom(static_cast<char*>(buffer), len, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
        lastError_ = ws::WSAGetLastError();
        return -1;
    }
    readCount_ += n;
    return n;
}

int TCustomNetSocket::WaitingCount() {
    if (!hSocket_) return -1;
    u_long n = 0;
    if (ws::ioctlsocket(hSocket_.get(), FIONREAD, &n) == SOCKET_ERROR) {
        SocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(n);
}

int TCustomNetSocket::RcvdCount() {
    if (!hSocket_) {
        ws::WSASetLastError(WSAENOTSOCK);
        SocketError("ioctlSocket");
        return -1;
    }
    return WaitingCount();
}

// ---- connect and close -------------------------------------------------------------

void TCustomNetSocket::SetLingerOption() {
    if (LingerOnOff == wsLingerNoSet) return;
    if (!hSocket_) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    linger li;
    li.l_onoff = static_cast<u_short>(LingerOnOff == wsLingerOn ? 1 : 0);
    li.l_linger = static_cast<u_short>(LingerTimeout);
    if (ws::setsockopt(hSocket_.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&li), sizeof li) != 0)
        SocketError("setsockopt(SO_LINGER)");
}

void TCustomNetSocket::BindSocket() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = localPortNum_;
    local.sin_addr.s_addr = NetSocketResolveHost(localAddr_);
    if (ws::bind(hSocket_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        RaiseException(Format("winsock.bind failed, error #%d", ws::WSAGetLastError()));
        return;
    }
    int len = sizeof local;
    if (ws::getsockname(hSocket_.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        RaiseException(Format("winsock.getsockname failed, error #%d", ws::WSAGetLastError()));
        return;
    }
    localPortNum_ = local.sin_port;
    localPortStr_ = IntToStr(ws::ntohs(local.sin_port));
}

void TCustomNetSocket::ResolveTarget(bool listening) {
    if (!protoResolved_) {
        proto_ = NetSocketResolveProto(protoStr_);
        // A listener knows only datagram and stream sockets.
        if (proto_ == IPPROTO_UDP) type_ = SOCK_DGRAM;
        else type_ = proto_ == IPPROTO_TCP || listening ? SOCK_STREAM : SOCK_RAW;
        protoResolved_ = true;
    }
    if (!portResolved_) {
        sin_.sin_port = ws::htons(NetSocketResolvePort(portStr_, protoStr_));
        portResolved_ = true;
    }
    if (!listening && !localPortResolved_) {
        localPortNum_ = ws::htons(NetSocketResolvePort(localPortStr_, protoStr_));
        localPortResolved_ = true;
    }
    if (!addrResolved_) {
        sin_.sin_addr.s_addr = NetSocketResolveHost(addrStr_);
        addrResolved_ = true;
    }
}

void TCustomNetSocket::Connect() {
    if (hSocket_ && state_ != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!protoAssigned_) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    try {
        ResolveTarget(false);
    } catch (const ESocketException& e) {
        RaiseException("connect: " + e.Message());
        return;
    }
    DeleteBufferedData();
    // A connection lost through the error path keeps its target, and with it
    // the flag that its close was reported: each new session reports its own
    // (Listen and Dup start one too).
    closeInvoked_ = false;

    hSocket_.reset(ws::socket(PF_INET, type_, proto_));
    if (!hSocket_) {
        SocketError("Connect (socket)");
        return;
    }
    ChangeState(wsOpened);
    if (state_ != wsOpened) {
        ws::WSASetLastError(WSAEINVAL);
        SocketError("Connect (Invalid operation in OnChangeState)");
        return;
    }
    const BOOL on = TRUE;
    const char* onArg = reinterpret_cast<const char*>(&on);
    if (type_ == SOCK_STREAM) {
        if (ws::setsockopt(hSocket_.get(), SOL_SOCKET, SO_REUSEADDR, onArg, sizeof on) != 0) {
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
        if ((ComponentOptions & wsoTcpNoDelay) &&
            ws::setsockopt(hSocket_.get(), IPPROTO_TCP, TCP_NODELAY, onArg, sizeof on) != 0) {
            SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
            return;
        }
        SetLingerOption();
        if (ws::setsockopt(hSocket_.get(), SOL_SOCKET, SO_KEEPALIVE, onArg, sizeof on) != 0) {
            SocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (ws::ntohs(localPortNum_) != 0 || localAddr_ != "0.0.0.0") BindSocket();
    } else {
        BindSocket();
        if (MultiCast) {
            if (MultiCastIpTTL != 1) {
                int ttl = MultiCastIpTTL;
                if (ws::setsockopt(hSocket_.get(), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl),
                                   sizeof ttl) != 0) {
                    SocketError("setsockopt(IP_MULTICAST_TTL)");
                    return;
                }
            }
            if (localAddr_ != "0.0.0.0") {
                in_addr iface;
                iface.s_addr = NetSocketResolveHost(localAddr_);
                if (ws::setsockopt(hSocket_.get(), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&iface),
                                   sizeof iface) != 0) {
                    SocketError("setsockopt(IP_MULTICAST_IF)");
                    return;
                }
            }
        }
        if (sin_.sin_addr.s_addr == INADDR_BROADCAST &&
            ws::setsockopt(hSocket_.get(), SOL_SOCKET, SO_BROADCAST, onArg, sizeof on) != 0) {
            SocketError("setsockopt(SO_BROADCAST)");
            return;
        }
    }
    selectEvent_ = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    if (ws::WSAAsyncSelect(hSocket_.get(), Handle(), WM_ASYNCSELECT, selectEvent_) != 0) {
        SocketError("WSAAsyncSelect");
        return;
    }
    if (type_ == SOCK_STREAM) {
        if (ws::connect(hSocket_.get(), reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_) == 0 ||
            ws::WSAGetLastError() == WSAEWOULDBLOCK) {
            ChangeState(wsConnecting);
        } else {
            lastError_ = ws::WSAGetLastError();
            SocketError("Connect");
        }
    } else {
        ChangeState(wsConnected);
        DoSessionConnected(0);
    }
}

void TCustomNetSocket::InternalClose(bool shut, WORD error) {
    if (!hSocket_) {
        if (state_ != wsClosed) ChangeState(wsClosed);
        AssignDefaultValue();
        return;
    }
    if (state_ == wsClosed) {
        // A handle left over in the closed state is still ours to free.
        hSocket_.reset();
        return;
    }
    if (shut) ws::shutdown(hSocket_.get(), 1);
    for (;;) {
        if (hSocket_.TryClose() == 0) break;
        int e = ws::WSAGetLastError();
        if (e == WSAEWOULDBLOCK) {
            MessagePump();
            continue;
        }
        hSocket_.release();
        if (e != WSANOTINITIALISED) SocketError("Disconnect (closesocket)");
        break;
    }
    hSocket_.release();
    if (state_ != wsClosed) ChangeState(wsClosed);
    if (!destroying_ && !closeInvoked_) {
        closeInvoked_ = true;
        DoSessionClosed(error);
    }
    // The handler may already have started the next connection: leave that one alone.
    if (!hSocket_) AssignDefaultValue();
}

void TCustomNetSocket::Close() { InternalClose(true, 0); }

void TCustomNetSocket::CloseDelayed() { ::PostMessageA(Handle(), WM_CLOSE_DELAYED, 0, 0); }

void TCustomNetSocket::Release() { ::PostMessageA(Handle(), WM_NETSOCKET_RELEASE, 0, 0); }

void TCustomNetSocket::Abort() {
    CancelDnsLookup();
    DeleteBufferedData();
    if (state_ == wsConnected && type_ == SOCK_STREAM && hSocket_) {
        // A hard reset: nothing more goes out.
        LingerOnOff = wsLingerOn;
        LingerTimeout = 0;
        try {
            SetLingerOption();
        } catch (const ESocketException&) {
            // The socket is dropped either way.
        }
    }
    InternalClose(false, 0);
}

void TCustomNetSocket::Shutdown(int how) {
    if (hSocket_) ws::shutdown(hSocket_.get(), how);
}

void TCustomNetSocket::Pause() {
    paused_ = true;
    if (hSocket_) ws::WSAAsyncSelect(hSocket_.get(), Handle(), 0, 0);
}

void TCustomNetSocket::Resume() {
    paused_ = false;
    if (hSocket_) ws::WSAAsyncSelect(hSocket_.get(), Handle(), WM_ASYNCSELECT, selectEvent_);
}

// ---- names ---------------------------------------------------------------------------

void TCustomNetSocket::DnsLookup(const std::string& hostName) {
    if (hostName.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        DoDnsLookupDone(WSAEINVAL);
        return;
    }
    CancelDnsLookup();
    dnsResult_.clear();
    dnsResultList_.Clear();
    if (NetSocketIsDottedAddress(hostName)) {
        in_addr a;
        a.s_addr = ws::inet_addr(Trim(hostName).c_str());
        if (a.s_addr != INADDR_NONE || Trim(hostName) == "255.255.255.255") {
            dnsResult_ = ws::inet_ntoa(a);
            dnsResultList_.Add(dnsResult_);
            DoDnsLookupDone(0);
            return;
        }
    }
    if (!Handle()) {
        RaiseException("DnsLookup: Window not assigned");
        return;
    }
    dnsLookupCheckMsg_ = false;
    dnsLookupBuffer_ = std::make_unique<char[]>(kLookupBufferSize);
    dnsLookupHandle_ = ws::WSAAsyncGetHostByName(Handle(), WM_ASYNCGETHOSTBYNAME, hostName.c_str(),
                                                 dnsLookupBuffer_.get(), kLookupBufferSize);
    if (!dnsLookupHandle_) {
        RaiseException(Format("%s: can't start DNS lookup, error #%d", hostName.c_str(), ws::WSAGetLastError()));
        return;
    }
    if (dnsLookupCheckMsg_) {
        dnsLookupCheckMsg_ = false;
        HandleLookupDone(dnsLookupEarlyMsg_.message, dnsLookupEarlyMsg_.wParam, dnsLookupEarlyMsg_.lParam);
    }
}

void TCustomNetSocket::ReverseDnsLookup(const std::string& hostAddr) {
    if (hostAddr.empty() || hostAddr.size() > 256) {
        RaiseException("ReverseDnsLookup: Invalid host name.");
        DoDnsLookupDone(WSAEINVAL);
        return;
    }
    CancelDnsLookup();
    dnsResult_.clear();
    dnsResultList_.Clear();
    u_long addr = ws::inet_addr(hostAddr.c_str());
    if (!Handle()) {
        RaiseException("ReverseDnsLookup: Window not assigned");
        return;
    }
    dnsLookupCheckMsg_ = false;
    dnsLookupBuffer_ = std::make_unique<char[]>(kLookupBufferSize);
    dnsLookupHandle_ = ws::WSAAsyncGetHostByAddr(Handle(), WM_ASYNCGETHOSTBYADDR, reinterpret_cast<const char*>(&addr),
                                                 4, AF_INET, dnsLookupBuffer_.get(), kLookupBufferSize);
    if (!dnsLookupHandle_) {
        RaiseException(Format("%s: can't start DNS lookup, error #%d", hostAddr.c_str(), ws::WSAGetLastError()));
        return;
    }
    if (dnsLookupCheckMsg_) {
        dnsLookupCheckMsg_ = false;
        HandleLookupDone(dnsLookupEarlyMsg_.message, dnsLookupEarlyMsg_.wParam, dnsLookupEarlyMsg_.lParam);
    }
}

void TCustomNetSocket::HandleLookupDone(UINT msg, WPARAM wParam, LPARAM lParam) {
    const HANDLE answered = reinterpret_cast<HANDLE>(wParam);
    auto cancelled = std::find_if(cancelledLookups_.begin(), cancelledLookups_.end(),
                                  [answered](const auto& c) { return c.first == answered; });
    if (cancelled != cancelledLookups_.end()) {
        // A cancelled lookup has answered after all: it is done with its buffer.
        cancelledLookups_.erase(cancelled);
        return;
    }
    if (!dnsLookupHandle_) {
        // The answer came before the request call returned its handle.
        dnsLookupEarlyMsg_.message = msg;
        dnsLookupEarlyMsg_.wParam = wParam;
        dnsLookupEarlyMsg_.lParam = lParam;
        dnsLookupCheckMsg_ = true;
        return;
    }
    if (answered != dnsLookupHandle_) return;
    dnsLookupHandle_ = nullptr;
    const std::unique_ptr<char[]> buffer = std::move(dnsLookupBuffer_);
    WORD error = WSAGETASYNCERROR(lParam);
    if (error == 0) {
        const hostent* he = reinterpret_cast<const hostent*>(buffer.get());
        if (msg == WM_ASYNCGETHOSTBYNAME) {
            for (int i = 0; he->h_addr_list && he->h_addr_list[i]; ++i) {
                in_addr a;
                std::memcpy(&a, he->h_addr_list[i], 4);
                dnsResultList_.Add(ws::inet_ntoa(a));
            }
            if (dnsResultList_.Count() > 0) dnsResult_ = dnsResultList_[0];
        } else if (he->h_name) {
            dnsResult_ = he->h_name;
            dnsResultList_.Add(dnsResult_);
        }
    }
    DoDnsLookupDone(error);
}

void TCustomNetSocket::CancelDnsLookup() {
    if (!dnsLookupHandle_) return;
    // Some systems go on with a lookup they report cancelled, and a refused
    // cancel has its answer on the way: the buffer waits for that answer.
    cancelledLookups_.emplace_back(dnsLookupHandle_, std::move(dnsLookupBuffer_));
    if (ws::WSACancelAsyncRequest(dnsLookupHandle_) != 0) {
        dnsLookupHandle_ = nullptr;
        SocketError("WSACancelAsyncRequest");
        return;
    }
    dnsLookupHandle_ = nullptr;
    if (!destroying_) DoDnsLookupDone(WSAEINTR);
}

std::string TCustomNetSocket::GetPeerAddr() {
    if (state_ != wsConnected) return "error";
    sockaddr_in peer{};
    int len = sizeof peer;
    if (ws::getpeername(hSocket_.get(), reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
        SocketError("GetPeerName");
        return "error";
    }
    return ws::inet_ntoa(peer.sin_addr);
}

std::string TCustomNetSocket::GetPeerPort() {
    if (state_ != wsConnected) return "error";
    sockaddr_in peer{};
    int len = sizeof peer;
    if (ws::getpeername(hSocket_.get(), reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
        SocketError("GetPeerPort");
        return "error";
    }
    return IntToStr(ws::ntohs(peer.sin_port));
}

std::string TCustomNetSocket::GetXPort() {
    if (state_ != wsConnecting && state_ != wsConnected && state_ != wsListening) return "error";
    sockaddr_in local{};
    int len = sizeof local;
    if (ws::getsockname(hSocket_.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) return "error";
    return IntToStr(ws::ntohs(local.sin_port));
}

std::string TCustomNetSocket::GetXAddr() {
    if (state_ != wsConnecting && state_ != wsConnected && state_ != wsListening) return "error";
    sockaddr_in local{};
    int len = sizeof local;
    if (ws::getsockname(hSocket_.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) return "error";
    return ws::inet_ntoa(local.sin_addr);
}

} // namespace krv
