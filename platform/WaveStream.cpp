#include "platform/WaveStream.h"

#include <cstring>

namespace {
std::atomic_ref<DWORD> Flags(WAVEHDR* h) { return std::atomic_ref<DWORD>(h->dwFlags); }
}  // namespace

bool IsWaveStream(HWAVE h) { return h != nullptr && h->m_magic == CWaveStream::kMagic; }

CWaveStream::CWaveStream(bool output, int rate, int channels, WaveCallback callback, DWORD_PTR instance)
    : m_output(output), m_rate(rate), m_channels(channels), m_callback(callback), m_instance(instance) {}

CWaveStream::~CWaveStream() {
    StopThread();
    m_magic = 0;
}

void CWaveStream::StartThread() {
    m_thread = std::thread([this] { Run(); });
}

void CWaveStream::StopThread() {
    if (!m_thread.joinable()) return;
    m_stop.store(1, std::memory_order_release);
    Wake();
    m_thread.join();
}

void CWaveStream::Wake() {
    m_event.fetch_add(1, std::memory_order_acq_rel);
    m_event.notify_all();
}

MMRESULT CWaveStream::Submit(WAVEHDR* hdr) {
    const uint32_t w = m_ringWrite.load(std::memory_order_relaxed);  // ours
    const uint32_t r = m_ringRead.load(std::memory_order_acquire);   // pairs with Complete
    if (w - r >= kRingSize) return MMSYSERR_NOMEM;
    Flags(hdr).fetch_and(~WHDR_DONE, std::memory_order_relaxed);
    Flags(hdr).fetch_or(WHDR_INQUEUE, std::memory_order_relaxed);
    if (!m_output) std::atomic_ref<DWORD>(hdr->dwBytesRecorded).store(0, std::memory_order_relaxed);
    m_ring[w % kRingSize] = hdr;
    m_ringWrite.store(w + 1, std::memory_order_release);  // header and data before index
    Wake();
    return MMSYSERR_NOERROR;
}

bool CWaveStream::HasQueued() const {
    return m_ringWrite.load(std::memory_order_acquire) != m_ringRead.load(std::memory_order_acquire);
}

void CWaveStream::Reset() {
    m_resetRequest.store(1, std::memory_order_release);
    Wake();
    while (m_resetRequest.load(std::memory_order_acquire) != 0) m_resetRequest.wait(1, std::memory_order_acquire);
}

void CWaveStream::SetPaused(bool paused) {
    m_paused.store(paused ? 1 : 0, std::memory_order_release);
    Wake();
}

void CWaveStream::SetStarted(bool started) {
    m_started.store(started ? 1 : 0, std::memory_order_release);
    Wake();
}

void CWaveStream::Complete(WAVEHDR* hdr, DWORD recorded) {
    if (!m_output) std::atomic_ref<DWORD>(hdr->dwBytesRecorded).store(recorded, std::memory_order_relaxed);
    Flags(hdr).fetch_and(~WHDR_INQUEUE, std::memory_order_relaxed);
    Flags(hdr).fetch_or(WHDR_DONE, std::memory_order_release);  // samples before the flag
    m_offset = 0;
    // Advance before the callback: the block is the application's from here on.
    const uint32_t r = m_ringRead.load(std::memory_order_relaxed);
    m_ringRead.store(r + 1, std::memory_order_release);
    if (m_callback) m_callback(this, m_output ? MM_WOM_DONE : MM_WIM_DATA, m_instance, reinterpret_cast<DWORD_PTR>(hdr), 0);
}

void CWaveStream::ServiceCommands() {
    if (m_resetRequest.load(std::memory_order_acquire) == 0) return;
    for (;;) {
        const uint32_t r = m_ringRead.load(std::memory_order_relaxed);
        if (r == m_ringWrite.load(std::memory_order_acquire)) break;
        Complete(m_ring[r % kRingSize], m_offset);
    }
    m_resetRequest.store(0, std::memory_order_release);
    m_resetRequest.notify_all();
}

int CWaveStream::PullOutput(int16_t* dst, int frames) {
    const size_t frameBytes = static_cast<size_t>(m_channels) * 2;
    std::memset(dst, 0, frameBytes * static_cast<size_t>(frames));
    if (m_paused.load(std::memory_order_acquire)) return 0;
    int done = 0;
    while (done < frames) {
        const uint32_t r = m_ringRead.load(std::memory_order_relaxed);
        if (r == m_ringWrite.load(std::memory_order_acquire)) break;
        WAVEHDR* hdr = m_ring[r % kRingSize];
        const uint32_t length = hdr->dwBufferLength - hdr->dwBufferLength % frameBytes;
        const uint32_t take = std::min<uint32_t>(length - std::min(m_offset, length),
                                                 static_cast<uint32_t>((frames - done) * frameBytes));
        std::memcpy(reinterpret_cast<char*>(dst) + done * frameBytes, hdr->lpData + m_offset, take);
        m_offset += take;
        done += static_cast<int>(take / frameBytes);
        if (m_offset >= length) Complete(hdr, 0);
    }
    return done;
}

int CWaveStream::PushInput(const int16_t* src, int frames) {
    const size_t frameBytes = static_cast<size_t>(m_channels) * 2;
    int done = 0;
    while (done < frames) {
        const uint32_t r = m_ringRead.load(std::memory_order_relaxed);
        if (r == m_ringWrite.load(std::memory_order_acquire)) break;
        WAVEHDR* hdr = m_ring[r % kRingSize];
        const uint32_t length = hdr->dwBufferLength - hdr->dwBufferLength % frameBytes;
        const uint32_t take = std::min<uint32_t>(length - std::min(m_offset, length),
                                                 static_cast<uint32_t>((frames - done) * frameBytes));
        std::memcpy(hdr->lpData + m_offset, reinterpret_cast<const char*>(src) + done * frameBytes, take);
        m_offset += take;
        done += static_cast<int>(take / frameBytes);
        if (m_offset >= length) Complete(hdr, length);
    }
    return done;
}
