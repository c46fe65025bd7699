#include "codecs/mp3dec/Mp3Synth.h"

#include <cmath>
#include <cstring>

#include "codecs/mp3dec/Mp3Tables.h"

namespace {
constexpr double kPi = 3.14159265358979323846;

inline int32_t RoundClip(float v) {
    // Ties to even (the default rounding mode), limited to 16 bits.
    const float r = std::nearbyint(v);
    if (r >= 32767.0f) return 32767;
    if (r <= -32768.0f) return -32768;
    return static_cast<int32_t>(r);
}
}  // namespace

CMp3Synth::CMp3Synth() {
    for (int i = 0; i < 64; ++i)
        for (int k = 0; k < 32; ++k)
            m_matrix[i][k] = static_cast<float>(std::cos((16 + i) * (2 * k + 1) * kPi / 64.0));
    for (int i = 0; i < 512; ++i) m_window[i] = static_cast<float>(mp3tables::kSynthWindow[i] / 65536.0);
    Clear();
}

void CMp3Synth::Clear() {
    std::memset(m_v, 0, sizeof(m_v));
    m_offset = 0;
}

uint8_t* CMp3Synth::Synthesise(const float (*slots)[18][32], int channels, uint8_t* out, bool asFloat) {
    const int n = 32 >> m_rateShift;
    const int step = 1 << m_rateShift;
    for (int t = 0; t < 18; ++t) {
        m_offset = (m_offset - 64) & 1023;
        for (int ch = 0; ch < channels; ++ch) {
            const float* s = slots[ch][t];
            float* v = m_v[ch] + m_offset;
            for (int i = 0; i < 64; ++i) {
                float acc = 0.0f;
                const float* m = m_matrix[i];
                for (int k = 0; k < n; ++k) acc += m[k] * s[k];
                v[i] = acc;
            }
        }
        for (int j = 0; j < 32; j += step) {
            for (int ch = 0; ch < channels; ++ch) {
                const float* v = m_v[ch];
                float sum = 0.0f;
                // U[64i + j] = V[128i + j], U[64i + 32 + j] = V[128i + 96 + j]; window D.
                for (int i = 0; i < 8; ++i) {
                    sum += v[(m_offset + 128 * i + j) & 1023] * m_window[64 * i + j];
                    sum += v[(m_offset + 128 * i + 96 + j) & 1023] * m_window[64 * i + 32 + j];
                }
                if (asFloat) {
                    const float f = sum * 0.000030517578125f;
                    std::memcpy(out, &f, 4);
                    out += 4;
                } else {
                    const int32_t x = RoundClip(sum);
                    if (m_eightBit) {
                        *out++ = static_cast<uint8_t>((x + 32768) >> 8);
                    } else {
                        const uint16_t u = static_cast<uint16_t>(x);
                        *out++ = static_cast<uint8_t>(u & 0xFF);
                        *out++ = static_cast<uint8_t>(u >> 8);
                    }
                }
            }
        }
    }
    return out;
}
