// The call engine's format negotiation and the audio steps of every pass.
#include <cstdio>
#include <new>

#include "call/CallEngine.h"
#include "call/FormatNegotiation.h"
#include "call/FormatRules.h"
#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "platform/Clock.h"

int CCallEngine::EnterConnected() {
    if (!m_manager || !m_audio) return 0;
    m_audio->SetPlayLevel(m_playLevel.load(std::memory_order_relaxed));
    m_audio->SetClipGain(m_clipLevel.load(std::memory_order_relaxed));
    const int kind = Kind();
    const bool multicastReceiver = kind == TRANSPORT_MULTICAST && m_connection.flag == 0;
    if (IsAnswering() || multicastReceiver) {
        if (!m_audio->StartAsio()) {
            TakeAudioError();
            m_manager->Disconnect();
        }
        Post(WM_ENGINE_RX_INDICATOR, 16, kind);
        Post(WM_ENGINE_TX_INDICATOR, m_encodeFormat.direction == DIRECTION_RECEIVE_ONLY ? 0 : 16, kind);
        ReadAnswerSettings(m_settings, kind, m_answer);
    } else {
        int reportedKind;
        {
            std::lock_guard<std::mutex> lock(m_recordLock);
            reportedKind = m_reportedConnection.kind;
        }
        m_manager->SetBuffering(m_connectionType, m_bufferingMode, m_bufferMs);
        CreateSendDelayBuffer();
        m_audio->SetSendFormat(&m_encodeFormat);
        m_manager->SetSendFormat(&m_encodeFormat);
        if (!m_audio->OpenEncoder()) {
            TakeAudioError();
            return 0;
        }
        m_sendFlushWatch.Start(600);
        Post(WM_ENGINE_ENCODER_FORMAT, 0, 0);
        Post(WM_ENGINE_TX_INDICATOR, 32, reportedKind);
        if (m_encodeFormat.direction != DIRECTION_SEND_ONLY) Post(WM_ENGINE_RX_INDICATOR, 16, reportedKind);
    }
    if (m_programName.empty()) return 0;
    m_captureLeft.store(0, std::memory_order_relaxed);
    m_captureRight.store(0, std::memory_order_relaxed);
    m_playbackLeft.store(0, std::memory_order_relaxed);
    m_playbackRight.store(0, std::memory_order_relaxed);
    m_bytesSent = 0;
    m_bytesReceived = 0;
    m_receiveRate.store(-1, std::memory_order_relaxed);
    m_sendRate.store(-1, std::memory_order_relaxed);
    m_rateWindow.Start(kRateWindowMs);
    SetState(CALL_CONNECTED);
    return 1;
}

void CCallEngine::PublishDecoderFormat(const AudioFormat& f) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_reportedDecodeFormat = f;
}

void CCallEngine::PublishRequestedSendFormat(const AudioFormat& f) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_reportedEncodeFormat = f;
}

void CCallEngine::OnReceiveFormat() {
    NormalizeFormat(m_peerFormat, FormatUse::Received, m_fastCpu.load(std::memory_order_relaxed));
    const int kind = Kind();
    // A frame the pass buffers cannot carry would be cut or overrun them: the
    // peer's format is refused and the call ends with a reason.
    if (!FrameFitsPass(m_peerFormat)) {
        char text[160];
        std::snprintf(text, sizeof text, "The remote station sends a format this station cannot receive (%d bytes a frame).",
                      static_cast<int>(m_peerFormat.frameBytes));
        SetErrorText(text);
        m_manager->Disconnect();
        return;
    }
    if (kind == TRANSPORT_MULTICAST && m_connection.flag && m_mainWindow.load(std::memory_order_relaxed)) {
        Post(WM_ENGINE_TX_INDICATOR, IsEmptyFormat(m_peerFormat) ? 16 : 32, TRANSPORT_MULTICAST);
        return;
    }
    if (SameFormat(m_peerFormat, m_decodeFormat)) return;
    m_decodeFormat = m_peerFormat;
    if (IsEmptyFormat(m_decodeFormat)) {
        PublishDecoderFormat(m_decodeFormat);
        m_audio->CloseDecoder();
        m_playbackLeft.store(0, std::memory_order_relaxed);
        m_playbackRight.store(0, std::memory_order_relaxed);
        Post(WM_ENGINE_DECODER_FORMAT, 0, kind);
        Post(WM_ENGINE_RX_INDICATOR, 16, kind);
        return;
    }
    if (IsAnswering()) m_manager->GetBuffering(&m_connectionType, &m_bufferingMode, &m_bufferMs);
    m_decodeFormat = DecodeFormatFor(m_decodeFormat, m_encodeFormat);
    const int state = m_callState.load(std::memory_order_relaxed);
    if (state != CALL_CONNECTED && state != CALL_CONNECTED_CLIP_PLAYING && state != CALL_CONNECTED_CLIP_PAUSED) {
        if (!EnterConnected()) {
            m_manager->Disconnect();
            return;
        }
    }
    CreateReceiveDelayBuffer();
    int deviceChanged = 0;
    if (!m_audio->SetReceiveFormat(&m_decodeFormat, &deviceChanged)) {
        TakeAudioError();
        m_manager->Disconnect();
        return;
    }
    if (EncoderDropsAptxSync(m_encodeFormat, m_decodeFormat)) {
        m_encodeFormat.aptxOption = 0;
        m_audio->ChangeSendFormat(&m_encodeFormat);
    }
    if (m_connectionType == CONNTYPE_1)
        m_audio->SetDeviceBuffering(kind == TRANSPORT_ISDN ? 0 : 10, 0, 0);
    else
        m_audio->SetDeviceBuffering(10, m_connectionType, 0);
    if (deviceChanged) m_deviceChangeWatch.Start(250);
    if (IsAnswering()) ChooseAnswerFormat();
    if (m_receiveDelay) {
        m_audio->SetOutputMute(0);
        m_audio->PauseOutput(1);
    }
    PublishDecoderFormat(m_decodeFormat);
    Post(WM_ENGINE_DECODER_FORMAT, 0, kind);
    Post(WM_ENGINE_RX_INDICATOR, m_decodeFormat.direction == DIRECTION_SEND_ONLY ? 0 : 32, kind);
}

