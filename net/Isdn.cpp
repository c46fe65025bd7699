#include "net/Isdn.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"
#include "net/BChannelFraming.h"
#include "common/SharedState.h"
#include "platform/DynamicLibrary.h"
#include "platform/capi/Capi2032Api.h"

namespace {
constexpr int kSendBufferBlocks = 42;
constexpr int kStartupDropBlocks = 10;
constexpr int kMaxFramesPerPoll = 16;
constexpr uint32_t kCipMaskVoiceAndData = 0x10016;  // speech, unrestricted digital, 3.1 kHz audio, telephony
constexpr uint32_t kCipMaskData = 0x4;              // unrestricted digital information only

AudioFormat ZeroFormat() {
    AudioFormat f;
    f.aptxOption = 0;
    return f;
}

bool IsG711(int coding) { return coding == CODING_G711_ALAW || coding == CODING_G711_ULAW; }
bool IsAptx(int coding) { return coding == CODING_APTX || coding == CODING_APTX_ENH; }
}  // namespace

CISDN::CISDN() : m_sendFormat(ZeroFormat()), m_receiveFormat(ZeroFormat()) {
    for (int i = 0; i < 256; ++i) {
        uint8_t r = 0;
        for (int b = 0; b < 8; ++b) {
            if (i & (1 << b)) r |= static_cast<uint8_t>(0x80 >> b);
        }
        m_reverse[i] = r;
    }
}

// The channel applications release CAPI before the buffers go.
CISDN::~CISDN() { m_channels.clear(); }

std::unique_ptr<CManagedTransport> CISDN::Create(const CSettings& settings, int fastCpu) {
    auto isdn = std::make_unique<CISDN>();
    const int blockLength = settings.GetISDNSupported() ? 192 : 384;
    isdn->SetG711Law(settings.GetISDNG711Type());
    if (!isdn->Open(settings.GetISDNController(), blockLength, settings.GetISDNSynchroStart(),
                    settings.GetISDNDialDelay())) {
        return nullptr;
    }
    isdn->SetChannelMode(fastCpu);
    for (int i = 0; i < isdn->GetChannelCount(); ++i) isdn->SetMsn(i, settings.GetISDNMSN(i).c_str());
    return isdn;
}

int CISDN::Start(const ConnectionInfo& connection, const AudioFormat& sendFormat) {
    SetSendFormat(&sendFormat);
    return Dial(connection.isdn.number1);
}

int CISDN::StartListening(const CSettings& settings) {
    if (!settings.GetISDNAnswerAcceptCalls()) return 0;
    return Listen(settings.GetISDNAnswerAcceptVoice());
}

int CISDN::GetPeerAddress(char* out, int size) {
    if (!out || size < 2 * kNumberBytes) return 0;
    return GetPeerNumbers(out);
}

int CISDN::Open(int controller, int blockLength, int synchroStart, int dialDelay) {
    if (blockLength != 192 && blockLength != 384) return 0;
    m_blockLength = blockLength;
    m_dialDelayMs = dialDelay < 100 ? dialDelay * 1000 : dialDelay;
    if (g_sharedState) g_sharedState->isdnBlockLength = blockLength;
    // The G.722 path holds what two late polls may bring.
    if (!m_g711.Init(blockLength, 4) || !m_g722.Init(blockLength, 2 * kMaxRead) || !m_aligner.Init(2, blockLength) ||
        !m_aptx.Init(blockLength) || !m_aptxFramed[0].Init(1, blockLength) || !m_aptxFramed[1].Init(2, blockLength))
        return 0;
    m_g711.SetLaw(m_g711Law);
    HMODULE capi = LoadLibraryA(kCapiLibraryName);
    if (!capi) return 0;
    FreeLibrary(capi);
    const int prefill = std::max(synchroStart, 4);
    auto first = std::make_unique<CCapiApplication>();
    int channels = first->GetControllerChannels(controller);
    if (channels <= 0) return 0;
    channels = std::min(channels, 2);
    m_channels.push_back(std::move(first));
    while (static_cast<int>(m_channels.size()) < channels) m_channels.push_back(std::make_unique<CCapiApplication>());
    for (auto& app : m_channels) {
        if (!app->SelectController(controller) || !app->Register(blockLength, prefill)) {
            m_channels.clear();
            return 0;
        }
    }
    if (channels == 2) {
        m_channels[0]->SetSibling(m_channels[1].get());
        m_channels[1]->SetSibling(m_channels[0].get());
    }
    m_receive.assign(static_cast<size_t>(channels * blockLength * 4), 0);
    m_send.assign(static_cast<size_t>(blockLength * kSendBufferBlocks), 0);
    m_sendLimit = static_cast<int>(m_send.size());
    m_block.assign(static_cast<size_t>(blockLength * kSendBufferBlocks), 0);
    for (auto& half : m_half) half.assign(static_cast<size_t>(blockLength * kSendBufferBlocks), 0);
    m_readBuffer.assign(kMaxRead, 0);
    Reset();
    m_state = kIdle;
    m_stateChanged = 1;
    return 1;
}

