#include "mp3enc/l3core/core/quant/ChannelLoop.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/L3Tables.h"
#include "mp3enc/l3core/core/quant/QuantTables.h"
#include "mp3enc/l3core/core/quant/ScalefactorBits.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kLines = 576;
constexpr int kLongSfBands = 21;
constexpr int kShortSfBands = 12;

bool IsShort(int blockType) { return blockType == 2; }
bool IsMixed(int blockType) { return blockType == 5; }
bool IsPlainLong(int blockType) { return blockType == 0 || blockType == 1 || blockType == 3; }
int KindOf(int blockType) { return IsShort(blockType) ? 1 : (IsMixed(blockType) ? 2 : 0); }

int MixedLongBands(const ChannelLoop* loop) { return loop->lowerRate ? 6 : 8; }

// Window of a short record; -1 for a long one.
int WindowOf(const ChannelLoop* loop, int r) {
    if (IsShort(loop->blockType)) return r % 3;
    if (IsMixed(loop->blockType)) {
        const int n = MixedLongBands(loop);
        return r < n ? -1 : (r - n) % 3;
    }
    return -1;
}

void AddBand(ChannelLoop* loop, int first, int width, float energy, float allowed) {
    QuantBand& b = loop->band[loop->bandCount++];
    b.first = first;
    b.width = width;
    b.energy = energy;
    b.allowed = allowed;
    b.weight = allowed > 0.0f ? 1.0f / allowed : 0.0f;
    b.peakLine = first;
}

// Short bands from `fromBand`, in coding order from line `line`.
void ShortRecords(ChannelLoop* loop, const LoopChannelInput& in, int fromBand, int line) {
    for (int b = fromBand; b < 13; ++b) {
        const int width = loop->shortStart[b + 1] - loop->shortStart[b];
        for (int w = 0; w < 3; ++w, line += width) {
            const float energy = in.energyShort[w] ? in.energyShort[w][b] : 0.0f;
            const float allowed = in.distShort[w] ? in.distShort[w][b] : 0.0f;
            AddBand(loop, line, width, energy, allowed);
        }
    }
}

// Short windows interleaved line by line -> window after window per band.
void Reorder(ChannelLoop* loop, const float* in, int fromBand) {
    for (int b = fromBand; b < 13; ++b) {
        const int start = loop->shortStart[b] * 3, width = loop->shortStart[b + 1] - loop->shortStart[b];
        for (int w = 0; w < 3; ++w)
            for (int k = 0; k < width; ++k) loop->spectrum[start + w * width + k] = in[start + 3 * k + w];
    }
}

int ScalefactorIndexLimit(const ChannelLoop* loop) { return loop->scalefactorBands; }

// The record's positions by scale factor, in the order the info keeps them.
void TakePositions(const ChannelLoop* loop, const IsRecord& is, GranuleInfo* info) {
    info->intensity = 1;
    std::fill(info->isPosition, info->isPosition + kMaxScalefactors, kNotIntensity);
    const int type = loop->blockType;
    const int longEnd = IsShort(type) ? 0 : (IsMixed(type) ? MixedLongBands(loop) : kLongSfBands);
    for (int b = std::max(is.longBound, 0); b < longEnd; ++b) info->isPosition[b] = is.longPos[b];
    if (!IsShort(type) && !IsMixed(type)) return;
    const int first = IsMixed(type) ? 3 : 0;
    for (int w = 0; w < 3; ++w)
        for (int b = std::max(is.shortBound[w], first); b < kShortSfBands; ++b)
            info->isPosition[longEnd + 3 * (b - first) + w] = is.shortPos[w][b];
}

int QuantiseOne(float x34, double step) {
    return static_cast<int>(std::floor(x34 * step + 0.4054));
}

}  // namespace

