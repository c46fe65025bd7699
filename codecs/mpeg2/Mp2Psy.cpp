#include "codecs/mpeg2/Mp2Psy.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "codecs/simd/KernelSet.h"
#endif

#include "codecs/mpeg2/Mp2PsyMath.h"

#include "codecs/mpeg2/tables/psy1_cband_L1_16000.h"
#include "codecs/mpeg2/tables/psy1_cband_L1_22050.h"
#include "codecs/mpeg2/tables/psy1_cband_L1_24000.h"
#include "codecs/mpeg2/tables/psy1_cband_L1_32000.h"
#include "codecs/mpeg2/tables/psy1_cband_L1_44100.h"
#include "codecs/mpeg2/tables/psy1_cband_L1_48000.h"
#include "codecs/mpeg2/tables/psy1_cband_L2_16000.h"
#include "codecs/mpeg2/tables/psy1_cband_L2_22050.h"
#include "codecs/mpeg2/tables/psy1_cband_L2_24000.h"
#include "codecs/mpeg2/tables/psy1_cband_L2_32000.h"
#include "codecs/mpeg2/tables/psy1_cband_L2_44100.h"
#include "codecs/mpeg2/tables/psy1_cband_L2_48000.h"
#include "codecs/mpeg2/tables/psy1_freq_L1_16000.h"
#include "codecs/mpeg2/tables/psy1_freq_L1_22050.h"
#include "codecs/mpeg2/tables/psy1_freq_L1_24000.h"
#include "codecs/mpeg2/tables/psy1_freq_L1_32000.h"
#include "codecs/mpeg2/tables/psy1_freq_L1_44100.h"
#include "codecs/mpeg2/tables/psy1_freq_L1_48000.h"
#include "codecs/mpeg2/tables/psy1_freq_L2_16000.h"
#include "codecs/mpeg2/tables/psy1_freq_L2_22050.h"
#include "codecs/mpeg2/tables/psy1_freq_L2_24000.h"
#include "codecs/mpeg2/tables/psy1_freq_L2_32000.h"
#include "codecs/mpeg2/tables/psy1_freq_L2_44100.h"
#include "codecs/mpeg2/tables/psy1_freq_L2_48000.h"