void CISDN::Reset() {
    m_order[0] = m_order[1] = -1;
    m_frameCounter = 0;
    m_sendRestart = 0;
    m_sendStarved = 0;
    m_dropCounter = -1;
    m_receiveFill = 0;
    m_queued = 0;
    m_receiveLimit = 0;
    m_sendFormat = ZeroFormat();
    m_receiveFormat = ZeroFormat();
    m_receiveFormatChanged = 1;
    m_fillerFrames = 0;
    m_peerMarker = 0;
    m_g711.Clear();
    // A new call finds its G.722 and apt-X alignment afresh.
    m_g722.Clear();
    if (m_blockLength > 0) {
        m_aptx.Clear();
        for (CIsdnAptxFramedPath& p : m_aptxFramed) p.Clear();
    }
}

void CISDN::SetState(int state) {
    if (state == m_state) return;
    m_state = state;
    m_stateChanged = 1;
}

int CISDN::GetState() {
    m_stateChanged = 0;
    return m_state;
}

int CISDN::Listen(int acceptVoice) {
    if (m_state != kIdle || m_channels.empty()) return 0;
    int ok = 1;
    for (size_t i = 0; i < m_channels.size(); ++i) {
        const uint32_t mask = (i == 0 && acceptVoice) ? kCipMaskVoiceAndData : kCipMaskData;
        if (!m_channels[i]->Listen(mask)) ok = 0;
    }
    return ok;
}

int CISDN::Dial(const char* numbers) {
    m_ownError = 0;
    const int channels = GetChannelCount();
    const int bitRate = m_sendFormat.bitRate;
    // A rate the channels cannot carry whole is refused, never dialled short.
    if (bitRate <= 0 || bitRate % 64000 != 0 || channels * 64000 < bitRate) {
        m_ownError = kErrorBitRate;
        return 0;
    }
    m_wanted = bitRate / 64000;
    for (int i = 0; i < m_wanted; ++i) {
        char digits[kNumberBytes + 1] = {};
        int n = 0;
        for (int k = 0; k < kNumberBytes && numbers && numbers[i * kNumberBytes + k]; ++k) {
            const char c = numbers[i * kNumberBytes + k];
            if (c >= '0' && c <= '9') digits[n++] = c;
        }
        m_channels[i]->SetCalledNumber(digits);
    }
    m_connected = 0;
    if (!m_channels[0]->Connect(m_cip)) return 0;
    m_dialTimer.Stop();
    SetState(kDialling);
    return 1;
}

void CISDN::HangUp() {
    for (auto& app : m_channels) app->HangUp();
}

void CISDN::SetMsn(int channel, const char* text) {
    if (channel < 0 || channel >= GetChannelCount() || !text) return;
    char digits[31] = {};
    int n = 0;
    for (int i = 0; i < 30 && text[i]; ++i) {
        if (text[i] >= '0' && text[i] <= '9') digits[n++] = text[i];
    }
    m_channels[channel]->SetOwnNumber(digits);
}

