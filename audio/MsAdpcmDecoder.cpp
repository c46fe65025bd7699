#include "audio/MsAdpcmDecoder.h"

#include <algorithm>

#include "common/ByteOrder.h"

namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
// Far above any step an encoder makes (a step of 2^17 already swings any code
// across the whole 16-bit range); a corrupt block cannot grow it past this.
constexpr int kMaxDelta = 1 << 20;

struct MsState {
    int coef1;
    int coef2;
    int delta;
    int sample1;
    int sample2;

    int16_t Next(int nibble) {
        const int predicted = (sample1 * coef1 + sample2 * coef2) >> 8;
        const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
        const int sample = std::clamp(predicted + signedNibble * delta, -32768, 32767);
        sample2 = sample1;
        sample1 = sample;
        delta = std::clamp((kAdaptation[nibble] * delta) >> 8, 16, kMaxDelta);
        return static_cast<int16_t>(sample);
    }
};

int SamplesPerBlock(const WaveFormatInfo& format) {
    return format.extraBytes >= 2 ? GetLe16(format.extra) : 0;
}

}  // namespace

CMsAdpcmDecoder::CMsAdpcmDecoder(const WaveFormatInfo& format)
    : m_channels(format.channels),
      m_blockAlign(format.blockAlign),
      m_samplesPerBlock(SamplesPerBlock(format)),
      m_coefficientCount(GetLe16(format.extra + 2)) {
    for (int i = 0; i < m_coefficientCount; ++i) {
        m_coefficients[i][0] = static_cast<int16_t>(GetLe16(format.extra + 4 + 4 * i));
        m_coefficients[i][1] = static_cast<int16_t>(GetLe16(format.extra + 6 + 4 * i));
    }
}

bool CMsAdpcmDecoder::Accepts(const WaveFormatInfo& format) {
    if (format.channels < 1 || format.channels > 2 || format.extraBytes < 4 || format.extra == nullptr) return false;
    const int header = 7 * format.channels;
    const int samples = SamplesPerBlock(format);
    const int count = GetLe16(format.extra + 2);
    if (count < 1 || count > kMaxCoefficients || format.extraBytes < 4 + 4 * count) return false;
    // Two samples come from the header, the rest from nibbles inside the block.
    return samples >= 2 && format.blockAlign > header &&
           (samples - 2) * format.channels <= (format.blockAlign - header) * 2;
}

void CMsAdpcmDecoder::Decode(const uint8_t* src, int blocks, int16_t* dst) {
    for (int b = 0; b < blocks; ++b) DecodeBlock(src + b * m_blockAlign, dst + b * m_samplesPerBlock * m_channels);
}

void CMsAdpcmDecoder::DecodeBlock(const uint8_t* src, int16_t* dst) const {
    const int ch = m_channels;
    MsState state[2];
    for (int c = 0; c < ch; ++c) {
        // A predictor index beyond the pairs is the file's fault: the last pair stands in.
        const int index = std::min<int>(src[c], m_coefficientCount - 1);
        state[c].coef1 = m_coefficients[index][0];
        state[c].coef2 = m_coefficients[index][1];
        state[c].delta = static_cast<int16_t>(GetLe16(src + ch + 2 * c));
        state[c].sample1 = static_cast<int16_t>(GetLe16(src + 3 * ch + 2 * c));
        state[c].sample2 = static_cast<int16_t>(GetLe16(src + 5 * ch + 2 * c));
        dst[c] = static_cast<int16_t>(state[c].sample2);
        dst[ch + c] = static_cast<int16_t>(state[c].sample1);
    }
    const uint8_t* p = src + 7 * ch;
    const int codes = (m_samplesPerBlock - 2) * ch;
    int16_t* out = dst + 2 * ch;
    for (int i = 0; i < codes; ++i) {
        const int nibble = i & 1 ? p[i / 2] & 0x0F : p[i / 2] >> 4;
        out[i] = state[i % ch].Next(nibble);
    }
}
