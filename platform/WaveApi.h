#pragma once
// The multimedia WAVE calls the audio devices use, on Linux. Two backends sit
// behind them: ALSA (real cards, by name) and clocked virtual devices (see
// VirtualWave.h), which are listed first when configured. Device ids count
// from 0 over that list; WAVE_MAPPER picks the first device.
//
// Threads: every call may come from any one application thread per handle.
// The callback runs on the device's own I/O thread; it must not block,
// allocate or do I/O. Header flags and dwUser are shared with that thread:
// touch them through WaveHeaderLoad*/Store* below.
#include <atomic>
#include <cstdint>

#include "platform/WinTypes.h"

using MMRESULT = UINT;
using DWORD_PTR = uintptr_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_MAPPED = 0x0004;
constexpr DWORD WAVE_FORMAT_DIRECT = 0x0008;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr DWORD WAVE_FORMAT_4S16 = 0x0800;  // 44.1 kHz stereo 16-bit

constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_DATA = 0x3C0;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

struct WAVEFORMATEX {
    WORD wFormatTag = WAVE_FORMAT_PCM;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};

struct WAVEHDR {
    char* lpData = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBytesRecorded = 0;
    DWORD_PTR dwUser = 0;
    DWORD dwFlags = 0;
    DWORD dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    DWORD_PTR reserved = 0;
};

struct WAVEOUTCAPSA {
    WORD wMid = 0;
    WORD wPid = 0;
    UINT vDriverVersion = 0;
    char szPname[32] = {};
    DWORD dwFormats = 0;
    WORD wChannels = 0;
    DWORD dwSupport = 0;
};

struct WAVEINCAPSA {
    WORD wMid = 0;
    WORD wPid = 0;
    UINT vDriverVersion = 0;
    char szPname[32] = {};
    DWORD dwFormats = 0;
    WORD wChannels = 0;
};

struct CWaveStream;
using HWAVEOUT = CWaveStream*;
using HWAVEIN = CWaveStream*;
using HWAVE = CWaveStream*;

// Runs on the device's I/O thread. param1 is the WAVEHDR* that completed.
using WaveCallback = void (*)(HWAVE handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// Header words shared with the I/O thread. Release on store so the sample
// bytes written before are visible to whoever acquires the word.
inline DWORD_PTR WaveHeaderLoadUser(const WAVEHDR* h) {
    return std::atomic_ref<DWORD_PTR>(const_cast<WAVEHDR*>(h)->dwUser).load(std::memory_order_acquire);
}
inline void WaveHeaderStoreUser(WAVEHDR* h, DWORD_PTR v) {
    std::atomic_ref<DWORD_PTR>(h->dwUser).store(v, std::memory_order_release);
}
inline DWORD WaveHeaderLoadFlags(const WAVEHDR* h) {
    return std::atomic_ref<DWORD>(const_cast<WAVEHDR*>(h)->dwFlags).load(std::memory_order_acquire);
}
inline DWORD WaveHeaderLoadRecorded(const WAVEHDR* h) {
    return std::atomic_ref<DWORD>(const_cast<WAVEHDR*>(h)->dwBytesRecorded).load(std::memory_order_acquire);
}

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsA(UINT id, WAVEOUTCAPSA* caps, UINT size);
MMRESULT waveOutOpen(HWAVEOUT* out, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT h, WAVEHDR* hdr, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WAVEHDR* hdr, UINT size);
MMRESULT waveOutWrite(HWAVEOUT h, WAVEHDR* hdr, UINT size);
MMRESULT waveOutPause(HWAVEOUT h);
MMRESULT waveOutRestart(HWAVEOUT h);
MMRESULT waveOutReset(HWAVEOUT h);
MMRESULT waveOutClose(HWAVEOUT h);

UINT waveInGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT id, WAVEINCAPSA* caps, UINT size);
MMRESULT waveInOpen(HWAVEIN* out, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
MMRESULT waveInPrepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT size);
MMRESULT waveInUnprepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT size);
MMRESULT waveInAddBuffer(HWAVEIN h, WAVEHDR* hdr, UINT size);
MMRESULT waveInStart(HWAVEIN h);
MMRESULT waveInStop(HWAVEIN h);
MMRESULT waveInReset(HWAVEIN h);
MMRESULT waveInClose(HWAVEIN h);

// Fills a PCM format record; nothing is checked here (the open does that).
WAVEFORMATEX MakePcmFormat(int rate, int channels);