void CISDN::SetG711Law(int law) {
    m_g711Law = law == CODING_G711_ULAW ? CODING_G711_ULAW : CODING_G711_ALAW;
    m_g711.SetLaw(m_g711Law);
}

void CISDN::SetChannelMode(int mode) {
    m_channelMode = mode;
    for (auto& app : m_channels) app->SetChannelMode(mode);
}

int CISDN::GetPeerNumbers(char* out) {
    if (m_state != kConnected || !out) return 0;
    std::memset(out, 0, 2 * kNumberBytes);
    for (int i = 0; i < GetChannelCount() && i < 2; ++i) {
        const std::string& n =
            m_channels[i]->IsIncoming() ? m_channels[i]->GetCallingNumber() : m_channels[i]->GetCalledNumber();
        std::memcpy(out + i * kNumberBytes, n.data(), std::min<size_t>(n.size(), kNumberBytes - 1));
    }
    return 1;
}

int CISDN::GetLastError() {
    int error = m_ownError;
    m_ownError = 0;
    for (auto& app : m_channels) {
        const int info = app->TakeInfo();
        // A normal clearing by the far end is the end of a call, not a failure.
        if (!error && info != static_cast<int>(CAPI_CAUSE_NORMAL_CLEARING)) error = info;
    }
    return error;
}

void CISDN::OnChannelStateChange(int channel) {
    CCapiApplication& app = *m_channels[channel];
    const int s = app.GetState();
    if (s == CCapiApplication::kIdle) {
        m_connected = std::max(0, m_connected - 1);
        m_stateChanged = 1;
        // Each frame of a two-channel call lies on both channels: the call
        // cannot go on with one, and the other would stay up unseen.
        if (m_state == kConnected && m_connected > 0) HangUp();
        if (m_state != kIdle && m_connected == 0) {
            Reset();
            SetState(kIdle);
        }
        return;
    }
    if (s != CCapiApplication::kConnected) return;
    m_stateChanged = 1;
    ++m_connected;
    m_answered = app.IsIncoming();
    if (m_answered) {
        if (m_state == kConnected) return;
        m_cip = app.GetCip();
    } else if (m_connected < m_wanted) {
        m_dialTimer.Start(static_cast<uint32_t>(m_dialDelayMs));
        return;
    }
    const int cip = m_cip;
    if (cip == 1 || cip == 4 || cip == 16) {
        // Voice: G.711 in the configured law.
        m_g711.GetFormat(&m_receiveFormat);
        ApplyReceiveFormat();
        m_receiveFormatChanged = 1;
    } else {
        m_receiveFormat = ZeroFormat();
    }
    m_frameCounter = 0;
    SetState(kConnected);
}

void CISDN::Poll() {
    for (int i = 0; i < GetChannelCount(); ++i) {
        if (m_state != kConnected) m_channels[i]->ProcessMessages();
        if (m_channels[i]->IsStateChanged()) OnChannelStateChange(i);
    }
    if (m_state == kDialling) {
        for (auto& app : m_channels) app->ClearReceived();
        if (m_dialTimer.IsRunning() && m_dialTimer.IsExpired()) {
            if (m_connected < GetChannelCount()) m_channels[m_connected]->Connect(m_cip);
            m_dialTimer.Stop();
        }
        return;
    }
    if (m_state != kConnected) return;
    SendPass();
    for (int i = 0; i < GetChannelCount() && m_state == kConnected; ++i) {
        m_channels[i]->ProcessMessages();
        const int n = m_channels[i]->Read(m_readBuffer.data(), kMaxRead);
        for (int k = 0; k < n; ++k) m_readBuffer[k] = m_reverse[m_readBuffer[k]];
        if (n > 0) DistributeReceived(i, m_readBuffer.data(), n);
        if (m_channels[i]->IsStateChanged()) OnChannelStateChange(i);
    }
    if (m_state == kConnected) RunReceivePath();
}

