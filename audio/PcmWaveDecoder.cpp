#include "audio/PcmWaveDecoder.h"

CPcmWaveDecoder::CPcmWaveDecoder(const WaveFormatInfo& format)
    : m_channels(format.channels), m_bytesPerSample(format.blockAlign / format.channels) {}

bool CPcmWaveDecoder::Accepts(const WaveFormatInfo& format) {
    if (format.channels <= 0 || format.blockAlign % format.channels != 0) return false;
    const int bytes = format.blockAlign / format.channels;
    return bytes >= 1 && bytes <= 4 && format.bitsPerSample > 0 && format.bitsPerSample <= bytes * 8;
}

void CPcmWaveDecoder::Decode(const uint8_t* src, int blocks, int16_t* dst) {
    const int samples = blocks * m_channels;
    switch (m_bytesPerSample) {
    case 1:
        for (int i = 0; i < samples; ++i) dst[i] = static_cast<int16_t>((src[i] - 128) * 256);
        break;
    case 2:
        for (int i = 0; i < samples; ++i) dst[i] = static_cast<int16_t>(src[2 * i] | (src[2 * i + 1] << 8));
        break;
    default:
        // The top two bytes of each little-endian sample.
        for (int i = 0; i < samples; ++i) {
            const uint8_t* s = src + i * m_bytesPerSample + m_bytesPerSample - 2;
            dst[i] = static_cast<int16_t>(s[0] | (s[1] << 8));
        }
        break;
    }
}
