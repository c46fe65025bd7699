#pragma once
// One l3core Layer III encoder: the input conversion and rate-converting
// input filter, the psychoacoustic model, the bitstream writer's budgets, the
// quantisation loop and the writer, granule by granule. Every operation that
// can fail returns an error object (free it with L3CoreFreeError); null is
// success. One encoder is used by one thread at a time; two encoders may
// open and run on different threads.
#include <cstdint>

#include "mp3enc/l3core/core/bitmux/BitstreamEncoder.h"
#include "mp3enc/l3core/core/psych/PsyHandOver.h"
#include "mp3enc/l3core/core/psych/PsyMain.h"
#include "mp3enc/l3core/core/quant/LoopKernel.h"
#include "mp3enc/l3core/core/sigproclib/flexfilt/FlexFilter.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreConfig.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreFormat.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/TimeStamp.h"

inline constexpr int kL3CoreMinOutputRoom = 5500;
// The model's and the loop's own delay before the input filter's.
inline constexpr int kL3CoreBaseDelay = 1633;

// Flush states: running, then the drain of filter, delay, frame and padding
// cycle with zero granules, the writer's final flush, finished.
enum L3CoreFlushState {
    kL3CoreRunning = 0,
    kL3CoreDrainFilter = 1,
    kL3CoreDrainDelay = 2,
    kL3CoreCompleteFrame = 3,
    kL3CoreExtraGranules = 4,
    kL3CoreCompleteCycle = 5,
    kL3CoreFinalFlush = 6,
    kL3CoreFinished = 7,
};

struct L3CoreEncoder {
    PsyMain* model;
    LoopKernel* loop;
    BitstreamEncoder* writer;
    TimeStamp* stamp;
    L3CoreInput input;
    L3CoreParams params;
    L3CoreCast cast;
    int quality;
    uint8_t ancillary[8];  // the time stamp handed to the writer
    float* inputBuffer;    // coded channels x 576
    int inputCapacity;
    int inputFill;
    float* granuleBuffer;  // interleaved, coded channels x 576
    float* planar;         // the same granule, channel 1 after channel 0
    int granuleSize;
    int minOutputRoom;
    float bandwidth;
    FlexFilter filter;
    PsyHandOver handOver;
    int budgets[4];
    int flushState;
    int needsInput;
    int delay;         // reported
    int delayCounter;  // still to drain
    long long samplesEncoded;
    long long granulesEncoded;
    int paddingPeriod;
    int paddingBytes;
    int granulesPerFrame;
    int extraGranules;
};

// config null: the defaults. On failure *out is null and nothing stays allocated.
EncError* L3CoreOpen(L3CoreEncoder** out, const L3CoreInput* input, const L3CoreParams* params,
                     const L3CoreConfig* config);
// pcmBytes 0 ends the input: later calls drain the encoder until a call
// writes nothing. Writes nothing with an output room below 5500 bytes.
EncError* L3CoreEncode(L3CoreEncoder* encoder, const void* pcm, int pcmBytes, uint8_t* out, int outRoom,
                       int* consumed, int* written, const uint8_t* ancillary, int* ancillaryCount);
void L3CoreGetInfo(const L3CoreEncoder* encoder, L3CoreInfo* info);
void L3CoreClose(L3CoreEncoder* encoder);
void L3CoreFreeError(EncError* error);