void CISDN::DistributeReceived(int channel, const uint8_t* bytes, int n) {
    if (m_order[0] < 0) {
        m_order[0] = channel;
        m_order[1] = channel == 1 ? 0 : 1;
    }
    const int coding = m_receiveFormat.codingType;
    if (IsG711(coding)) {
        if (channel == 0) m_g711.Write(bytes, n);
        return;
    }
    if (coding == CODING_MPEG_L2 || coding == CODING_MPEG_L3 || coding == 0) m_aligner.Write(channel, bytes, n);
    if ((coding == CODING_G722 || coding == 0) && channel == 0) m_g722.Write(bytes, n);
    const bool oneChannel = m_receiveFormat.bitRate == 64000;
    if (coding == 0 || (coding == CODING_APTX && !oneChannel) || coding == CODING_APTX_ENH) {
        if (coding == 0 || !oneChannel) m_aptxFramed[1].WriteReceived(channel, bytes, n);
        if ((coding == 0 || oneChannel) && channel == 0) m_aptxFramed[0].WriteReceived(channel, bytes, n);
    }
    if ((coding == 0 || (coding == CODING_APTX && oneChannel)) && channel == 0) m_aptx.WriteReceived(bytes, n);
}

void CISDN::RunReceivePath() {
    const int coding = m_receiveFormat.codingType;
    if (IsG711(coding)) {
        if (m_g711.IsFormatChanged()) {
            m_g711.GetFormat(&m_receiveFormat);
            ApplyReceiveFormat();
        }
        const int room = std::min({m_receiveLimit - m_receiveFill, kMaxRead, m_g711.Available()});
        if (room <= 0) return;
        uint8_t* scratch = m_readBuffer.data();
        const int n = m_g711.Read(scratch, room);
        StoreReceived(scratch, n);
        return;
    }
    if (IsAptx(coding)) {
        const bool oneChannel = m_receiveFormat.bitRate == 64000;
        if (coding == CODING_APTX && oneChannel) RunAptxPath();
        else RunAptxFramedPath(m_aptxFramed[oneChannel ? 0 : 1]);
        return;
    }
    if (coding == CODING_MPEG_L2 || coding == CODING_MPEG_L3 || coding == 0) RunMpegPath();
    if (m_receiveFormat.codingType == CODING_G722 || m_receiveFormat.codingType == 0) RunG722Path();
    if (m_receiveFormat.codingType == 0) RunAptxPath();
    if (m_receiveFormat.codingType == 0) RunAptxFramedPath(m_aptxFramed[0]);
    if (m_receiveFormat.codingType == 0) RunAptxFramedPath(m_aptxFramed[1]);
}

void CISDN::RunAptxPath() {
    if (m_aptx.IsFormatChanged()) {
        m_aptx.GetFormat(&m_receiveFormat);
        ApplyReceiveFormat();
    }
    if (m_receiveFormat.codingType != CODING_APTX) return;
    const int room = std::min({m_receiveLimit - m_receiveFill, kMaxRead, m_aptx.Available()});
    if (room <= 0) return;
    uint8_t* scratch = m_readBuffer.data();
    StoreReceived(scratch, m_aptx.ReadReceived(scratch, room));
}

void CISDN::RunAptxFramedPath(CIsdnAptxFramedPath& path) {
    path.Receive();
    if (path.IsFormatChanged()) {
        path.GetFormat(&m_receiveFormat);
        ApplyReceiveFormat();
    }
    if (!IsAptx(m_receiveFormat.codingType)) return;
    // Whole code words of every channel, so the decoder keeps its pairing.
    int room = std::min({m_receiveLimit - m_receiveFill, kMaxRead, path.ReceivedAvailable()});
    room -= room % 4;
    if (room <= 0) return;
    uint8_t* scratch = m_readBuffer.data();
    StoreReceived(scratch, path.ReadReceived(scratch, room));
}

