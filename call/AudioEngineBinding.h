#pragma once
// Puts an audio engine class behind the call engine's audio seam by plain
// forwarding: CAudioEngineBinding<CAudioEngine> is what the call engine's
// factory makes once the audio engine is part of the build. A template, so
// that this folder does not depend on the audio engine's header before it
// exists, and tests can bind a class of the same shape.
//
// Threads: as CCallAudio.
#include <memory>
#include <string>

#include "call/CallAudio.h"

template <class Engine>
class CAudioEngineBinding final : public CCallAudio {
public:
    CAudioEngineBinding() = default;
    explicit CAudioEngineBinding(const std::string& settingsPath) : m_engine(settingsPath) {}
    Engine& Get() { return m_engine; }

    static CallAudioFactory Factory() {
        return []() -> std::unique_ptr<CCallAudio> { return std::make_unique<CAudioEngineBinding<Engine>>(); };
    }
    // Engines that read their device settings from that file.
    static CallAudioFactory Factory(std::string settingsPath) {
        return [settingsPath]() -> std::unique_ptr<CCallAudio> {
            return std::make_unique<CAudioEngineBinding<Engine>>(settingsPath);
        };
    }

    int Init(int startFlag) override { return m_engine.Init(startFlag); }
    int GetLastError(std::string& out) override { return m_engine.GetLastError(out); }
    void ReloadDeviceSettings() override { m_engine.ReloadDeviceSettings(); }
    int StartAsio() override { return m_engine.StartAsio(); }

    void SetSendFormat(const AudioFormat* format) override { m_engine.SetSendFormat(format); }
    int OpenEncoder() override { return m_engine.OpenEncoder(); }
    void CloseEncoder() override { m_engine.CloseEncoder(); }
    int ChangeSendFormat(const AudioFormat* format) override { return m_engine.ChangeSendFormat(format); }
    int SetReceiveFormat(const AudioFormat* format, int* deviceChanged) override {
        return m_engine.SetReceiveFormat(format, deviceChanged);
    }
    void CloseDecoder() override { m_engine.CloseDecoder(); }

    void EncodeCapture() override { m_engine.EncodeCapture(); }
    void ProcessPlayback() override { m_engine.ProcessPlayback(); }
    int GetSendFill() override { return m_engine.GetSendFill(); }
    int GetSendData(uint8_t* dst, int n) override { return m_engine.GetSendData(dst, n); }
    int GetReceiveSpace() override { return m_engine.GetReceiveSpace(); }
    int PutReceiveData(const uint8_t* src, int n) override { return m_engine.PutReceiveData(src, n); }
    void FlushCapture() override { m_engine.FlushCapture(); }
    int StretchCapture() override { return m_engine.StretchCapture(); }

    void SetDeviceBuffering(int inputMode, int outputMode, int outputAdjust) override {
        m_engine.SetDeviceBuffering(inputMode, outputMode, outputAdjust);
    }
    void SetOutputMute(int flag) override { m_engine.SetOutputMute(flag); }
    void PauseOutput(int flag) override { m_engine.PauseOutput(flag); }
    void GetLevels(int side, int* left, int* right) override { m_engine.GetLevels(side, left, right); }
    void SetPlayLevel(int level) override { m_engine.SetPlayLevel(level); }

    int SetClipGain(int level) override { return m_engine.SetClipGain(level); }
    void SetMicOn(int flag) override { m_engine.SetMicOn(flag); }
    int LoadClip(const char* path) override { return m_engine.LoadClip(path); }
    int StartClip() override { return m_engine.StartClip(); }
    int PauseClip() override { return m_engine.PauseClip(); }
    int ResumeClip() override { return m_engine.ResumeClip(); }
    int StopClip() override { return m_engine.StopClip(); }
    int GetClipPosition(int* playedMs, int* lengthMs) override { return m_engine.GetClipPosition(playedMs, lengthMs); }

private:
    Engine m_engine;
};
