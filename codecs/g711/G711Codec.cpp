#include "codecs/g711/G711Codec.h"

#include <array>

#include "common/SharedState.h"

namespace {

constexpr int16_t kALawSegmentEnd[8] = {31, 63, 127, 255, 511, 1023, 2047, 4095};
constexpr int16_t kMuLawSegmentEnd[8] = {63, 127, 255, 511, 1023, 2047, 4095, 8191};
constexpr int kMuLawClip = 8159;
constexpr int kMuLawBias = 33;  // 0x84 at 16-bit scale, in the 14-bit domain

// Decoded value of each code, at 16-bit scale (the midpoint of its interval).
constexpr int16_t ExpandALaw(uint8_t code) {
    const int a = code ^ 0x55;  // undo the even-bit inversion
    const int segment = (a >> 4) & 7;
    int t = ((a & 0x0F) << 4) + 8;
    if (segment != 0) t = (t + 0x100) << (segment - 1);
    return static_cast<int16_t>((a & 0x80) ? t : -t);
}

constexpr int16_t ExpandMuLaw(uint8_t code) {
    const int u = ~code & 0xFF;  // all bits are inverted on the line
    const int t = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
    return static_cast<int16_t>((u & 0x80) ? 0x84 - t : t - 0x84);
}

template <int16_t (*Expand)(uint8_t)>
constexpr std::array<int16_t, 256> MakeTable() {
    std::array<int16_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = Expand(static_cast<uint8_t>(i));
    return t;
}

constexpr std::array<int16_t, 256> kALawTable = MakeTable<ExpandALaw>();
constexpr std::array<int16_t, 256> kMuLawTable = MakeTable<ExpandMuLaw>();
static_assert(kALawTable[0xD5] == 8 && kALawTable[0x55] == -8 && kALawTable[0x00] == -5504);
static_assert(kMuLawTable[0xFF] == 0 && kMuLawTable[0x7F] == 0 && kMuLawTable[0x00] == -32124);

int FrameBytes() {
    const int block = g_sharedState ? g_sharedState->isdnBlockLength : 0;
    // Only the ISDN transport sets the block length; other calls keep its timing.
    return 2 * (block > 0 ? block : CG711Codec::kDefaultBlockLength);
}

}  // namespace

uint8_t CG711Codec::LinearToALaw(int16_t x) {
    int v = x >> 3;
    int mask = 0xD5;
    if (x < 0) {
        v = -1 - v;
        mask = 0x55;
    }
    int s = 0;
    while (s < 8 && kALawSegmentEnd[s] < v) ++s;
    if (s == 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int code = (s << 4) | ((v >> (s < 2 ? 1 : s)) & 0x0F);
    return static_cast<uint8_t>(code ^ mask);
}

uint8_t CG711Codec::LinearToMuLaw(int16_t x) {
    int v = x >> 2;
    int mask = 0xFF;
    if (x < 0) {
        v = -v;
        mask = 0x7F;
    }
    if (v > kMuLawClip) v = kMuLawClip;
    v += kMuLawBias;
    int s = 0;
    while (s < 8 && kMuLawSegmentEnd[s] < v) ++s;
    if (s == 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int code = (s << 4) | ((v >> (s + 1)) & 0x0F);
    return static_cast<uint8_t>(code ^ mask);
}

int16_t CG711Codec::ALawToLinear(uint8_t code) { return kALawTable[code]; }
int16_t CG711Codec::MuLawToLinear(uint8_t code) { return kMuLawTable[code]; }

int CG711Codec::GetDecodeFrameSize(const AudioFormat*) { return FrameBytes(); }
int CG711Codec::GetEncodeFrameSize(const AudioFormat*) { return FrameBytes(); }

void CG711Codec::SetDecodeFormat(const AudioFormat* format) {
    if (format) m_decodeLaw = format->codingType;
}

void CG711Codec::SetEncodeFormat(const AudioFormat* format) {
    if (format) m_encodeLaw = format->codingType;
}

int CG711Codec::Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) {
    if (!coded || !pcm || !consumed) return 0;
    *consumed = 0;
    int n = pcmRoom / 2;
    if (codedBytes < n) n = codedBytes;
    if (n <= 0) return 0;
    const int16_t* table = (m_decodeLaw == CODING_G711_ALAW) ? kALawTable.data() : kMuLawTable.data();
    for (int i = 0; i < n; ++i) pcm[i] = table[coded[i]];
    *consumed = n;
    return 2 * n;
}

int CG711Codec::Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) {
    if (!pcm || !coded || !consumed) return 0;
    *consumed = 0;
    // 64-bit: twice a huge room must not wrap into a negative comparison.
    int n = codedRoom;
    if (2 * static_cast<int64_t>(codedRoom) >= pcmBytes) n = pcmBytes / 2;
    if (n <= 0) return 0;
    if (m_encodeLaw == CODING_G711_ALAW) {
        for (int i = 0; i < n; ++i) coded[i] = LinearToALaw(pcm[i]);
    } else {
        for (int i = 0; i < n; ++i) coded[i] = LinearToMuLaw(pcm[i]);
    }
    *consumed = 2 * n;
    return n;
}
