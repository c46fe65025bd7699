#pragma once
// Capture and playback through one ASIO driver at 48000 Hz, two input and
// two output channels from the chosen first channels. The driver's buffer
// switch (on the driver's thread) moves whole blocks between its buffers
// and two rings of 12 blocks; the engine's worker converts between the rings
// and the codec's rate through FIFOs, with level, silence and drift handling.
//
// Threads: every method on the engine's worker (or on the thread that owns
// the object before the worker starts; the device dialogs build their own
// objects on the GUI thread and never Start them). The static callbacks run
// on the driver's thread and touch only the rings, the levels and the
// counters, all handed over through atomics.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/SampleRateConverter.h"
#include "platform/AsioApi.h"
#include "platform/Com.h"

class CAsioDevice {
public:
    static constexpr int kRingBlocks = 12;
    static constexpr int kPlayFifoBytes = 53248;
    static constexpr int kMonitorBytes = 9216;
    static constexpr int kCaptureFifoBytes = 9216;
    static constexpr int kFifoAreaBytes = kPlayFifoBytes + kMonitorBytes + kCaptureFifoBytes;

    enum State { kNotListed = 0, kClosed = 16, kProbing = 17, kPrepared = 32, kRunning = 33 };

    CAsioDevice() = default;
    ~CAsioDevice();
    CAsioDevice(const CAsioDevice&) = delete;
    CAsioDevice& operator=(const CAsioDevice&) = delete;

    // Driver list and selection.
    int EnumerateDrivers();
    void SelectDriver(int index, int firstInput, int firstOutput);
    void SetBlockSetting(int blockTime) { m_blockSetting = blockTime; }
    int GetDriverCount() const { return m_driverCount; }
    int GetDriverName(int index, char* dst, int width) const;

    // Life cycle.
    int Open(void* window, int probeOnly);
    int Start();
    int Stop();
    void Close();

    // Formats and modes.
    void SetCaptureFormat(int type, int rate, int deviceMode);
    void SetPlaybackFormat(int type, int rate, int deviceMode);
    void SetMonitorFormat(int rate, int deviceMode);
    void SetCaptureMode(int mode);
    void SetPlaybackMode(int mode, int adjust);
    void SetOutputMute(int flag);
    int PauseOutput();
    int ResumeOutput();
    void SetClipActive(int flag) { m_clipActive.store(flag, std::memory_order_release); }
    void SetPlayLevel(int x);
    void SetCaptureLevel(int x);
    void GetCaptureLevels(int* left, int* right);
    void GetPlayLevels(int* left, int* right);

    // Audio.
    int Write(const int16_t* pcm, int bytes);
    int WriteMonitor(const int16_t* pcm, int bytes);
    int Read(int16_t* dst, int bytes);
    void Service();
    void ServiceCapture();
    int RequestStretch();

    // Driver details for the device dialogs.
    int GetChannelCount(int input) const;
    int GetChannelName(int channel, int input, char* dst, int len) const;
    int ShowControlPanel();
    const char* GetErrorText() const { return m_errorText.c_str(); }

    // Inspection for the engine and tests.
    int GetState() const { return m_state; }
    int GetBlockSamples() const { return m_blockSamples; }
    int GetSampleType(int channel) const { return m_channelType[channel]; }
    int GetCaptureFill() const { return m_captureFill; }
    int GetCaptureCapacity() const { return m_captureCapacity; }
    int GetCaptureHighMark() const { return m_captureHighMark; }
    int GetCaptureSilence() const { return m_captureSilence; }
    int GetCaptureStretch() const { return m_captureStretch; }
    int GetPlayFill() const { return m_playFill; }
    int GetPlayCapacity() const { return m_playCapacity; }
    int GetPlayLowMark() const { return m_playLowMark; }
    int GetPlayHighMark() const { return m_playHighMark; }
    int GetPlaySilence() const { return m_playSilence; }
    int GetPlayDrift() const { return m_playDrift; }
    int IsMuted() const { return m_muted; }
    uint64_t GetLostCaptureBlocks() const { return m_lostBlocks.load(std::memory_order_relaxed); }
    uint64_t GetUnderrunSwitches() const { return m_underruns.load(std::memory_order_relaxed); }
    uint64_t GetRepeatedSwitches() const { return m_repeats.load(std::memory_order_relaxed); }
    // Engine-side frames added (drift inserts, silence exposed) and removed
    // (drift drops, fills cut) since Start, per direction.
    int64_t GetPlayInsertedFrames() const { return m_playInserted; }
    int64_t GetPlayDroppedFrames() const { return m_playDropped; }
    int64_t GetCaptureInsertedFrames() const { return m_captureInserted; }
    int64_t GetCaptureDroppedFrames() const { return m_captureDropped; }

