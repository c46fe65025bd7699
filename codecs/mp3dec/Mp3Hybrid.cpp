#include "codecs/mp3dec/Mp3Hybrid.h"

#include <cmath>
#include <cstring>

#include "codecs/mp3dec/Mp3FrameDecoder.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
}

CMp3Hybrid::CMp3Hybrid() : m_kernels(&Mp3Kernels(BestVectorPath())) {
    for (int k = 0; k < 18; ++k)
        for (int c = 0; c < 20; ++c) {
            const int i = c < 9 ? c : 9 + c;
            m_cos36[k][c] = c < 18 ? static_cast<float>(std::cos(kPi / 72.0 * (2 * i + 1 + 18) * (2 * k + 1))) : 0.0f;
        }
    for (int k = 0; k < 6; ++k)
        for (int i = 0; i < 12; ++i)
            m_cos12[k][i] = static_cast<float>(std::cos(kPi / 24.0 * (2 * i + 1 + 6) * (2 * k + 1)));
    for (int i = 0; i < 36; ++i) {
        const float s = static_cast<float>(std::sin(kPi / 36.0 * (i + 0.5)));
        m_window[0][i] = s;
        // Start window (type 1) and stop window (type 3).
        if (i < 18) m_window[1][i] = s;
        else if (i < 24) m_window[1][i] = 1.0f;
        else if (i < 30) m_window[1][i] = static_cast<float>(std::sin(kPi / 12.0 * (i - 18 + 0.5)));
        else m_window[1][i] = 0.0f;
        if (i < 6) m_window[3][i] = 0.0f;
        else if (i < 12) m_window[3][i] = static_cast<float>(std::sin(kPi / 12.0 * (i - 6 + 0.5)));
        else if (i < 18) m_window[3][i] = 1.0f;
        else m_window[3][i] = s;
        m_window[2][i] = 0.0f;
    }
    for (int i = 0; i < 12; ++i) m_windowShort[i] = static_cast<float>(std::sin(kPi / 12.0 * (i + 0.5)));
}

void CMp3Hybrid::Clear() { std::memset(m_overlap, 0, sizeof(m_overlap)); }

void CMp3Hybrid::Long36(const float* in, int blockType, float* overlap, float* out) const {
    // The 36 outputs hold 18 distinct values: y[17 - i] = -y[i], y[35 - i] = y[18 + i].
    // The 18 sums run side by side over k so they vectorise; each keeps the order of its terms.
    float s[20];
    m_kernels->imdctSums(in, &m_cos36[0][0], s);
    m_kernels->long36(s, m_window[blockType], overlap, out);
}

void CMp3Hybrid::Short12(const float* in, float* overlap, float* out) const {
    // Each 12-point output holds 6 distinct values: z[5 - i] = -z[i], z[11 - i] = z[6 + i].
    float y[36] = {};
    for (int win = 0; win < 3; ++win) {
        float z[12];
        for (int i = 0; i < 3; ++i) {
            float a = 0.0f;
            float b = 0.0f;
            for (int k = 0; k < 6; ++k) {
                const float x = in[3 * k + win];
                a += x * m_cos12[k][i];
                b += x * m_cos12[k][6 + i];
            }
            z[i] = a;
            z[5 - i] = -a;
            z[6 + i] = b;
            z[11 - i] = b;
        }
        for (int i = 0; i < 12; ++i) y[6 + 6 * win + i] += z[i] * m_windowShort[i];
    }
    for (int i = 0; i < 18; ++i) {
        out[i] = y[i] + overlap[i];
        overlap[i] = y[i + 18];
    }
}

void CMp3Hybrid::Run(int ch, const Mp3GranuleChannel& gc, int nonzeroSubbands, int longSubbandsOfMixed,
                     const float* spectrum, float* out) {
    const int n = 32 >> m_rateShift;
    const int c = nonzeroSubbands + 1 < n ? nonzeroSubbands + 1 : n;
    float* ov = m_overlap[ch];
    const int blockType = gc.windowSwitching ? gc.blockType : 0;
    for (int i = 0; i < 32; ++i) {
        float* o = out + 18 * i;
        float* lap = ov + 18 * i;
        if (i >= n) {
            std::memset(o, 0, 18 * sizeof(float));
            continue;
        }
        const int type = (gc.mixed && blockType == 2 && i < longSubbandsOfMixed) ? 0 : blockType;
        if (i < c) {
            if (type == 2) Short12(spectrum + 18 * i, lap, o);
            else Long36(spectrum + 18 * i, type, lap, o);
        } else {
            std::memcpy(o, lap, 18 * sizeof(float));
            std::memset(lap, 0, 18 * sizeof(float));
        }
        if (i & 1)
            for (int t = 1; t < 18; t += 2) o[t] = -o[t];
    }
}
