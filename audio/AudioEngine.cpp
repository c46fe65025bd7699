#include "audio/AudioEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "audio/EndpointEnum.h"
#include "audio/WaveDeviceInfo.h"
#include "codecs/MpegL2Codec.h"
#include "common/GlobalBuffer.h"
#include "common/SharedState.h"

namespace {

enum FifoIndex { kSend = 0, kReceive = 1, kCapture = 2, kPlayback = 3, kClip = 4 };

// The row index of a coding type in the coding table; -1 for none.
int CodecSlot(int codingType) {
    const CodingDescriptor* row = FindCoding(codingType);
    return row ? static_cast<int>(row - CodingTable().data()) : -1;
}

// Takes n bytes from the front of a linear FIFO; the rest moves down.
void TakeFront(uint8_t* fifo, int* fill, int n) {
    n = std::min(n, *fill);
    if (n <= 0) return;
    std::memmove(fifo, fifo + n, static_cast<size_t>(*fill - n));
    *fill -= n;
}

int ClampLevel(int v) { return std::clamp(v, 0, 32768); }

}  // namespace

void CAudioEngine::FreeGlobal::operator()(uint8_t* p) const { FreeGlobalBuffer(p); }

CAudioEngine::CAudioEngine() { CreateCodecs(); }

void CAudioEngine::CreateCodecs() {
    const std::span<const CodingDescriptor> rows = CodingTable();
    static_assert(kMaxCodings >= 9);
    for (size_t i = 0; i < rows.size() && i < kMaxCodings; ++i) {
        if (!rows[i].codec.create) continue;
        for (size_t j = 0; j < i && !m_codecs[i]; ++j) {
            if (rows[j].codec.create == rows[i].codec.create) m_codecs[i] = m_codecs[j];
        }
        if (!m_codecs[i]) m_codecs[i] = m_ownedCodecs[i] = rows[i].codec.create();
    }
}

void CAudioEngine::DestroyCodecs() {
    const std::span<const CodingDescriptor> rows = CodingTable();
    for (size_t i = 0; i < rows.size() && i < kMaxCodings; ++i) {
        if (m_ownedCodecs[i]) rows[i].codec.destroy(m_ownedCodecs[i]);
        m_ownedCodecs[i] = m_codecs[i] = nullptr;
    }
}

CAudioEngine::CAudioEngine(std::string settingsPath) : CAudioEngine() {
    m_settings = CSettings(std::move(settingsPath));
}

CAudioEngine::~CAudioEngine() {
    if (m_fifoArea) {
        CloseDecoderSide();
        CloseEncoderSide();
    }
    m_waveOut.Close();
    m_waveIn.Close();
    m_endpointOut.Close();
    m_endpointIn.Close();
    if (m_deviceKind == INTERFACE_ASIO) m_asio.Close();
    DestroyCodecs();
}

void CAudioEngine::FormatRefused(bool output) {
    m_errorText = WaveOpenErrorText(output, WAVERR_BADFORMAT, m_translator);
}

void CAudioEngine::SetCodecObject(int codingType, CCodec* codec) {
    const int slot = CodecSlot(codingType);
    if (slot < 0 || slot >= kMaxCodings) return;
    const std::span<const CodingDescriptor> rows = CodingTable();
    const auto create = rows[static_cast<size_t>(slot)].codec.create;
    for (size_t i = 0; i < rows.size() && i < kMaxCodings; ++i) {
        if (static_cast<int>(i) == slot || (create && rows[i].codec.create == create)) m_codecs[i] = codec;
    }
}

CCodec* CAudioEngine::CodecFor(int codingType) const {
    const int slot = CodecSlot(codingType);
    return slot >= 0 && slot < kMaxCodings ? m_codecs[slot] : nullptr;
}

// ---- set-up ----

int CAudioEngine::Init(int startFlag) {
    m_startFlag = startFlag;
    if (m_clipPlayer && !m_clipPlayer->Start(startFlag)) return 0;
    m_deviceKind = m_settings.GetAudioInterface();
    if (!ConfigureWave()) return 0;
    if (g_sharedState && g_sharedState->endpointFlag) ConfigureEndpoints();
    if (!ConfigureAsio()) return 0;
    // PCM is offered by the devices (ConfigureWave); every other coding type
    // of the table here, with or without a codec object yet.
    for (const CodingDescriptor& row : CodingTable()) {
        if (row.codingType != CODING_PCM) m_codingMask |= static_cast<uint32_t>(row.codingType);
    }
    m_mp2Processing = m_settings.GetAudioMp2Processing();
    if (auto* mpegL2 = dynamic_cast<CMpegL2Codec*>(CodecFor(CODING_MPEG_L2))) mpegL2->SetProcessing(m_mp2Processing);
    return AllocateFifos();
}

