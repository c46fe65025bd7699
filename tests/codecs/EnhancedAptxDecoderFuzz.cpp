// Any bytes through the enhanced apt-X codec class's decoder: the first byte
// picks mono or stereo, the rest is the connection's byte stream, offered in
// blocks the second byte picks. Nothing may crash, overflow or leave its room.
#include <cstdint>
#include <vector>

#include "codecs/AptxEnhCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    AudioFormat format;
    format.codingType = 272;
    format.sampleRate = 48000;
    format.deviceMode = (data[0] & 1) ? 20 : 10;
    format.frameBytes = 4 + (data[1] & 63) * 4;
    data += 2;
    size -= 2;
    CAptxEnhCodec codec;
    codec.SetDecodeFormat(&format);
    if (codec.OpenDecoder() != 1) return 0;
    const int room = codec.GetDecodeFrameSize(&format);
    std::vector<int16_t> pcm(static_cast<size_t>(room) / 2);
    size_t pos = 0;
    // The whole input is also decoded a second time, repeated, so that a lock
    // found in the first pass meets the garbage of the second.
    for (int pass = 0; pass < 2; ++pass) {
        pos = 0;
        while (pos < size) {
            const int offer = static_cast<int>(size - pos < static_cast<size_t>(format.frameBytes) ? size - pos : format.frameBytes);
            int consumed = 0;
            const int n = codec.Decode(data + pos, offer, &consumed, pcm.data(), room);
            if (n < 0 || n > room || consumed < 0 || consumed > offer) __builtin_trap();
            if (consumed == 0) break;
            pos += static_cast<size_t>(consumed);
        }
    }
    return 0;
}
