#pragma once
// Playback through an audio endpoint: always 48000 Hz stereo at the
// endpoint, converted from the codec's format; startup silence, level,
// drift correction by single frames and the clip monitor, as the WAVE
// output does, over a stream client that queues whole blocks.
//
// Threads: every method on the engine's worker (or the thread that owns the
// engine before the worker starts). No thread and no lock of its own.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/EndpointClient.h"
#include "audio/SampleRateConverter.h"

class CEndpointOutDevice {
public:
    static constexpr int kConvertBytes = 8196;  // an 8192-byte block plus one inserted frame
    static constexpr int kMonitorBytes = 61440;

    CEndpointOutDevice() = default;
    ~CEndpointOutDevice() { Close(); }
    CEndpointOutDevice(const CEndpointOutDevice&) = delete;
    CEndpointOutDevice& operator=(const CEndpointOutDevice&) = delete;

    int Allocate(int blockMs);
    void SelectEndpoint(int index);
    void SetFormat(int type, int deviceRate, int codecRate, int deviceMode);
    int Open();
    void Close();
    int Write(const int16_t* pcm, int bytes);
    void Service();
    void SetBufferingMode(int mode, int adjust);
    void SetOutputMute(int flag);
    int Pause();
    int Resume();
    void SetLevel(int x);
    int SetMonitorFormat(int rate, int deviceMode);
    int WriteMonitor(const int16_t* pcm, int bytes);
    void GetLevels(int* left, int* right);
    std::string GetErrorText() const { return "Output device error: " + m_errorText; }

    // Inspection for the engine and tests.
    bool IsOpen() const { return m_opened != 0; }
    bool IsStarted() const { return m_clientStarted != 0; }
    int GetBlockMs() const { return m_blockMs; }
    int GetBlockBytes() const { return m_blockBytes; }
    int GetLowMark() const { return m_lowMark; }
    int GetHighMark() const { return m_highMark; }
    int GetDrift() const { return m_drift; }
    int GetStartupSilence() const { return m_startupSilence; }
    int GetBuffered() const { return m_client ? m_client->GetBytesBuffered() : 0; }
    int64_t GetInsertedFrames() const { return m_inserted; }
    int64_t GetDroppedFrames() const { return m_dropped; }

private:
    void Resize();
    void Submit(int16_t* block, int bytes);
    void TakeError();

    int m_endpoint = -1;
    std::unique_ptr<CEndpointClient> m_client;
    int m_opened = 0;
    int m_clientStarted = 0;
    int m_paused = 0;
    int m_muted = 0;
    int m_startupSilence = 0;
    std::string m_errorText;
    int m_type = 1;
    int m_codecRate = 48000;
    int m_codecChannels = 2;
    int m_deviceRate = 48000;
    static constexpr int kDeviceChannels = 2;
    int m_blockMs = 3;
    int m_blockBytes = 0;
    int m_lowMark = 0;
    int m_highMark = 0;
    int m_mode = 10;
    int m_drift = 0;
    int m_levelLeft = 0, m_levelRight = 0, m_levelReset = 0;
    int m_gainOn = 0;
    double m_gainFactor = 1.0;
    std::unique_ptr<uint8_t[]> m_convert;
    std::unique_ptr<uint8_t[]> m_monitor;
    int m_monitorFill = 0;
    int m_monitorPrimed = 0;
    int m_monitorConverting = 0;
    CSampleRateConverter m_playConverter;
    CSampleRateConverter m_monitorConverter;
    int64_t m_inserted = 0, m_dropped = 0;
};
