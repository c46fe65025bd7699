#pragma once
// Layer I/II decoder core: pulls coded bytes through a read callback and turns
// one frame per call into PCM, concealing damaged frames. One decoder is used
// by one thread at a time; separate decoders share nothing.
#include <cstdint>

#include "codecs/mpeg2/Mp2Frame.h"

// Byte 0 output width (1 = 16-bit, 0 = 8-bit), byte 2 ancillary format (0, 1, 5).
using Mp2DecoderOptions = uint32_t;
// Bits 0-4 two-channel routing, bits 5-7 one-channel routing, byte 1 synthesis
// width (1 = half), byte 3 = 1 allows the reduced-rate mode.
using Mp2OutputFormat = uint32_t;

struct Mp2Decoder;

// Results of Mp2DecodeFrame besides 0; every one but kMp2NeedInput and
// kMp2BadOptions leaves a concealed block (repeat or silence) to play.
enum Mp2Status : int {
    kMp2NeedInput = 1001,    // more input is needed; nothing was output
    kMp2CrcMismatch = 1002,
    kMp2BadOptions = -1001,  // Mp2DecoderOpen: an option byte out of range
    kMp2NoSync = -1004,      // no sync word where the frame should begin
    kMp2BadHeader = -1006,
    kMp2BadAllocation = -1007,
    kMp2BadScaleFactors = -1008,
    kMp2BadSamples = -1009,
};

constexpr bool Mp2IsConcealed(int code) {
    return code == kMp2CrcMismatch || (code <= kMp2NoSync && code >= kMp2BadSamples);
}

// PCM samples per channel one frame can yield at most (Layer II, x4 rate conversion).
constexpr int kMp2MaxSamplesPerChannel = 4608;

int Mp2DecoderOpen(Mp2DecoderOptions options, Mp2OutputFormat format, Mp2ReadCallback callback, void* user,
                   Mp2Decoder** handle);
int Mp2DecoderRestart(Mp2Decoder* handle);
// pcm->data must hold kMp2MaxSamplesPerChannel x 2 samples of the output width.
int Mp2DecodeFrame(Mp2HeaderWord* header, Mp2PcmBlock* pcm, Mp2AncillaryData* ancillary, Mp2Decoder* handle);
int Mp2DecoderClose(Mp2Decoder** handle);

// Consecutive failed frames of this decoder (0 after a good frame).
int Mp2DecoderFailureCount(const Mp2Decoder* handle);
// 0 looking for the first header, 1 decoding, 2 muted and searching.
int Mp2DecoderState(const Mp2Decoder* handle);
// Bytes from the input start of the last Mp2DecoderRestart to the end of the
// frame that the last successful Mp2DecodeFrame decoded or found; 0 unknown.
int Mp2DecoderFrameEndBytes(const Mp2Decoder* handle);
