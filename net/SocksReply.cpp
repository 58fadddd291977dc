#include "net/SocksReply.h"

namespace krv {

namespace {
TSocksReply Fail(int error, const std::string& text) {
    TSocksReply r;
    r.Kind = srError;
    r.Error = error;
    r.Text = text;
    return r;
}
TSocksReply Done(TSocksReplyKind kind, int consumed) {
    TSocksReply r;
    r.Kind = kind;
    r.Consumed = consumed;
    return r;
}
const TSocksReply kNeedMore;
} // namespace

int SocksReplyError(int code, std::string& text) {
    static const char* const texts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                                        "network unreachable",          "host unreachable",
                                        "connection refused",           "time to live expired",
                                        "command not supported",        "address type not supported"};
    if (code >= 1 && code <= 8) {
        text = texts[code - 1];
        return 20003 + code;
    }
    text = "unassigned error #" + std::to_string(code);
    return 20012;
}

TSocksReply ParseSocksReply(int state, bool socks4, bool authOffered, const unsigned char* data, int count) {
    switch (state) {
    case snWaitMethod:
        if (socks4) return Fail(20001, "TNetSocket logic error");
        if (count < 2) return kNeedMore;
        if (data[0] != 5) return Fail(20002, "socks version error");
        if (data[1] == 0) return Done(srMethodNoAuth, 2);
        // A proxy may only pick a method we offered.
        if (data[1] == 2 && authOffered) return Done(srMethodUserPass, 2);
        return Fail(20003, "authentification method not acceptable");

    case snAuthenticating:
        if (count < 1) return kNeedMore;
        if (data[0] != 1) return Fail(20002, "socks version error");
        if (count < 2) return kNeedMore;
        if (count > 2) return Fail(20001, "too much data availaible");
        if (data[1] != 0) return Fail(20015, "socks authentication failed");
        return Done(srAuthSuccess, 2);

    case snWaitConnect: {
        if (socks4) {
            if (count < 8) return kNeedMore;
            if (data[0] != 0) return Fail(20002, "socks version error");
            switch (data[1]) {
            case 90: return Done(srGranted, 8);
            case 91: return Fail(20016, "request rejected or failed");
            case 92: return Fail(20008, "connection refused");
            case 93: return Fail(20015, "authentification failed");
            default: return Fail(20012, "unassigned error #" + std::to_string(data[1]));
            }
        }
        if (count < 1) return kNeedMore;
        if (data[0] != 5) return Fail(20002, "socks version error");
        if (count < 2) return kNeedMore;
        if (data[1] != 0) {
            std::string text;
            int error = SocksReplyError(data[1], text);
            return Fail(error, text);
        }
        if (count < 4) return kNeedMore;
        int need;
        if (data[3] == 1) {
            need = 10;
        } else if (data[3] == 3) {
            if (count < 5) return kNeedMore;
            need = 7 + data[4];
        } else {
            return Fail(20011, "address type not supported");
        }
        if (count < need) return kNeedMore;
        TSocksReply r = Done(srGranted, need);
        if (data[3] == 1)
            r.BoundAddr = std::to_string(data[4]) + "." + std::to_string(data[5]) + "." + std::to_string(data[6]) +
                          "." + std::to_string(data[7]);
        else
            r.BoundAddr.assign(reinterpret_cast<const char*>(data + 5), data[4]);
        r.BoundPort = std::to_string(data[need - 2] << 8 | data[need - 1]);
        return r;
    }

    default:
        return Fail(20013, "internal error");
    }
}

} // namespace krv
