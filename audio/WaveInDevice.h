#pragma once
// Capture through a WAVE input device. Recorded blocks come back through the
// callback, which stamps them with a completion count and takes their peak
// levels; the engine's worker then moves them, converted, into a FIFO that
// Read drains. In ISDN mode (0) single frames are dropped or inserted to
// hold the FIFO near its mark.
//
// Threads: every method on the engine's worker. OnData runs on the device's
// I/O thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/SampleRateConverter.h"
#include "common/Translator.h"
#include "platform/WaveApi.h"

class CWaveInDevice {
public:
    static constexpr int kMaxBlocks = 48;

    CWaveInDevice() = default;
    ~CWaveInDevice();
    CWaveInDevice(const CWaveInDevice&) = delete;
    CWaveInDevice& operator=(const CWaveInDevice&) = delete;

    int Allocate(int blockTimeMs, int numBlocks, int srcOn);
    void SetFormat(int rate, int deviceMode);
    void SelectCard(int id) { m_card = id; }
    void SetLevel(int x);
    void SetBufferingMode(int mode) { m_mode = mode; }
    int Open();
    void Start();
    void Close();
    int Read(int16_t* dst, int bytes);
    void Service();
    void GetLevels(int* left, int* right) const;
    void FlushCapture() { m_fifoFill = 0; }
    int RequestStretch();
    const char* GetErrorText();

    bool IsOpen() const { return m_handle != nullptr; }
    int GetFifoFill() const { return m_fifoFill; }
    int GetFifoTarget() const { return m_fifoTarget; }
    int GetFifoHighMark() const { return m_fifoHighMark; }
    int GetDeviceBlockBytes() const { return m_deviceBlockBytes; }
    int GetEngineBlockBytes() const { return m_engineBlockBytes; }
    int GetLastResult() const { return static_cast<int>(m_lastResult); }
    // Engine-side frames inserted (stretching) and dropped (FIFO full,
    // stretching) since open.
    int64_t GetInsertedFrames() const { return m_insertedFrames; }
    int64_t GetDroppedFrames() const { return m_droppedFrames; }

    static void OnData(HWAVE h, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

private:
    void StartUp();
    void Deliver(WAVEHDR& h);

    MMRESULT m_lastResult = MMSYSERR_NOERROR;
    int m_card = -1;
    HWAVEIN m_handle = nullptr;
    std::string m_errorText;
    CTranslator m_translator;  // built with the device, on the thread that builds the engine
    int m_engineRate = 48000;
    int m_engineChannels = 2;
    int m_deviceRate = 48000;
    int m_deviceChannels = 2;
    int m_srcOn = 0;
    int m_silenceBlocks = 0;
    int m_started = 0;
    std::atomic<int> m_levelLeft{0};  // written by the I/O thread
    std::atomic<int> m_levelRight{0};
    std::atomic<int> m_gainOn{0};
    std::atomic<double> m_gainFactor{1.0};
    int m_mode = 10;
    int m_numBlocks = 3;
    int m_blockMs = 24;
    int m_maxBlockBytes = 0;
    int m_deviceBlockBytes = 0;
    int m_engineBlockBytes = 0;
    int m_stretch = 0;
    int m_fifoFill = 0;
    int m_fifoCapacity = 0;
    int m_fifoTarget = 0;
    int m_fifoHighMark = 0;
    std::unique_ptr<uint8_t[]> m_fifo;
    std::unique_ptr<uint8_t[]> m_blockData;
    std::unique_ptr<WAVEHDR[]> m_headers;
    std::atomic<uint32_t> m_completions{0};  // I/O thread only; atomic for the reset at open
    CSampleRateConverter m_converter;
    int64_t m_insertedFrames = 0;
    int64_t m_droppedFrames = 0;
};
