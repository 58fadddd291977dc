// Windows Sockets 1.1 bound at run time: "wsock32.dll" is loaded and started
// on first use and each function is looked up by name the first time it is
// called, so a program that never makes a socket never loads the library.
// The last socket component to go unloads it again.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <winsock.h>
#include <string>

namespace krv {

// Every failure of the socket layer: loading, resolving, or a Winsock call.
class ESocketException : public Exception {
public:
    using Exception::Exception;
};

namespace ws {

// Loads and starts the library when needed; an empty name only does that and
// answers null. Raises ESocketException when loading, starting or the lookup fails.
FARPROC GetProc(const char* name);
// WSACleanup and FreeLibrary when loaded; forgets every cached entry point and
// sets the instance counter to 0.
void Unload();
bool Loaded();
// Puts proc in the place of one entry point until the library is unloaded
// (null puts the system's back): how a test makes Winsock fail in ways the
// system cannot be brought to on purpose, such as a refused cancel.
void ReplaceEntry(const char* name, FARPROC proc);

// Socket components count themselves; the last one to go unloads the library.
void InstanceCreated();
void InstanceDestroyed();
long InstanceCount();

// This machine's host name (raises "Winsock.GetHostName failed").
std::string LocalHostName();

int WINAPI WSAStartup(WORD version, LPWSADATA data);
int WINAPI WSACleanup();
void WINAPI WSASetLastError(int error);
int WINAPI WSAGetLastError();
int WINAPI WSACancelAsyncRequest(HANDLE request);
HANDLE WINAPI WSAAsyncGetHostByName(HWND wnd, u_int msg, const char* name, char* buf, int bufLen);
HANDLE WINAPI WSAAsyncGetHostByAddr(HWND wnd, u_int msg, const char* addr, int len, int type, char* buf, int bufLen);
int WINAPI WSAAsyncSelect(SOCKET s, HWND wnd, u_int msg, long events);
servent* WINAPI getservbyname(const char* name, const char* proto);
protoent* WINAPI getprotobyname(const char* name);
hostent* WINAPI gethostbyname(const char* name);
int WINAPI gethostname(char* name, int len);
SOCKET WINAPI socket(int af, int type, int protocol);
int WINAPI shutdown(SOCKET s, int how);
int WINAPI setsockopt(SOCKET s, int level, int name, const char* value, int len);
int WINAPI sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int toLen);
int WINAPI send(SOCKET s, const char* buf, int len, int flags);
u_short WINAPI ntohs(u_short v);
int WINAPI listen(SOCKET s, int backlog);
int WINAPI ioctlsocket(SOCKET s, long cmd, u_long* arg);
char* WINAPI inet_ntoa(in_addr in);
u_long WINAPI inet_addr(const char* cp);
u_short WINAPI htons(u_short v);
int WINAPI getsockname(SOCKET s, sockaddr* name, int* len);
int WINAPI getpeername(SOCKET s, sockaddr* name, int* len);
int WINAPI connect(SOCKET s, const sockaddr* name, int len);
int WINAPI closesocket(SOCKET s);
int WINAPI bind(SOCKET s, const sockaddr* name, int len);
SOCKET WINAPI accept(SOCKET s, sockaddr* addr, int* len);
int WINAPI recv(SOCKET s, char* buf, int len, int flags);
int WINAPI recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromLen);

// The closing call the socket owner uses.
struct SocketApi {
    static int CloseSocket(SOCKET s) { return closesocket(s); }
};

} // namespace ws

using NetSocketHandle = SocketHandle<ws::SocketApi>;

} // namespace krv
