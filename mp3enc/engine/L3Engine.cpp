#include "mp3enc/engine/L3Engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "common/MpegHeaderTables.h"
#include "mp3enc/engine/FrameSizeSequencer.h"
#include "mp3enc/engine/L3Analysis.h"
#include "mp3enc/engine/L3FrameFormatter.h"
#include "mp3enc/engine/L3RateControl.h"

using namespace l3;

struct L3Engine {
    int32_t params[15];
    float bandwidth = 0.0f;
    bool vbr = false;
    int sampleRate = 0;
    int inputChannels = 1;
    int codedChannels = 1;
    int granulesPerFrame = 2;
    int sideBits = 0;
    int granulesPerFlush = 2;
    int minOutput = 0;
    int delay = kL3EngineDelay;
    long long granuleCounter = 0;
    int modeExtension = 0;
    int index = 0;
    int padding = 0;
    int bitsUsed = 0;
    int zeroSamples = 0;
    int frameBits[15];
    int sequencePeriod = 1;
    int frameBytes = 1;
    GranuleResult granules[2];
    AnalysisResult analysis;
    CL3Analysis analyser;
    CL3RateControl rate;
    CL3FrameFormatter formatter;
    CFrameSizeSequencer sequencer;
    float staging[2 * 576];
};

namespace {
constexpr int kRates[9] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

float BandwidthOf(const int32_t* w) {
    float f;
    std::memcpy(&f, &w[kL3Bandwidth], sizeof f);
    return f;
}

int CheckParams(const int32_t* w) {
    const int in = w[kL3InputChannels], coded = w[kL3CodedChannels];
    if (in < 1 || in > 2 || coded < 1 || coded > in) return 1;
    if (w[kL3Vbr]) {
        if (w[kL3VbrQuality] < 0 || w[kL3VbrQuality] > 100) return 1;
    } else {
        const int r = w[kL3BitRate];
        if (r / coded < 8000) return 1;
        if (w[kL3SampleRate] < 32000 && (r < 8000 || r > 160000)) return 1;
        if (w[kL3SampleRate] >= 32000 && (r < 32000 || r > 320000)) return 1;
    }
    if (std::find(kRates, kRates + 9, w[kL3SampleRate]) == kRates + 9) return 1;
    if (w[kL3PaddingMode] < 0 || w[kL3PaddingMode] > 3) return 1;
    const float bw = BandwidthOf(w);
    // A bandwidth must leave at least one line of a short window.
    if (std::isnan(bw) || bw < 0.0f || (bw > 0.0f && 2.0 * bw * 192 / w[kL3SampleRate] < 1.0)) return 1;
    return 0;
}

int SetUp(L3Engine& e) {
    const int32_t* w = e.params;
    const int f = e.sampleRate, r = w[kL3BitRate];
    const int version = f > 24000 ? 0 : 1;
    const int samplesPerFrame = version == 0 ? 1152 : 576;
    if (e.formatter.Setup(e.codedChannels == 1 ? 3 : 1, f, w[kL3Crc] != 0, w[kL3Private] != 0, w[kL3Copyright] != 0,
                          w[kL3Original] != 0))
        return 1;
    for (int i = 0; i < 15; ++i) e.frameBits[i] = e.formatter.FrameBits(i);
    e.sideBits = e.formatter.SideBits();
    e.granulesPerFrame = e.formatter.Granules();
    const int g = e.granulesPerFrame, s = e.sideBits;
    const int* kbps = mpeg_header::kBitRateKbps[version][3 - 1];
    if (!e.vbr) {
        if (e.sequencer.Setup(r, f, samplesPerFrame, w[kL3PaddingMode], e.frameBits, kbps)) return 1;
        e.sequencePeriod = w[kL3PaddingMode] == 0 ? 1 : e.sequencer.Period();
        e.frameBytes = w[kL3PaddingMode] == 0 ? 1 : e.sequencer.FrameBytes();
    }
    float bw = BandwidthOf(w);
    if (bw == 0.0f) {
        if (e.vbr) {
            bw = f * (w[kL3VbrQuality] <= 70 ? 0.32f : 0.38f);
        } else if (e.codedChannels == 1) {
            bw = 0.182f * r + 1810.0f;
        } else if (r < 32000) {
            bw = 0.1125f * r + 1600.0f;
        } else {
            const long long t = static_cast<long long>(g) * r * 576 / f;
            const float v = f >= 32000 ? 1.85f : 1.39f;
            bw = static_cast<float>(f) * static_cast<float>(t - s) / (v * 2.0f * g) / 1152.0f;
        }
        bw = std::min(bw, f / 2.0f);
    }
    e.bandwidth = bw;
    std::memcpy(&e.params[kL3Bandwidth], &bw, sizeof bw);
    if (e.analyser.Create(f, e.vbr ? 0 : r, e.codedChannels, bw, w[kL3IntensityOff] != 0)) return 1;

    const long long target = static_cast<long long>(g) * r * 576 / f;
    int h = 14;
    for (int i = 1; i <= 14; ++i)
        if (e.frameBits[i] >= target) {
            h = i;
            break;
        }
    const int l = (e.frameBits[h] > target && h > 1) ? h - 1 : h;
    RateConfig cfg{};
    cfg.channels = e.codedChannels;
    cfg.version = f >= 32000 ? 0 : (f >= 16000 ? 1 : 2);
    cfg.vbr = e.vbr;
    cfg.vbrQuality = w[kL3VbrQuality];
    cfg.splitSearch = w[kL3SplitSearch];
    cfg.bitRatePerChannel = e.vbr ? 0 : r / e.codedChannels;
    cfg.bandwidthTenths = static_cast<int>(bw / (f / 2.0f) * 5760.0f);
    if (e.vbr) {
        e.minOutput = 2 * e.frameBits[14] / 8;
        e.granulesPerFlush = g;
        cfg.maxBits = (e.frameBits[14] - s) / g;
    } else {
        int limit = g * 256 - 1;
        if (8 * g * 256 + e.frameBits[l] - 8 > 7680) limit = std::max(0, (7680 - e.frameBits[l]) / 8);
        const int m = std::max(1, e.frameBits[l] - s);
        const int n = (m + 8 * limit - 1) / m;
        e.minOutput = e.frameBits[h] / 8 * 2 + e.frameBits[l] * (n - 1) / 8 + 2;
        e.granulesPerFlush = e.sequencePeriod * g;
        cfg.maxBits = e.frameBits[l] + 8 * limit - s;
        cfg.meanFrameBits = std::min(static_cast<int>(static_cast<long long>(r) * 576 / f) * g - s, cfg.maxBits);
        cfg.meanGranuleBits = cfg.meanFrameBits / g;
    }
    if (e.rate.Configure(cfg)) return 1;
    e.delay = kL3EngineDelay;
    e.zeroSamples = 0;
    return 0;
}

void EncodeGranule(L3Engine& e, const float* pcm, int frames, uint8_t* out, int capacity, int* written) {
    std::memset(e.staging, 0, sizeof e.staging);
    if (e.inputChannels == 1) {
        for (int i = 0; i < frames; ++i) e.staging[2 * i] = pcm[i];
    } else if (e.codedChannels == 1) {
        for (int i = 0; i < frames; ++i) e.staging[2 * i] = (pcm[2 * i] + pcm[2 * i + 1]) * 0.5f;
    } else {
        std::memcpy(e.staging, pcm, sizeof(float) * 2 * static_cast<size_t>(frames));
    }
    if (frames < 576) e.zeroSamples += 576 - frames;
    const int gi = static_cast<int>(e.granuleCounter % e.granulesPerFrame);
    if (gi == 0) {
        e.modeExtension = 0;
        e.bitsUsed = 0;
        if (!e.vbr) {
            e.sequencer.Step(&e.index, &e.padding);
            const int bits = e.frameBits[e.index] + 8 * e.padding;
            e.rate.Credit(bits - e.sideBits);
            e.rate.StartFrame();
        }
    }
    e.analyser.Stage(e.staging);
    e.analyser.Analyse(gi, &e.analysis);
    if (e.codedChannels == 2 && e.analysis.midSide) e.modeExtension |= 2;
    if (e.codedChannels == 2 && e.analysis.intensity) e.modeExtension |= 1;
    e.rate.Quantise(e.analysis, e.granules[gi]);
    e.bitsUsed += e.granules[gi].totalBits;
    e.rate.SettleGranule(e.granules[gi].totalBits);
    if (gi == e.granulesPerFrame - 1) {
        if (e.vbr) {
            e.index = 14;
            for (int i = 1; i <= 14; ++i)
                if (e.frameBits[i] >= e.bitsUsed + e.sideBits - e.rate.Reservoir()) {
                    e.index = i;
                    break;
                }
            e.padding = 0;
        }
        int w = 0;
        const int took = e.formatter.Format(e.granules, e.index, e.padding, e.modeExtension, out + *written,
                                            capacity - *written, &w);
        *written += w;
        e.rate.Credit(e.sideBits - took);
        if (e.vbr) e.rate.Credit(e.frameBits[e.index] - e.sideBits);
    }
    ++e.granuleCounter;
}
}  // namespace