void CISDN::RunG722Path() {
    m_g722.Process();
    if (m_g722.IsFormatChanged()) {
        m_g722.GetFormat(&m_receiveFormat);
        ApplyReceiveFormat();
    }
    if (m_receiveFormat.codingType != CODING_G722) return;
    const int room = std::min({m_receiveLimit - m_receiveFill, kMaxRead, m_g722.Available()});
    if (room <= 0) return;
    uint8_t* scratch = m_readBuffer.data();
    const int n = m_g722.Read(scratch, room);
    StoreReceived(scratch, n);
}

// The aligner's frames, one whole frame at a time, while the receive
// buffer has room for them.
void CISDN::RunMpegPath() {
    for (int pass = 0; pass < kMaxFramesPerPoll; ++pass) {
        // A frame the receive buffer had no room for waits in the aligner's
        // output: running the aligner now would drop the next one.
        if (m_aligner.Available() == 0) m_aligner.Run();
        if (m_aligner.IsFormatChanged()) {
            AudioFormat f;
            m_aligner.GetFormat(&f);
            const int oldMode = m_receiveFormat.deviceMode;
            if (m_answered && m_peerMarker && oldMode == DEVICEMODE_JOINT_STEREO) f.deviceMode = DEVICEMODE_JOINT_STEREO;
            m_receiveFormat = f;
            if (oldMode == DEVICEMODE_STEREO && f.deviceMode == DEVICEMODE_JOINT_STEREO) {
                m_receiveFormatChanged = 1;
            } else {
                ApplyReceiveFormat();
                m_aligner.Flush();
            }
        }
        const int coding = m_receiveFormat.codingType;
        const int frame = m_receiveFormat.frameBytes;
        if (coding != CODING_MPEG_L2 && coding != CODING_MPEG_L3) return;
        if (frame <= 0 || frame > static_cast<int>(m_readBuffer.size())) return;
        if (m_aligner.Available() < frame || m_receiveLimit - m_receiveFill < frame) return;
        uint8_t* scratch = m_readBuffer.data();
        m_aligner.Read(scratch, frame);
        StoreReceived(scratch, frame);
    }
}

void CISDN::ApplyReceiveFormat() {
    m_receiveFormat.direction = 0;
    const int coding = m_receiveFormat.codingType;
    // A stream with no sync to tell its mode by, on a call we placed in
    // stereo, is taken as our own stereo.
    if (IsAptx(coding) && !m_receiveFormat.aptxOption && !m_answered && m_sendFormat.deviceMode != DEVICEMODE_MONO) {
        m_receiveFormat.deviceMode = DEVICEMODE_STEREO;
        m_receiveFormat.sampleRate /= 2;
    }
    if (coding == CODING_MPEG_L2 && m_peerMarker && m_receiveFormat.bitRate == 64000) {
        m_fillerFrames = 1;
        m_markerMode = 10;
    } else if (coding != CODING_MPEG_L2) {
        m_receiveFormatChanged = 1;
    }
    m_receiveLimit = std::min(static_cast<int>(m_receive.size()), m_receiveFormat.frameBytes);
    m_dropCounter = 0;
}

void CISDN::StoreReceived(uint8_t* bytes, int n) {
    const int coding = m_receiveFormat.codingType;
    if (coding == 0 || n <= 0) return;
    if (m_receiveLimit - m_receiveFill < n) return;
    if (coding == CODING_MPEG_L2 && m_receiveFormat.bitRate == 64000) {
        CheckAncillaryMarker(bytes, n);
        if (m_fillerFrames) return;
    }
    if (m_peerMarker && m_receiveFormat.bitRate != 128000) return;
    if (m_dropCounter != -1) {
        const int frame = std::max(1, m_receiveFormat.frameBytes);
        m_dropCounter += std::max(1, n / frame);
        if (m_dropCounter < kStartupDropBlocks) return;
        m_dropCounter = -1;
        m_receiveFormatChanged = 1;
    }
    // The CRC is not carried on: the frame loses it and says so. Its tail
    // keeps its place in the frame-sized blocks, cleared rather than stale.
    if (coding == CODING_MPEG_L2 && n > 6 && (bytes[1] & 1) == 0) {
        bytes[1] |= 1;
        std::memmove(bytes + 4, bytes + 6, static_cast<size_t>(n - 6));
        bytes[n - 2] = 0;
        bytes[n - 1] = 0;
    }
    std::memcpy(m_receive.data() + m_receiveFill, bytes, static_cast<size_t>(n));
    m_receiveFill += n;
}