int CAudioEngine::ConfigureWave() {
    const int src = m_settings.GetAudioEnableSRC();
    if (!m_waveOut.Allocate(m_settings.GetPlayBlockTime(), src)) return 0;
    m_waveOut.SelectCard(m_settings.GetPlayCard());
    m_monoMix = m_settings.GetRecMonoMix();
    if (!m_waveIn.Allocate(m_settings.GetRecBlockTime(), m_settings.GetRecNumBlocks(), src)) return 0;
    m_waveIn.SelectCard(m_settings.GetRecCard());
    m_waveIn.SetLevel(m_settings.GetRecLevel());
    m_errorText.clear();
    m_codingMask |= 0x01;
    return 1;
}

int CAudioEngine::ConfigureEndpoints() {
    int input, output;
    if (m_deviceKind == INTERFACE_NONE) {
        input = CEndpointEnum(1).GetDefaultIndex();
        output = CEndpointEnum(0).GetDefaultIndex();
        m_settings.SetCoreAudioInput(input);
        m_settings.SetCoreAudioOutput(output);
    } else {
        input = m_settings.GetCoreAudioInput();
        output = m_settings.GetCoreAudioOutput();
    }
    const int blockMs = m_settings.GetCoreAudioBlockTime();
    if (!m_endpointOut.Allocate(blockMs)) return 0;
    m_endpointOut.SelectEndpoint(output);
    if (!m_endpointIn.Allocate(blockMs, 15)) return 0;
    m_endpointIn.SelectEndpoint(input);
    m_endpointOut.SetLevel(m_settings.GetPlayLevel());
    m_endpointIn.SetLevel(m_settings.GetRecLevel());
    m_errorText.clear();
    return 1;
}

int CAudioEngine::ConfigureAsio() {
    if (!m_asio.EnumerateDrivers()) return 0;
    m_asio.SelectDriver(m_settings.GetASIOCard(), m_settings.GetASIOInput(), m_settings.GetASIOOutput());
    m_asio.SetBlockSetting(m_settings.GetASIOBlockTime());
    m_asio.SetPlayLevel(m_settings.GetPlayLevel());
    m_asio.SetCaptureLevel(m_settings.GetRecLevel());
    return 1;
}

int CAudioEngine::StartAsio() {
    if (m_deviceKind != INTERFACE_ASIO) return 1;
    void* window = g_sharedState ? g_sharedState->mainWindow : nullptr;
    if (m_asio.Open(window, 0) && m_asio.Start()) return 1;
    m_errorText = m_asio.GetErrorText();
    return 0;
}

int CAudioEngine::AllocateFifos() {
    m_fifoArea.reset();
    m_sendFill = m_receiveFill = m_captureFill = m_playbackFill = 0;
    m_fifoArea.reset(static_cast<uint8_t*>(AllocGlobalBuffer(static_cast<unsigned long>(kFifoCount) * kFifoBytes)));
    if (!m_fifoArea) return 0;
    m_sendLimit = m_receiveLimit = m_captureLimit = m_playbackLimit = kFifoBytes;
    return 1;
}

void CAudioEngine::ReloadDeviceSettings() {
    m_deviceKind = m_settings.GetAudioInterface();
    if (m_deviceKind == INTERFACE_WAVE) {
        m_waveIn.SelectCard(m_settings.GetRecCard());
        m_waveOut.SelectCard(m_settings.GetPlayCard());
    } else if (m_deviceKind == INTERFACE_ASIO) {
        m_asio.SelectDriver(m_settings.GetASIOCard(), m_settings.GetASIOInput(), m_settings.GetASIOOutput());
    }
}

int CAudioEngine::GetLastError(std::string& out) const {
    if (m_errorText.empty()) return 0;
    out = m_errorText;
    return 1;
}

// ---- device dispatch: one device family per kind; kind 0 does nothing ----

int CAudioEngine::CaptureMode() const {
    return (m_monoMix && m_sendFormat.deviceMode == DEVICEMODE_MONO) ? DEVICEMODE_MONO_MIX : m_sendFormat.deviceMode;
}

int CAudioEngine::OpenPlaybackDevice() {
    if (m_deviceKind == INTERFACE_ASIO)
        m_asio.SetPlaybackFormat(m_receiveFormat.codingType, m_receiveFormat.sampleRate, m_receiveFormat.deviceMode);
    if (m_deviceKind == INTERFACE_COREAUDIO) {
        m_endpointOut.SetFormat(m_receiveFormat.codingType, 48000, m_receiveFormat.sampleRate,
                                m_receiveFormat.deviceMode);
        if (m_endpointOut.Open()) return 1;
        m_errorText = m_endpointOut.GetErrorText();
        return 0;
    }
    if (m_deviceKind != INTERFACE_WAVE) return 1;
    m_waveOut.SetFormat(m_receiveFormat.sampleRate, m_receiveFormat.deviceMode);
    if (m_waveOut.Open()) return 1;
    const char* text = m_waveOut.GetErrorText();
    m_errorText = text ? text : "Output device error: Unknown error.";
    return 0;
}

