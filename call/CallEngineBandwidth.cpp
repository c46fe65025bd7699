// The call engine's delay measurement and bandwidth check of a TCP call.
#include <algorithm>
#include <cstring>

#include "call/CallEngine.h"
#include "call/DelayMeasurement.h"
#include "call/FormatRules.h"
#include "common/MainWindowMessages.h"
#include "net/ControlFrame.h"
#include "platform/Clock.h"

namespace {
constexpr int kFillerBytes = 4608;
constexpr int kBandwidthCycles = 20;
constexpr uint32_t kDelayLimitMs = 10000;
constexpr uint32_t kCountAfterMs = 1000;
constexpr uint32_t kRatesAtMs = 5000;
constexpr uint32_t kReportAfterMs = 6000;
constexpr uint32_t kKeepAliveMs = 1000;

struct Filler {
    uint8_t bytes[kFillerBytes];
    Filler() { std::memset(bytes, 0xAA, sizeof bytes); }
};
const Filler kFiller;
}  // namespace

int CCallEngine::StartBandwidthCheck() {
    if (m_bufferingMode == BUFMODE_FIXED) {
        SendLocalIdentity();
        return EnterConnected();
    }
    if (IsAnswering()) {
        m_delayWatch.Stop();
    } else {
        SendLocalIdentity();
        m_identitySent = 1;
        DelayFrame frame;
        frame.size = kDelayFrameBytes;
        frame.exchangeCount = 0;
        frame.connectionType = m_connectionType;
        frame.callerTime = static_cast<int32_t>(timeGetTime());
        frame.blockSize = m_encodeFormat.frameBytes;
        uint8_t bytes[kDelayFrameBytes];
        StoreDelayFrame(frame, bytes);
        m_manager->SendControl(CTRL_DELAY, bytes, kDelayFrameBytes);
        m_delayWatch.Start(kDelayLimitMs);
    }
    m_delayBufferTime = 0;
    m_keepAliveWatch.Stop();
    m_bytesSent = 0;
    m_bytesReceived = 0;
    m_receiveRate.store(-1, std::memory_order_relaxed);
    m_sendRate.store(-1, std::memory_order_relaxed);
    m_checkStart = 0;
    m_sendStart = 0;
    m_receiveStart = 0;
    SetState(CALL_CHECKING);
    return 1;
}

void CCallEngine::OnDelayFrame() {
    uint8_t bytes[kDelayFrameBytes];
    if (!m_manager->ReadControl(bytes, kDelayFrameBytes)) return;
    DelayFrame frame = LoadDelayFrame(bytes);
    m_connectionType = frame.connectionType;
    if (IsAnswering()) m_peerChunk = frame.blockSize;
    const DelayStep step = AdvanceDelayFrame(frame, timeGetTime(), IsAnswering(), m_delayWatch.IsExpired());
    if (step.reply) {
        StoreDelayFrame(frame, bytes);
        m_manager->SendControl(CTRL_DELAY, bytes, kDelayFrameBytes);
    }
    if (step.finished) EndDelayMeasurement(step.maxMs, step.minMs);
}

void CCallEngine::EndDelayMeasurement(uint32_t maxMs, uint32_t minMs) {
    m_delayBufferTime = DelayTimeFromMeasurement(m_bufferingMode, maxMs, minMs);
    m_bytesSent = 0;
    m_bytesReceived = 0;
    m_receiveRate.store(-1, std::memory_order_relaxed);
    m_sendRate.store(-1, std::memory_order_relaxed);
    m_checkStart = timeGetTime();
    m_sendStart = 1;
    m_receiveStart = 1;
    if (m_peerChunk <= 0 || m_peerChunk > kFillerBytes) m_peerChunk = kFillerBytes;
}

void CCallEngine::RunBandwidthCheck() {
    uint8_t received[kFillerBytes];
    if (m_sendStart == 0 && m_receiveStart == 0) {
        // Waiting for the user (caller) or the caller's format (answerer).
        Sleep(10);
        m_manager->ReadAudio(received, kFillerBytes);
        if (m_keepAliveWatch.IsExpired()) {
            m_manager->SendControl(CTRL_KEEPALIVE, nullptr, 0);
            m_keepAliveWatch.Start(kKeepAliveMs);
        }
        return;
    }
    for (int cycle = 0; cycle < kBandwidthCycles; ++cycle) {
        m_manager->Poll();
        // Each side offers as much filler as a cycle may carry. Writing only
        // the caller's frame size (the peer chunk) would cap the answering
        // side's sending - and so the caller's measured receive rate - at
        // one frame per cycle, far below the link's rate for small frames.
        const int n = std::min(m_manager->GetSendSpace(), kFillerBytes);
        if (n > 0 && m_manager->WriteAudio(kFiller.bytes, n)) {
            if (m_sendStart == 1 && timeGetTime() - m_checkStart > kCountAfterMs) {
                m_sendStart = timeGetTime();
                m_bytesSent = 0;
            }
            m_bytesSent += n;
        }
        Sleep(10);
        m_manager->Poll();
        const int m = m_manager->ReadAudio(received, kFillerBytes);
        if (m > 0) {
            if (m_receiveStart == 1 && timeGetTime() - m_checkStart > kCountAfterMs) {
                m_receiveStart = timeGetTime();
                m_bytesReceived = 0;
            }
            m_bytesReceived += m;
        }
        m_manager->Poll();
        Sleep(10);
    }
    const uint32_t t = timeGetTime() - m_checkStart;
    if (m_receiveRate.load(std::memory_order_relaxed) == -1) {
        if (t < kRatesAtMs) return;
        const int64_t r = m_bytesReceived * 8;
        const int64_t s = m_bytesSent * 8;
        m_bytesReceived = r;
        m_bytesSent = s;
        m_receiveRate.store(BitRateOf(r, timeGetTime() - m_receiveStart), std::memory_order_relaxed);
        m_sendRate.store(BitRateOf(s, timeGetTime() - m_sendStart), std::memory_order_relaxed);
        return;
    }
    if (t <= kReportAfterMs) return;
    m_checkStart = 0;
    m_sendStart = 0;
    m_receiveStart = 0;
    if (!IsAnswering()) {
        m_startGuard.Disarm();  // from here on the start waits on this station's operator
        Post(WM_ENGINE_LOW_BANDWIDTH, 0, Kind());
    }
    m_keepAliveWatch.Start(kKeepAliveMs);
}
