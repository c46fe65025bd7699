#include <algorithm>
#include <cstring>
#include <new>

#include "platform/AuxletBackend.h"

int CAuxletClient::Open(int blockMs, int bufferCount, int channels) {
    if (m_open) return 1;
    if (blockMs < 1 || blockMs > 1000 || bufferCount < 1 || bufferCount > 1000 || channels < 1 || channels > 2 ||
        (m_direction == 0 && channels != 2)) {
        SetError("Unsupported block time, buffer count or channel count.");
        return 0;
    }
    m_channels = channels;
    int actual = blockMs;
    if (!Allocate(blockMs, bufferCount)) return 0;
    if (!OpenStream(&actual)) {
        m_ring.reset();
        return 0;
    }
    // A stream that runs another block time queues as many of its own blocks.
    if (actual != blockMs && !Allocate(actual, bufferCount)) {
        CloseStream();
        return 0;
    }
    m_blockMs = actual;
    m_open = true;
    return 1;
}

bool CAuxletClient::Allocate(int blockMs, int bufferCount) {
    // Playback queues the blocks asked for; capture keeps at least a quarter
    // second, so that a late reader loses nothing.
    const int64_t asked = int64_t{bufferCount} * blockMs * BytesPerMs();
    const int64_t bytes = m_direction == 0 ? asked : std::max<int64_t>(asked, 250 * BytesPerMs());
    uint32_t size = 1;
    while (size < bytes) size <<= 1;
    m_ring.reset(new (std::nothrow) uint8_t[size]());
    if (!m_ring) {
        SetError("Not enough memory.");
        return false;
    }
    m_size = size;
    m_capacity = static_cast<int>(std::min<int64_t>(bytes, size));
    m_write.store(0, std::memory_order_relaxed);
    m_read.store(0, std::memory_order_relaxed);
    return true;
}

int CAuxletClient::Start() {
    if (!m_open) {
        SetError("The stream is not open.");
        return 0;
    }
    if (m_running) return 1;
    if (!StartStream()) return 0;
    m_running = true;
    return 1;
}

void CAuxletClient::Stop() {
    if (!m_running) return;
    StopStream();
    m_running = false;
}

void CAuxletClient::Close() {
    Stop();
    if (!m_open) return;
    CloseStream();  // the backend's thread is gone afterwards
    m_open = false;
    m_ring.reset();
    m_size = 0;
}

int CAuxletClient::Fill() const {
    return static_cast<int>(m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire));
}

int CAuxletClient::AddData(const void* pcm, int length) {
    if (!m_open || m_direction != 0 || pcm == nullptr || length <= 0) {
        SetError("No playback stream is open.");
        return 0;
    }
    if (length > BytesFree()) {
        SetError("The playback queue is full.");
        return 0;
    }
    const uint32_t w = m_write.load(std::memory_order_relaxed);  // ours
    const auto* src = static_cast<const uint8_t*>(pcm);
    for (int i = 0; i < length;) {
        const uint32_t at = (w + static_cast<uint32_t>(i)) & (m_size - 1);
        const int n = std::min(length - i, static_cast<int>(m_size - at));
        std::memcpy(m_ring.get() + at, src + i, static_cast<size_t>(n));
        i += n;
    }
    m_write.store(w + static_cast<uint32_t>(length), std::memory_order_release);  // bytes before index
    return length;
}

int CAuxletClient::BytesFree() const {
    if (!m_open || m_direction != 0) return 0;
    return std::max(0, m_capacity - Fill());
}

int CAuxletClient::BytesBuffered() const {
    if (!m_open || m_direction != 0) return 0;
    // The ring is the elastic part; the server's own latency stays fixed.
    return Fill();
}

int CAuxletClient::BytesDone() const {
    if (!m_open || m_direction != 1) return 0;
    return Fill();
}

int CAuxletClient::GetData(void* buffer, int length) {
    if (!m_open || m_direction != 1 || buffer == nullptr || length <= 0) {
        SetError("No capture stream is open.");
        return 0;
    }
    const uint32_t r = m_read.load(std::memory_order_relaxed);  // ours
    const int n = std::min(length, Fill());
    auto* dst = static_cast<uint8_t*>(buffer);
    for (int i = 0; i < n;) {
        const uint32_t at = (r + static_cast<uint32_t>(i)) & (m_size - 1);
        const int k = std::min(n - i, static_cast<int>(m_size - at));
        std::memcpy(dst + i, m_ring.get() + at, static_cast<size_t>(k));
        i += k;
    }
    m_read.store(r + static_cast<uint32_t>(n), std::memory_order_release);
    return n;
}

int CAuxletClient::Pull(uint8_t* dst, int bytes) {
    const uint32_t r = m_read.load(std::memory_order_relaxed);
    const uint32_t w = m_write.load(std::memory_order_acquire);  // pairs with AddData
    const int n = std::min(bytes, static_cast<int>(w - r));
    for (int i = 0; i < n;) {
        const uint32_t at = (r + static_cast<uint32_t>(i)) & (m_size - 1);
        const int k = std::min(n - i, static_cast<int>(m_size - at));
        std::memcpy(dst + i, m_ring.get() + at, static_cast<size_t>(k));
        i += k;
    }
    m_read.store(r + static_cast<uint32_t>(n), std::memory_order_release);
    return n;
}

int CAuxletClient::Push(const uint8_t* src, int bytes) {
    const uint32_t w = m_write.load(std::memory_order_relaxed);
    const uint32_t r = m_read.load(std::memory_order_acquire);  // pairs with GetData
    const int n = std::min(bytes, m_capacity - static_cast<int>(w - r));
    for (int i = 0; i < n;) {
        const uint32_t at = (w + static_cast<uint32_t>(i)) & (m_size - 1);
        const int k = std::min(n - i, static_cast<int>(m_size - at));
        std::memcpy(m_ring.get() + at, src + i, static_cast<size_t>(k));
        i += k;
    }
    m_write.store(w + static_cast<uint32_t>(n), std::memory_order_release);
    return n;
}

void CAuxletClient::SetError(const std::string& text) {
    std::lock_guard lock(m_errorLock);
    m_error = text;
}

std::string CAuxletClient::LastError() const {
    std::lock_guard lock(m_errorLock);
    return m_error;
}
