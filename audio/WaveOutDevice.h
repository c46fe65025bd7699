#pragma once
// Playback through a WAVE output device. The engine's worker writes PCM into
// a FIFO; blocks cut from it are queued to the device, corrected for drift
// one sample frame at a time, measured for peak levels and mixed with the
// clip monitor. The device's callback only marks a block played and copies
// its levels; everything else runs on the worker, in Write/Service.
//
// Threads: every method on the engine's worker (or the thread that owns the
// engine before the worker starts). OnDone runs on the device's I/O thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/SampleRateConverter.h"
#include "common/Translator.h"
#include "platform/WaveApi.h"

class CWaveOutDevice {
public:
    static constexpr int kHeaders = 12;
    static constexpr int kMaxFifo = 61440;
    static constexpr int kBlockRegion = 8196;  // an 8192-byte block plus one inserted frame
    static constexpr int kMonitorBytes = 49152;

    CWaveOutDevice() = default;
    ~CWaveOutDevice();
    CWaveOutDevice(const CWaveOutDevice&) = delete;
    CWaveOutDevice& operator=(const CWaveOutDevice&) = delete;

    int Allocate(int blockTimeMs, int srcOn);
    void SetFormat(int rate, int deviceMode);
    void SelectCard(int id) { m_card = id; }
    void SetLevel(int x);
    void Reset(int mute);
    void SetBufferingMode(int mode, int adjust);
    int Open();
    int Pause();
    int Restart();
    void Close();
    int Write(const int16_t* pcm, int bytes);
    void Service();
    int WriteMonitor(const int16_t* pcm, int bytes);
    int SetMonitorFormat(int rate, int deviceMode);
    void GetLevels(int* left, int* right) const;
    int GetQueued();
    const char* GetErrorText();

    // Inspection for the engine and tests.
    bool IsOpen() const { return m_handle != nullptr; }
    int GetBlockBytes() const { return m_blockBytes; }
    int GetFifoCapacity() const { return m_fifoCapacity; }
    int GetFifoFill() const { return m_fifoFill; }
    int GetWriteThreshold() const { return m_writeThreshold; }
    int GetDrift() const { return m_drift; }
    int IsPaused() const { return m_paused; }
    int GetMode() const { return m_mode; }
    int GetLastResult() const { return static_cast<int>(m_lastResult); }
    // Frames added (stretching, silence for an empty device) and removed
    // (drift drops, muted drops, capacity cuts) since open.
    int64_t GetInsertedFrames() const { return m_insertedFrames; }
    int64_t GetDroppedFrames() const { return m_droppedFrames; }

    static void OnDone(HWAVE h, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

private:
    void Resize();
    int WriteRoom();
    int CountQueued();
    bool QueueBlock(bool underrun);  // true when a block went to the device
    void Submit(int index);
    void TakeFront(int bytes);
    int FrameBytes() const { return m_channels * 2; }

    int m_card = -1;
    HWAVEOUT m_handle = nullptr;
    MMRESULT m_lastResult = MMSYSERR_NOERROR;
    std::string m_errorText;
    CTranslator m_translator;  // built with the device, on the thread that builds the engine
    int m_channels = 1;
    int m_rate = 48000;
    int m_srcOn = 0;
    int m_mode = 10;
    int m_silenceBlocks = 0;
    int m_muted = 0;
    int m_paused = 0;
    int m_restartPending = 0;
    int m_started = 0;
    int m_drift = 0;
    std::atomic<int> m_levelLeft{0};  // written by the I/O thread
    std::atomic<int> m_levelRight{0};
    int m_gainOn = 0;
    double m_gainFactor = 1.0;
    int m_blockMs = 22;
    int m_blockBytes = 0;
    int m_writeThreshold = 0;
    int m_fifoCapacity = 0;
    int m_fifoFill = 0;
    int m_headerCount = kHeaders;
    std::unique_ptr<uint8_t[]> m_fifo;  // FIFO followed by the copy of the last block
    std::unique_ptr<uint8_t[]> m_blockData;
    WAVEHDR m_headers[kHeaders] = {};
    int m_headerFill[kHeaders] = {};  // bytes held by a header being filled
    int m_monitorFill = 0;
    int m_monitorPrimed = 0;
    std::unique_ptr<uint8_t[]> m_monitor;
    CSampleRateConverter m_playConverter;
    CSampleRateConverter m_monitorConverter;
    int m_monitorConverting = 0;
    int64_t m_insertedFrames = 0;
    int64_t m_droppedFrames = 0;
};

// One frame inserted where neighbouring frames differ least; data must have
// room for one more frame. Returns the new byte length.
int StretchByOneFrame(int16_t* data, int bytes, int channels);
