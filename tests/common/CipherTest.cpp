#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/Rijndael.h"
#include "common/Sha256.h"

namespace {

std::vector<uint8_t> Hex(const char* text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    }
    return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

struct AesVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

TEST(RijndaelTest, Aes256KnownAnswers) {
    const AesVector vectors[] = {
        // FIPS-197 appendix C.3
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        // SP 800-38A F.1.5, ECB-AES256, blocks 1 and 4
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "6bc1bee22e409f96e93d7e117393172a", "f3eed1bdb5d2a03c064b5a7e3db181f8"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f69f2445df4f9b17ad2b417be66c3710", "23304b7a39f9f3ff067d8d8f9e24ecc7"},
    };
    for (const auto& v : vectors) {
        const auto key = Hex(v.key);
        const auto plain = Hex(v.plain);
        CRijndael aes(key.data());
        uint8_t out[16];
        aes.EncryptBlock(plain.data(), out);
        EXPECT_EQ(ToHex(out, 16), v.cipher);
        uint8_t back[16];
        aes.DecryptBlock(out, back);
        EXPECT_EQ(ToHex(back, 16), v.plain);
    }
}

TEST(RijndaelTest, EcbLeavesThePartialTailAlone) {
    const auto key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    CRijndael aes(key.data());
    std::vector<uint8_t> buf(37);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i * 7);
    const auto original = buf;
    aes.EncryptEcb(buf.data(), buf.size());
    EXPECT_NE(std::memcmp(buf.data(), original.data(), 32), 0);
    EXPECT_EQ(std::memcmp(buf.data() + 32, original.data() + 32, 5), 0);
    aes.DecryptEcb(buf.data(), buf.size());
    EXPECT_EQ(buf, original);
}

TEST(Sha256Test, NistVectors) {
    struct {
        std::string message;
        const char* digest;
    } const vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& v : vectors) {
        uint8_t digest[32];
        Sha256(reinterpret_cast<const uint8_t*>(v.message.data()), v.message.size(), digest);
        EXPECT_EQ(ToHex(digest, 32), v.digest) << "length " << v.message.size();
    }
}

TEST(Sha256Test, LittleEndianLengthVariantDiffersOnlyInTheLengthField) {
    uint8_t be[32], le[32];
    Sha256(nullptr, 0, be);
    Sha256(nullptr, 0, le, Sha256Length::LittleEndian);
    EXPECT_EQ(ToHex(be, 32), ToHex(le, 32));  // a zero length reads the same both ways
    // Lengths around the block boundary, where the padding takes a second block.
    for (size_t n : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u}) {
        std::vector<uint8_t> msg(n, 0x5A);
        Sha256(msg.data(), n, be);
        Sha256(msg.data(), n, le, Sha256Length::LittleEndian);
        EXPECT_NE(ToHex(be, 32), ToHex(le, 32)) << n;
    }
}

}  // namespace