void CAudioEngine::ClosePlaybackDevice() {
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.Close();
    if (m_deviceKind != INTERFACE_WAVE) return;
    m_waveOut.Close();
    if (m_encodeType != 0) m_waveIn.Start();
}

int CAudioEngine::OpenCaptureDevice() {
    if (m_deviceKind == INTERFACE_ASIO)
        m_asio.SetCaptureFormat(m_sendFormat.codingType, m_sendFormat.sampleRate, CaptureMode());
    if (m_deviceKind == INTERFACE_COREAUDIO) {
        m_endpointIn.SetFormat(48000, m_sendFormat.sampleRate, CaptureMode());
        if (m_endpointIn.Open()) return 1;
        m_errorText = m_endpointIn.GetErrorText();
        return 0;
    }
    if (m_deviceKind != INTERFACE_WAVE) return 1;
    m_waveIn.SetFormat(m_sendFormat.sampleRate, CaptureMode());
    if (m_waveIn.Open()) return 1;
    const char* text = m_waveIn.GetErrorText();
    m_errorText = text ? text : "Input device error: Unknown error.";
    return 0;
}

void CAudioEngine::CloseCaptureDevice() {
    if (m_deviceKind == INTERFACE_WAVE) m_waveIn.Close();
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointIn.Close();
}

void CAudioEngine::SetPlayLevel(int level) {
    if (m_deviceKind == INTERFACE_WAVE) m_waveOut.SetLevel(level);
    if (m_deviceKind == INTERFACE_ASIO) m_asio.SetPlayLevel(level);
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.SetLevel(level);
}

void CAudioEngine::SetOutputMute(int flag) {
    if (m_deviceKind == INTERFACE_WAVE) m_waveOut.Reset(flag);
    if (m_deviceKind == INTERFACE_ASIO) m_asio.SetOutputMute(flag);
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.SetOutputMute(flag);
}

void CAudioEngine::PauseOutput(int flag) {
    if (m_deviceKind == INTERFACE_WAVE) flag ? m_waveOut.Pause() : m_waveOut.Restart();
    if (m_deviceKind == INTERFACE_ASIO) flag ? m_asio.PauseOutput() : m_asio.ResumeOutput();
    if (m_deviceKind == INTERFACE_COREAUDIO) flag ? m_endpointOut.Pause() : m_endpointOut.Resume();
}

void CAudioEngine::SetDeviceBuffering(int inputMode, int outputMode, int outputAdjust) {
    if (m_deviceKind == INTERFACE_WAVE) {
        m_waveIn.SetBufferingMode(inputMode);
        m_waveOut.SetBufferingMode(outputMode, outputAdjust);
    } else if (m_deviceKind == INTERFACE_ASIO) {
        m_asio.SetCaptureMode(inputMode);
        m_asio.SetPlaybackMode(outputMode, outputAdjust);
    } else if (m_deviceKind == INTERFACE_COREAUDIO) {
        m_endpointIn.SetBufferingMode(inputMode);
        m_endpointOut.SetBufferingMode(outputMode, outputAdjust);
    }
}

int CAudioEngine::ReadCaptureDevice(int16_t* dst, int bytes) {
    if (m_deviceKind == INTERFACE_WAVE) return m_waveIn.Read(dst, bytes);
    if (m_deviceKind == INTERFACE_ASIO) return m_asio.Read(dst, bytes);
    if (m_deviceKind == INTERFACE_COREAUDIO) return m_endpointIn.Read(dst, bytes);
    return 0;
}

void CAudioEngine::ServicePlaybackDevice() {
    if (m_deviceKind == INTERFACE_WAVE) m_waveOut.Service();
    if (m_deviceKind == INTERFACE_ASIO) m_asio.Service();
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.Service();
}

int CAudioEngine::WritePlaybackDevice(const int16_t* pcm, int bytes) {
    if (m_deviceKind == INTERFACE_WAVE) return m_waveOut.Write(pcm, bytes);
    if (m_deviceKind == INTERFACE_ASIO) return m_asio.Write(pcm, bytes);
    if (m_deviceKind == INTERFACE_COREAUDIO) return m_endpointOut.Write(pcm, bytes);
    return 0;
}

