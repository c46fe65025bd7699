#include "mp3enc/engine/L3Analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "mp3enc/L3EncTables.h"

namespace l3 {
namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr float kAttackEnergy = 47110000.0f;
constexpr float kNoThreshold = 1e20f;

// Process-wide transform tables, built once on first use.
struct Transforms {
    float window[512];
    float matrix[32][64];     // polyphase matrixing cos((2k + 1)(i - 16) pi / 64)
    float longCos[4][18][36]; // by block type 0, 1, 3 (index 3), window folded in
    float shortCos[6][12];
    float cs[8], ca[8];
    Transforms() {
        for (int i = 0; i < 512; ++i) window[i] = static_cast<float>(l3enc::kAnalysisWindow[i]);
        for (int k = 0; k < 32; ++k)
            for (int i = 0; i < 64; ++i) matrix[k][i] = static_cast<float>(std::cos((2 * k + 1) * (i - 16) * kPi / 64));
        double win[4][36];
        for (int i = 0; i < 36; ++i) win[0][i] = std::sin(kPi / 36 * (i + 0.5));
        for (int i = 0; i < 36; ++i) {
            win[1][i] = i < 18 ? win[0][i] : i < 24 ? 1.0 : i < 30 ? std::sin(kPi / 12 * (i - 18 + 0.5)) : 0.0;
            win[3][i] = i < 6 ? 0.0 : i < 12 ? std::sin(kPi / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : win[0][i];
        }
        // Scaled by 2/N so that the decoder's unscaled inverse gives back the input.
        for (int t : {0, 1, 3})
            for (int k = 0; k < 18; ++k)
                for (int i = 0; i < 36; ++i)
                    longCos[t][k][i] = static_cast<float>(win[t][i] * std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1)) / 9.0);
        for (int k = 0; k < 6; ++k)
            for (int i = 0; i < 12; ++i)
                shortCos[k][i] = static_cast<float>(std::sin(kPi / 12 * (i + 0.5)) *
                                                    std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1)) / 3.0);
        for (int i = 0; i < 8; ++i) {
            const double c = l3enc::kAliasCi[i];
            cs[i] = static_cast<float>(1.0 / std::sqrt(1.0 + c * c));
            ca[i] = static_cast<float>(c / std::sqrt(1.0 + c * c));
        }
    }
};

const Transforms& Tables() {
    static const Transforms kTables;
    return kTables;
}

double Bark(double f) {
    const double a = std::atan(f / 7500.0);
    return 13.3 * std::atan(0.00076 * f) + 3.5 * a * a;
}

constexpr int kQuietDb[25] = {15, 10, 7, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 5, 10, 20, 30};

int RateRow(int sampleRate) {
    for (int i = 0; i < 9; ++i)
        if (l3enc::kSfbRateHz[i] == sampleRate) return i;
    return -1;
}

// Combined block type of two channels.
constexpr int kCombine[4][4] = {{0, 1, 2, 3}, {1, 1, 2, 2}, {2, 2, 2, 2}, {3, 2, 2, 3}};
}  // namespace

void CL3Analysis::BuildLayout(Layout& l, const int16_t* edges, int bands, int lines, float bandwidth, float ceiling) {
    l.bands = bands;
    for (int b = 0; b <= bands; ++b) l.edge[b] = edges[b];
    l.bandwidthLine = static_cast<int>(2.0 * bandwidth * lines / m_sampleRate);
    l.bandwidthLine = std::clamp(l.bandwidthLine, 1, lines);
    l.inUse = 0;
    while (l.inUse < bands && l.edge[l.inUse] < l.bandwidthLine) ++l.inUse;
    l.ceiling = ceiling;
    double bark[22];
    int hundredths[22];
    const double hzPerLine = m_sampleRate / (2.0 * lines);
    for (int b = 0; b < bands; ++b) {
        bark[b] = std::min(24.0, 0.5 * (Bark(l.edge[b] * hzPerLine) + Bark(l.edge[b + 1] * hzPerLine)));
        hundredths[b] = static_cast<int>(bark[b] * 100.0);
    }
    for (int b = 0; b < bands; ++b) {
        l.upSlope[b] = 0.0f;
        l.downSlope[b] = 0.0f;
    }
    for (int b = 1; b < bands; ++b) {
        const double dz = bark[b] - bark[b - 1];
        l.upSlope[b] = static_cast<float>(std::pow(10.0, -1.5 * dz));
        l.downSlope[b - 1] = static_cast<float>(std::pow(10.0, -3.0 * dz));
    }
    for (int b = 0; b < bands; ++b) {
        const int lo = b == 0 ? hundredths[0] / 200 : (hundredths[b - 1] + hundredths[b]) / 200;
        const int hi = b == bands - 1 ? hundredths[b] / 100 : (hundredths[b] + hundredths[b + 1]) / 200;
        const int q = std::min(kQuietDb[std::clamp(lo, 0, 24)], kQuietDb[std::clamp(hi, 0, 24)]);
        l.quiet[b] = static_cast<float>(std::pow(10.0, (q - 70) / 10.0) * 16887.8 * (l.edge[b + 1] - l.edge[b]));
    }
}

