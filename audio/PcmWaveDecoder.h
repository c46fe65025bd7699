#pragma once
// Integer PCM of 8, 24 or 32 bits per sample (and 16-bit PCM in an extensible
// header) to 16-bit: 8-bit samples are unsigned, the others signed
// little-endian; wider samples keep their top 16 bits.
#include "audio/WaveDecoder.h"
#include "audio/WaveFormatInfo.h"

class CPcmWaveDecoder final : public CWaveDecoder {
public:
    explicit CPcmWaveDecoder(const WaveFormatInfo& format);
    int GetSourceBlock() const override { return m_bytesPerSample * m_channels; }
    int GetPcmBlock() const override { return 2 * m_channels; }
    void Decode(const uint8_t* src, int blocks, int16_t* dst) override;

    // Containers this decoder reads: 1, 2, 3 or 4 bytes a sample.
    static bool Accepts(const WaveFormatInfo& format);

private:
    int m_channels;
    int m_bytesPerSample;
};
