#pragma once
// Layer I/II encoder core: one frame of PCM per call becomes one frame of
// bytes handed whole to the user's write callback. One encoder is used by one
// thread at a time.
#include <cstdint>

#include "codecs/mpeg2/Mp2Frame.h"

struct Mp2InputDescriptor {
    uint8_t width;         // 1 signed 16-bit, 0 unsigned 8-bit
    uint8_t unused1;
    uint8_t ancFormat;     // 0 none, 1 counted trailer, 5 raw trailer
    uint8_t unused3;
    uint8_t layout;        // 0x40, 0x81, 0x82, 0x83, 0x86, 0x89
    uint8_t rateFactor;    // 0 coded rate, 1 twice the coded rate, 2 as 0
    uint8_t padding;       // 0 automatic, 1 never, 2 always
    uint8_t allowReduced;  // 1 allows the reduced-rate mode
};
static_assert(sizeof(Mp2InputDescriptor) == 8);

struct Mp2FrameControl {
    const Mp2HeaderWord* header;
    const Mp2InputDescriptor* descriptor;
};

using Mp2WriteCallback = int (*)(const uint8_t* frame, int* length, void* user);

struct Mp2Encoder;

// Largest frame the encoder can hand over (Layer II at 32 kHz, 384 kbit/s, padded).
constexpr int kMp2MaxFrameBytes = 1729;

int Mp2EncoderOpen(Mp2WriteCallback callback, void* user, const Mp2HeaderWord* header,
                   const Mp2InputDescriptor* descriptor, int* samplesPerFrame, int modelSelector, Mp2Encoder** handle);
int Mp2EncodeFrame(const Mp2FrameControl* control, const Mp2PcmBlock* pcm, const Mp2AncillaryData* ancillary,
                   Mp2Encoder* handle);
int Mp2EncoderClose(Mp2Encoder** handle);

// Code for a frame that would not fit the frame length its header gives; the
// frame is not handed over.
constexpr int kMp2FrameOverflow = -21;
