// Any bytes through the standard apt-X decoder: the first byte picks channels,
// sync pattern and options, the rest is the code stream in calls whose length
// the second byte picks. Nothing may crash, overflow or hang.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/aptx/AptxStdEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int channels = (data[0] & 1) + 1;
    const int sync = (data[0] & 2) ? -1 : (data[0] >> 5) & 7;
    int32_t options = 0;
    if (data[0] & 4) options |= kAptxStdCodeBigEndian;
    if (data[0] & 8) options |= kAptxStdStuffed;
    const int32_t modes[2] = {(data[0] >> 4) & 1, (data[0] >> 4) & 1 ? 2 : 0};
    const int length = 32 * ((data[1] & 3) + 1);
    data += 2;
    size -= 2;
    AptxStdEngine* dec = AptxStdCreate(options, sync, modes, channels);
    if (!dec) return 0;
    const size_t call = static_cast<size_t>(length / 4 * channels * 2);
    std::vector<int16_t> pcm(static_cast<size_t>(length) * channels);
    std::vector<uint8_t> code(call);
    for (size_t pos = 0; pos < size; pos += call) {
        // A short tail is padded with zeros rather than dropped, so every byte is used.
        const size_t n = size - pos < call ? size - pos : call;
        std::memset(code.data(), 0, call);
        std::memcpy(code.data(), data + pos, n);
        AptxUserData user[2];
        const int r = AptxStdDecode(dec, length, pcm.data(), code.data(), user);
        if (r == 2) __builtin_trap();
        if (r == 0)
            for (int c = 0; c < channels; ++c)
                if (user[c].bytes && user[c].mask != 0) pcm[0] = static_cast<int16_t>(pcm[0] + user[c].bytes[0]);
    }
    AptxStdFree(dec);
    return 0;
}
