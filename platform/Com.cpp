#include "platform/Com.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct ClassTable {
    std::mutex mutex;
    std::vector<std::pair<CLSID, ComFactory>> classes;
};

ClassTable& Table() {
    static ClassTable table;
    return table;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// n hex digits at p into *out; false on anything else.
bool ReadHex(const char* p, int n, uint64_t* out) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        const int d = HexDigit(p[i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *out = v;
    return true;
}

}  // namespace

HRESULT CLSIDFromString(const char* text, CLSID* out) {
    if (text == nullptr || out == nullptr || std::strlen(text) != 38) return E_FAIL;
    if (text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
        text[24] != '-')
        return E_FAIL;
    uint64_t a, b, c, d, e;
    if (!ReadHex(text + 1, 8, &a) || !ReadHex(text + 10, 4, &b) || !ReadHex(text + 15, 4, &c) ||
        !ReadHex(text + 20, 4, &d) || !ReadHex(text + 25, 12, &e))
        return E_FAIL;
    CLSID id;
    id.data1 = static_cast<uint32_t>(a);
    id.data2 = static_cast<uint16_t>(b);
    id.data3 = static_cast<uint16_t>(c);
    id.data4[0] = static_cast<uint8_t>(d >> 8);
    id.data4[1] = static_cast<uint8_t>(d);
    for (int i = 0; i < 6; ++i) id.data4[2 + i] = static_cast<uint8_t>(e >> (40 - 8 * i));
    *out = id;
    return S_OK;
}

void StringFromCLSID(const CLSID& id, char* text, int size) {
    if (text == nullptr || size <= 0) return;
    std::snprintf(text, static_cast<size_t>(size), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.data1,
                  id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4], id.data4[5],
                  id.data4[6], id.data4[7]);
}

void ComRegisterClass(const CLSID& clsid, ComFactory factory) {
    ClassTable& t = Table();
    std::lock_guard lock(t.mutex);
    for (auto& entry : t.classes) {
        if (entry.first == clsid) {
            entry.second = factory;
            return;
        }
    }
    t.classes.emplace_back(clsid, factory);
}

HRESULT CoCreateInstance(const CLSID& clsid, void* /*outer*/, DWORD context, const IID& iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER) || !(iid == clsid)) return REGDB_E_CLASSNOTREG;
    ComFactory factory = nullptr;
    {
        ClassTable& t = Table();
        std::lock_guard lock(t.mutex);
        for (const auto& entry : t.classes)
            if (entry.first == clsid) factory = entry.second;
    }
    if (factory == nullptr) return REGDB_E_CLASSNOTREG;
    *out = factory(clsid);
    return *out ? S_OK : E_OUTOFMEMORY;
}
