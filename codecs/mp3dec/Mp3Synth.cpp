#include "codecs/mp3dec/Mp3Synth.h"

#include <cmath>
#include <cstring>

#include "common/L3Tables.h"

namespace {
inline int32_t RoundClip(float v) {
    // Ties to even (the default rounding mode), limited to 16 bits.
    const float r = std::nearbyint(v);
    if (r >= 32767.0f) return 32767;
    if (r <= -32768.0f) return -32768;
    return static_cast<int32_t>(r);
}
}  // namespace

CMp3Synth::CMp3Synth() : m_kernels(&Mp3Kernels(BestVectorPath())) {
    for (int i = 0; i < 512; ++i) m_window[i] = static_cast<float>(l3tables::kSynthWindow[i] / 65536.0);
    Clear();
}

void CMp3Synth::Clear() {
    std::memset(m_v, 0, sizeof(m_v));
    m_offset = 0;
}

uint8_t* CMp3Synth::Synthesise(const float* const* time, int channels, uint8_t* out, bool asFloat) {
    const int n = 32 >> m_rateShift;
    const int step = 1 << m_rateShift;
    // All 18 slots are matrixed first, several to a vector; each block then
    // enters V just before the window that needs it.
    float x[2][32 * mp3kernels::kDctSlots];
    for (int ch = 0; ch < channels; ++ch) m_kernels->dct32(time[ch], n, x[ch]);
    for (int t = 0; t < 18; ++t) {
        m_offset = (m_offset - 64) & 1023;
        for (int ch = 0; ch < channels; ++ch) m_kernels->block(x[ch] + 32 * t, m_v[ch] + m_offset);
        float pcm[2][32];
        // The window sums each output in the order of the standard's taps:
        // U[64i + j] = V[128i + j], U[64i + 32 + j] = V[128i + 96 + j].
        for (int ch = 0; ch < channels; ++ch) m_kernels->window(m_v[ch] + m_offset, m_window, pcm[ch]);
        if (!asFloat && !m_eightBit && step == 1) {
            m_kernels->pcm16(pcm[0], channels == 2 ? pcm[1] : nullptr, out);
            out += 64 * channels;
            continue;
        }
        for (int j = 0; j < 32; j += step) {
            for (int ch = 0; ch < channels; ++ch) {
                const float sum = pcm[ch][j];
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
