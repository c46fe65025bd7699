#include "audio/ClipPlayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "common/Codes.h"
#include "platform/ThreadPriority.h"

namespace {

constexpr int kClipRate = 48000;
constexpr int kConverterTaps = 128;
constexpr int kIdleWaitMs = 50;
constexpr int kBlocksPerWake = 8;

}  // namespace

CClipPlayer::~CClipPlayer() {
    // The thread ends before anything it uses is freed.
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_wakeLock);
            m_running.store(0, std::memory_order_release);
        }
        m_wake.notify_all();
        m_thread.join();
    }
}

int CClipPlayer::ChannelsOfName(const std::string& name) {
    if (name.size() < 4) return 1;
    const char c = name[name.size() - 4];
    return c == 's' || c == 'S' ? 2 : 1;
}

int CClipPlayer::Start(int fastFlag) {
    if (m_thread.joinable()) return 1;
    m_fastFlag = fastFlag;
    m_buffer.reset(new (std::nothrow) uint8_t[kRingBytes + kConvertedBytes + kFileBlockBytes]);
    if (!m_buffer) return 0;
    m_ring = m_buffer.get();
    m_converted = m_ring + kRingBytes;
    m_fileBlock = m_converted + kConvertedBytes;
    m_clipOpen.store(0);
    m_running.store(1);
    m_command.store(0);
    m_threadEnded.store(0);
    m_thread = std::thread([this] { ThreadMain(); });
    return 1;
}

void CClipPlayer::SetFileName(const char* path) {
    std::lock_guard<std::mutex> lock(m_nameLock);
    m_requestedName = path ? path : "";
}

void CClipPlayer::ClearLevels() {
    m_levelLeft.store(0, std::memory_order_relaxed);
    m_levelRight.store(0, std::memory_order_relaxed);
}

bool CClipPlayer::WaitForCommandSlot() {
    std::unique_lock<std::mutex> lock(m_wakeLock);
    return m_slotFree.wait_for(lock, std::chrono::milliseconds(kCommandWaitMs),
                               [this] { return m_command.load(std::memory_order_acquire) <= 0; });
}

int CClipPlayer::PostCommand(int command) {
    if (!m_thread.joinable()) return 0;
    {
        std::unique_lock<std::mutex> lock(m_wakeLock);
        if (!m_slotFree.wait_for(lock, std::chrono::milliseconds(kCommandWaitMs),
                                 [this] { return m_command.load(std::memory_order_acquire) == 0; }))
            return 0;
        m_command.store(command, std::memory_order_release);
    }
    m_wake.notify_all();
    return 1;
}

void CClipPlayer::SetOutputFormat(int rate, int deviceMode) {
    // The format words are the command's argument: they change only while the slot is free.
    WaitForCommandSlot();
    m_outRate.store(rate, std::memory_order_relaxed);
    m_outChannels.store(deviceMode == DEVICEMODE_MONO ? 1 : 2, std::memory_order_relaxed);
    PostCommand(kClipCommandFormat);
}

int CClipPlayer::GetLengthMs() {
    WaitForCommandSlot();
    return m_lengthMs.load(std::memory_order_acquire);
}

int CClipPlayer::GetChannels() {
    WaitForCommandSlot();
    return m_outChannels.load(std::memory_order_acquire);
}

void CClipPlayer::GetLevels(int* left, int* right) {
    if (left) *left = m_levelLeft.load(std::memory_order_relaxed);
    if (right) *right = m_levelRight.load(std::memory_order_relaxed);
}

void CClipPlayer::SetGain(int on, double factor) {
    m_gain.store(factor > 0 ? factor : 1.0, std::memory_order_relaxed);
    m_gainOn.store(on, std::memory_order_relaxed);
}

int CClipPlayer::GetRingFill() const {
    return static_cast<int>(m_ringWrite.load(std::memory_order_acquire) - m_ringRead.load(std::memory_order_acquire));
}

int CClipPlayer::IsFinished() {
    if (m_formatFailed.load(std::memory_order_acquire)) return 1;
    // The end first: the player stores the last block's bytes before it, and
    // the ring's bytes before lowering `pending`.
    if (!m_endOfFile.load(std::memory_order_acquire)) return 0;
    if (m_pending.load(std::memory_order_acquire) > 0) return 0;
    return GetRingFill() > kFinishedRingBytes ? 0 : 1;
}

// ---- the engine's side ----

