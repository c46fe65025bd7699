#include "audio/WaveDeviceInfo.h"

#include <cstring>

#include "common/Translator.h"

int CWaveDeviceInfo::GetDeviceCount() const {
    return static_cast<int>(m_direction == 0 ? waveOutGetNumDevs() : waveInGetNumDevs());
}

int CWaveDeviceInfo::GetDeviceName(int id, char* buffer, int size) const {
    if (buffer == nullptr || size <= 0 || id < 0) return 0;
    const char* name = nullptr;
    WAVEOUTCAPSA out;
    WAVEINCAPSA in;
    if (m_direction == 0) {
        if (waveOutGetDevCapsA(static_cast<UINT>(id), &out, sizeof out) != MMSYSERR_NOERROR) return 0;
        name = out.szPname;
    } else {
        if (waveInGetDevCapsA(static_cast<UINT>(id), &in, sizeof in) != MMSYSERR_NOERROR) return 0;
        name = in.szPname;
    }
    std::strncpy(buffer, name, static_cast<size_t>(size) - 1);
    buffer[size - 1] = 0;
    return 1;
}

int CWaveDeviceInfo::SupportsFormat(int id) const {
    if (id < 0) return 0;
    DWORD formats = 0;
    if (m_direction == 0) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(static_cast<UINT>(id), &caps, sizeof caps) != MMSYSERR_NOERROR) return 0;
        formats = caps.dwFormats;
    } else {
        WAVEINCAPSA caps;
        if (waveInGetDevCapsA(static_cast<UINT>(id), &caps, sizeof caps) != MMSYSERR_NOERROR) return 0;
        formats = caps.dwFormats;
    }
    if (!(formats & WAVE_FORMAT_4S16)) return 0;
    for (int rate : {48000, 44100}) {
        const WAVEFORMATEX f = MakePcmFormat(rate, 2);
        const MMRESULT r = m_direction == 0
                               ? waveOutOpen(nullptr, static_cast<UINT>(id), &f, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED)
                               : waveInOpen(nullptr, static_cast<UINT>(id), &f, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED);
        if (r == MMSYSERR_NOERROR) return 1;
    }
    return 0;
}

std::string WaveOpenErrorText(bool output, MMRESULT result, const CTranslator& translator) {
    int id = 95;
    const char* reason = "Unknown error.";
    switch (result) {
        case MMSYSERR_NOERROR: return std::string();
        case MMSYSERR_BADDEVICEID:
            id = 94, reason = "The device selected does not exist, or there is no device selected.";
            break;
        case MMSYSERR_ALLOCATED:
            id = 93, reason = "Can't support full-duplex audio, or is already in use by another application.";
            break;
        case MMSYSERR_NODRIVER: id = 92, reason = "The driver for the device is not properly installed."; break;
        case MMSYSERR_NOMEM: id = 90, reason = "Not enough memory."; break;
        case WAVERR_BADFORMAT: id = 91, reason = "The audio format is not supported."; break;
        default: break;
    }
    const int section = CTranslator::kErrorSection;
    const char* prefix = output ? translator.GetSectionText(section, 89, "Output device error:")
                                : translator.GetSectionText(section, 88, "Input device error:");
    return std::string(prefix) + " " + translator.GetSectionText(section, id, reason);
}
