#include "mp3enc/l3core/core/bitmux/BitFrame.h"

#include <algorithm>

#include "common/MpegHeaderTables.h"
#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"

namespace {

// Index 0 holds a lower bound no frame uses; index 15 ends the table.
// MPEG-2.5 streams stop at 64000 bit/s.
struct RateTable {
    int rates[3][16];
    constexpr RateTable() : rates{} {
        for (int v = 0; v < 3; ++v) {
            rates[v][0] = v == 0 ? 8000 : 4000;
            for (int i = 1; i < 15; ++i) {
                const int kbps = mpeg_header::kBitRateKbps[v == 0 ? 0 : 1][2][i];
                rates[v][i] = (v == 2 && kbps > 64) ? 0 : kbps * 1000;
            }
            rates[v][15] = -1;
        }
    }
};
constexpr RateTable kRates;
constexpr int kEnd = 15;

long long FrameProduct(const BitFrame* f, int bitRate) {
    return static_cast<long long>(bitRate) * (f->samplesPerFrame / 8);
}

}  // namespace

int BitFrameBytes(const BitFrame* frame, int bitRate) {
    return static_cast<int>(FrameProduct(frame, bitRate) / frame->sampleRate);
}

EncError* InitBitFrame(BitFrame* frame, int bitRate, int sampleRate, int version, int mode) {
    if (version < 0 || version > 2) return ErrorCreate(__FILE__, __LINE__, nullptr, "unknown bitstream type");
    if (sampleRate <= 0 || bitRate <= 0) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    int padding = frame->paddingMode;
    UciGetInt("padding", 0, 2, "set the padding mode", "0 = iso, 1 = never, 2 = always", &padding);
    frame->paddingMode = std::clamp(padding, 0, 2);
    frame->bitRate = bitRate;
    frame->sampleRate = sampleRate;
    frame->version = version;
    frame->samplesPerFrame = version == 0 ? 1152 : 576;
    frame->rates = kRates.rates[version];

    const long long granuleBits = static_cast<long long>(bitRate) * 576 / sampleRate;
    const long long frameBits = version == 0 ? 2 * granuleBits : granuleBits;
    long long limit = std::min<long long>(7680 - frameBits, version == 0 ? 4088 : 2040);
    limit = std::max<long long>(limit, 0);
    frame->baseLimit = static_cast<int>((limit + 7) / 8 * 8);

    int index = 1;
    while (index < kEnd && frame->rates[index] < bitRate) ++index;
    frame->fixedIndex = 0;
    frame->lowerIndex = frame->upperIndex = 0;
    frame->neighbourDifference = 0;
    frame->balance = 0;
    const bool exact = index < kEnd && frame->rates[index] == bitRate;
    if (mode == kBitFrameFixedIso) {
        if (!exact) return ErrorCreate(__FILE__, __LINE__, nullptr, "non-ISO bitrate");
        frame->fixedIndex = index;
    } else if (mode == kBitFrameMixed) {
        if (exact) {
            mode = kBitFrameFixedIso;
            frame->fixedIndex = index;
        } else if (index == kEnd) {
            return ErrorCreate(__FILE__, __LINE__, nullptr, "bitrate too high");
        } else if (index == 1) {
            return ErrorCreate(__FILE__, __LINE__, nullptr, "bitrate too low");
        } else {
            frame->lowerIndex = index - 1;
            frame->upperIndex = index;
            frame->neighbourDifference = BitFrameBytes(frame, bitRate) - BitFrameBytes(frame, frame->rates[index - 1]);
        }
    } else {
        return ErrorCreate(__FILE__, __LINE__, nullptr, "unknown bitstream mode");
    }
    frame->mode = mode;
    frame->targetBytes = BitFrameBytes(frame, bitRate);
    frame->targetRemainder = static_cast<int>(FrameProduct(frame, bitRate) % sampleRate);
    frame->fill = 0;
    frame->drift = 0;
    frame->limit = frame->baseLimit;
    frame->paddingAccumulator = frame->targetRemainder;
    frame->frameBytes = frame->paddingBit = frame->bitRateIndex = frame->mainDataBegin = 0;
    frame->fillAtStart = 0;
    frame->limitAtStart = frame->limit;
    return nullptr;
}

int BeginBitFrame(BitFrame* frame) {
    frame->mainDataBegin = static_cast<int>(frame->drift + frame->fill / 8);
    if (frame->paddingMode == kPaddingNever) {
        frame->paddingBit = 0;
    } else if (frame->paddingMode == kPaddingAlways) {
        frame->paddingBit = 1;
    } else {
        frame->paddingAccumulator -= frame->targetRemainder;
        frame->paddingBit = 0;
        if (frame->paddingAccumulator < 0) {
            frame->paddingAccumulator += frame->sampleRate;
            frame->paddingBit = 1;
        }
    }
    int chosenBytes = frame->targetBytes;
    if (frame->mode == kBitFrameFixedIso) {
        frame->bitRateIndex = frame->fixedIndex;
    } else {
        frame->bitRateIndex = frame->balance < frame->neighbourDifference ? frame->upperIndex : frame->lowerIndex;
        chosenBytes = BitFrameBytes(frame, frame->rates[frame->bitRateIndex]);
        frame->balance += chosenBytes - frame->targetBytes;
    }
    frame->frameBytes = frame->paddingBit + chosenBytes;
    frame->drift += chosenBytes - frame->targetBytes;
    frame->limit = static_cast<int>(std::max<long long>(frame->baseLimit - 8 * frame->drift, 0));
    frame->fillAtStart = frame->fill;
    frame->limitAtStart = frame->limit;
    return (frame->targetBytes + frame->paddingBit) * 8;
}

int EndBitFrame(BitFrame* frame, int unusedBits) {
    const int fill = frame->fill + unusedBits;
    const int excess = std::max(fill - frame->limit, 0);
    // A frame that spent more than the reservoir held has nothing to stuff;
    // the writer's budgets never allow it.
    const int kept = std::max(std::min(fill, frame->limit), 0);
    frame->fill = kept - kept % 8;
    return excess + kept % 8;
}
