#include "call/DelayMeasurement.h"

#include <algorithm>

namespace {
constexpr int kExchangesAtMost = 50;
constexpr int kExchangesAtLeast = 15;
constexpr int kExchangesUnrecorded = 10;
constexpr int kEnd = -1;
}  // namespace

DelayStep AdvanceDelayFrame(DelayFrame& frame, uint32_t now, bool answering, bool timeUp) {
    DelayStep step;
    uint32_t returnTime = 0;
    bool record = true;
    if (answering) {
        if (frame.exchangeCount == kEnd) {
            step.finished = true;
            step.maxMs = static_cast<uint32_t>(frame.maxMs);
            step.minMs = static_cast<uint32_t>(frame.minMs);
            return step;
        }
        returnTime = frame.answererTime != 0 ? now - static_cast<uint32_t>(frame.answererTime) : 0;
        frame.answererTime = static_cast<int32_t>(now);
    } else {
        frame.exchangeCount += 1;
        returnTime = now - static_cast<uint32_t>(frame.callerTime);
        frame.callerTime = static_cast<int32_t>(now);
        if (frame.exchangeCount > kExchangesAtMost || (frame.exchangeCount > kExchangesAtLeast && timeUp)) {
            frame.exchangeCount = kEnd;
            record = false;
        }
    }
    if (record && frame.exchangeCount > kExchangesUnrecorded) {
        if (returnTime > static_cast<uint32_t>(frame.maxMs)) frame.maxMs = static_cast<int32_t>(returnTime);
        if (returnTime < static_cast<uint32_t>(frame.minMs) || frame.minMs == 0)
            frame.minMs = static_cast<int32_t>(returnTime);
    }
    step.reply = true;
    if (frame.exchangeCount == kEnd) {
        step.finished = true;
        step.maxMs = static_cast<uint32_t>(frame.maxMs);
        step.minMs = static_cast<uint32_t>(frame.minMs);
    }
    return step;
}

int BitRateOf(int64_t bits, uint32_t ms) {
    if (bits <= 0) return 0;
    const int64_t rate = bits * 1000 / std::max<uint32_t>(ms, 1);
    return static_cast<int>(std::min<int64_t>(rate, INT32_MAX));
}
