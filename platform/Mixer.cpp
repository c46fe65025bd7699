// The mixer calls over a backend's line model.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/MixerBackend.h"

struct CMixerHandle {
    static constexpr uint32_t kMagic = 0x4D495852;  // "MIXR"
    uint32_t magic = kMagic;
    bool input = false;
    std::unique_ptr<CMixerBackend> backend;
};

namespace {

CMixerHandle* Valid(HMIXER h) { return h && h->magic == CMixerHandle::kMagic ? h : nullptr; }

void FillLine(const CMixerHandle& m, size_t index, MIXERLINEA* line) {
    const MixerLineModel& l = m.backend->Lines()[index];
    line->dwDestination = 0;
    line->dwSource = index == 0 ? 0 : static_cast<DWORD>(index - 1);
    line->dwLineID = MixerLineId(index);
    line->dwComponentType = l.componentType;
    line->cChannels = 1;
    line->cConnections = index == 0 ? static_cast<DWORD>(m.backend->Lines().size() - 1) : 0;
    line->cControls = static_cast<DWORD>(l.controls.size());
    std::snprintf(line->szShortName, sizeof line->szShortName, "%s", l.name.c_str());
    std::snprintf(line->szName, sizeof line->szName, "%s", l.name.c_str());
}

const MixerControlModel* FindControl(const CMixerHandle& m, DWORD id) {
    for (const MixerLineModel& l : m.backend->Lines())
        for (const MixerControlModel& c : l.controls)
            if (c.id == id) return &c;
    return nullptr;
}

}  // namespace

