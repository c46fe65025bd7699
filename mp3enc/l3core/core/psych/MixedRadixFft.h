#pragma once
// Complex FFT of any length whose factors the planner can hold, in place on
// separate real and imaginary arrays; unnormalised. No allocation.

inline constexpr int kFftMaxFactors = 11;
// Prime factors above this are refused: no length the encoder uses has one.
inline constexpr int kFftMaxRadix = 64;

// Factors of n in the order the transform uses: 4 for each factor 16 (half in
// front, mirrored at the end), square odd factors likewise, a 2 for a
// remaining 4, then the other primes. The count, or 0 when n < 2 or more than
// kFftMaxFactors factors are needed.
int FftFactor(int n, int* factors);
// sign < 0: forward, exponent -2 pi i jk / n; otherwise inverse. 1, or 0
// when the length cannot be planned or has a prime factor above
// kFftMaxRadix (the data are then untouched).
int MixedRadixFft(float* re, float* im, int n, int sign);
