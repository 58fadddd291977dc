// The event-driven socket component. Every socket owns a hidden window:
// Winsock reports network events and finished name lookups to it as
// messages, and the window procedure turns them into On... events. Nothing
// blocks: connect, lookup and send return at once and finish through events.
// Sending goes through a queue of blocks, so Send never fails for lack of room.
//
// Class chain: TCustomNetSocket -> TCustomSocksNetSocket -> TCustomLineNetSocket
// -> TCustomSyncNetSocket -> TNetSocket.
#pragma once
#include "framework/Classes.h"
#include "framework/Strings.h"
#include "framework/Window.h"
#include "net/NetSockBuf.h"
#include "net/WinsockApi.h"
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace krv {

enum TSocketState { wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TNetSocketOption : unsigned { wsoNoReceiveLoop = 1u << 0, wsoTcpNoDelay = 1u << 1 };
using TNetSocketOptions = unsigned;

// Messages of a socket's hidden window.
constexpr UINT WM_ASYNCSELECT = WM_USER + 1;
constexpr UINT WM_ASYNCGETHOSTBYNAME = WM_USER + 2;
constexpr UINT WM_ASYNCGETHOSTBYADDR = WM_USER + 3;
constexpr UINT WM_CLOSE_DELAYED = WM_USER + 4;
constexpr UINT WM_NETSOCKET_RELEASE = WM_USER + 5;
constexpr UINT WM_NETSOCKET_TEST_EXCEPTION = WM_USER + 6;   // raises, to try the background handler
constexpr UINT WM_TRIGGER_DATA_AVAILABLE = WM_USER + 20;

// The hidden window's class.
extern const char* const kSocketWindowClass;

// Text of a Winsock error code ("Not a WinSock error" for anything else).
std::string NetSocketErrorDesc(int error);
// Name resolution; each raises ESocketException with its own text.
u_long NetSocketResolveHost(const std::string& host);                        // network order
u_short NetSocketResolvePort(const std::string& port, const std::string& proto);  // host order
int NetSocketResolveProto(const std::string& proto);
// Digits and dots only, at most three dots, groups up to 255, blanks around.
bool NetSocketIsDottedAddress(const std::string& s);

class TCustomNetSocket : public TComponent {
public:
    explicit TCustomNetSocket(TComponent* owner = nullptr);
    ~TCustomNetSocket() override;

    // Connection
    virtual void Connect();
    virtual void Close();
    virtual void CloseDelayed();   // Close from the message loop
    virtual void Release();        // delete from the message loop
    virtual void Abort();
    virtual void Flush();
    virtual void WaitForClose();
    virtual void Listen();
    virtual SOCKET Accept();
    virtual void Dup(SOCKET newHSocket);
    virtual void Shutdown(int how);
    virtual void Pause();
    virtual void Resume();
    virtual void MessagePump();

    // Data
    virtual int Receive(void* buffer, int len);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* buffer, int len, sockaddr_in& from, int& fromLen);
    virtual int Send(const void* data, int len);
    virtual int SendTo(const sockaddr_in& dest, const void* data, int len);
    virtual int SendStr(const std::string& s);

    // Names
    virtual void DnsLookup(const std::string& hostName);
    virtual void ReverseDnsLookup(const std::string& hostAddr);
    virtual void CancelDnsLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual std::string GetXPort();   // the local port actually bound
    virtual std::string GetXAddr();   // the local address actually bound

    // Properties; the address, port and protocol setters only work when closed.
    const std::string& Addr() const { return addrStr_; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return portStr_; }
    virtual void SetPort(const std::string& value);
    const std::string& Proto() const { return protoStr_; }
    virtual void SetProto(const std::string& value);
    const std::string& LocalAddr() const { return localAddr_; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalPort() const { return localPortStr_; }
    void SetLocalPort(const std::string& value);
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    const std::string& DnsResult() const { return dnsResult_; }
    const TStringList& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    int64_t ReadCount() const { return readCount_; }
    // Bytes waiting to be read.
    virtual int RcvdCount();
    int LastError() const { return lastError_; }
    TSocketSendFlags SendFlags() const;
    void SetSendFlags(int flags);
    SOCKET HSocket() const { return hSocket_.get(); }
    HWND Handle() const;
    bool AllSent() const { return allSent_; }
    bool Paused() const { return paused_; }

    bool MultiThreaded = false;
    bool MultiCast = false;
    std::string MultiCastAddrStr;
    int MultiCastIpTTL = 1;
    bool ReuseAddr = false;
    TNetSocketOptions ComponentOptions = 0;
    int FlushTimeout = 60;   // seconds
    TSocketLingerOnOff LingerOnOff = wsLingerOff;
    int LingerTimeout = 0;   // seconds

    // Events (each error is a Winsock error code, 0 for none).
    std::function<void(TObject* sender, WORD error)> OnDataAvailable;
    std::function<void(TObject* sender, WORD error)> OnDataSent;
    std::function<void(TObject* sender, WORD error)> OnSessionClosed;
    std::function<void(TObject* sender, WORD error)> OnSessionAvailable;
    std::function<void(TObject* sender, WORD error)> OnSessionConnected;
    std::function<void(TObject* sender, WORD error)> OnDnsLookupDone;
    std::function<void(TObject* sender, int bytesSent)> OnSendData;
    std::function<void(TObject* sender, TSocketState oldState, TSocketState newState)> OnChangeState;
    // When assigned, failures fire this instead of raising ESocketException.
    std::function<void(TObject* sender)> OnError;
    std::function<void(TObject* sender, const std::exception& e, bool& canClose)> OnBgException;

protected:
    // Messages of the hidden window; answers whether the message was handled.
    virtual bool DispatchSocketMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    virtual void AssignDefaultValue();
    virtual void InternalClose(bool shut, WORD error);
    // Bytes waiting on the socket (FIONREAD): -1 without a socket or on error.
    virtual int WaitingCount();
    virtual void BindSocket();
    // Resolves what is still unresolved of protocol, port, local port (when
    // connecting) and address; raises ESocketException.
    void ResolveTarget(bool listening);
    virtual int RealSend(const char* data, int len);
    virtual void RaiseException(const std::string& msg);
    virtual void HandleBackgroundException(const std::exception& e);
    // The receive primitives every receive goes through.
    virtual int DoRecv(char* buffer, int len, int flags);
    virtual int DoRecvFrom(char* buffer, int len, int flags, sockaddr* from, int* fromLen);

    // Event operations; DoDataAvailable answers whether a handler ran.
    virtual bool DoDataAvailable(WORD error);
    virtual void DoSessionAvailable(WORD error);
    virtual void DoSessionConnected(WORD error);
    virtual void DoSessionClosed(WORD error);
    virtual void DoDataSent(WORD error);
    virtual void DoSendData(int bytesSent);
    virtual void DoChangeState(TSocketState oldState, TSocketState newState);
    virtual void DoDnsLookupDone(WORD error);
    virtual void DoError();
    virtual void DoBgException(const std::exception& e, bool& canClose);

    // The error path: "Error N in function F" plus the error's text.
    void SocketError(const std::string& function);
    void ChangeState(TSocketState newState);
    void TryToSend();
    void PutDataInSendBuffer(const void* data, int len);
    void DeleteBufferedData();
    void SetLingerOption();
    // The receive loop of a read event; alwaysLoop drains on close.
    void ReadLoop(WORD error, bool alwaysLoop);
    // Blocks until a message arrives for this thread, or ms pass.
    static void WaitForMessage(DWORD ms);
    bool IsClosed() const { return state_ == wsClosed || state_ == wsInvalidState; }
    bool ComponentDestroying() const { return destroying_; }

    NetSocketHandle hSocket_;
    sockaddr_in sin_{};
    std::string addrStr_, portStr_, protoStr_ = "tcp", localAddr_ = "0.0.0.0", localPortStr_ = "0";
    bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
    bool addrResolved_ = false, portResolved_ = false, protoResolved_ = false, localPortResolved_ = false;
    int proto_ = IPPROTO_TCP;
    int type_ = SOCK_STREAM;
    u_short localPortNum_ = 0;   // network order
    TSocketState state_ = wsClosed;
    bool closeInvoked_ = false;
    int lastError_ = 0;
    int64_t readCount_ = 0;

private:
    class TSocketWindow;
    bool WndProc(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void HandleNetworkEvent(WPARAM wParam, LPARAM lParam);
    void HandleLookupDone(UINT msg, WPARAM wParam, LPARAM lParam);
    void ConnectedEvent(WORD error);

    std::unique_ptr<TSocketWindow> window_;
    DWORD threadId_ = 0;
    long selectEvent_ = 0;
    bool allSent_ = true;
    bool paused_ = false;
    bool destroying_ = false;
    bool terminated_ = false;
    int sendFlags_ = 0;
    HANDLE dnsLookupHandle_ = nullptr;
    // The running lookup's answer buffer, one for each lookup: the system can
    // still write into the buffer of a lookup it reported cancelled.
    std::unique_ptr<char[]> dnsLookupBuffer_;
    // Cancelled lookups whose answer has not come back, with their buffers.
    std::vector<std::pair<HANDLE, std::unique_ptr<char[]>>> cancelledLookups_;
    bool dnsLookupCheckMsg_ = false;
    MSG dnsLookupEarlyMsg_{};
    std::string dnsResult_;
    TStringList dnsResultList_;
    std::deque<std::unique_ptr<TBuffer>> bufList_;
    int bufSize_ = 1460;

    friend class TCustomSyncNetSocket;
};

} // namespace krv
