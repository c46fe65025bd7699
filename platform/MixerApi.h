#pragma once
// The multimedia mixer calls the program uses, on Linux: the mixer of a
// WAVE device (same ids as WaveApi.h) with one destination line (recording
// for an input device, speakers for an output device) and its source lines.
// Two backends: the ALSA simple mixer of the device's card (capture or
// playback elements as lines, the capture source enumeration as the
// selector, switches as mute, no peak meter) and a virtual mixer for the
// virtual WAVE devices. With CALLBACK_WINDOW a change made anywhere reaches
// the window as MM_MIXM_CONTROL_CHANGE (wParam the mixer, lParam the
// control id), posted from the mixer's own watcher thread.
//
// Threads: a mixer handle belongs to one thread; the watcher only posts.
#include <cstdint>

#include "platform/WaveApi.h"
#include "platform/WindowMessages.h"

struct CMixerHandle;
using HMIXER = CMixerHandle*;
using HMIXEROBJ = CMixerHandle*;

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

constexpr DWORD MIXER_OBJECTF_WAVEOUT = 0x10000000;
constexpr DWORD MIXER_OBJECTF_WAVEIN = 0x20000000;
constexpr DWORD MIXER_OBJECTF_HANDLE = 0x80000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x1000 + 10;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 1;
constexpr DWORD MIXER_GETLINEINFOF_LINEID = 2;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;
constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr DWORD MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0;

constexpr DWORD MIXERCONTROL_CONTROLTYPE_PEAKMETER = 0x10020001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x1;
constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;

struct MIXERCAPSA {
    WORD wMid = 0;
    WORD wPid = 0;
    UINT vDriverVersion = 0;
    char szPname[32] = {};
    DWORD fdwSupport = 0;
    DWORD cDestinations = 0;
};

struct MIXERLINEA {
    DWORD cbStruct = sizeof(MIXERLINEA);
    DWORD dwDestination = 0;
    DWORD dwSource = 0;
    DWORD dwLineID = 0;
    DWORD fdwLine = 0;
    DWORD_PTR dwUser = 0;
    DWORD dwComponentType = 0;
    DWORD cChannels = 0;
    DWORD cConnections = 0;
    DWORD cControls = 0;
    char szShortName[16] = {};
    char szName[64] = {};
};

struct MIXERCONTROLA {
    DWORD cbStruct = sizeof(MIXERCONTROLA);
    DWORD dwControlID = 0;
    DWORD dwControlType = 0;
    DWORD fdwControl = 0;
    DWORD cMultipleItems = 0;
    char szShortName[16] = {};
    char szName[64] = {};
    struct {
        LONG lMinimum = 0;
        LONG lMaximum = 0;
    } Bounds;
};

struct MIXERLINECONTROLSA {
    DWORD cbStruct = sizeof(MIXERLINECONTROLSA);
    DWORD dwLineID = 0;
    DWORD dwControlType = 0;  // for ONEBYTYPE
    DWORD cControls = 1;
    DWORD cbmxctrl = sizeof(MIXERCONTROLA);
    MIXERCONTROLA* pamxctrl = nullptr;
};

struct MIXERCONTROLDETAILS {
    DWORD cbStruct = sizeof(MIXERCONTROLDETAILS);
    DWORD dwControlID = 0;
    DWORD cChannels = 1;
    DWORD cMultipleItems = 0;
    DWORD cbDetails = 4;
    void* paDetails = nullptr;
};

struct MIXERCONTROLDETAILS_UNSIGNED {
    DWORD dwValue = 0;
};
struct MIXERCONTROLDETAILS_BOOLEAN {
    LONG fValue = 0;
};
struct MIXERCONTROLDETAILS_LISTTEXTA {
    DWORD dwParam1 = 0;
    DWORD dwParam2 = 0;
    char szName[64] = {};
};
static_assert(sizeof(MIXERCONTROLDETAILS_LISTTEXTA) == 72);

MMRESULT mixerOpen(HMIXER* out, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT mixerClose(HMIXER h);
MMRESULT mixerGetDevCapsA(HMIXER h, MIXERCAPSA* caps, UINT size);
MMRESULT mixerGetLineInfoA(HMIXEROBJ h, MIXERLINEA* line, DWORD flags);
MMRESULT mixerGetLineControlsA(HMIXEROBJ h, MIXERLINECONTROLSA* controls, DWORD flags);
MMRESULT mixerGetControlDetailsA(HMIXEROBJ h, MIXERCONTROLDETAILS* details, DWORD flags);
MMRESULT mixerSetControlDetails(HMIXEROBJ h, MIXERCONTROLDETAILS* details, DWORD flags);
