// Any bytes on either channel, in any pieces: the aligner never reads or
// writes outside its buffers and hands out whole frames only.
#include <cstdint>
#include <vector>

#include "net/ChannelAligner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000) return 0;
    static CChannelAligner aligner;
    static int ready = 0;
    const int block = (data[0] & 1) ? 384 : 192;
    if (!ready || (data[0] & 2)) {
        aligner.Init(2, block);
        ready = 1;
    }
    size_t at = 1;
    std::vector<uint8_t> out(8192);
    while (at < size) {
        const int channel = data[at] & 1;
        const size_t n = std::min<size_t>(size - at - 1, 1 + (data[at] >> 1) * 24);
        if (n == 0) break;
        aligner.Write(channel, data + at + 1, static_cast<int>(n));
        at += 1 + n;
        aligner.Run();
        const int avail = aligner.Available();
        if (avail < 0 || avail > 6 * 384) __builtin_trap();
        if (aligner.Read(out.data(), static_cast<int>(out.size())) != avail) __builtin_trap();
        if (aligner.ChannelFill(0) > CChannelAligner::kChannelBytes) __builtin_trap();
    }
    return 0;
}
