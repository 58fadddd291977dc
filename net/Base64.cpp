#include "net/Base64.h"
#include <array>

namespace krv {

namespace {

const char kEncode[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Each character's 6-bit value; "=" is 64, anything else 255.
const std::array<unsigned char, 256> kDecode = [] {
    std::array<unsigned char, 256> t{};
    t.fill(255);
    for (int i = 0; i < 65; ++i) t[static_cast<unsigned char>(kEncode[i])] = static_cast<unsigned char>(i);
    return t;
}();

} // namespace

std::string Base64Encode(const std::string& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t n = data.size();
    size_t i = 0;
    for (; i + 2 < n; i += 3) {
        out += kEncode[p[i] >> 2];
        out += kEncode[((p[i] & 3) << 4) | (p[i + 1] >> 4)];
        out += kEncode[((p[i + 1] & 15) << 2) | (p[i + 2] >> 6)];
        out += kEncode[p[i + 2] & 63];
    }
    if (n - i == 1) {
        out += kEncode[p[i] >> 2];
        out += kEncode[(p[i] & 3) << 4];
        out += "==";
    } else if (n - i == 2) {
        out += kEncode[p[i] >> 2];
        out += kEncode[((p[i] & 3) << 4) | (p[i + 1] >> 4)];
        out += kEncode[(p[i + 1] & 15) << 2];
        out += '=';
    }
    return out;
}

std::string Base64Decode(const std::string& text) { return Base64Decode(text.data(), text.size()); }

std::string Base64Decode(const char* text, size_t n) {
    std::string out;
    out.reserve(n / 4 * 3 + 2);
    for (size_t i = 0; i < n; i += 4) {
        size_t have = n - i < 4 ? n - i : 4;
        // A missing character counts as "=": the group ends where the input does.
        unsigned v[4] = {64, 64, 64, 64};
        for (size_t j = 0; j < have; ++j) v[j] = kDecode[static_cast<unsigned char>(text[i + j])];
        if (have < 2) break;   // one character holds no whole byte
        out += static_cast<char>((v[0] << 2) | ((v[1] >> 4) & 3));
        if (v[2] == 64) continue;
        out += static_cast<char>(((v[1] & 15) << 4) | ((v[2] >> 2) & 15));
        if (v[3] == 64) continue;
        out += static_cast<char>(((v[2] & 3) << 6) | (v[3] & 63));
    }
    return out;
}

} // namespace krv
