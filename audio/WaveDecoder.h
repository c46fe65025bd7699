#pragma once
// One WAV coding that the compressed-WAV converter turns into 16-bit PCM with
// the source's channel count and rate, one source block at a time. A decoder
// is made for one format by its row in the decoder table and lives as long as
// the converter that opened it. Called from the converter's thread only.
#include <cstdint>

class CWaveDecoder {
public:
    virtual ~CWaveDecoder() = default;
    // Bytes of one source block and of the PCM it gives; fixed once made.
    virtual int GetSourceBlock() const = 0;
    virtual int GetPcmBlock() const = 0;
    // Decodes `blocks` whole source blocks into blocks x GetPcmBlock() bytes.
    virtual void Decode(const uint8_t* src, int blocks, int16_t* dst) = 0;
};
