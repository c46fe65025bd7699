#pragma once
// IMA ADPCM in WAV (format tag 0x11): per block and channel a 4-byte header
// (first sample, step index, a reserved byte), then groups of 4 bytes per
// channel, 8 samples each, low nibble first.
#include "audio/WaveDecoder.h"
#include "audio/WaveFormatInfo.h"

class CImaAdpcmDecoder final : public CWaveDecoder {
public:
    explicit CImaAdpcmDecoder(const WaveFormatInfo& format);
    int GetSourceBlock() const override { return m_blockAlign; }
    int GetPcmBlock() const override { return m_samplesPerBlock * m_channels * 2; }
    void Decode(const uint8_t* src, int blocks, int16_t* dst) override;

    // A block that holds its headers and whole 4-byte groups for every channel.
    static bool Accepts(const WaveFormatInfo& format);

private:
    void DecodeBlock(const uint8_t* src, int16_t* dst) const;

    int m_channels;
    int m_blockAlign;
    int m_samplesPerBlock;
};