void CAudioEngine::WriteMonitor(const int16_t* pcm, int bytes) {
    if (m_deviceKind == INTERFACE_WAVE) m_waveOut.WriteMonitor(pcm, bytes);
    if (m_deviceKind == INTERFACE_ASIO) m_asio.WriteMonitor(pcm, bytes);
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.WriteMonitor(pcm, bytes);
}

// ---- send side ----

void CAudioEngine::SetSendFormat(const AudioFormat* format) {
    if (format) m_sendFormat = *format;
}

void CAudioEngine::CloseEncoderSide() {
    if (m_encoder) m_encoder->CloseEncoder();
    m_encoder = nullptr;
    CloseCaptureDevice();
    m_encodeType = m_encodeUnit = m_sendFill = m_captureFill = 0;
}

int CAudioEngine::OpenEncoder() {
    if (!m_fifoArea || m_sendFormat.codingType == 0) return 0;
    if (m_encodeType != 0) CloseEncoderSide();
    if (m_sendFormat.direction == DIRECTION_RECEIVE_ONLY) return 1;
    const int type = m_sendFormat.codingType;
    if ((static_cast<uint32_t>(type) & m_codingMask) == 0) return 0;
    const int frameBytes = m_sendFormat.frameBytes;
    // A frame the FIFOs cannot hold would never be encoded or sent.
    if (frameBytes <= 0 || frameBytes > kFifoBytes) {
        FormatRefused(false);
        return 0;
    }
    if (type == CODING_PCM) {
        m_encodeUnit = m_sendLimit = frameBytes;
        m_captureLimit = 2 * frameBytes;
    } else {
        CCodec* codec = CodecFor(type);
        if (codec == nullptr) {
            FormatRefused(false);
            return 0;
        }
        codec->SetEncodeFormat(&m_sendFormat);
        codec->OpenEncoder();
        const int n = codec->GetEncodeFrameSize(&m_sendFormat);
        if (n <= 0 || n > kFifoBytes) {
            codec->CloseEncoder();
            FormatRefused(false);
            return 0;
        }
        m_encoder = codec;
        const CodingDescriptor* row = FindCoding(type);
        m_sendLimit = row && row->sendRoom ? row->sendRoom(frameBytes) : frameBytes;
        m_encodeUnit = m_captureLimit = n;
        if (m_deviceKind == INTERFACE_ASIO && (type == CODING_G711_ALAW || type == CODING_G711_ULAW || type == CODING_G722))
            m_captureLimit = 2 * n;
        if (type == CODING_MPEG_L3) {
            m_captureLimit =
                (m_sendFormat.deviceMode == DEVICEMODE_MONO && m_sendFormat.bitRate >= 64000) ? 2 * n : 3 * n;
        }
    }
    if (!OpenCaptureDevice()) return 0;
    m_encodeType = type;
    if (m_deviceKind == INTERFACE_ASIO && m_sendFormat.sampleRate != 48000) m_captureLimit += m_captureLimit / 4;
    m_captureLimit = std::min(m_captureLimit + 4, kFifoBytes);
    m_sendLimit = std::min(m_sendLimit, kFifoBytes);
    m_sendFill = m_captureFill = 0;
    return 1;
}

void CAudioEngine::CloseEncoder() {
    if (m_fifoArea) CloseEncoderSide();
}

int CAudioEngine::ChangeSendFormat(const AudioFormat* f) {
    if (f == nullptr) return 0;
    if (f->codingType == 0) {
        if (m_fifoArea) CloseEncoderSide();
        return 1;
    }
    if (m_encodeType != 0) {
        const bool monoOld = m_sendFormat.deviceMode == DEVICEMODE_MONO;
        const bool monoNew = f->deviceMode == DEVICEMODE_MONO;
        if (f->sampleRate != m_sendFormat.sampleRate || f->bitRate != m_sendFormat.bitRate ||
            f->codingType != m_sendFormat.codingType || monoOld != monoNew ||
            (f->codingType == CODING_APTX && f->aptxOption != m_sendFormat.aptxOption))
            CloseEncoderSide();
    }
    m_sendFormat = *f;
    if (m_encodeType == 0) return OpenEncoder();
    if (m_encoder) m_encoder->SetEncodeFormat(&m_sendFormat);
    return 1;
}

