#pragma once
// Microsoft ADPCM in WAV (format tag 2): per block a header of predictor
// index, delta and two history samples per channel, then 4-bit codes, high
// nibble first, channels alternating. The predictor pairs come from the
// format's extra bytes.
#include "audio/WaveDecoder.h"
#include "audio/WaveFormatInfo.h"

class CMsAdpcmDecoder final : public CWaveDecoder {
public:
    explicit CMsAdpcmDecoder(const WaveFormatInfo& format);
    int GetSourceBlock() const override { return m_blockAlign; }
    int GetPcmBlock() const override { return m_samplesPerBlock * m_channels * 2; }
    void Decode(const uint8_t* src, int blocks, int16_t* dst) override;

    // Mono or stereo, a samples-per-block word that fits the block, and at
    // least one predictor pair (at most 256).
    static bool Accepts(const WaveFormatInfo& format);

    static constexpr int kMaxCoefficients = 256;

private:
    void DecodeBlock(const uint8_t* src, int16_t* dst) const;

    int m_channels;
    int m_blockAlign;
    int m_samplesPerBlock;
    int m_coefficientCount;
    int m_coefficients[kMaxCoefficients][2];
};
