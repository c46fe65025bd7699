#pragma once
// The Layer III bitstream writer: sets each granule's bit budget from its
// perceptual entropy and the reservoir, then writes quantised frames as a byte
// stream whose main data may begin in earlier frames (the bit reservoir).
// One encoder's thread; instances share nothing.
#include <cstdint>

#include "mp3enc/bitmux/BitBuffer.h"
#include "mp3enc/l3core/core/bitmux/BitFrame.h"
#include "mp3enc/l3core/core/bitmux/FrameQueue.h"
#include "mp3enc/l3core/core/bitmux/PsyGranule.h"
#include "mp3enc/l3core/core/bitmux/QuantFrame.h"
#include "mp3enc/util/EncError.h"

inline constexpr int kSideBufferBits = 8000;
inline constexpr int kMainBufferBits = 64000;
inline constexpr int kOutputBufferBits = 64000;

struct BitstreamEncoder {
    int version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int sampleRate;
    int samplingIndex;
    int stereoMode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int crc;
    int headerBits, sideInfoBits, crcBits, fixedBits;
    int fixedAncillaryBits;
    int channels;
    int granules;
    int privateBit, copyright, original, emphasis;
    int blockType[4];
    int pe[4];
    int midSide[4];
    int intensity[4];
    float demand[4];
    int budget[4];
    int modeExtension;
    int frameBits;
    int meanBitsLessFixed;
    int bitsAvailable;
    int reservedAncillaryBits;
    int usedBits;
    int stuffingBits;
    const int16_t* longStart;   // 23 band starts
    const int16_t* shortStart;  // 14
    BitFrame frame;
    BitBuffer* side;
    BitBuffer* main;
    BitBuffer* output;
    FrameQueue queue;
    int flushed;
};

// paddingMode is used when the option "padding" is not set.
EncError* CreateBitstreamEncoder(int sampleRate, int bitRate, int fixedAncillaryBits, int crc, int privateBit,
                                 int copyright, int original, int emphasis, int stereoMode, int paddingMode,
                                 BitstreamEncoder** out);
// Once per granule before the loop kernel: budgets out, granule 0 channel 0,
// granule 0 channel 1, granule 1 channel 0, granule 1 channel 1 (set at the
// frame's last granule, else left as they were). 0 when the granule has more
// channels than the encoder, or no budgets to fill.
int AdvanceBitstreamEncoder(BitstreamEncoder* encoder, const PsyGranule* granule, int ancillaryBytes, int* budgets);
// Once per granule after the loop kernel; writes the frame once it is
// complete. ancillary holds *pending bytes still to place; the ones not yet
// written are its last *pending on return. Hands out at most outCapacity
// complete bytes; the rest waits for the next call. Returns 1.
int WriteBitstream(BitstreamEncoder* encoder, const QuantFrame* frame, const uint8_t* ancillary, int* pending,
                   int* byteCount, uint8_t* out, int outCapacity);
// Fills the last frame's main data and hands out everything left.
int FlushBitstreamEncoder(BitstreamEncoder* encoder, int* byteCount, uint8_t* out, int outCapacity);
void DeleteBitstreamEncoder(BitstreamEncoder* encoder);
