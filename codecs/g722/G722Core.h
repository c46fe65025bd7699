#pragma once
// The G.722 sub-band ADPCM coder at 64 kbit/s in 16-bit fixed point: QMF
// analysis and synthesis, the lower sub-band coder with 6-bit codes and the
// higher one with 2-bit codes. Plain state records and functions; one state
// per direction, never shared between threads.
#include <cstdint>

namespace g722 {

// The adaptive quantiser and predictor of one sub-band.
struct BandState {
    int16_t s = 0;        // predicted signal (SL / SH)
    int16_t sz = 0;       // zero-section part of the prediction (SZL / SZH)
    int16_t r1 = 0;       // reconstructed signal, one and two samples back
    int16_t r2 = 0;
    int16_t p1 = 0;       // partially reconstructed signal, one and two back
    int16_t p2 = 0;
    int16_t a1 = 0;       // pole-section coefficients
    int16_t a2 = 0;
    int16_t b[7] = {};    // zero-section coefficients 1..6 (0 unused)
    int16_t d[7] = {};    // quantised difference signal, d[1..6] = 1..6 back
    int16_t nb = 0;       // log scale factor (NBL / NBH)
    int16_t det = 0;      // linear scale factor (DETL / DETH)
};

struct EncoderState {
    int16_t x[24] = {};   // QMF analysis delay line, x[0] the newest sample
    BandState low;
    BandState high;
};

struct DecoderState {
    int16_t xd[12] = {};  // QMF synthesis delay lines (difference and sum), [0] newest
    int16_t xs[12] = {};
    BandState low;
    BandState high;
};

inline constexpr int16_t kResetDetLow = 32;
inline constexpr int16_t kResetDetHigh = 8;

void Reset(EncoderState& state);
void Reset(DecoderState& state);

// One code byte from two samples (earlier first): bits 0-5 lower, 6-7 higher code.
uint8_t EncodePair(EncoderState& state, int16_t first, int16_t second);
// Two samples (earlier first) from one code byte.
void DecodeByte(DecoderState& state, uint8_t code, int16_t* first, int16_t* second);

}  // namespace g722
