#include "dizuvo/source/msg/CapiCodec.h"

#include <cstring>

#include "dizuvo/source/msg/CapiTables.h"

namespace {

constexpr size_t kHeaderBytes = 8;

uint8_t* Member(CapiMessage* c, const CapiParamDef& d) { return reinterpret_cast<uint8_t*>(c) + d.offset; }

int ScalarBytes(CapiParamType t) {
    switch (t) {
    case kCapiByte: return 1;
    case kCapiWord: return 2;
    case kCapiDword: return 4;
    case kCapiQword: return 8;
    default: return 0;
    }
}

uint64_t ReadMember(CapiMessage* c, const CapiParamDef& d) {
    const uint8_t* p = Member(c, d);
    switch (d.type) {
    case kCapiByte: return *p;
    case kCapiWord: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case kCapiDword: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case kCapiQword: { uint64_t v; std::memcpy(&v, p, 8); return v; }
    default: return 0;
    }
}

void WriteMember(CapiMessage* c, const CapiParamDef& d, uint64_t v) {
    uint8_t* p = Member(c, d);
    switch (d.type) {
    case kCapiByte: *p = static_cast<uint8_t>(v); break;
    case kCapiWord: { const uint16_t w = static_cast<uint16_t>(v); std::memcpy(p, &w, 2); break; }
    case kCapiDword: { const uint32_t w = static_cast<uint32_t>(v); std::memcpy(p, &w, 4); break; }
    case kCapiQword: std::memcpy(p, &v, 8); break;
    default: break;
    }
}

const uint8_t* StructMember(CapiMessage* c, const CapiParamDef& d) {
    const uint8_t* p;
    std::memcpy(&p, Member(c, d), sizeof p);
    return p;
}

void SetStructMember(CapiMessage* c, const CapiParamDef& d, const uint8_t* p) {
    std::memcpy(Member(c, d), &p, sizeof p);
}

uint32_t FlagMember(CapiMessage* c, const CapiParamDef& d) {
    uint32_t f;
    std::memcpy(&f, Member(c, d), sizeof f);
    return f;
}

// Moves i past the end that closes the sub-structure whose begin was just read.
void SkipToMatchingEnd(const uint8_t* list, size_t& i) {
    int depth = 1;
    while (depth > 0) {
        const CapiParamType t = CapiParamDefinition(list[i++]).type;
        if (t == kCapiBegin) ++depth;
        if (t == kCapiEnd) --depth;
    }
}

struct Writer {
    uint8_t* buf;
    size_t cap;
    size_t len;
    bool Room(size_t n) const { return cap - len >= n; }
};

bool EncodeList(CapiMessage* c, const uint8_t* list, size_t& i, Writer& w) {
    for (;;) {
        const CapiParamDef& d = CapiParamDefinition(list[i++]);
        switch (d.type) {
        case kCapiEnd: return true;
        case kCapiByte:
        case kCapiWord:
        case kCapiDword:
        case kCapiQword: {
            const int n = ScalarBytes(d.type);
            if (!w.Room(static_cast<size_t>(n))) return false;
            const uint64_t v = ReadMember(c, d);
            for (int k = 0; k < n; ++k) w.buf[w.len++] = static_cast<uint8_t>(v >> (8 * k));
            break;
        }
        case kCapiStruct: {
            const uint8_t* s = StructMember(c, d);
            size_t n = 1;
            if (s) n = s[0] == 0xFF ? 3 + (s[1] | (s[2] << 8)) : static_cast<size_t>(s[0]) + 1;
            if (!w.Room(n)) return false;
            if (s) std::memcpy(w.buf + w.len, s, n);
            else w.buf[w.len] = 0;
            w.len += n;
            break;
        }
        case kCapiBegin: {
            if (!w.Room(1)) return false;
            if (FlagMember(c, d) != 0) {
                w.buf[w.len++] = 0;
                SkipToMatchingEnd(list, i);
                break;
            }
            const size_t lengthAt = w.len++;
            if (!EncodeList(c, list, i, w)) return false;
            const size_t contained = w.len - lengthAt - 1;
            if (contained > 254) {
                if (!w.Room(2)) return false;
                std::memmove(w.buf + lengthAt + 3, w.buf + lengthAt + 1, contained);
                w.buf[lengthAt] = 0xFF;
                w.buf[lengthAt + 1] = static_cast<uint8_t>(contained);
                w.buf[lengthAt + 2] = static_cast<uint8_t>(contained >> 8);
                w.len += 2;
            } else {
                w.buf[lengthAt] = static_cast<uint8_t>(contained);
            }
            break;
        }
        }
    }
}

// Decodes list entries from i while pos < end; returns false on a length
// running past end.
bool DecodeList(CapiMessage* c, const uint8_t* msg, const uint8_t* list, size_t& i, size_t& pos, size_t end) {
    for (;;) {
        const uint8_t id = list[i++];
        const CapiParamDef& d = CapiParamDefinition(id);
        if (d.type == kCapiEnd) return true;
        // A 32-bit application's DATA_B3 ends before the 64-bit address.
        if (id == kData64 && pos == end) continue;
        switch (d.type) {
        case kCapiByte:
        case kCapiWord:
        case kCapiDword:
        case kCapiQword: {
            const size_t n = static_cast<size_t>(ScalarBytes(d.type));
            if (end - pos < n) return false;
            uint64_t v = 0;
            for (size_t k = 0; k < n; ++k) v |= static_cast<uint64_t>(msg[pos + k]) << (8 * k);
            WriteMember(c, d, v);
            pos += n;
            break;
        }
        case kCapiStruct: {
            if (end - pos < 1) return false;
            size_t n = static_cast<size_t>(msg[pos]) + 1;
            if (msg[pos] == 0xFF) {
                if (end - pos < 3) return false;
                n = 3 + (msg[pos + 1] | (msg[pos + 2] << 8));
            }
            if (end - pos < n) return false;
            SetStructMember(c, d, msg + pos);
            pos += n;
            break;
        }
        case kCapiBegin: {
            if (end - pos < 1) return false;
            if (msg[pos] == 0) {
                WriteMember(c, {kCapiDword, d.offset}, 1);
                ++pos;
                SkipToMatchingEnd(list, i);
                break;
            }
            size_t inner = msg[pos];
            size_t skip = 1;
            if (msg[pos] == 0xFF) {
                if (end - pos < 3) return false;
                inner = msg[pos + 1] | (msg[pos + 2] << 8);
                skip = 3;
            }
            if (end - pos - skip < inner) return false;
            pos += skip;
            const size_t innerEnd = pos + inner;
            if (!DecodeList(c, msg, list, i, pos, innerEnd)) return false;
            pos = innerEnd;  // bytes a newer CAPI added to the sub-structure
            break;
        }
        case kCapiEnd: return true;
        }
    }
}

}  // namespace

