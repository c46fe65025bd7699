#include "audio/G711WaveDecoder.h"

#include "codecs/g711/G711Codec.h"

CG711WaveDecoder::CG711WaveDecoder(const WaveFormatInfo& format, bool aLaw)
    : m_channels(format.channels), m_aLaw(aLaw) {}

bool CG711WaveDecoder::Accepts(const WaveFormatInfo& format) {
    return format.channels > 0 && format.blockAlign == format.channels;
}

void CG711WaveDecoder::Decode(const uint8_t* src, int blocks, int16_t* dst) {
    const int samples = blocks * m_channels;
    if (m_aLaw) {
        for (int i = 0; i < samples; ++i) dst[i] = CG711Codec::ALawToLinear(src[i]);
    } else {
        for (int i = 0; i < samples; ++i) dst[i] = CG711Codec::MuLawToLinear(src[i]);
    }
}
