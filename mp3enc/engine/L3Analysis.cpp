#include "mp3enc/engine/L3Analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "common/L3Tables.h"

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
        for (int i = 0; i < 512; ++i) window[i] = static_cast<float>(l3tables::kAnalysisWindow[i]);
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
            const double c = l3tables::kAliasCi[i];
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
        if (l3tables::kSfbRateHz[i] == sampleRate) return i;
    return -1;
}

// Combined block type of two channels.
constexpr int kCombine[4][4] = {{0, 1, 2, 3}, {1, 1, 2, 2}, {2, 2, 2, 2}, {3, 2, 2, 3}};

// Intensity positions: left and right weights. MPEG-1 has sin and cos of
// k pi/12; MPEG-2 and 2.5 have l_m and s_m, odd positions leaning right.
constexpr int kFirstIntensityBand = 7;
constexpr int kMpeg1Positions = 7;
constexpr int kMpeg2Positions = 31;
constexpr float kMpeg1Weight[kMpeg1Positions] = {0.0f, 0.258819f, 0.5f, 0.707107f, 0.866025f, 0.965926f, 1.0f};
constexpr float kLsfLarge[16] = {0.7071f, 0.8165f, 0.8944f, 0.9428f, 0.9701f, 0.9847f, 0.9923f, 0.9961f,
                                 0.9981f, 0.9990f, 0.9995f, 0.9998f, 0.9999f, 0.9999f, 1.0f,    1.0f};
constexpr float kLsfSmall[16] = {0.7071f,  0.5774f,  0.4472f,  0.3333f,  0.2425f,  0.1741f,  0.1240f,   0.08805f,
                                 0.06238f, 0.04415f, 0.03123f, 0.02209f, 0.01562f, 0.01105f, 0.007812f, 0.005524f};
constexpr float kIntensityMargin = 0.0019952623f;  // 10^-2.7

void Weights(bool mpeg1, int k, float* left, float* right) {
    if (mpeg1) {
        *left = kMpeg1Weight[k];
        *right = kMpeg1Weight[kMpeg1Positions - 1 - k];
        return;
    }
    const int m = (k + 1) / 2;
    const bool leansRight = (k & 1) != 0;
    *left = leansRight ? kLsfSmall[m] : kLsfLarge[m];
    *right = leansRight ? kLsfLarge[m] : kLsfSmall[m];
}

// MPEG-2 positions on a signed scale: 0, then -m for 2m - 1 and +m for 2m.
int Fold(int k) { return k == 0 ? 0 : ((k & 1) ? -(k + 1) / 2 : k / 2); }
int Unfold(int f) { return f == 0 ? 0 : (f < 0 ? -2 * f - 1 : 2 * f); }
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

int CL3Analysis::Create(int sampleRate, int bitRate, int channels, float bandwidth, bool intensityOff) {
    const int row = RateRow(sampleRate);
    if (row < 0 || channels < 1 || channels > 2 || !(bandwidth > 0.0f)) return 1;
    Tables();
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_midSideAllowed = channels == 2 && bitRate < 160000;
    m_intensityAllowed = channels == 2 && bitRate <= 96000 && !intensityOff;
    m_frameIntensity = false;
    m_mpeg1 = sampleRate >= 32000;
    const int centre = m_mpeg1 ? 3 : 0;
    std::fill(std::begin(m_isPrevLong), std::end(m_isPrevLong), centre);
    for (auto& window : m_isPrevShort) std::fill(std::begin(window), std::end(window), centre);
    BuildLayout(m_long, l3tables::kSfbLong[row], kLongBands, 576, bandwidth, 1000.0f);
    BuildLayout(m_short, l3tables::kSfbShort[row], kShortBands, 192, bandwidth, 1000.0f * 0.1111111f);
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

bool CL3Analysis::BelowBound(const AnalysisResult& r, int record) const {
    if (r.ch[0].recordCount == kLongBands) return record < r.intensityBound[0];
    return record / 3 < r.intensityBound[record % 3];
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
        // Bands that intensity stereo takes are not coded as mid/side, so they do not vote.
        double lr = 0.0, ms = 0.0;
        for (int k = 0; k < records; ++k) {
            if (!BelowBound(r, k)) continue;
            const double tms = 1.5 * std::min(L.threshold[k], R.threshold[k]);
            lr += std::log2(std::max(1.0, L.energy[k] / static_cast<double>(L.threshold[k]))) +
                  std::log2(std::max(1.0, R.energy[k] / static_cast<double>(R.threshold[k])));
            ms += std::log2(std::max(1.0, mid[k] / tms)) + std::log2(std::max(1.0, side[k] / tms));
        }
        if (!(lr > ms)) return;
        r.midSide = true;
    }
    auto convert = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const float l = L.xr[i], rr = R.xr[i];
            L.xr[i] = (l + rr) * 0.70710677f;
            R.xr[i] = (l - rr) * 0.70710677f;
        }
    };
    if (!r.intensity) {
        convert(0, kLines);
    } else {
        for (int k = 0; k < records; ++k)
            if (BelowBound(r, k)) convert(L.recordStart[k], L.recordStart[k + 1]);
    }
    for (int k = 0; k < records; ++k) {
        if (!BelowBound(r, k)) continue;
        const float tms = 1.5f * std::min(L.threshold[k], R.threshold[k]);
        L.threshold[k] = R.threshold[k] = tms;
        L.energy[k] = static_cast<float>(mid[k]);
        R.energy[k] = static_cast<float>(side[k]);
    }
}

