#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreCast.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CorePadding.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreSetup.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr double kFilterStopBandDb = 80.0;
// Input rates the filter can convert from; outside them its tables would be
// degenerate.
constexpr float kMinInputRate = 1000.0f;
constexpr float kMaxInputRate = 384000.0f;

EncError* Fail(int line, const char* message) { return ErrorCreate(__FILE__, line, nullptr, "%s", message); }

// The stages read these while they are created.
EncError* SetOptions(const L3CoreConfig& c, const L3CoreParams& p) {
    char text[32];
    int r = UciSet("noCmdct", "");
    if (r == 0 && c.bandwidth > 0.0f) {
        std::snprintf(text, sizeof text, "%5.0f", std::min(c.bandwidth, p.sampleRate * 0.5f));
        r = UciSet("bw", text);
    }
    if (r == 0 && p.hfs) r = UciSet("hfs", "");
    if (r == 0) r = UciSet("amp", c.quality < 7 ? "2" : "1");
    if (r == 0) r = UciSet("mol", c.quality < 7 ? "14" : "400");
    if (r == 0) {
        std::snprintf(text, sizeof text, "%d", c.paddingMode);
        r = UciSet("padding", text);
    }
    return r == 0 ? nullptr : Fail(__LINE__, "out of memory");
}

EncError* CheckArguments(const L3CoreInput* in, const L3CoreParams* p) {
    if (!in || !p) return Fail(__LINE__, "invalid function parameter");
    if (p->channels != 1 && p->channels != 2) return Fail(__LINE__, "wrong number of channels on input");
    // Input channels are mixed down to one coded channel, never spread out.
    if (in->channels < 1 || in->channels > 8 || (in->channels != p->channels && p->channels != 1))
        return Fail(__LINE__, "wrong number of channels on input");
    if (!(in->sampleRate >= kMinInputRate && in->sampleRate <= kMaxInputRate))
        return Fail(__LINE__, "invalid function parameter");
    if (!std::isfinite(in->fullScale) || in->fullScale == 0.0f) return Fail(__LINE__, "invalid function parameter");
    if (!std::isfinite(p->sampleRate) || p->stampInterval < 0) return Fail(__LINE__, "invalid function parameter");
    if (p->bitRate < 8000 || p->bitRate > 320000) return Fail(__LINE__, "invalid function parameter");
    return nullptr;
}

// The rate-converting, band-limiting input filter.
EncError* SetUpFilter(L3CoreEncoder* e) {
    const double inRate = e->input.sampleRate, outRate = e->params.sampleRate;
    const double ratio = outRate / inRate;
    double cutoff = std::min(ratio, 1.0);
    if (e->quality > 0) cutoff = std::min(cutoff, 2.0 * e->bandwidth / inRate);
    const int bypass = !(inRate != outRate || (e->quality > 3 && e->bandwidth < 15000.0f));
    const double beta = FlexBeta(kFilterStopBandDb);
    const double q = 1.0 - (0.1 - (std::atan((inRate * cutoff * 0.5 - 9000.0) * 0.004) / M_PI + 0.5) * 0.03);
    const int halfLength = FlexLength(q, beta);
    if (flfChunkBufInit(&e->filter, ratio, e->params.channels, q * cutoff, 0.0, halfLength, beta, bypass) != kFlexOk)
        return Fail(__LINE__, "flfChunkBufInit() failed");
    e->delayCounter += static_cast<int>(FlexDelay(&e->filter) * ratio);
    return nullptr;
}

EncError* CreateStages(L3CoreEncoder* e, const L3CoreConfig& c) {
    L3CoreParams& p = e->params;
    const int rate = static_cast<int>(p.sampleRate);
    if (p.channels == 1) p.stereoTools = 0;
    EncError* err = CreatePsychoacousticModel(&e->model, p.channels, e->granulesPerFrame, p.sampleRate, p.bitRate,
                                              (p.stereoTools & kL3CoreMidSide) ? 1 : 0,
                                              (p.stereoTools & kL3CoreIntensity) ? 1 : 0);
    if (err) return ErrorChain(__FILE__, __LINE__, nullptr, err);
    e->bandwidth = e->model->conf->psy[0]->cod->values[0];
    InitPsyHandOver(&e->handOver, e->model);
    if ((err = SetUpFilter(e))) return err;
    e->loop = CreateLoopKernel(rate, p.channels);
    if (!e->loop) return Fail(__LINE__, "CreateLoopKernel() failed");
    const int stereoMode = p.channels == 1                         ? 3
                           : (p.stereoTools & kL3CoreDualChannel) ? 2
                           : (p.stereoTools & (kL3CoreMidSide | kL3CoreIntensity)) ? 1
                                                                                     : 0;
    err = CreateBitstreamEncoder(rate, p.bitRate, 0, p.crc ? 1 : 0, c.headerBits & 1, (c.headerBits >> 1) & 1,
                                 (c.headerBits >> 2) & 1, c.emphasis, stereoMode, c.paddingMode, &e->writer);
    if (err) return ErrorChain(__FILE__, __LINE__, nullptr, err);
    if (p.stampInterval > 0 && !(e->stamp = CreateTimeStamp())) return Fail(__LINE__, "CreateTimeStamp() failed");
    const L3CorePaddingCycle cycle = L3CoreGetPaddingCycle(c.paddingMode, rate, p.bitRate);
    e->paddingPeriod = cycle.period;
    e->paddingBytes = cycle.bytes;
    return nullptr;
}

