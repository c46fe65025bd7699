#pragma once
// The only entry into the Layer III encoder: plain functions on an opaque
// handle. At every open it picks an engine by ChooseMp3Engine: the l3core
// library, or the second engine with or without its resampler. Called on
// the call engine's worker thread only; allocates at open, not per frame.
#include <cstdint>

#include "mp3enc/Mp3EncoderDefaults.h"
#include "mp3enc/Mp3EngineChoice.h"

struct Mp3Encoder;

struct Mp3EncoderFormat {
    uint32_t sampleRate;  // coded rate, Hz (0: pick one for the bit rate)
    uint32_t channels;    // coded channels
    uint32_t bitRate;     // bit/s, all channels
};

// Null for an unsupported rate, channel count or preset, or a failed open.
// preset 0, 1 or 2: the l3core quality 0, 5 or 9, and from 40000 bit/s per
// coded channel (but not at 320000) the l3core engine.
Mp3Encoder* Mp3EncoderCreate(int sampleRate, int channels, int preset);
int Mp3EncoderDestroy(Mp3Encoder* encoder);
int Mp3EncoderSetFormat(Mp3Encoder* encoder, const Mp3EncoderFormat* format);
Mp3EncoderConfig* Mp3EncoderGetConfig(Mp3Encoder* encoder);
int Mp3EncoderSetConfig(Mp3Encoder* encoder, const Mp3EncoderConfig* config);
// Coded bytes written, 0 while a frame is incomplete or no engine is open, -1
// on an error. pcmBytes 0 marks the end of input and flushes.
int Mp3EncoderEncode(Mp3Encoder* encoder, const void* pcm, int pcmBytes, int* consumed, uint8_t* out, int outRoom,
                     const uint8_t* ancillary, int* ancillaryCount);

// Which engine the last open chose (kRefused after a failed open).
Mp3Engine Mp3EncoderGetEngine(const Mp3Encoder* encoder);
