#include "codecs/mpeg2/Mp2Kernels.h"

namespace {

void Pcm16(const float* left, const float* right, int16_t* out, int n) {
    if (!right) {
        for (int i = 0; i < n; ++i) out[i] = Mp2RoundClip16(left[i]);
        return;
    }
    for (int i = 0; i < n; ++i) {
        out[2 * i] = Mp2RoundClip16(left[i]);
        out[2 * i + 1] = Mp2RoundClip16(right[i]);
    }
}

void AnalysisWindow(const float* c, const float* h, float* y) {
    for (int i = 0; i < 64; ++i) y[i] = 0.0f;
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 64; ++i) y[i] += c[64 * j + i] * h[64 * j + i];
}

void AnalysisMatrix(const float* a, const float* m, float* out) {
    float even[16] = {};
    float odd[16] = {};
    for (int n = 0; n < 32; n += 2)
        for (int k = 0; k < 16; ++k) {
            even[k] += a[n] * m[16 * n + k];
            odd[k] += a[n + 1] * m[16 * (n + 1) + k];
        }
    for (int k = 0; k < 16; ++k) {
        out[k] = even[k] + odd[k];
        out[31 - k] = even[k] - odd[k];
    }
}

}  // namespace

namespace mp2kernels {
const SMp2Kernels kScalar = {Pcm16, AnalysisWindow, AnalysisMatrix};
}
