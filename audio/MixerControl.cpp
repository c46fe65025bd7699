#include "audio/MixerControl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kTypes[4] = {MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLTYPE_VOLUME,
                             MIXERCONTROL_CONTROLTYPE_PEAKMETER, MIXERCONTROL_CONTROLTYPE_MUX};

bool LookUp(HMIXER mixer, DWORD lineId, DWORD type, MixerControlInfo* out) {
    MIXERCONTROLA control;
    MIXERLINECONTROLSA query;
    query.dwLineID = lineId;
    query.dwControlType = type;
    query.pamxctrl = &control;
    if (mixerGetLineControlsA(mixer, &query, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR) return false;
    out->id = static_cast<int32_t>(control.dwControlID);
    out->items = (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? static_cast<int32_t>(control.cMultipleItems) : 1;
    out->uniform = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : 0;
    out->minimum = control.Bounds.lMinimum;
    out->maximum = control.Bounds.lMaximum;
    return true;
}

}  // namespace

int CMixerControl::Slot(int kind) {
    switch (kind) {
        case kMixerMute: return 0;
        case kMixerVolume: return 1;
        case kMixerPeakMeter: return 2;
        case kMixerSelector: return 3;
        default: return -1;
    }
}

void CMixerControl::Close() {
    m_lines.clear();
    if (m_mixer) mixerClose(m_mixer);
    m_mixer = nullptr;
    m_destination = -1;
    m_connections = 0;
}

bool CMixerControl::AddLine(const MIXERLINEA& line) {
    MixerLineRecord r;
    r.lineId = static_cast<int32_t>(line.dwLineID);
    // Cut to the record's 39 characters, always terminated.
    const size_t n = strnlen(line.szName, std::min(sizeof line.szName, sizeof r.name - 1));
    std::memcpy(r.name, line.szName, n);
    r.name[n] = 0;
    for (int i = 0; i < 4; ++i) {
        if (LookUp(m_mixer, line.dwLineID, kTypes[i], &r.controls[i])) continue;
        r.controls[i] = MixerControlInfo{};
        r.controls[i].id = -1;
        r.controls[i].items = 0;
        if (i == 3) LookUp(m_mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_MIXER, &r.controls[i]);
    }
    m_lines.push_back(r);
    return true;
}

int CMixerControl::Open(int mixerId, int isInput, HWND window) {
    Close();
    m_isInput = isInput;
    DWORD flags = isInput ? MIXER_OBJECTF_WAVEIN : MIXER_OBJECTF_WAVEOUT;
    if (window) flags |= CALLBACK_WINDOW;
    if (mixerOpen(&m_mixer, static_cast<UINT>(mixerId), reinterpret_cast<DWORD_PTR>(window), 0, flags) !=
        MMSYSERR_NOERROR) {
        m_mixer = nullptr;
        return 0;
    }
    if (mixerGetDevCapsA(m_mixer, &m_caps, sizeof m_caps) != MMSYSERR_NOERROR) {
        Close();
        return 0;
    }
    const DWORD wanted = isInput ? MIXERLINE_COMPONENTTYPE_DST_WAVEIN : MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    for (DWORD d = 0; d < m_caps.cDestinations && m_destination < 0; ++d) {
        MIXERLINEA line;
        line.dwDestination = d;
        if (mixerGetLineInfoA(m_mixer, &line, MIXER_GETLINEINFOF_DESTINATION) != MMSYSERR_NOERROR) {
            Close();
            return 0;
        }
        if (line.dwComponentType != wanted) continue;
        m_destination = static_cast<int>(d);
        m_connections = static_cast<int>(line.cConnections);
        std::snprintf(m_destinationName, sizeof m_destinationName, "%s", line.szName);
        AddLine(line);
    }
    if (m_destination < 0) {
        Close();
        return 0;
    }
    for (int s = 0; s < m_connections; ++s) {
        MIXERLINEA line;
        line.dwDestination = static_cast<DWORD>(m_destination);
        line.dwSource = static_cast<DWORD>(s);
        if (mixerGetLineInfoA(m_mixer, &line, MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR) continue;
        AddLine(line);
    }
    return 1;
}

const MixerLineRecord* CMixerControl::FindLine(int lineId) const {
    for (const MixerLineRecord& r : m_lines)
        if (r.lineId == lineId) return &r;
    return nullptr;
}

int CMixerControl::GetLineInfo(int index, int* lineId, char* name, int kind) const {
    if (lineId) *lineId = -1;
    if (name) name[0] = 0;
    if (index < 0 || index >= GetLineCount()) return 0;
    const MixerLineRecord& r = m_lines[static_cast<size_t>(index)];
    const int slot = Slot(kind);
    if (slot >= 0 && r.controls[slot].id == -1) return 0;
    if (lineId) *lineId = r.lineId;
    if (name) std::memcpy(name, r.name, sizeof r.name);
    return 1;
}

int CMixerControl::GetLineName(int lineId, char* name) const {
    const MixerLineRecord* r = FindLine(lineId);
    if (!r || !name) return 0;
    std::memcpy(name, r->name, sizeof r->name);
    return 1;
}

int CMixerControl::GetControlId(int lineId, int kind) const {
    const MixerLineRecord* r = FindLine(lineId);
    const int slot = Slot(kind);
    return r && slot >= 0 ? r->controls[slot].id : -1;
}

int CMixerControl::GetControlItems(int lineId, int kind) const {
    const MixerLineRecord* r = FindLine(lineId);
    const int slot = Slot(kind);
    if (!r || slot < 0 || r->controls[slot].id == -1) return -1;
    return r->controls[slot].items;
}

int CMixerControl::GetControlRange(int lineId, int kind, int* minimum, int* maximum) const {
    if (minimum) *minimum = 0;
    if (maximum) *maximum = 0;
    const MixerLineRecord* r = FindLine(lineId);
    const int slot = Slot(kind);
    if (!r || slot < 0 || r->controls[slot].id == -1) return 0;
    if (minimum) *minimum = r->controls[slot].minimum;
    if (maximum) *maximum = r->controls[slot].maximum;
    return 1;
}

int CMixerControl::GetValueById(int controlId) const {
    if (!m_mixer || controlId < 0) return -1;
    LONG value = 0;
    MIXERCONTROLDETAILS d;
    d.dwControlID = static_cast<DWORD>(controlId);
    d.paDetails = &value;
    if (mixerGetControlDetailsA(m_mixer, &d, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR) return -1;
    return static_cast<int>(value);
}

int CMixerControl::GetValue(int lineId, int kind) const { return GetValueById(GetControlId(lineId, kind)); }

int CMixerControl::SetValue(int lineId, int kind, int value) {
    const int id = GetControlId(lineId, kind);
    if (!m_mixer || id < 0) return 0;
    LONG v = value;
    MIXERCONTROLDETAILS d;
    d.dwControlID = static_cast<DWORD>(id);
    d.paDetails = &v;
    return mixerSetControlDetails(m_mixer, &d, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR ? 1 : 0;
}

int CMixerControl::GetItemTexts(int controlId, void* texts, int items) const {
    if (!m_mixer || !texts || items <= 0) return 0;
    MIXERCONTROLDETAILS d;
    d.dwControlID = static_cast<DWORD>(controlId);
    d.cMultipleItems = static_cast<DWORD>(items);
    d.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTA);
    d.paDetails = texts;
    return mixerGetControlDetailsA(m_mixer, &d, MIXER_GETCONTROLDETAILSF_LISTTEXT) == MMSYSERR_NOERROR ? 1 : 0;
}

int CMixerControl::SetItemValues(int controlId, const int* values, int items) {
    if (!m_mixer || !values || items <= 0) return 0;
    std::vector<LONG> v(values, values + items);
    MIXERCONTROLDETAILS d;
    d.dwControlID = static_cast<DWORD>(controlId);
    d.cMultipleItems = static_cast<DWORD>(items);
    d.paDetails = v.data();
    return mixerSetControlDetails(m_mixer, &d, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR ? 1 : 0;
}