    // The driver's callbacks (its thread), and its messages.
    static void BufferSwitch(long index, ASIOBool directProcess);
    static ASIOTime* BufferSwitchTimeInfo(ASIOTime* params, long index, ASIOBool directProcess);
    static void SampleRateChanged(ASIOSampleRate rate);
    static long AsioMessage(long selector, long value, void* message, double* opt);

private:
    struct DriverRecord {
        int index = 0;
        CLSID clsid;
        std::string path;
        std::string name;
    };
    struct Block {
        std::atomic<int> full{0};  // the producer sets it, the consumer clears it
        std::atomic<uint32_t> stamp{0};
        int16_t* data = nullptr;
    };

    int PrepareChannels();
    int SetRate();
    int AllocateBuffers();
    void FreeBuffers();
    void Fail(const char* text);
    void CaptureSizes();
    void PlaybackSizes();
    void CaptureSwitch(int half);
    void PlaybackSwitch(int half);
    int ChannelBytes(int channel) const;
    void MixMonitor(int16_t* part, int bytes);
    void ExposeSilence(int newFill);

    // Driver list and selection.
    std::vector<DriverRecord> m_drivers;
    int m_state = kNotListed;
    IAsioDriver* m_driver = nullptr;
    int m_driverIndex = -1;
    int m_driverCount = 0;
    int m_blockSetting = 24;
    int m_blockSamples = 1152;
    std::string m_errorText;
    long m_inputChannels = 0;
    long m_outputChannels = 0;
    int m_firstInput = 0;
    int m_firstOutput = 0;
    ASIOSampleType m_channelType[4] = {};  // input first, input first + 1, output first, output first + 1
    int m_postOutput = 0;

    // Capture side.
    std::atomic<int> m_captureOn{0};
    std::atomic<int> m_captureChannels{2};
    std::atomic<int> m_captureMode{20};
    std::atomic<int> m_captureBuffering{-1};
    int m_captureType = 1;
    int m_captureRate = 48000;
    int m_captureBlockBytes = 0;
    int m_captureFill = 0;
    int m_captureCapacity = 0;
    int m_captureHighMark = 0;
    int m_captureSilence = 0;
    int m_captureStretch = 0;
    std::atomic<int> m_captureLeft{0}, m_captureRight{0};
    std::atomic<int> m_captureLevelReset{0};
    int m_captureGainOn = 0;
    double m_captureGain = 1.0;

    // Playback side.
    std::atomic<int> m_playOn{0};
    std::atomic<int> m_playChannels{2};
    std::atomic<int> m_playMode{20};
    int m_playType = 1;
    int m_playRate = 48000;
    int m_playBuffering = -1;
    int m_playAdjust = 0;
    int m_playDrift = 0;
    int m_muted = 0;
    std::atomic<int> m_outputPaused{0};
    int m_playSilence = 0;
    int m_playBlockBytes = 0;
    int m_playFill = 0;
    int m_playCapacity = 0;
    int m_playLowMark = 0;
    int m_playHighMark = 0;
    std::atomic<int> m_playLeft{0}, m_playRight{0};
    std::atomic<int> m_playLevelReset{0};
    int m_playGainOn = 0;
    double m_playGain = 1.0;
    std::atomic<int> m_clipActive{0};
    std::atomic<int> m_underrunFlag{0};
    std::atomic<int> m_overrunFlag{0};
    int m_movedBlocks = 0;  // blocks Service moved into the ring on its last pass

    // Monitor.
    int m_monitorFill = 0;
    int m_monitorPrimed = 0;

    // Rings: blocks of blockSamples stereo frames; the driver thread's own counters.
    Block m_captureRing[kRingBlocks];
    Block m_playRing[kRingBlocks];
    std::unique_ptr<uint8_t[]> m_ringData;
    uint32_t m_captureSequence = 0;  // driver thread
    uint32_t m_playSequence = 0;     // engine thread
    uint32_t m_captureTaken = 0;     // engine thread: the stamp expected next
    int m_underrunRun = 0;           // driver thread: switches in a row without a block
    std::atomic<uint64_t> m_lostBlocks{0};
    std::atomic<uint64_t> m_underruns{0};
    std::atomic<uint64_t> m_repeats{0};
    int64_t m_playInserted = 0, m_playDropped = 0, m_captureInserted = 0, m_captureDropped = 0;

    std::unique_ptr<uint8_t[]> m_fifoArea;
    CSampleRateConverter m_playConverter;
    CSampleRateConverter m_monitorConverter;
    CSampleRateConverter m_captureConverter;

    ASIOBufferInfo m_bufferInfos[4] = {};
    ASIOCallbacks m_callbacks{};

    static std::atomic<CAsioDevice*> s_device;  // published by Start, cleared by Stop
};