MMRESULT mixerOpen(HMIXER* out, UINT id, DWORD_PTR callback, DWORD_PTR /*instance*/, DWORD flags) {
    if (out == nullptr) return MMSYSERR_INVALPARAM;
    *out = nullptr;
    const bool input = (flags & MIXER_OBJECTF_WAVEIN) != 0;
    std::string name;
    bool isVirtual = false;
    if (!WaveDeviceIdentity(id, !input, &name, &isVirtual)) return MMSYSERR_BADDEVICEID;
    auto m = std::make_unique<CMixerHandle>();
    m->input = input;
    MMRESULT error = MMSYSERR_NOERROR;
    m->backend = isVirtual ? MakeVirtualMixer(name, input) : MakeAlsaMixer(name, input, &error);
    if (!m->backend) return error != MMSYSERR_NOERROR ? error : MMSYSERR_NODRIVER;
    if ((flags & CALLBACK_WINDOW) && callback) {
        const HWND window = reinterpret_cast<HWND>(callback);
        const HMIXER self = m.get();
        if (!m->backend->Watch([window, self](DWORD control) {
                PostMessage(window, MM_MIXM_CONTROL_CHANGE, reinterpret_cast<WPARAM>(self), static_cast<LPARAM>(control));
            }))
            return MMSYSERR_ERROR;
    }
    *out = m.release();
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER h) {
    CMixerHandle* m = Valid(h);
    if (!m) return MMSYSERR_INVALHANDLE;
    m->backend.reset();  // its watcher has ended: nothing posts for this handle any more
    m->magic = 0;
    delete m;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetDevCapsA(HMIXER h, MIXERCAPSA* caps, UINT size) {
    CMixerHandle* m = Valid(h);
    if (!m) return MMSYSERR_INVALHANDLE;
    if (caps == nullptr || size < sizeof(MIXERCAPSA)) return MMSYSERR_INVALPARAM;
    *caps = MIXERCAPSA{};
    std::snprintf(caps->szPname, sizeof caps->szPname, "%s", m->backend->Name().c_str());
    caps->cDestinations = 1;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfoA(HMIXEROBJ h, MIXERLINEA* line, DWORD flags) {
    CMixerHandle* m = Valid(h);
    if (!m) return MMSYSERR_INVALHANDLE;
    if (line == nullptr || line->cbStruct < sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
    const size_t count = m->backend->Lines().size();
    size_t index = count;
    switch (flags & 0xF) {
        case MIXER_GETLINEINFOF_DESTINATION:
            if (line->dwDestination == 0) index = 0;
            break;
        case MIXER_GETLINEINFOF_SOURCE:
            if (line->dwDestination == 0) index = static_cast<size_t>(line->dwSource) + 1;
            break;
        case MIXER_GETLINEINFOF_LINEID:
            for (size_t i = 0; i < count; ++i)
                if (MixerLineId(i) == line->dwLineID) index = i;
            break;
        default: return MMSYSERR_INVALPARAM;
    }
    if (index >= count) return MIXERR_INVALLINE;
    FillLine(*m, index, line);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineControlsA(HMIXEROBJ h, MIXERLINECONTROLSA* controls, DWORD flags) {
    CMixerHandle* m = Valid(h);
    if (!m) return MMSYSERR_INVALHANDLE;
    if (controls == nullptr || controls->pamxctrl == nullptr || controls->cbmxctrl < sizeof(MIXERCONTROLA))
        return MMSYSERR_INVALPARAM;
    if ((flags & 0xF) != MIXER_GETLINECONTROLSF_ONEBYTYPE) return MMSYSERR_INVALPARAM;
    const auto& lines = m->backend->Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (MixerLineId(i) != controls->dwLineID) continue;
        for (const MixerControlModel& c : lines[i].controls) {
            if (c.type != controls->dwControlType) continue;
            MIXERCONTROLA& out = *controls->pamxctrl;
            out = MIXERCONTROLA{};
            out.dwControlID = c.id;
            out.dwControlType = c.type;
            out.fdwControl = c.items.empty() ? 0 : (MIXERCONTROL_CONTROLF_MULTIPLE | MIXERCONTROL_CONTROLF_UNIFORM);
            out.cMultipleItems = static_cast<DWORD>(c.items.size());
            std::snprintf(out.szShortName, sizeof out.szShortName, "%s", lines[i].name.c_str());
            std::snprintf(out.szName, sizeof out.szName, "%s", lines[i].name.c_str());
            out.Bounds.lMinimum = c.minimum;
            out.Bounds.lMaximum = c.maximum;
            return MMSYSERR_NOERROR;
        }
        return MIXERR_INVALCONTROL;
    }
    return MIXERR_INVALLINE;
}

MMRESULT mixerGetControlDetailsA(HMIXEROBJ h, MIXERCONTROLDETAILS* d, DWORD flags) {
    CMixerHandle* m = Valid(h);
    if (!m) return MMSYSERR_INVALHANDLE;
    if (d == nullptr || d->paDetails == nullptr || d->cChannels < 1) return MMSYSERR_INVALPARAM;
    const MixerControlModel* c = FindControl(*m, d->dwControlID);
    if (!c) return MIXERR_INVALCONTROL;
    const DWORD items = std::max<DWORD>(1, static_cast<DWORD>(c->items.size()));
    if (d->cMultipleItems != (c->items.empty() ? 0u : items)) return MMSYSERR_INVALPARAM;
    if ((flags & 0xF) == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
        if (c->items.empty() || d->cbDetails < sizeof(MIXERCONTROLDETAILS_LISTTEXTA)) return MMSYSERR_INVALPARAM;
        auto* texts = static_cast<MIXERCONTROLDETAILS_LISTTEXTA*>(d->paDetails);
        for (size_t i = 0; i < c->items.size(); ++i) {
            texts[i] = MIXERCONTROLDETAILS_LISTTEXTA{};
            texts[i].dwParam1 = c->id;
            std::snprintf(texts[i].szName, sizeof texts[i].szName, "%s", c->items[i].c_str());
        }
        return MMSYSERR_NOERROR;
    }
    if ((flags & 0xF) != MIXER_GETCONTROLDETAILSF_VALUE || d->cbDetails < 4) return MMSYSERR_INVALPARAM;
    std::vector<LONG> values;
    if (!m->backend->Get(c->id, &values) || values.size() < items) return MMSYSERR_ERROR;
    auto* out = static_cast<LONG*>(d->paDetails);
    for (DWORD ch = 0; ch < d->cChannels; ++ch)
        for (DWORD i = 0; i < items; ++i) out[ch * items + i] = values[i];
    return MMSYSERR_NOERROR;
}

MMRESULT mixerSetControlDetails(HMIXEROBJ h, MIXERCONTROLDETAILS* d, DWORD flags) {
    CMixerHandle* m = Valid(h);
    if (!m) return MMSYSERR_INVALHANDLE;
    if (d == nullptr || d->paDetails == nullptr || d->cChannels < 1 || d->cbDetails < 4) return MMSYSERR_INVALPARAM;
    if ((flags & 0xF) != MIXER_SETCONTROLDETAILSF_VALUE) return MMSYSERR_INVALPARAM;
    const MixerControlModel* c = FindControl(*m, d->dwControlID);
    if (!c) return MIXERR_INVALCONTROL;
    const DWORD items = std::max<DWORD>(1, static_cast<DWORD>(c->items.size()));
    if (d->cMultipleItems != (c->items.empty() ? 0u : items)) return MMSYSERR_INVALPARAM;
    const auto* in = static_cast<const LONG*>(d->paDetails);
    std::vector<LONG> values(in, in + items);  // the first channel speaks for all
    if (c->items.empty() && c->type == MIXERCONTROL_CONTROLTYPE_VOLUME &&
        (values[0] < c->minimum || values[0] > c->maximum))
        return MIXERR_INVALVALUE;
    return m->backend->Set(c->id, values) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}
