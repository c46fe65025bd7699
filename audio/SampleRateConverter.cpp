#include "audio/SampleRateConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

struct RatioRow {
    int rate;
    int upL, upM, upAlpha;      // rate -> 48000
    int downL, downM, downAlpha;  // 48000 -> rate
};

constexpr RatioRow kRatios[] = {
    {7877, 195, 32, 93, 32, 195, 16},     {8000, 6, 1, 93, 1, 6, 16},
    {15754, 195, 64, 180, 64, 195, 60},   {16000, 3, 1, 185, 1, 3, 62},
    {22050, 320, 147, 256, 147, 320, 118}, {24000, 2, 1, 278, 1, 2, 139},
    {31508, 195, 128, 180, 128, 195, 60}, {32000, 3, 2, 371, 2, 3, 247},
    {44100, 160, 147, 511, 147, 160, 511}, {50000, 96, 100, 511, 100, 96, 511},
    {52000, 12, 13, 511, 13, 12, 511},
};

int16_t Saturate(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

}  // namespace

int CSampleRateConverter::LookupRatio(int inRate, int outRate, int* L, int* M, int* alpha) {
    if (inRate <= 0 || outRate <= 0) return 0;
    for (const RatioRow& r : kRatios) {
        if (outRate == 48000 && inRate == r.rate) {
            *L = r.upL, *M = r.upM, *alpha = r.upAlpha;
            return 1;
        }
        if (inRate == 48000 && outRate == r.rate) {
            *L = r.downL, *M = r.downM, *alpha = r.downAlpha;
            return 1;
        }
    }
    if (outRate % inRate == 0) {
        *L = outRate / inRate, *M = 1, *alpha = 511;
        return 1;
    }
    if (inRate % outRate == 0) {
        *L = 1, *M = inRate / outRate, *alpha = 511;
        return 1;
    }
    return 0;
}

int CSampleRateConverter::Init(int inRate, int inChannels, int outRate, int outChannels, int param) {
    m_area.reset();
    m_in = m_out = m_coef = nullptr;
    m_resampling = false;
    m_base = m_phase = m_outIndex = m_inCount = 0;
    if (inChannels < 1 || inChannels > 2 || outChannels < 1 || outChannels > 2) return 0;
    if (inRate <= 0 || outRate <= 0) return 0;
    m_param = param;
    m_inChannels = inChannels;
    m_outChannels = outChannels;
    m_stereoFilter = inChannels == 2 && outChannels == 2;
    m_L = m_M = 1;
    if (inRate == outRate) return 1;

    int alpha = 0;
    if (!LookupRatio(inRate, outRate, &m_L, &m_M, &alpha)) return 0;
    m_taps = param <= 100 ? param - 10 : 100;
    if (m_taps < 2) return 0;
    m_alpha = alpha;
    m_inRate = inRate;
    // One gain for every pair: 8 kHz audio (G.711 calls) plays at the level
    // of every other rate, not 5 dB below it.
    m_gain = kGain;
    const int fch = m_stereoFilter ? 2 : 1;
    m_history = fch * (m_taps - 1);
    m_chunk = 2 * param;
    // Large decimation steps need more than 4 x param values to finish one
    // output window; size for the worst case so the filter can never stall.
    m_inCapacity = std::max(4 * param, m_history + fch * (m_taps + 2 * m_M + 2));
    const size_t total = static_cast<size_t>(m_L) * static_cast<size_t>(m_taps) + static_cast<size_t>(m_inCapacity) +
                         static_cast<size_t>(m_chunk);
    m_area.reset(new (std::nothrow) int32_t[total]());
    if (!m_area) return 0;
    m_in = m_area.get();
    m_out = m_in + m_inCapacity;
    m_coef = m_out + m_chunk;

    m_cutoff = m_M < m_L ? m_inRate / 2.0 : m_L * m_inRate / (2.0 * m_M);
    m_cutoff *= 0.95;
    for (int j = 0; j < m_L; ++j) {
        const double pos = static_cast<double>(j) * m_M / m_L;
        const double frac = pos - std::floor(pos);
        for (int i = 0; i < m_taps; ++i) {
            const double t = (frac + (m_taps - 1) / 2.0 - i) / m_inRate;
            const double v = 2.0 * M_PI * m_cutoff * t;
            const double s = std::fabs(v) < 1e-50 ? 1.0 : std::sin(v) / v;
            const double w = std::exp(-M_PI * (2.0 * m_alpha * t) * (2.0 * m_alpha * t));
            m_coef[j * m_taps + i] = static_cast<int32_t>(m_gain * 2.0 * m_cutoff / m_inRate * s * w * 65536.0);
        }
    }
    // The filter starts on a history of silence.
    m_inCount = m_history;
    m_resampling = true;
    return 1;
}

int CSampleRateConverter::GetChunkBytes() const {
    const bool widen = !m_stereoFilter && m_outChannels == 2;
    return 2 * m_chunk * (widen ? 2 : 1);
}