ChannelLoop* CreateChannelLoop(int sampleRate) {
    int row = -1;
    for (int i = 0; i < 9; ++i)
        if (l3tables::kSfbRateHz[i] == sampleRate) row = i;
    if (row < 0) return nullptr;
    auto* loop = static_cast<ChannelLoop*>(AlignedCalloc(1, sizeof(ChannelLoop), __FILE__, __LINE__));
    if (!loop) return nullptr;
    loop->spectrum = static_cast<float*>(AlignedCalloc(kLines, sizeof(float), __FILE__, __LINE__));
    loop->magnitude = static_cast<float*>(AlignedCalloc(kLines, sizeof(float), __FILE__, __LINE__));
    loop->x34 = static_cast<float*>(AlignedCalloc(kLines, sizeof(float), __FILE__, __LINE__));
    loop->negative = static_cast<int*>(AlignedCalloc(kLines, sizeof(int), __FILE__, __LINE__));
    loop->quantised = static_cast<int*>(AlignedCalloc(kLines, sizeof(int), __FILE__, __LINE__));
    loop->error = static_cast<float*>(AlignedCalloc(kLines, sizeof(float), __FILE__, __LINE__));
    if (!loop->spectrum || !loop->magnitude || !loop->x34 || !loop->negative || !loop->quantised || !loop->error) {
        DeleteChannelLoop(loop);
        return nullptr;
    }
    loop->lowerRate = sampleRate <= 24000;
    loop->longStart = l3tables::kSfbLong[row];
    loop->shortStart = l3tables::kSfbShort[row];
    return loop;
}

void DeleteChannelLoop(ChannelLoop* loop) {
    if (!loop) return;
    AlignedFree(loop->spectrum);
    AlignedFree(loop->magnitude);
    AlignedFree(loop->x34);
    AlignedFree(loop->negative);
    AlignedFree(loop->quantised);
    AlignedFree(loop->error);
    AlignedFree(loop);
}

int PrepareChannelLoop(ChannelLoop* loop, const LoopChannelInput& in) {
    if (in.blockType < 0 || in.blockType > 6 || !in.spectrum) return 0;
    loop->blockType = in.blockType;
    loop->bandCount = 0;
    const bool longGroup = !IsShort(in.blockType) && !IsMixed(in.blockType);
    if (longGroup) {
        std::memcpy(loop->spectrum, in.spectrum, kLines * sizeof(float));
        for (int b = 0; b < 22; ++b)
            AddBand(loop, loop->longStart[b], loop->longStart[b + 1] - loop->longStart[b],
                    in.energyLong ? in.energyLong[b] : 0.0f, in.distLong ? in.distLong[b] : 0.0f);
        loop->scalefactorBands = kLongSfBands;
        loop->measuredBands = IsPlainLong(in.blockType) ? kLongSfBands : 0;
    } else if (IsShort(in.blockType)) {
        Reorder(loop, in.spectrum, 0);
        ShortRecords(loop, in, 0, 0);
        loop->scalefactorBands = 3 * kShortSfBands;
        loop->measuredBands = 3 * kShortSfBands;
    } else {
        const int n = MixedLongBands(loop), boundary = loop->longStart[n];
        std::memcpy(loop->spectrum, in.spectrum, boundary * sizeof(float));
        Reorder(loop, in.spectrum, 3);
        for (int b = 0; b < n; ++b)
            AddBand(loop, loop->longStart[b], loop->longStart[b + 1] - loop->longStart[b],
                    in.energyLong ? in.energyLong[b] : 0.0f, in.distLong ? in.distLong[b] : 0.0f);
        ShortRecords(loop, in, 3, boundary);
        loop->scalefactorBands = n + 3 * (kShortSfBands - 3);
        loop->measuredBands = 0;
    }
    float peak = 0.0f;
    loop->extent = 0;
    for (int k = 0; k < kLines; ++k) {
        const float x = loop->spectrum[k];
        const float m = std::fabs(x);
        loop->negative[k] = x < 0.0f;
        loop->magnitude[k] = m;
        loop->x34[k] = std::sqrt(m) * std::sqrt(std::sqrt(m));
        loop->quantised[k] = 0;
        if (m > 0.0f) loop->extent = (k & ~1) + 2;
        peak = std::max(peak, loop->x34[k]);
    }
    for (int r = 0; r < loop->bandCount; ++r) {
        QuantBand& b = loop->band[r];
        for (int k = b.first; k < b.first + b.width; ++k)
            if (loop->magnitude[k] > loop->magnitude[b.peakLine]) b.peakLine = k;
        loop->huffBand[r] = {b.width, b.peakLine};
    }
    GranuleInfo& info = loop->info;
    info = GranuleInfo{};
    info.lowerRate = loop->lowerRate;
    info.blockType = in.blockType;
    info.mixedLongBands = MixedLongBands(loop);
    if (in.intensity) TakePositions(loop, *in.intensity, &info);
    int gain = 0;
    if (peak > 0.0f) {
        // The gain that brings the largest value near 8191.
        const float f = 69.3323975f - 7.6943736f * std::log(peak);
        gain = f >= 0.0f ? -static_cast<int>(f) : -static_cast<int>(f - 1.0f);
    }
    loop->startGain = std::clamp(gain, kMinGain, kMaxGain);
    info.globalGain = loop->startGain;
    return 1;
}

