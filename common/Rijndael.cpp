#include "common/Rijndael.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t XTime(uint8_t b) { return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint8_t Rotl8(uint8_t b, int n) { return static_cast<uint8_t>((b << n) | (b >> (8 - n))); }

// The S-box: multiplicative inverse in GF(2^8) followed by the affine map.
struct Boxes {
    std::array<uint8_t, 256> sbox{};
    std::array<uint8_t, 256> inv{};
    constexpr Boxes() {
        // Powers of the generator 3 give the logarithms, and from them the inverses.
        std::array<uint8_t, 256> exp{};
        std::array<uint8_t, 256> log{};
        uint8_t p = 1;
        for (int i = 0; i < 255; ++i) {
            exp[i] = p;
            log[p] = static_cast<uint8_t>(i);
            p = GfMul(p, 3);
        }
        for (int x = 0; x < 256; ++x) {
            const uint8_t inverse = x == 0 ? 0 : exp[(255 - log[x]) % 255];
            const uint8_t s = static_cast<uint8_t>(inverse ^ Rotl8(inverse, 1) ^ Rotl8(inverse, 2) ^
                                                   Rotl8(inverse, 3) ^ Rotl8(inverse, 4) ^ 0x63);
            sbox[x] = s;
            inv[s] = static_cast<uint8_t>(x);
        }
    }
};
constexpr Boxes kBoxes;
static_assert(kBoxes.sbox[0x00] == 0x63 && kBoxes.sbox[0x53] == 0xED);

void AddRoundKey(uint8_t* s, const uint8_t* k) {
    for (int i = 0; i < 16; ++i) s[i] ^= k[i];
}

// State byte (row r, column c) is s[r + 4c].
void ShiftRows(uint8_t* s) {
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[r + 4 * c] = s[r + 4 * ((c + r) % 4)];
    std::memcpy(s, t, 16);
}

void InvShiftRows(uint8_t* s) {
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[r + 4 * ((c + r) % 4)] = s[r + 4 * c];
    std::memcpy(s, t, 16);
}

void MixColumns(uint8_t* s) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* a = s + 4 * c;
        const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        a[0] = static_cast<uint8_t>(XTime(a0) ^ (XTime(a1) ^ a1) ^ a2 ^ a3);
        a[1] = static_cast<uint8_t>(a0 ^ XTime(a1) ^ (XTime(a2) ^ a2) ^ a3);
        a[2] = static_cast<uint8_t>(a0 ^ a1 ^ XTime(a2) ^ (XTime(a3) ^ a3));
        a[3] = static_cast<uint8_t>((XTime(a0) ^ a0) ^ a1 ^ a2 ^ XTime(a3));
    }
}

void InvMixColumns(uint8_t* s) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* a = s + 4 * c;
        const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        a[0] = GfMul(a0, 14) ^ GfMul(a1, 11) ^ GfMul(a2, 13) ^ GfMul(a3, 9);
        a[1] = GfMul(a0, 9) ^ GfMul(a1, 14) ^ GfMul(a2, 11) ^ GfMul(a3, 13);
        a[2] = GfMul(a0, 13) ^ GfMul(a1, 9) ^ GfMul(a2, 14) ^ GfMul(a3, 11);
        a[3] = GfMul(a0, 11) ^ GfMul(a1, 13) ^ GfMul(a2, 9) ^ GfMul(a3, 14);
    }
}

}  // namespace

CRijndael::CRijndael(const uint8_t key[kKeyBytes]) {
    constexpr int kNk = 8;
    constexpr int kWords = 4 * (kRounds + 1);
    uint8_t* w = m_roundKeys;
    std::memcpy(w, key, kKeyBytes);
    uint8_t rcon = 1;
    for (int i = kNk; i < kWords; ++i) {
        uint8_t t[4];
        std::memcpy(t, w + 4 * (i - 1), 4);
        if (i % kNk == 0) {
            const uint8_t first = t[0];
            t[0] = static_cast<uint8_t>(kBoxes.sbox[t[1]] ^ rcon);
            t[1] = kBoxes.sbox[t[2]];
            t[2] = kBoxes.sbox[t[3]];
            t[3] = kBoxes.sbox[first];
            rcon = XTime(rcon);
        } else if (i % kNk == 4) {
            for (auto& b : t) b = kBoxes.sbox[b];
        }
        for (int j = 0; j < 4; ++j) w[4 * i + j] = w[4 * (i - kNk) + j] ^ t[j];
    }
}

void CRijndael::EncryptBlock(const uint8_t in[kBlockBytes], uint8_t out[kBlockBytes]) const {
    uint8_t s[16];
    std::memcpy(s, in, 16);
    AddRoundKey(s, m_roundKeys);
    for (int round = 1; round <= kRounds; ++round) {
        for (auto& b : s) b = kBoxes.sbox[b];
        ShiftRows(s);
        if (round != kRounds) MixColumns(s);
        AddRoundKey(s, m_roundKeys + 16 * round);
    }
    std::memcpy(out, s, 16);
}

void CRijndael::DecryptBlock(const uint8_t in[kBlockBytes], uint8_t out[kBlockBytes]) const {
    uint8_t s[16];
    std::memcpy(s, in, 16);
    AddRoundKey(s, m_roundKeys + 16 * kRounds);
    for (int round = kRounds - 1; round >= 0; --round) {
        InvShiftRows(s);
        for (auto& b : s) b = kBoxes.inv[b];
        AddRoundKey(s, m_roundKeys + 16 * round);
        if (round != 0) InvMixColumns(s);
    }
    std::memcpy(out, s, 16);
}

void CRijndael::DecryptEcb(uint8_t* buf, size_t size) const {
    for (size_t at = 0; at + kBlockBytes <= size; at += kBlockBytes) DecryptBlock(buf + at, buf + at);
}

void CRijndael::EncryptEcb(uint8_t* buf, size_t size) const {
    for (size_t at = 0; at + kBlockBytes <= size; at += kBlockBytes) EncryptBlock(buf + at, buf + at);
}