int L3EngineOpen(L3Engine** handle, const L3EngineParams* params) {
    if (!handle) return 1;
    *handle = nullptr;
    if (!params || CheckParams(params->word)) return 1;
    auto* e = new (std::nothrow) L3Engine;
    if (!e) return 1;
    std::memcpy(e->params, params->word, sizeof e->params);
    e->vbr = params->word[kL3Vbr] != 0;
    if (e->vbr) e->params[kL3BitRate] = 0;
    e->sampleRate = params->word[kL3SampleRate];
    e->inputChannels = params->word[kL3InputChannels];
    e->codedChannels = params->word[kL3CodedChannels];
    if (SetUp(*e)) {
        delete e;
        return 1;
    }
    *handle = e;
    return 0;
}

void L3EngineClose(L3Engine* handle) { delete handle; }

int L3EngineEncode(L3Engine* e, const float* pcm, int samples, uint8_t* out, int capacity, int* written,
                   const uint8_t*, int*) {
    if (!e || !written || !out) return 1;
    if (samples < 0 || samples > 576 * e->inputChannels || samples % e->inputChannels != 0 || (samples && !pcm))
        return 1;
    if (capacity < e->minOutput) return 2;
    *written = 0;
    e->formatter.ClearFrameSizes();
    if (samples > 0) {
        EncodeGranule(*e, pcm, samples / e->inputChannels, out, capacity, written);
        return *written > capacity ? 4 : 0;
    }
    static const float kSilence[2 * 576] = {};
    for (;;) {
        if (e->zeroSamples >= e->delay && e->granuleCounter % e->granulesPerFlush == 0) {
            if (*written == 0) e->formatter.Flush(out, capacity, written);
            break;
        }
        if (*written > 0) break;
        EncodeGranule(*e, kSilence, 0, out, capacity, written);
    }
    return *written > capacity ? 4 : 0;
}

int L3EngineGetInfo(L3Engine* e, L3EngineInfo* info) {
    if (!e || !info) return 0;
    info->bandwidth = e->bandwidth;
    info->delay = e->delay;
    info->minOutputBytes = e->minOutput;
    info->sequencePeriod = e->sequencePeriod;
    info->frameBytes = e->frameBytes;
    return 0;
}

const int32_t* L3EngineGetFrameSizes(L3Engine* e) { return e ? e->formatter.FrameSizes() : nullptr; }
