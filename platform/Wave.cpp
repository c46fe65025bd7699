// The WAVE calls over the device list. Opening, closing and listing take the
// list's mutex; the per-block calls (write, add buffer, pause) do not.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/MixerBackend.h"
#include "platform/WaveDeviceList.h"

namespace {

struct DeviceList {
    std::mutex mutex;
    bool loaded = false;
    std::vector<std::unique_ptr<WaveDeviceEntry>> virtualOut, virtualIn, alsaOut, alsaIn;
};

DeviceList& List() {
    static DeviceList list;
    return list;
}

void AddVirtualLocked(DeviceList& list, const VirtualWaveConfig& config) {
    for (bool output : {true, false}) {
        auto entry = std::make_unique<WaveDeviceEntry>();
        entry->name = config.name;
        entry->output = output;
        entry->isVirtual = true;
        entry->config = config;
        (output ? list.virtualOut : list.virtualIn).push_back(std::move(entry));
    }
}

bool UsableConfig(const VirtualWaveConfig& c) {
    return !c.name.empty() && std::isfinite(c.rateErrorPercent) && std::isfinite(c.toneHz) &&
           std::isfinite(c.toneLevel) && c.periodMs >= 1 && c.periodMs <= 100 && c.rateErrorPercent > -50.0 &&
           c.rateErrorPercent < 50.0 && c.sinkSeconds >= 0 && c.sinkSeconds <= 3600;
}

void LoadLocked(DeviceList& list) {
    if (list.loaded) return;
    list.loaded = true;
    if (const char* env = std::getenv("VELMORA_VIRTUAL_AUDIO"); env && *env) {
        VirtualWaveConfig config;
        if (VirtualWaveParse(env, &config) && UsableConfig(config)) AddVirtualLocked(list, config);
    }
    const AlsaDeviceNames alsa = ListAlsaDevices();
    for (bool output : {true, false}) {
        for (const std::string& name : output ? alsa.outputs : alsa.inputs) {
            auto entry = std::make_unique<WaveDeviceEntry>();
            entry->name = name;
            entry->output = output;
            (output ? list.alsaOut : list.alsaIn).push_back(std::move(entry));
        }
    }
}

UINT CountLocked(DeviceList& list, bool output) {
    LoadLocked(list);
    return static_cast<UINT>(output ? list.virtualOut.size() + list.alsaOut.size()
                                    : list.virtualIn.size() + list.alsaIn.size());
}

WaveDeviceEntry* FindLocked(DeviceList& list, UINT id, bool output) {
    LoadLocked(list);
    if (id == WAVE_MAPPER) id = 0;
    auto& virt = output ? list.virtualOut : list.virtualIn;
    auto& alsa = output ? list.alsaOut : list.alsaIn;
    if (id < virt.size()) return virt[id].get();
    id -= static_cast<UINT>(virt.size());
    if (id < alsa.size()) return alsa[id].get();
    return nullptr;
}

WaveDeviceEntry* FindByNameLocked(DeviceList& list, const char* name, bool output) {
    LoadLocked(list);
    for (auto& e : output ? list.virtualOut : list.virtualIn)
        if (e->name == name) return e.get();
    return nullptr;
}

MMRESULT CheckFormat(const WAVEFORMATEX* f) {
    if (f == nullptr) return MMSYSERR_INVALPARAM;
    if (f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16) return WAVERR_BADFORMAT;
    if (f->nChannels < 1 || f->nChannels > 2) return WAVERR_BADFORMAT;
    if (f->nSamplesPerSec < 1000 || f->nSamplesPerSec > 192000) return WAVERR_BADFORMAT;
    if (f->nBlockAlign != f->nChannels * 2) return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

MMRESULT Open(bool output, HWAVE* out, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback,
              DWORD_PTR instance, DWORD flags) {
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    if (!query && out == nullptr) return MMSYSERR_INVALPARAM;
    if (out) *out = nullptr;
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    WaveDeviceEntry* entry = FindLocked(list, id, output);
    if (entry == nullptr) return MMSYSERR_BADDEVICEID;
    if (const MMRESULT r = CheckFormat(format); r != MMSYSERR_NOERROR) return r;
    const auto cb = reinterpret_cast<WaveCallback>(callback);
    if (entry->isVirtual) {
        if (query) return MMSYSERR_NOERROR;
        if (entry->open.load(std::memory_order_acquire) != nullptr) return MMSYSERR_ALLOCATED;
        CWaveStream* stream = nullptr;
        const MMRESULT r = OpenVirtualStream(*entry, *format, cb, instance, &stream);
        if (r != MMSYSERR_NOERROR) return r;
        stream->m_entry = entry;
        entry->open.store(stream, std::memory_order_release);
        stream->StartThread();
        *out = stream;
        return MMSYSERR_NOERROR;
    }
    CWaveStream* stream = nullptr;
    const MMRESULT r = OpenAlsaStream(entry->name, output, *format, cb, instance, query, &stream);
    if (r != MMSYSERR_NOERROR || query) return r;
    stream->m_entry = entry;
    stream->StartThread();
    *out = stream;
    return MMSYSERR_NOERROR;
}

MMRESULT Close(HWAVE h) {
    if (!IsWaveStream(h)) return MMSYSERR_INVALHANDLE;
    if (h->HasQueued()) return WAVERR_STILLPLAYING;
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    auto* entry = static_cast<WaveDeviceEntry*>(h->m_entry);
    if (entry && entry->isVirtual) {
        CloseVirtualStream(*entry, h);
        entry->open.store(nullptr, std::memory_order_release);
    }
    delete h;
    return MMSYSERR_NOERROR;
}

MMRESULT Prepare(HWAVE h, WAVEHDR* hdr, UINT size) {
    if (!IsWaveStream(h)) return MMSYSERR_INVALHANDLE;
    if (hdr == nullptr || size < sizeof(WAVEHDR) || hdr->lpData == nullptr) return MMSYSERR_INVALPARAM;
    std::atomic_ref<DWORD>(hdr->dwFlags).store(WHDR_PREPARED, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

MMRESULT Unprepare(HWAVE h, WAVEHDR* hdr, UINT size) {
    if (!IsWaveStream(h)) return MMSYSERR_INVALHANDLE;
    if (hdr == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    std::atomic_ref<DWORD> flags(hdr->dwFlags);
    if (flags.load(std::memory_order_acquire) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    flags.fetch_and(~WHDR_PREPARED, std::memory_order_acq_rel);
    return MMSYSERR_NOERROR;
}

MMRESULT Queue(HWAVE h, WAVEHDR* hdr, UINT size) {
    if (!IsWaveStream(h)) return MMSYSERR_INVALHANDLE;
    if (hdr == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    const DWORD flags = std::atomic_ref<DWORD>(hdr->dwFlags).load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    return h->Submit(hdr);
}

MMRESULT Caps(bool output, UINT id, char* name, DWORD* formats, WORD* channels) {
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    WaveDeviceEntry* entry = FindLocked(list, id, output);
    if (entry == nullptr) return MMSYSERR_BADDEVICEID;
    std::strncpy(name, entry->name.c_str(), 31);
    name[31] = 0;
    *formats = 0xFFF;  // every classic rate, mono and stereo, 8 and 16 bits
    *channels = 2;
    return MMSYSERR_NOERROR;
}

}  // namespace

WAVEFORMATEX MakePcmFormat(int rate, int channels) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = static_cast<DWORD>(rate);
    f.wBitsPerSample = 16;
    f.nBlockAlign = static_cast<WORD>(channels * 2);
    f.nAvgBytesPerSec = static_cast<DWORD>(rate) * f.nBlockAlign;
    return f;
}

UINT waveOutGetNumDevs() {
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    return CountLocked(list, true);
}
UINT waveInGetNumDevs() {
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    return CountLocked(list, false);
}
MMRESULT waveOutGetDevCapsA(UINT id, WAVEOUTCAPSA* caps, UINT size) {
    if (caps == nullptr || size < sizeof(WAVEOUTCAPSA)) return MMSYSERR_INVALPARAM;
    *caps = WAVEOUTCAPSA{};
    return Caps(true, id, caps->szPname, &caps->dwFormats, &caps->wChannels);
}
MMRESULT waveInGetDevCapsA(UINT id, WAVEINCAPSA* caps, UINT size) {
    if (caps == nullptr || size < sizeof(WAVEINCAPSA)) return MMSYSERR_INVALPARAM;
    *caps = WAVEINCAPSA{};
    return Caps(false, id, caps->szPname, &caps->dwFormats, &caps->wChannels);
}

MMRESULT waveOutOpen(HWAVEOUT* out, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags) {
    return Open(true, out, id, format, callback, instance, flags);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT h, WAVEHDR* hdr, UINT size) { return Prepare(h, hdr, size); }
MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WAVEHDR* hdr, UINT size) { return Unprepare(h, hdr, size); }
MMRESULT waveOutWrite(HWAVEOUT h, WAVEHDR* hdr, UINT size) {
    if (IsWaveStream(h) && !h->m_output) return MMSYSERR_INVALHANDLE;
    return Queue(h, hdr, size);
}
MMRESULT waveOutPause(HWAVEOUT h) {
    if (!IsWaveStream(h) || !h->m_output) return MMSYSERR_INVALHANDLE;
    h->SetPaused(true);
    return MMSYSERR_NOERROR;
}
MMRESULT waveOutRestart(HWAVEOUT h) {
    if (!IsWaveStream(h) || !h->m_output) return MMSYSERR_INVALHANDLE;
    h->SetPaused(false);
    return MMSYSERR_NOERROR;
}
MMRESULT waveOutReset(HWAVEOUT h) {
    if (!IsWaveStream(h) || !h->m_output) return MMSYSERR_INVALHANDLE;
    h->Reset();
    return MMSYSERR_NOERROR;
}
MMRESULT waveOutClose(HWAVEOUT h) { return Close(h); }

MMRESULT waveInOpen(HWAVEIN* out, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags) {
    return Open(false, out, id, format, callback, instance, flags);
}
MMRESULT waveInPrepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT size) { return Prepare(h, hdr, size); }
MMRESULT waveInUnprepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT size) { return Unprepare(h, hdr, size); }
MMRESULT waveInAddBuffer(HWAVEIN h, WAVEHDR* hdr, UINT size) {
    if (IsWaveStream(h) && h->m_output) return MMSYSERR_INVALHANDLE;
    return Queue(h, hdr, size);
}
MMRESULT waveInStart(HWAVEIN h) {
    if (!IsWaveStream(h) || h->m_output) return MMSYSERR_INVALHANDLE;
    h->SetStarted(true);
    return MMSYSERR_NOERROR;
}
MMRESULT waveInStop(HWAVEIN h) {
    if (!IsWaveStream(h) || h->m_output) return MMSYSERR_INVALHANDLE;
    h->SetStarted(false);
    return MMSYSERR_NOERROR;
}
MMRESULT waveInReset(HWAVEIN h) {
    if (!IsWaveStream(h) || h->m_output) return MMSYSERR_INVALHANDLE;
    h->SetStarted(false);
    h->Reset();
    return MMSYSERR_NOERROR;
}
MMRESULT waveInClose(HWAVEIN h) { return Close(h); }

// ---- virtual device administration ----

int VirtualWaveAdd(const VirtualWaveConfig& config) {
    if (!UsableConfig(config)) return 0;
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    LoadLocked(list);
    if (FindByNameLocked(list, config.name.c_str(), true)) return 0;
    AddVirtualLocked(list, config);
    return 1;
}

int VirtualWaveClear() {
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    int all = 1;
    for (auto* v : {&list.virtualOut, &list.virtualIn}) {
        for (auto it = v->begin(); it != v->end();) {
            if ((*it)->open.load(std::memory_order_acquire) != nullptr) {
                all = 0;
                ++it;
            } else {
                it = v->erase(it);
            }
        }
    }
    return all;
}

int VirtualWaveGetStats(const char* name, int output, VirtualWaveStats* stats) {
    if (name == nullptr || stats == nullptr) return 0;
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    WaveDeviceEntry* e = FindByNameLocked(list, name, output != 0);
    if (e == nullptr) return 0;
    *stats = VirtualWaveStats{};
    const uint64_t done = e->framesDone.load(std::memory_order_acquire);
    const uint64_t lost = e->framesLost.load(std::memory_order_acquire);
    if (output) {
        stats->framesPlayed = done;
        stats->underrunFrames = lost;
    } else {
        stats->framesCaptured = done;
        stats->overrunFrames = lost;
    }
    return 1;
}

size_t VirtualWaveReadSink(const char* name, size_t from, int16_t* dst, size_t max) {
    if (name == nullptr || dst == nullptr) return 0;
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    WaveDeviceEntry* e = FindByNameLocked(list, name, true);
    if (e == nullptr || !e->sink) return 0;
    const size_t written = std::min(e->sinkWritten.load(std::memory_order_acquire), e->sinkCapacity);
    if (from >= written) return 0;
    const size_t n = std::min(max, written - from);
    std::memcpy(dst, e->sink.get() + from, n * sizeof(int16_t));
    return n;
}

bool WaveDeviceIdentity(UINT id, bool output, std::string* name, bool* isVirtual) {
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    const WaveDeviceEntry* e = FindLocked(list, id, output);
    if (e == nullptr) return false;
    *name = e->name;
    *isVirtual = e->isVirtual;
    return true;
}
