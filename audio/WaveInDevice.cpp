#include "audio/WaveInDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/WaveDeviceInfo.h"
#include "common/Codes.h"
#include "audio/WaveOutDevice.h"
#include "common/SharedState.h"

CWaveInDevice::~CWaveInDevice() { Close(); }

void CWaveInDevice::OnData(HWAVE, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    // Device thread: levels and the completion stamp; the block stays untouched.
    if (msg != MM_WIM_DATA) return;
    auto* self = reinterpret_cast<CWaveInDevice*>(instance);
    auto* hdr = reinterpret_cast<WAVEHDR*>(param1);
    const int n = static_cast<int>(WaveHeaderLoadRecorded(hdr)) / 2;
    const auto* s = reinterpret_cast<const int16_t*>(hdr->lpData);
    int left = 0, right = 0;
    if (self->m_deviceChannels == 1) {
        for (int i = 0; i < n; ++i) left = std::max(left, std::abs(int(s[i])));
        right = left;
    } else {
        for (int i = 0; i + 1 < n; i += 2) {
            left = std::max(left, std::abs(int(s[i])));
            right = std::max(right, std::abs(int(s[i + 1])));
        }
    }
    if (self->m_gainOn.load(std::memory_order_relaxed)) {
        const double g = self->m_gainFactor.load(std::memory_order_relaxed);
        left = static_cast<int>(std::min(left * g, 32768.0));
        right = static_cast<int>(std::min(right * g, 32768.0));
    }
    self->m_levelLeft.store(left, std::memory_order_relaxed);
    self->m_levelRight.store(right, std::memory_order_relaxed);
    const uint32_t stamp = self->m_completions.fetch_add(1, std::memory_order_relaxed) + 1;
    WaveHeaderStoreUser(hdr, stamp == 0 ? 1 : stamp);  // release: the samples are ready
}

int CWaveInDevice::Allocate(int blockTimeMs, int numBlocks, int srcOn) {
    m_srcOn = srcOn;
    m_blockMs = std::max(blockTimeMs, 0) + 14;
    m_numBlocks = std::clamp(numBlocks, 3, kMaxBlocks);
    m_maxBlockBytes = m_blockMs * 192;
    m_fifoCapacity = m_blockMs * 768;
    m_fifo.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_fifoCapacity)]());
    m_blockData.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_numBlocks) * (m_maxBlockBytes + 4)]());
    m_headers.reset(new (std::nothrow) WAVEHDR[static_cast<size_t>(m_numBlocks)]());
    return m_fifo && m_blockData && m_headers ? 1 : 0;
}

void CWaveInDevice::SetFormat(int rate, int deviceMode) {
    if (deviceMode == DEVICEMODE_MONO_MIX) {
        m_engineChannels = 1, m_deviceChannels = 2;  // stereo in, folded to mono by the converter
    } else if (deviceMode >= DEVICEMODE_STEREO && deviceMode <= DEVICEMODE_DUAL_MONO) {
        m_engineChannels = m_deviceChannels = 2;
    } else {
        m_engineChannels = m_deviceChannels = 1;
    }
    m_engineRate = rate;
    m_deviceRate = m_srcOn ? 48000 : rate;
    const int deviceFrame = 2 * m_deviceChannels, engineFrame = 2 * m_engineChannels;
    // 64-bit and whole frames: a stereo 44.1 kHz block would otherwise end mid-frame.
    int64_t d = static_cast<int64_t>(m_blockMs) * m_deviceChannels * std::max(m_deviceRate, 0) / 500;
    d = std::min<int64_t>(d, m_maxBlockBytes);
    m_deviceBlockBytes = static_cast<int>(d - d % deviceFrame);
    int64_t e = static_cast<int64_t>(m_blockMs) * m_engineChannels * std::max(rate, 0) / 500;
    e = std::min<int64_t>(e, m_fifoCapacity);
    m_engineBlockBytes = static_cast<int>(e - e % engineFrame);
    m_fifoHighMark = std::min(m_engineChannels * 2304, m_engineBlockBytes) + 2 * m_engineChannels;
    const bool nt = g_sharedState == nullptr || g_sharedState->ntPlatform;
    m_fifoTarget = 2 * m_engineChannels + (nt ? 2 : 3) * m_engineBlockBytes;
    m_fifoTarget = std::min(m_fifoTarget, m_fifoCapacity);
    m_fifoTarget -= m_fifoTarget % engineFrame;
}

