#pragma once
// The chaos measure: how unpredictable each spectral line is from the two
// spectra before it, near 0 for a stable tone and near 1 for noise.
// Spectra are (real, imaginary) float pairs per line.

inline constexpr int kChaosEuclid = 0;
inline constexpr int kChaosFastEuclid = 1;
inline constexpr int kChaosPeak = 2;
inline constexpr int kChaosFastPeak = 3;
inline constexpr int kChaosCombined = 4;

// x2 two frames back, x1 one frame back, x0 the current frame; lineCount
// values into out. Methods 2 and 3 need lineCount >= 6 and method 4's peak
// part combLimit >= 1: below that those lines get defaultChaos (methods 2, 3)
// or the Euclidean value (method 4). A method outside 0 to 4 is our own bug
// and ends the process.
void CalculateChaosMeasure(const float* x2, const float* x1, const float* x0, int lineCount, int combLimit,
                           float defaultChaos, int method, float* out);

// Long lines 3i - 1, 3i and 3i + 1 from firstLine on take the mean of the
// three short windows' value at line i when that is smaller.
void MergeShortChaos(float* longValues, const float* short0, const float* short1, const float* short2, int longCount,
                     int shortCount, int firstLine);