int CL3Analysis::Create(int sampleRate, int bitRate, int channels, float bandwidth) {
    const int row = RateRow(sampleRate);
    if (row < 0 || channels < 1 || channels > 2 || !(bandwidth > 0.0f)) return 1;
    Tables();
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_midSideAllowed = channels == 2 && bitRate < 160000;
    BuildLayout(m_long, l3enc::kSfbLong[row], kLongBands, 576, bandwidth, 1000.0f);
    BuildLayout(m_short, l3enc::kSfbShort[row], kShortBands, 192, bandwidth, 1000.0f * 0.1111111f);
    for (Channel& c : m_ch) {
        c = Channel{};
        std::fill(std::begin(c.preEchoLong), std::end(c.preEchoLong), kNoThreshold);
        std::fill(std::begin(c.preEchoShort), std::end(c.preEchoShort), kNoThreshold);
    }
    return 0;
}

bool CL3Analysis::DetectAttack(Channel& c, const float* x) {
    float seg[3];
    for (int s = 0; s < 3; ++s) {
        double e = 1.0;  // a small offset keeps silence from dividing into attacks
        for (int i = 0; i < 192; ++i) {
            const float in = x[s * 192 + i];
            c.hpY = 0.7548f * (in - c.hpX) + 0.5095f * c.hpY;
            c.hpX = in;
            e += static_cast<double>(c.hpY) * c.hpY;
        }
        seg[s] = static_cast<float>(e);
    }
    const float all[6] = {c.segPrev[0], c.segPrev[1], c.segPrev[2], seg[0], seg[1], seg[2]};
    bool direct = false;
    for (int k = 3; k < 6; ++k)
        if (0.25f * all[k] > all[k - 1] && 0.25f * all[k] > all[k - 2] && all[k] > kAttackEnergy) direct = true;
    bool attack = direct;
    if (!direct && c.carriedAttack) {
        if ((seg[0] > kAttackEnergy && seg[0] > 4.0f * seg[1]) ||
            (c.segPrev[2] > kAttackEnergy && c.segPrev[2] > 4.0f * seg[0]))
            attack = true;
    }
    c.carriedAttack = direct;
    std::copy(seg, seg + 3, c.segPrev);
    return attack;
}

void CL3Analysis::Stage(const float* stereoFrames) {
    int types[2] = {kNormal, kNormal};
    for (int ch = 0; ch < m_channels; ++ch) {
        Channel& c = m_ch[ch];
        float fresh[576];
        for (int i = 0; i < 576; ++i) fresh[i] = stereoFrames[2 * i + ch];
        const int newPlan = DetectAttack(c, fresh) ? kShort : kNormal;
        // The granule that goes to the transform next is the one staged before.
        int t = c.planned;
        if (c.coded == kStart) t = kShort;
        if (t == kNormal && c.coded == kShort) t = kStop;
        if (newPlan == kShort) t = (t == kNormal) ? kStart : (t == kStop ? kShort : t);
        types[ch] = t;
        c.planned = newPlan;
        // The staged samples move to the filter bank's queue.
        std::memcpy(c.subPrev, c.subCur, sizeof c.subPrev);
        FilterBank(c);
        std::memcpy(c.staged, fresh, sizeof c.staged);
    }
    const int combined = m_channels == 2 ? kCombine[types[0]][types[1]] : types[0];
    for (int ch = 0; ch < m_channels; ++ch) m_ch[ch].coded = combined;
}