void CCallEngine::ChooseAnswerFormat() {
    if (IsEmptyFormat(m_decodeFormat)) return;
    m_proposedEncodeFormat = ::ChooseAnswerFormat(m_decodeFormat, m_proposedEncodeFormat, m_answer, Kind(),
                                                  m_fastCpu.load(std::memory_order_relaxed));
    ApplySendFormat();
}

void CCallEngine::ApplySendFormat() {
    AudioFormat candidate = m_proposedEncodeFormat;
    if (m_connectionActive.load(std::memory_order_relaxed)) MatchAptxOptionToTransport(candidate, Kind());
    if (SameFormat(candidate, m_encodeFormat)) return;
    if (!m_connectionActive.load(std::memory_order_relaxed)) {
        m_encodeFormat = candidate;
        return;
    }
    if (!m_audio || !m_manager) return;
    if (!m_audio->ChangeSendFormat(&candidate)) {
        TakeAudioError();
        m_manager->Disconnect();
        return;
    }
    m_manager->SetSendFormat(&candidate);
    const bool wasEmpty = IsEmptyFormat(m_encodeFormat);
    m_encodeFormat = candidate;
    PublishRequestedSendFormat(candidate);
    if (wasEmpty) {
        CreateSendDelayBuffer();
        m_sendFlushWatch.Start(600);
    }
    const int kind = Kind();
    Post(WM_ENGINE_ENCODER_FORMAT, 0, kind);
    Post(WM_ENGINE_TX_INDICATOR, 32, kind);
}

// ---------------------------------------------------------------- delay buffers

int CCallEngine::SizeDelayBuffer(std::unique_ptr<CDelayBuffer>& buffer, const AudioFormat& format,
                                 bool receiveSide) {
    if (!buffer) buffer.reset(new (std::nothrow) CDelayBuffer());
    if (!buffer) return 0;
    if (m_bufferingMode == BUFMODE_FIXED) m_delayBufferTime = m_bufferMs + m_bufferMs / 10;
    const uint32_t capacity = DelayBufferCapacity(format, m_delayBufferTime);
    // A format without a frame duration has no defined size: unbuffered.
    if (capacity == 0 || !buffer->Allocate(capacity, static_cast<uint32_t>(format.frameBytes))) {
        buffer.reset();
        m_delayCapacity[receiveSide ? 1 : 0].store(0, std::memory_order_relaxed);
        (receiveSide ? m_receiveFill : m_sendFill).store(-1, std::memory_order_relaxed);
        return 0;
    }
    m_delayCapacity[receiveSide ? 1 : 0].store(capacity, std::memory_order_relaxed);
    (receiveSide ? m_receiveFill : m_sendFill).store(0, std::memory_order_relaxed);
    return 1;
}

void CCallEngine::CreateSendDelayBuffer() {
    if (m_connectionType != CONNTYPE_3) return;
    SizeDelayBuffer(m_sendDelay, m_encodeFormat, false);
}

void CCallEngine::CreateReceiveDelayBuffer() {
    if (m_connectionType != CONNTYPE_3) return;
    if (Kind() == TRANSPORT_MULTICAST) m_delayBufferTime = m_bufferingMode != 0 ? 400 : 1000;
    SizeDelayBuffer(m_receiveDelay, m_decodeFormat, true);
}

// ---------------------------------------------------------------- receive side

void CCallEngine::ReceiveStep() {
    if (!IsEmptyFormat(m_decodeFormat)) {
        if (m_receiveDelay)
            ReceiveBuffered();
        else
            ReceiveDirect();
        m_audio->ProcessPlayback();
        if (m_unmuteWatch.IsExpired()) {
            m_audio->SetOutputMute(0);
            m_unmuteWatch.Stop();
            if (Kind() != TRANSPORT_ISDN) SendLocalIdentity();
        }
        return;
    }
    int reportedKind;
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        reportedKind = m_reportedConnection.kind;
    }
    if (reportedKind != TRANSPORT_ISDN) m_manager->FlushReceive();
}

