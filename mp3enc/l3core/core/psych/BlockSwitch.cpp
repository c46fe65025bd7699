#include "mp3enc/l3core/core/psych/BlockSwitch.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kHistory = 5;
constexpr float kSilentDb = -135.0f;
constexpr float kFloorMarginDb = 5.0f;
constexpr float kStrongAttack = 1000.0f;
constexpr float kStrongDecay = 200.0f;

struct Rates {
    float above;
    int attackBase, countLastSubblock, carryMiddleAttack;
};
constexpr Rates kRates[] = {{24000.0f, 160, 1, 1}, {16000.0f, 200, 0, 0}, {0.0f, 250, 0, 0}};

// Rows: no attack now nor before, attack before only, attack now; columns: the previous type.
constexpr int kNextType[3][4] = {{kBlockLong, kBlockStart, kBlockStop, kBlockLong},
                                 {kBlockLong, kBlockShort, kBlockShort, kBlockStop},
                                 {kBlockStart, kBlockShort, kBlockShort, kBlockStart}};

void Levels(BlockSwitch* sw, const float* spectrum, float* levels) {
    int line = 0;
    for (int i = 0; i < sw->bands->count; ++i) {
        float e = 0;
        for (int k = 0; k < sw->bands->width[i]; ++k, ++line)
            e += spectrum[2 * line] * spectrum[2 * line] + spectrum[2 * line + 1] * spectrum[2 * line + 1];
        levels[i] = e >= sw->floorLin[i] ? 10.0f * std::log10(e) : sw->floorDb[i];
    }
}

bool SubBlock(BlockSwitch* sw, const float* spectrum, int j) {
    FloatFifoPushZeros(sw->history);
    float* levels = const_cast<float*>(FloatFifoEntry(sw->history, 0));
    Levels(sw, spectrum, levels);
    float rise[kHistory] = {}, fall[kHistory] = {};
    for (int k = 1; k < kHistory; ++k) {
        const float* old = FloatFifoEntry(sw->history, k);
        for (int i = 0; i < sw->bands->count; ++i) {
            const float d = (levels[i] - old[i]) * sw->bands->width[i];
            rise[k] += std::max(0.0f, d);
            fall[k] += std::max(0.0f, -d);
        }
        rise[k] /= 6.0f;
        fall[k] /= 6.0f;
    }
    bool event = false;
    for (int i = 0; i < sw->attackDepth; ++i)
        if (rise[i + 1] > sw->attackBase + 50.0f * i || (sw->attackState && rise[i + 1] > kStrongAttack)) {
            sw->event[j + 1] = kEventAttack;
            event = true;
            sw->attackState = 1;
            sw->attackDepth = 0;
            break;
        }
    if (sw->attackDepth < 3) ++sw->attackDepth;
    for (int i = 0; i < sw->decayDepth; ++i)
        if (fall[i + 1] > kStrongDecay) {
            sw->event[j + 1] = kEventDecay;
            event = true;
            sw->decayDepth = 0;
            break;
        }
    if (sw->decayDepth < 2) ++sw->decayDepth;
    return event;
}

}  // namespace

EncError* CreateBlockSwitch(BlockSwitch** out, const PsyConf* conf) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    const CbParam* bands = GetCbParam(conf, kBlockShort);
    if (!bands || bands->count < 1) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetCbParam() failed");
    int mode = 0;
    if (UciGetInt("blm", 0, 2, "block switch mode", "0:automatic, 1: only long, 2: only short", &mode) != kUciDone)
        return ErrorCreate(__FILE__, __LINE__, "blm", "invalid value for option \"blm\"");
    auto* sw = static_cast<BlockSwitch*>(AlignedCalloc(1, sizeof(BlockSwitch), __FILE__, __LINE__));
    if (!sw) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    sw->bands = bands;
    sw->mode = mode;
    sw->floorDb = static_cast<float*>(AlignedCalloc(bands->count, sizeof(float), __FILE__, __LINE__));
    sw->floorLin = static_cast<float*>(AlignedCalloc(bands->count, sizeof(float), __FILE__, __LINE__));
    if (!sw->floorDb || !sw->floorLin) {
        DeleteBlockSwitch(sw);
        return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    }
    if (EncError* e = CreateFloatFifo(&sw->history, kHistory, bands->count)) {
        DeleteBlockSwitch(sw);
        return ErrorChain(__FILE__, __LINE__, nullptr, e);
    }
    for (int i = 0; i < bands->count; ++i) {
        sw->floorDb[i] = bands->quiet[i] > 0 ? 10.0f * std::log10(bands->quiet[i]) - kFloorMarginDb : kSilentDb;
        sw->floorLin[i] = std::pow(10.0f, sw->floorDb[i] / 10.0f);
    }
    for (int k = 0; k < kHistory - 1; ++k) FloatFifoPush(sw->history, sw->floorDb);
    const float fs = conf->psy[0]->sampleRate;
    const Rates* r = kRates;
    while (fs <= r->above) ++r;
    sw->attackBase = r->attackBase;
    sw->countLastSubblock = r->countLastSubblock;
    sw->carryMiddleAttack = r->carryMiddleAttack;
    sw->attackDepth = 4;
    sw->decayDepth = 3;
    *out = sw;
    return nullptr;
}

int DecideBlockType(BlockSwitch* sw, const FloatFifo* shortFft, int* type) {
    sw->lastType = std::clamp(*type, 0, 3);
    sw->event[1] = sw->event[2] = sw->event[3] = kEventNone;
    bool granuleEvent = false;
    for (int j = 0; j < 3; ++j) {
        const float* spectrum = FloatFifoEntry(shortFft, 2 - j);
        if (spectrum && SubBlock(sw, spectrum, j)) granuleEvent = true;
        if (!granuleEvent) sw->attackState = 0;
    }
    if (sw->carryMiddleAttack && sw->middleAttack) sw->event[0] = kEventAttack;
    sw->middleAttack = sw->event[2] == kEventAttack;
    const bool attack = sw->event[0] == kEventAttack || sw->event[1] == kEventAttack || sw->event[2] == kEventAttack ||
                        (sw->countLastSubblock && sw->event[3] == kEventAttack);
    sw->event[0] = sw->event[3];
    int next;
    if (sw->mode == 1)
        next = kBlockLong;
    else if (sw->mode == 2)
        next = kBlockShort;
    else
        next = kNextType[attack ? 2 : sw->lastAttack ? 1 : 0][sw->lastType];
    sw->lastAttack = attack;
    sw->lastType = next;
    *type = next;
    return 1;
}

void DeleteBlockSwitch(BlockSwitch* sw) {
    if (!sw) return;
    DeleteFloatFifo(sw->history);
    AlignedFree(sw->floorDb);
    AlignedFree(sw->floorLin);
    AlignedFree(sw);
}
