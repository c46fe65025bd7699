#pragma once
// Analysis stage of the second encoder engine: attack detection and block
// types (one granule of look-ahead), the polyphase filter bank, the MDCT, the
// band thresholds and the stereo decisions (mid/side, intensity). Created at
// open; no allocation afterwards. Used by one engine on one thread.
#include "mp3enc/engine/L3Granule.h"

namespace l3 {

class CL3Analysis {
public:
    // 0 on success, 1 for a rate without band tables or a bad channel count.
    int Create(int sampleRate, int bitRate, int channels, float bandwidth, bool intensityOff);
    // Appends one granule: 576 interleaved stereo frames.
    void Stage(const float* stereoFrames);
    // Transforms the granule staged before the latest one. The mid/side and
    // intensity decisions are taken at granule index 0 and kept for the frame.
    void Analyse(int granuleIndex, AnalysisResult* result);

private:
    struct Layout {
        int bands;             // 22 long or 13 short
        int edge[23];
        int bandwidthLine;
        int inUse;
        float upSlope[22];     // from band b - 1 to b
        float downSlope[22];   // from band b + 1 to b
        float quiet[22];
        float ceiling;
    };
    struct Channel {
        float history[512];    // filter-bank input, newest first
        float staged[576];     // the granule waiting for its look-ahead
        float subPrev[18][32];
        float subCur[18][32];
        float hpX = 0, hpY = 0;
        float segPrev[3] = {0, 0, 0};
        bool carriedAttack = false;
        int planned = kNormal;  // planned type of the staged granule
        int coded = kNormal;    // type of the last coded granule
        float preEchoLong[22];
        float preEchoShort[13];
    };

    void BuildLayout(Layout& layout, const int16_t* edges, int bands, int lines, float bandwidth, float ceiling);
    bool DetectAttack(Channel& c, const float* x);
    void FilterBank(Channel& c);
    void Transform(Channel& c, int blockType, AnalysisChannel& out);
    void Thresholds(Channel& c, AnalysisChannel& out);
    void BandThresholds(const Layout& layout, const float* energy, float* threshold, float* preEcho, int blockType,
                        bool firstWindowOfStart);
    void DecideMidSide(AnalysisResult& r);
    bool BelowBound(const AnalysisResult& r, int record) const;
    void SearchIntensity(AnalysisResult& r);
    void SearchWindow(AnalysisResult& r, int window, int* previous);
    void ApplyIntensity(AnalysisResult& r);

    int m_sampleRate = 0;
    int m_channels = 0;
    bool m_midSideAllowed = false;
    bool m_frameMidSide = false;
    bool m_intensityAllowed = false;
    bool m_frameIntensity = false;
    bool m_mpeg1 = true;
    // Positions of the last search, per long band and per short band and window.
    int m_isPrevLong[kLongBands]{};
    int m_isPrevShort[3][kShortBands]{};
    // Weights and cross terms of the granule's search, per record.
    float m_isLeft[kShortRecords]{};
    float m_isRight[kShortRecords]{};
    float m_isCross[kShortRecords]{};
    Layout m_long{};
    Layout m_short{};
    Channel m_ch[2]{};
};

}  // namespace l3