void CCallEngine::ReceiveBuffered() {
    const int f = m_decodeFormat.frameBytes;
    if (f <= 0 || f > kPassBufferBytes) return;
    uint8_t buffer[kPassBufferBytes];
    if (m_manager->GetReceiveAvailable() >= f && m_receiveDelay->GetFreeSpace() >= static_cast<uint32_t>(f)) {
        const int n = m_manager->ReadAudio(buffer, f);
        if (n > 0) {
            m_bytesReceived += n;
            m_receiveDelay->Write(buffer, static_cast<uint32_t>(n));
        }
    }
    const int p = static_cast<int>(m_receiveDelay->GetFillPercent());
    m_receiveFill.store(p, std::memory_order_relaxed);
    if (p < 70) {
        m_audio->SetDeviceBuffering(10, 20, 1);
    } else if (p < 90) {
        m_audio->SetDeviceBuffering(10, 20, 0);
    } else {
        m_audio->SetDeviceBuffering(10, 20, -1);
        m_audio->PauseOutput(0);
    }
    if (m_audio->GetReceiveSpace() >= f) {
        const uint32_t n = m_receiveDelay->Read(buffer, static_cast<uint32_t>(f));
        if (n > 0)
            m_audio->PutReceiveData(buffer, static_cast<int>(n));
        else if (p < 5 && m_bufferingMode == BUFMODE_FIXED)
            m_audio->PauseOutput(1);
    }
    int l = 0, r = 0;
    m_audio->GetLevels(0, &l, &r);
    m_playbackLeft.store(l, std::memory_order_relaxed);
    m_playbackRight.store(r, std::memory_order_relaxed);
}

void CCallEngine::ReceiveDirect() {
    const int f = m_decodeFormat.frameBytes;
    if (f <= 0 || f > kPassBufferBytes) return;
    if (m_audio->GetReceiveSpace() < f || m_manager->GetReceiveAvailable() < f) return;
    uint8_t buffer[kPassBufferBytes];
    const int n = m_manager->ReadAudio(buffer, f);
    if (n <= 0) return;
    m_bytesReceived += n;
    if (m_deviceChangeWatch.IsExpired()) {
        if (!IsAnswering() && !m_identitySent) {
            SendLocalIdentity();
            m_identitySent = 1;
        }
        m_deviceChangeWatch.Stop();
        m_unmuteWatch.Start(1000);
    }
    m_audio->PutReceiveData(buffer, n);
    int l = 0, r = 0;
    m_audio->GetLevels(0, &l, &r);
    m_playbackLeft.store(l, std::memory_order_relaxed);
    m_playbackRight.store(r, std::memory_order_relaxed);
}

// ---------------------------------------------------------------- send side

void CCallEngine::AudioStep() {
    m_audio->EncodeCapture();
    if (m_sendDelay)
        SendBuffered();
    else
        SendDirect();
    if (m_manager->IsIsdnSendStarved()) m_audio->StretchCapture();
}

void CCallEngine::SendBuffered() {
    const int f = m_encodeFormat.frameBytes;
    if (f <= 0 || f > kPassBufferBytes) return;
    uint8_t buffer[kPassBufferBytes];
    if (m_audio->GetSendFill() >= f && m_sendDelay->GetFreeSpace() >= static_cast<uint32_t>(f)) {
        const int n = m_audio->GetSendData(buffer, f);
        int l = 0, r = 0;
        m_audio->GetLevels(1, &l, &r);
        m_captureLeft.store(l, std::memory_order_relaxed);
        m_captureRight.store(r, std::memory_order_relaxed);
        if (n > 0) m_sendDelay->Write(buffer, static_cast<uint32_t>(n));
    }
    m_sendFill.store(static_cast<int>(m_sendDelay->GetFillPercent()), std::memory_order_relaxed);
    if (m_manager->GetSendSpace() >= f) {
        const uint32_t n = m_sendDelay->Read(buffer, static_cast<uint32_t>(f));
        if (n > 0 && m_manager->WriteAudio(buffer, static_cast<int>(n))) m_bytesSent += n;
    }
}

void CCallEngine::SendDirect() {
    const int f = m_encodeFormat.frameBytes;
    if (f <= 0 || f > kPassBufferBytes) return;
    if (m_manager->GetSendSpace() < f || m_audio->GetSendFill() < f) return;
    uint8_t buffer[kPassBufferBytes];
    const int n = m_audio->GetSendData(buffer, f);
    if (n <= 0) return;
    int l = 0, r = 0;
    m_audio->GetLevels(1, &l, &r);
    m_captureLeft.store(l, std::memory_order_relaxed);
    m_captureRight.store(r, std::memory_order_relaxed);
    if (m_sendFlushWatch.IsExpired()) {
        if (m_encodeFormat.sampleRate == 8000) {
            m_audio->FlushCapture();
            m_manager->DiscardSendData();
        }
        m_sendFlushWatch.Stop();
    }
    if (m_manager->WriteAudio(buffer, n)) m_bytesSent += n;
}
