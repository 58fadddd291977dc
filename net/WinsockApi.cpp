#include "net/WinsockApi.h"
#include <cstring>

namespace krv::ws {

namespace {

const char* const kWinsockDll = "wsock32.dll";

// Entry points, null until first used.
#define KRV_WS_ENTRIES(X)                                                                            \
    X(WSAStartup) X(WSACleanup) X(WSASetLastError) X(WSAGetLastError) X(WSACancelAsyncRequest)       \
    X(WSAAsyncGetHostByName) X(WSAAsyncGetHostByAddr) X(WSAAsyncSelect) X(getservbyname)             \
    X(getprotobyname) X(gethostbyname) X(gethostname) X(socket) X(shutdown) X(setsockopt) X(sendto)  \
    X(send) X(ntohs) X(listen) X(ioctlsocket) X(inet_ntoa) X(inet_addr) X(htons) X(getsockname)      \
    X(getpeername) X(connect) X(closesocket) X(bind) X(accept) X(recv) X(recvfrom)

struct Entries {
#define KRV_WS_DECLARE(name) decltype(&::name) name = nullptr;
    KRV_WS_ENTRIES(KRV_WS_DECLARE)
#undef KRV_WS_DECLARE
};

ModuleHandle library;
WSADATA wsaData;
Entries entries;
volatile LONG instances = 0;

FARPROC Lookup(const char* name) {
    FARPROC p = ::GetProcAddress(library.get(), name);
    if (!p)
        throw ESocketException(std::string("Procedure ") + name + " not found in " + kWinsockDll + " Error #" +
                               IntToStr(::GetLastError()));
    return p;
}

void LoadAndStart() {
    library.reset(::LoadLibraryA(kWinsockDll));
    if (!library)
        throw ESocketException(std::string("Unable to load ") + kWinsockDll + " Error #" + IntToStr(::GetLastError()));
    // The system's own workers (name lookups, select notifications) can still
    // be running winsock code when the last socket goes and the library is
    // released: its code stays mapped for the life of the process, or such a
    // worker faults in unmapped memory. Cleanup and the loaded state are unchanged.
    HMODULE pinned = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, kWinsockDll, &pinned);
    try {
        auto startup = reinterpret_cast<decltype(&::WSAStartup)>(reinterpret_cast<void*>(Lookup("WSAStartup")));
        int rc = startup(0x0101, &wsaData);
        if (rc != 0) throw ESocketException(Format("%s: WSAStartup error #%d", kWinsockDll, rc));
        entries.WSAStartup = startup;
    } catch (...) {
        // Nothing half-loaded stays behind: the next call starts again.
        library.reset();
        entries = Entries{};
        throw;
    }
}

// The end of the program unloads as well.
struct Finalizer {
    ~Finalizer() { Unload(); }
} finalizer;

} // namespace

FARPROC GetProc(const char* name) {
    if (!library) LoadAndStart();
    if (!name || !*name) return nullptr;
    return Lookup(name);
}

void Unload() {
    if (library) {
        auto cleanup = entries.WSACleanup ? entries.WSACleanup
                                          : reinterpret_cast<decltype(&::WSACleanup)>(reinterpret_cast<void*>(::GetProcAddress(library.get(), "WSACleanup")));
        if (cleanup) cleanup();
        library.reset();
        entries = Entries{};
    }
    ::InterlockedExchange(&instances, 0);
}

bool Loaded() { return static_cast<bool>(library); }