void CWaveInDevice::SetLevel(int x) {
    if (x == 0) {
        m_gainOn.store(0, std::memory_order_relaxed);
        m_gainFactor.store(1.0, std::memory_order_relaxed);
        return;
    }
    const double f = std::exp2(0.1 * std::abs(x) * M_LOG2E);
    m_gainFactor.store(x > 0 ? f : 1.0 / f, std::memory_order_relaxed);
    m_gainOn.store(1, std::memory_order_relaxed);
}

int CWaveInDevice::Open() {
    if (m_handle) return 1;
    if (!m_fifo || !m_headers) return 0;
    // Rate 0 or a pair the converter cannot build fails here with a reason.
    if (m_engineBlockBytes <= 0 || m_deviceBlockBytes <= 0 ||
        !m_converter.Init(m_deviceRate, m_deviceChannels, m_engineRate, m_engineChannels, m_engineBlockBytes / 10)) {
        m_lastResult = WAVERR_BADFORMAT;
        return 0;
    }
    const WAVEFORMATEX f = MakePcmFormat(m_deviceRate, m_deviceChannels);
    m_completions.store(0, std::memory_order_relaxed);
    m_lastResult = waveInOpen(&m_handle, m_card < 0 ? WAVE_MAPPER : static_cast<UINT>(m_card), &f,
                              reinterpret_cast<DWORD_PTR>(&CWaveInDevice::OnData), reinterpret_cast<DWORD_PTR>(this),
                              CALLBACK_FUNCTION | WAVE_MAPPED);
    if (m_lastResult != MMSYSERR_NOERROR) {
        m_handle = nullptr;
        return 0;
    }
    m_silenceBlocks = 25;
    m_levelLeft.store(0, std::memory_order_relaxed);
    m_levelRight.store(0, std::memory_order_relaxed);
    m_started = 0;
    m_fifoFill = 0;
    m_stretch = 0;
    m_insertedFrames = m_droppedFrames = 0;
    return 1;
}

void CWaveInDevice::Start() {
    if (m_handle) waveInStart(m_handle);
}

void CWaveInDevice::Close() {
    if (m_handle) {
        waveInReset(m_handle);  // every block comes back before this returns
        for (int i = 0; i < m_numBlocks && m_headers; ++i)
            if (WaveHeaderLoadFlags(&m_headers[i]) & WHDR_PREPARED)
                waveInUnprepareHeader(m_handle, &m_headers[i], sizeof(WAVEHDR));
        waveInClose(m_handle);
        m_handle = nullptr;
    }
    m_started = m_silenceBlocks = m_fifoFill = 0;
    m_levelLeft.store(0, std::memory_order_relaxed);
    m_levelRight.store(0, std::memory_order_relaxed);
}

void CWaveInDevice::StartUp() {
    for (int i = 0; i < m_numBlocks; ++i) {
        WAVEHDR& h = m_headers[i];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<char*>(m_blockData.get() + static_cast<size_t>(i) * (m_maxBlockBytes + 4));
        h.dwBufferLength = static_cast<DWORD>(m_deviceBlockBytes);
        if (waveInPrepareHeader(m_handle, &h, sizeof h) != MMSYSERR_NOERROR) return;
        if (waveInAddBuffer(m_handle, &h, sizeof h) != MMSYSERR_NOERROR) return;
    }
    if (waveInStart(m_handle) != MMSYSERR_NOERROR) return;
    // Capture starts with silence at once: the FIFO begins at its target.
    std::memset(m_fifo.get(), 0, static_cast<size_t>(m_fifoTarget));
    m_fifoFill = m_fifoTarget;
    m_silenceBlocks = 25;
    m_started = 1;
}