void CAudioEngine::MixClipIntoCapture(int r) {
    uint8_t* scratch = Fifo(kClip);
    auto* clip = reinterpret_cast<int16_t*>(scratch);
    const int c = m_clipPlayer->Read(clip, r);
    if (c > 0) {
        if (c < r) std::memset(scratch + c, 0, static_cast<size_t>(r - c));
        m_clipBytesPlayed += c;
    } else {
        m_clipFinished = m_clipPlayer->IsFinished();
        // Silent after the end too: stale clip audio must not go out again.
        std::memset(scratch, 0, static_cast<size_t>(r));
    }
    auto* cap = reinterpret_cast<int16_t*>(Fifo(kCapture) + m_captureFill);
    if (m_micOn) {
        for (int i = 0; i < r / 2; ++i) cap[i] = static_cast<int16_t>(std::clamp(cap[i] + clip[i], -32768, 32767));
    } else {
        std::memcpy(cap, scratch, static_cast<size_t>(r));
    }
    WriteMonitor(clip, r);
}

void CAudioEngine::ReadCapture() {
    if (!m_fifoArea) return;
    if (m_deviceKind == INTERFACE_WAVE) m_waveIn.Service();
    if (m_deviceKind == INTERFACE_ASIO) m_asio.ServiceCapture();
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointIn.Service();
    const int room = m_captureLimit - m_captureFill;
    if (room <= 0) return;
    const int n = std::min(m_encodeUnit, room);
    // ASIO hands over whole frames only once the last ones went out (Layer III excepted).
    if (m_deviceKind == INTERFACE_ASIO && m_sendFill > 0 && m_sendFormat.codingType != CODING_MPEG_L3) return;
    int r = 0;
    if (n > 0) r = ReadCaptureDevice(reinterpret_cast<int16_t*>(Fifo(kCapture) + m_captureFill), n);
    if (r > 0 && m_clipActive && !m_clipPaused && m_clipPlayer) MixClipIntoCapture(r);
    if (r > 0) m_captureFill += r;
}

void CAudioEngine::EncodeCapture() {
    if (!m_fifoArea) return;
    ReadCapture();
    if (m_encodeUnit <= 0 || m_captureFill < m_encodeUnit) return;
    const int room = m_sendLimit - m_sendFill;
    if (room < m_sendFormat.frameBytes) return;
    int produced = 0, consumed = 0;
    if (m_encoder) {
        produced = m_encoder->Encode(reinterpret_cast<const int16_t*>(Fifo(kCapture)), m_captureFill, &consumed,
                                     Fifo(kSend) + m_sendFill, room);
        produced = std::clamp(produced, 0, room);
        consumed = std::clamp(consumed, 0, m_captureFill);
    } else if (m_sendFormat.codingType == CODING_PCM) {
        produced = consumed = std::min(m_captureFill, room);
        std::memcpy(Fifo(kSend) + m_sendFill, Fifo(kCapture), static_cast<size_t>(produced));
    } else {
        return;
    }
    m_sendFill += produced;
    TakeFront(Fifo(kCapture), &m_captureFill, consumed);
}

int CAudioEngine::GetSendData(uint8_t* dst, int n) {
    if (!m_fifoArea || dst == nullptr || n <= 0) return 0;
    const int c = std::min(n, m_sendFill);
    std::memcpy(dst, Fifo(kSend), static_cast<size_t>(c));
    TakeFront(Fifo(kSend), &m_sendFill, c);
    return c;
}

int CAudioEngine::StretchCapture() {
    if (m_deviceKind == INTERFACE_WAVE) return m_waveIn.RequestStretch();
    if (m_deviceKind == INTERFACE_ASIO) return m_sendFill > 0 ? m_sendFill : m_asio.RequestStretch();
    if (m_deviceKind == INTERFACE_COREAUDIO) return m_endpointIn.RequestStretch();
    return 0;
}

void CAudioEngine::FlushCapture() {
    if (!m_fifoArea || m_deviceKind == INTERFACE_WAVE) return;
    m_waveIn.FlushCapture();
    m_captureFill = m_sendFill = 0;
}

// ---- receive side ----

void CAudioEngine::CloseDecoderSide() {
    if (m_decoder) m_decoder->CloseDecoder();
    m_decoder = nullptr;
    ClosePlaybackDevice();
    m_decodeType = m_decodeUnit = m_receiveFill = m_playbackFill = 0;
}

