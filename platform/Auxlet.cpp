// The endpoint functions over the virtual endpoints (listed first) and the
// PulseAudio server's sinks and sources. A handle is the address of its
// object, checked by a magic word before use.
#include "platform/Auxlet.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/AuxletBackend.h"

namespace {

struct CEnumObject {
    static constexpr uint32_t kMagic = 0x41555845;  // "AUXE"
    uint32_t magic = kMagic;
    std::vector<std::string> names;
    int defaultIndex = -1;
};

struct CVolumeObject {
    static constexpr uint32_t kMagic = 0x41555856;  // "AUXV"
    uint32_t magic = kMagic;
    bool isVirtual = false;
    int direction = 0;
    std::string name;
};

template <typename T>
T* From(AUXHANDLE h) {
    auto* p = reinterpret_cast<T*>(h);
    return p && p->magic == T::kMagic ? p : nullptr;
}

CAuxletClient* Client(AUXHANDLE h) {
    auto* c = reinterpret_cast<CAuxletClient*>(h);
    return c && c->m_magic == CAuxletClient::kMagic ? c : nullptr;
}

// The endpoint at `index` of a fresh list: virtual or not, and its name.
bool Resolve(int direction, int index, bool* isVirtual, std::string* name) {
    if (index < 0) return false;
    const std::vector<std::string> virtuals = VirtualEndpointNames();
    if (index < static_cast<int>(virtuals.size())) {
        *isVirtual = true;
        *name = virtuals[static_cast<size_t>(index)];
        return true;
    }
    std::vector<std::string> names;
    int defaultIndex = -1;
    if (!PulseListEndpoints(direction, &names, &defaultIndex)) return false;
    const size_t at = static_cast<size_t>(index) - virtuals.size();
    if (at >= names.size()) return false;
    *isVirtual = false;
    *name = names[at];
    return true;
}

}  // namespace

AUXHANDLE EnumCreate(int direction) {
    auto* e = new (std::nothrow) CEnumObject;
    if (!e) return 0;
    e->names = VirtualEndpointNames();
    std::vector<std::string> pulse;
    int pulseDefault = -1;
    if (PulseListEndpoints(direction ? 1 : 0, &pulse, &pulseDefault)) {
        if (pulseDefault >= 0) e->defaultIndex = static_cast<int>(e->names.size()) + pulseDefault;
        e->names.insert(e->names.end(), pulse.begin(), pulse.end());
    }
    if (e->defaultIndex < 0 && !e->names.empty()) e->defaultIndex = 0;
    return reinterpret_cast<AUXHANDLE>(e);
}

int EnumGetNumEndPoints(AUXHANDLE h) {
    const CEnumObject* e = From<CEnumObject>(h);
    return e ? static_cast<int>(e->names.size()) : 0;
}

int EnumGetEndPointName(AUXHANDLE h, int index, char* buffer, int length) {
    const CEnumObject* e = From<CEnumObject>(h);
    if (!e || !buffer || length <= 0 || index < 0 || index >= static_cast<int>(e->names.size())) return 0;
    const std::string& name = e->names[static_cast<size_t>(index)];
    if (static_cast<int>(name.size()) >= length) return 0;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return 1;
}

int EnumGetDefaultDeviceIndex(AUXHANDLE h) {
    const CEnumObject* e = From<CEnumObject>(h);
    return e ? e->defaultIndex : -1;
}

void EnumRelease(AUXHANDLE h) {
    CEnumObject* e = From<CEnumObject>(h);
    if (!e) return;
    e->magic = 0;
    delete e;
}

AUXHANDLE VolumeCreate(int direction, int index) {
    auto* v = new (std::nothrow) CVolumeObject;
    if (!v) return 0;
    v->direction = direction ? 1 : 0;
    if (!Resolve(v->direction, index, &v->isVirtual, &v->name)) {
        delete v;
        return 0;
    }
    return reinterpret_cast<AUXHANDLE>(v);
}

float VolumeGetMasterVolume(AUXHANDLE h) {
    const CVolumeObject* v = From<CVolumeObject>(h);
    float value = 0;
    if (!v) return 0;
    const bool ok = v->isVirtual ? VirtualEndpointVolume(v->name, v->direction, &value, nullptr)
                                 : PulseVolume(v->name, v->direction, &value, nullptr);
    return ok ? value : 0;
}

void VolumeSetMasterVolume(AUXHANDLE h, float value) {
    const CVolumeObject* v = From<CVolumeObject>(h);
    if (!v || !(value == value)) return;  // NaN sets nothing
    if (v->isVirtual) {
        VirtualEndpointVolume(v->name, v->direction, nullptr, &value);
    } else {
        PulseVolume(v->name, v->direction, nullptr, &value);
    }
}

void VolumeRelease(AUXHANDLE h) {
    CVolumeObject* v = From<CVolumeObject>(h);
    if (!v) return;
    v->magic = 0;
    delete v;
}

AUXHANDLE ClientCreate(int direction, int index) {
    bool isVirtual = false;
    std::string name;
    direction = direction ? 1 : 0;
    if (!Resolve(direction, index, &isVirtual, &name)) return 0;
    CAuxletClient* c = isVirtual ? VirtualEndpointClient(name, direction) : PulseClient(name, direction);
    return reinterpret_cast<AUXHANDLE>(c);
}

int ClientOpen(AUXHANDLE h, int blockMs, int bufferCount, int rate, int channels, int /*modeFlag*/) {
    CAuxletClient* c = Client(h);
    if (!c) return 0;
    if (rate != 48000) return 0;  // the one rate every endpoint carries
    return c->Open(blockMs, bufferCount, channels);
}

int ClientGetBlockTime(AUXHANDLE h) {
    const CAuxletClient* c = Client(h);
    return c ? c->BlockTime() : 0;
}
int ClientStart(AUXHANDLE h) {
    CAuxletClient* c = Client(h);
    return c ? c->Start() : 0;
}
void ClientStop(AUXHANDLE h) {
    if (CAuxletClient* c = Client(h)) c->Stop();
}
void ClientClose(AUXHANDLE h) {
    if (CAuxletClient* c = Client(h)) c->Close();
}
void ClientRelease(AUXHANDLE h) {
    CAuxletClient* c = Client(h);
    if (!c) return;
    c->Close();
    c->m_magic = 0;
    delete c;
}
int ClientAddData(AUXHANDLE h, const void* pcm, int length) {
    CAuxletClient* c = Client(h);
    return c ? c->AddData(pcm, length) : 0;
}
int ClientGetBytesFree(AUXHANDLE h) {
    const CAuxletClient* c = Client(h);
    return c ? c->BytesFree() : 0;
}
int ClientGetBytesBuffered(AUXHANDLE h) {
    const CAuxletClient* c = Client(h);
    return c ? c->BytesBuffered() : 0;
}
int ClientGetBytesDone(AUXHANDLE h) {
    const CAuxletClient* c = Client(h);
    return c ? c->BytesDone() : 0;
}
int ClientGetData(AUXHANDLE h, void* buffer, int length) {
    CAuxletClient* c = Client(h);
    return c ? c->GetData(buffer, length) : 0;
}
int ClientGetLastErrorStr(AUXHANDLE h, char* buffer, int length) {
    const CAuxletClient* c = Client(h);
    if (!c || !buffer || length <= 0) return 0;
    const std::string text = c->LastError();
    if (text.empty()) return 0;
    std::snprintf(buffer, static_cast<size_t>(length), "%s", text.c_str());
    return 1;
}
