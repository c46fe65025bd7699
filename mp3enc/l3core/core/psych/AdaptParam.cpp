#include "mp3enc/l3core/core/psych/AdaptParam.h"

#include <algorithm>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

EncError* CreateAdaptParam(AdaptParam** out, const PsyParam* set, const CbParam* table) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    if (!set || !set->sfb || !set->thr || !table || set->sfb->bandCount < 1 || set->sfb->bandCount > 21)
        return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    auto* a = static_cast<AdaptParam*>(AlignedCalloc(1, sizeof(AdaptParam), __FILE__, __LINE__));
    if (!a) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    const SfbParam* s = set->sfb;
    a->bandCount = s->bandCount;
    std::memcpy(a->width, s->width, sizeof a->width);
    std::memcpy(a->start, s->start, sizeof a->start);
    a->cbCount = table->count;
    int sum = 0;
    for (int i = 0; i < table->count; ++i) {
        a->cbStart[i] = sum;
        a->cbWidth[i] = table->width[i];
        sum += table->width[i];
    }
    a->cbStart[table->count] = sum;
    a->halfFft = set->halfFft;
    a->mdctLines = s->lineCount;
    a->ratio = static_cast<float>(set->halfFft) / s->lineCount;
    a->cbMode = std::clamp(static_cast<int>(set->thr->cbMode), 0, s->bandCount + 1);
    *out = a;
    return nullptr;
}

void DeleteAdaptParam(AdaptParam* set) { AlignedFree(set); }