void CWaveInDevice::Service() {
    if (!m_handle) return;
    if (!m_started) {
        StartUp();
        if (!m_started) return;
    }
    for (;;) {
        int best = -1;
        DWORD_PTR bestStamp = 0;
        for (int i = 0; i < m_numBlocks; ++i) {
            const DWORD_PTR stamp = WaveHeaderLoadUser(&m_headers[i]);
            if (stamp != 0 && (best < 0 || stamp < bestStamp)) best = i, bestStamp = stamp;
        }
        if (best < 0) return;
        WAVEHDR& h = m_headers[best];
        Deliver(h);
        waveInUnprepareHeader(m_handle, &h, sizeof h);
        WaveHeaderStoreUser(&h, 0);
        h.dwBufferLength = static_cast<DWORD>(m_deviceBlockBytes);
        waveInPrepareHeader(m_handle, &h, sizeof h);
        waveInAddBuffer(m_handle, &h, sizeof h);
    }
}

void CWaveInDevice::Deliver(WAVEHDR& h) {
    const int deviceFrame = 2 * m_deviceChannels;
    int n = static_cast<int>(WaveHeaderLoadRecorded(&h));
    n -= n % deviceFrame;
    const int room = m_fifoTarget - m_fifoFill;
    if (room <= 0) {
        m_droppedFrames += n / deviceFrame;
        return;
    }
    auto* s = reinterpret_cast<int16_t*>(h.lpData);
    if (m_silenceBlocks > 0) {
        --m_silenceBlocks;
        std::memset(s, 0, static_cast<size_t>(n));
    }
    if (m_mode == 0 && n > 0) {
        if (m_stretch < 0) {
            ++m_stretch;
            n -= deviceFrame;
            ++m_droppedFrames;
        } else if (m_stretch > 0) {
            --m_stretch;
            n = StretchByOneFrame(s, n, m_deviceChannels);
            ++m_insertedFrames;
        }
    }
    int consumed = 0;
    const int out = m_converter.Convert(s, n, &consumed, reinterpret_cast<int16_t*>(m_fifo.get() + m_fifoFill), room);
    m_fifoFill += out;
    m_droppedFrames += (n - consumed) / deviceFrame;
    if (m_mode == 0 && m_fifoFill > m_fifoHighMark) m_stretch = m_stretch > 0 ? 0 : -(m_deviceBlockBytes / 2);
}

int CWaveInDevice::Read(int16_t* dst, int bytes) {
    if (dst == nullptr || bytes <= 0) return 0;
    Service();
    const int frame = 2 * m_engineChannels;
    bytes -= bytes % frame;
    // Start-up silence comes through the FIFO only (its target of zeros, then
    // the zeroed first blocks), at the device's pace: silence made up for an
    // empty FIFO would go out as fast as the worker asks for it.
    if (m_fifoFill == 0) return 0;
    const int n = std::min(bytes, m_fifoFill);
    const auto* src = reinterpret_cast<const int16_t*>(m_fifo.get());
    if (m_gainOn.load(std::memory_order_relaxed)) {
        const double g = m_gainFactor.load(std::memory_order_relaxed);
        for (int i = 0; i < n / 2; ++i)
            dst[i] = static_cast<int16_t>(std::clamp(std::trunc(src[i] * g), -32768.0, 32767.0));
    } else {
        std::memcpy(dst, src, static_cast<size_t>(n));
    }
    std::memmove(m_fifo.get(), m_fifo.get() + n, static_cast<size_t>(m_fifoFill - n));
    m_fifoFill -= n;
    return n;
}

void CWaveInDevice::GetLevels(int* left, int* right) const {
    if (left) *left = m_levelLeft.load(std::memory_order_relaxed);
    if (right) *right = m_levelRight.load(std::memory_order_relaxed);
}

int CWaveInDevice::RequestStretch() {
    if (m_mode != 0) return m_mode;
    if (m_silenceBlocks > 0) return m_silenceBlocks;
    if (m_stretch < 0) {
        const int old = m_stretch;
        m_stretch = 0;
        return old;
    }
    m_stretch = m_deviceBlockBytes / 2;
    return m_stretch;
}

const char* CWaveInDevice::GetErrorText() {
    m_errorText = WaveOpenErrorText(false, m_lastResult, m_translator);
    return m_errorText.empty() ? nullptr : m_errorText.c_str();
}
