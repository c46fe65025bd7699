#pragma once
// Standard apt-X sub-band coder: 4 consecutive 16-bit samples of one channel
// become one 16-bit code word and back. Two-stage QMF tree (LL, LH, HL, HH),
// backward-adaptive ADPCM per sub-band. 16-bit fixed point with exact 64-bit
// sums, so every result is bit-exact on every platform.
// Single-threaded: a channel state belongs to one engine object.
#include <cstdint>

struct AptxStdSubband {
    int32_t a1 = 0, a2 = 0;          // pole weights, scale 2^14
    int8_t s1 = 1, s2 = 1;           // last two signs
    int32_t sr = 0, srPrev = 0;      // reconstructed samples
    int32_t w[24] = {};              // zero weights, scale 2^14
    int32_t d[25] = {};              // difference line, d[0] newest
    int32_t fs = 0, qf = 0;          // factor select, quantisation factor
    int32_t pz = 0, ps = 0;          // predicted zero part, predicted sample
};

// One direction's filter memory. Rings are doubled so the newest N entries
// are always contiguous: entry i back from the newest is ring[pos + i].
struct AptxStdFilter {
    int32_t stage1Pos = 0;           // analysis: input history (64 used)
    int32_t stage1[128] = {};
    int32_t stage2Pos = 0;           // 32 low and 32 high stage-1 outputs
    int32_t stage2Low[64] = {};
    int32_t stage2High[64] = {};
    // synthesis: stage-2 rings of U, V, W, Z (16 used), stage-1 rings X, Y (33 used)
    int32_t synPos2 = 0;
    int32_t u[32] = {}, v[32] = {}, wv[32] = {}, z[32] = {};
    int32_t synPos1 = 0;
    int32_t x[68] = {}, y[68] = {};
};

struct AptxStdChannel {
    AptxStdFilter analysis;
    AptxStdFilter synthesis;
    AptxStdSubband band[4];  // LL, LH, HL, HH
};

// Clears a channel (signs +1, everything else 0).
void AptxStdResetChannel(AptxStdChannel& ch);

// Codes x[0..3] (time order). syncSlot: LH gets 3 bits (bits 8-10), bit 7 left 0.
// userBit: HH gets 2 bits (bits 14-15), bit 13 left 0.
uint16_t AptxStdEncodeWord(AptxStdChannel& ch, const int16_t x[4], bool syncSlot, bool userBit);

// The filter bank alone: 4 samples into LL, LH, HL, HH and back.
void AptxStdAnalyse(AptxStdFilter& f, const int16_t x[4], int32_t bands[4]);
void AptxStdSynthesise(AptxStdFilter& f, const int32_t bands[4], int16_t out[4]);

// Decodes one code word into 4 samples; the embedded bit positions are ignored.
void AptxStdDecodeWord(AptxStdChannel& ch, uint16_t word, bool syncSlot, bool userBit, int16_t out[4]);
