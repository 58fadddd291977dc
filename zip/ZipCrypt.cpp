#include "zip/ZipCrypt.h"
#include "zip/ZipErrors.h"
#include <windows.h>
#include <ntsecapi.h>
#include <array>

namespace krv {

namespace {

struct CrcTables {
    // Slicing by four: four table lookups per 32-bit word.
    std::array<std::array<uint32_t, 256>, 4> t;
    CrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 4; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};
const CrcTables& Tables() {
    static const CrcTables tables;
    return tables;
}

} // namespace

uint32_t CrcUpdate(uint32_t reg, const void* data, size_t count) {
    const auto& t = Tables().t;
    auto* p = static_cast<const uint8_t*>(data);
    while (count >= 4) {
        reg ^= static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
               (static_cast<uint32_t>(p[3]) << 24);
        reg = t[3][reg & 0xFF] ^ t[2][(reg >> 8) & 0xFF] ^ t[1][(reg >> 16) & 0xFF] ^ t[0][reg >> 24];
        p += 4;
        count -= 4;
    }
    while (count--) reg = t[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
    return reg;
}

uint32_t Crc32(const void* data, size_t count) { return ~CrcUpdate(0xFFFFFFFFu, data, count); }

void SystemRandomBytes(uint8_t* buffer, size_t count) {
    if (!RtlGenRandom(buffer, static_cast<ULONG>(count)))
        throw Exception("The system's random source failed: " + SysErrorMessage(::GetLastError()));
}

TZipCipher::TZipCipher(const std::string& password) {
    for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void TZipCipher::UpdateKeys(uint8_t plain) {
    const auto& t = Tables().t[0];
    k0_ = t[(k0_ ^ plain) & 0xFF] ^ (k0_ >> 8);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = t[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
}

uint8_t TZipCipher::KeyStreamByte() const {
    uint16_t temp = static_cast<uint16_t>(k2_ | 2);
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void TZipCipher::Encrypt(uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint8_t plain = data[i];
        data[i] = plain ^ KeyStreamByte();
        UpdateKeys(plain);
    }
}

void TZipCipher::Decrypt(uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        data[i] ^= KeyStreamByte();
        UpdateKeys(data[i]);
    }
}

void TZipCipher::MakeHeader(uint32_t crc, const TZipRandomSource& random, uint8_t header[12]) {
    if (random) random(header, 10);
    else SystemRandomBytes(header, 10);
    header[10] = static_cast<uint8_t>(crc >> 16);
    header[11] = static_cast<uint8_t>(crc >> 24);
    Encrypt(header, 12);
}

} // namespace krv