EncError* Build(L3CoreEncoder* e, const L3CoreInput& in, const L3CoreParams& p, const L3CoreConfig& c) {
    e->input = in;
    e->params = p;
    e->quality = c.quality;
    e->cast = in.format == kL3CoreFloat ? L3CoreCastFloat : in.format == kL3CoreInt16 ? L3CoreCastInt16 : in.cast;
    if (!e->cast) return Fail(__LINE__, "invalid castFunc");
    e->granuleSize = p.channels * kPsyGranuleSamples;
    e->inputCapacity = e->granuleSize;
    e->inputBuffer = static_cast<float*>(AlignedCalloc(e->inputCapacity, sizeof(float), __FILE__, __LINE__));
    e->granuleBuffer = static_cast<float*>(AlignedCalloc(e->granuleSize, sizeof(float), __FILE__, __LINE__));
    e->planar = static_cast<float*>(AlignedCalloc(e->granuleSize, sizeof(float), __FILE__, __LINE__));
    if (!e->inputBuffer || !e->granuleBuffer || !e->planar) return Fail(__LINE__, "out of memory");
    e->minOutputRoom = kL3CoreMinOutputRoom;
    e->flushState = kL3CoreRunning;
    e->needsInput = 1;
    e->delayCounter = kL3CoreBaseDelay;
    e->paddingPeriod = e->paddingBytes = 1;
    e->granulesPerFrame = p.sampleRate < 32000.0f ? 1 : 2;
    e->extraGranules = e->granulesPerFrame;
    if (EncError* err = CreateStages(e, c)) return err;
    e->delay = e->delayCounter;
    return nullptr;
}

}  // namespace

EncError* L3CoreOpen(L3CoreEncoder** out, const L3CoreInput* input, const L3CoreParams* params,
                     const L3CoreConfig* config) {
    if (!out) return Fail(__LINE__, "invalid function parameter");
    *out = nullptr;
    if (EncError* err = CheckArguments(input, params)) return err;
    L3CoreCheckVersionOnce();
    const L3CoreConfig c = config ? *config : L3CoreDefaultConfig();
    const bool scope = c.optionScope != 0;
    if (scope && UciBegin() != kUciDone) return Fail(__LINE__, "out of memory");
    EncError* err = scope ? SetOptions(c, *params) : nullptr;
    auto* e = static_cast<L3CoreEncoder*>(AlignedCalloc(1, sizeof(L3CoreEncoder), __FILE__, __LINE__));
    if (!err && !e) err = Fail(__LINE__, "out of memory");
    if (!err) err = Build(e, *input, *params, c);
    if (scope) UciEnd();
    if (err) {
        L3CoreClose(e);
        return err;
    }
    *out = e;
    return nullptr;
}

void L3CoreGetInfo(const L3CoreEncoder* e, L3CoreInfo* info) {
    if (!info) return;
    *info = L3CoreInfo{};
    if (!e) return;
    info->bandwidth = e->bandwidth;
    info->delay = e->delay;
    info->paddingPeriod = e->paddingPeriod;
    info->paddingBytes = e->paddingBytes;
    info->minOutputRoom = e->minOutputRoom;
}

void L3CoreClose(L3CoreEncoder* e) {
    if (!e) return;
    DeletePsychoacousticModel(e->model);
    DeleteLoopKernel(e->loop);
    DeleteBitstreamEncoder(e->writer);
    TimeStampFree(e->stamp);
    FlexFree(&e->filter);
    AlignedFree(e->inputBuffer);
    AlignedFree(e->granuleBuffer);
    AlignedFree(e->planar);
    AlignedFree(e);
}

void L3CoreFreeError(EncError* error) { ErrorFree(error); }
