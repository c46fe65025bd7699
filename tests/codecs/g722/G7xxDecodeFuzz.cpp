// Arbitrary received bytes and arbitrary lengths and rooms into the G.711 and
// G.722 codecs: counts stay within the buffers, nothing is written past the room.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/g711/G711Codec.h"
#include "codecs/g722/G722Codec.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

template <class Codec>
void Drive(Codec& codec, const uint8_t* data, size_t size, int room) {
    // Exactly `room` bytes of output, so ASan sees any write past it.
    std::vector<int16_t> pcm(static_cast<size_t>(room) / 2 + 1);
    int consumed = -1;
    const int n = codec.Decode(data, static_cast<int>(size), &consumed, pcm.data(), room);
    Check(n >= 0 && n <= room && consumed >= 0 && consumed <= static_cast<int>(size));
    std::vector<int16_t> in(size / 2);
    if (!in.empty()) std::memcpy(in.data(), data, in.size() * 2);
    std::vector<uint8_t> out(static_cast<size_t>(room) + 1);
    consumed = 0;  // the engine presets it; a null input leaves it alone
    const int m = codec.Encode(in.data(), static_cast<int>(in.size() * 2), &consumed, out.data(), room);
    Check(m >= 0 && m <= room && consumed >= 0 && consumed <= static_cast<int>(in.size() * 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int room = (data[0] | (data[1] << 8)) % 4096;
    const int law = (data[2] & 1) ? CODING_G711_ALAW : CODING_G711_ULAW;
    data += 3;
    size -= 3;
    static CG711Codec g711;
    AudioFormat f;
    f.codingType = law;
    g711.SetDecodeFormat(&f);
    g711.SetEncodeFormat(&f);
    Drive(g711, data, size, room);
    static CG722Codec g722;  // the state carries over between inputs, as between calls
    if (room % 7 == 0) g722.OpenDecoder();
    Drive(g722, data, size, room);
    return 0;
}
