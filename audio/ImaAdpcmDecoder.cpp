#include "audio/ImaAdpcmDecoder.h"

#include <algorithm>

namespace {

constexpr int kStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexSteps[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaState {
    int predictor;
    int index;

    int16_t Next(int nibble) {
        const int step = kStepSizes[index];
        int diff = step >> 3;
        if (nibble & 4) diff += step;
        if (nibble & 2) diff += step >> 1;
        if (nibble & 1) diff += step >> 2;
        predictor = std::clamp(nibble & 8 ? predictor - diff : predictor + diff, -32768, 32767);
        index = std::clamp(index + kIndexSteps[nibble & 7], 0, 88);
        return static_cast<int16_t>(predictor);
    }
};

}  // namespace

CImaAdpcmDecoder::CImaAdpcmDecoder(const WaveFormatInfo& format)
    : m_channels(format.channels),
      m_blockAlign(format.blockAlign),
      m_samplesPerBlock((format.blockAlign - 4 * format.channels) * 2 / format.channels + 1) {}

bool CImaAdpcmDecoder::Accepts(const WaveFormatInfo& format) {
    if (format.channels < 1 || format.channels > 2 || format.bitsPerSample != 4) return false;
    const int data = format.blockAlign - 4 * format.channels;
    return data > 0 && data % (4 * format.channels) == 0;
}

void CImaAdpcmDecoder::Decode(const uint8_t* src, int blocks, int16_t* dst) {
    for (int b = 0; b < blocks; ++b) DecodeBlock(src + b * m_blockAlign, dst + b * m_samplesPerBlock * m_channels);
}

void CImaAdpcmDecoder::DecodeBlock(const uint8_t* src, int16_t* dst) const {
    ImaState state[2];
    for (int c = 0; c < m_channels; ++c) {
        const uint8_t* h = src + 4 * c;
        state[c].predictor = static_cast<int16_t>(h[0] | (h[1] << 8));
        state[c].index = std::min<int>(h[2], 88);  // an index past the table is the file's fault, not ours
        dst[c] = static_cast<int16_t>(state[c].predictor);
    }
    const uint8_t* p = src + 4 * m_channels;
    const int groups = (m_samplesPerBlock - 1) / 8;
    for (int g = 0; g < groups; ++g) {
        for (int c = 0; c < m_channels; ++c) {
            int16_t* out = dst + (1 + g * 8) * m_channels + c;
            for (int i = 0; i < 4; ++i) {
                const uint8_t byte = *p++;
                out[(2 * i) * m_channels] = state[c].Next(byte & 0x0F);
                out[(2 * i + 1) * m_channels] = state[c].Next(byte >> 4);
            }
        }
    }
}
