#include <algorithm>
#include <cmath>
#include <cstring>

#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"

namespace {

// Far beyond full scale still codes; not-a-number codes as silence, so no
// input signal can reach a conversion to an integer that is undefined.
constexpr float kSampleLimit = 32.0f * 32768.0f;

EncError* Fail(int line, const char* message) { return ErrorCreate(__FILE__, line, nullptr, "%s", message); }

struct Call {
    const uint8_t* pcm;
    int pcmBytes;
    uint8_t* out;
    int outRoom;
    int* consumed;
    int* written;
    const uint8_t* ancillary;
    int* ancillaryCount;
};

// Converts the rest of the PCM into the input buffer at the scale of 16-bit
// samples, mixing input channels down to one coded channel. False when not a
// whole sample frame is left.
bool TakeInput(L3CoreEncoder* e, const Call& c) {
    const int inCh = e->input.channels, codedCh = e->params.channels;
    int used = 0, samples = 0;
    e->cast(c.pcm + *c.consumed, c.pcmBytes - *c.consumed, e->inputBuffer, e->inputCapacity, inCh, &used, &samples);
    used = std::clamp(used, 0, c.pcmBytes - *c.consumed);
    samples = std::clamp(samples, 0, e->inputCapacity);
    *c.consumed += used;
    float* x = e->inputBuffer;
    if (inCh == codedCh) {
        const float scale = 32768.0f / e->input.fullScale;
        for (int i = 0; i < samples; ++i) x[i] *= scale;
    } else {
        const float scale = 32768.0f / (static_cast<float>(inCh) * e->input.fullScale);
        samples /= inCh;
        for (int i = 0; i < samples; ++i) {
            float sum = 0.0f;
            for (int k = 0; k < inCh; ++k) sum += x[i * inCh + k];
            x[i] = sum * scale;
        }
    }
    for (int i = 0; i < samples; ++i) x[i] = std::isnan(x[i]) ? 0.0f : std::clamp(x[i], -kSampleLimit, kSampleLimit);
    e->inputFill = samples;
    return samples > 0;
}

EncError* EncodeGranule(L3CoreEncoder* e, const Call& c) {
    const float* samples = e->granuleBuffer;
    if (e->params.channels == 2) {
        for (int i = 0; i < kPsyGranuleSamples; ++i) {
            e->planar[i] = e->granuleBuffer[2 * i];
            e->planar[kPsyGranuleSamples + i] = e->granuleBuffer[2 * i + 1];
        }
        samples = e->planar;
    }
    AdvancePsychoacousticModel(e->model, samples);
    FillPsyHandOver(&e->handOver, e->model);
    const uint8_t* ancillary = nullptr;
    int* pending = nullptr;
    int stampPending = 0;
    int ancillaryBytes = 0;
    if (c.ancillaryCount) {
        ancillaryBytes = std::clamp(*c.ancillaryCount, 0, kTimeStampBytes);
        ancillary = c.ancillary;
        pending = c.ancillaryCount;
    } else if (e->stamp &&
               e->granulesEncoded % (static_cast<long long>(e->params.stampInterval) * e->granulesPerFrame) == 0) {
        TimeStampCopy(e->stamp, e->ancillary);
        ancillaryBytes = stampPending = kTimeStampBytes;
        ancillary = e->ancillary;
        pending = &stampPending;
    }
    if (!AdvanceBitstreamEncoder(e->writer, &e->handOver.granule, ancillaryBytes, e->budgets))
        return Fail(__LINE__, "AdvanceBitstreamEncoder() failed");
    if (!AdvanceLoopKernel(e->loop, e->handOver.loop, e->budgets)) return Fail(__LINE__, "AdvanceLoopKernel() failed");
    int n = 0;
    if (!WriteBitstream(e->writer, &e->loop->frame, ancillary, pending, &n, c.out + *c.written,
                        c.outRoom - *c.written))
        return Fail(__LINE__, "WriteBitstream() failed");
    if (e->stamp) TimeStampAdvance(e->stamp, kPsyGranuleSamples, e->params.sampleRate);
    ++e->granulesEncoded;
    e->samplesEncoded += kPsyGranuleSamples;
    *c.written += n;
    if (*c.written > c.outRoom) return Fail(__LINE__, "panic: memory overwritten");
    return nullptr;
}

void ZeroGranuleFrom(L3CoreEncoder* e, int from) {
    std::fill(e->granuleBuffer + std::clamp(from, 0, e->granuleSize), e->granuleBuffer + e->granuleSize, 0.0f);
}

// One step of the flush state machine; *done when the call must return.
EncError* Step(L3CoreEncoder* e, const Call& c, bool* done) {
    const long long frameGranules = e->granulesPerFrame;
    switch (e->flushState) {
        case kL3CoreRunning: {
            if (e->needsInput && e->inputFill == 0) {
                if (c.pcmBytes == 0) {
                    e->flushState = kL3CoreDrainFilter;
                    return nullptr;
                }
                if (*c.consumed >= c.pcmBytes || !TakeInput(e, c)) {
                    *done = true;
                    return nullptr;
                }
            }
            const int r = FlexProcess(&e->filter, e->inputBuffer, e->inputFill, e->granuleBuffer, e->granuleSize);
            if (r == kFlexNeedInput) {
                e->needsInput = 1;
                e->inputFill = 0;
                return nullptr;
            }
            e->needsInput = 0;
            return EncodeGranule(e, c);
        }
        case kL3CoreDrainFilter: {
            // The filter still holds the last input its delay kept back: run it
            // out before the zero granules, or the end of the signal is lost.
            if (FlexProcess(&e->filter, nullptr, 0, e->granuleBuffer, e->granuleSize) == kFlexGranuleFull)
                return EncodeGranule(e, c);
            const int count = FlexOutputCount(&e->filter);
            ZeroGranuleFrom(e, count);
            e->delayCounter -= count / e->params.channels;
            e->flushState = kL3CoreDrainDelay;
            return EncodeGranule(e, c);
        }
        case kL3CoreDrainDelay:
            ZeroGranuleFrom(e, 0);
            if (e->delayCounter > 0) {
                e->delayCounter -= kPsyGranuleSamples;
                return EncodeGranule(e, c);
            }
            e->flushState = kL3CoreCompleteFrame;
            return nullptr;
        case kL3CoreCompleteFrame:
            if (e->granulesEncoded % frameGranules != 0) return EncodeGranule(e, c);
            e->flushState = kL3CoreExtraGranules;
            return nullptr;
        case kL3CoreExtraGranules:
            if (e->extraGranules > 0) {
                --e->extraGranules;
                return EncodeGranule(e, c);
            }
            e->flushState = kL3CoreCompleteCycle;
            return nullptr;
        case kL3CoreCompleteCycle:
            // The cycle counts frames, so the stream ends with the mean bit rate.
            if (e->granulesEncoded % (e->paddingPeriod * frameGranules) != 0) {
                e->delayCounter -= kPsyGranuleSamples;
                return EncodeGranule(e, c);
            }
            e->flushState = kL3CoreFinalFlush;
            return nullptr;
        case kL3CoreFinalFlush: {
            int n = 0;
            if (!FlushBitstreamEncoder(e->writer, &n, c.out + *c.written, c.outRoom - *c.written))
                return Fail(__LINE__, "FlushBitstreamEncoder() failed");
            *c.written += n;
            e->flushState = kL3CoreFinished;
            *done = true;
            return nullptr;
        }
        default:
            *done = true;
            return nullptr;
    }
}

}  // namespace

EncError* L3CoreEncode(L3CoreEncoder* e, const void* pcm, int pcmBytes, uint8_t* out, int outRoom, int* consumed,
                       int* written, const uint8_t* ancillary, int* ancillaryCount) {
    if (consumed) *consumed = 0;
    if (written) *written = 0;
    if (!e || !consumed || !written || pcmBytes < 0 || (pcmBytes > 0 && !pcm) || (outRoom > 0 && !out) ||
        (ancillaryCount && *ancillaryCount > 0 && !ancillary))
        return Fail(__LINE__, "invalid function parameter");
    if (outRoom < e->minOutputRoom) return nullptr;
    const Call c{static_cast<const uint8_t*>(pcm), pcmBytes, out, outRoom, consumed, written, ancillary, ancillaryCount};
    for (;;) {
        bool done = false;
        if (EncError* err = Step(e, c, &done)) return ErrorChain(__FILE__, __LINE__, nullptr, err);
        if (done || *written + e->minOutputRoom > outRoom) return nullptr;
    }
}
