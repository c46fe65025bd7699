// Any byte stream through the packet parser, in pieces whose sizes come from
// the input: no overrun, output bounded, every result a known code.
#include <cstdint>
#include <vector>

#include "net/StreamParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] * 8;
    CStreamParser p;
    std::vector<uint8_t> out(CStreamParser::kOutputBytes);
    size_t at = 1;
    int rounds = 0;
    while (at < size && rounds++ < 100000) {
        const size_t want = size - at < piece ? size - at : piece;
        const int took = p.Append(data + at, static_cast<int>(want));
        at += static_cast<size_t>(took);
        int guard = 0;
        while (p.Parse() == 1 && guard++ < 10000) {
        }
        if (p.GetOutputFill() < 0 || p.GetOutputFill() > CStreamParser::kOutputBytes) __builtin_trap();
        if (p.GetInputRoom() < 0 || p.GetInputRoom() > CStreamParser::kInputBytes) __builtin_trap();
        // Read only half at times, so a full output gets exercised.
        p.Read(out.data(), (rounds & 1) ? CStreamParser::kOutputBytes : 512);
        if (p.IsFormatReady()) {
            AudioFormat f;
            p.TakeFormat(&f);
            if (f.sampleRate <= 0 || f.sampleRate > 48000) __builtin_trap();
        }
        if (p.IsPeerBlockReady()) {
            uint8_t block[kPeerBlockBytes];
            p.TakePeerBlock(block);
            (void)StationIdentityFromPeerBlock(block);
        }
        if (took == 0) {
            // Input full: the parser must make room by itself or the stream stalls.
            const int r = p.ParseOne();
            if (r != 0 && r != 10 && r != 12 && r != 15 && r != 20) __builtin_trap();
            if (r == CStreamParser::kNeedMore) break;  // a packet longer than the input room cannot exist
            if (r == CStreamParser::kOutputFull) p.Read(out.data(), CStreamParser::kOutputBytes);
        }
    }
    return 0;
}
