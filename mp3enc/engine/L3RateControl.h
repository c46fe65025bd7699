#pragma once
// Quantisation and rate control of the second encoder engine: the perceptual
// entropy against a bit target, threshold adaptation, closed-form step
// estimates, scale factors and gain, and the bit reservoir. Configured at
// open; no allocation afterwards. Used by one engine on one thread.
#include "mp3enc/engine/L3Granule.h"

namespace l3 {

struct RateConfig {
    int channels;
    int version;           // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int maxBits;           // main-data bits: per frame (CBR) or per granule (VBR)
    int meanFrameBits;     // 0 in VBR
    int meanGranuleBits;   // 0 in VBR
    int bandwidthTenths;   // bandwidth / (F/2) x 5760
    int vbrQuality;
    int bitRatePerChannel;
    int splitSearch;
    bool vbr;
};

class CL3RateControl {
public:
    // 0, or 1 when the VBR quality lies outside the mapping table.
    int Configure(const RateConfig& config);
    void Quantise(AnalysisResult& analysis, GranuleResult& result);

    void Credit(int bits) { m_reservoir += bits; }
    void StartFrame() { m_surplus = 0; }
    void SettleGranule(int bitsUsed) { m_surplus += m_cfg.meanGranuleBits - bitsUsed; }
    int Reservoir() const { return m_reservoir; }
    float VbrScale() const { return m_vbrScale; }
    int EquivalentRate() const { return m_equivalentRate; }
    const float* LongRatios() const { return m_ratioLong; }

private:
    struct BandPe {
        float pe, constant, lines;
    };
    struct ChannelWork {
        float sqrtSum[kShortRecords];
        float maxAbs[kShortRecords];
        int peakLine[kShortRecords];
        BandPe band[kShortRecords];
        int mark[kShortRecords];
        float xr34[kLines];
        int value[kShortRecords];  // step exponent per record, or kNoBand
        float pe, constant, lines;
    };

    void ChannelPe(const AnalysisChannel& a, ChannelWork& w);
    float Target(float pe, bool shortBlocks);
    void AdaptThresholds(AnalysisResult& a, float target);
    void LowerThresholds(AnalysisResult& a, float target);
    // `stereo` and `left` only for the right channel of an intensity frame.
    void QuantiseChannel(const AnalysisChannel& a, ChannelWork& w, int cap, GranuleChannel& g,
                         const AnalysisResult* stereo, const GranuleChannel* left);
    void DeriveScaleFactors(const AnalysisChannel& a, const ChannelWork& w, GranuleChannel& g, int* gain);
    int Requantise(const AnalysisChannel& a, const ChannelWork& w, int gain, GranuleChannel& g);
    // Bits of the scale factors, or -1. `need`, when given, is per record the
    // value its width must hold in place of the scale factor itself.
    int CodeScaleFactors(GranuleChannel& g, const int* need, bool intensityRight);
    // `leftQ` null: taken as sounding in every band (the dearest case).
    void IntensityScaleFactors(const AnalysisResult& a, const int* leftQ, GranuleChannel& g, int* need,
                               bool* illegal) const;
    // Scale-factor bits of a silent right channel in an intensity frame.
    int IntensityReserve(const AnalysisResult& a);
    void MarkIllegal(GranuleChannel& g, const bool* illegal) const;
    void ClearChannel(GranuleChannel& g);

    RateConfig m_cfg{};
    int m_reservoir = 0;
    int m_surplus = 0;
    bool m_intensityFrame = false;
    float m_vbrScale = 0.0f;
    int m_equivalentRate = 0;
    float m_peLo = 0.0f, m_peHi = 0.0f, m_smoothing = 1.0f;
    float m_prevTarget = 0.0f;
    int m_prevBits = 0;
    float m_ratioLong[kLongBands]{};
    float m_ratioShort[kShortBands]{};
    ChannelWork m_work[2]{};
    GranuleChannel m_probe{};
};

}  // namespace l3
