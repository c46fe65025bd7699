#include "mp3enc/l3core/core/psych/TraChan.h"

#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kSubbandDelay = 1152;

}  // namespace

EncError* CreateTransformChannel(TraChan** out, const PsyConf* conf) {
    if (!out || !conf || !conf->psy[0]) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* t = static_cast<TraChan*>(AlignedCalloc(1, sizeof(TraChan), __FILE__, __LINE__));
    if (!t) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    t->mdct = CreateMdct(conf->rateClass, conf->psy[0]->sfb);
    if (!t->mdct) {
        DeleteTransformChannel(t);
        return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    }
    *out = t;
    return nullptr;
}

int AdvanceTransformChannel(TraChan* t, const FloatRing* subbands, int blockType) {
    t->blockType = blockType;
    float granule[kGranuleLines];
    FloatRingRead(subbands, granule, kGranuleLines, kSubbandDelay);
    MdctAnalyse(t->mdct, blockType, granule, t->spectrum);
    t->midSide = 0;
    t->intensity = nullptr;
    return 0;
}

void DeleteTransformChannel(TraChan* t) {
    if (!t) return;
    DeleteMdct(t->mdct);
    AlignedFree(t);
}
