#include "common/FrameDuration.h"

#include "common/Codes.h"
#include "common/MpegHeader.h"

uint32_t GetFrameDurationMs(const AudioFormat& format) {
    // A format arrives from dialogs, files and the peer: a rate of 0 (or a
    // negative one) must give 0, never a division by zero.
    const int64_t rate = format.sampleRate;
    switch (format.codingType) {
    case CODING_PCM:
        if (rate <= 0 || format.frameBytes <= 0) return 0;
        return static_cast<uint32_t>(static_cast<int64_t>(format.frameBytes) * 1000 / rate / 2);
    case CODING_G711_ALAW:
    case CODING_G711_ULAW:
    case CODING_G722:
        return 24;
    case CODING_MPEG_L1:
    case CODING_MPEG_L2:
    case CODING_MPEG_L3:
        // The call moves MPEG audio in blocks of 1152 samples per channel.
        return MpegMsPer1152Samples(format.sampleRate);
    case CODING_APTX:
    case CODING_APTX_ENH:
        if (rate <= 0 || format.frameBytes <= 0) return 0;
        // 64 bits: the 32-bit product of the original wraps above about 1 MB.
        return static_cast<uint32_t>(static_cast<uint64_t>(format.frameBytes) * 4000u /
                                     static_cast<uint64_t>(rate));
    default:
        return 0;
    }
}