void CISDN::CheckAncillaryMarker(const uint8_t* frame, int n) {
    if (n <= 0 || m_connected < 2) return;
    const int m = frame[n - 1];
    // Both channels carry the frames; the aligner takes them from one.
    if (IsPeerMarker(m, m_aligner.FirstChannel())) {
        m_peerMarker = 1;
        if (m_markerMode != 20 && m_markerMode != 21 && m_markerMode != 22) {
            m_fillerFrames = 1;
            if (m_answered && m_sendFormat.deviceMode != 0) m_receiveFormat.deviceMode = m_sendFormat.deviceMode;
            m_receiveFormatChanged = 1;
            m_markerMode = 20;
            m_frameCounter = 8;
        }
    }
    if (!m_peerMarker && m == 0) m_markerMode = 1;
}

void CISDN::GetReceiveFormat(AudioFormat* format) {
    if (format) {
        *format = m_receiveFormat;
        if (m_peerMarker && m_answered) {
            format->codingType = CODING_MPEG_L2;
            format->bitRate = 128000;
        } else if (m_peerMarker && m_fillerFrames && m_receiveFormat.bitRate == 64000) {
            format->codingType = 0;
        }
    }
    m_receiveFormatChanged = 0;
}

int CISDN::ReadAudio(uint8_t* dst, int len) {
    if (m_state != kConnected || !dst || len <= 0) return 0;
    const int take = std::min(len, m_receiveFill);
    if (take <= 0) return 0;
    std::memcpy(dst, m_receive.data(), static_cast<size_t>(take));
    std::memmove(m_receive.data(), m_receive.data() + take, static_cast<size_t>(m_receiveFill - take));
    m_receiveFill -= take;
    return take;
}

int CISDN::GetSendSpace() { return std::max(0, m_sendLimit - m_queued); }

int CISDN::WriteAudio(const uint8_t* src, int len) {
    if (m_state != kConnected || !src || len < 0 || GetSendSpace() < len) return 0;
    std::memcpy(m_send.data() + m_queued, src, static_cast<size_t>(len));
    m_queued += len;
    return 1;
}

int CISDN::SendControl(int type, const void* data, int len) {
    (void)type;
    (void)data;
    (void)len;
    const int c = m_sendFormat.codingType;
    return (IsG711(c) || c == CODING_G722 || c == CODING_APTX || c == CODING_APTX_ENH) ? 1 : 0;
}

void CISDN::SetSendFormat(const AudioFormat* format) {
    if (!format) return;
    const AudioFormat& f = *format;
    if (f.codingType == m_sendFormat.codingType && f.sampleRate == m_sendFormat.sampleRate &&
        f.bitRate == m_sendFormat.bitRate) {
        if (f.deviceMode == m_sendFormat.deviceMode) return;
        if (m_sendFormat.deviceMode == DEVICEMODE_STEREO && f.deviceMode == DEVICEMODE_JOINT_STEREO) {
            m_sendFormat = f;
            return;
        }
    }
    m_sendFormat = f;
    if (m_state == kIdle) {
        m_cip = IsG711(f.codingType) ? 1 : 2;
        m_markerMode = f.codingType == CODING_MPEG_L2 && f.bitRate == 64000 ? 10 : 0;
    }
    int limit = f.frameBytes;
    if (m_fillerFrames || m_channelMode == 0 || f.codingType == CODING_MPEG_L3 || f.sampleRate == 24000 || f.sampleRate == 32000)
        limit *= 2;
    m_sendLimit = std::clamp(limit, 0, static_cast<int>(m_send.size()));
    m_queued = 0;
    m_sendRestart = 1;
    ApplySendWindow();
}

