#include "audio/WaveOutDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/WaveDeviceInfo.h"
#include "common/Codes.h"

namespace {

constexpr DWORD_PTR kStateMask = 3;
constexpr DWORD_PTR kFree = 0, kFilling = 1, kQueued = 2, kPlayed = 3;

DWORD_PTR State(const WAVEHDR& h) { return WaveHeaderLoadUser(&h) & kStateMask; }

int16_t Clamp16(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

}  // namespace

int StretchByOneFrame(int16_t* s, int bytes, int channels) {
    const int n = bytes / 2;
    if (channels == 1) {
        if (n < 2) return bytes;
        int best = 0, bestDiff = INT32_MAX;
        for (int i = 0; i + 1 < n; ++i) {
            const int d = std::abs(s[i] - s[i + 1]);
            if (d < bestDiff) bestDiff = d, best = i;
        }
        const int16_t mid = static_cast<int16_t>((s[best] + s[best + 1]) / 2);
        std::memmove(s + best + 2, s + best + 1, static_cast<size_t>(n - best - 1) * 2);
        s[best + 1] = mid;
        return bytes + 2;
    }
    if (n < 4) return bytes;
    int best = 0, bestDiff = INT32_MAX;
    for (int k = 0; k + 2 < n; ++k) {
        const int d = std::abs(s[k] - s[k + 2]);
        if (d < bestDiff) bestDiff = d, best = k;
    }
    const int frame = best / 2;  // the new frame goes after this one
    const int after = 2 * (frame + 1);
    const int16_t l = static_cast<int16_t>((s[2 * frame] + s[after < n ? after : 2 * frame]) / 2);
    const int16_t r = static_cast<int16_t>((s[2 * frame + 1] + s[after + 1 < n ? after + 1 : 2 * frame + 1]) / 2);
    std::memmove(s + after + 2, s + after, static_cast<size_t>(n - after) * 2);
    s[after] = l;
    s[after + 1] = r;
    return bytes + 4;
}

CWaveOutDevice::~CWaveOutDevice() { Close(); }

void CWaveOutDevice::OnDone(HWAVE, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    // Device thread: two relaxed stores and the header's word, nothing else.
    if (msg != MM_WOM_DONE) return;
    auto* self = reinterpret_cast<CWaveOutDevice*>(instance);
    auto* hdr = reinterpret_cast<WAVEHDR*>(param1);
    const DWORD_PTR word = WaveHeaderLoadUser(hdr);
    self->m_levelLeft.store(UnpackLeft(word), std::memory_order_relaxed);
    self->m_levelRight.store(UnpackRight(word), std::memory_order_relaxed);
    WaveHeaderStoreUser(hdr, (word & ~kStateMask) | kPlayed);
}

int CWaveOutDevice::Allocate(int blockTimeMs, int srcOn) {
    m_srcOn = srcOn;
    m_headerCount = kHeaders;
    // Clamped like the input side: a negative setting can never make a block of 0 bytes or less.
    m_blockMs = std::max(blockTimeMs, 0) + 12;
    m_fifoCapacity = kMaxFifo;
    m_fifo.reset(new (std::nothrow) uint8_t[kMaxFifo + 8192]());
    m_blockData.reset(new (std::nothrow) uint8_t[static_cast<size_t>(kHeaders) * kBlockRegion]());
    m_monitor.reset(new (std::nothrow) uint8_t[kMonitorBytes]());
    if (!m_fifo || !m_blockData || !m_monitor) return 0;
    for (auto& h : m_headers) h = WAVEHDR{};
    Resize();
    return 1;
}

void CWaveOutDevice::SetFormat(int rate, int deviceMode) {
    m_rate = rate;
    m_channels = (deviceMode >= DEVICEMODE_STEREO && deviceMode <= DEVICEMODE_DUAL_MONO) ? 2 : 1;
    Resize();
}

void CWaveOutDevice::Resize() {
    m_blockBytes = m_channels * m_blockMs * 96;
    if (m_blockBytes > 8160) m_blockBytes = 8192;
    m_writeThreshold = m_channels * 2304;
    int capacity;
    if (m_mode == 0) {
        m_headerCount = 5;
        capacity = 2 * m_blockBytes;
    } else {
        m_headerCount = kHeaders;
        capacity = kHeaders * m_blockBytes;
    }
    capacity = std::max(capacity, m_writeThreshold + 2 * m_blockBytes);
    m_fifoCapacity = std::min(capacity, kMaxFifo);
    if (m_fifoFill > m_fifoCapacity) {  // a smaller FIFO keeps its newest audio
        m_droppedFrames += (m_fifoFill - m_fifoCapacity) / FrameBytes();
        TakeFront(m_fifoFill - m_fifoCapacity);
    }
}

void CWaveOutDevice::SetLevel(int x) {
    if (x < 0) {
        m_gainOn = 1;
        m_gainFactor = std::exp2(0.1 * std::abs(x) * M_LOG2E);
    } else {
        m_gainOn = 0;
        m_gainFactor = 1.0;
    }
}

void CWaveOutDevice::Reset(int mute) {
    if (m_muted && !mute) m_silenceBlocks = 10;
    m_muted = mute;
    if (m_fifo) std::memset(m_fifo.get() + kMaxFifo, 0, 8192);
}

void CWaveOutDevice::SetBufferingMode(int mode, int adjust) {
    if (mode != m_mode || !m_started) {
        m_mode = mode;
        Resize();
    }
    if (m_mode == 20 && !m_paused && adjust != 0 && m_drift == 0) {
        m_drift = adjust > 0 ? m_blockBytes + m_blockBytes / 4 : -m_blockBytes;
    }
}

int CWaveOutDevice::Open() {
    if (m_handle) return 1;
    if (!m_fifo || !m_blockData) return 0;
    for (int i = 0; i < kHeaders; ++i) {
        m_headers[i] = WAVEHDR{};
        m_headers[i].lpData = reinterpret_cast<char*>(m_blockData.get() + static_cast<size_t>(i) * kBlockRegion);
        m_headerFill[i] = 0;
    }
    int deviceRate = m_rate;
    if (m_srcOn) {
        deviceRate = 48000;
        if (!m_playConverter.Init(m_rate, m_channels, 48000, m_channels, 96)) {
            // A pair the converter cannot build fails here, with a reason.
            m_lastResult = WAVERR_BADFORMAT;
            return 0;
        }
    }
    const WAVEFORMATEX f = MakePcmFormat(deviceRate, m_channels);
    const UINT id = m_card < 0 ? WAVE_MAPPER : static_cast<UINT>(m_card);
    const auto cb = reinterpret_cast<DWORD_PTR>(&CWaveOutDevice::OnDone);
    const auto self = reinterpret_cast<DWORD_PTR>(this);
    m_lastResult = waveOutOpen(&m_handle, id, &f, cb, self, CALLBACK_FUNCTION | WAVE_FORMAT_DIRECT);
    if (m_lastResult != MMSYSERR_NOERROR)
        m_lastResult = waveOutOpen(&m_handle, id, &f, cb, self, CALLBACK_FUNCTION | WAVE_MAPPED);
    if (m_lastResult != MMSYSERR_NOERROR) {
        m_handle = nullptr;
        return 0;
    }
    m_silenceBlocks = m_mode == 30 ? 0 : 10;
    m_fifoFill = m_monitorFill = 0;
    m_paused = m_started = m_monitorPrimed = m_restartPending = 0;
    m_drift = 0;
    m_levelLeft.store(0, std::memory_order_relaxed);
    m_levelRight.store(0, std::memory_order_relaxed);
    m_insertedFrames = m_droppedFrames = 0;
    return 1;
}

int CWaveOutDevice::Pause() {
    if (!m_handle) return 0;
    if (!m_paused) waveOutPause(m_handle);
    m_paused = 1;
    return 1;
}

int CWaveOutDevice::Restart() {
    if (!m_handle) return 0;
    if (m_paused) waveOutRestart(m_handle);
    m_paused = 0;
    m_restartPending = 0;
    return 1;
}

void CWaveOutDevice::Close() {
    if (m_handle) {
        waveOutReset(m_handle);  // every queued block comes back before this returns
        for (auto& h : m_headers)
            if (WaveHeaderLoadFlags(&h) & WHDR_PREPARED) waveOutUnprepareHeader(m_handle, &h, sizeof h);
        waveOutClose(m_handle);
        m_handle = nullptr;
    }
    for (auto& h : m_headers) WaveHeaderStoreUser(&h, 0);
    m_silenceBlocks = m_paused = m_started = 0;
    m_levelLeft.store(0, std::memory_order_relaxed);
    m_levelRight.store(0, std::memory_order_relaxed);
    m_mode = -1;
}

void CWaveOutDevice::TakeFront(int bytes) {
    bytes = std::min(bytes, m_fifoFill);
    if (bytes <= 0) return;
    std::memmove(m_fifo.get(), m_fifo.get() + bytes, static_cast<size_t>(m_fifoFill - bytes));
    m_fifoFill -= bytes;
}

int CWaveOutDevice::CountQueued() {
    int queued = 0;
    for (int i = 0; i < kHeaders; ++i) {
        WAVEHDR& h = m_headers[i];
        const DWORD_PTR s = State(h);
        if (s == kPlayed) {
            waveOutUnprepareHeader(m_handle, &h, sizeof h);
            WaveHeaderStoreUser(&h, kFree);
            m_headerFill[i] = 0;
        } else if (s == kQueued) {
            ++queued;
        }
    }
    if (queued == 0 && m_fifoFill == 0 && m_started && m_blockBytes <= m_fifoCapacity) {
        // Nothing left to play: a block of silence keeps the device running.
        std::memset(m_fifo.get(), 0, static_cast<size_t>(m_blockBytes));
        m_fifoFill = m_blockBytes;
        m_insertedFrames += m_blockBytes / FrameBytes();
    }
    return queued;
}

void CWaveOutDevice::Service() {
    if (!m_handle) return;
    if (!m_started) {
        if (m_mode != 0 && m_mode != 30) {
            Pause();
            m_restartPending = 1;
        } else if (m_fifoFill < 2 * m_blockBytes && m_fifoFill + m_blockBytes <= m_fifoCapacity) {
            return;
        }
        m_started = 1;
    }
    int queued = CountQueued();
    if (m_mode == 30) {
        while (m_fifoFill >= m_blockBytes) {
            const int before = m_fifoFill;
            QueueBlock(false);
            if (m_fifoFill == before) break;  // no free header
        }
        return;
    }
    if (m_fifoFill >= m_blockBytes && QueueBlock(false)) ++queued;
    if (m_mode == 0 && !m_muted && queued < 3) QueueBlock(true);
}

int CWaveOutDevice::WriteRoom() {
    if (!m_handle) return 0;
    const int queued = CountQueued();
    int room = m_fifoCapacity - m_fifoFill;
    if (room >= m_writeThreshold) return room;
    if (m_mode == 10 && m_restartPending) {
        Restart();
        return room;
    }
    if (m_mode == 20 || m_mode == 30) return room;
    if (queued >= 3) {
        const int missing = m_writeThreshold - room;
        if (m_muted) {
            m_droppedFrames += missing / FrameBytes();
            TakeFront(missing - missing % FrameBytes());
            room = m_fifoCapacity - m_fifoFill;
        } else if (m_drift >= 0) {
            m_drift = -missing;
        }
    }
    return room;
}

bool CWaveOutDevice::QueueBlock(bool underrun) {
    int index = -1;
    for (int i = 0; i < kHeaders && index < 0; ++i)
        if (State(m_headers[i]) == kFilling) index = i;
    for (int i = 0; i < m_headerCount && index < 0; ++i) {
        const DWORD_PTR s = State(m_headers[i]);
        if (s == kPlayed) {
            waveOutUnprepareHeader(m_handle, &m_headers[i], sizeof(WAVEHDR));
            WaveHeaderStoreUser(&m_headers[i], kFree);
            m_headerFill[i] = 0;
        }
        if (State(m_headers[i]) == kFree) index = i;
    }
    if (index < 0) return false;
    if (m_mode != 0 && m_fifoFill < m_blockBytes && m_headerFill[index] == 0) {
        Pause();
        return false;
    }
    WAVEHDR& h = m_headers[index];
    WaveHeaderStoreUser(&h, kFilling);
    uint8_t* data = reinterpret_cast<uint8_t*>(h.lpData);
    const int held = m_headerFill[index];
    const int take = std::min(m_blockBytes - held, m_fifoFill);
    if (m_muted) {
        std::memset(data + held, 0, static_cast<size_t>(take));
    } else {
        std::memcpy(data + held, m_fifo.get(), static_cast<size_t>(take));
    }
    TakeFront(take);
    m_headerFill[index] = held + take;
    if (m_silenceBlocks > 0) {
        --m_silenceBlocks;
        if (underrun) {
            std::memset(data, 0, static_cast<size_t>(m_blockBytes));
        } else {
            std::memset(data + held, 0, static_cast<size_t>(take));
        }
    }
    if (underrun && m_headerFill[index] < m_blockBytes && m_drift < 1) m_drift = m_blockBytes / 2;
    if (m_headerFill[index] >= m_blockBytes) {
        std::memcpy(m_fifo.get() + kMaxFifo, data, static_cast<size_t>(m_blockBytes));
        Submit(index);
        return true;
    }
    return false;
}

void CWaveOutDevice::Submit(int index) {
    WAVEHDR& h = m_headers[index];
    auto* s = reinterpret_cast<int16_t*>(h.lpData);
    int bytes = m_headerFill[index];
    int n = bytes / 2;
    int left = 0, right = 0;
    if (m_channels == 1) {
        for (int i = 0; i < n; ++i) left = std::max(left, std::abs(int(s[i])));
        right = left;
    } else {
        for (int i = 0; i + 1 < n; i += 2) {
            left = std::max(left, std::abs(int(s[i])));
            right = std::max(right, std::abs(int(s[i + 1])));
        }
    }
    const DWORD_PTR levels = PackLevels(std::min(left, 32768), std::min(right, 32768));
    if (m_monitorPrimed) {
        const int mix = std::min(m_monitorFill, bytes);
        const auto* m = reinterpret_cast<const int16_t*>(m_monitor.get());
        for (int i = 0; i < mix / 2; ++i) s[i] = Clamp16(s[i] + m[i]);
        std::memmove(m_monitor.get(), m_monitor.get() + mix, static_cast<size_t>(m_monitorFill - mix));
        m_monitorFill -= mix;
        if (m_monitorFill == 0) m_monitorPrimed = 0;
    }
    if (m_drift < 0) {
        ++m_drift;
        bytes -= FrameBytes();
        ++m_droppedFrames;
    } else if (m_drift > 0) {
        --m_drift;
        bytes = StretchByOneFrame(s, bytes, m_channels);
        ++m_insertedFrames;
    }
    n = bytes / 2;
    if (m_gainOn) {
        for (int i = 0; i < n; ++i) s[i] = static_cast<int16_t>(s[i] / m_gainFactor);
    }
    h.dwBufferLength = static_cast<DWORD>(bytes);
    m_headerFill[index] = 0;
    WaveHeaderStoreUser(&h, levels | kQueued);
    waveOutPrepareHeader(m_handle, &h, sizeof h);
    waveOutWrite(m_handle, &h, sizeof h);
    if (m_paused) waveOutPause(m_handle);
}

int CWaveOutDevice::Write(const int16_t* pcm, int bytes) {
    if (pcm == nullptr || bytes <= 0 || !m_fifo) return 0;
    Service();
    const int room = WriteRoom();
    if (room <= 0) return 0;
    if (m_srcOn) {
        int consumed = 0;
        const int out = m_playConverter.Convert(pcm, bytes, &consumed,
                                                reinterpret_cast<int16_t*>(m_fifo.get() + m_fifoFill), room);
        m_fifoFill += out;
        return consumed;
    }
    int n = std::min(bytes, room);
    n -= n % FrameBytes();
    std::memcpy(m_fifo.get() + m_fifoFill, pcm, static_cast<size_t>(n));
    m_fifoFill += n;
    return n;
}

int CWaveOutDevice::SetMonitorFormat(int rate, int deviceMode) {
    if (!m_handle) return 0;
    const int channels = deviceMode == DEVICEMODE_MONO ? 1 : 2;
    const int deviceRate = m_srcOn ? 48000 : m_rate;
    m_monitorConverting = 0;
    if (channels != m_channels || rate != deviceRate) {
        if (!m_monitorConverter.Init(rate, channels, deviceRate, m_channels, 96)) return 0;
        m_monitorConverting = 1;
    }
    return 1;
}

int CWaveOutDevice::WriteMonitor(const int16_t* pcm, int bytes) {
    if (!m_handle || !m_monitor || pcm == nullptr || bytes <= 0) return 0;
    const int room = kMonitorBytes - m_monitorFill;
    auto* dst = reinterpret_cast<int16_t*>(m_monitor.get() + m_monitorFill);
    int consumed = 0, out = 0;
    if (m_monitorConverting) {
        out = m_monitorConverter.Convert(pcm, bytes, &consumed, dst, room);
    } else {
        out = std::min(bytes, room) & ~3;
        std::memcpy(dst, pcm, static_cast<size_t>(out));
        consumed = out;
    }
    m_monitorFill += out;
    if (m_monitorFill > 3 * m_blockBytes) m_monitorPrimed = 1;
    return consumed;
}

void CWaveOutDevice::GetLevels(int* left, int* right) const {
    if (m_paused) return;
    if (left) *left = m_levelLeft.load(std::memory_order_relaxed);
    if (right) *right = m_levelRight.load(std::memory_order_relaxed);
}

int CWaveOutDevice::GetQueued() {
    if (!m_handle) return 0;
    if (m_fifoFill >= m_blockBytes) return m_fifoFill;
    for (const auto& h : m_headers)
        if (State(h) == kQueued) return m_blockBytes;
    return 0;
}

const char* CWaveOutDevice::GetErrorText() {
    m_errorText = WaveOpenErrorText(true, m_lastResult, m_translator);
    return m_errorText.empty() ? nullptr : m_errorText.c_str();
}