int CAudioEngine::OpenDecoder() {
    if (!m_fifoArea || m_receiveFormat.codingType == 0) return 0;
    if (m_decodeType != 0) CloseDecoderSide();
    if (m_receiveFormat.direction == DIRECTION_SEND_ONLY) return 1;
    const int type = m_receiveFormat.codingType;
    if ((static_cast<uint32_t>(type) & m_codingMask) == 0) return 0;
    const int frameBytes = m_receiveFormat.frameBytes;
    if (frameBytes <= 0 || frameBytes > kFifoBytes) {
        FormatRefused(true);
        return 0;
    }
    if (type == CODING_PCM) {
        m_decodeUnit = 4;
        m_playbackLimit = frameBytes;
    } else {
        CCodec* codec = CodecFor(type);
        if (codec == nullptr) {
            FormatRefused(true);
            return 0;
        }
        codec->SetDecodeFormat(&m_receiveFormat);
        codec->OpenDecoder();
        const int n = codec->GetDecodeFrameSize(&m_receiveFormat);
        if (n <= 0 || n + 4 > kFifoBytes) {
            codec->CloseDecoder();
            FormatRefused(true);
            return 0;
        }
        m_decoder = codec;
        m_decodeUnit = n;
        m_playbackLimit = type == CODING_MPEG_L3 ? 2 * n : n;
    }
    m_decodeType = type;
    if (!OpenPlaybackDevice()) return 0;
    m_playbackLimit = std::min(m_playbackLimit + 4, kFifoBytes);
    m_receiveLimit = std::min(frameBytes, kFifoBytes);
    m_receiveFill = m_playbackFill = 0;
    return 1;
}

void CAudioEngine::CloseDecoder() {
    if (m_fifoArea) CloseDecoderSide();
}

int CAudioEngine::SetReceiveFormat(const AudioFormat* f, int* changed) {
    int dummy = 0;
    if (changed == nullptr) changed = &dummy;
    *changed = 0;
    if (f == nullptr) return 1;
    if (f->direction == DIRECTION_SEND_ONLY) {
        if (m_fifoArea) CloseDecoderSide();
        return 1;
    }
    if (f->codingType == 0) {
        if (m_fifoArea) CloseDecoderSide();
        *changed = 1;
        return 1;
    }
    const bool monoOld = m_receiveFormat.deviceMode == DEVICEMODE_MONO;
    const bool monoNew = f->deviceMode == DEVICEMODE_MONO;
    if (m_decodeType != 0 && (f->sampleRate != m_receiveFormat.sampleRate || monoOld != monoNew) && m_fifoArea)
        CloseDecoderSide();
    if (m_decodeType == 0) {
        *changed = 1;
        m_receiveFormat = *f;
        SetOutputMute(1);
        return OpenDecoder();
    }
    if (f->codingType != m_decodeType) {
        CCodec* codec = CodecFor(f->codingType);
        if (f->codingType != CODING_PCM && codec == nullptr) {
            // Nothing could decode it: close the side rather than pass bytes on as PCM.
            CloseDecoderSide();
            *changed = 1;
            FormatRefused(true);
            return 1;
        }
        if (m_decoder) m_decoder->CloseDecoder();
        m_decoder = nullptr;
        m_receiveFill = 0;
        SetOutputMute(1);
        m_receiveFormat = *f;
        if (f->codingType == CODING_PCM) {
            m_decodeUnit = 4;
            m_playbackLimit = std::min(std::max(f->frameBytes, 4), kFifoBytes);
        } else {
            codec->SetDecodeFormat(&m_receiveFormat);
            codec->OpenDecoder();
            const int n = codec->GetDecodeFrameSize(&m_receiveFormat);
            m_decoder = codec;
            m_decodeUnit = std::clamp(n, 0, kFifoBytes - 4);
            m_playbackLimit = std::min(f->codingType == CODING_MPEG_L3 ? 2 * m_decodeUnit : m_decodeUnit, kFifoBytes);
        }
        m_decodeType = f->codingType;
        *changed = 1;
    } else {
        m_receiveFormat = *f;
    }
    m_receiveLimit = std::clamp(m_receiveFormat.frameBytes, 0, kFifoBytes);
    return 1;
}

// ASIO takes received audio only once the last decoded audio went to the
// device (Layer III excepted).
bool CAudioEngine::AsioHoldsReceive() const {
    return m_deviceKind == INTERFACE_ASIO && m_playbackFill > 0 && m_receiveFormat.codingType != CODING_MPEG_L3;
}

int CAudioEngine::GetReceiveSpace() const { return AsioHoldsReceive() ? 0 : m_receiveLimit - m_receiveFill; }

int CAudioEngine::PutReceiveData(const uint8_t* src, int n) {
    if (!m_fifoArea || src == nullptr || n < 0) return 0;
    if (AsioHoldsReceive()) return 0;
    if (n > m_receiveLimit - m_receiveFill) return 0;
    std::memcpy(Fifo(kReceive) + m_receiveFill, src, static_cast<size_t>(n));
    m_receiveFill += n;
    return 1;
}

