#pragma once
// FFT of n real samples (n even) in place: the n/2 complex bins k = 0 to
// n/2 - 1 as (real, imaginary) pairs, unnormalised, bin 0 purely real (the
// Nyquist value is not kept).

inline constexpr int kRealFftMax = 4096;

// 1, or 0 for an odd n, n < 4 or above kRealFftMax, or a length the
// mixed-radix transform cannot plan (the data are then untouched).
int RealFft(float* data, int n);
