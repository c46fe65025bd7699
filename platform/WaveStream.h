#pragma once
// One open WAVE device: the queue of blocks the application hands over, the
// I/O thread that fills or drains them, and the completion callback. The
// backends (ALSA, virtual) supply only the thread body that moves frames.
// Internal to platform/.
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/WaveApi.h"

struct CWaveStream {
    static constexpr uint32_t kMagic = 0x57415645;  // "WAVE"
    static constexpr uint32_t kRingSize = 64;       // power of two

    CWaveStream(bool output, int rate, int channels, WaveCallback callback, DWORD_PTR instance);
    virtual ~CWaveStream();
    CWaveStream(const CWaveStream&) = delete;
    CWaveStream& operator=(const CWaveStream&) = delete;

    // Application side.
    MMRESULT Submit(WAVEHDR* hdr);
    void Reset();  // returns every queued block; waits for the I/O thread
    void SetPaused(bool paused);
    void SetStarted(bool started);
    bool HasQueued() const;
    void StartThread();
    void StopThread();  // joins; no callback runs afterwards

    // I/O thread side.
    int PullOutput(int16_t* dst, int frames);       // frames taken from blocks; rest zero
    int PushInput(const int16_t* src, int frames);  // frames stored in blocks
    void ServiceCommands();
    bool StopRequested() const { return m_stop.load(std::memory_order_acquire) != 0; }
    bool Started() const { return m_started.load(std::memory_order_acquire) != 0; }
    uint32_t EventCount() const { return m_event.load(std::memory_order_acquire); }
    void WaitEvent(uint32_t seen) { m_event.wait(seen, std::memory_order_acquire); }
    virtual void Run() = 0;

    uint32_t m_magic = kMagic;
    const bool m_output;
    const int m_rate;
    const int m_channels;
    void* m_entry = nullptr;  // the device list entry; owned by the list

protected:
    void Wake();

private:
    void Complete(WAVEHDR* hdr, DWORD recorded);

    WaveCallback m_callback;
    DWORD_PTR m_instance;
    WAVEHDR* m_ring[kRingSize] = {};
    std::atomic<uint32_t> m_ringWrite{0};  // application
    std::atomic<uint32_t> m_ringRead{0};   // I/O thread
    uint32_t m_offset = 0;                 // I/O thread: bytes done in the head block
    std::atomic<int> m_paused{0};
    std::atomic<int> m_started{0};
    std::atomic<int> m_resetRequest{0};
    std::atomic<int> m_stop{0};
    std::atomic<uint32_t> m_event{0};  // bumped on every command; the thread waits on it
    std::thread m_thread;
};

bool IsWaveStream(HWAVE h);
