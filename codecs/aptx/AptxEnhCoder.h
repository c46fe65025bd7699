#pragma once
// Enhanced apt-X sub-band coder: per channel and frame, 4 samples (24-bit
// values; 16-bit samples enter shifted left by 8) become four quantised
// sub-band values (LL, LH, HL, HH) and back. Dithered adaptive quantisers give
// each value an alternative and a decision error, which the engine uses to
// hide sync and data bits in the code-word parity. 64-bit products and sums;
// fields fed by truncated sums wrap in 32 bits by definition.
// Single-threaded: a channel state belongs to one engine object.
#include <cstdint>

struct AptxEnhBandTable {
    const int32_t* ti;  // intervals, valid from index -1
    const int32_t* to;  // factor-select offsets
    const int32_t* td;  // dither factors, valid from index -1
    int32_t bits;
    int32_t shift;      // shift code
    int32_t maxFs;      // factor-select maximum
    int32_t order;      // zero-predictor order
};

struct AptxEnhSubband {
    int32_t a1 = 0, a2 = 0;
    int8_t s1 = 0, s2 = 0;
    int32_t sr = 0, srPrev = 0;
    int32_t w[24] = {};
    int32_t ringPos = 0;
    int32_t d[48] = {};  // doubled ring, falling index: d(j) = d[ringPos + j]
    int32_t fs = 0, qf = 0;
    int32_t mask = 0;
    int32_t dither = 0;
    int32_t q = 0, alt = 0, err = 0;
    const AptxEnhBandTable* table = nullptr;
    int32_t pz = 0, ps = 0;
};

struct AptxEnhCoderState {
    // analysis: 32 inputs, 32 low and 32 high stage-1 outputs (doubled rings)
    int32_t inPos = 0;
    int32_t in[64] = {};
    int32_t outPos = 0;
    int32_t low[64] = {}, high[64] = {};
    // synthesis: U, V, W, Z (16 used) and X, Y (17 used)
    int32_t synPos2 = 0;
    int32_t u[32] = {}, v[32] = {}, wv[32] = {}, z[32] = {};
    int32_t synPos1 = 0;
    int32_t x[34] = {}, y[34] = {};
    AptxEnhSubband band[4];  // LL, LH, HL, HH
    int32_t history = 0;
    int32_t ditherParity = 0;
};

// The 16-bit table set (the only one this program carries).
const AptxEnhBandTable* AptxEnhTables16();

// Resets the per-band quantiser set-up for a new lock or a new encoder: signs
// +1, tables, code masks; filters, weights, predictions and factors stay.
void AptxEnhSetupBands(AptxEnhCoderState& s, const AptxEnhBandTable* tables);

// History update from the final values of the previous frame, then the dither.
void AptxEnhUpdateHistory(AptxEnhCoderState& s);
void AptxEnhDither(AptxEnhCoderState& s, int32_t parityMask);

// Encoder: analysis and quantisation of x[0..3] (24-bit values); leaves q, alt, err.
void AptxEnhAnalyse(AptxEnhCoderState& s, const int32_t x[4]);
// Encoder, after parity forcing: inverse quantisation and prediction.
void AptxEnhFinishEncode(AptxEnhCoderState& s);
// Decoder, after the engine has put the unpacked values into band[].q and
// updated the history: inverse quantisation, prediction, synthesis.
void AptxEnhSynthesise(AptxEnhCoderState& s, int32_t out[4]);
