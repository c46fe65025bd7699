#include "call/FormatRules.h"

#include <algorithm>

#include "common/FrameDuration.h"
#include "common/MpegHeader.h"

namespace {
bool IsAptx(int type) { return type == CODING_APTX || type == CODING_APTX_ENH; }
bool IsG711(int type) { return type == CODING_G711_ALAW || type == CODING_G711_ULAW; }
bool IsMpeg(int type) { return type == CODING_MPEG_L2 || type == CODING_MPEG_L3; }
}  // namespace

int ComputeFrameBytes(const AudioFormat& f, int fastCpu) {
    switch (f.codingType) {
    case CODING_PCM: return f.deviceMode == DEVICEMODE_MONO ? 2304 : 4608;
    case CODING_G711_ALAW:
    case CODING_G711_ULAW:
        if (f.frameBytes > 0) return f.frameBytes;
        return fastCpu ? 96 : 192;
    case CODING_G722:
        if (f.frameBytes > 0) return f.frameBytes;
        return (f.sampleRate / 2000) * (fastCpu ? 8 : 24);
    case CODING_MPEG_L2:
    case CODING_MPEG_L3:
        // Two 576-sample frames of MPEG-2 Layer III make one block.
        return MpegBytesPer1152Samples(f.bitRate, f.sampleRate);
    case CODING_APTX:
    case CODING_APTX_ENH:
        if (f.frameBytes > 0) return f.frameBytes;
        return f.deviceMode == DEVICEMODE_MONO ? 192 : 384;
    default: return 0;
    }
}

int NormalizeFormat(AudioFormat& f, FormatUse use, int fastCpu) {
    if (f.codingType == 0) {
        f = AudioFormat();
        return 1;
    }
    const int type = f.codingType;
    if (type == CODING_PCM || IsAptx(type)) {
        if (f.deviceMode != DEVICEMODE_MONO) f.deviceMode = DEVICEMODE_STEREO;
    } else if (IsG711(type)) {
        f.bitRate = 64000;
        f.sampleRate = 8000;
        f.deviceMode = DEVICEMODE_MONO;
    } else if (type == CODING_G722) {
        f.deviceMode = DEVICEMODE_MONO;
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
        if (type == CODING_PCM) {
            rate = static_cast<int64_t>(f.sampleRate) * 16;
        } else if (IsG711(type)) {
            rate = 64000;
        } else if (type == CODING_G722) {
            rate = static_cast<int64_t>(f.sampleRate) * 4;
        } else if (IsAptx(type)) {
            rate = f.sampleRate == 15754 ? 64000 : f.sampleRate == 31508 ? 128000 : static_cast<int64_t>(f.sampleRate) * 4;
        }
        if (!IsMpeg(type) && f.deviceMode != DEVICEMODE_MONO) rate *= 2;
        // A peer's absurd sample rate must not wrap into a plausible rate.
        f.bitRate = static_cast<int32_t>(std::clamp<int64_t>(rate, INT32_MIN, INT32_MAX));
    }
    if (!(type == CODING_PCM && f.frameBytes > 0)) f.frameBytes = ComputeFrameBytes(f, fastCpu);
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
