#pragma once
// The main window's call engine: CCallEngine with the real audio engine,
// behind the interface the window's logic talks to. GUI thread only; the
// engine's worker reaches the window through posted messages.
#include "audio/AudioEngine.h"
#include "call/AudioEngineBinding.h"
#include "call/CallEngine.h"
#include "ui/MainEngine.h"

class CCallEngineMainEngine : public CMainEngine {
public:
    CCallEngineMainEngine() : m_engine(CAudioEngineBinding<CAudioEngine>::Factory()) {}

    int Start(const char* programName, int fastCpu) override { return m_engine.Start(programName, fastCpu); }
    void SetMainWindow(HWND window) override { m_engine.SetMainWindow(window); }
    int Connect(const PhonebookEntry& entry) override { return m_engine.Connect(entry); }
    void Disconnect() override { m_engine.Disconnect(); }
    void ContinueWithBandwidth() override { m_engine.ContinueWithBandwidth(); }
    void TestBandwidthAgain() override { m_engine.TestBandwidthAgain(); }
    void ApplyConnectionSettings() override { m_engine.ApplyConnectionSettings(); }
    void ApplyAudioSettings() override { m_engine.ApplyAudioSettings(); }
    void ApplyGlobalSettings() override { m_engine.ApplyGlobalSettings(); }
    int IsConnectionActive() override { return m_engine.IsConnectionActive(); }
    int GetAvailableTransports() override { return static_cast<int>(m_engine.GetAvailableTransports()); }
    void GetConnectionInfo(ConnectionInfo& out) override { m_engine.GetConnectionInfo(&out); }
    void GetRemoteIdentity(StationIdentity& out) override { m_engine.GetRemoteIdentity(&out); }
    void GetDecoderFormat(AudioFormat& out) override { m_engine.GetDecoderFormat(&out); }
    void GetEncoderFormat(AudioFormat& out) override { m_engine.GetEncoderFormat(&out); }
    void GetBandwidth(int* receive, int* send) override { m_engine.GetBandwidth(receive, send); }
    int TakeErrorText(char* buffer, size_t size) override { return m_engine.TakeErrorText(buffer, size); }
    int TakeErrorCode(int* code) override { return m_engine.TakeErrorCode(code); }
    void ReinitAudio() override { m_engine.ReinitAudio(); }
    void SetPlayLevel(int dB) override { m_engine.SetPlayLevel(dB); }
    void SetClipLevel(int dB) override { m_engine.SetClipLevel(dB); }
    void SetClipFlag(int on) override { m_engine.SetClipFlag(on); }
    void LoadClip(const char* path) override { m_engine.LoadClip(path); }
    void PlayClip() override { m_engine.PlayClip(); }
    void PauseClip() override { m_engine.PauseClip(); }
    void StopClip() override { m_engine.StopClip(); }
    void GetLevels(int side, int* left, int* right) override { m_engine.GetLevels(side, left, right); }
    void GetClipPosition(int* played, int* length) override { m_engine.GetClipPosition(played, length); }
    void GetStatusPercentages(int* receive, int* send) override { m_engine.GetStatusPercentages(receive, send); }

private:
    CCallEngine m_engine;
};
