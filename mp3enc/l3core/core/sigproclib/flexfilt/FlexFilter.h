#pragma once
// The encoder's input filter: converts interleaved float PCM to the coded
// sample rate by band-limited interpolation (any ratio, the pass band set by
// the cutoff) and gathers the output into whole granules; with bypass it only
// gathers. Counts are samples (all channels together). One encoder's thread.
#include "mp3enc/l3core/core/sigproclib/flexfilt/FlexTable.h"

inline constexpr int kFlexGranuleFull = 1;
inline constexpr int kFlexNeedInput = 2;

struct FlexFilter {
    double ratio;  // output rate / input rate
    int channels;
    int bypass;
    FlexTable table;
    float* history;      // channels x capacity frames, interleaved
    int capacity;        // frames
    int filled;          // frames in the history
    int centre;          // frame of the next output's integer input position
    double phase;        // its fraction
    long long consumed;  // input frames taken in all
    int granuleCount;    // samples in the current granule
    int taken;           // of the caller's input in this call, samples
    int ended;
    FlexFilter* self;  // set while initialised
};

// 0, or 1 out of memory, 2 cutoff too small, 3 cutoff above 1.0, 4 a ratio,
// channel count, half-length or start position that cannot work, 5 null state.
int flfChunkBufInit(FlexFilter* state, double ratio, int channels, double cutoff, double startPosition,
                    int halfLength, double beta, int bypass);
// Fills the granule (granuleSize samples) from the input: 1 when the granule
// is full (call again with the same input for the rest), 2 when all input is
// taken. A call with no input ends the stream: the filter drains its history
// into the granule and zero-fills the rest.
int FlexProcess(FlexFilter* state, const float* input, int inputCount, float* granule, int granuleSize);
// Samples now in the granule (real ones, before any zero fill at the end).
int FlexOutputCount(const FlexFilter* state);
// Input samples the output lags behind (0 with bypass).
int FlexDelay(const FlexFilter* state);
// Frees once; a state never initialised (or already freed) is left alone.
void FlexFree(FlexFilter* state);