void CL3Analysis::FilterBank(Channel& c) {
    const Transforms& t = Tables();
    for (int slot = 0; slot < 18; ++slot) {
        std::memmove(c.history + 32, c.history, (512 - 32) * sizeof(float));
        for (int i = 0; i < 32; ++i) c.history[31 - i] = c.staged[slot * 32 + i];
        float y[64];
        for (int i = 0; i < 64; ++i) {
            float s = 0.0f;
            for (int j = 0; j < 8; ++j) s += t.window[i + 64 * j] * c.history[i + 64 * j];
            y[i] = s;
        }
        for (int k = 0; k < 32; ++k) {
            float s = 0.0f;
            for (int i = 0; i < 64; ++i) s += t.matrix[k][i] * y[i];
            // Odd subbands of odd time slots are inverted for the hybrid filter bank.
            c.subCur[slot][k] = ((k & 1) && (slot & 1)) ? -s : s;
        }
    }
}

void CL3Analysis::Transform(Channel& c, int blockType, AnalysisChannel& out) {
    const Transforms& t = Tables();
    out.blockType = blockType;
    if (blockType != kShort) {
        const int ti = blockType == kStop ? 3 : blockType;
        for (int sb = 0; sb < 32; ++sb) {
            float z[36];
            for (int i = 0; i < 18; ++i) {
                z[i] = c.subPrev[i][sb];
                z[18 + i] = c.subCur[i][sb];
            }
            for (int k = 0; k < 18; ++k) {
                float s = 0.0f;
                for (int i = 0; i < 36; ++i) s += t.longCos[ti][k][i] * z[i];
                out.xr[sb * 18 + k] = s;
            }
        }
        for (int sb = 1; sb < 32; ++sb)
            for (int i = 0; i < 8; ++i) {
                float& a = out.xr[18 * sb - 1 - i];
                float& b = out.xr[18 * sb + i];
                const float av = a, bv = b;
                a = av * t.cs[i] + bv * t.ca[i];
                b = bv * t.cs[i] - av * t.ca[i];
            }
        for (int i = m_long.bandwidthLine; i < 576; ++i) out.xr[i] = 0.0f;
        out.bandsInUse = m_long.inUse;
        out.recordCount = kLongBands;
        for (int b = 0; b <= kLongBands; ++b) out.recordStart[b] = m_long.edge[b];
        return;
    }
    // Short blocks: spectrum of each window by frequency, then laid out band by band.
    float win[3][192];
    for (int sb = 0; sb < 32; ++sb) {
        float z[36];
        for (int i = 0; i < 18; ++i) {
            z[i] = c.subPrev[i][sb];
            z[18 + i] = c.subCur[i][sb];
        }
        for (int w = 0; w < 3; ++w)
            for (int k = 0; k < 6; ++k) {
                float s = 0.0f;
                for (int i = 0; i < 12; ++i) s += t.shortCos[k][i] * z[6 + 6 * w + i];
                win[w][sb * 6 + k] = s;
            }
    }
    for (int w = 0; w < 3; ++w)
        for (int i = m_short.bandwidthLine; i < 192; ++i) win[w][i] = 0.0f;
    int line = 0;
    for (int b = 0; b < kShortBands; ++b) {
        const int width = m_short.edge[b + 1] - m_short.edge[b];
        for (int w = 0; w < 3; ++w) {
            out.recordStart[b * 3 + w] = line;
            for (int j = 0; j < width; ++j) out.xr[line++] = win[w][m_short.edge[b] + j];
        }
    }
    out.recordStart[kShortRecords] = line;
    out.bandsInUse = m_short.inUse;
    out.recordCount = kShortRecords;
}

void CL3Analysis::BandThresholds(const Layout& l, const float* energy, float* threshold, float* preEcho, int blockType,
                                 bool resetAfter) {
    const int n = l.inUse;
    for (int b = 0; b < n; ++b) threshold[b] = std::min(energy[b] * 0.0012589254f, l.ceiling);  // 10^-2.9
    for (int b = 1; b < n; ++b) threshold[b] = std::max(threshold[b], threshold[b - 1] * l.upSlope[b]);
    for (int b = n - 2; b >= 0; --b) threshold[b] = std::max(threshold[b], threshold[b + 1] * l.downSlope[b]);
    for (int b = 1; b < n - 1; ++b) {
        const float m = std::max(threshold[b - 1], threshold[b + 1]);
        if (threshold[b] > m) threshold[b] = std::max(m, 0.2f * threshold[b]);
    }
    for (int b = 0; b < n; ++b) threshold[b] = std::max(threshold[b], l.quiet[b]);
    if (blockType == kStop)
        for (int b = 0; b < l.bands; ++b) preEcho[b] = kNoThreshold;
    for (int b = 0; b < n; ++b) {
        const float before = threshold[b];
        threshold[b] = std::max(std::min(before, 3.0f * preEcho[b]), 0.001f * before);
        preEcho[b] = before;
    }
    if (resetAfter)
        for (int b = 0; b < l.bands; ++b) preEcho[b] = kNoThreshold;
    for (int b = n; b < l.bands; ++b) threshold[b] = kNoThreshold;
}

