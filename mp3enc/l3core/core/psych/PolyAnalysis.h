#pragma once
// The 32-band polyphase analysis filter bank of one channel: per granule, 576
// PCM samples in, 18 time slots of 32 subband values out (slot-major).

struct PolyAnalysis {
    float history[512];  // ring, newest sample at writeIndex
    int writeIndex;      // 0 to 480, a multiple of 32
};

// Zeroed state, or null without memory. Free with DeletePolyPhaseAnalyseChannel.
PolyAnalysis* CreatePolyPhaseAnalyseChannel();
// input: the granule's 576 samples in time order; output[32 s + sb]. Returns 1.
int PolyPhaseAnalyse(PolyAnalysis* state, const float* input, float* output);
void DeletePolyPhaseAnalyseChannel(PolyAnalysis* state);
// The 32-point DCT-III the matrixing reduces to: out[i] = sum a[m] cos((2i+1) m pi / 64).
void PolyCosine32(const float* a, float* out);
