#pragma once
// Power tables of the Layer III quantiser and dequantiser, built once per
// process on first use (thread-safe), never changed after.

inline constexpr int kMaxQuantised = 8191;

// 2^(-3d/16) for a gain difference d in quarter steps (any sign).
double QuantStep(int d);
// 2^(d/4).
double DequantStep(int d);
// i^(4/3) for i = 0 to 8191 + 15 (the largest an escape code carries).
const double* Pow43Table();
