#pragma once
// A-law or mu-law WAV data, one byte a sample, through our G.711 laws.
#include "audio/WaveDecoder.h"
#include "audio/WaveFormatInfo.h"

class CG711WaveDecoder final : public CWaveDecoder {
public:
    CG711WaveDecoder(const WaveFormatInfo& format, bool aLaw);
    int GetSourceBlock() const override { return m_channels; }
    int GetPcmBlock() const override { return 2 * m_channels; }
    void Decode(const uint8_t* src, int blocks, int16_t* dst) override;

    static bool Accepts(const WaveFormatInfo& format);

private:
    int m_channels;
    bool m_aLaw;
};