void ComputeBandOffsets(const ChannelLoop* loop, GranuleInfo* info) {
    const int shift = info->scalefacScale + 1;
    for (int r = 0; r < kMaxBandRecords; ++r) info->bandOffset[r] = 0;
    for (int r = 0; r < loop->bandCount; ++r) {
        const int w = WindowOf(loop, r);
        const int sf = r < loop->scalefactorBands ? info->scalefac[r] : 0;
        if (w < 0) {
            const int pre = info->preflag && r < 22 ? l3tables::kPretab[r] : 0;
            info->bandOffset[r] = (sf + pre) << shift;
        } else {
            // subblock_gain covers the whole window, the rest band included.
            info->bandOffset[r] = (sf << shift) + 8 * info->subblockGain[w];
        }
    }
}

void QuantiseLines(const ChannelLoop* loop, const GranuleInfo& info, int* out) {
    std::fill(out, out + kLines, 0);
    int r = 0;
    while (r < loop->bandCount) {
        // A run of bands with the same offset shares one step.
        int end = r + 1;
        while (end < loop->bandCount && info.bandOffset[end] == info.bandOffset[r]) ++end;
        const double step = QuantStep(info.globalGain - info.bandOffset[r]);
        const int first = loop->band[r].first, last = loop->band[end - 1].first + loop->band[end - 1].width;
        for (int k = first; k < last && k < loop->extent; ++k) out[k] = QuantiseOne(loop->x34[k], step);
        r = end;
    }
}

int QuantiseAndCount(ChannelLoop* loop, GranuleInfo* info, bool fullSearch) {
    ComputeBandOffsets(loop, info);
    QuantiseLines(loop, *info, loop->quantised);
    const int part3 =
        CountHuffmanBits(loop->quantised, loop->extent, loop->blockType, loop->huffBand, loop->bandCount, fullSearch,
                         &info->huffman);
    bool zero[kMaxBandRecords];
    for (int r = 0; r < loop->bandCount; ++r) {
        const QuantBand& b = loop->band[r];
        zero[r] = std::all_of(loop->quantised + b.first, loop->quantised + b.first + b.width, [](int v) { return v == 0; });
    }
    const int part2 = ScalefactorBits(info, KindOf(loop->blockType), zero, loop->scalefactorBands, false);
    // Factors no scalefac_compress can carry make the granule unaffordable.
    return (part2 < 0 ? 1 << 20 : part2) + part3;
}

void MeasureDistortion(ChannelLoop* loop, GranuleInfo* info) {
    const double* pow43 = Pow43Table();
    info->measuredBands = loop->measuredBands;
    info->maxRatio = 0.0f;
    info->audibleBands = info->distortedBands = 0;
    double sum = 0.0, distortedSum = 0.0;
    for (int r = 0; r < loop->measuredBands; ++r) {
        const QuantBand& b = loop->band[r];
        const double scale = DequantStep(info->globalGain - info->bandOffset[r]);
        double error = 0.0;
        for (int k = b.first; k < b.first + b.width; ++k) {
            const int q = std::min(loop->quantised[k], kMaxQuantised + 15);
            const double d = loop->magnitude[k] - (k < loop->extent ? pow43[q] * scale : 0.0);
            loop->error[k] = static_cast<float>(d * d);
            error += d * d;
        }
        const float ratio = static_cast<float>(error * b.weight);
        info->maxRatio = std::max(info->maxRatio, ratio);
        sum += ratio;
        if (b.energy > b.allowed) ++info->audibleBands;
        if (ratio > 1.0f) {
            ++info->distortedBands;
            distortedSum += ratio;
        }
    }
    info->meanRatio = loop->measuredBands ? static_cast<float>(sum / loop->measuredBands) : 0.0f;
    info->meanDistortedRatio = info->distortedBands ? static_cast<float>(distortedSum / info->distortedBands) : 0.0f;
}

