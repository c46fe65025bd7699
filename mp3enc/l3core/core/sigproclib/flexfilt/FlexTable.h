#pragma once
// The interpolation table of the flexible filter: one wing of a
// Kaiser-windowed sinc, 512 points per zero crossing, each point a value and
// the slope to the next so that a read between points interpolates linearly.

// Set-up results shared with the filter.
inline constexpr int kFlexOk = 0;
inline constexpr int kFlexOutOfMemory = 1;
inline constexpr int kFlexCutoffTooSmall = 2;
inline constexpr int kFlexCutoffTooLarge = 3;
inline constexpr int kFlexBadParameters = 4;  // ratio, channels, length or start position
inline constexpr int kFlexNullState = 5;

inline constexpr int kFlexPointsPerCrossing = 512;
inline constexpr int kFlexCutoffBits = 18;  // the cutoff is a multiple of 2^-18
inline constexpr int kFlexMaxHalfLength = 1024;

struct FlexTable {
    float* points;        // value, slope pairs; null until built
    int pointCount;       // 512 x halfLength
    int halfLength;       // zero crossings on one wing
    double cutoff;        // fraction of the input Nyquist rate, quantised
    int step;             // cutoff x 2^18: table points per input sample, 9 fraction bits
    int wingLength;       // input samples on one wing
    int delay;            // input samples
    int historyLength;    // input samples per channel the kernel looks at
    double position;      // fractional input position, 0 to below 1
};

// Kaiser beta for a stop band attenuation in dB.
double FlexBeta(double attenuationDb);
// Half-length (zero crossings per wing) for a pass-band factor and beta.
int FlexLength(double passBandFactor, double beta);
// raw[0..points) of sin(x)/x, x = i pi / pointsPerCrossing, under a Kaiser window.
void FlexSincTable(double* raw, int points, double cutoff, double beta, int pointsPerCrossing);
// Builds the table; the codes above. On failure nothing stays allocated.
int FlexTableInit(FlexTable* table, double cutoff, double startPosition, int halfLength, double beta);
void FlexTableFree(FlexTable* table);
// The wing's value at x zero crossings (0 at and beyond the end).
inline float FlexTableAt(const FlexTable& t, double x) {
    const double p = x * kFlexPointsPerCrossing;
    const int i = static_cast<int>(p);
    if (i < 0 || i >= t.pointCount) return 0.0f;
    return t.points[2 * i] + static_cast<float>(p - i) * t.points[2 * i + 1];
}
