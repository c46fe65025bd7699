#include "mp3enc/engine/L3RateControl.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/L3Tables.h"

namespace l3 {
namespace {
constexpr float kLongFloor[kLongBands] = {0.004f, 0.004f, 0.006f, 0.011f, 0.02f, 0.032f, 0.05f, 0.1f,
                                         0.2f,   0.32f,  0.44f,  0.63f,  0.63f, 0.63f,  0.63f, 0.63f,
                                         0.63f,  0.63f,  0.63f,  0.63f,  0.63f, 0.63f};
constexpr float kShortFloor[kShortBands] = {0.004f, 0.004f, 0.004f, 0.006f, 0.016f, 0.05f, 0.25f,
                                           0.5f,   0.63f,  0.63f,  0.63f,  0.63f,  0.63f};

struct VbrRow {
    int quality;
    float scale;
    int rate;
};
constexpr VbrRow kVbrRows[] = {{0, 550, 40000},   {20, 625, 48000},  {40, 850, 56000},
                               {60, 1200, 64000}, {80, 2100, 80000}, {100, 3500, 96000}};

// 2^(0.1875 k) for the quantiser's (x 2^((u - G)/4))^(3/4), k from -kPowBias.
constexpr int kPowBias = 512;
struct PowTable {
    float v[1024];
    PowTable() {
        for (int k = 0; k < 1024; ++k) v[k] = static_cast<float>(std::pow(2.0, 0.1875 * (k - kPowBias)));
    }
};
const PowTable& Pow34() {
    static const PowTable kTable;
    return kTable;
}

float Ramp(float x, float x0, float x1, float from, float to) {
    if (x <= x0) return from;
    if (x >= x1) return to;
    return from + (to - from) * (x - x0) / (x1 - x0);
}

// A granule far below its target lowers its noise level by at most 2^-kMaxLowering.
constexpr float kMaxLowering = 40.0f;
constexpr float kSpareShare = 0.9f;

constexpr int kMaxGain = 105;   // global_gain 255
constexpr int kMinGain = -150;  // global_gain 0
}  // namespace

int CL3RateControl::Configure(const RateConfig& config) {
    m_cfg = config;
    m_reservoir = 0;
    m_surplus = 0;
    int rate = config.bitRatePerChannel;
    if (config.vbr) {
        if (config.vbrQuality < 0 || config.vbrQuality > 100) return 1;
        for (int i = 0; i + 1 < 6; ++i) {
            const VbrRow& a = kVbrRows[i];
            const VbrRow& b = kVbrRows[i + 1];
            if (config.vbrQuality <= b.quality) {
                const float t = static_cast<float>(config.vbrQuality - a.quality) / (b.quality - a.quality);
                m_vbrScale = a.scale + t * (b.scale - a.scale);
                rate = static_cast<int>(a.rate + t * (b.rate - a.rate));
                break;
            }
        }
    }
    m_equivalentRate = rate;
    m_peLo = 0.8f * config.bandwidthTenths;
    m_peHi = 1.2f * config.bandwidthTenths;
    m_smoothing = 1.0f;
    m_prevTarget = 0.0f;
    m_prevBits = 0;
    const float m = rate < 48000 ? 0.63f : 0.5f;
    const float longLimit = std::pow(10.0f, -static_cast<float>(rate) / 32000.0f);
    for (int b = 0; b < kLongBands; ++b) m_ratioLong[b] = std::min(std::max(kLongFloor[b], longLimit), m);
    const float shortLimit = std::pow(10.0f, -0.0000375f * rate);
    for (int b = 0; b < kShortBands; ++b) m_ratioShort[b] = std::max(kShortFloor[b], shortLimit);
    return 0;
}

void CL3RateControl::ChannelPe(const AnalysisChannel& a, ChannelWork& w) {
    const bool isShort = a.blockType == kShort;
    w.pe = w.constant = isShort ? 125.0f : 0.0f;
    w.lines = 0.0f;
    for (int r = 0; r < a.recordCount; ++r) {
        BandPe& p = w.band[r];
        p = BandPe{0, 0, 0};
        const float e = a.energy[r], t = a.threshold[r];
        if (!(e > t) || !(e > 0.0f)) continue;
        const float width = static_cast<float>(a.recordStart[r + 1] - a.recordStart[r]);
        const float n = std::floor(w.sqrtSum[r] / std::pow(e / width, 0.25f) + 0.5f);
        const float le = std::log2(e), lt = std::log2(t), l = le - lt;
        if (l >= 3.0f) {
            p.pe = n * l;
            p.constant = n * le;
            p.lines = n;
        } else {
            p.pe = n * (1.3219281f + 0.5593573f * l);
            p.constant = n * (1.3219281f + 0.5593573f * le);
            p.lines = std::floor(0.5593573f * n + 0.5f);
        }
        w.pe += p.pe;
        w.constant += p.constant;
        w.lines += p.lines;
    }
}

float CL3RateControl::Target(float pe, bool shortBlocks) {
    if (m_cfg.vbr) {
        const float x = m_vbrScale;
        const float perGranule = static_cast<float>(m_cfg.maxBits);
        return std::min(x * std::log(pe / x + 1.0f), 1.062f * perGranule);
    }
    const float m = static_cast<float>(std::max(1, m_cfg.meanGranuleBits));
    const float rho = static_cast<float>(m_reservoir + m_surplus - m_cfg.meanFrameBits);
    const float c = static_cast<float>(m_cfg.maxBits - m_cfg.meanFrameBits);
    const float a = 0.9f + 0.95f * rho / m;
    float f = 1.0f;
    if (c > 0.0f) {
        const float v = std::min(1.0f, c / m);
        const float x = rho / c;
        float h1, h2;
        if (!shortBlocks) {
            h1 = Ramp(x, 0.2f, 0.9f, 0.3f, -0.05f);
            h2 = Ramp(x, 0.2f, 0.9f, -0.03f, 0.5f);
        } else {
            h1 = Ramp(x, 0.2f, 0.9f, 0.2f, -0.05f);
            h2 = Ramp(x, 0.2f, 0.8f, -0.03f, 1.0f);
        }
        const float span = m_peHi - m_peLo;
        const float t = span > 0.0f ? (std::clamp(pe, m_peLo, m_peHi) - m_peLo) / span : 0.0f;
        f = 1.0f - v * h1 + t * v * (h1 + h2);
    }
    if (pe > m_peHi) {
        m_peLo += 0.3f * (pe - m_peHi);
        m_peHi += 1.0f * (pe - m_peHi);
    } else if (pe >= m_peLo) {
        m_peLo += 0.3f * (pe - m_peLo);
        m_peHi -= 0.07f * (m_peHi - pe);
    } else {
        const float d = m_peLo - pe;
        m_peLo -= 0.14f * d;
        m_peHi -= 0.07f * d;
    }
    if (m_peHi - m_peLo < 0.25f * pe) {
        const float below = pe - m_peLo, above = m_peHi - pe, sum = below + above;
        const float width = 0.25f * pe;
        m_peLo = sum > 0.0f ? pe - width * below / sum : pe - 0.5f * width;
        m_peHi = m_peLo + width;
        if (m_peLo < 0.0f) m_peLo = 0.0f;
    }
    const float target = 1.18f * m * std::min(f, a);
    if (m_prevBits >= 1 && target > 0.7f * m_prevTarget && target < 1.5f * m_prevTarget) {
        const float r = m_prevTarget / (1.18f * m_prevBits);
        if (r > 0.8f && r < 1.2f) {
            if ((r > 1.0f && m_smoothing < 1.0f) || (r < 1.0f && m_smoothing > 1.0f)) m_smoothing = 1.0f;
            m_smoothing = std::clamp(0.2f * r + 0.8f * m_smoothing, 0.85f, 1.15f);
        } else {
            m_smoothing = 1.0f;
        }
    } else {
        m_smoothing = 1.0f;
    }
    m_prevTarget = target;
    return target;
}

void CL3RateControl::AdaptThresholds(AnalysisResult& a, float p) {
    const int channels = a.channels;
    float tEntry[2][kShortRecords];
    float limit[2][kShortRecords];
    for (int ch = 0; ch < channels; ++ch) {
        const AnalysisChannel& c = a.ch[ch];
        ChannelWork& w = m_work[ch];
        const bool isShort = c.blockType == kShort;
        for (int r = 0; r < c.recordCount; ++r) {
            w.mark[r] = 1;
            if (channels == 2 && a.midSide && 10.0f * c.energy[r] < a.ch[1 - ch].energy[r]) w.mark[r] = 0;
            if (!isShort) {
                const float e1 = r >= 1 ? c.energy[r - 1] : 0.0f, e2 = r >= 2 ? c.energy[r - 2] : 0.0f;
                if (c.energy[r] < 0.05f * e1 || c.energy[r] < 0.005f * e2) w.mark[r] = 0;
            }
            tEntry[ch][r] = std::pow(c.threshold[r], 0.25f);
            limit[ch][r] = (isShort ? m_ratioShort[r / 3] : m_ratioLong[r]) * c.energy[r];
        }
    }
    auto sums = [&](bool onlyUnsettled, float& gamma, float& pi, float& n) {
        gamma = pi = n = 0.0f;
        for (int ch = 0; ch < channels; ++ch) {
            const ChannelWork& w = m_work[ch];
            if (!onlyUnsettled) {
                gamma += w.constant;
                pi += w.pe;
                n += w.lines;
                continue;
            }
            for (int r = 0; r < a.ch[ch].recordCount; ++r)
                if (w.mark[r] != 2) {
                    gamma += w.band[r].constant;
                    pi += w.band[r].pe;
                    n += w.band[r].lines;
                }
        }
    };
    auto apply = [&](float reduction) {
        for (int ch = 0; ch < channels; ++ch) {
            AnalysisChannel& c = a.ch[ch];
            ChannelWork& w = m_work[ch];
            for (int r = 0; r < c.recordCount; ++r) {
                if (!(c.energy[r] > c.threshold[r])) continue;
                const float t = tEntry[ch][r] + reduction;
                const float raised = t * t * t * t;
                if (raised <= limit[ch][r] || w.mark[r] == 0) {
                    c.threshold[r] = raised;
                } else {
                    c.threshold[r] = std::max(c.threshold[r], limit[ch][r]);
                    w.mark[r] = 2;
                }
            }
        }
    };
    auto recompute = [&]() {
        for (int ch = 0; ch < channels; ++ch) ChannelPe(a.ch[ch], m_work[ch]);
    };
    float gamma, pi, n;
    sums(false, gamma, pi, n);
    if (n <= 0.0f) return;
    float reduction = std::exp2((gamma - p) / (4.0f * n)) - std::exp2((gamma - pi) / (4.0f * n));
    apply(reduction);
    recompute();
    float gu, pu, nu;
    sums(true, gu, pu, nu);
    sums(false, gamma, pi, n);
    if (nu > 0.0f) {
        const float d = p - (pi - pu);
        reduction += std::exp2((gu - d) / (4.0f * nu)) - std::exp2((gu - pu) / (4.0f * nu));
        apply(reduction);
        recompute();
    }
    sums(false, gamma, pi, n);
    const float delta = p - pi;
    float weights = 0.0f;
    for (int ch = 0; ch < channels; ++ch)
        for (int r = 0; r < a.ch[ch].recordCount; ++r) {
            const ChannelWork& w = m_work[ch];
            if (delta <= 0.0f && w.mark[r] == 2) continue;
            weights += w.band[r].lines / (tEntry[ch][r] + reduction);
        }
    if (!(weights > 0.0f)) return;
    for (int ch = 0; ch < channels; ++ch) {
        AnalysisChannel& c = a.ch[ch];
        ChannelWork& w = m_work[ch];
        for (int r = 0; r < c.recordCount; ++r) {
            if (delta <= 0.0f && w.mark[r] == 2) continue;
            const float lines = w.band[r].lines;
            if (!(lines > 0.0f)) continue;
            const float share = delta * (lines / (tEntry[ch][r] + reduction)) / weights;
            c.threshold[r] *= std::exp2(std::min(-share / lines, 20.0f));
            if (c.threshold[r] > limit[ch][r] && w.mark[r] == 1) {
                c.threshold[r] = limit[ch][r];
                w.mark[r] = 2;
            }
        }
    }
}

// The reverse of the adaptation above: a granule whose entropy leaves much of
// its target unused (a lone tone, a quiet passage) would hand the spare bits
// to the reservoir and end as stuffing. A common noise level per line caps
// every threshold in use, lowered until the entropy meets the target: the
// spare bits go where the noise is highest, which buys the most SNR, and no
// band is coded coarser than its masking threshold allows.
void CL3RateControl::LowerThresholds(AnalysisResult& a, float p) {
    const int channels = a.channels;
    float entry[2][kShortRecords];
    float width[2][kShortRecords];
    int records[2] = {0, 0};
    float top = 0.0f;
    for (int ch = 0; ch < channels; ++ch) {
        const AnalysisChannel& c = a.ch[ch];
        const int perBand = c.recordCount == kLongBands ? 1 : 3;
        records[ch] = std::min(c.recordCount, c.bandsInUse * perBand);
        for (int r = 0; r < records[ch]; ++r) {
            entry[ch][r] = c.threshold[r];
            width[ch][r] = static_cast<float>(c.recordStart[r + 1] - c.recordStart[r]);
            top = std::max(top, entry[ch][r] / width[ch][r]);
        }
    }
    if (!(top > 0.0f)) return;
    auto peAt = [&](float exponent) {
        const float level = top * std::exp2(exponent);
        float pe = 0.0f;
        for (int ch = 0; ch < channels; ++ch) {
            for (int r = 0; r < records[ch]; ++r) a.ch[ch].threshold[r] = std::min(entry[ch][r], level * width[ch][r]);
            ChannelPe(a.ch[ch], m_work[ch]);
            pe += m_work[ch].pe;
        }
        return pe;
    };
    float lo = -kMaxLowering, hi = 0.0f;
    if (peAt(lo) > p) {
        for (int i = 0; i < 12; ++i) {
            const float mid = 0.5f * (lo + hi);
            (peAt(mid) > p ? lo : hi) = mid;
        }
    }
    peAt(lo);
}

void CL3RateControl::ClearChannel(GranuleChannel& g) {
    std::memset(g.q, 0, sizeof g.q);
    std::memset(g.scalefac, 0, sizeof g.scalefac);
    g.scalefacScale = 0;
    g.preflag = 0;
    g.subblockGain[0] = g.subblockGain[1] = g.subblockGain[2] = 0;
}

void CL3RateControl::DeriveScaleFactors(const AnalysisChannel& a, const ChannelWork& w, GranuleChannel& g,
                                        int* gain) {
    const bool isShort = a.blockType == kShort;
    const int coded = isShort ? 36 : 21;
    const bool mpeg1 = m_cfg.version == 0;
    int smallest = 0;
    bool any = false;
    for (int r = 0; r < a.recordCount; ++r)
        if (w.value[r] != kNoBand) {
            smallest = any ? std::min(smallest, w.value[r]) : w.value[r];
            any = true;
        }
    for (int scale = 0; scale <= 1; ++scale) {
        const int mult = 1 << (scale + 1);
        int gg = -smallest;
        int used = 0, roundUp = 0;
        for (int r = 0; r < coded; ++r) {
            if (w.value[r] == kNoBand) continue;
            ++used;
            if (((w.value[r] + gg) % mult) * 2 >= mult) ++roundUp;
        }
        if (used > 0 && roundUp * 2 >= used) gg += 1 << scale;
        int exponent[kShortRecords];
        for (int r = 0; r < kShortRecords; ++r)
            exponent[r] = (r < coded && w.value[r] != kNoBand) ? std::max(w.value[r] + gg, 0) : kNoBand;
        g.subblockGain[0] = g.subblockGain[1] = g.subblockGain[2] = 0;
        g.preflag = 0;
        if (isShort) {
            for (int win = 0; win < 3; ++win) {
                int low = -1;
                for (int r = win; r < coded; r += 3)
                    if (exponent[r] != kNoBand) low = low < 0 ? exponent[r] : std::min(low, exponent[r]);
                const int sbg = low < 0 ? 0 : std::min(low / 8, 7);
                g.subblockGain[win] = sbg;
                for (int r = win; r < coded; r += 3)
                    if (exponent[r] != kNoBand) exponent[r] -= 8 * sbg;
            }
        } else if (mpeg1 && !m_intensityFrame) {
            bool all = used > 0;
            for (int r = 0; r < coded; ++r)
                if (exponent[r] != kNoBand && exponent[r] < l3tables::kPretab[r] * mult) all = false;
            if (all) {
                g.preflag = 1;
                for (int r = 0; r < coded; ++r)
                    if (exponent[r] != kNoBand) exponent[r] -= l3tables::kPretab[r] * mult;
            }
        }
        bool fits = true;
        for (int r = 0; r < kShortRecords; ++r) {
            if (exponent[r] == kNoBand) {
                g.scalefac[r] = kNoBand;
                continue;
            }
            g.scalefac[r] = (exponent[r] + (1 << scale)) >> (scale + 1);
            const int partition = isShort ? r / 9 : (r < 6 ? 0 : r < 11 ? 1 : r < 16 ? 2 : 3);
            const int widest = partition < 2 ? 15 : 7;
            if (g.scalefac[r] > widest) {
                fits = false;
                if (scale == 1) g.scalefac[r] = widest;  // coarser than estimated, never louder
            }
        }
        g.scalefacScale = scale;
        *gain = std::clamp(gg, kMinGain, kMaxGain);
        if (fits) break;
    }
}

int CL3RateControl::Requantise(const AnalysisChannel& a, const ChannelWork& w, int gain, GranuleChannel& g) {
    const bool isShort = a.blockType == kShort;
    const int mult = 1 << (g.scalefacScale + 1);
    const float* pw = Pow34().v;
    int largest = 0;
    for (int r = 0; r < a.recordCount; ++r) {
        const int begin = a.recordStart[r], end = a.recordStart[r + 1];
        if (w.value[r] == kNoBand) {
            for (int i = begin; i < end; ++i) g.q[i] = 0;
            continue;
        }
        const int sf = (r < (isShort ? 36 : 21) && g.scalefac[r] != kNoBand) ? g.scalefac[r] : 0;
        int u = isShort ? sf * mult + 8 * g.subblockGain[r % 3] : (sf + g.preflag * l3tables::kPretab[r]) * mult;
        const int k = std::clamp(u - gain + kPowBias, 0, 1023);
        const float f = pw[k];
        for (int i = begin; i < end; ++i) {
            // Clamped before the cast: anything at 8192 or above only makes the gain rise.
            const int v = static_cast<int>(std::min(w.xr34[i] * f + 0.4054f, 65536.0f));
            g.q[i] = a.xr[i] < 0.0f ? -v : v;
            largest = std::max(largest, v);
        }
    }
    return largest;
}

int CL3RateControl::CodeScaleFactors(GranuleChannel& g, const int* need, bool intensityRight) {
    const bool isShort = g.blockType == kShort;
    auto value = [&](int r) { return need ? need[r] : (g.scalefac[r] == kNoBand ? 0 : g.scalefac[r]); };
    auto bitsFor = [](int v) {
        int b = 0;
        while ((1 << b) <= v) ++b;
        return b;
    };
    if (m_cfg.version == 0) {
        const int split = isShort ? 18 : 11, coded = isShort ? 36 : 21;
        int m1 = 0, m2 = 0;
        for (int r = 0; r < split; ++r) m1 = std::max(m1, value(r));
        for (int r = split; r < coded; ++r) m2 = std::max(m2, value(r));
        const int b1 = bitsFor(m1), b2 = bitsFor(m2);
        int best = -1, bestBits = 0;
        for (int c = 0; c < 16; ++c) {
            const int s1 = l3tables::kSlenMpeg1[c][0], s2 = l3tables::kSlenMpeg1[c][1];
            if (s1 < b1 || s2 < b2) continue;
            const int bits = split * s1 + (coded - split) * s2;
            if (best < 0 || bits < bestBits) {
                best = c;
                bestBits = bits;
            }
        }
        if (best < 0) return -1;
        g.scalefacCompress = best;
        const int s1 = l3tables::kSlenMpeg1[best][0], s2 = l3tables::kSlenMpeg1[best][1];
        const int n1 = isShort ? 9 : 6, n2 = isShort ? 9 : 5, n3 = isShort ? 9 : 5, n4 = isShort ? 9 : 5;
        const int counts[4] = {n1, n2, n3, n4}, widths[4] = {s1, s1, s2, s2};
        for (int p = 0; p < 4; ++p) {
            g.nrSfb[p] = counts[p];
            g.slen[p] = widths[p];
        }
        return bestBits;
    }
    // The right channel of an intensity frame has its own table, keyed by
    // scalefac_compress / 2; the low bit is intensity_scale, here always 1
    // (position steps of 2^(1/2), as the position weights assume).
    const int cls = isShort ? 1 : 0;
    const int variant = intensityRight ? 1 : 0;
    const int keys = intensityRight ? 256 : 500;
    int best = -1, bestBits = 0;
    for (int c = 0; c < keys; ++c) {
        const l3tables::LsfSlen& e = l3tables::kLsfSlen[variant][c];
        if (e.preflag != 0) continue;
        const uint8_t* counts = l3tables::kLsfPartitions[e.block][cls];
        int r = 0, bits = 0;
        bool ok = true;
        for (int p = 0; p < 4 && ok; ++p) {
            int m = 0;
            for (int k = 0; k < counts[p]; ++k, ++r) m = std::max(m, value(r));
            if (bitsFor(m) > e.slen[p]) ok = false;
            bits += counts[p] * e.slen[p];
        }
        if (ok && (best < 0 || bits < bestBits)) {
            best = c;
            bestBits = bits;
        }
    }
    if (best < 0) return -1;
    const l3tables::LsfSlen& e = l3tables::kLsfSlen[variant][best];
    g.scalefacCompress = intensityRight ? 2 * best + 1 : best;
    for (int p = 0; p < 4; ++p) {
        g.nrSfb[p] = l3tables::kLsfPartitions[e.block][cls][p];
        g.slen[p] = e.slen[p];
    }
    return bestBits;
}

// The right channel of an intensity frame. A decoder takes every band above
// the right channel's highest non-zero band as an intensity band, so the
// positions go from each window's bound upward, and the zero bands just below
// the bound get the position that means "no intensity": 7 in MPEG-1 (0 where
// the left band is silent too, as that costs fewer bits), and in MPEG-2 and
// 2.5 the largest value of the partition's width, set once the widths are
// chosen (MarkIllegal).
void CL3RateControl::IntensityScaleFactors(const AnalysisResult& a, const int* leftQ, GranuleChannel& g, int* need,
                                           bool* illegal) const {
    const bool isLong = g.blockType != kShort;
    const bool mpeg1 = m_cfg.version == 0;
    const int bands = isLong ? kLongBands : kShortBands;  // the last one has no scale factor
    const int inUse = a.ch[1].bandsInUse;
    const AnalysisChannel& layout = a.ch[1];
    for (int r = 0; r < kShortRecords; ++r) {
        need[r] = g.scalefac[r] == kNoBand ? 0 : g.scalefac[r];
        illegal[r] = false;
    }
    auto zero = [&](const int* q, int r) {
        for (int i = layout.recordStart[r]; i < layout.recordStart[r + 1]; ++i)
            if (q[i] != 0) return false;
        return true;
    };
    for (int w = 0; w < (isLong ? 1 : 3); ++w) {
        auto record = [&](int b) { return isLong ? b : b * 3 + w; };
        const int bound = std::min(a.intensityBound[w], bands);
        for (int b = bound; b < bands - 1; ++b) {
            const int r = record(b);
            const int pos = b < inUse ? a.intensityPos[r] : 0;
            g.scalefac[r] = pos;
            // MPEG-2 and 2.5: the width must also hold the illegal value above the position.
            need[r] = mpeg1 || b >= inUse ? pos : pos + 1;
        }
        for (int b = bound - 1; b >= 0; --b) {
            const int r = record(b);
            if (!zero(g.q, r)) break;
            if (b == bands - 1) continue;
            if (mpeg1) {
                g.scalefac[r] = need[r] = (leftQ && zero(leftQ, r)) ? 0 : 7;
            } else {
                g.scalefac[r] = need[r] = 0;
                illegal[r] = true;
            }
        }
    }
}

int CL3RateControl::IntensityReserve(const AnalysisResult& a) {
    GranuleChannel& probe = m_probe;
    probe.blockType = a.ch[1].blockType;
    ClearChannel(probe);
    int need[kShortRecords];
    bool illegal[kShortRecords];
    IntensityScaleFactors(a, nullptr, probe, need, illegal);  // as if the left band sounded everywhere
    return std::max(0, CodeScaleFactors(probe, need, true));
}

void CL3RateControl::MarkIllegal(GranuleChannel& g, const bool* illegal) const {
    int r = 0;
    for (int p = 0; p < 4; ++p)
        for (int k = 0; k < g.nrSfb[p]; ++k, ++r)
            if (illegal[r]) g.scalefac[r] = (1 << g.slen[p]) - 1;
}

void CL3RateControl::QuantiseChannel(const AnalysisChannel& a, ChannelWork& w, int cap, GranuleChannel& g,
                                     const AnalysisResult* stereo, const GranuleChannel* left) {
    g.blockType = a.blockType;
    int usedRecords = 0;
    for (int r = 0; r < a.recordCount; ++r) {
        w.value[r] = kNoBand;
        const float e = a.energy[r], t = a.threshold[r];
        const int band = a.recordCount == kLongBands ? r : r / 3;
        if (band >= a.bandsInUse || !(e > t) || !(e > 0.0f) || !(w.maxAbs[r] > 0.0f)) continue;
        int v = static_cast<int>(std::floor((8.0f / 3.0f) * std::log2(6.75f * t / w.sqrtSum[r]) + 0.5f));
        v = std::max(v, static_cast<int>(std::ceil(4.0f * std::log2(w.maxAbs[r]) - 69.33295f)));
        w.value[r] = -v;
        usedRecords = r + 1;
    }
    int gain = 0;
    DeriveScaleFactors(a, w, g, &gain);
    // The quantiser reads the derived scale factors; the right channel of an
    // intensity frame writes positions over some of them on every pass.
    int derived[kShortRecords];
    std::memcpy(derived, g.scalefac, sizeof derived);
    int need[kShortRecords];
    bool illegal[kShortRecords];
    HuffBand bands[kShortRecords];
    for (int r = 0; r < a.recordCount; ++r) bands[r] = HuffBand{a.recordStart[r + 1] - a.recordStart[r], w.peakLine[r]};
    const int extent = usedRecords > 0 ? a.recordStart[usedRecords] : 0;
    const bool anyBand = usedRecords > 0;
    for (; anyBand && gain <= kMaxGain; ++gain) {
        std::memcpy(g.scalefac, derived, sizeof derived);
        if (Requantise(a, w, gain, g) >= 8192) continue;
        if (stereo) IntensityScaleFactors(*stereo, left->q, g, need, illegal);
        const int sfBits = CodeScaleFactors(g, stereo ? need : nullptr, stereo != nullptr);
        if (sfBits < 0) break;
        const int bits = sfBits + CountHuffmanBits(g.q, extent, a.blockType, bands, a.recordCount,
                                                   m_cfg.splitSearch != 0, &g.huff);
        if (bits < cap) {
            g.globalGain = gain + 150;
            g.part23Length = bits;
            if (stereo) MarkIllegal(g, illegal);
            for (int& s : g.scalefac)
                if (s == kNoBand) s = 0;
            return;
        }
    }
    // Nothing fits the cap (or nothing is worth coding): send silence.
    ClearChannel(g);
    int sfBits = 0;
    if (stereo) {
        IntensityScaleFactors(*stereo, left->q, g, need, illegal);
        sfBits = std::max(0, CodeScaleFactors(g, need, true));
        MarkIllegal(g, illegal);
    } else {
        CodeScaleFactors(g, nullptr, false);
    }
    g.globalGain = 0;
    g.part23Length = sfBits + CountHuffmanBits(g.q, 0, a.blockType, bands, a.recordCount, false, &g.huff);
}

void CL3RateControl::Quantise(AnalysisResult& a, GranuleResult& result) {
    const int channels = a.channels;
    float pe = 0.0f;
    bool anyShort = false;
    for (int ch = 0; ch < channels; ++ch) {
        const AnalysisChannel& c = a.ch[ch];
        ChannelWork& w = m_work[ch];
        anyShort = anyShort || c.blockType == kShort;
        for (int i = 0; i < kLines; ++i) w.xr34[i] = std::pow(std::fabs(c.xr[i]), 0.75f);
        for (int r = 0; r < c.recordCount; ++r) {
            float s = 0.0f, m = 0.0f;
            int peak = c.recordStart[r];
            for (int i = c.recordStart[r]; i < c.recordStart[r + 1]; ++i) {
                const float v = std::fabs(c.xr[i]);
                s += std::sqrt(v);
                if (v > m) {
                    m = v;
                    peak = i;
                }
            }
            w.sqrtSum[r] = s;
            w.maxAbs[r] = m;
            w.peakLine[r] = peak;
        }
        ChannelPe(c, w);
        pe += w.pe;
    }
    m_intensityFrame = channels == 2 && a.intensity;
    const float target = Target(pe, anyShort);
    const float p = (m_cfg.vbr ? 1.0f : m_smoothing) * target;
    if (pe > p) {
        AdaptThresholds(a, p);
    } else if (!m_cfg.vbr && pe < kSpareShare * p) {
        LowerThresholds(a, kSpareShare * p);
    }
    float total = 0.0f;
    for (int ch = 0; ch < channels; ++ch) total += m_work[ch].pe;
    const int budget = m_cfg.vbr ? m_cfg.maxBits
                                 : m_reservoir + m_cfg.meanGranuleBits + m_surplus - m_cfg.meanFrameBits;
    int caps[2];
    for (int ch = 0; ch < channels; ++ch) {
        const float share =
            total > 0.0f ? m_work[ch].pe / total * (1.0f - 0.1f * channels) + 0.1f : 0.1f;
        caps[ch] = std::min(4096, static_cast<int>(std::floor(budget * share)));
    }
    if (m_intensityFrame) {
        // Even a silent right channel carries its positions: the left channel
        // leaves room for them, or the frame would outgrow its budget.
        const int reserve = IntensityReserve(a) + 1;
        if (caps[1] < reserve) {
            caps[0] = std::max(0, caps[0] - (reserve - caps[1]));
            caps[1] = reserve;
        }
    }
    result.totalBits = 0;
    for (int ch = 0; ch < channels; ++ch) {
        const int cap = caps[ch];
        const bool intensityRight = ch == 1 && m_intensityFrame;
        QuantiseChannel(a.ch[ch], m_work[ch], cap, result.ch[ch], intensityRight ? &a : nullptr, &result.ch[0]);
        result.totalBits += result.ch[ch].part23Length;
    }
    m_prevBits = result.totalBits;
}

}  // namespace l3
