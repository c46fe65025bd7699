// Any bytes on one or two channels, in any pieces: the framed apt-X
// receiver never reads or writes outside its rings, history and output,
// and an alignment it finds stays within what its history holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/IsdnAptxFramedPath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000) return 0;
    static CIsdnAptxFramedPath path;
    const int channels = (data[0] & 1) + 1;
    path.Init(channels, (data[0] & 2) ? 384 : 192);
    size_t at = 1;
    std::vector<uint8_t> out(8192);
    while (at < size) {
        const int channel = (data[at] & 1) % channels;
        const size_t n = std::min<size_t>(size - at - 1, 1 + (data[at] >> 1) * 32);
        if (n == 0) break;
        path.WriteReceived(channel, data + at + 1, static_cast<int>(n));
        at += 1 + n;
        path.Receive();
        const int avail = path.ReceivedAvailable();
        if (avail < 0 || avail > CIsdnAptxFramedPath::kBufferBytes || avail % (8 * channels) != 0) __builtin_trap();
        if (path.IsAligned()) {
            for (int c = 0; c < channels; ++c) {
                const int d = path.GetDelayBits(c);
                if (d < 0 || d > CIsdnAptxFramedPath::kMaxDelayBits) __builtin_trap();
            }
        }
        if (path.ReadReceived(out.data(), static_cast<int>(out.size())) != avail) __builtin_trap();
    }
    return 0;
}
