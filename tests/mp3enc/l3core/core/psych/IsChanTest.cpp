#include "mp3enc/l3core/core/psych/IsChan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/PsyMain.h"

using psytest::OptionScope;
using psytest::TakeMessage;

namespace {

// Independent noise in the two channels (the most the right channel can
// cost), with a click every quarter second for short granules.
std::vector<float> NoiseWithClicks(int hz, int granules) {
    std::vector<float> pcm(static_cast<size_t>(granules) * 2 * 576);
    uint32_t seed = 7;
    for (size_t i = 0; i < pcm.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        pcm[i] = static_cast<float>(static_cast<int32_t>(seed) >> 18);
    }
    for (size_t n = static_cast<size_t>(hz) / 8; n < pcm.size() / 2; n += static_cast<size_t>(hz) / 4)
        pcm[(n / 576) * 2 * 576 + n % 576] = 30000.0f;
    return pcm;
}

}  // namespace

// At a low rate the bound comes down, never below band 9 in long granules and
// band 7 in short ones; a long bound never moves by only one or two bands;
// the right spectrum above the bound is empty, so its bands get the allowed
// distortion of silence; MPEG-1 hands the record over in every granule.
TEST(IsChan, BoundsStayInTheirRangeAndTheRightChannelIsEmptyAboveThem) {
    OptionScope scope;
    const int hz = 32000;
    PsyMain* m = nullptr;
    ASSERT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 2, 2, hz, 64000, 1, 1)), "");
    const int granules = 120;
    const std::vector<float> pcm = NoiseWithClicks(hz, granules);
    int lowered = 0, shortSeen = 0, previous = -1;
    for (int g = 0; g < granules; ++g) {
        SCOPED_TRACE(g);
        AdvancePsychoacousticModel(m, pcm.data() + static_cast<size_t>(g) * 2 * 576);
        const IsRecord* rec = m->transform[1]->intensity;
        ASSERT_EQ(rec, &m->is->record);
        const float* right = m->transform[1]->spectrum;
        const AdaptParam* la = m->conf->adapt[0];
        const AdaptParam* sa = m->conf->adapt[1];
        if (IsLongGroup(m->blockType[0])) {
            EXPECT_GE(rec->longBound, 9);
            EXPECT_EQ(rec->longCount, la->bandCount - rec->longBound);
            const int move = std::abs(rec->longBound - previous);
            if (previous > 0 && rec->longBound < la->bandCount) {
                EXPECT_TRUE(move == 0 || move > 2) << rec->longBound << " after " << previous;
            }
            previous = rec->longBound;
            lowered += rec->longCount > 0;
            for (int k = la->start[rec->longBound]; k < 576; ++k) ASSERT_EQ(right[k], 0.0f) << k;
            for (int b = rec->longBound; b < la->bandCount; ++b) EXPECT_EQ(m->coding[1]->distLong[b], 1.0f) << b;
        } else {
            ++shortSeen;
            previous = -1;
            for (int w = 0; w < 3; ++w) {
                EXPECT_GE(rec->shortBound[w], 7);
                EXPECT_EQ(rec->shortBound[w], rec->shortBound[0]);
                for (int k = sa->start[rec->shortBound[w]]; k < 192; ++k) ASSERT_EQ(right[3 * k + w], 0.0f) << k;
            }
        }
    }
    EXPECT_GT(lowered, granules / 2);
    EXPECT_GT(shortSeen, 0);
    DeletePsychoacousticModel(m);
}

// The lower rates hand the record over only when a band is carried by
// intensity: never for a tone at a rate with room for both channels, often
// for independent noise at a low rate.
TEST(IsChan, LowerRatesHandOverOnlyRecordsWithBands) {
    OptionScope scope;
    std::vector<float> tone(40 * 2 * 576);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 8000.0f * std::sin(0.3f * static_cast<float>(i % 576 + i / 1152 * 576));
    const std::vector<float> noise = NoiseWithClicks(22050, 40);
    for (int bitRate : {160000, 32000}) {
        SCOPED_TRACE(bitRate);
        const std::vector<float>& pcm = bitRate > 64000 ? tone : noise;
        PsyMain* m = nullptr;
        ASSERT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 2, 1, 22050, bitRate, 1, 1)), "");
        int handed = 0;
        for (int g = 0; g < 40; ++g) {
            AdvancePsychoacousticModel(m, pcm.data() + static_cast<size_t>(g) * 2 * 576);
            const IsRecord* rec = m->transform[1]->intensity;
            if (!rec) continue;
            ++handed;
            EXPECT_TRUE(rec->longCount > 0 || rec->shortCount[0] > 0);
        }
        if (bitRate > 64000) {
            EXPECT_EQ(handed, 0);
        } else {
            EXPECT_GT(handed, 20);
        }
        DeletePsychoacousticModel(m);
    }
}
