#pragma once
// Capture through an audio endpoint at 48000 Hz (stereo for modes 11 and
// 20 to 22, else mono), converted to the codec's format into a FIFO that
// starts full of silence; in ISDN mode (0) single frames are dropped or
// inserted to hold the FIFO near its mark.
//
// Threads: every method on the engine's worker (or the thread that owns the
// engine before the worker starts). No thread and no lock of its own.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/EndpointClient.h"
#include "audio/SampleRateConverter.h"

class CEndpointInDevice {
public:
    static constexpr int kReadBytes = 8192;
    static constexpr int kFifoBytes = 32768;

    CEndpointInDevice() = default;
    ~CEndpointInDevice() { Close(); }
    CEndpointInDevice(const CEndpointInDevice&) = delete;
    CEndpointInDevice& operator=(const CEndpointInDevice&) = delete;

    int Allocate(int blockMs, int openCount);
    void SelectEndpoint(int index);
    void SetFormat(int deviceRate, int codecRate, int deviceMode);
    int Open();
    void Close();
    void Service();
    int Read(int16_t* dst, int bytes);
    int RequestStretch();
    void SetLevel(int x);
    void GetLevels(int* left, int* right);
    void SetBufferingMode(int mode) { m_mode = mode; }
    void FlushCapture() { m_fill = 0; }
    std::string GetErrorText() const { return "Input device error: " + m_errorText; }

    // Inspection for the engine and tests.
    bool IsOpen() const { return m_client != nullptr; }
    int GetBlockMs() const { return m_blockMs; }
    int GetOpenCount() const { return m_openCount; }
    int GetDeviceBlockBytes() const { return m_deviceBlockBytes; }
    int GetCodecBlockBytes() const { return m_codecBlockBytes; }
    int GetFill() const { return m_fill; }
    int GetTarget() const { return m_target; }
    int GetHighMark() const { return m_highMark; }
    int GetSilenceBlocks() const { return m_silenceBlocks; }

private:
    void Resize();
    void Deliver(int bytes);
    void TakeError();

    int m_endpoint = -1;
    std::unique_ptr<CEndpointClient> m_client;
    int m_started = 0;
    int m_silenceBlocks = 0;
    std::string m_errorText;
    int m_codecRate = 48000;
    int m_codecChannels = 1;
    int m_deviceRate = 48000;
    int m_deviceChannels = 1;
    int m_blockMs = 3;
    int m_openCount = 15;
    int m_deviceBlockBytes = 0;
    int m_codecBlockBytes = 0;
    int m_mode = 10;
    int m_stretch = 0;
    int m_levelLeft = 0, m_levelRight = 0, m_levelReset = 0;
    int m_gainOn = 0;
    double m_gainFactor = 1.0;
    std::unique_ptr<uint8_t[]> m_read;  // kReadBytes plus room for one inserted frame
    std::unique_ptr<uint8_t[]> m_fifo;
    int m_fill = 0;
    int m_target = 0;
    int m_highMark = 0;
    CSampleRateConverter m_converter;
};
