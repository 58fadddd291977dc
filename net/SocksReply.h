// Reading a SOCKS proxy's replies: the method choice, the user/password
// verdict and the connect reply, for levels 4, 4A and 5. Pure: it only looks
// at the bytes it is given and never past count.
#pragma once
#include <string>

namespace krv {

// Negotiation states of a socket talking to its proxy.
enum TSocksNegotiation { snNone = 0, snWaitMethod = 1, snAuthenticating = 2, snWaitConnect = 3 };

enum TSocksReplyKind { srNeedMore, srMethodNoAuth, srMethodUserPass, srAuthSuccess, srGranted, srError };

// The largest reply: a SOCKS 5 connect reply with a 255-byte domain name.
constexpr int kSocksReplyMax = 262;

struct TSocksReply {
    TSocksReplyKind Kind = srNeedMore;
    int Error = 0;          // 20001..20016
    std::string Text;
    int Consumed = 0;       // bytes of the reply itself; any after them belong to the target
    std::string BoundAddr;  // SOCKS 5 connect reply: dotted address or name
    std::string BoundPort;
};

// state: the negotiation state; socks4: level "4" or "4A"; authOffered: the
// user/password method was offered in the greeting.
TSocksReply ParseSocksReply(int state, bool socks4, bool authOffered, const unsigned char* data, int count);

// Reply code 1..8 of a SOCKS 5 proxy → 20004..20011 and its text; above: 20012.
int SocksReplyError(int code, std::string& text);

} // namespace krv
