#pragma once
// The numeric steps of the masking threshold, stateless over caller-owned
// arrays: partition energies, spreading, tonality, the threshold from the
// masking offsets, the short/long check, pre-echo control, perceptual
// entropy, the mapping from partitions to scale-factor bands and two
// estimates of the bits a band needs. Spectra are (real, imaginary) pairs.
#include <cstdint>

#include "mp3enc/l3core/core/psych/AdaptParam.h"
#include "mp3enc/l3core/core/psych/CbParam.h"

// e and, for the tonal partitions, the chaos-weighted energy c; the other
// partitions get c = e x defaultChaos. Returns the lines consumed.
int PartitionEnergy(const float* spectrum, const float* chaos, const CbParam* cb, float defaultChaos, float* e,
                    float* c);
// es = 1e-20 + the spreading row over e; cs the same over c when c is given.
void SpreadEnergy(const CbParam* cb, const float* e, const float* c, float* es, float* cs);
// 1 for a tone (cs/es at most 0.05) down to 0 for noise (0.5 or more).
void Tonality(const CbParam* cb, const float* cs, const float* es, float* tonality);
// Masking ratio from the tone and noise offsets on the tonal partitions, the
// fixed ratio above; never below the threshold in quiet.
void ThresholdFromTonality(const CbParam* cb, const float* tonality, const float* es, float nmtDb, float* thr);
// The same with the noise offset alone.
void ThresholdWithoutTonality(const CbParam* cb, const float* es, float nmtDb, float* thr);
// Short partitions of low resolution keep at most the masking ratio of the
// long partition that covers them, in each window.
void CheckShortAgainstLong(const CbParam* shortCb, const int* shortToLong, const float* thrLong,
                           const float* esLong, float* const thrShort[3], const float* const esShort[3]);
// thr = max(a thr, min(thr, f thrBack1, b thrBack2)), f per partition.
void PreEchoControl(const CbParam* cb, float* thr, const float* thrBack1, const float* thrBack2, float a, float b);
// Over the partitions above their threshold; never negative.
float PerceptualEntropy(const CbParam* cb, const float* e, const float* thr);
// Threshold, energy and masking ratio of every band, the rest band included
// (adapt->bandCount + 1 values each).
void PartitionsToBands(const AdaptParam* adapt, const float* thr, const float* e, const float* spectrum,
                       float* bandThr, float* bandEnergy, float* bandRatio);
// Per band, the partition values weighted by their overlap, over the band's
// FFT width (mean) or over each partition's own width (share).
void BandMean(const AdaptParam* adapt, const float* values, float* out);
void BandShare(const AdaptParam* adapt, const float* values, float* out);
// Bits a band needs from its masking ratio and width.
void BitsFromRatio(const float* ratio, const int32_t* width, int bands, int32_t* bits);
// Bits a band needs from its MDCT lines; the bands above 1 at the top get 0.
void BitsFromLines(const float* ratio, const float* spectrum, const int32_t* width, const int32_t* start, int bands,
                   int32_t* bits);