void CAudioEngine::DecodeReceived() {
    const int unit = m_decodeType == CODING_PCM ? m_decodeUnit : m_receiveFormat.frameBytes;
    if (unit <= 0 || m_receiveFill < unit) return;
    const int room = m_playbackLimit - m_playbackFill;
    if (room < m_decodeUnit) return;
    int produced = 0, consumed = 0;
    if (m_decoder) {
        produced = m_decoder->Decode(Fifo(kReceive), m_receiveFormat.frameBytes, &consumed,
                                     reinterpret_cast<int16_t*>(Fifo(kPlayback) + m_playbackFill), room);
        produced = std::clamp(produced, 0, room);
        consumed = std::clamp(consumed, 0, m_receiveFill);
    } else if (m_receiveFormat.codingType == CODING_PCM) {
        produced = consumed = std::min(m_receiveFill, room);
        std::memcpy(Fifo(kPlayback) + m_playbackFill, Fifo(kReceive), static_cast<size_t>(produced));
    } else {
        return;
    }
    m_playbackFill += produced;
    TakeFront(Fifo(kReceive), &m_receiveFill, consumed);
}

void CAudioEngine::ProcessPlayback() {
    if (!m_fifoArea) return;
    DecodeReceived();
    ServicePlaybackDevice();
    if (m_decodeType == 0) {
        if (!m_clipActive) return;
        const int room = m_playbackLimit - m_playbackFill;
        if (room > 0 && m_clipPlayer && !m_clipPaused) {
            const int c =
                m_clipPlayer->Read(reinterpret_cast<int16_t*>(Fifo(kPlayback) + m_playbackFill), room);
            if (c > 0) {
                m_playbackFill += std::min(c, room);
                m_clipBytesPlayed += c;
            } else if (m_playbackFill <= 0) {
                m_clipFinished = m_clipPlayer->IsFinished();
            }
        }
    }
    if (m_playbackFill > 0) {
        const int w = WritePlaybackDevice(reinterpret_cast<const int16_t*>(Fifo(kPlayback)), m_playbackFill);
        if (w > 0) TakeFront(Fifo(kPlayback), &m_playbackFill, w);
    }
}

// ---- levels and clips ----

void CAudioEngine::GetLevels(int side, int* left, int* right) {
    int l = 0, r = 0;
    if (side == 0) {
        if (m_deviceKind == INTERFACE_WAVE) m_waveOut.GetLevels(&l, &r);
        if (m_deviceKind == INTERFACE_ASIO) m_asio.GetPlayLevels(&l, &r);
        if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.GetLevels(&l, &r);
    } else if (m_clipActive && !m_clipPaused && m_clipPlayer) {
        m_clipPlayer->GetLevels(&l, &r);
        if (m_micOn) {
            int ml = 0, mr = 0;
            CaptureLevels(&ml, &mr);
            l += ml, r += mr;
        }
    } else {
        CaptureLevels(&l, &r);
    }
    if (left) *left = ClampLevel(l);
    if (right) *right = ClampLevel(r);
}

void CAudioEngine::CaptureLevels(int* left, int* right) {
    if (m_deviceKind == INTERFACE_WAVE) m_waveIn.GetLevels(left, right);
    if (m_deviceKind == INTERFACE_ASIO) m_asio.GetCaptureLevels(left, right);
    if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointIn.GetLevels(left, right);
}

int CAudioEngine::SetClipGain(int level) {
    if (m_clipPlayer) {
        if (level < 0) {
            m_clipPlayer->SetGain(1, std::exp2(0.1 * std::abs(level) * M_LOG2E));
        } else {
            m_clipPlayer->SetGain(0, 1.0);
        }
    }
    return std::abs(level);
}

int CAudioEngine::LoadClip(const char* path) {
    if (m_clipPlayer == nullptr || path == nullptr) return 0;
    m_clipPlayer->SetFileName(path);
    m_clipPlayer->ClearLevels();
    return m_clipPlayer->PostCommand(kClipCommandOpen);
}

