#pragma once
// Frame accounting of the Layer III bitstream: which bit-rate index and
// padding bit each frame carries, how full the bit reservoir is and where its
// limit lies, and how many bits a frame must stuff. One encoder's thread.
#include "mp3enc/util/EncError.h"

inline constexpr int kBitFrameFixedIso = 0;  // the target must be a table rate
inline constexpr int kBitFrameMixed = 1;     // other targets mix the two neighbouring rates

inline constexpr int kPaddingIso = 0;
inline constexpr int kPaddingNever = 1;
inline constexpr int kPaddingAlways = 2;

struct BitFrame {
    int bitRate;  // target, bit/s
    int samplesPerFrame;
    int sampleRate;
    int version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    const int* rates;  // bit/s by index; [0] a lower bound, [15] the end
    int mode;
    int paddingMode;
    int paddingAccumulator;  // 0 .. sample rate
    int targetBytes;
    int targetRemainder;
    int fixedIndex;  // the target's index in fixed mode, else 0
    int lowerIndex, upperIndex;
    int neighbourDifference;  // target frame bytes - lower neighbour's
    int balance;
    long long drift;  // sum over frames of (bytes written - target bytes)
    int fill;         // reservoir, bits
    int baseLimit;    // bits
    int limit;        // this frame's
    // The current frame.
    int frameBytes;
    int paddingBit;
    int bitRateIndex;
    int mainDataBegin;  // bytes
    int fillAtStart;
    int limitAtStart;
};

// Frame bytes at bit rate r: floor(r x samplesPerFrame / 8 / sampleRate).
int BitFrameBytes(const BitFrame* frame, int bitRate);
// Registers and reads the option "padding" (the value already in
// frame->paddingMode is kept when it is not set), checks the rate, sets the
// limits. Null or an error naming this file.
EncError* InitBitFrame(BitFrame* frame, int bitRate, int sampleRate, int version, int mode);
// Chooses the next frame's padding bit and index; returns its mean bits
// (target bytes plus the padding bit, times 8).
int BeginBitFrame(BitFrame* frame);
// Books the frame's unused bits (negative when it drew on the reservoir);
// returns the stuffing bits.
int EndBitFrame(BitFrame* frame, int unusedBits);