namespace mp2 {
namespace {

struct TableRef {
    int layer;
    int rate;
    const double (*freq)[5];
    int freqRows;
    const double (*band)[5];
    int bandRows;
};

#define MP2_PSY_ROW(L, R)                                                                                          \
    TableRef {                                                                                                     \
        L, R, mp2tab::kPsy1FreqL##L##R, mp2tab::kPsy1FreqL##L##R##Rows, mp2tab::kPsy1CbandL##L##R,                 \
            mp2tab::kPsy1CbandL##L##R##Rows                                                                        \
    }

const TableRef kTables[] = {
    MP2_PSY_ROW(1, 16000), MP2_PSY_ROW(1, 22050), MP2_PSY_ROW(1, 24000), MP2_PSY_ROW(1, 32000),
    MP2_PSY_ROW(1, 44100), MP2_PSY_ROW(1, 48000), MP2_PSY_ROW(2, 16000), MP2_PSY_ROW(2, 22050),
    MP2_PSY_ROW(2, 24000), MP2_PSY_ROW(2, 32000), MP2_PSY_ROW(2, 44100), MP2_PSY_ROW(2, 48000),
};

constexpr double kMinusInf = -200.0;

inline double Db(double power) { return DbOfPower(power); }
inline double Pow(double db) { return PowOfDb(db); }

#if defined(__SSE2__)
// Four butterflies of one stage, two by two; the same operations in the same
// order as the scalar loop, so the same bits.
inline void Butterflies(double* re, double* im, size_t a, size_t b, const double* cr, const double* ci, size_t count) {
    for (size_t k = 0; k < count; k += 2) {
        const __m128d c = _mm_loadu_pd(cr + k), s = _mm_loadu_pd(ci + k);
        const __m128d rb = _mm_loadu_pd(re + b + k), ib = _mm_loadu_pd(im + b + k);
        const __m128d tr = _mm_sub_pd(_mm_mul_pd(rb, c), _mm_mul_pd(ib, s));
        const __m128d ti = _mm_add_pd(_mm_mul_pd(rb, s), _mm_mul_pd(ib, c));
        const __m128d ra = _mm_loadu_pd(re + a + k), ia = _mm_loadu_pd(im + a + k);
        _mm_storeu_pd(re + b + k, _mm_sub_pd(ra, tr));
        _mm_storeu_pd(im + b + k, _mm_sub_pd(ia, ti));
        _mm_storeu_pd(re + a + k, _mm_add_pd(ra, tr));
        _mm_storeu_pd(im + a + k, _mm_add_pd(ia, ti));
    }
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// The same four at a time.
VELMORA_AVX2 void Butterflies4(double* re, double* im, size_t a, size_t b, const double* cr,
                                                 const double* ci, size_t count) {
    for (size_t k = 0; k < count; k += 4) {
        const __m256d c = _mm256_loadu_pd(cr + k), s = _mm256_loadu_pd(ci + k);
        const __m256d rb = _mm256_loadu_pd(re + b + k), ib = _mm256_loadu_pd(im + b + k);
        const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(rb, c), _mm256_mul_pd(ib, s));
        const __m256d ti = _mm256_add_pd(_mm256_mul_pd(rb, s), _mm256_mul_pd(ib, c));
        const __m256d ra = _mm256_loadu_pd(re + a + k), ia = _mm256_loadu_pd(im + a + k);
        _mm256_storeu_pd(re + b + k, _mm256_sub_pd(ra, tr));
        _mm256_storeu_pd(im + b + k, _mm256_sub_pd(ia, ti));
        _mm256_storeu_pd(re + a + k, _mm256_add_pd(ra, tr));
        _mm256_storeu_pd(im + a + k, _mm256_add_pd(ia, ti));
    }
}
#endif

// Radix-2 FFT in place; twRe, twIm hold each stage's cos and -sin of
// 2 pi k / len for k < len / 2, stage after stage from len = 2. Every path
// gives the scalar loop's bits.
void Fft(double* re, double* im, size_t n, const uint16_t* bitrev, const double* twRe, const double* twIm,
         EVectorPath path) {
    for (size_t i = 0; i < n; ++i) {
        const size_t j = bitrev[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    size_t stage = 0;
    for (size_t len = 2; len <= n; stage += len / 2, len <<= 1) {
        const size_t h = len / 2;
        const double* cr = twRe + stage;
        const double* ci = twIm + stage;
        for (size_t i = 0; i < n; i += len) {
#if defined(__x86_64__) || defined(__i386__)
            if (path == EVectorPath::Avx2 && h >= 4) {
                Butterflies4(re, im, i, i + h, cr, ci, h);
                continue;
            }
#endif
#if defined(__SSE2__)
            if (path != EVectorPath::Scalar && h >= 2) {
                Butterflies(re, im, i, i + h, cr, ci, h);
                continue;
            }
#endif
            for (size_t k = 0; k < h; ++k) {
                const size_t a = i + k, b = i + k + h;
                const double tr = re[b] * cr[k] - im[b] * ci[k];
                const double ti = re[b] * ci[k] + im[b] * cr[k];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

}  // namespace

bool PsyModel1::Init(int layer, int codedRate, int bitratePerChannel) {
    const TableRef* t = nullptr;
    for (const auto& r : kTables)
        if (r.layer == layer && r.rate == codedRate) t = &r;
    if (!t) return false;
    m_n = layer == 1 ? 512 : 1024;
    const bool lowered = bitratePerChannel >= 96000;
    m_lines.clear();
    for (int i = 0; i < t->freqRows; ++i)
        m_lines.push_back({static_cast<int>(t->freq[i][1]), t->freq[i][3], t->freq[i][4] - (lowered ? 12.0 : 0.0)});
    m_bandEdges.clear();
    for (int i = 0; i < t->bandRows; ++i) m_bandEdges.push_back(static_cast<int>(t->band[i][2]));
    m_indexOfLine.assign(static_cast<size_t>(m_n / 2 + 1), 0);
    for (int k = 0; k <= m_n / 2; ++k) {
        int best = 0;
        for (int i = 0; i < static_cast<int>(m_lines.size()); ++i)
            if (std::abs(m_lines[static_cast<size_t>(i)].line - k) < std::abs(m_lines[static_cast<size_t>(best)].line - k))
                best = i;
        m_indexOfLine[static_cast<size_t>(k)] = best;
    }
    const double pi = 3.14159265358979323846;
    const double scale = std::sqrt(8.0 / 3.0) * (layer == 1 ? std::ldexp(1.0, -25) : std::ldexp(1.0, -26));
    m_window.resize(static_cast<size_t>(m_n));
    for (int k = 0; k < m_n; ++k) m_window[static_cast<size_t>(k)] = (1.0 - std::cos(2 * pi * k / m_n)) * scale;
    m_twRe.clear();
    m_twIm.clear();
    for (int len = 2; len <= m_n; len *= 2)
        for (int k = 0; k < len / 2; ++k) {
            m_twRe.push_back(std::cos(2 * pi * (k * (m_n / len)) / m_n));
            m_twIm.push_back(-std::sin(2 * pi * (k * (m_n / len)) / m_n));
        }
    m_bitrev.assign(static_cast<size_t>(m_n), 0);
    for (int i = 0; i < m_n; ++i) {
        int r = 0;
        for (int b = 1, v = i; b < m_n; b <<= 1, v >>= 1) r = (r << 1) | (v & 1);
        m_bitrev[static_cast<size_t>(i)] = static_cast<uint16_t>(r);
    }
    m_thrPow.resize(m_lines.size());
    for (size_t i = 0; i < m_lines.size(); ++i) m_thrPow[i] = Pow(m_lines[i].thr);
    // The rows of each subband (the table runs up the lines).
    const int linesPerBand = m_n / 2 / 32;
    for (int sb = 0; sb < 32; ++sb) {
        size_t i = 0;
        while (i < m_lines.size() && m_lines[i].line < sb * linesPerBand) ++i;
        m_bandRows[sb][0] = static_cast<int>(i);
        while (i < m_lines.size() && m_lines[i].line < (sb + 1) * linesPerBand) ++i;
        m_bandRows[sb][1] = static_cast<int>(i);
    }
    m_re.assign(static_cast<size_t>(m_n), 0);
    m_im.assign(static_cast<size_t>(m_n), 0);
    m_x.assign(static_cast<size_t>(m_n / 2 + 1), 0);
    m_work.assign(static_cast<size_t>(m_n / 2 + 1), 0);
    m_power.assign(static_cast<size_t>(m_n / 2 + 1), 0);
    m_global.assign(m_lines.size(), 0);
    m_rowArg.assign(m_lines.size(), 0);
    m_rowPow.assign(m_lines.size(), 0);
    m_rowOf.assign(m_lines.size(), 0);
    m_maskers.clear();
    m_maskers.reserve(static_cast<size_t>(m_n / 2 + m_bandEdges.size()));
    m_kept.clear();
    m_kept.reserve(m_maskers.capacity());
    return true;
}

void PsyModel1::UseVectorPath(EVectorPath path) {
    m_path = VectorPathSupported(path) ? path : EVectorPath::Scalar;
}

void PsyModel1::Compute(const float* samples, const double* scfMax, int sblimit, int* smr) {
    const int n = m_n;
    const int half = n / 2;
    for (int k = 0; k < n; ++k) {
        m_re[static_cast<size_t>(k)] = samples[k] * m_window[static_cast<size_t>(k)];
        m_im[static_cast<size_t>(k)] = 0;
    }
    Fft(m_re.data(), m_im.data(), static_cast<size_t>(n), m_bitrev.data(), m_twRe.data(), m_twIm.data(), m_path);
    std::vector<double>& x = m_x;
    for (int k = 0; k <= half; ++k)
        m_power[static_cast<size_t>(k)] = m_re[static_cast<size_t>(k)] * m_re[static_cast<size_t>(k)] +
                                          m_im[static_cast<size_t>(k)] * m_im[static_cast<size_t>(k)];
    DbOfPower(m_power.data(), x.data(), half + 1);
    for (int k = 0; k <= half; ++k) x[static_cast<size_t>(k)] += 90.309;
    // Sound pressure level per subband.
    const int linesPerBand = half / 32;
    double lsb[32];
    for (int sb = 0; sb < 32; ++sb) {
        double m = kMinusInf;
        for (int k = sb * linesPerBand; k < (sb + 1) * linesPerBand; ++k) m = std::max(m, x[static_cast<size_t>(k)]);
        const double s = scfMax[sb] > 0 ? 20.0 * std::log10(scfMax[sb] * 32768.0) - 10.0 : kMinusInf;
        lsb[sb] = std::max(m, s);
    }
    // Tonal components: local maxima standing 7 dB above their neighbourhood.
    std::vector<double>& work = m_work;
    std::copy(x.begin(), x.end(), work.begin());
    std::vector<Masker>& maskers = m_maskers;
    maskers.clear();
    const int limit = n == 1024 ? 500 : 250;
    for (int k = 3; k < limit && k + 1 <= half; ++k) {
        if (!(x[static_cast<size_t>(k)] > x[static_cast<size_t>(k - 1)] && x[static_cast<size_t>(k)] >= x[static_cast<size_t>(k + 1)]))
            continue;
        int range;
        if (k < 63) range = 2;
        else if (k < 127) range = 3;
        else if (k < 255 || n == 512) range = 6;
        else range = 12;
        bool tonal = true;
        for (int j = 2; j <= range && tonal; ++j) {
            if (k - j >= 0 && x[static_cast<size_t>(k)] - x[static_cast<size_t>(k - j)] < 7) tonal = false;
            if (k + j <= half && x[static_cast<size_t>(k)] - x[static_cast<size_t>(k + j)] < 7) tonal = false;
        }
        if (!tonal) continue;
        const double level = Db(Pow(x[static_cast<size_t>(k - 1)]) + Pow(x[static_cast<size_t>(k)]) + Pow(x[static_cast<size_t>(k + 1)]));
        maskers.push_back({level, m_indexOfLine[static_cast<size_t>(k)], true});
        for (int j = -range; j <= range; ++j)
            if (k + j >= 0 && k + j <= half) work[static_cast<size_t>(k + j)] = kMinusInf;
    }
    // Non-tonal components: the rest of each critical band, at its geometric centre.
    PowOfDb(work.data(), m_power.data(), half + 1);
    for (size_t b = 0; b + 1 < m_bandEdges.size(); ++b) {
        const int lo = m_bandEdges[b], hi = std::min(m_bandEdges[b + 1] - 1, half);
        double sum = 0;
        for (int k = lo; k <= hi; ++k)
            if (work[static_cast<size_t>(k)] > kMinusInf) sum += m_power[static_cast<size_t>(k)];
        if (sum <= 0) continue;
        const int centre = std::clamp(static_cast<int>(std::lround(std::sqrt(static_cast<double>(lo) * std::max(hi, lo)))), 0, half);
        maskers.push_back({Db(sum), m_indexOfLine[static_cast<size_t>(centre)], false});
    }
    // Decimation: below the threshold in quiet, or a weaker tonal component within 0.5 Bark.
    std::vector<Masker>& kept = m_kept;
    kept.clear();
    for (const auto& m : maskers)
        if (m.level >= m_lines[static_cast<size_t>(m.index)].thr) kept.push_back(m);
    std::sort(kept.begin(), kept.end(), [](const Masker& a, const Masker& b) { return a.index < b.index; });
    for (size_t i = 0; i < kept.size(); ++i) {
        if (!kept[i].tonal || kept[i].level <= kMinusInf) continue;
        for (size_t j = i + 1; j < kept.size(); ++j) {
            if (!kept[j].tonal || kept[j].level <= kMinusInf) continue;
            if (m_lines[static_cast<size_t>(kept[j].index)].bark - m_lines[static_cast<size_t>(kept[i].index)].bark >= 0.5) break;
            if (kept[j].level < kept[i].level)
                kept[j].level = kMinusInf;
            else
                kept[i].level = kMinusInf;
            if (kept[i].level <= kMinusInf) break;
        }
    }
    // Global masking threshold at every table row: the threshold in quiet plus
    // each masker's spread, added row by row in the maskers' order.
    const size_t rows = m_lines.size();
    std::vector<double>& global = m_global;
    std::copy(m_thrPow.begin(), m_thrPow.end(), global.begin());
    for (const auto& m : kept) {
        if (m.level <= kMinusInf) continue;
        const double zj = m_lines[static_cast<size_t>(m.index)].bark;
        const double xl = m.level;
        const double below = 0.4 * xl + 6;
        const double above = 17 - 0.15 * xl;
        const double av = m.tonal ? -1.525 - 0.275 * zj - 4.5 : -1.525 - 0.175 * zj - 0.5;
        int count = 0;
        for (size_t i = 0; i < rows; ++i) {
            const double dz = m_lines[i].bark - zj;
            if (dz < -3 || dz >= 8) continue;
            double vf;
            if (dz < -1) vf = 17 * (dz + 1) - below;
            else if (dz < 0) vf = below * dz;
            else if (dz < 1) vf = -17 * dz;
            else vf = -(dz - 1) * above - 17;
            m_rowArg[static_cast<size_t>(count)] = xl + av + vf;
            m_rowOf[static_cast<size_t>(count)] = static_cast<int>(i);
            ++count;
        }
        PowOfDb(m_rowArg.data(), m_rowPow.data(), count);
        for (int c = 0; c < count; ++c) global[static_cast<size_t>(m_rowOf[static_cast<size_t>(c)])] += m_rowPow[static_cast<size_t>(c)];
    }
    DbOfPower(global.data(), global.data(), static_cast<int>(rows));
    for (int sb = 0; sb < sblimit; ++sb) {
        double minThr = 1e9;
        const int lo = sb * linesPerBand;
        for (int i = m_bandRows[sb][0]; i < m_bandRows[sb][1]; ++i) minThr = std::min(minThr, global[static_cast<size_t>(i)]);
        if (minThr > 1e8) minThr = global[static_cast<size_t>(m_indexOfLine[static_cast<size_t>(std::min(lo, half))])];
        smr[sb] = static_cast<int>(lsb[sb] - minThr);
    }
}

namespace {
// Per-subband values of the fixed model at 48 kHz; other rates read this row
// at the same frequency.
constexpr double kFixed48k[32] = {6.77, 4.43, 2.66, 1.75, 1.29, 1.04, 0.89, 0.78, 0.69, 0.61, 0.53,
                                  0.46, 0.40, 0.34, 0.29, 0.25, 0.22, 0.19, 0.17, 0.15, 0.13, 0.12,
                                  0.10, 0.09, 0.08, 0.08, 0.07, 0.06, 0.06, 0.05, 0.05, 0.05};
}  // namespace

void FixedModelSmr(int codedRate, const int (*scfIndex)[3], int sblimit, bool joint, int* smr) {
    double spread[32] = {};
    double avg = 0;
    for (int sb = 0; sb < sblimit; ++sb) {
        const int* s = scfIndex[sb];
        spread[sb] = 2.5 * (std::max({s[0], s[1], s[2]}) - std::min({s[0], s[1], s[2]}));
        avg += spread[sb];
    }
    if (sblimit > 0) avg /= sblimit;
    for (int sb = 0; sb < sblimit; ++sb) {
        const double pos = sb * static_cast<double>(codedRate) / 48000.0;
        const int i0 = std::min(static_cast<int>(pos), 31);
        const int i1 = std::min(i0 + 1, 31);
        const double f = std::min(pos - i0, 1.0);
        const double value = kFixed48k[i0] * (1 - f) + kFixed48k[i1] * f;
        double v = static_cast<int>(8 * value);
        const double diff = spread[sb] - avg;
        v += joint ? 0.1 * diff : diff;
        smr[sb] = v < 1 ? 1 : static_cast<int>(v);
    }
}

}  // namespace mp2
