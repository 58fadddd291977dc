// The listening side of the socket component: bind and listen, take a
// connection, and adopt an accepted socket.
#include "net/NetSocket.h"

namespace krv {

void TCustomNetSocket::Listen() {
    if (!portAssigned_) {
        ws::WSASetLastError(WSAEINVAL);
        SocketError("listen: port not assigned");
        return;
    }
    if (!protoAssigned_) {
        ws::WSASetLastError(WSAEINVAL);
        SocketError("listen: protocol not assigned");
        return;
    }
    if (!addrAssigned_) {
        ws::WSASetLastError(WSAEINVAL);
        SocketError("listen: address not assigned");
        return;
    }
    try {
        ResolveTarget(true);
    } catch (const ESocketException& e) {
        RaiseException(e.Message());
        return;
    }
    DeleteBufferedData();
    closeInvoked_ = false;   // a new session, as in Connect
    hSocket_.reset(ws::socket(PF_INET, type_, proto_));
    if (!hSocket_) {
        SocketError("socket");
        return;
    }
    if (type_ == SOCK_DGRAM && ReuseAddr) {
        const BOOL on = TRUE;
        if (ws::setsockopt(hSocket_.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
    }
    if (ws::bind(hSocket_.get(), reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_) != 0) {
        int error = ws::WSAGetLastError();
        hSocket_.reset();
        ws::WSASetLastError(error);
        SocketError("Bind");
        return;
    }
    ChangeState(wsBound);
    if (type_ == SOCK_DGRAM) {
        if (MultiCast) {
            ip_mreq mreq;
            mreq.imr_multiaddr.s_addr = ws::inet_addr(MultiCastAddrStr.c_str());
            mreq.imr_interface.s_addr = ws::inet_addr(addrStr_.c_str());
            if (ws::setsockopt(hSocket_.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&mreq),
                               sizeof mreq) != 0) {
                SocketError("setsockopt(IP MULTICAST)");
                return;
            }
        }
        ChangeState(wsListening);
        ChangeState(wsConnected);
        DoSessionConnected(0);
    } else if (type_ == SOCK_STREAM) {
        if (ws::listen(hSocket_.get(), 5) != 0) {
            SocketError("Listen");
            return;
        }
        ChangeState(wsListening);
    } else {
        SocketError("Listen: unexpected protocol.");
        return;
    }
    selectEvent_ = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
    if (ws::WSAAsyncSelect(hSocket_.get(), Handle(), WM_ASYNCSELECT, selectEvent_) != 0) SocketError("WSAASyncSelect");
}

SOCKET TCustomNetSocket::Accept() {
    if (state_ != wsListening) {
        ws::WSASetLastError(WSAEINVAL);
        SocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    sockaddr_in from{};
    int len = sizeof from;
    SOCKET s = ws::accept(hSocket_.get(), reinterpret_cast<sockaddr*>(&from), &len);
    if (s == INVALID_SOCKET) {
        SocketError("Accept");
        return INVALID_SOCKET;
    }
    return s;
}

void TCustomNetSocket::Dup(SOCKET newHSocket) {
    if (newHSocket == 0 || newHSocket == INVALID_SOCKET) {
        ws::WSASetLastError(WSAEINVAL);
        SocketError("Dup");
        return;
    }
    if (hSocket_) {
        if (hSocket_.TryClose() != 0) {
            SocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
    }
    hSocket_.reset(newHSocket);
    closeInvoked_ = false;   // a new session, as in Connect
    SetLingerOption();
    selectEvent_ = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
    if (ws::WSAAsyncSelect(hSocket_.get(), Handle(), WM_ASYNCSELECT, selectEvent_) != 0) {
        SocketError("WSAAsyncSelect");
        return;
    }
    ChangeState(wsConnected);
}

} // namespace krv
