#include "mp3enc/engine/FrameSizeSequencer.h"

#include <cstdlib>
#include <initializer_list>

namespace l3 {
namespace {
void Reduce(long long& a, long long& b) {
    for (int p : {2, 3, 5, 7, 11, 13, 17, 19})
        while (b != 0 && a % p == 0 && b % p == 0) {
            a /= p;
            b /= p;
        }
}
}  // namespace

int CFrameSizeSequencer::Setup(int bitRate, int sampleRate, int samplesPerFrame, int paddingMode,
                               const int* frameBits, const int* tableKbps) {
    m_error = 0;
    m_mode = paddingMode;
    m_period = 1;
    m_frameBytes = 1;
    if (paddingMode == 0) {
        m_a = static_cast<long long>(bitRate) * samplesPerFrame;
        m_b = sampleRate;
    } else {
        int lo = 1, hi = 14;
        for (int i = 1; i <= 14; ++i)
            if (tableKbps[i] * 1000 <= bitRate) lo = i;
        for (int i = 14; i >= 1; --i)
            if (tableKbps[i] * 1000 >= bitRate) hi = i;
        const int rLo = tableKbps[lo] * 1000, rHi = tableKbps[hi] * 1000;
        int p = 0;
        if (paddingMode == 2) p = 1;
        if (paddingMode == 3) {
            const long long rest = static_cast<long long>(bitRate) * samplesPerFrame % sampleRate;
            p = sampleRate / 2 < rest ? 1 : 0;
        }
        m_mode = p ? 2 : 1;
        if (rLo == rHi || rLo > bitRate || rHi < bitRate) {
            m_a = frameBits[lo] + 8 * p;
            m_b = 1;
            m_frameBytes = frameBits[lo] / 8 + p;
        } else {
            const long long bytesLo = frameBits[lo] / 8, bytesHi = frameBits[hi] / 8;
            m_a = 8 * ((static_cast<long long>(bitRate - rLo) * (p + bytesHi)) / 1000 +
                       ((p + bytesLo) * (rHi - bitRate)) / 1000);
            m_b = (rHi - rLo) / 1000;
            long long span = rHi - rLo, part = rHi - bitRate;
            Reduce(span, part);
            m_period = static_cast<int>(span);
            m_frameBytes = static_cast<int>(m_period * (m_a / m_b) / 8);
        }
    }
    Reduce(m_a, m_b);
    if (m_a < m_b * frameBits[0] || m_a > m_b * (frameBits[14] + 8)) return 1;
    m_lower = 0;
    for (int i = 0; i <= 14; ++i)
        if (m_b * frameBits[i] <= m_a) m_lower = i;
    m_upper = (m_b * frameBits[m_lower] == m_a || m_lower == 14) ? m_lower : m_lower + 1;
    m_lowerBits = frameBits[m_lower];
    m_upperBits = frameBits[m_upper];
    return 0;
}

void CFrameSizeSequencer::Step(int* index, int* padding) {
    m_error -= m_a;
    const long long candidates[4] = {m_lowerBits, m_lowerBits + 8, m_upperBits, m_upperBits + 8};
    int best = -1;
    long long bestDist = 0;
    for (int c = 0; c < 4; ++c) {
        const bool padded = (c & 1) != 0;
        if (m_mode == 1 && padded) continue;
        if (m_mode == 2 && !padded) continue;
        const long long dist = std::llabs(m_error + m_b * candidates[c]);
        if (best < 0 || dist < bestDist) {
            best = c;
            bestDist = dist;
        }
    }
    m_error += m_b * candidates[best];
    *index = best < 2 ? m_lower : m_upper;
    *padding = best & 1;
}

}  // namespace l3