void CL3Analysis::Thresholds(Channel& c, AnalysisChannel& out) {
    for (int r = 0; r < out.recordCount; ++r) {
        double e = 0.0;
        for (int i = out.recordStart[r]; i < out.recordStart[r + 1]; ++i) e += static_cast<double>(out.xr[i]) * out.xr[i];
        out.energy[r] = static_cast<float>(e);
    }
    if (out.blockType != kShort) {
        for (int b = m_long.inUse; b < kLongBands; ++b) out.energy[b] = 0.0f;
        BandThresholds(m_long, out.energy, out.threshold, c.preEchoLong, out.blockType, out.blockType == kStart);
        if (out.blockType == kStart) std::fill(std::begin(c.preEchoShort), std::end(c.preEchoShort), kNoThreshold);
        return;
    }
    for (int w = 0; w < 3; ++w) {
        float e[kShortBands], t[kShortBands];
        for (int b = 0; b < kShortBands; ++b) e[b] = b < m_short.inUse ? out.energy[b * 3 + w] : 0.0f;
        BandThresholds(m_short, e, t, c.preEchoShort, kShort, false);
        for (int b = 0; b < kShortBands; ++b) {
            out.energy[b * 3 + w] = e[b];
            out.threshold[b * 3 + w] = t[b];
        }
    }
    std::fill(std::begin(c.preEchoLong), std::end(c.preEchoLong), kNoThreshold);
}

void CL3Analysis::DecideMidSide(AnalysisResult& r) {
    AnalysisChannel& L = r.ch[0];
    AnalysisChannel& R = r.ch[1];
    const int inUse = L.bandsInUse;
    const int records = L.recordCount == kLongBands ? inUse : inUse * 3;
    double mid[kShortRecords], side[kShortRecords];
    for (int k = 0; k < records; ++k) {
        double em = 0.0, es = 0.0;
        for (int i = L.recordStart[k]; i < L.recordStart[k + 1]; ++i) {
            const double m = (L.xr[i] + R.xr[i]) * 0.70710677, s = (L.xr[i] - R.xr[i]) * 0.70710677;
            em += m * m;
            es += s * s;
        }
        mid[k] = em;
        side[k] = es;
    }
    if (r.midSide == false) {
        // Costs as sums of log2 terms; the product form of the same sums cannot overflow here.
        double lr = 0.0, ms = 0.0;
        for (int k = 0; k < records; ++k) {
            const double tms = 1.5 * std::min(L.threshold[k], R.threshold[k]);
            lr += std::log2(std::max(1.0, L.energy[k] / static_cast<double>(L.threshold[k]))) +
                  std::log2(std::max(1.0, R.energy[k] / static_cast<double>(R.threshold[k])));
            ms += std::log2(std::max(1.0, mid[k] / tms)) + std::log2(std::max(1.0, side[k] / tms));
        }
        if (!(lr > ms)) return;
        r.midSide = true;
    }
    for (int i = 0; i < 576; ++i) {
        const float l = L.xr[i], rr = R.xr[i];
        L.xr[i] = (l + rr) * 0.70710677f;
        R.xr[i] = (l - rr) * 0.70710677f;
    }
    for (int k = 0; k < records; ++k) {
        const float tms = 1.5f * std::min(L.threshold[k], R.threshold[k]);
        L.threshold[k] = R.threshold[k] = tms;
        L.energy[k] = static_cast<float>(mid[k]);
        R.energy[k] = static_cast<float>(side[k]);
    }
}

void CL3Analysis::Analyse(int granuleIndex, AnalysisResult* result) {
    result->channels = m_channels;
    for (int ch = 0; ch < m_channels; ++ch) {
        Transform(m_ch[ch], m_ch[ch].coded, result->ch[ch]);
        Thresholds(m_ch[ch], result->ch[ch]);
    }
    if (granuleIndex == 0) {
        m_frameMidSide = false;
        result->midSide = false;
        if (m_channels == 2 && m_midSideAllowed && result->ch[0].blockType == result->ch[1].blockType)
            DecideMidSide(*result);
        m_frameMidSide = result->midSide;
    } else {
        result->midSide = m_frameMidSide;
        if (m_frameMidSide) DecideMidSide(*result);
    }
}

}  // namespace l3