int AmplifyBands(ChannelLoop* loop, GranuleInfo* working, int mode) {
    if (loop->measuredBands == 0) return 0;  // block types 4 to 6
    GranuleInfo info = *working;
    float threshold = 1.0f;
    if (mode == 1) threshold = info.maxRatio;
    if (mode == 2) threshold = info.audibleBands == info.distortedBands && info.distortedBands > 0 ? info.meanDistortedRatio : 1.0f;
    if (mode == 3) threshold = 0.0f;
    // The ratios of the last measure, band by band.
    for (int r = 0; r < loop->measuredBands; ++r) {
        const QuantBand& b = loop->band[r];
        double error = 0.0;
        for (int k = b.first; k < b.first + b.width; ++k) error += loop->error[k];
        if (static_cast<float>(error * b.weight) >= threshold) ++info.scalefac[r];
    }
    const int n = ScalefactorIndexLimit(loop);
    const bool plainLong = IsPlainLong(loop->blockType);
    if (plainLong && !info.preflag && !info.intensity && n >= 20) {
        const bool lowZero = info.scalefac[0] == 0 && info.scalefac[1] == 0 && info.scalefac[2] == 0 && info.scalefac[3] == 0;
        if (lowZero && info.scalefac[n - 2] != 0 && info.scalefac[n - 1] != 0) {
            info.preflag = 1;
            for (int r = 0; r < n; ++r)
                if (l3tables::kPretab[r]) info.scalefac[r] = 0;
        } else {
            bool above = true;
            for (int r = 0; r < n; ++r) above = above && info.scalefac[r] >= l3tables::kPretab[r];
            if (above) {
                for (int r = 0; r < n; ++r) info.scalefac[r] -= l3tables::kPretab[r];
                info.preflag = 1;
            }
        }
    }
    const int smallest = *std::min_element(info.scalefac, info.scalefac + n);
    if (smallest >= 1) {
        for (int r = 0; r < n; ++r) info.scalefac[r] -= smallest;
        info.globalGain -= smallest * (2 * info.scalefacScale + 2);
    }
    if (IsShort(loop->blockType)) {
        const int lo = *std::min_element(info.subblockGain, info.subblockGain + 3);
        const int hi = *std::max_element(info.subblockGain, info.subblockGain + 3);
        if (lo == 0 && hi < 7)
            for (int w = 0; w < 3; ++w) {
                int s = 0;
                for (int r = w; r < n; r += 3) s += info.scalefac[r];
                const int old = info.subblockGain[w];
                const int next = std::min(7, old + ((3 * s / n) * (2 * info.scalefacScale + 2)) / 8);
                const int loss = (next - old) * 4 / (info.scalefacScale + 1);
                for (int r = w; r < n; r += 3) info.scalefac[r] = std::max(0, info.scalefac[r] - loss);
                info.subblockGain[w] = next;
            }
    }
    int counts[4], limits[4];
    ScalefactorLimits(info.lowerRate, KindOf(loop->blockType), info.preflag, counts, limits);
    auto fits = [&] {
        for (int g = 0, at = 0; g < 4; at += counts[g], ++g)
            for (int k = at; k < at + counts[g] && k < n; ++k)
                if (info.scalefac[k] > limits[g]) return false;
        return true;
    };
    if (!fits()) {
        if (info.scalefacScale == 0) {
            info.scalefacScale = 1;
            for (int r = 0; r < n; ++r) info.scalefac[r] /= 2;
        }
        for (int g = 0, at = 0; g < 4; at += counts[g], ++g)
            for (int k = at; k < at + counts[g] && k < n; ++k) info.scalefac[k] = std::min(info.scalefac[k], limits[g]);
    }
    if (info.globalGain < kMinGain) return 0;
    ComputeBandOffsets(loop, &info);
    for (int r = 0; r < loop->bandCount; ++r) {
        const QuantBand& b = loop->band[r];
        if (QuantiseOne(loop->x34[b.peakLine], QuantStep(info.globalGain - info.bandOffset[r])) > kMaxQuantised)
            return 0;
    }
    *working = info;
    return 1;
}
