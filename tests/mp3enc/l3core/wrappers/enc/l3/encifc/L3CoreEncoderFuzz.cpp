// Fuzz target for the l3core interface: the first 24 bytes are the settings
// (configuration parameters, input descriptor, stream parameters, chunk and
// output room), the rest is PCM in the chosen sample format. Whatever opens
// must code every chunk without reading or writing out of bounds, never write
// beyond the room given, report only bytes it took, and finish its drain.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreBitrate.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"

namespace {
constexpr float kRates[10] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};

float FloatAt(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 24) return 0;
    L3CoreConfig* config = nullptr;
    if (EncError* e = L3CoreCreateConfig(&config)) {
        L3CoreFreeError(e);
        return 0;
    }
    const int quality = data[0] % 11;  // 10 is refused
    const int padding = data[1] % 4;   // 3 is refused
    const int header = data[2] & 7, emphasis = data[2] >> 3 & 3;
    L3CoreFreeError(L3CoreSetConfigParam(config, kL3CoreQuality, &quality));
    L3CoreFreeError(L3CoreSetConfigParam(config, kL3CorePadding, &padding));
    L3CoreFreeError(L3CoreSetConfigParam(config, kL3CoreHeaderBits, &header));
    L3CoreFreeError(L3CoreSetConfigParam(config, kL3CoreEmphasis, &emphasis));
    if (data[3] & 1) L3CoreFreeError(L3CoreSetConfigParam(config, kL3CoreIntensityOff, nullptr));
    if (data[3] & 2) L3CoreFreeError(L3CoreSetConfigParam(config, kL3CoreNoOptionScope, nullptr));
    if (data[3] & 4) {  // any float, NaN included
        const float bandwidth = FloatAt(data + 4);
        L3CoreFreeError(L3CoreSetConfigParam(config, kL3CoreBandwidth, &bandwidth));
    }
    L3CoreInput in{};
    in.channels = 1 + data[8] % 3;
    in.sampleRate = (data[3] & 8) ? FloatAt(data + 12) : kRates[data[9] % 10];
    in.format = data[10] % 3;  // 2: no routine of the caller's
    in.fullScale = (data[3] & 16) ? FloatAt(data + 16) : 32768.0f;
    L3CoreParams p{};
    p.channels = 1 + data[11] % 2;
    p.bitRate = 8000 * (data[20] % 41) + data[21] % 8;
    if (EncError* e = L3CoreCheckBitrate(&in, &p, config)) L3CoreFreeError(e);
    if (data[3] & 32) p.sampleRate = kRates[data[9] % 10];
    p.crc = data[11] >> 1 & 1;
    p.stampInterval = data[11] >> 2 & 3;
    L3CoreEncoder* enc = nullptr;
    if (EncError* e = L3CoreOpen(&enc, &in, &p, config)) L3CoreFreeError(e);
    L3CoreFreeConfig(config);
    if (!enc) return 0;
    L3CoreInfo info{};
    L3CoreGetInfo(enc, &info);
    const int chunk = 1 + data[22] * 61;
    const int room = 5000 + data[23] * 64;
    data += 24;
    size -= 24;
    // PCM must be aligned for its sample type: copy it.
    std::vector<uint8_t> pcm(data, data + size);
    std::vector<uint8_t> out(static_cast<size_t>(room) + 16, 0xEE);
    size_t at = 0;
    for (int guard = 0; at < pcm.size() && guard < 100000; ++guard) {
        int used = -1, written = -1;
        EncError* e = L3CoreEncode(enc, pcm.data() + at, static_cast<int>(std::min<size_t>(chunk, pcm.size() - at)),
                                   out.data(), room, &used, &written, nullptr, nullptr);
        if (written > room || used < 0 || static_cast<size_t>(used) > pcm.size() - at || out[room] != 0xEE)
            std::abort();
        L3CoreFreeError(e);
        at += static_cast<size_t>(used);
        if (e || (used == 0 && written == 0)) break;
    }
    for (int guard = 0; guard < 10000; ++guard) {
        int used = -1, written = -1;
        EncError* e = L3CoreEncode(enc, nullptr, 0, out.data(), room, &used, &written, nullptr, nullptr);
        if (written > room || used != 0 || out[room] != 0xEE) std::abort();
        L3CoreFreeError(e);
        if (e || written == 0) break;
    }
    L3CoreClose(enc);
    return 0;
}
