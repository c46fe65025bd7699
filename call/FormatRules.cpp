#include "call/FormatRules.h"

#include <algorithm>

#include "codecs/CodingTable.h"
#include "codecs/FrameDuration.h"

int ComputeFrameBytes(const AudioFormat& f, int fastCpu) {
    const CodingDescriptor* row = FindCoding(f.codingType);
    return row && row->frameBytes ? row->frameBytes(f, fastCpu) : 0;
}

int NormalizeFormat(AudioFormat& f, FormatUse use, int fastCpu) {
    if (f.codingType == 0) {
        f = AudioFormat();
        return 1;
    }
    const CodingDescriptor* row = FindCoding(f.codingType);
    if (row) {
        if (row->modeRule == ModeRule::kMono) {
            f.deviceMode = DEVICEMODE_MONO;
        } else if (row->modeRule == ModeRule::kMonoOrStereo && f.deviceMode != DEVICEMODE_MONO) {
            f.deviceMode = DEVICEMODE_STEREO;
        }
        if (row->fixedOnEveryFormat) {
            f.bitRate = row->fixedBitRate;
            f.sampleRate = row->fixedSampleRate;
        }
    }
    if (f.sampleRate == 0) {
        switch (use) {
        case FormatUse::Request: return 0;
        case FormatUse::Received: f = AudioFormat(); return 1;
        case FormatUse::Answer: return 1;
        }
    }
    if (use != FormatUse::Request) {
        int64_t rate = f.bitRate;
        // MPEG formats name the bit rate of all channels; the others one channel's.
        if (row && row->channelBitRate) rate = row->channelBitRate(f);
        if ((!row || !row->mpegFramed) && f.deviceMode != DEVICEMODE_MONO) rate *= 2;
        // A peer's absurd sample rate must not wrap into a plausible rate.
        f.bitRate = static_cast<int32_t>(std::clamp<int64_t>(rate, INT32_MIN, INT32_MAX));
    }
    // A PCM frame size given with the format stands: it is the peer's block.
    if (!(f.codingType == CODING_PCM && f.frameBytes > 0)) f.frameBytes = ComputeFrameBytes(f, fastCpu);
    return 1;
}

bool SameFormat(const AudioFormat& a, const AudioFormat& b) {
    if (a.codingType != b.codingType || a.bitRate != b.bitRate || a.sampleRate != b.sampleRate ||
        a.deviceMode != b.deviceMode)
        return false;
    return a.codingType != CODING_APTX || a.aptxOption == b.aptxOption;
}

void MatchAptxOptionToTransport(AudioFormat& f, int transportKind) {
    if (f.codingType == CODING_APTX && (transportKind == TRANSPORT_TCP || transportKind == TRANSPORT_MULTICAST))
        f.aptxOption = 1;
}

bool FrameFitsPass(const AudioFormat& f) {
    if (f.codingType == 0) return true;
    return f.frameBytes > 0 && f.frameBytes <= kPassBufferBytes;
}

uint32_t DelayBufferCapacity(const AudioFormat& format, int delayMs) {
    const uint32_t duration = GetFrameDurationMs(format);
    if (duration == 0 || format.frameBytes <= 0) return 0;
    const uint64_t frame = static_cast<uint64_t>(format.frameBytes);
    const uint64_t byTime = frame * static_cast<uint64_t>(std::max(delayMs, 0)) / duration;
    return static_cast<uint32_t>(std::min<uint64_t>(std::max(10 * frame, byTime), UINT32_MAX));
}

int DelayTimeFromMeasurement(int bufferingMode, uint32_t maxMs, uint32_t minMs) {
    uint64_t t;
    if (bufferingMode == BUFMODE_MEASURE_DELAY)
        t = std::max<uint64_t>((static_cast<uint64_t>(maxMs) + minMs) / 2, 250);
    else
        t = static_cast<uint64_t>(maxMs) + 300;
    return static_cast<int>(std::min<uint64_t>(t, 2000));
}
