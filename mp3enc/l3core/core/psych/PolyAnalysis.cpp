#include "mp3enc/l3core/core/psych/PolyAnalysis.h"

#include <cmath>

#include "common/L3Tables.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

// 1 / (2 cos(c pi / 2N)) for N = 32, 16, 8, 4, 2 and odd c, stage by stage;
// built on first use, once for the process (thread-safe).
struct CosineTables {
    float window[512];   // the analysis window C
    float inverse[5][16];
    CosineTables() {
        for (int i = 0; i < 512; ++i) window[i] = static_cast<float>(l3tables::kAnalysisWindow[i]);
        for (int s = 0, n = 32; s < 5; ++s, n /= 2)
            for (int i = 0; i < n / 2; ++i)
                inverse[s][i] = static_cast<float>(0.5 / std::cos((2 * i + 1) * M_PI / (2.0 * n)));
    }
};

const CosineTables& Tables() {
    static const CosineTables tables;
    return tables;
}

// DCT-III of n (32 down to 1) by the even/odd split: the even inputs and the
// summed odd pairs give two halves, the odd one divided by 2 cos.
void Dct3(const float* a, float* out, int n, int stage) {
    if (n == 1) {
        out[0] = a[0];
        return;
    }
    const int h = n / 2;
    float even[16] = {}, odd[16] = {}, g[16], k[16];
    for (int m = 0; m < h; ++m) {
        even[m] = a[2 * m];
        odd[m] = a[2 * m + 1] + (m > 0 ? a[2 * m - 1] : 0.0f);
    }
    Dct3(even, g, h, stage + 1);
    Dct3(odd, k, h, stage + 1);
    const float* inv = Tables().inverse[stage];
    for (int i = 0; i < h; ++i) {
        const float t = k[i] * inv[i];
        out[i] = g[i] + t;
        out[n - 1 - i] = g[i] - t;
    }
}

}  // namespace

void PolyCosine32(const float* a, float* out) { Dct3(a, out, 32, 0); }

PolyAnalysis* CreatePolyPhaseAnalyseChannel() {
    Tables();
    return static_cast<PolyAnalysis*>(AlignedCalloc(1, sizeof(PolyAnalysis), __FILE__, __LINE__));
}

int PolyPhaseAnalyse(PolyAnalysis* state, const float* input, float* output) {
    const float* c = Tables().window;
    float* x = state->history;
    for (int s = 0; s < 18; ++s) {
        const int w = state->writeIndex;
        for (int i = 0; i < 32; ++i) x[w + i] = input[32 * s + 31 - i];  // newest first
        // Y[k] = sum over j of C[k + 64 j] X[k + 64 j], X[i] read from the ring at w + i.
        float y[64];
        for (int k = 0; k < 64; ++k) {
            float sum = 0.0f;
            for (int j = 0; j < 8; ++j) {
                const int i = k + 64 * j;
                sum += c[i] * x[(w + i) & 511];
            }
            y[k] = sum;
        }
        // cos((2i+1)(k-16) pi/64) is even in k-16 and changes sign about k-16 = 32:
        // fold the 64 values to 32 and transform.
        float a[32];
        a[0] = y[16];
        for (int m = 1; m <= 16; ++m) a[m] = y[16 + m] + y[16 - m];
        for (int m = 17; m < 32; ++m) a[m] = y[16 + m] - y[80 - m];
        PolyCosine32(a, output + 32 * s);
        state->writeIndex = (w - 32) & 511;
    }
    return 1;
}

void DeletePolyPhaseAnalyseChannel(PolyAnalysis* state) { AlignedFree(state); }
