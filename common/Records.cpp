#include "common/Records.h"

#include <cstring>

#include "common/ByteOrder.h"

void StoreAudioFormat(const AudioFormat& f, uint8_t* out) {
    PutLe32(out + 0, static_cast<uint32_t>(f.codingType));
    PutLe32(out + 4, static_cast<uint32_t>(f.bitRate));
    PutLe32(out + 8, static_cast<uint32_t>(f.sampleRate));
    PutLe32(out + 12, static_cast<uint32_t>(f.deviceMode));
    PutLe32(out + 16, static_cast<uint32_t>(f.frameBytes));
    PutLe32(out + 20, static_cast<uint32_t>(f.direction));
    PutLe32(out + 24, static_cast<uint32_t>(f.aptxOption));
    std::memcpy(out + 28, f.reserved, sizeof f.reserved);
    PutLe16(out + 68, static_cast<uint16_t>(f.reserved2));
    std::memcpy(out + 70, f.padding, sizeof f.padding);
}

AudioFormat LoadAudioFormat(const uint8_t* in) {
    AudioFormat f;
    f.codingType = GetLe32s(in + 0);
    f.bitRate = GetLe32s(in + 4);
    f.sampleRate = GetLe32s(in + 8);
    f.deviceMode = GetLe32s(in + 12);
    f.frameBytes = GetLe32s(in + 16);
    f.direction = GetLe32s(in + 20);
    f.aptxOption = GetLe32s(in + 24);
    std::memcpy(f.reserved, in + 28, sizeof f.reserved);
    f.reserved2 = static_cast<int16_t>(GetLe16(in + 68));
    std::memcpy(f.padding, in + 70, sizeof f.padding);
    return f;
}

void StoreConnectionInfo(const ConnectionInfo& c, uint8_t* out) {
    PutLe32(out + 0, static_cast<uint32_t>(c.kind));
    std::memcpy(out + 4, c.address, sizeof c.address);
    PutLe32(out + 84, static_cast<uint32_t>(c.port));
    PutLe32(out + 88, static_cast<uint32_t>(c.flag));
    PutLe32(out + 92, static_cast<uint32_t>(c.hops));
    std::memcpy(out + 96, c.reserved, sizeof c.reserved);
    PutLe32(out + 244, static_cast<uint32_t>(c.connectionType));
    PutLe32(out + 248, static_cast<uint32_t>(c.bufferingMode));
    PutLe32(out + 252, static_cast<uint32_t>(c.bufferMs));
    std::memcpy(out + 256, c.reserved2, sizeof c.reserved2);
}

ConnectionInfo LoadConnectionInfo(const uint8_t* in) {
    ConnectionInfo c;
    c.kind = GetLe32s(in + 0);
    std::memcpy(c.address, in + 4, sizeof c.address);
    c.port = GetLe32s(in + 84);
    c.flag = GetLe32s(in + 88);
    c.hops = GetLe32s(in + 92);
    std::memcpy(c.reserved, in + 96, sizeof c.reserved);
    c.connectionType = GetLe32s(in + 244);
    c.bufferingMode = GetLe32s(in + 248);
    c.bufferMs = GetLe32s(in + 252);
    std::memcpy(c.reserved2, in + 256, sizeof c.reserved2);
    return c;
}

void StorePhonebookEntry(const PhonebookEntry& e, uint8_t* out) {
    PutLe32(out + 0, static_cast<uint32_t>(e.index));
    std::memcpy(out + 4, e.name, sizeof e.name);
    std::memcpy(out + 34, e.reserved, sizeof e.reserved);
    PutLe32(out + 60, static_cast<uint32_t>(e.length));
    StoreConnectionInfo(e.connection, out + 64);
    StoreAudioFormat(e.format, out + 360);
    PutLe32(out + 432, static_cast<uint32_t>(e.autoReconnect));
    PutLe32(out + 436, static_cast<uint32_t>(e.reconnectKind));
    std::memcpy(out + 440, e.reconnectName, sizeof e.reconnectName);
}

PhonebookEntry LoadPhonebookEntry(const uint8_t* in) {
    PhonebookEntry e;
    e.index = GetLe32s(in + 0);
    std::memcpy(e.name, in + 4, sizeof e.name);
    std::memcpy(e.reserved, in + 34, sizeof e.reserved);
    e.length = GetLe32s(in + 60);
    e.connection = LoadConnectionInfo(in + 64);
    e.format = LoadAudioFormat(in + 360);
    e.autoReconnect = GetLe32s(in + 432);
    e.reconnectKind = GetLe32s(in + 436);
    std::memcpy(e.reconnectName, in + 440, sizeof e.reconnectName);
    return e;
}

int32_t DerivedBitRate(const AudioFormat& f) {
    // 64-bit with a clamp: the rate may come from a file or the peer, and a
    // wild one must give a wild number, not an overflow.
    int64_t rate = 0;
    switch (f.codingType) {
    case CODING_MPEG_L1:
    case CODING_MPEG_L2:
    case CODING_MPEG_L3:
        return f.bitRate;
    case CODING_PCM:
        rate = 16 * static_cast<int64_t>(f.sampleRate);
        break;
    case CODING_G711_ALAW:
    case CODING_G711_ULAW:
        rate = 64000;
        break;
    case CODING_APTX:
    case CODING_APTX_ENH:
        rate = f.sampleRate == 15754   ? 64000
               : f.sampleRate == 31508 ? 128000
                                       : 4 * static_cast<int64_t>(f.sampleRate);
        break;
    default:  // G.722 and anything unknown
        rate = 4 * static_cast<int64_t>(f.sampleRate);
        break;
    }
    if (f.deviceMode != DEVICEMODE_MONO) rate *= 2;
    if (rate > INT32_MAX) return INT32_MAX;
    if (rate < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(rate);
}
