#include "net/Md5.h"
#include <cstring>

namespace krv {

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four rounds' step functions and per-step shift amounts.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32)
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int k;
        switch (i / 16) {
        case 0: f = F(b, c, d); k = i; break;
        case 1: f = G(b, c, d); k = (5 * i + 1) % 16; break;
        case 2: f = H(b, c, d); k = (3 * i + 5) % 16; break;
        default: f = I(b, c, d); k = (7 * i) % 16; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[i] + x[k], kShift[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

void MD5Init(TMD5Context& context) {
    std::memset(&context, 0, sizeof context);
    context.State[0] = 0x67452301;
    context.State[1] = 0xefcdab89;
    context.State[2] = 0x98badcfe;
    context.State[3] = 0x10325476;
}

void MD5Update(TMD5Context& context, const void* data, size_t length) {
    const uint8_t* input = static_cast<const uint8_t*>(data);
    size_t index = (context.Count[0] >> 3) & 0x3F;
    uint32_t bitsLow = static_cast<uint32_t>(length << 3);
    if ((context.Count[0] += bitsLow) < bitsLow) ++context.Count[1];
    context.Count[1] += static_cast<uint32_t>(static_cast<uint64_t>(length) >> 29);
    size_t partLen = 64 - index;
    size_t i = 0;
    if (length >= partLen) {
        std::memcpy(&context.Buffer[index], input, partLen);
        Transform(context.State, context.Buffer);
        for (i = partLen; i + 63 < length; i += 64) Transform(context.State, &input[i]);
        index = 0;
    }
    if (length > i) std::memcpy(&context.Buffer[index], &input[i], length - i);
}

void MD5Final(TMD5Digest digest, TMD5Context& context) {
    uint8_t bits[8];
    for (int i = 0; i < 8; ++i) bits[i] = static_cast<uint8_t>(context.Count[i / 4] >> ((i % 4) * 8));
    static const uint8_t padding[64] = {0x80};
    size_t index = (context.Count[0] >> 3) & 0x3F;
    size_t padLen = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, padding, padLen);
    MD5Update(context, bits, 8);
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(context.State[i / 4] >> ((i % 4) * 8));
    std::memset(&context, 0, sizeof context);
}

void MD5UpdateBuffer(TMD5Context& context, const void* data, size_t length) {
    const size_t kPiece = 16384;
    uint8_t work[kPiece];
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        size_t n = length < kPiece ? length : kPiece;
        std::memcpy(work, p, n);
        MD5Update(context, work, n);
        p += n;
        length -= n;
    }
}

std::string MD5Digest(const std::string& data) {
    TMD5Context context;
    MD5Init(context);
    MD5UpdateBuffer(context, data.data(), data.size());
    TMD5Digest digest;
    MD5Final(digest, context);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string HMAC_MD5(const std::string& text, const std::string& key) {
    // Keys longer than a block are first reduced to their digest.
    std::string k = key.size() > 64 ? MD5Digest(key) : key;
    k.resize(64, '\0');
    std::string inner(64, '\0'), outer(64, '\0');
    for (int i = 0; i < 64; ++i) {
        inner[i] = static_cast<char>(k[i] ^ 0x36);
        outer[i] = static_cast<char>(k[i] ^ 0x5C);
    }
    return MD5Digest(outer + MD5Digest(inner + text));
}

std::string HexDigest(const std::string& digest) {
    static const char hex[] = "0123456789abcdef";
    std::string s;
    s.reserve(digest.size() * 2);
    for (unsigned char c : digest) {
        s += hex[c >> 4];
        s += hex[c & 15];
    }
    return s;
}

} // namespace krv
