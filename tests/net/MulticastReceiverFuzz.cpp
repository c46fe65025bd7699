// The multicast receive path with datagrams of every length from up to three
// sources, control frames and packets inside them, time passing between
// them: no overrun, every count within its buffer, the state consistent.
// Input: one byte for the buffer size, then records {op, u16 length, bytes}:
// op bits 0-1 the source, bits 2-3 what the reader does next, bits 4-7 how
// far the clock moves (in 700 ms steps).
#include <cstdint>
#include <deque>
#include <vector>

#include "net/MulticastReceiver.h"
#include "platform/Clock.h"

namespace {
struct ScriptedSource final : CDatagramSource {
    struct Item {
        std::vector<uint8_t> bytes;
        uint16_t port;
    };
    std::deque<Item> items;
    int ReceiveDatagram(uint8_t* dst, int max, ws::SocketAddress* from) override {
        if (items.empty()) return 0;
        Item item = std::move(items.front());
        items.pop_front();
        const int n = static_cast<int>(item.bytes.size()) < max ? static_cast<int>(item.bytes.size()) : max;
        for (int i = 0; i < n; ++i) dst[i] = item.bytes[static_cast<size_t>(i)];
        from->ip = 0xA9FE0101u;
        from->port = item.port;
        return n;
    }
};

void Check(const CMulticastReceiver& r, int bufferSize) {
    if (r.GetAvailable() < 0 || r.GetAvailable() > bufferSize) __builtin_trap();
    if (r.GetControlLength() < 0 || r.GetControlLength() > bufferSize) __builtin_trap();
    const int mode = r.GetParseMode();
    if (mode != 0 && mode != 10 && mode != 20) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    CSimClock clock(5000);
    const int bufferSize = 1024 + data[0] * 64;
    CMulticastReceiver r;
    r.Init(bufferSize);
    ScriptedSource source;
    std::vector<uint8_t> out(static_cast<size_t>(bufferSize) + 16);
    size_t at = 1;
    int records = 0;
    while (at + 3 <= size && records++ < 4096) {
        const uint8_t op = data[at];
        size_t len = static_cast<size_t>(data[at + 1]) | (static_cast<size_t>(data[at + 2]) << 8);
        at += 3;
        if (len > size - at) len = size - at;
        source.items.push_back({std::vector<uint8_t>(data + at, data + at + len), static_cast<uint16_t>(1000 + (op & 3))});
        at += len;
        for (int i = 0; i < 4; ++i) {
            r.Poll(source);
            Check(r, bufferSize);
        }
        switch ((op >> 2) & 3) {
        case 1: r.Read(out.data(), static_cast<int>(out.size())); break;
        case 2: r.Read(out.data(), 96); break;
        case 3:
            if (r.GetControlType()) r.ReadControl(out.data(), static_cast<int>(out.size()));
            r.Flush();
            break;
        default:
            if (r.GetControlType()) r.DiscardControl();
            break;
        }
        clock.AdvanceMs(700u * static_cast<uint32_t>(op >> 4));
        Check(r, bufferSize);
    }
    // Whatever is left drains without a stall.
    for (int i = 0; i < 64; ++i) {
        if (r.GetControlType()) r.DiscardControl();
        r.Poll(source);
        r.Read(out.data(), static_cast<int>(out.size()));
        Check(r, bufferSize);
    }
    return 0;
}
