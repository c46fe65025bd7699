#pragma once
// Plays one clip of the audio library: a thread of its own (below normal
// priority) reads the raw 48 kHz clip file, converts it to the rate and
// channel count the engine asks for and keeps a ring of PCM ready; the
// engine's worker takes PCM from the ring without blocking or allocating.
//
// Threads: Start, SetFileName, PostCommand, SetOutputFormat, Close, Read,
// IsFinished, SetGain, ClearLevels and the getters are called from the
// engine's side (one thread at a time); everything else runs on the player's
// own thread. The ring is single-producer single-consumer; emptying it
// (rewind, close) waits on the player's side until no Read is under way.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/ClipSource.h"
#include "audio/SampleRateConverter.h"
#include "common/FileHandle.h"

constexpr int kClipCommandRewind = 11;
constexpr int kClipCommandClose = 20;
constexpr int kClipCommandFormat = 30;

class CClipPlayer final : public CClipSource {
public:
    CClipPlayer() = default;
    ~CClipPlayer();
    CClipPlayer(const CClipPlayer&) = delete;
    CClipPlayer& operator=(const CClipPlayer&) = delete;

    int Start(int fastFlag) override;
    void SetFileName(const char* path) override;
    void ClearLevels() override;
    // 1 once the command is in the slot; 0 when the slot stayed busy (the
    // player's thread stuck) for kCommandWaitMs.
    int PostCommand(int command) override;
    void SetOutputFormat(int rate, int deviceMode) override;
    int Read(int16_t* dst, int bytes) override;
    // 1 at the end of the clip once the ring is nearly empty, and at once
    // when the clip cannot be converted to the output format asked for.
    int IsFinished() override;
    // These wait (bounded) for a posted command to take effect first.
    int GetLengthMs() override;
    int GetChannels() override;
    void Close() override { PostCommand(kClipCommandClose); }
    void GetLevels(int* left, int* right) override;
    void SetGain(int on, double factor) override;

    // 1 when the last output format asked for could not be set up.
    int HasFormatFailed() const { return m_formatFailed.load(std::memory_order_acquire); }
    int IsPrimed() const { return m_primed.load(std::memory_order_acquire); }
    int GetRingFill() const;
    // Waits until the command slot is free; false after kCommandWaitMs.
    bool WaitForCommandSlot();

    // 2 when the fourth character from the end of the name is 's' or 'S'
    // (".spcm"), else 1; names shorter than four characters are mono.
    static int ChannelsOfName(const std::string& name);

    static constexpr int kRingBytes = 32768;
    static constexpr int kConvertedBytes = 12288;
    static constexpr int kFileBlockBytes = 8192;
    static constexpr int kFinishedRingBytes = 1024;
    // Generous: a loaded machine must not lose a command.
    static constexpr int kCommandWaitMs = 2000;

private:
    void ThreadMain();
    void Execute(int command);
    void OpenClip();
    void CloseClip();
    void Rewind();
    void SetFormat();
    void FillRing();
    void ReadAndConvert();
    void ResetRing();
    int RingFree() const { return kRingBytes - GetRingFill(); }

    std::unique_ptr<uint8_t[]> m_buffer;  // ring, converted block, file block
    uint8_t* m_ring = nullptr;
    uint8_t* m_converted = nullptr;
    uint8_t* m_fileBlock = nullptr;
    std::atomic<uint32_t> m_ringRead{0};
    std::atomic<uint32_t> m_ringWrite{0};
    std::atomic<int> m_reading{0};
    std::atomic<int> m_resetting{0};
    std::atomic<int> m_fillWanted{0};  // the engine's side found the ring half empty

    CFileHandle m_file;
    std::mutex m_nameLock;  // the engine's side and the player's thread, never a device callback
    std::string m_requestedName;
    std::string m_currentName;

    int m_fastFlag = 0;
    std::atomic<int> m_levelLeft{0};
    std::atomic<int> m_levelRight{0};
    std::atomic<int> m_gainOn{0};
    std::atomic<double> m_gain{1.0};
    std::atomic<int> m_command{0};
    std::atomic<int> m_clipOpen{0};
    std::atomic<int> m_clipChannels{0};
    std::atomic<int> m_outChannels{0};
    std::atomic<int> m_outRate{48000};
    std::atomic<int> m_endOfFile{0};
    std::atomic<int> m_threadEnded{0};
    std::atomic<int> m_running{0};
    std::atomic<int> m_primed{0};
    std::atomic<int> m_pending{0};
    std::atomic<int> m_formatFailed{0};
    std::atomic<int> m_lengthMs{0};
    int m_pendingOffset = 0;
    int m_fileBlockBytes = 0;
    int m_fileFill = 0;
    int m_primeRoom = 0;
    int m_formatReady = 0;
    int64_t m_fileSize = 0;

    CSampleRateConverter m_converter;
    std::mutex m_wakeLock;
    std::condition_variable m_wake;       // the player's thread: a command or the end
    std::condition_variable m_slotFree;   // the engine's side: the command ran
    std::thread m_thread;
};
