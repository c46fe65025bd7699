#pragma once
// The interface through which the audio engine encodes captured PCM and decodes
// received bytes. One object serves both directions with independent states.
// Implementations are embedded by value in the audio engine and never deleted
// through this interface. PCM is interleaved int16 at the format's rate; all
// lengths are byte counts. Called from the call engine's worker thread only.
#include <cstdint>

#include "common/Records.h"

class CCodec {
public:
    // PCM bytes one Decode call produces at most for one coded block.
    virtual int GetDecodeFrameSize(const AudioFormat* format) = 0;
    // PCM bytes one Encode call consumes.
    virtual int GetEncodeFrameSize(const AudioFormat* format) = 0;
    virtual void SetDecodeFormat(const AudioFormat* format) = 0;
    // PCM bytes written; *consumed receives the coded bytes used.
    virtual int Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) = 0;
    virtual void CloseDecoder() = 0;
    virtual int OpenDecoder() = 0;  // 1 created, 0 failed (later calls must stay harmless)
    virtual void SetEncodeFormat(const AudioFormat* format) = 0;
    // Coded bytes written; *consumed receives the PCM bytes used.
    virtual int Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) = 0;
    virtual void CloseEncoder() = 0;
    virtual int OpenEncoder() = 0;

protected:
    ~CCodec() = default;  // never deleted through the interface
};
