// Fuzz target for the encoder front end: the first 16 bytes pick the input
// rate and channels, the coded format, the configuration block and the chunk
// size; the rest is PCM in the chosen sample format. Whatever opens must code
// every chunk without reading or writing out of bounds, never write beyond
// the room given, and finish its flush.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp3enc/Mp3Encoder.h"

namespace {
constexpr int kRates[9] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kKbps[16] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 100, 128, 160, 192, 256, 320};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) return 0;
    const int rate = kRates[data[0] % 9];
    const int channels = 1 + (data[1] & 1);
    Mp3Encoder* e = Mp3EncoderCreate(rate, channels, (data[1] >> 1) % 3);
    if (!e) return 0;
    Mp3EncoderFormat f{static_cast<uint32_t>(kRates[data[2] % 9]), static_cast<uint32_t>(data[3] % 3),
                       static_cast<uint32_t>(kKbps[data[4] % 16] * 1000 + (data[5] & 0x80 ? data[5] : 0))};
    Mp3EncoderSetFormat(e, &f);
    Mp3EncoderConfig c = *Mp3EncoderGetConfig(e);
    c.sampleFormat = data[6] % 3;
    c.paddingMode = data[7] % 4;
    c.crc = data[8] & 1;
    c.vbrQuality = (data[8] & 2) ? data[9] % 102 : 0;
    c.intensityAllowed = (data[8] >> 2) & 1;
    uint32_t bits;
    std::memcpy(&bits, data + 10, 4);
    if (data[8] & 8) std::memcpy(&c.bandwidth, &bits, 4);  // any float, NaN included
    Mp3EncoderSetConfig(e, &c);
    const int chunk = 1 + data[14] * 37;
    const int room = 64 + data[15] * 64;
    data += 16;
    size -= 16;
    // PCM must be aligned for its sample type: copy it.
    std::vector<uint8_t> pcm(data, data + size);
    std::vector<uint8_t> out(static_cast<size_t>(room) + 16, 0xEE);
    size_t at = 0;
    for (int guard = 0; at < pcm.size() && guard < 100000; ++guard) {
        int used = 0;
        const int n = Mp3EncoderEncode(e, pcm.data() + at, static_cast<int>(std::min<size_t>(chunk, pcm.size() - at)),
                                       &used, out.data(), room, nullptr, nullptr);
        if (n > room || used < 0 || static_cast<size_t>(used) > pcm.size() - at || out[room] != 0xEE) std::abort();
        at += static_cast<size_t>(used);
        if (used == 0 && n <= 0) break;
    }
    for (int guard = 0; guard < 10000; ++guard) {
        int used = 0;
        const int n = Mp3EncoderEncode(e, nullptr, 0, &used, out.data(), room, nullptr, nullptr);
        if (n > room || out[room] != 0xEE) std::abort();
        if (n <= 0) break;
    }
    Mp3EncoderDestroy(e);
    return 0;
}
