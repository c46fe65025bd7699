#include "mp3enc/l3core/core/quant/LoopKernel.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/quant/ScalefactorBits.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kMaxPart23 = 4095;  // 12 bits of side information
// A step search that has not settled after this many estimates finishes in
// unit steps; the estimate alone could swing about the budget for ever.
constexpr int kMaxEstimates = 64;

struct Group {
    int member[4];
    int count;
};

int GroupsOf(const LoopKernel* k, Group* groups) {
    int n = 0;
    for (int g0 = 0; g0 < k->granules; g0 += k->granulesPerGroup)
        for (int c0 = 0; c0 < k->channels; c0 += k->channelsPerGroup) {
            Group& grp = groups[n++];
            grp.count = 0;
            for (int g = g0; g < std::min(g0 + k->granulesPerGroup, k->granules); ++g)
                for (int c = c0; c < std::min(c0 + k->channelsPerGroup, k->channels); ++c) grp.member[grp.count++] = 2 * g + c;
        }
    return n;
}

struct Member {
    ChannelLoop* loop;
    int baseGain;
    int bits;
};

// Requantises every member with gain base + step (at most 105); returns how
// many gains changed and sets the total.
int StepAll(Member* m, int count, int step, int* total) {
    int changed = 0;
    *total = 0;
    for (int i = 0; i < count; ++i) {
        GranuleInfo& info = m[i].loop->info;
        const int gain = std::min(m[i].baseGain + step, kMaxGain);
        if (gain != info.globalGain) ++changed;
        info.globalGain = gain;
        m[i].bits = QuantiseAndCount(m[i].loop, &info, false);
        *total += m[i].bits;
    }
    return changed;
}

int Estimate(int total, int budget, int extent) {
    if (total == budget) return 0;
    const double d = 16.0 * (total - budget) / (3.0 * std::max(extent, 1));
    const int r = static_cast<int>(d < 0 ? -std::floor(-d + 0.5) : std::floor(d + 0.5));
    return total > budget ? std::max(r, 1) : std::min(r, -1);
}

// Brings the group's bits to its budget by raising all gains alike; 0 when
// no gain can rise any more and the budget is still exceeded.
int RateLoop(LoopKernel* k, const Group& grp) {
    Member m[4];
    int total = 0, budget = 0, extent = 0;
    for (int i = 0; i < grp.count; ++i) {
        ChannelLoop* loop = k->loop[grp.member[i]];
        m[i] = {loop, loop->info.globalGain, QuantiseAndCount(loop, &loop->info, false)};
        total += m[i].bits;
        budget += k->budget[grp.member[i]];
        extent += loop->extent;
    }
    if (total <= budget) return 1;
    int taken = 0;
    int d = Estimate(total, budget, extent);
    bool unit = d == 1;
    for (int estimates = 0;; ++estimates) {
        int next = taken + d;
        if (next < 0) next = 0;
        d = next - taken;
        if (StepAll(m, grp.count, next, &total) == 0 && total > budget) return 0;
        taken = next;
        if (!unit) {
            if (total == budget || (d < 0 && total < budget) || estimates >= kMaxEstimates) {
                unit = true;
            } else {
                d = Estimate(total, budget, extent);
                if (d == 1) unit = true;
                continue;
            }
        }
        if (total <= budget) return 1;
        d = 1;
    }
}

// part2_3_length has 12 bits.
void FitPart23(ChannelLoop* loop) {
    GranuleInfo& info = loop->info;
    while (info.part2Length + info.huffman.part3Length > kMaxPart23 && info.globalGain < kMaxGain) {
        ++info.globalGain;
        QuantiseAndCount(loop, &info, false);
    }
}

float GroupRatio(const GranuleInfo* infos, const Group& grp) {
    float r = 0.0f;
    for (int i = 0; i < grp.count; ++i) r = std::max(r, infos[grp.member[i]].maxRatio);
    return r;
}

int Amplify(LoopKernel* k, const Group& grp) {
    int amplified = 0;
    if (k->amplifyMode == 1) {
        int worst = -1;
        for (int i = 0; i < grp.count; ++i) {
            const GranuleInfo& info = k->loop[grp.member[i]]->info;
            if (worst < 0 || info.maxRatio > k->loop[worst]->info.maxRatio) worst = grp.member[i];
        }
        if (worst >= 0 && k->loop[worst]->info.distortedBands > 0)
            amplified += AmplifyBands(k->loop[worst], &k->loop[worst]->info, k->amplifyMode);
        return amplified;
    }
    for (int i = 0; i < grp.count; ++i) {
        ChannelLoop* loop = k->loop[grp.member[i]];
        if (loop->info.distortedBands > 0) amplified += AmplifyBands(loop, &loop->info, k->amplifyMode);
    }
    return amplified;
}

}  // namespace