void CISDN::ApplySendWindow() {
    const int s = m_sendFormat.frameBytes;
    int value = -1;
    if (s > 0) {
        if (m_peerMarker) value = s + s / 2;
        else if (m_sendFormat.bitRate == 64000) value = s;
        else if (m_sendFormat.codingType == CODING_MPEG_L2) value = s / 2;
        else if (m_sendFormat.codingType == CODING_MPEG_L3) value = s;
        else return;
    }
    for (auto& app : m_channels) app->SetWindow(value);
}

int CISDN::CanSendBlock() {
    const int b = m_sendFormat.frameBytes;
    if (b <= 0 || m_order[0] < 0) return 0;
    if (m_sendFormat.bitRate == 64000) return m_channels[0]->GetSendSpace() >= b ? 1 : 0;
    if (m_sendFormat.codingType == CODING_MPEG_L2 && m_sendFormat.bitRate == 128000) {
        if (GetChannelCount() < 2) return 0;
        return m_channels[0]->GetSendSpace() >= b / 2 && m_channels[1]->GetSendSpace() >= b / 2 ? 1 : 0;
    }
    const int channel = m_frameCounter & 1;
    if (channel >= GetChannelCount()) return 0;
    return m_channels[channel]->GetSendSpace() >= b ? 1 : 0;
}

// One block of the send coding in the framing its coding and bit rate take.
int CISDN::SendBlock(const uint8_t* frame, int n) {
    if (m_fillerFrames) {
        const int length = CBChannelFraming::FillerFrame(m_sendFormat.sampleRate, m_half[0].data());
        if (length == 0) return 0;
        return SendOneFrameBlock(m_half[0].data(), length);
    }
    if (n <= 0 || n > static_cast<int>(m_block.size())) return 0;
    const int coding = m_sendFormat.codingType;
    if (m_sendFormat.bitRate == 64000) return SendOneFrameBlock(frame, n);
    if (m_sendFormat.bitRate != 128000) return 0;
    if (coding == CODING_G722) return SendOneFrameBlock(frame, n);
    if (coding == CODING_MPEG_L2) return SendSplitLayer2(frame, n);
    if (coding == CODING_MPEG_L3) return SendAlternateLayer3(frame, n);
    return 0;
}

int CISDN::SendOneFrameBlock(const uint8_t* frame, int n) {
    const uint8_t flip = m_sendFormat.codingType == CODING_MPEG_L3 ? 0xFF : 0x00;
    for (int i = 0; i < n; ++i) m_block[i] = static_cast<uint8_t>(m_reverse[frame[i]] ^ flip);
    const int x = m_frameCounter;
    const int first = CBChannelFraming::OneFrameMarker(m_markerMode, x, 0);
    if (first >= 0) m_block[n - 1] = static_cast<uint8_t>(first);
    if (!m_channels[0]->Send(m_block.data(), n)) return 0;
    if (GetChannelCount() > 1 && m_channels[1]->IsConnected()) {
        const int second = CBChannelFraming::OneFrameMarker(m_markerMode, x, 1);
        if (second >= 0) m_block[n - 1] = static_cast<uint8_t>(second);
        m_channels[1]->Send(m_block.data(), n);
    }
    if (m_markerMode == 22 && x == 31) {
        m_fillerFrames = 0;
        if (m_answered) m_sendRestart = 1;
    }
    m_markerMode = CBChannelFraming::NextMarkerMode(m_markerMode, x);
    m_frameCounter = (x + 1) & 0x1F;
    return 1;
}

