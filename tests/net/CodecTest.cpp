// MD5, HMAC-MD5 and Base64 against the published test vectors, and the send block.
#include "net/Base64.h"
#include "net/Md5.h"
#include "net/NetSockBuf.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <random>

using namespace krv;

namespace {
std::string Hex(const std::string& s) { return HexDigest(s); }
std::string Bytes(size_t n, char c) { return std::string(n, c); }
} // namespace

TEST(MD5, MatchesTheReferenceVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto& v : vectors) EXPECT_EQ(Hex(MD5Digest(v.first)), v.second) << v.first;
}

TEST(MD5, PieceByPieceEqualsAllAtOnceAcrossBlockBoundaries) {
    std::string data;
    for (int i = 0; i < 40000; ++i) data += static_cast<char>(i * 31 + 7);
    const std::string whole = MD5Digest(data);
    for (size_t step : {1u, 55u, 56u, 63u, 64u, 65u, 16383u, 16384u}) {
        TMD5Context ctx;
        MD5Init(ctx);
        for (size_t i = 0; i < data.size(); i += step) MD5Update(ctx, data.data() + i, std::min(step, data.size() - i));
        TMD5Digest d;
        MD5Final(d, ctx);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(d), 16), whole) << step;
        EXPECT_EQ(ctx.State[0], 0u) << "the context is cleared";
    }
    // Lengths around the padding boundary.
    EXPECT_EQ(Hex(MD5Digest(Bytes(55, 'a'))), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Hex(MD5Digest(Bytes(56, 'a'))), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Hex(MD5Digest(Bytes(64, 'a'))), "014842d480b571495a4a0363793f7367");
}

TEST(HMAC_MD5, MatchesTheReferenceVectors) {
    struct V { std::string key, data, digest; };
    const V vectors[] = {
        {Bytes(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {Bytes(16, '\xaa'), Bytes(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19", 25),
         Bytes(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {Bytes(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {Bytes(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First", "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {Bytes(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (auto& v : vectors) EXPECT_EQ(Hex(HMAC_MD5(v.data, v.key)), v.digest) << v.data;
}

TEST(HMAC_MD5, GivesTheCramMd5LoginOfTheExample) {
    const std::string challenge = Base64Decode("PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+");
    EXPECT_EQ(challenge, "<1896.697170952@postoffice.reston.mci.net>");
    const std::string answer = "tim " + Hex(HMAC_MD5(challenge, "tanstaaftanstaaf"));
    EXPECT_EQ(answer, "tim b913a602c7eda7a495b4e6e7334d3890");
    EXPECT_EQ(Base64Encode(answer), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

TEST(Base64, EncodesAndDecodesTheReferenceVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"},
    };
    for (auto& v : vectors) {
        EXPECT_EQ(Base64Encode(v.first), v.second);
        EXPECT_EQ(Base64Decode(v.second), v.first);
    }
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t n = 0; n <= all.size(); ++n) {
        std::string enc = Base64Encode(all.substr(0, n));
        EXPECT_EQ(enc.size() % 4, 0u);
        EXPECT_EQ(enc.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(Base64Decode(enc), all.substr(0, n)) << n;
    }
}

TEST(Base64, MalformedInputIsNeverReadPastItsEnd) {
    // The text sits right before a page that may not be touched: one byte too far faults.
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    char* block = static_cast<char*>(::VirtualAlloc(nullptr, page * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    DWORD old;
    ASSERT_TRUE(::VirtualProtect(block + page, page, PAGE_NOACCESS, &old));
    std::mt19937 rng(1234);
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=*\n -";
    for (int round = 0; round < 4000; ++round) {
        size_t len = rng() % 23;
        char* text = block + page - len;
        for (size_t i = 0; i < len; ++i) text[i] = alphabet[rng() % (sizeof alphabet - 1)];
        std::string out = Base64Decode(text, len);
        EXPECT_LE(out.size(), (len + 3) / 4 * 3);
    }
    // Short groups give what their characters hold.
    const char* tail = "YWJjZA";
    std::memcpy(block + page - 6, tail, 6);
    EXPECT_EQ(Base64Decode(block + page - 6, 6), "abcd");
    std::memcpy(block + page - 3, "YWI", 3);
    EXPECT_EQ(Base64Decode(block + page - 3, 3), "ab");
    block[page - 1] = 'Y';
    EXPECT_EQ(Base64Decode(block + page - 1, 1), "");
    ::VirtualFree(block, 0, MEM_RELEASE);
}

TEST(Base64, PaddingEndsAGroupAndStrangeCharactersAreNotRejected) {
    EXPECT_EQ(Base64Decode("YQ==YWI="), "aab");
    EXPECT_EQ(Base64Decode("YW=="), "a");
    EXPECT_EQ(Base64Decode("Y***").size(), 3u);
}

TEST(NetSockBuf, WritesBehindAndReadsFromTheFront) {
    TBuffer b(10);
    EXPECT_EQ(b.Size(), 10);
    EXPECT_EQ(TBuffer(0).Size(), 1514);
    int len = -1;
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(b.Write("abcdefgh", 8), 8);
    EXPECT_EQ(b.Write("ijklmn", 6), 2);
    EXPECT_EQ(b.Write("x", 1), 0) << "full";
    EXPECT_EQ(b.Remove(3), 3);
    const char* p = b.Peek(len);
    EXPECT_EQ(std::string(p, len), "defghij");
    b.SetSize(20);
    p = b.Peek(len);
    EXPECT_EQ(std::string(p, len), "defghij") << "resizing keeps unread bytes";
    EXPECT_EQ(b.Remove(100), 7);
    EXPECT_EQ(b.DataCount(), 0);
    EXPECT_EQ(b.Write(std::string(20, 'z').data(), 20), 20) << "an emptied block starts over";
}
