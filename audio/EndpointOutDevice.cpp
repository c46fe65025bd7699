#include "audio/EndpointOutDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/WaveOutDevice.h"

namespace {
int16_t Clamp16(double v) { return static_cast<int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0)); }
}  // namespace

int CEndpointOutDevice::Allocate(int blockMs) {
    m_blockMs = std::max(2, blockMs);
    if (!m_convert) m_convert.reset(new (std::nothrow) uint8_t[kConvertBytes]());
    if (!m_monitor) m_monitor.reset(new (std::nothrow) uint8_t[kMonitorBytes]());
    Resize();
    return m_convert && m_monitor ? 1 : 0;
}

void CEndpointOutDevice::SelectEndpoint(int index) {
    m_endpoint = index;
    if (m_client) Open();
}

void CEndpointOutDevice::SetFormat(int type, int deviceRate, int codecRate, int deviceMode) {
    m_type = type;
    m_deviceRate = deviceRate;
    m_codecRate = codecRate;
    m_codecChannels = (deviceMode >= 20 && deviceMode <= 22) ? 2 : 1;
    Resize();
}

void CEndpointOutDevice::Resize() {
    m_blockBytes = std::min(m_blockMs * 48000 * 2 * 2 / 1000, 8192);
    if (m_mode == 0) {
        m_lowMark = 3 * m_blockBytes;
        m_highMark = kDeviceChannels * 4608 + 3 * m_blockBytes;
    } else {
        m_highMark = 43 * m_blockBytes;
        m_lowMark = m_highMark - kDeviceChannels * 6912;
    }
}

void CEndpointOutDevice::TakeError() {
    if (m_client) m_errorText = m_client->GetLastErrorText();
}

int CEndpointOutDevice::Open() {
    if (m_client) {
        m_client->Stop();
        m_client->Release();
        m_client.reset();
    }
    m_opened = m_clientStarted = 0;
    if (!m_convert || !m_monitor) return 0;
    if (!m_playConverter.Init(m_codecRate, m_codecChannels, 48000, kDeviceChannels, 96)) {
        m_errorText = "The audio format is not supported.";
        return 0;
    }
    m_client = std::make_unique<CEndpointClient>(0, m_endpoint);
    if (!m_client->IsValid()) {
        m_client.reset();
        return 0;
    }
    m_startupSilence = 50;
    if (!m_client->Open(m_blockMs, 50, 48000, kDeviceChannels, 1) &&
        !m_client->Open(m_blockMs, 50, 48000, kDeviceChannels, 0)) {
        TakeError();
        m_client.reset();
        return 0;
    }
    const int actual = m_client->GetBlockTime();
    if (actual > 0 && actual != m_blockMs) {
        m_blockMs = actual;
        Resize();
    }
    m_opened = 1;
    m_paused = m_muted = m_monitorPrimed = m_monitorFill = m_monitorConverting = 0;
    m_drift = 0;
    m_levelLeft = m_levelRight = m_levelReset = 0;
    m_inserted = m_dropped = 0;
    return 1;
}

void CEndpointOutDevice::Close() {
    if (m_client) {
        m_client->Stop();
        m_client->Close();
        m_client->Release();
        m_client.reset();
    }
    m_opened = m_clientStarted = m_paused = m_muted = m_startupSilence = 0;
    m_mode = -1;
    m_levelLeft = m_levelRight = 0;
}

void CEndpointOutDevice::Service() {
    if (!m_opened) return;
    if (!m_clientStarted) {
        const bool ready = m_mode == 0 ? m_client->GetBytesBuffered() > m_lowMark
                                       : m_client->GetBytesFree() < 3 * m_blockBytes;
        if (!ready) return;
        if (m_client->Start()) {
            m_clientStarted = 1;
        } else {
            TakeError();
        }
        return;
    }
    if (m_mode == 20 || m_mode == 30 || m_drift != 0) return;
    const int buffered = m_client->GetBytesBuffered();
    if (buffered < m_lowMark) {
        m_drift = m_blockBytes / 2;
    } else if (buffered > m_highMark) {
        m_drift = -(m_blockBytes / 4);
    }
}