int CClipPlayer::Read(int16_t* dst, int bytes) {
    if (dst == nullptr || bytes <= 0 || !m_primed.load(std::memory_order_acquire)) return 0;
    // Announce the read before looking at a reset; the player's side does the reverse.
    m_reading.store(1, std::memory_order_seq_cst);
    if (m_resetting.load(std::memory_order_seq_cst)) {
        m_reading.store(0, std::memory_order_seq_cst);
        return 0;
    }
    const uint32_t r = m_ringRead.load(std::memory_order_relaxed);
    const uint32_t w = m_ringWrite.load(std::memory_order_acquire);
    const int n = std::min(static_cast<int>(w - r), bytes) & ~1;
    if (n > 0) {
        const int at = static_cast<int>(r % kRingBytes);
        const int first = std::min(n, kRingBytes - at);
        auto* out = reinterpret_cast<uint8_t*>(dst);
        std::memcpy(out, m_ring + at, static_cast<size_t>(first));
        std::memcpy(out + first, m_ring, static_cast<size_t>(n - first));
        m_ringRead.store(r + static_cast<uint32_t>(n), std::memory_order_release);
    }
    m_reading.store(0, std::memory_order_seq_cst);
    if (n <= 0) return 0;
    // Half empty: wake the player's thread early (a futex wake, never a wait).
    if (GetRingFill() < kRingBytes / 2 && !m_fillWanted.exchange(1, std::memory_order_acq_rel)) m_wake.notify_one();

    const int samples = n / 2;
    if (m_gainOn.load(std::memory_order_relaxed)) {
        const double gain = m_gain.load(std::memory_order_relaxed);
        for (int i = 0; i < samples; ++i) dst[i] = static_cast<int16_t>(dst[i] / gain);  // toward zero
    }
    int left = 0;
    int right = 0;
    if (m_outChannels.load(std::memory_order_relaxed) == 2) {
        for (int i = 0; i + 1 < samples; i += 2) {
            left = std::max(left, std::abs(static_cast<int>(dst[i])));
            right = std::max(right, std::abs(static_cast<int>(dst[i + 1])));
        }
    } else {
        for (int i = 0; i < samples; ++i) left = std::max(left, std::abs(static_cast<int>(dst[i])));
        right = left;
    }
    m_levelLeft.store(left, std::memory_order_relaxed);
    m_levelRight.store(right, std::memory_order_relaxed);
    return n;
}

// ---- the player's thread ----

void CClipPlayer::ThreadMain() {
    LowerCurrentThreadForGood();
    while (m_running.load(std::memory_order_acquire)) {
        const int command = m_command.load(std::memory_order_acquire);
        if (command > 0) {
            Execute(command);
            {
                std::lock_guard<std::mutex> lock(m_wakeLock);
                m_command.store(0, std::memory_order_release);
            }
            m_slotFree.notify_all();
        }
        int waitMs = kIdleWaitMs;
        if (m_clipOpen.load(std::memory_order_relaxed)) {
            m_fillWanted.store(0, std::memory_order_relaxed);
            // Top the ring up while the converted blocks fit: a thread that
            // got little time catches up in one go.
            for (int i = 0; i < kBlocksPerWake; ++i) {
                FillRing();
                ReadAndConvert();
                if (m_pending.load(std::memory_order_relaxed) > RingFree() ||
                    m_endOfFile.load(std::memory_order_relaxed) || !m_formatReady)
                    break;
            }
            FillRing();
            waitMs = m_fastFlag ? 6 : 12;
        }
        std::unique_lock<std::mutex> lock(m_wakeLock);
        m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [this] {
            return m_command.load(std::memory_order_acquire) > 0 || !m_running.load(std::memory_order_acquire) ||
                   m_fillWanted.load(std::memory_order_acquire);
        });
    }
    {
        std::lock_guard<std::mutex> lock(m_wakeLock);
        m_command.store(-1, std::memory_order_release);
        m_threadEnded.store(1, std::memory_order_release);
    }
    m_slotFree.notify_all();
}

void CClipPlayer::Execute(int command) {
    switch (command) {
    case kClipCommandOpen: OpenClip(); break;
    case kClipCommandRewind: Rewind(); break;
    case kClipCommandClose: CloseClip(); break;
    case kClipCommandFormat: SetFormat(); break;
    default: break;
    }
}

void CClipPlayer::ResetRing() {
    m_resetting.store(1, std::memory_order_seq_cst);
    while (m_reading.load(std::memory_order_seq_cst)) std::this_thread::yield();
    m_ringRead.store(0, std::memory_order_relaxed);
    m_ringWrite.store(0, std::memory_order_release);
    m_resetting.store(0, std::memory_order_seq_cst);
}

void CClipPlayer::Rewind() {
    m_primed.store(0, std::memory_order_release);
    if (m_clipOpen.load(std::memory_order_relaxed)) m_file.Seek(0, 0);
    ResetRing();
    m_pending.store(0, std::memory_order_release);
    m_pendingOffset = 0;
    m_fileFill = 0;
    m_endOfFile.store(0, std::memory_order_release);
    // The filter starts again from silence, as at the first play.
    if (m_formatReady) SetFormat();
}

void CClipPlayer::CloseClip() {
    m_file.Close();
    m_lengthMs.store(0, std::memory_order_release);
    m_fileSize = 0;
    m_fileBlockBytes = 0;
    m_clipChannels.store(0, std::memory_order_relaxed);
    m_formatReady = 0;
    m_formatFailed.store(0, std::memory_order_release);
    m_clipOpen.store(0, std::memory_order_release);
    Rewind();
}

