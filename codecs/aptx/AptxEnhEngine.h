#pragma once
// Enhanced apt-X engine: 4:1 sub-band ADPCM for one or two channels of 16-bit
// audio, one 16-bit code word per channel and frame of 4 sample periods. The
// encoder hides a 16-bit sync word (one bit per frame), two user bytes per
// sync cycle and a slow channel of 16-bit auxiliary words in the code-word
// parity; the decoder finds the bit position, channel count and width from
// the stream and drops and regains lock by itself.
// Results: 0 done, 1 missing object or user-data block, 2 bad argument.
// Each object is used by one thread at a time; objects share no state.
#include <cstdint>

#include "codecs/aptx/AptxEnhCoder.h"

// Format word: channels in the low 16 bits, sample width in the high 16 bits.
constexpr int32_t AptxEnhFormat(int channels, int width) { return channels | (width << 16); }
constexpr int32_t kAptxEnhSwappedContainers = 0x2;  // option flag bit 1
constexpr int32_t kAptxEnhNoInsertion = 0x10000;    // option word: upper half 1

// User-data block: two bytes and a flag byte (bit 0: byte 0 valid, bit 1: byte 1 valid).
constexpr int kAptxEnhUserBlockBytes = 3;

struct AptxEnhChannel {
    AptxEnhCoderState coder;
    int32_t modeIndex = 0;
    int32_t modeWord = 0;
    int32_t parityMask = 3;
    int32_t halfRange = 0;
    int32_t width = 16;
};

struct AptxEnhAuxSender {
    uint16_t words[16] = {};
    uint32_t frame = 0;
    int32_t countdown = 31;
    int32_t slot = 0;
    int32_t built = 0;
};

struct AptxEnhEncoder {
    int32_t options = 0;
    int16_t channels = 1;
    int16_t width = 16;
    int32_t optionWord = 0;
    AptxEnhChannel channel[2];
    int16_t ditherState = 12345;
    int32_t syncWord[2] = {};
    int32_t userMask[2] = {};
    int32_t userBits[2] = {};
    int32_t stereo = 0;
    int32_t counter = 15;
    AptxEnhAuxSender aux[2];
};

struct AptxEnhSyncRecord {
    int32_t state = 0;  // 0 not locked, 1 mono, 2 first of stereo, 3 second of stereo
    int16_t width = 16;
    uint16_t auxWords[16] = {};
    int32_t newWord = 0;
    int16_t newestSlot = 0;
    int32_t stateAtHalfStart = 0;
    int16_t stereo = 0;
    int16_t position = -1;
    int32_t mode = 0;
    int32_t phase = 0;
    uint32_t auxRegister = 0;
    int32_t needsInit = 1;
};

constexpr int kAptxEnhMaxFrameBits = 32;  // two channels of 16 bits

struct AptxEnhTracker {
    int32_t sync = 0;
    uint16_t bitsPerFrame = 16;
    int32_t channels = 1;
    int32_t expectedMode = 1;
    uint32_t history[kAptxEnhMaxFrameBits] = {};
    AptxEnhSyncRecord record[2];
    int32_t fill = 0;  // frames in the ring, 0..31
    uint8_t ring[32 * kAptxEnhMaxFrameBits / 8] = {};
};

struct AptxEnhDecoder {
    int32_t options = 0;
    int16_t channels = 1;
    int16_t width = 16;
    int32_t optionWord = 0;
    AptxEnhChannel channel[2];
    int16_t ditherState = 12345;
    AptxEnhTracker tracker;
};

// Null when the format is usable, else why it is refused. Only 16-bit samples
// are carried: the 24-bit table set is not part of this program.
const char* AptxEnhFormatError(int32_t format);

AptxEnhEncoder* AptxEnhEncoderCreate(int32_t options, int32_t format, int32_t optionWord);
// 0 done, 2 refused format (see AptxEnhFormatError).
int AptxEnhEncoderInit(AptxEnhEncoder* encoder, int32_t options, int32_t format, int32_t optionWord);
// samples: 4 periods x channels 32-bit containers; code: 2 bytes per channel, MSB first.
int AptxEnhEncode(AptxEnhEncoder* encoder, const int32_t* samples, uint8_t* code, const uint8_t* user);
void AptxEnhEncoderFree(AptxEnhEncoder* encoder);

AptxEnhDecoder* AptxEnhDecoderCreate(int32_t options, int32_t format, int32_t unused);
int AptxEnhDecoderInit(AptxEnhDecoder* decoder, int32_t options, int32_t format);
int AptxEnhDecode(AptxEnhDecoder* decoder, int32_t* samples, const uint8_t* code, uint8_t* user);
int AptxEnhIsSynced(const AptxEnhDecoder* decoder);
void AptxEnhDecoderFree(AptxEnhDecoder* decoder);

int AptxEnhSetAuxWord(AptxEnhEncoder* encoder, int channel, int slot, uint16_t word);
int AptxEnhAtSyncStart(const AptxEnhEncoder* encoder);
int AptxEnhAuxWordDue(AptxEnhEncoder* encoder, int channel);
const AptxEnhSyncRecord* AptxEnhGetSyncRecord(const AptxEnhDecoder* decoder, int channel);
int AptxEnhGetAuxWord(AptxEnhDecoder* decoder, int channel, uint16_t* word);

// Mode word of a mode index (0 for the indices no stream uses).
int32_t AptxEnhModeWord(int32_t modeIndex);
// Signature table entry for an 8-bit fold of odd sync-word bits.
int32_t AptxEnhSignature(int fold);