LoopKernel* CreateLoopKernel(int sampleRate, int channels) {
    if (channels < 1 || channels > 2) return nullptr;
    auto* k = static_cast<LoopKernel*>(AlignedCalloc(1, sizeof(LoopKernel), __FILE__, __LINE__));
    if (!k) return nullptr;
    k->channels = channels;
    k->granules = sampleRate > 24000 ? 2 : 1;
    k->amplifyMode = 1;
    k->fullSearch = 1;
    k->maxOuterLoops = 400;
    int itm = 2;
    UciGetInt("amp", 0, 3, "amplify mode",
              "0 = ALL DISTORTED 1=WORST DISTORTED 2=MEAN IF ALL DISTORTED 3=MEAN IF 90% DISTORTED", &k->amplifyMode);
    // On unless told otherwise: a set switch only confirms it.
    int hfs = 0;
    UciGetSwitch("hfs", "huffman full search", "after last loop run, perform a full huffman search", &hfs);
    UciGetInt("mol", 1, 1000, "max outer loops", "The maximum number of outer loops that will be executed",
              &k->maxOuterLoops);
    UciGetInt("itm", 0, 4, "iteration mode", "", &itm);
    k->amplifyMode = std::clamp(k->amplifyMode, 0, 3);
    k->maxOuterLoops = std::clamp(k->maxOuterLoops, 1, 1000);
    // Mode 4 names no grouping of its own: it runs as the default, mode 2.
    itm = std::clamp(itm, 0, 4) % 4 == 0 && itm == 4 ? 2 : std::clamp(itm, 0, 3);
    k->granulesPerGroup = (itm == 1 || itm == 3) ? k->granules : 1;
    k->channelsPerGroup = (itm == 2 || itm == 3) ? k->channels : 1;
    for (int g = 0; g < k->granules; ++g)
        for (int c = 0; c < channels; ++c)
            if (!(k->loop[2 * g + c] = CreateChannelLoop(sampleRate))) {
                DeleteLoopKernel(k);
                return nullptr;
            }
    return k;
}

void DeleteLoopKernel(LoopKernel* k) {
    if (!k) return;
    for (ChannelLoop* loop : k->loop) DeleteChannelLoop(loop);
    AlignedFree(k);
}

int AdvanceLoopKernel(LoopKernel* k, const LoopGranuleInput& input, const int* budgets) {
    if (!k || !budgets || input.channels != k->channels || input.granule < 0 || input.granule >= k->granules) return 0;
    const int g = input.granule;
    for (int c = 0; c < k->channels; ++c)
        if (!PrepareChannelLoop(k->loop[2 * g + c], input.channel[c])) return 0;
    Group groups[4];
    const int groupCount = GroupsOf(k, groups);
    k->frame.complete = 0;
    if (g != k->granules - 1) return 1;
    // Every member of a group starts from the group's largest start gain.
    for (int i = 0; i < groupCount; ++i) {
        int gain = kMinGain;
        for (int j = 0; j < groups[i].count; ++j) gain = std::max(gain, k->loop[groups[i].member[j]]->startGain);
        for (int j = 0; j < groups[i].count; ++j) k->loop[groups[i].member[j]]->info.globalGain = gain;
    }
    for (int i = 0; i < 4; ++i) k->budget[i] = budgets[i];
    const int members = k->granules * k->channels;
    auto member = [&](int n) { return 2 * (n / k->channels) + n % k->channels; };
    k->passes = 0;
    for (int pass = 0; pass < k->maxOuterLoops; ++pass) {
        bool failed = false;
        for (int i = 0; i < groupCount && !failed; ++i) failed = !RateLoop(k, groups[i]);
        if (failed) {
            if (pass == 0) return 0;
            break;
        }
        for (int n = 0; n < members; ++n) FitPart23(k->loop[member(n)]);
        ++k->passes;
        for (int n = 0; n < members; ++n) {
            ChannelLoop* loop = k->loop[member(n)];
            QuantiseAndCount(loop, &loop->info, false);
            MeasureDistortion(loop, &loop->info);
        }
        GranuleInfo working[4];
        for (int n = 0; n < members; ++n) working[member(n)] = k->loop[member(n)]->info;
        for (int i = 0; i < groupCount; ++i)
            if (pass == 0 || GroupRatio(k->frame.info, groups[i]) > GroupRatio(working, groups[i]))
                for (int j = 0; j < groups[i].count; ++j) k->frame.info[groups[i].member[j]] = working[groups[i].member[j]];
        int amplified = 0;
        for (int i = 0; i < groupCount; ++i) amplified += Amplify(k, groups[i]);
        if (!amplified) break;
    }
    for (int n = 0; n < members; ++n) {
        const int m = member(n);
        ChannelLoop* loop = k->loop[m];
        GranuleInfo& info = k->frame.info[m];
        ComputeBandOffsets(loop, &info);
        QuantiseLines(loop, info, k->frame.values[m]);
        CountHuffmanBits(k->frame.values[m], loop->extent, loop->blockType, loop->huffBand, loop->bandCount,
                         k->fullSearch != 0, &info.huffman);
        bool zero[kMaxBandRecords];
        for (int r = 0; r < loop->bandCount; ++r) {
            const QuantBand& b = loop->band[r];
            zero[r] = std::all_of(k->frame.values[m] + b.first, k->frame.values[m] + b.first + b.width,
                                  [](int v) { return v == 0; });
        }
        const int kind = loop->blockType == 2 ? 1 : (loop->blockType == 5 ? 2 : 0);
        ScalefactorBits(&info, kind, zero, loop->scalefactorBands, true);
        k->frame.part23Length[m] = info.part2Length + info.huffman.part3Length;
        for (int line = 0; line < 576; ++line)
            if (loop->negative[line]) k->frame.values[m][line] = -k->frame.values[m][line];
    }
    k->frame.complete = 1;
    return 1;
}
