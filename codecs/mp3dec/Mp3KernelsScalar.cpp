#include <cmath>

#include <algorithm>
#include <bit>
#include <cstring>

#include "codecs/mp3dec/Mp3Kernels.h"
#include "codecs/simd/LaneDct.h"

namespace {

void Window(const float* v, const float* w, float* pcm) {
    float acc[32] = {};
    for (int i = 0; i < 8; ++i) {
        const float* v0 = v + 128 * i;
        const float* w0 = w + 64 * i;
        for (int j = 0; j < 32; ++j) acc[j] += v0[j] * w0[j];
        for (int j = 0; j < 32; ++j) acc[j] += v0[96 + j] * w0[32 + j];
    }
    for (int j = 0; j < 32; ++j) pcm[j] = acc[j];
}

void ImdctSums(const float* in, const float* cos, float* s) {
    float acc[20] = {};
    for (int k = 0; k < 18; ++k)
        for (int c = 0; c < 20; ++c) acc[c] += in[k] * cos[20 * k + c];
    for (int c = 0; c < 20; ++c) s[c] = acc[c];
}

inline void Put(uint8_t*& out, float v) {
    const float r = std::nearbyint(v);  // ties to even in the default rounding mode
    const int32_t x = r >= 32767.0f ? 32767 : r <= -32768.0f ? -32768 : static_cast<int32_t>(r);
    const uint16_t u = static_cast<uint16_t>(x);
    *out++ = static_cast<uint8_t>(u & 0xFF);
    *out++ = static_cast<uint8_t>(u >> 8);
}

void Pcm16(const float* left, const float* right, uint8_t* out) {
    for (int j = 0; j < 32; ++j) {
        Put(out, left[j]);
        if (right) Put(out, right[j]);
    }
}

void Long36(const float* s, const float* w, float* overlap, float* out) {
    float y[36];
    for (int i = 0; i < 9; ++i) {
        y[i] = s[i];
        y[17 - i] = -s[i];
        y[18 + i] = s[9 + i];
        y[35 - i] = s[9 + i];
    }
    for (int i = 0; i < 18; ++i) {
        out[i] = y[i] * w[i] + overlap[i];
        overlap[i] = y[i + 18] * w[i + 18];
    }
}

void Alias(float* xr, int boundaries, const float* cs, const float* ca) {
    for (int sb = 1; sb <= boundaries; ++sb) {
        for (int i = 0; i < 8; ++i) {
            const float a = xr[18 * sb - 1 - i];
            const float b = xr[18 * sb + i];
            xr[18 * sb - 1 - i] = a * cs[i] - b * ca[i];
            xr[18 * sb + i] = b * cs[i] + a * ca[i];
        }
    }
}

// The sign of v onto the magnitude: a negation without a branch.
void Requantize(const int32_t* val, int n, float gain, const float* pow43, int pow43Max, float* xr) {
    for (int i = 0; i < n; ++i) {
        const int32_t v = val[i];
        const int32_t a = std::min(v < 0 ? -v : v, pow43Max);
        const uint32_t sign = static_cast<uint32_t>(v) & 0x80000000u;
        xr[i] = std::bit_cast<float>(std::bit_cast<uint32_t>(pow43[a] * gain) ^ sign);
    }
}

void Dct32(const float* time, int subbands, float* x) {
    const float* f = lanedct::DctFactors().f;
    for (int t = 0; t < 18; ++t) {
        float* lanes = x + 32 * t;
        float scratch[32];
        for (int k = 0; k < 32; ++k) lanes[k] = k < subbands ? time[18 * k + t] : 0.0f;
        lanedct::Halve<lanedct::ScalarLanes, 32>(lanes, scratch, f);
    }
}

// V[j] = X[j + 16] of the 32-point DCT X; X[32] = 0, X[64 - i] = -X[i], X[64 + i] = -X[i].
void Block(const float* x, float* v) {
    for (int j = 0; j < 16; ++j) v[j] = x[16 + j];
    v[16] = 0.0f;
    for (int j = 17; j < 48; ++j) v[j] = -x[48 - j];
    for (int j = 48; j < 64; ++j) v[j] = -x[j - 48];
    std::memcpy(v + 1024, v, 64 * sizeof(float));
}

}  // namespace

namespace mp3kernels {
const SMp3Kernels kScalar = {Window, ImdctSums, Pcm16, Dct32, Block, Long36, Alias, Requantize};
}