int CEndpointOutDevice::Write(const int16_t* pcm, int bytes) {
    if (!m_opened || pcm == nullptr || bytes <= 0) return 0;
    Service();
    const int free = m_client->GetBytesFree();
    if (free < 2 * m_blockBytes) return 0;
    auto* block = reinterpret_cast<int16_t*>(m_convert.get());
    int consumed = 0;
    const int n = m_playConverter.Convert(pcm, bytes, &consumed, block, std::min(free, 8192));
    if (n <= 0) return consumed;
    if (m_mode != 30 && (m_muted || m_startupSilence > 0)) {
        std::memset(block, 0, static_cast<size_t>(n));
        if (m_startupSilence > 0) --m_startupSilence;
    }
    Submit(block, n);
    return consumed;
}

void CEndpointOutDevice::Submit(int16_t* block, int bytes) {
    if (m_levelReset) m_levelLeft = m_levelRight = m_levelReset = 0;
    for (int i = 0; i + 1 < bytes / 2; i += 2) {
        m_levelLeft = std::max(m_levelLeft, std::abs(int(block[i])));
        m_levelRight = std::max(m_levelRight, std::abs(int(block[i + 1])));
    }
    if (m_monitorPrimed) {
        auto* monitor = reinterpret_cast<int16_t*>(m_monitor.get());
        const int n = std::min(m_monitorFill, bytes) & ~1;
        for (int i = 0; i < n / 2; ++i) block[i] = Clamp16(static_cast<double>(block[i]) + monitor[i]);
        std::memmove(m_monitor.get(), m_monitor.get() + n, static_cast<size_t>(m_monitorFill - n));
        m_monitorFill -= n;
        if (m_monitorFill <= 0) m_monitorPrimed = 0;
    }
    if (m_drift < 0 && bytes > 4) {
        ++m_drift;
        bytes -= 4;
        ++m_dropped;
    } else if (m_drift > 0) {
        --m_drift;
        bytes = StretchByOneFrame(block, bytes, kDeviceChannels);  // the buffer has room for the frame
        ++m_inserted;
    }
    if (m_gainOn)
        for (int i = 0; i < bytes / 2; ++i) block[i] = Clamp16(block[i] / m_gainFactor);
    if (m_client->AddData(block, bytes) <= 0) TakeError();
}

void CEndpointOutDevice::SetBufferingMode(int mode, int adjust) {
    if (mode != m_mode || !m_clientStarted) {
        m_mode = mode;
        Resize();
    }
    if (m_mode == 20 && !m_paused && adjust != 0 && m_drift == 0) m_drift = adjust > 0 ? m_blockBytes : -m_blockBytes;
}

void CEndpointOutDevice::SetOutputMute(int flag) {
    if (m_muted && !flag) m_startupSilence = 50;
    m_muted = flag;
}

int CEndpointOutDevice::Pause() {
    if (!m_client) return 0;
    if (!m_paused) m_client->Stop();
    m_paused = 1;
    return 1;
}

int CEndpointOutDevice::Resume() {
    if (!m_client) return 0;
    if (m_paused && !m_client->Start()) TakeError();
    m_paused = 0;
    return 1;
}

void CEndpointOutDevice::SetLevel(int x) {
    m_gainOn = x < 0;
    m_gainFactor = x < 0 ? std::exp2(0.1 * std::abs(x) * M_LOG2E) : 1.0;
}

int CEndpointOutDevice::SetMonitorFormat(int rate, int deviceMode) {
    if (!m_client) return 0;
    const int channels = deviceMode == 10 ? 1 : 2;
    m_monitorConverting = 0;
    if (rate != 48000 || channels != kDeviceChannels) {
        if (!m_monitorConverter.Init(rate, channels, 48000, kDeviceChannels, 96)) return 0;
        m_monitorConverting = 1;
    }
    return 1;
}

int CEndpointOutDevice::WriteMonitor(const int16_t* pcm, int bytes) {
    if (!m_clientStarted || !m_monitor || pcm == nullptr || bytes <= 0) return 0;
    const int room = kMonitorBytes - m_monitorFill;
    auto* dst = reinterpret_cast<int16_t*>(m_monitor.get() + m_monitorFill);
    int consumed = 0, n = 0;
    if (m_monitorConverting) {
        n = m_monitorConverter.Convert(pcm, bytes, &consumed, dst, room);
    } else {
        n = consumed = std::min(bytes, room) & ~3;
        std::memcpy(dst, pcm, static_cast<size_t>(n));
    }
    m_monitorFill += n;
    if (m_monitorFill > 3 * m_blockBytes) m_monitorPrimed = 1;
    return consumed;
}

void CEndpointOutDevice::GetLevels(int* left, int* right) {
    if (m_paused) return;
    if (left) *left = m_levelLeft;
    if (right) *right = m_levelRight;
    m_levelReset = 1;
}