int CISDN::SendSplitLayer2(const uint8_t* frame, int n) {
    if (GetChannelCount() < 2 || (n & 1)) return 0;
    const int c = (m_frameCounter + 1) & 0x1F;
    CBChannelFraming::SplitLayer2(frame, n, c, m_half[0].data(), m_half[1].data());
    if (!m_channels[0]->Send(m_half[0].data(), n / 2) || !m_channels[1]->Send(m_half[1].data(), n / 2)) return 0;
    m_frameCounter = c;
    if (m_peerMarker && c == 31 && m_markerMode == 22 && m_receiveFormat.bitRate == 64000) m_markerMode = 10;
    return 1;
}

int CISDN::SendAlternateLayer3(const uint8_t* frame, int n) {
    const int channel = m_frameCounter & 1;
    if (channel >= GetChannelCount()) return 0;
    std::memcpy(m_half[0].data(), frame, static_cast<size_t>(n));
    CBChannelFraming::MarkLayer3(m_half[0].data(), n, m_frameCounter);
    for (int i = 0; i < n; ++i) m_block[i] = static_cast<uint8_t>(~m_reverse[m_half[0][i]]);
    if (!m_channels[channel]->Send(m_block.data(), n)) return 0;
    m_frameCounter = (m_frameCounter + 1) & 0x1F;
    return 1;
}

void CISDN::SendPass() {
    const int b = m_sendFormat.frameBytes;
    if (m_sendFormat.codingType == 0 || m_order[0] < 0) return;
    if (IsAptx(m_sendFormat.codingType)) {
        SendAptxPass();
        return;
    }
    if (!CanSendBlock()) return;
    if (!m_fillerFrames && m_queued < b) {
        m_sendStarved = 1;
        return;
    }
    if (!SendBlock(m_send.data(), b)) return;
    m_sendStarved = 0;
    m_sendRestart = 0;
    if (m_fillerFrames && m_queued <= b) return;
    std::memmove(m_send.data(), m_send.data() + b, static_cast<size_t>(m_queued - b));
    m_queued -= b;
}

// apt-X goes to its paths as the encoder made it; they send whole B3 blocks
// on every channel that has room for one.
void CISDN::SendAptxPass() {
    const int b = m_sendFormat.frameBytes;
    const int coding = m_sendFormat.codingType;
    const bool oneChannel = m_sendFormat.bitRate == 64000;
    if (!oneChannel && (m_sendFormat.bitRate != 128000 || GetChannelCount() < 2)) return;
    uint8_t* block = m_block.data();
    if (coding == CODING_APTX && oneChannel) {
        if (b > 0 && m_queued >= b && m_aptx.WriteSend(m_send.data(), b)) {
            std::memmove(m_send.data(), m_send.data() + b, static_cast<size_t>(m_queued - b));
            m_queued -= b;
        }
        if (m_channels[0]->GetSendSpace() < m_blockLength) return;
        if (m_aptx.SendAvailable() < m_blockLength) {
            m_sendStarved = 1;
            return;
        }
        m_sendStarved = 0;
        m_aptx.ReadSend(block, m_blockLength);
        m_channels[0]->Send(block, m_blockLength);
        if (GetChannelCount() > 1 && m_channels[1]->IsConnected()) m_channels[1]->Send(block, m_blockLength);
        return;
    }
    CIsdnAptxFramedPath& path = m_aptxFramed[oneChannel ? 0 : 1];
    if (b > 0 && m_queued >= b && path.WriteSend(m_send.data(), b)) {
        std::memmove(m_send.data(), m_send.data() + b, static_cast<size_t>(m_queued - b));
        m_queued -= b;
    }
    path.Frame();
    const int lines = oneChannel ? 1 : 2;
    for (int i = 0; i < lines; ++i) {
        const int channel = oneChannel ? 0 : m_order[i];
        if (m_channels[channel]->GetSendSpace() < m_blockLength) continue;
        if (path.Available(i) < m_blockLength) {
            m_sendStarved = 1;
            continue;
        }
        m_sendStarved = 0;
        path.ReadChannel(i, block, m_blockLength);
        m_channels[channel]->Send(block, m_blockLength);
        if (oneChannel && GetChannelCount() > 1 && m_channels[1]->IsConnected()) m_channels[1]->Send(block, m_blockLength);
    }
}