void ReplaceEntry(const char* name, FARPROC proc) {
    GetProc("");   // loaded and started first, as for the call replaced
#define KRV_WS_REPLACE(entry) \
    if (std::strcmp(name, #entry) == 0) entries.entry = reinterpret_cast<decltype(entries.entry)>(reinterpret_cast<void*>(proc));
    KRV_WS_ENTRIES(KRV_WS_REPLACE)
#undef KRV_WS_REPLACE
}

void InstanceCreated() { ::InterlockedIncrement(&instances); }

void InstanceDestroyed() {
    if (::InterlockedDecrement(&instances) < 1) Unload();
}

long InstanceCount() { return instances; }

std::string LocalHostName() {
    char name[64] = {};
    if (gethostname(name, sizeof name) != 0) throw ESocketException("Winsock.GetHostName failed");
    name[sizeof name - 1] = 0;
    return name;
}

// The wrappers: fetch the entry once, then call straight through.
template <class F> F Entry(F& cache, const char* name) {
    if (!cache) cache = reinterpret_cast<F>(reinterpret_cast<void*>(GetProc(name)));
    return cache;
}
#define KRV_WS_ENTRY(name) Entry(entries.name, #name)

int WINAPI WSAStartup(WORD version, LPWSADATA data) { return KRV_WS_ENTRY(WSAStartup)(version, data); }
int WINAPI WSACleanup() { return KRV_WS_ENTRY(WSACleanup)(); }
void WINAPI WSASetLastError(int error) { KRV_WS_ENTRY(WSASetLastError)(error); }
int WINAPI WSAGetLastError() { return KRV_WS_ENTRY(WSAGetLastError)(); }
int WINAPI WSACancelAsyncRequest(HANDLE request) { return KRV_WS_ENTRY(WSACancelAsyncRequest)(request); }
HANDLE WINAPI WSAAsyncGetHostByName(HWND wnd, u_int msg, const char* name, char* buf, int bufLen) {
    return KRV_WS_ENTRY(WSAAsyncGetHostByName)(wnd, msg, name, buf, bufLen);
}
HANDLE WINAPI WSAAsyncGetHostByAddr(HWND wnd, u_int msg, const char* addr, int len, int type, char* buf, int bufLen) {
    return KRV_WS_ENTRY(WSAAsyncGetHostByAddr)(wnd, msg, addr, len, type, buf, bufLen);
}
int WINAPI WSAAsyncSelect(SOCKET s, HWND wnd, u_int msg, long events) {
    return KRV_WS_ENTRY(WSAAsyncSelect)(s, wnd, msg, events);
}
servent* WINAPI getservbyname(const char* name, const char* proto) { return KRV_WS_ENTRY(getservbyname)(name, proto); }
protoent* WINAPI getprotobyname(const char* name) { return KRV_WS_ENTRY(getprotobyname)(name); }
hostent* WINAPI gethostbyname(const char* name) { return KRV_WS_ENTRY(gethostbyname)(name); }
int WINAPI gethostname(char* name, int len) { return KRV_WS_ENTRY(gethostname)(name, len); }
SOCKET WINAPI socket(int af, int type, int protocol) { return KRV_WS_ENTRY(socket)(af, type, protocol); }
int WINAPI shutdown(SOCKET s, int how) { return KRV_WS_ENTRY(shutdown)(s, how); }
int WINAPI setsockopt(SOCKET s, int level, int name, const char* value, int len) {
    return KRV_WS_ENTRY(setsockopt)(s, level, name, value, len);
}
int WINAPI sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int toLen) {
    return KRV_WS_ENTRY(sendto)(s, buf, len, flags, to, toLen);
}
int WINAPI send(SOCKET s, const char* buf, int len, int flags) { return KRV_WS_ENTRY(send)(s, buf, len, flags); }
u_short WINAPI ntohs(u_short v) { return KRV_WS_ENTRY(ntohs)(v); }
int WINAPI listen(SOCKET s, int backlog) { return KRV_WS_ENTRY(listen)(s, backlog); }
int WINAPI ioctlsocket(SOCKET s, long cmd, u_long* arg) { return KRV_WS_ENTRY(ioctlsocket)(s, cmd, arg); }
char* WINAPI inet_ntoa(in_addr in) { return KRV_WS_ENTRY(inet_ntoa)(in); }
u_long WINAPI inet_addr(const char* cp) { return KRV_WS_ENTRY(inet_addr)(cp); }
u_short WINAPI htons(u_short v) { return KRV_WS_ENTRY(htons)(v); }
int WINAPI getsockname(SOCKET s, sockaddr* name, int* len) { return KRV_WS_ENTRY(getsockname)(s, name, len); }
int WINAPI getpeername(SOCKET s, sockaddr* name, int* len) { return KRV_WS_ENTRY(getpeername)(s, name, len); }
int WINAPI connect(SOCKET s, const sockaddr* name, int len) { return KRV_WS_ENTRY(connect)(s, name, len); }
int WINAPI closesocket(SOCKET s) { return KRV_WS_ENTRY(closesocket)(s); }
int WINAPI bind(SOCKET s, const sockaddr* name, int len) { return KRV_WS_ENTRY(bind)(s, name, len); }
SOCKET WINAPI accept(SOCKET s, sockaddr* addr, int* len) { return KRV_WS_ENTRY(accept)(s, addr, len); }
int WINAPI recv(SOCKET s, char* buf, int len, int flags) { return KRV_WS_ENTRY(recv)(s, buf, len, flags); }
int WINAPI recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromLen) {
    return KRV_WS_ENTRY(recvfrom)(s, buf, len, flags, from, fromLen);
}

} // namespace krv::ws
