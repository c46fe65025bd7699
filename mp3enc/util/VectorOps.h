#pragma once
// Element-wise routines on 32-bit float arrays for the encoder stages. Each
// routine with an SSE path takes it only when the process-wide SSE flag is set
// and every array starts on a 16-byte boundary; otherwise the plain path runs.
// Counts of 0 or less do nothing; a destination may be a source.
#include <cstdint>

// The flag is set before any encoder runs; reading it is all the routines do.
void VecSetSse(int on);
int VecGetSse();

void VecAdd(const float* x, const float* y, float* z, int n);
void VecAddStrided(const float* x, int sx, const float* y, int sy, float* z, int sz, int n);
void VecMul(const float* x, const float* y, float* z, int n);
void VecDiv(const float* x, const float* y, float* z, int n);
int VecCopy(const float* source, float* destination, int n);
void VecCopyBlock(const float* source, float* destination, int n);
int VecCopyStrided(const uint32_t* source, int ss, uint32_t* destination, int sd, int n);
void VecScale(float c, const float* x, float* z, int n);
void VecScaleStrided(float c, const float* x, int sx, float* z, int sz, int n);
void VecScaleInPlace(float c, float* x, int n);
void VecMin(const float* x, const float* y, float* z, int n);
void VecMinStrided(const float* x, int sx, const float* y, int sy, float* z, int sz, int n);
void VecMax(const float* x, const float* y, float* z, int n);
void VecMaxStrided(const float* x, int sx, const float* y, int sy, float* z, int sz, int n);
void VecAbs(const float* x, float* z, int n);
void VecClip(float low, float high, const float* x, float* z, int n);
void VecAbsInt(const int32_t* x, int32_t* z, int n);
void VecExp(const float* x, float* z, int n);
void VecLog(float a, float b, const float* x, float* z, int n);
void VecSqrt(const float* x, float* z, int n);
float VecDot(const float* x, const float* y, int n);
float VecEnergy(const float* x, int n);
void VecPowerSpectrum(const float* pairs, float* z, int n);
void VecFill(uint32_t pattern, float* z, int n);
void VecFillInt(int32_t value, int32_t* z, int n);
