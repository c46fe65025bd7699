#pragma once
// What the endpoint functions stand on: one stream client (a byte ring
// between the application and the backend's own thread) and the two
// backends, virtual and PulseAudio. Internal to platform/.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CAuxletClient {
public:
    static constexpr uint32_t kMagic = 0x41555843;  // "AUXC"

    explicit CAuxletClient(int direction) : m_direction(direction) {}
    virtual ~CAuxletClient() = default;
    CAuxletClient(const CAuxletClient&) = delete;
    CAuxletClient& operator=(const CAuxletClient&) = delete;

    // Application side.
    int Open(int blockMs, int bufferCount, int channels);
    int Start();
    void Stop();
    void Close();
    int BlockTime() const { return m_blockMs; }
    int AddData(const void* pcm, int length);
    int BytesFree() const;
    int BytesBuffered() const;
    int BytesDone() const;
    int GetData(void* buffer, int length);
    std::string LastError() const;

    uint32_t m_magic = kMagic;
    const int m_direction;

protected:
    // Backend: open the stream (not running), run, pause, close. The block
    // time may be replaced by the one the backend uses.
    virtual bool OpenStream(int* blockMs) = 0;
    virtual bool StartStream() = 0;
    virtual void StopStream() = 0;
    virtual void CloseStream() = 0;

    // Backend thread: playback takes from the ring, capture puts into it.
    int Pull(uint8_t* dst, int bytes);
    int Push(const uint8_t* src, int bytes);
    void SetError(const std::string& text);
    int Fill() const;

    int BytesPerMs() const { return 96 * m_channels; }  // 48000 Hz, 16 bits

    int m_blockMs = 0;
    int m_channels = 2;
    bool m_open = false;
    bool m_running = false;

private:
    bool Allocate(int blockMs, int bufferCount);  // before the stream runs

    std::unique_ptr<uint8_t[]> m_ring;
    uint32_t m_size = 0;   // a power of two
    int m_capacity = 0;    // bytes the ring may hold
    std::atomic<uint32_t> m_write{0};
    std::atomic<uint32_t> m_read{0};
    mutable std::mutex m_errorLock;  // the text only; never taken on the audio path
    std::string m_error;
};

// Virtual backend.
void VirtualEndpointsLoad();
std::vector<std::string> VirtualEndpointNames();
bool VirtualEndpointVolume(const std::string& name, int direction, float* get, const float* set);
CAuxletClient* VirtualEndpointClient(const std::string& name, int direction);

// PulseAudio backend; false when no server answers.
bool PulseListEndpoints(int direction, std::vector<std::string>* names, int* defaultIndex);
bool PulseVolume(const std::string& name, int direction, float* get, const float* set);
CAuxletClient* PulseClient(const std::string& name, int direction);