void CL3Analysis::SearchWindow(AnalysisResult& r, int window, int* previous) {
    const AnalysisChannel& L = r.ch[0];
    const AnalysisChannel& R = r.ch[1];
    const bool isLong = L.recordCount == kLongBands;
    const int inUse = L.bandsInUse;
    const int lastBand = (isLong ? kLongBands : kShortBands) - 1;
    auto record = [&](int b) { return isLong ? b : b * 3 + window; };
    r.intensityBound[window] = inUse;
    if (inUse <= kFirstIntensityBand) return;
    const int count = m_mpeg1 ? kMpeg1Positions : kMpeg2Positions;
    for (int b = kFirstIntensityBand; b < inUse; ++b) {
        const int k = record(b);
        double cross = 0.0;
        for (int i = L.recordStart[k]; i < L.recordStart[k + 1]; ++i) cross += static_cast<double>(L.xr[i]) * R.xr[i];
        const double eL = L.energy[k], eR = R.energy[k];
        int pos;
        if (b == lastBand) {
            // The top band has no scale factor of its own: it rides on the band below.
            pos = r.intensityPos[record(b - 1)];
        } else {
            int best = 0;
            double bestError = 0.0;
            for (int p = 0; p < count; ++p) {
                float lw, rw;
                Weights(m_mpeg1, p, &lw, &rw);
                const double error = static_cast<double>(rw) * rw * eL + static_cast<double>(lw) * lw * eR -
                                     2.0 * lw * rw * cross;
                if (p == 0 || error < bestError) {
                    best = p;
                    bestError = error;
                }
            }
            if (m_mpeg1) {
                pos = std::clamp(best, previous[b] - 1, previous[b] + 1);
            } else {
                const int was = Fold(previous[b]);
                pos = Unfold(std::clamp(Fold(best), was - 4, was + 4));
            }
            previous[b] = pos;
        }
        float lw, rw;
        Weights(m_mpeg1, pos, &lw, &rw);
        r.intensityPos[k] = pos;
        m_isLeft[k] = lw;
        m_isRight[k] = rw;
        m_isCross[k] = static_cast<float>(2.0 * lw * rw * cross);
    }
    int bound = kFirstIntensityBand;
    for (int b = inUse - 1; b >= kFirstIntensityBand; --b) {
        const int k = record(b);
        const float error = m_isRight[k] * m_isRight[k] * L.energy[k] + m_isLeft[k] * m_isLeft[k] * R.energy[k] -
                            m_isCross[k];
        if (kIntensityMargin * m_isLeft[k] * error > R.threshold[k] ||
            kIntensityMargin * m_isRight[k] * error > L.threshold[k]) {
            bound = b + 1;
            break;
        }
    }
    r.intensityBound[window] = bound;
}

void CL3Analysis::SearchIntensity(AnalysisResult& r) {
    if (r.ch[0].recordCount == kLongBands) {
        SearchWindow(r, 0, m_isPrevLong);
        r.intensityBound[1] = r.intensityBound[2] = r.intensityBound[0];
        return;
    }
    for (int w = 0; w < 3; ++w) SearchWindow(r, w, m_isPrevShort[w]);
}

void CL3Analysis::ApplyIntensity(AnalysisResult& r) {
    AnalysisChannel& L = r.ch[0];
    AnalysisChannel& R = r.ch[1];
    const int records = L.recordCount == kLongBands ? L.bandsInUse : L.bandsInUse * 3;
    for (int k = 0; k < records; ++k) {
        if (BelowBound(r, k)) continue;
        const float lw = m_isLeft[k], rw = m_isRight[k];
        const float w = m_mpeg1 ? 1.0f + 2.0f * lw * rw : std::max(lw * lw, rw * rw);
        const float root = std::sqrt(w);
        for (int i = L.recordStart[k]; i < L.recordStart[k + 1]; ++i) {
            L.xr[i] = root * (lw * L.xr[i] + rw * R.xr[i]);
            R.xr[i] = 0.0f;
        }
        const float combined = w * (lw * lw * L.energy[k] + rw * rw * R.energy[k] + m_isCross[k]);
        const float ratio = std::max(L.energy[k] / L.threshold[k], R.energy[k] / R.threshold[k]);
        L.threshold[k] = ratio > 0.0f ? combined / ratio : 1.0f;
        L.energy[k] = combined;
        R.energy[k] = 0.0f;
    }
}

void CL3Analysis::Analyse(int granuleIndex, AnalysisResult* result) {
    result->channels = m_channels;
    for (int ch = 0; ch < m_channels; ++ch) {
        Transform(m_ch[ch], m_ch[ch].coded, result->ch[ch]);
        Thresholds(m_ch[ch], result->ch[ch]);
    }
    const int inUse = result->ch[0].bandsInUse;
    std::fill(std::begin(result->intensityBound), std::end(result->intensityBound), inUse);
    std::fill(std::begin(result->intensityPos), std::end(result->intensityPos), 0);
    if (granuleIndex == 0) m_frameIntensity = false;
    if (m_channels == 2 && m_intensityAllowed && (granuleIndex == 0 || m_frameIntensity)) {
        SearchIntensity(*result);
        if (granuleIndex == 0)
            for (int bound : result->intensityBound) m_frameIntensity = m_frameIntensity || bound < inUse;
        if (!m_frameIntensity) std::fill(std::begin(result->intensityBound), std::end(result->intensityBound), inUse);
    }
    result->intensity = m_frameIntensity;
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
    if (result->intensity) ApplyIntensity(*result);
}

}  // namespace l3
