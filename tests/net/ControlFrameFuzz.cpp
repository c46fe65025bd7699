// Any bytes scanned for control frames: a frame found is whole, inside the
// data, checksummed; nothing is read past the data.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"
#include "net/ControlFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    // Exact-size copy so any read past the end is caught.
    std::vector<uint8_t> buf(data, data + size);
    const int fill = static_cast<int>(size);
    const int limits[] = {fill, fill + 16, 10240, 16};
    for (int limit : limits) {
        const ControlFrameMatch m = FindControlFrame(buf.data(), fill, limit);
        if (m.status == ControlFrameMatch::Found) {
            if (m.length < 0 || m.offset < 0 || m.offset + 16 + m.length > fill) __builtin_trap();
            if (m.offset + 16 + m.length > limit) __builtin_trap();
            const uint8_t* f = buf.data() + m.offset;
            if (std::memcmp(f, kControlMagic, 4) != 0) __builtin_trap();
            if (ControlFrameChecksum(f, static_cast<size_t>(16 + m.length)) != GetLe32s(f + 12)) __builtin_trap();
            // Rebuilding the frame gives the same bytes.
            std::vector<uint8_t> again(static_cast<size_t>(16 + m.length));
            if (BuildControlFrame(m.type, f + 16, m.length, again.data(), static_cast<int>(again.size())) !=
                16 + m.length)
                __builtin_trap();
            if (std::memcmp(again.data(), f, again.size()) != 0) __builtin_trap();
        } else if (m.status == ControlFrameMatch::Partial) {
            if (m.offset < 0 || m.offset >= fill) __builtin_trap();
        }
    }
    if (size >= 12) {
        (void)LoadBufferingValues(buf.data());
    }
    if (size >= 32) (void)LoadDelayFrame(buf.data());
    return 0;
}
