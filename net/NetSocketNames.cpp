// Error texts and name resolution of the socket component.
#include "net/NetSocket.h"
#include <cctype>
#include <cstring>

namespace krv {

std::string NetSocketErrorDesc(int error) {
    switch (error) {
    case 0: return "No Error";
    case WSAEINTR: return "Interrupted system call";
    case WSAEBADF: return "Bad file number";
    case WSAEACCES: return "Permission denied";
    case WSAEFAULT: return "Bad address";
    case WSAEINVAL: return "Invalid argument";
    case WSAEMFILE: return "Too many open files";
    case WSAEWOULDBLOCK: return "Operation would block";
    case WSAEINPROGRESS: return "Operation now in progress";
    case WSAEALREADY: return "Operation already in progress";
    case WSAENOTSOCK: return "Socket operation on non-socket";
    case WSAEDESTADDRREQ: return "Destination address required";
    case WSAEMSGSIZE: return "Message too long";
    case WSAEPROTOTYPE: return "Protocol wrong type for socket";
    case WSAENOPROTOOPT: return "Protocol not available";
    case WSAEPROTONOSUPPORT: return "Protocol not supported";
    case WSAESOCKTNOSUPPORT: return "Socket type not supported";
    case WSAEOPNOTSUPP: return "Operation not supported on socket";
    case WSAEPFNOSUPPORT: return "Protocol family not supported";
    case WSAEAFNOSUPPORT: return "Address family not supported by protocol family";
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEADDRNOTAVAIL: return "Address not available";
    case WSAENETDOWN: return "Network is down";
    case WSAENETUNREACH: return "Network is unreachable";
    case WSAENETRESET: return "Network dropped connection on reset";
    case WSAECONNABORTED: return "Connection aborted";
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAENOBUFS: return "No buffer space available";
    case WSAEISCONN: return "Socket is already connected";
    case WSAENOTCONN: return "Socket is not connected";
    case WSAESHUTDOWN: return "Can't send after socket shutdown";
    case WSAETOOMANYREFS: return "Too many references: can't splice";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAECONNREFUSED: return "Connection refused";
    case WSAELOOP: return "Too many levels of symbolic links";
    case WSAENAMETOOLONG: return "File name too long";
    case WSAEHOSTDOWN: return "Host is down";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAENOTEMPTY: return "Directory not empty";
    case WSAEPROCLIM: return "Too many processes";
    case WSAEUSERS: return "Too many users";
    case WSAEDQUOT: return "Disc quota exceeded";
    case WSAESTALE: return "Stale NFS file handle";
    case WSAEREMOTE: return "Too many levels of remote in path";
    case WSASYSNOTREADY: return "Network sub-system is unusable";
    case WSAVERNOTSUPPORTED: return "WinSock DLL cannot support this application";
    case WSANOTINITIALISED: return "WinSock not initialized";
    case WSAHOST_NOT_FOUND: return "Host not found";
    case WSATRY_AGAIN: return "Non-authoritative host not found";
    case WSANO_RECOVERY: return "Non-recoverable error";
    case WSANO_DATA: return "No Data";
    default: return "Not a WinSock error";
    }
}

bool NetSocketIsDottedAddress(const std::string& s) {
    size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    if (i == n || !std::isdigit(static_cast<unsigned char>(s[i]))) return false;   // no dot first
    int dots = 0, group = 0;
    for (; i < n && s[i] != ' '; ++i) {
        char c = s[i];
        if (c == '.') {
            // Each dot is followed by a digit: no dot last, no empty group.
            if (++dots > 3 || i + 1 >= n || !std::isdigit(static_cast<unsigned char>(s[i + 1]))) return false;
            group = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            group = group * 10 + (c - '0');
            if (group > 255) return false;
        } else {
            return false;
        }
    }
    for (; i < n; ++i)
        if (s[i] != ' ') return false;
    return true;
}

u_long NetSocketResolveHost(const std::string& host) {
    if (host.empty() || host.size() > 256)
        throw ESocketException("NetSocketResolveHost: '" + host + "' Invalid Hostname.");
    if (NetSocketIsDottedAddress(host)) {
        std::string dotted = Trim(host);
        u_long a = ws::inet_addr(dotted.c_str());
        if (a == INADDR_NONE && dotted != "255.255.255.255")
            throw ESocketException("NetSocketResolveHost: '" + host + "' Invalid IP address.");
        return a;
    }
    hostent* he = ws::gethostbyname(host.c_str());
    if (!he || !he->h_addr_list || !he->h_addr_list[0] || he->h_length != 4)
        throw ESocketException(Format("NetSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                      host.c_str(), ws::WSAGetLastError()));
    u_long a;
    std::memcpy(&a, he->h_addr_list[0], 4);
    return a;
}

namespace {
// Leading blanks skipped, digits up to the first non-digit.
int LeadingNumber(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > 0x7FFFFFFF / 10) break;
    }
    return static_cast<int>(v);
}
bool StartsWithDigit(const std::string& s) {
    size_t i = s.find_first_not_of(' ');
    return i != std::string::npos && std::isdigit(static_cast<unsigned char>(s[i]));
}
} // namespace

u_short NetSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() >= 32) throw ESocketException("NetSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32) throw ESocketException("NetSocketResolvePort: Invalid Proto.");
    if (StartsWithDigit(port)) {
        int v = LeadingNumber(port);
        // A number a port cannot hold is refused rather than wrapped.
        if (v > 65535) throw ESocketException("NetSocketResolvePort: Invalid Port.");
        return static_cast<u_short>(v);
    }
    servent* se = ws::getservbyname(port.c_str(), proto.c_str());
    if (!se)
        throw ESocketException(Format("NetSocketResolvePort: Cannot convert port '%s', Error #%d", port.c_str(),
                                      ws::WSAGetLastError()));
    return ws::ntohs(static_cast<u_short>(se->s_port));
}

int NetSocketResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() >= 32) throw ESocketException("NetSocketResolveProto: Invalid Protocol.");
    if (StartsWithDigit(proto)) return LeadingNumber(proto);
    protoent* pe = ws::getprotobyname(proto.c_str());
    if (!pe)
        throw ESocketException(Format("NetSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                                      proto.c_str(), ws::WSAGetLastError()));
    return pe->p_proto;
}

} // namespace krv
