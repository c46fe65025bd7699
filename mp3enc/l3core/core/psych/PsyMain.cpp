#include "mp3enc/l3core/core/psych/PsyMain.h"

#include "common/MpegHeader.h"

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/psych/BlockSwitch.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

// Row: the common type so far, column: the next channel's proposal.
constexpr int kSyncTable[4][4] = {
    {0, 1, 2, 3},
    {1, 1, 2, 2},
    {2, 2, 2, 2},
    {3, 2, 2, 3},
};

// The mixed kind of each long, start, short and stop type.
constexpr int kMixedType[4] = {kBlockLong, kBlockMixedStart, kBlockMixedShort, kBlockMixedStop};

bool IsIsoRate(int hz) { return MpegVersionOfSampleRate(hz, nullptr, nullptr); }

EncError* Fail(PsyMain* m, EncError* e) {
    DeletePsychoacousticModel(m);
    return ErrorChain(__FILE__, __LINE__, nullptr, e);
}

}  // namespace

int SyncBlockTypes(int soFar, int proposal) {
    if (soFar < 0 || soFar > 3 || proposal < 0 || proposal > 3) return kBlockShort;
    return kSyncTable[soFar][proposal];
}

EncError* CreatePsychoacousticModel(PsyMain** out, int channels, int granules, float sampleRate, int bitRate,
                                    int allowMidSide, int allowIntensity) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid procedure parameters");
    *out = nullptr;
    if (channels > 2) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid procedure parameters");
    if (channels != 1 && channels != 2)
        return ErrorCreate(__FILE__, __LINE__, nullptr, "only mono and stereo case implemented");
    if (!(sampleRate >= 8000.0f && sampleRate < 48001.0f) || !IsIsoRate(static_cast<int>(sampleRate)))
        return ErrorCreate(__FILE__, __LINE__, nullptr, "not a valid ISO sampling rate");
    if (granules != 1 && granules != 2) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid procedure parameters");
    if (bitRate <= 0) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid procedure parameters");

    auto* m = static_cast<PsyMain*>(AlignedCalloc(1, sizeof(PsyMain), __FILE__, __LINE__));
    if (!m) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    m->channels = channels;
    m->granules = granules;
    m->midSide = allowMidSide && channels == 2 ? 1 : 0;
    m->intensity = allowIntensity && channels == 2 ? 1 : 0;
    m->syncTypes = 1;
    m->granule = granules - 1;

    EncError* e = CreatePsyConf(&m->conf, static_cast<float>(static_cast<int>(sampleRate)), bitRate / channels, channels == 2 ? 1 : 0);
    if (e) return Fail(m, e);
    for (int c = 0; c < channels; ++c) {
        e = CreatePsyChannel(&m->analysis[c], m->conf);
        if (!e) e = CreateThresholdChannel(&m->threshold[c], m->conf);
        if (!e) e = CreateCodingChannel(&m->coding[c], m->conf);
        if (!e) e = CreateTransformChannel(&m->transform[c], m->conf);
        if (e) return Fail(m, e);
    }
    if (m->midSide || m->intensity) {
        e = CreateMsChannel(&m->ms, m->conf);
        if (e) return Fail(m, e);
    }
    if (m->intensity) {
        e = CreateIsChannel(&m->is, m->conf);
        if (e) return Fail(m, e);
    }
    UciGetSwitch("mixed", "Use mixed blocks", nullptr, &m->mixed);
    *out = m;
    return nullptr;
}

int AdvancePsychoacousticModel(PsyMain* m, const float* samples) {
    m->granule = (m->granule + 1) % m->granules;
    for (int c = 0; c < m->channels; ++c) AdvancePsyChannel(m->analysis[c], samples + c * kPsyGranuleSamples);

    int common = kBlockLong;
    for (int c = 0; c < m->channels; ++c) {
        const int proposal = m->analysis[c]->proposedType;
        m->blockType[c] = proposal;
        common = SyncBlockTypes(common, proposal);
    }
    if (m->syncTypes)
        for (int c = 0; c < m->channels; ++c) {
            m->blockType[c] = common;
            m->analysis[c]->blockSwitch->lastType = common;
        }
    if (m->mixed)
        for (int c = 0; c < m->channels; ++c) m->blockType[c] = kMixedType[m->blockType[c]];

    for (int c = 0; c < m->channels; ++c)
        AdvanceTransformChannel(m->transform[c], m->analysis[c]->subbands, m->blockType[c]);
    for (int c = 0; c < m->channels; ++c)
        AdvanceThresholdChannel(m->threshold[c], m->analysis[c], m->blockType[c]);
    if (m->ms) {
        DecideMsStereo(m->ms, m->granule, m->analysis, m->threshold, m->transform, m->blockType[0]);
        // Without mid/side only the energies serve: the frame stays left/right.
        if (!m->midSide) m->ms->frameMs = 0;
    }
    if (m->is) AdvanceIsChannel(m->is, m->ms, m->analysis, m->threshold, m->transform, m->blockType[0]);
    if (m->midSide) ApplyMsStereo(m->ms, m->transform, m->threshold);
    for (int c = 0; c < m->channels; ++c) AdvanceCodingChannel(m->coding[c], m->transform[c], m->threshold[c]);
    return 0;
}

void DeletePsychoacousticModel(PsyMain* m) {
    if (!m) return;
    for (int c = 0; c < 2; ++c) {
        DeleteCodingChannel(m->coding[c]);
        DeletePsyChannel(m->analysis[c]);
        DeleteThresholdChannel(m->threshold[c]);
        DeleteTransformChannel(m->transform[c]);
    }
    DeleteMsChannel(m->ms);
    DeleteIsChannel(m->is);
    DeletePsyConf(m->conf);
    AlignedFree(m);
}