unsigned CapiEncode(CapiMessage* cmsg, uint8_t* buffer, size_t capacity) {
    const uint8_t* list = CapiCommandParams(cmsg->Command, cmsg->Subcommand);
    if (!list) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    if (capacity < kHeaderBytes) return CAPI_ILLMESSAGEPARMCODING;
    Writer w{buffer, capacity > 0xFFFF ? 0xFFFF : capacity, kHeaderBytes};
    size_t i = 0;
    cmsg->par = list;
    if (!EncodeList(cmsg, list, i, w)) return CAPI_ILLMESSAGEPARMCODING;
    cmsg->p = static_cast<uint32_t>(i);
    cmsg->l = static_cast<uint32_t>(w.len);
    cmsg->m = buffer;
    buffer[0] = static_cast<uint8_t>(w.len);
    buffer[1] = static_cast<uint8_t>(w.len >> 8);
    buffer[2] = static_cast<uint8_t>(cmsg->ApplId);
    buffer[3] = static_cast<uint8_t>(cmsg->ApplId >> 8);
    buffer[4] = cmsg->Command;
    buffer[5] = cmsg->Subcommand;
    buffer[6] = static_cast<uint8_t>(cmsg->Messagenumber);
    buffer[7] = static_cast<uint8_t>(cmsg->Messagenumber >> 8);
    return CAPI_NOERROR;
}

unsigned CapiDecode(CapiMessage* cmsg, const uint8_t* msg, size_t available) {
    std::memset(static_cast<void*>(cmsg), 0, sizeof *cmsg);
    if (!msg || available < kHeaderBytes) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    const size_t length = msg[0] | (msg[1] << 8);
    if (length < kHeaderBytes) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    if (length > available) return CAPI_ILLMESSAGEPARMCODING;
    const uint8_t* list = CapiCommandParams(msg[4], msg[5]);
    if (!list) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    size_t i = 0;
    size_t pos = kHeaderBytes;
    if (!DecodeList(cmsg, msg, list, i, pos, length)) {
        std::memset(static_cast<void*>(cmsg), 0, sizeof *cmsg);
        return CAPI_ILLMESSAGEPARMCODING;
    }
    cmsg->Command = msg[4];
    cmsg->Subcommand = msg[5];
    cmsg->ApplId = static_cast<uint16_t>(msg[2] | (msg[3] << 8));
    cmsg->Messagenumber = static_cast<uint16_t>(msg[6] | (msg[7] << 8));
    cmsg->l = static_cast<uint32_t>(length);
    cmsg->p = static_cast<uint32_t>(i);
    cmsg->par = list;
    cmsg->m = msg;
    return CAPI_NOERROR;
}
