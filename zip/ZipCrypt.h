// CRC-32 of the zip format and the traditional zip cipher, both our own code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace krv {

// Updates a CRC register (preset 0xFFFFFFFF, invert at the end).
uint32_t CrcUpdate(uint32_t reg, const void* data, size_t count);
// The finished CRC-32 of a buffer.
uint32_t Crc32(const void* data, size_t count);

// Fills a buffer with bytes for the encryption header. Injectable so encrypted
// archives can be compared with golden bytes.
using TZipRandomSource = std::function<void(uint8_t* buffer, size_t count)>;
// The system's cryptographic random source.
void SystemRandomBytes(uint8_t* buffer, size_t count);

class TZipCipher {
public:
    explicit TZipCipher(const std::string& password);
    // Encrypts in place.
    void Encrypt(uint8_t* data, size_t count);
    // Decrypts in place (for tests and the read side).
    void Decrypt(uint8_t* data, size_t count);
    // The 12-byte header: 10 random bytes, then the high two bytes of the CRC; encrypted.
    void MakeHeader(uint32_t crc, const TZipRandomSource& random, uint8_t header[12]);

private:
    uint8_t KeyStreamByte() const;
    void UpdateKeys(uint8_t plain);
    uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

} // namespace krv
