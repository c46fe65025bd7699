#include "codecs/mp3dec/Mp3Concealer.h"

#include <cmath>
#include <cstring>

void CMp3Concealer::Reset() {
    std::memset(static_cast<void*>(m_ch), 0, sizeof(m_ch));
    std::memset(m_ma, 0, sizeof(m_ma));
    m_inext = 0;
    m_inextp = 0;
    m_initialised = false;
    m_seed = 42;
    m_signRegister = 1044180u;
}

float CMp3Concealer::Uniform() {
    constexpr int32_t kBig = 1000000000;
    constexpr int32_t kSeed = 161803398;
    if (!m_initialised || m_seed < 0) {
        int32_t mj = kSeed - (m_seed < 0 ? -m_seed : m_seed);
        mj %= kBig;
        m_ma[55] = mj;
        int32_t mk = 1;
        for (int i = 1; i <= 54; ++i) {
            const int ii = (21 * i) % 55;
            m_ma[ii] = mk;
            mk = mj - mk;
            if (mk < 0) mk += kBig;
            mj = m_ma[ii];
        }
        for (int k = 1; k <= 4; ++k)
            for (int i = 1; i <= 55; ++i) {
                m_ma[i] -= m_ma[1 + (i + 30) % 55];
                if (m_ma[i] < 0) m_ma[i] += kBig;
            }
        m_inext = 0;
        m_inextp = 31;
        m_seed = 1;
        m_initialised = true;
    }
    if (++m_inext == 56) m_inext = 1;
    if (++m_inextp == 56) m_inextp = 1;
    int32_t mj = m_ma[m_inext] - m_ma[m_inextp];
    if (mj < 0) mj += kBig;
    m_ma[m_inext] = mj;
    return static_cast<float>(mj) * 1.0e-9f - 0.5f;
}

bool CMp3Concealer::RandomSignPositive() {
    const int32_t r = static_cast<int32_t>(m_signRegister);
    if (r < 0) {
        m_signRegister = ((m_signRegister ^ 9u) << 1) + 1u;
        return true;
    }
    m_signRegister <<= 1;
    return false;
}

void CMp3Concealer::ConcealOrStore(bool conceal, const int16_t* sfbLong, Mp3GranuleChannel& gc, float* spectrum,
                                   int ch) {
    Channel& c = m_ch[ch & 1];
    if (!conceal) {
        if (gc.windowSwitching && gc.blockType == 2) return;
        Slot& s = c.slots[c.ringIndex];
        s.side = gc;
        std::memcpy(s.spectrum, spectrum, sizeof(s.spectrum));
        c.valid = false;
        c.ringIndex = (c.ringIndex + 1) & 3;
        return;
    }
    if (!c.valid) {
        for (int i = 0; i < 576; ++i) {
            float sum = 0.0f;
            for (int k = 1; k <= 3; ++k) sum += std::fabs(c.slots[(c.ringIndex + k) & 3].spectrum[i]);
            c.average[i] = sum * 0.33333334f;
        }
        for (int b = 0; b < 22; ++b) {
            double e = 0.0;
            for (int i = sfbLong[b]; i < sfbLong[b + 1]; ++i) e += static_cast<double>(c.average[i]) * c.average[i];
            c.energy[b] = static_cast<float>(e);
        }
        c.valid = true;
    }
    gc = c.slots[(c.ringIndex + 3) & 3].side;
    for (int b = 0; b < 22; ++b) {
        const int lo = sfbLong[b];
        const int hi = sfbLong[b + 1];
        if (!(c.energy[b] > 0.0f)) {
            for (int i = lo; i < hi; ++i) spectrum[i] = 0.0f;
            continue;
        }
        double sum = 0.0;
        for (int i = lo; i < hi; ++i) {
            float v;
            if (b == 0) v = RandomSignPositive() ? c.average[i] : -c.average[i];
            else v = Uniform();
            spectrum[i] = v;
            sum += static_cast<double>(v) * v;
        }
        if (sum != 0.0) {
            const float g = static_cast<float>(std::sqrt(c.energy[b] / sum));
            for (int i = lo; i < hi; ++i) spectrum[i] *= g;
        }
    }
    gc.nonzeroLines = 576;
    gc.nonzeroSubbands = 22;
}
