#pragma once
// What the call engine uses of the audio engine: formats and codecs of the
// two directions, the per-pass pumps, the coded FIFOs, device steering,
// levels and clips. The audio engine satisfies it through a thin binding
// (call/AudioEngineBinding.h once the audio engine is built); tests put a
// scripted or tone-generating stand-in in its place.
//
// Threads: the call engine creates and initialises it on the thread that
// starts the engine; afterwards only the engine's worker thread calls it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Records.h"

class CCallAudio {
public:
    virtual ~CCallAudio() = default;

    virtual int Init(int startFlag) = 0;
    // 1 and the text when an error text is kept, else 0.
    virtual int GetLastError(std::string& out) = 0;
    virtual void ReloadDeviceSettings() = 0;
    virtual int StartAsio() = 0;

    virtual void SetSendFormat(const AudioFormat* format) = 0;
    virtual int OpenEncoder() = 0;
    virtual void CloseEncoder() = 0;
    virtual int ChangeSendFormat(const AudioFormat* format) = 0;
    virtual int SetReceiveFormat(const AudioFormat* format, int* deviceChanged) = 0;
    virtual void CloseDecoder() = 0;

    virtual void EncodeCapture() = 0;
    virtual void ProcessPlayback() = 0;
    virtual int GetSendFill() = 0;
    virtual int GetSendData(uint8_t* dst, int n) = 0;
    virtual int GetReceiveSpace() = 0;
    virtual int PutReceiveData(const uint8_t* src, int n) = 0;
    virtual void FlushCapture() = 0;
    virtual int StretchCapture() = 0;

    virtual void SetDeviceBuffering(int inputMode, int outputMode, int outputAdjust) = 0;
    virtual void SetOutputMute(int flag) = 0;
    virtual void PauseOutput(int flag) = 0;
    virtual void GetLevels(int side, int* left, int* right) = 0;
    virtual void SetPlayLevel(int level) = 0;

    virtual int SetClipGain(int level) = 0;
    virtual void SetMicOn(int flag) = 0;
    virtual int LoadClip(const char* path) = 0;
    virtual int StartClip() = 0;
    virtual int PauseClip() = 0;
    virtual int ResumeClip() = 0;
    virtual int StopClip() = 0;
    // The finished flag; played and length in ms.
    virtual int GetClipPosition(int* playedMs, int* lengthMs) = 0;
};

// Makes a new, not yet initialised audio engine (the call engine recreates
// it after every connection).
using CallAudioFactory = std::function<std::unique_ptr<CCallAudio>()>;
