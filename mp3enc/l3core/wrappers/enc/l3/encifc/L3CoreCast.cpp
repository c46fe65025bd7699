#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreCast.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
// Samples of whole sample frames that both the input and the room hold.
int WholeFrames(int inputSamples, int room, int channels) {
    const int n = std::min(inputSamples, room);
    return channels > 0 ? n - n % channels : 0;
}
}  // namespace

void L3CoreCastFloat(const void* input, int inputBytes, float* output, int room, int channels, int* bytesUsed,
                     int* samplesWritten) {
    const int n = WholeFrames(inputBytes / 4, room, channels);
    if (n > 0) std::memcpy(output, input, sizeof(float) * static_cast<size_t>(n));
    *bytesUsed = 4 * n;
    *samplesWritten = n;
}

void L3CoreCastInt16(const void* input, int inputBytes, float* output, int room, int channels, int* bytesUsed,
                     int* samplesWritten) {
    const int n = WholeFrames(inputBytes / 2, room, channels);
    const auto* bytes = static_cast<const uint8_t*>(input);
    for (int i = 0; i < n; ++i) {
        int16_t s;
        std::memcpy(&s, bytes + 2 * static_cast<size_t>(i), sizeof s);
        output[i] = s;
    }
    *bytesUsed = 2 * n;
    *samplesWritten = n;
}
