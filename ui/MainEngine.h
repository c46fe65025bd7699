#pragma once
// What the main window uses of the call engine and of the remote-control
// server. The main window holds one of each; until those subsystems are
// wired in, CIdleEngine stands in for the engine and there is no server.
#include <memory>

#include "common/Records.h"
#include "common/StationIdentity.h"
#include "platform/WindowMessages.h"

class CMainEngine {
public:
    virtual ~CMainEngine() = default;
    virtual int Start(const char* programName, int fastCpu) = 0;
    virtual void SetMainWindow(HWND window) = 0;
    virtual int Connect(const PhonebookEntry& entry) = 0;
    virtual void Disconnect() = 0;
    virtual void ContinueWithBandwidth() = 0;
    virtual void TestBandwidthAgain() = 0;
    virtual void ApplyConnectionSettings() = 0;
    virtual void ApplyAudioSettings() = 0;
    virtual void ApplyGlobalSettings() = 0;
    virtual int IsConnectionActive() = 0;
    virtual int GetAvailableTransports() = 0;
    virtual void GetConnectionInfo(ConnectionInfo& out) = 0;
    virtual void GetRemoteIdentity(StationIdentity& out) = 0;
    virtual void GetDecoderFormat(AudioFormat& out) = 0;
    virtual void GetEncoderFormat(AudioFormat& out) = 0;
    // Leaves a rate untouched when it is not known.
    virtual void GetBandwidth(int* receive, int* send) = 0;
    // 1 when an error text was pending (size bytes at most, terminated).
    virtual int TakeErrorText(char* buffer, size_t size) = 0;
    virtual int TakeErrorCode(int* code) = 0;
    virtual void ReinitAudio() = 0;
    virtual void SetPlayLevel(int dB) = 0;
    virtual void SetClipLevel(int dB) = 0;
    virtual void SetClipFlag(int on) = 0;
    virtual void LoadClip(const char* path) = 0;
    virtual void PlayClip() = 0;
    virtual void PauseClip() = 0;
    virtual void StopClip() = 0;
    // Peaks of a side (0 or 1) in 16-bit sample units.
    virtual void GetLevels(int side, int* left, int* right) = 0;
    virtual void GetClipPosition(int* playedMs, int* lengthMs) = 0;
    // Each -1 when not active.
    virtual void GetStatusPercentages(int* receive, int* send) = 0;
};

class CRemoteControl {
public:
    virtual ~CRemoteControl() = default;
    virtual int Init(HWND window, int port) = 0;
    virtual void Poll() = 0;
    virtual void SendState(int state) = 0;
    virtual void SetAvailableTransports(int mask) = 0;
    virtual void SetConnectionInfo(const ConnectionInfo& info) = 0;
    virtual void SetRemoteIdentity(const StationIdentity& identity) = 0;
    virtual void SetEncoderFormat(const AudioFormat& format) = 0;
    virtual void SetDecoderFormat(const AudioFormat& format) = 0;
    virtual void SendConnectionError(int kind, int code, const char* text) = 0;
    // The request was understood but refused (reason 16: its media type is
    // not available, 32: it cannot be carried out as asked).
    virtual void RefuseRequest(int command, int reason) = 0;
    virtual void GetRequestedDestination(ConnectionInfo& out) = 0;
    virtual void GetRequestedFormat(AudioFormat& out) = 0;
    virtual void SendBandwidthInfo(int limit, int measured) = 0;
    // 0 none yet, 16 disconnect, 32 continue, anything else test again.
    virtual int PollBandwidthAnswer() = 0;
};

// An engine without connections: it starts, reports idle and refuses calls.
class CIdleEngine : public CMainEngine {
public:
    int Start(const char*, int) override { return 1; }
    void SetMainWindow(HWND window) override;
    int Connect(const PhonebookEntry&) override { return 0; }
    void Disconnect() override {}
    void ContinueWithBandwidth() override {}
    void TestBandwidthAgain() override {}
    void ApplyConnectionSettings() override {}
    void ApplyAudioSettings() override {}
    void ApplyGlobalSettings() override {}
    int IsConnectionActive() override { return 0; }
    int GetAvailableTransports() override { return 0; }
    void GetConnectionInfo(ConnectionInfo& out) override { out = ConnectionInfo(); }
    void GetRemoteIdentity(StationIdentity& out) override { out = StationIdentity(); }
    void GetDecoderFormat(AudioFormat& out) override { out = AudioFormat(); }
    void GetEncoderFormat(AudioFormat& out) override { out = AudioFormat(); }
    void GetBandwidth(int*, int*) override {}
    int TakeErrorText(char*, size_t) override { return 0; }
    int TakeErrorCode(int*) override { return 0; }
    void ReinitAudio() override {}
    void SetPlayLevel(int) override {}
    void SetClipLevel(int) override {}
    void SetClipFlag(int) override {}
    void LoadClip(const char*) override {}
    void PlayClip() override {}
    void PauseClip() override {}
    void StopClip() override {}
    void GetLevels(int, int* left, int* right) override { *left = *right = 0; }
    void GetClipPosition(int* played, int* length) override { *played = *length = 0; }
    void GetStatusPercentages(int* receive, int* send) override { *receive = *send = -1; }
};