bool CSampleRateConverter::Filter() {
    const int fch = m_stereoFilter ? 2 : 1;
    for (;;) {
        const int index = m_phase * m_M / m_L;
        const int start = m_base + fch * index;
        if (m_inCount < start + fch * m_taps) {
            const int drop = m_inCount - m_history;
            std::memmove(m_in, m_in + drop, static_cast<size_t>(m_history) * sizeof(int32_t));
            m_base -= drop;
            m_inCount = m_history;
            return false;
        }
        const int32_t* c = m_coef + m_phase * m_taps;
        const int32_t* x = m_in + start;
        if (m_stereoFilter) {
            int64_t left = 0, right = 0;
            for (int k = 0; k < m_taps; ++k) {
                left += static_cast<int64_t>(x[2 * k]) * c[k];
                right += static_cast<int64_t>(x[2 * k + 1]) * c[k];
            }
            m_out[m_outIndex++] = Saturate(left >> 16);
            m_out[m_outIndex++] = Saturate(right >> 16);
        } else {
            int64_t sum = 0;
            for (int k = 0; k < m_taps; ++k) sum += static_cast<int64_t>(x[k]) * c[k];
            m_out[m_outIndex++] = Saturate(sum >> 16);
        }
        if (++m_phase == m_L) {
            m_phase = 0;
            m_base += fch * m_M;
        }
        if (m_outIndex >= m_chunk) {
            m_outIndex = 0;
            return true;
        }
    }
}

int CSampleRateConverter::StoreInput(const int16_t* in, int samples) {
    const int free = m_inCapacity - m_inCount;
    if (m_inChannels == 2 && m_outChannels == 1) {
        const int frames = std::min(samples / 2, free);
        for (int i = 0; i < frames; ++i) m_in[m_inCount++] = (in[2 * i] + in[2 * i + 1]) >> 1;
        return 2 * frames;
    }
    int m = std::min(samples, free);
    if (m_stereoFilter) m &= ~1;
    for (int i = 0; i < m; ++i) m_in[m_inCount++] = in[i];
    return m;
}

int CSampleRateConverter::Convert(const int16_t* in, int inBytes, int* consumed, int16_t* out, int outRoom) {
    if (consumed) *consumed = 0;
    if (in == nullptr || out == nullptr || inBytes <= 0 || outRoom <= 0) return 0;
    if (!m_resampling) {
        if (m_inChannels == m_outChannels) {
            const int n = std::min(inBytes, outRoom) & ~1;
            if (n <= 3) return 0;
            std::memmove(out, in, static_cast<size_t>(n));
            if (consumed) *consumed = n;
            return n;
        }
        if (m_inChannels == 2) {
            const int n = std::min<int64_t>(inBytes, static_cast<int64_t>(outRoom) * 2) & ~3;
            if (n <= 3) return 0;
            for (int i = 0; i < n / 4; ++i) out[i] = static_cast<int16_t>((in[2 * i] >> 1) + (in[2 * i + 1] >> 1));
            if (consumed) *consumed = n;
            return n / 2;
        }
        const int n = std::min(inBytes, outRoom / 2) & ~3;
        if (n <= 3) return 0;
        for (int i = n / 2 - 1; i >= 0; --i) out[2 * i] = out[2 * i + 1] = in[i];
        if (consumed) *consumed = n;
        return 2 * n;
    }
    if (!m_area) return 0;
    const int chunkBytes = GetChunkBytes();
    const int chunks = outRoom / chunkBytes;
    if (chunks == 0) return 0;
    int64_t maxIn = static_cast<int64_t>(chunks) * chunkBytes * m_M / m_L;
    if (m_inChannels != m_outChannels) maxIn = maxIn * m_inChannels / m_outChannels;
    const int a = static_cast<int>(std::min<int64_t>(inBytes, maxIn)) & ~3;
    if (a <= 3) return 0;
    const int samples = a / 2;
    const bool widen = !m_stereoFilter && m_outChannels == 2;
    int taken = 0, written = 0, done = 0;
    for (;;) {
        while (done < chunks && Filter()) {
            int16_t* dst = out + written;
            if (widen) {
                for (int i = 0; i < m_chunk; ++i) dst[2 * i] = dst[2 * i + 1] = static_cast<int16_t>(m_out[i]);
                written += 2 * m_chunk;
            } else {
                for (int i = 0; i < m_chunk; ++i) dst[i] = static_cast<int16_t>(m_out[i]);
                written += m_chunk;
            }
            ++done;
        }
        if (done == chunks || taken >= samples) break;
        const int stored = StoreInput(in + taken, samples - taken);
        if (stored == 0) break;
        taken += stored;
    }
    if (consumed) *consumed = taken * 2;
    return written * 2;
}

int CSampleRateConverter::GetOutputLength(int inBytes) const {
    int64_t n = inBytes;
    if (m_resampling) n = n * m_L / m_M;
    if (m_inChannels != m_outChannels) n = n * m_outChannels / m_inChannels;
    return static_cast<int>(std::min<int64_t>(n, INT32_MAX)) & ~3;
}

int CSampleRateConverter::GetInputLength(int outBytes) const {
    int64_t n = outBytes;
    if (m_resampling) n = n * m_M / m_L;
    if (m_inChannels != m_outChannels) n = n * m_inChannels / m_outChannels;
    return static_cast<int>(std::min<int64_t>(n, INT32_MAX)) & ~3;
}