void CClipPlayer::OpenClip() {
    std::string requested;
    {
        std::lock_guard<std::mutex> lock(m_nameLock);
        requested = m_requestedName;
    }
    if (m_clipOpen.load(std::memory_order_relaxed) && requested == m_currentName) {
        Rewind();  // same clip, same format
        return;
    }
    CloseClip();
    if (!m_file.Open(requested.c_str(), FILEMODE_READ)) return;
    m_endOfFile.store(0, std::memory_order_release);
    m_formatReady = 0;
    m_currentName = requested;
    m_primed.store(m_fastFlag ? 1 : 0, std::memory_order_release);
    const int channels = ChannelsOfName(requested);
    m_clipChannels.store(channels, std::memory_order_relaxed);
    m_fileSize = m_file.GetSize();
    m_outChannels.store(channels, std::memory_order_release);
    m_outRate.store(kClipRate, std::memory_order_relaxed);
    m_lengthMs.store(static_cast<int>(m_fileSize / (channels * 96)), std::memory_order_release);
    m_clipOpen.store(1, std::memory_order_release);
}

void CClipPlayer::SetFormat() {
    const int clipChannels = m_clipChannels.load(std::memory_order_relaxed);
    if (clipChannels == 0) return;  // no clip: nothing to convert
    const int rate = m_outRate.load(std::memory_order_relaxed);
    const int channels = m_outChannels.load(std::memory_order_relaxed);
    if (!m_converter.Init(kClipRate, clipChannels, rate, channels, kConverterTaps)) {
        // Reported through IsFinished: the engine ends the clip instead of waiting for it.
        m_formatReady = 0;
        m_formatFailed.store(1, std::memory_order_release);
        return;
    }
    m_formatFailed.store(0, std::memory_order_release);
    // Whole sample frames of the clip, so the last partial read never splits one.
    m_fileBlockBytes = std::min(m_converter.GetInputLength(kConvertedBytes), kFileBlockBytes) & ~3;
    m_primeRoom = ((rate / 100) * channels * 24 / 5) & ~3;
    m_fileFill = 0;
    m_formatReady = 1;
}

void CClipPlayer::FillRing() {
    const int pending = m_pending.load(std::memory_order_relaxed);
    if (pending <= 0) return;
    const int n = std::min(pending, RingFree()) & ~1;
    if (n <= 0) return;
    const uint32_t w = m_ringWrite.load(std::memory_order_relaxed);
    const int at = static_cast<int>(w % kRingBytes);
    const int first = std::min(n, kRingBytes - at);
    std::memcpy(m_ring + at, m_converted + m_pendingOffset, static_cast<size_t>(first));
    std::memcpy(m_ring, m_converted + m_pendingOffset + first, static_cast<size_t>(n - first));
    m_ringWrite.store(w + static_cast<uint32_t>(n), std::memory_order_release);
    m_pendingOffset += n;
    m_pending.store(pending - n, std::memory_order_release);
}

void CClipPlayer::ReadAndConvert() {
    if (!m_formatReady || m_endOfFile.load(std::memory_order_relaxed)) return;
    if (m_pending.load(std::memory_order_relaxed) == 0) {
        const int want = m_fileBlockBytes - m_fileFill;
        const int got = want > 0 ? static_cast<int>(m_file.Read(m_fileBlock + m_fileFill, static_cast<DWORD>(want))) : 0;
        m_fileFill += got;
        const int frame = 2 * m_clipChannels.load(std::memory_order_relaxed);
        int input = m_fileFill - m_fileFill % frame;
        const bool atEnd = got <= 0 && input == 0;
        if (atEnd) {
            // The end: one block of silence lets the filter's tail out.
            std::memset(m_fileBlock, 0, static_cast<size_t>(m_fileBlockBytes));
            input = m_fileBlockBytes;
            m_fileFill = m_fileBlockBytes;
        }
        int consumed = 0;
        const int produced = m_converter.Convert(reinterpret_cast<const int16_t*>(m_fileBlock), input, &consumed,
                                                 reinterpret_cast<int16_t*>(m_converted), kConvertedBytes);
        m_fileFill -= consumed;
        std::memmove(m_fileBlock, m_fileBlock + consumed, static_cast<size_t>(m_fileFill));
        if (atEnd) m_fileFill = 0;
        m_pendingOffset = 0;
        m_pending.store(produced, std::memory_order_release);
        if (atEnd) m_endOfFile.store(1, std::memory_order_release);  // after the block it ends with
    }
    // A clip too short to fill the ring plays all the same once its end is read.
    if (!m_primed.load(std::memory_order_relaxed) &&
        (RingFree() <= m_primeRoom || m_endOfFile.load(std::memory_order_relaxed))) {
        if (m_pending.load(std::memory_order_relaxed) > 0 || m_endOfFile.load(std::memory_order_relaxed))
            m_primed.store(1, std::memory_order_release);
    }
}
