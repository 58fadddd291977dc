// MD5 message digest (RFC 1321) and HMAC-MD5 (RFC 2104), as the CRAM-MD5
// mail login needs them.
#pragma once
#include <cstdint>
#include <string>

namespace krv {

struct TMD5Context {
    uint32_t State[4];
    uint32_t Count[2];   // bit count, low word first
    uint8_t Buffer[64];
};
static_assert(sizeof(TMD5Context) == 88);

using TMD5Digest = uint8_t[16];

void MD5Init(TMD5Context& context);
void MD5Update(TMD5Context& context, const void* data, size_t length);
// Pads, writes the digest and clears the context.
void MD5Final(TMD5Digest digest, TMD5Context& context);
// Updates through a 16 KiB work block, piece by piece.
void MD5UpdateBuffer(TMD5Context& context, const void* data, size_t length);

// The 16-byte digest of a byte string.
std::string MD5Digest(const std::string& data);
// HMAC-MD5 of text under key: the 16-byte digest.
std::string HMAC_MD5(const std::string& text, const std::string& key);
// Lower-case hexadecimal form of a byte string.
std::string HexDigest(const std::string& digest);

} // namespace krv
