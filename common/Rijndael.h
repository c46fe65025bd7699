#pragma once
// AES-256: Rijndael with 16-byte blocks and a 32-byte key (14 rounds), one
// block at a time. Used to decipher language files; the encryption side is
// kept so that files and tests can be made with the same code.
#include <cstddef>
#include <cstdint>

class CRijndael {
public:
    static constexpr size_t kBlockBytes = 16;
    static constexpr size_t kKeyBytes = 32;

    explicit CRijndael(const uint8_t key[kKeyBytes]);

    void EncryptBlock(const uint8_t in[kBlockBytes], uint8_t out[kBlockBytes]) const;
    void DecryptBlock(const uint8_t in[kBlockBytes], uint8_t out[kBlockBytes]) const;
    // ECB over every whole block of buf, in place; the size mod 16 bytes at
    // the end are left to the caller.
    void DecryptEcb(uint8_t* buf, size_t size) const;
    void EncryptEcb(uint8_t* buf, size_t size) const;

private:
    static constexpr int kRounds = 14;
    uint8_t m_roundKeys[(kRounds + 1) * kBlockBytes];
};
