#include "audio/EndpointInDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/WaveOutDevice.h"

int CEndpointInDevice::Allocate(int blockMs, int openCount) {
    m_blockMs = std::max(2, blockMs);
    m_openCount = std::max(openCount, 75 / m_blockMs);
    if (!m_read) m_read.reset(new (std::nothrow) uint8_t[kReadBytes + 4]());
    if (!m_fifo) m_fifo.reset(new (std::nothrow) uint8_t[kFifoBytes]());
    Resize();
    return m_read && m_fifo ? 1 : 0;
}

void CEndpointInDevice::SelectEndpoint(int index) {
    m_endpoint = index;
    if (m_client) Open();
}

void CEndpointInDevice::SetFormat(int deviceRate, int codecRate, int deviceMode) {
    m_deviceRate = deviceRate;
    m_codecRate = codecRate;
    m_deviceChannels = (deviceMode == 11 || (deviceMode >= 20 && deviceMode <= 22)) ? 2 : 1;
    m_codecChannels = (deviceMode >= 20 && deviceMode <= 22) ? 2 : 1;
    Resize();
}

void CEndpointInDevice::Resize() {
    const int64_t d = int64_t{m_deviceChannels} * std::max(m_deviceRate, 0) * m_blockMs / 500;
    m_deviceBlockBytes = static_cast<int>(std::min<int64_t>(d, 8192));
    m_deviceBlockBytes -= m_deviceBlockBytes % (2 * m_deviceChannels);
    const int64_t c = int64_t{m_codecChannels} * std::max(m_codecRate, 0) * m_blockMs / 500;
    m_codecBlockBytes = static_cast<int>(std::min<int64_t>(c, kFifoBytes));
    m_codecBlockBytes -= m_codecBlockBytes % (2 * m_codecChannels);
    const int base = std::min(m_codecChannels * 2304, m_codecBlockBytes);
    m_highMark = base + 2 * m_codecChannels;
    m_target = std::min(base + 4 * m_codecChannels + 3 * m_codecBlockBytes, kFifoBytes);
    m_target -= m_target % (2 * m_codecChannels);
}

void CEndpointInDevice::TakeError() {
    if (m_client) m_errorText = m_client->GetLastErrorText();
}

int CEndpointInDevice::Open() {
    if (m_client) {
        m_client->Stop();
        m_client->Close();
        m_client->Release();
        m_client.reset();
    }
    if (!m_read || !m_fifo) return 0;
    if (m_codecBlockBytes <= 0 ||
        !m_converter.Init(48000, m_deviceChannels, m_codecRate, m_codecChannels, 96)) {
        m_errorText = "The audio format is not supported.";
        return 0;
    }
    m_client = std::make_unique<CEndpointClient>(1, m_endpoint);
    if (!m_client->IsValid()) {
        m_client.reset();
        return 0;
    }
    if (!m_client->Open(m_blockMs, m_openCount, 48000, m_deviceChannels, 1) &&
        !m_client->Open(m_blockMs, m_openCount, 48000, m_deviceChannels, 0)) {
        TakeError();
        m_client.reset();
        return 0;
    }
    const int actual = m_client->GetBlockTime();
    if (actual > 0 && actual != m_blockMs) {
        m_blockMs = actual;
        Resize();
    }
    m_silenceBlocks = 10;
    m_started = m_stretch = m_fill = 0;
    m_levelLeft = m_levelRight = m_levelReset = 0;
    return 1;
}

void CEndpointInDevice::Close() {
    if (m_client) {
        m_client->Stop();
        m_client->Close();
        m_client->Release();
        m_client.reset();
    }
    m_started = m_silenceBlocks = m_fill = m_stretch = 0;
    m_levelLeft = m_levelRight = 0;
}

void CEndpointInDevice::Service() {
    if (!m_client) return;
    if (!m_started) {
        // Capture starts with silence at once: the FIFO begins at its target.
        std::memset(m_fifo.get(), 0, static_cast<size_t>(m_target));
        m_fill = m_target;
        m_silenceBlocks = 10;
        if (m_client->Start()) {
            m_started = 1;
        } else {
            TakeError();
        }
        return;
    }
    while (m_client->GetBytesDone() > 0) {
        const int n = m_client->GetData(m_read.get(), kReadBytes);
        if (n <= 0) {
            TakeError();
            return;
        }
        Deliver(n - n % (2 * m_deviceChannels));
    }
}

void CEndpointInDevice::Deliver(int bytes) {
    const int frame = 2 * m_deviceChannels;
    const int room = m_target - m_fill;
    if (room <= 0 || bytes <= 0) return;
    auto* s = reinterpret_cast<int16_t*>(m_read.get());
    if (m_levelReset) m_levelLeft = m_levelRight = m_levelReset = 0;
    for (int i = 0; i < bytes / 2; i += m_deviceChannels) {
        m_levelLeft = std::max(m_levelLeft, std::abs(int(s[i])));
        m_levelRight = std::max(m_levelRight, std::abs(int(s[i + m_deviceChannels - 1])));
    }
    if (m_mode == 0) {
        if (m_stretch < 0 && bytes > frame) {
            ++m_stretch;
            bytes -= frame;
        } else if (m_stretch > 0) {
            --m_stretch;
            bytes = StretchByOneFrame(s, bytes, m_deviceChannels);  // the buffer has room for the frame
        }
    }
    int consumed = 0;
    auto* dst = reinterpret_cast<int16_t*>(m_fifo.get() + m_fill);
    const int out = m_converter.Convert(s, bytes, &consumed, dst, room);
    if (m_silenceBlocks > 0) {
        --m_silenceBlocks;
        std::memset(dst, 0, static_cast<size_t>(std::max(out, 0)));
    }
    m_fill += std::max(out, 0);
    if (m_mode == 0 && m_fill > m_highMark) m_stretch = m_stretch > 0 ? 0 : -(m_deviceBlockBytes / 2);
}

int CEndpointInDevice::Read(int16_t* dst, int bytes) {
    if (dst == nullptr || bytes <= 0) return 0;
    Service();
    const int frame = 2 * m_codecChannels;
    const int n = std::min(bytes - bytes % frame, m_fill);
    if (n <= 0) return 0;
    const auto* src = reinterpret_cast<const int16_t*>(m_fifo.get());
    if (m_gainOn) {
        for (int i = 0; i < n / 2; ++i)
            dst[i] = static_cast<int16_t>(std::clamp(std::trunc(src[i] * m_gainFactor), -32768.0, 32767.0));
    } else {
        std::memcpy(dst, src, static_cast<size_t>(n));
    }
    std::memmove(m_fifo.get(), m_fifo.get() + n, static_cast<size_t>(m_fill - n));
    m_fill -= n;
    return n;
}

int CEndpointInDevice::RequestStretch() {
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

void CEndpointInDevice::SetLevel(int x) {
    if (x == 0) {
        m_gainOn = 0;
        m_gainFactor = 1.0;
        return;
    }
    const double f = std::exp2(0.1 * std::abs(x) * M_LOG2E);
    m_gainOn = 1;
    m_gainFactor = x > 0 ? f : 1.0 / f;
}

void CEndpointInDevice::GetLevels(int* left, int* right) {
    int l = m_levelLeft, r = m_levelRight;
    if (m_gainOn) {
        l = static_cast<int>(std::min(l * m_gainFactor, 32768.0));
        r = static_cast<int>(std::min(r * m_gainFactor, 32768.0));
    }
    if (left) *left = l;
    if (right) *right = r;
    m_levelReset = 1;
}
