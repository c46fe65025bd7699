// The call engine's format negotiation and the audio steps of every pass.
#include <cstdio>
#include <new>

#include "call/CallEngine.h"
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
        Post(WM_ENGINE_TX_INDICATOR, m_sendFormat.direction == DIRECTION_RECEIVE_ONLY ? 0 : 16, kind);
        const CSettings& settings = m_settings;
        if (kind == TRANSPORT_TCP) {
            m_answerCoding = settings.GetTCPAnswerCodingType();
            m_answerBitRate = settings.GetTCPAnswerCodingRate();
            m_answerSampleRate = settings.GetTCPAnswerSamplerate();
            m_answerMode = settings.GetTCPAnswerDeviceMode();
            m_answerSameSettings = settings.GetTCPAnswerSameSettings();
        } else if (kind == TRANSPORT_ISDN) {
            m_answerCoding = settings.GetISDNAnswerCodingType();
            m_answerSampleRate = settings.GetISDNAnswerSamplerate();
            m_answerMode = settings.GetISDNAnswerDeviceMode();
            m_answerSameSettings = 0;
        }
    } else {
        int reportedKind;
        {
            std::lock_guard<std::mutex> lock(m_recordLock);
            reportedKind = m_reportedConnection.kind;
        }
        m_manager->SetBuffering(m_connectionType, m_bufferingMode, m_bufferMs);
        CreateSendDelayBuffer();
        m_audio->SetSendFormat(&m_sendFormat);
        m_manager->SetSendFormat(&m_sendFormat);
        if (!m_audio->OpenEncoder()) {
            TakeAudioError();
            return 0;
        }
        m_sendFlushWatch.Start(600);
        Post(WM_ENGINE_ENCODER_FORMAT, 0, 0);
        Post(WM_ENGINE_TX_INDICATOR, 32, reportedKind);
        if (m_sendFormat.direction != DIRECTION_SEND_ONLY) Post(WM_ENGINE_RX_INDICATOR, 16, reportedKind);
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
    m_decoderFormat = f;
}

void CCallEngine::PublishRequestedSendFormat(const AudioFormat& f) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_requestedSendFormat = f;
}

