#include "net/ControlFrame.h"

#include <cstring>

#include "common/ByteOrder.h"

int32_t ControlFrameChecksum(const uint8_t* frame, size_t totalBytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i < totalBytes; ++i) {
        const bool inField = i >= 12 && i < 16;
        const int8_t b = inField ? 0 : static_cast<int8_t>(frame[i]);
        sum += static_cast<uint32_t>(i) + static_cast<uint32_t>(static_cast<int32_t>(b));
    }
    return static_cast<int32_t>(sum);
}

int BuildControlFrame(int type, const void* payload, int len, uint8_t* out, int outSize) {
    if (len < 0 || (len > 0 && !payload) || !out) return 0;
    if (outSize < kControlHeaderBytes || len > outSize - kControlHeaderBytes) return 0;
    std::memcpy(out, kControlMagic, 4);
    PutLe32(out + 4, static_cast<uint32_t>(type));
    PutLe32(out + 8, static_cast<uint32_t>(len));
    PutLe32(out + 12, 0);
    if (len > 0) std::memcpy(out + kControlHeaderBytes, payload, static_cast<size_t>(len));
    const int total = kControlHeaderBytes + len;
    PutLe32(out + 12, static_cast<uint32_t>(ControlFrameChecksum(out, static_cast<size_t>(total))));
    return total;
}

ControlFrameMatch FindControlFrame(const uint8_t* data, int fill, int limit) {
    ControlFrameMatch m;
    if (!data || fill <= 0) return m;
    for (int i = 0; i < fill; ++i) {
        const int have = fill - i;
        const int magicHave = have < 4 ? have : 4;
        if (std::memcmp(data + i, kControlMagic, static_cast<size_t>(magicHave)) != 0) continue;
        if (have < kControlHeaderBytes) {
            // The tail may be the start of a frame: hold it until the header is
            // complete, unless a header could never fit there.
            if (i + kControlHeaderBytes <= limit) {
                m.status = ControlFrameMatch::Partial;
                m.offset = i;
                return m;
            }
            continue;
        }
        const int32_t length = GetLe32s(data + i + 8);
        // Lengths come from the peer: no negative one, none beyond the buffer.
        if (length < 0 || length > limit - kControlHeaderBytes - i) continue;
        const int total = kControlHeaderBytes + length;
        if (have < total) {
            m.status = ControlFrameMatch::Partial;
            m.offset = i;
            return m;
        }
        if (ControlFrameChecksum(data + i, static_cast<size_t>(total)) != GetLe32s(data + i + 12)) continue;
        m.status = ControlFrameMatch::Found;
        m.offset = i;
        m.type = GetLe32s(data + i + 4);
        m.length = length;
        return m;
    }
    return m;
}

void StoreBufferingValues(const BufferingValues& v, uint8_t* out) {
    PutLe32(out + 0, static_cast<uint32_t>(v.connectionType));
    PutLe32(out + 4, static_cast<uint32_t>(v.bufferingMode));
    PutLe32(out + 8, static_cast<uint32_t>(v.bufferMs));
}

BufferingValues LoadBufferingValues(const uint8_t* in) {
    BufferingValues v;
    v.connectionType = GetLe32s(in + 0);
    v.bufferingMode = GetLe32s(in + 4);
    v.bufferMs = GetLe32s(in + 8);
    return v;
}

void StoreDelayFrame(const DelayFrame& f, uint8_t* out) {
    const int32_t words[8] = {f.size, f.exchangeCount, f.connectionType, f.callerTime,
                              f.answererTime, f.maxMs, f.minMs, f.blockSize};
    for (int i = 0; i < 8; ++i) PutLe32(out + 4 * i, static_cast<uint32_t>(words[i]));
}

DelayFrame LoadDelayFrame(const uint8_t* in) {
    DelayFrame f;
    f.size = GetLe32s(in + 0);
    f.exchangeCount = GetLe32s(in + 4);
    f.connectionType = GetLe32s(in + 8);
    f.callerTime = GetLe32s(in + 12);
    f.answererTime = GetLe32s(in + 16);
    f.maxMs = GetLe32s(in + 20);
    f.minMs = GetLe32s(in + 24);
    f.blockSize = GetLe32s(in + 28);
    return f;
}