int CAudioEngine::StartClip() {
    if (m_clipPlayer == nullptr) return 0;
    if (m_encodeType != 0 || m_decodeType != 0) {
        m_clipRate = m_sendFormat.sampleRate;
        m_clipMode = m_sendFormat.deviceMode;
        m_clipPlayer->SetOutputFormat(m_clipRate, m_clipMode);
        if (m_deviceKind == INTERFACE_WAVE) m_waveOut.SetMonitorFormat(m_clipRate, m_clipMode);
        if (m_deviceKind == INTERFACE_ASIO) {
            m_asio.SetMonitorFormat(m_clipRate, m_clipMode);
            m_asio.SetClipActive(1);
        }
        if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.SetMonitorFormat(m_clipRate, m_clipMode);
    } else {
        m_clipRate = 48000;
        m_clipMode = m_clipPlayer->GetChannels() == 1 ? DEVICEMODE_MONO : DEVICEMODE_STEREO;
        m_clipPlayer->SetOutputFormat(48000, m_clipMode);
        if (m_deviceKind == INTERFACE_WAVE) {
            m_waveOut.SetBufferingMode(30, 0);
            m_waveOut.SetFormat(48000, m_clipMode);
            if (!m_waveOut.Open()) {
                const char* text = m_waveOut.GetErrorText();
                m_errorText = text ? text : "Output device error: Unknown error.";
                return 0;
            }
        } else if (m_deviceKind == INTERFACE_ASIO) {
            void* window = g_sharedState ? g_sharedState->mainWindow : nullptr;
            if (!m_asio.Open(window, 0) || !m_asio.Start()) {
                m_errorText = m_asio.GetErrorText();
                return 0;
            }
            m_asio.SetCaptureMode(1);  // capture off
            m_asio.SetPlaybackMode(30, 0);
            m_asio.SetCaptureFormat(CODING_PCM, 48000, m_clipMode);
            m_asio.SetPlaybackFormat(CODING_PCM, 48000, m_clipMode);
        } else if (m_deviceKind == INTERFACE_COREAUDIO) {
            m_endpointOut.SetBufferingMode(30, 0);
            m_endpointOut.SetFormat(CODING_PCM, 48000, 48000, m_clipMode);
            if (!m_endpointOut.Open()) {
                m_errorText = m_endpointOut.GetErrorText();
                return 0;
            }
        }
        m_playbackLimit = kFifoBytes;
        m_playbackFill = 0;
    }
    m_clipLengthMs = m_clipPlayer->GetLengthMs();
    m_clipFinished = m_clipPaused = m_clipBytesPlayed = 0;
    m_clipActive = 1;
    return 1;
}

int CAudioEngine::PauseClip() {
    if (!m_clipActive) return 0;
    int result = 1;
    if (m_encodeType != 0 || m_decodeType != 0) {
        if (m_deviceKind == INTERFACE_ASIO) m_asio.SetClipActive(0);
    } else if (m_deviceKind == INTERFACE_WAVE) {
        result = m_waveOut.Pause();
    } else if (m_deviceKind == INTERFACE_ASIO) {
        result = m_asio.PauseOutput();
    } else if (m_deviceKind == INTERFACE_COREAUDIO) {
        result = m_endpointOut.Pause();
    }
    m_clipPaused = 1;
    return result;
}

int CAudioEngine::ResumeClip() {
    if (!m_clipActive) return 0;
    int result = 1;
    if (m_encodeType != 0 || m_decodeType != 0) {
        if (m_deviceKind == INTERFACE_ASIO) m_asio.SetClipActive(1);
    } else if (m_deviceKind == INTERFACE_WAVE) {
        result = m_waveOut.Restart();
    } else if (m_deviceKind == INTERFACE_ASIO) {
        result = m_asio.ResumeOutput();
    } else if (m_deviceKind == INTERFACE_COREAUDIO) {
        result = m_endpointOut.Resume();
    }
    m_clipPaused = 0;
    return result;
}

int CAudioEngine::StopClip() {
    if (!m_clipActive) return 0;
    if (m_encodeType != 0 || m_decodeType != 0) {
        if (m_clipPlayer) m_clipPlayer->Close();
        if (m_deviceKind == INTERFACE_ASIO) m_asio.SetClipActive(0);
    } else {
        if (m_deviceKind == INTERFACE_WAVE) m_waveOut.Close();
        if (m_deviceKind == INTERFACE_ASIO) m_asio.Close();
        if (m_deviceKind == INTERFACE_COREAUDIO) m_endpointOut.Close();
        if (m_clipPlayer) m_clipPlayer->Close();
        m_playbackFill = 0;
    }
    m_clipFinished = m_clipPaused = m_clipBytesPlayed = m_clipActive = 0;
    return 1;
}

int CAudioEngine::GetClipPosition(int* playedMs, int* lengthMs) {
    if (lengthMs) *lengthMs = m_clipLengthMs;
    // Bytes per millisecond: rates below 1000 Hz (or 0) must not divide by zero.
    int64_t played = 0;
    if (m_clipRate >= 1000) {
        played = m_clipBytesPlayed / ((m_clipRate / 1000) * 2);
    } else if (m_clipRate > 0) {
        played = static_cast<int64_t>(m_clipBytesPlayed) * 1000 / (static_cast<int64_t>(m_clipRate) * 2);
    }
    if (m_clipMode != DEVICEMODE_MONO) played /= 2;
    if (playedMs) *playedMs = static_cast<int>(played);
    if (m_deviceKind == INTERFACE_WAVE && m_decodeType == 0 && m_waveOut.GetQueued() > 0) return 0;
    return m_clipFinished;
}
