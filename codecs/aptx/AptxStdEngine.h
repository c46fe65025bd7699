#pragma once
// Standard apt-X engine: 16-bit PCM at a fixed 4:1 ratio for one or two
// channels, with an embedded 10-bit sync pattern, an optional flag bit and
// optional user-data bits. The decoder finds the code words at any bit offset
// of the stream and tracks the lock. Results: 0 done, 1 no sync yet (decoder),
// 2 refused. One thread per object at a time; objects share no state.
#include <cstdint>

#include "codecs/aptx/AptxStdCoder.h"

// Option flags given at create.
constexpr int32_t kAptxStdEncoder = 0x1;
constexpr int32_t kAptxStdPcmBigEndian = 0x2;
constexpr int32_t kAptxStdCodeBigEndian = 0x4;
constexpr int32_t kAptxStdStuffed = 0x20;
constexpr int32_t kAptxStdNoMmx = 0x100;
constexpr int32_t kAptxStdFlagBit = 0x40000000;

// One per channel. The encoder reads `mask` bytes of `bytes` (bit i = byte i
// present); the decoder points `bytes` at its receive buffer and sets the mask
// of the bytes received in the call.
struct AptxUserData {
    uint8_t* bytes = nullptr;
    int32_t mask = 0;
};

constexpr int kAptxStdUserBufferBytes = 32;
constexpr int kAptxStdCandidates = 32;

struct AptxStdCandidate {
    int16_t key = -1;     // bit position + 256 * word position; -1 empty
    uint8_t block = 0;    // block number when last seen
    uint8_t remaining = 0;
    uint32_t serial = 0;  // insertion order, to evict the oldest when all are busy
};

struct AptxStdTracker {
    int32_t lockedOffset = -1;    // bit offset t, -1 not locked
    int32_t lockedPosition = -1;  // word position of sync slot 0
    int32_t partialBits = 0;      // sync-slot bits of a block cut by the end of a call
    int32_t partialCount = 0;     // how many of them; 0 = waiting for slot 0
    int32_t insertIndex = 0;
    uint8_t block = 2;
    AptxStdCandidate candidates[kAptxStdCandidates];
    uint32_t nextSerial = 0;
    int32_t misses = 0;
    int32_t history[32] = {};
    uint32_t evictions = 0;  // inserts that found every candidate busy
};

struct AptxStdUserChannel {
    int32_t mode = 0;     // 0 none, 1 every word, 2 blocks flagged by the flag bit
    uint32_t bits = 0;    // encoder: pending stuffed bits; decoder: shift register
    int32_t count = 0;    // number of pending bits (encoder) or bits in the register (decoder)
    uint8_t received[kAptxStdUserBufferBytes] = {};
    uint32_t dropped = 0;  // decoder: bytes beyond the buffer in one call
};

struct AptxStdEngine {
    int32_t options = 0;
    int32_t syncIndex = -1;
    int32_t flagVote = -3;
    int32_t wordPosition = 0;
    int32_t presence = 0;
    uint32_t previousWords = 0;  // last two stream words read by the decoder
    int32_t channels = 1;
    AptxStdTracker* tracker = nullptr;
    AptxStdChannel channel[2];
    AptxStdUserChannel user[2];
};

// Returns null when memory is exhausted or the arguments are outside what the
// object can hold (channels 1..2, sync pattern index at most 7).
AptxStdEngine* AptxStdCreate(int32_t options, int32_t syncIndex, const int32_t* userModes, int32_t channels);
void AptxStdInit(AptxStdEngine* engine, int32_t options, int32_t syncIndex, const int32_t* userModes,
                 int32_t channels);
// length: sample periods per channel, a multiple of 32.
int AptxStdEncode(AptxStdEngine* engine, int32_t length, const int16_t* pcm, uint8_t* code, const AptxUserData* user);
int AptxStdDecode(AptxStdEngine* engine, int32_t length, int16_t* pcm, const uint8_t* code, AptxUserData* user);
void AptxStdFree(AptxStdEngine* engine);

constexpr int kAptxStdSyncPatterns[8] = {0x377, 0x2FD, 0x23F, 0x23E, 0x16F, 0x0ED, 0x09B, 0x017};