void CCallEngine::OnReceiveFormat() {
    NormalizeFormat(m_receivedFormat, FormatUse::Received, m_fastCpu.load(std::memory_order_relaxed));
    const int kind = Kind();
    // A frame the pass buffers cannot carry would be cut or overrun them: the
    // peer's format is refused and the call ends with a reason.
    if (!FrameFitsPass(m_receivedFormat)) {
        char text[160];
        std::snprintf(text, sizeof text, "The remote station sends a format this station cannot receive (%d bytes a frame).",
                      static_cast<int>(m_receivedFormat.frameBytes));
        SetErrorText(text);
        m_manager->Disconnect();
        return;
    }
    if (kind == TRANSPORT_MULTICAST && m_connection.flag && m_mainWindow.load(std::memory_order_relaxed)) {
        Post(WM_ENGINE_TX_INDICATOR, IsEmptyFormat(m_receivedFormat) ? 16 : 32, TRANSPORT_MULTICAST);
        return;
    }
    if (SameFormat(m_receivedFormat, m_receiveFormat)) return;
    m_receiveFormat = m_receivedFormat;
    if (IsEmptyFormat(m_receiveFormat)) {
        PublishDecoderFormat(m_receiveFormat);
        m_audio->CloseDecoder();
        m_playbackLeft.store(0, std::memory_order_relaxed);
        m_playbackRight.store(0, std::memory_order_relaxed);
        Post(WM_ENGINE_DECODER_FORMAT, 0, kind);
        Post(WM_ENGINE_RX_INDICATOR, 16, kind);
        return;
    }
    if (IsAnswering()) m_manager->GetBuffering(&m_connectionType, &m_bufferingMode, &m_bufferMs);
    if (m_sendFormat.direction == DIRECTION_RECEIVE_ONLY && m_receiveFormat.direction == DIRECTION_SEND_ONLY)
        m_receiveFormat.direction = DIRECTION_BOTH;
    const int state = m_callState.load(std::memory_order_relaxed);
    if (state != CALL_CONNECTED && state != CALL_CONNECTED_CLIP_PLAYING && state != CALL_CONNECTED_CLIP_PAUSED) {
        if (!EnterConnected()) {
            m_manager->Disconnect();
            return;
        }
    }
    CreateReceiveDelayBuffer();
    int deviceChanged = 0;
    if (!m_audio->SetReceiveFormat(&m_receiveFormat, &deviceChanged)) {
        TakeAudioError();
        m_manager->Disconnect();
        return;
    }
    if (m_sendFormat.codingType == CODING_APTX && m_sendFormat.aptxOption != 0 &&
        m_receiveFormat.codingType == CODING_APTX && m_receiveFormat.aptxOption == 0) {
        m_sendFormat.aptxOption = 0;
        m_audio->ChangeSendFormat(&m_sendFormat);
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
    PublishDecoderFormat(m_receiveFormat);
    Post(WM_ENGINE_DECODER_FORMAT, 0, kind);
    Post(WM_ENGINE_RX_INDICATOR, m_receiveFormat.direction == DIRECTION_SEND_ONLY ? 0 : 32, kind);
}

void CCallEngine::ChooseAnswerFormat() {
    if (IsEmptyFormat(m_receiveFormat)) return;
    const AudioFormat& r = m_receiveFormat;
    AudioFormat c = m_candidateSendFormat;
    if (m_answerSameSettings || r.direction == DIRECTION_SEND_ONLY || r.codingType == CODING_G711_ALAW ||
        r.codingType == CODING_G711_ULAW) {
        c = r;
    } else {
        c.direction = r.direction;
        c.codingType = m_answerCoding == -1 ? r.codingType : m_answerCoding;
        if (c.codingType == CODING_G722) {
            c.bitRate = 64000;
            c.sampleRate = 16000;
            c.deviceMode = DEVICEMODE_MONO;
        } else {
            c.bitRate = Kind() == TRANSPORT_ISDN ? r.bitRate : m_answerBitRate;
            // An unset answer rate must not give a negative frame size.
            if (c.bitRate <= 0) c.bitRate = r.bitRate;
            c.sampleRate = m_answerSampleRate == -1 ? r.sampleRate : m_answerSampleRate;
            c.deviceMode = m_answerMode == -1 ? r.deviceMode : m_answerMode;
        }
        // The frame size follows from this format, not from one applied
        // earlier in the call.
        c.frameBytes = 0;
        c.aptxOption = r.aptxOption;
        NormalizeFormat(c, FormatUse::Answer, m_fastCpu.load(std::memory_order_relaxed));
        if (!FrameFitsPass(c)) c = r;
    }
    m_candidateSendFormat = c;
    ApplySendFormat();
}

void CCallEngine::ApplySendFormat() {
    AudioFormat candidate = m_candidateSendFormat;
    if (m_connectionActive.load(std::memory_order_relaxed)) MatchAptxOptionToTransport(candidate, Kind());
    if (SameFormat(candidate, m_sendFormat)) return;
    if (!m_connectionActive.load(std::memory_order_relaxed)) {
        m_sendFormat = candidate;
        return;
    }
    if (!m_audio || !m_manager) return;
    if (!m_audio->ChangeSendFormat(&candidate)) {
        TakeAudioError();
        m_manager->Disconnect();
        return;
    }
    m_manager->SetSendFormat(&candidate);
    const bool wasEmpty = IsEmptyFormat(m_sendFormat);
    m_sendFormat = candidate;
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
    SizeDelayBuffer(m_sendDelay, m_sendFormat, false);
}

void CCallEngine::CreateReceiveDelayBuffer() {
    if (m_connectionType != CONNTYPE_3) return;
    if (Kind() == TRANSPORT_MULTICAST) m_delayBufferTime = m_bufferingMode != 0 ? 400 : 1000;
    SizeDelayBuffer(m_receiveDelay, m_receiveFormat, true);
}

// ---------------------------------------------------------------- receive side

void CCallEngine::ReceiveStep() {
    if (!IsEmptyFormat(m_receiveFormat)) {
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
    const int f = m_receiveFormat.frameBytes;
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
    const int f = m_receiveFormat.frameBytes;
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
    const int f = m_sendFormat.frameBytes;
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
    const int f = m_sendFormat.frameBytes;
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
        if (m_sendFormat.sampleRate == 8000) {
            m_audio->FlushCapture();
            m_manager->DiscardSendData();
        }
        m_sendFlushWatch.Stop();
    }
    if (m_manager->WriteAudio(buffer, n)) m_bytesSent += n;
}
