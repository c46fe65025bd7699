#include "net/IsdnAptxPath.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"
#include "net/BChannelFraming.h"

namespace {
constexpr int kScratchSamples = 1024;
// One poll's read of a channel fits beside what waits, so a late poll loses nothing.
constexpr int kPollReadBytes = 2400;
}  // namespace

int CIsdnAptxPath::Init(int blockLength) {
    if (blockLength <= 0 || (blockLength & 1)) return 0;
    m_blockLength = blockLength;
    m_send.assign(static_cast<size_t>(2 * blockLength), 0);
    m_receive.assign(static_cast<size_t>(2 * blockLength + kPollReadBytes), 0);
    m_scratch.assign(kScratchSamples, 0);
    m_sendFill = m_receiveFill = m_decoded = 0;
    m_pending = -1;
    m_locked = 0;
    m_silentBytes = 0;
    m_formatChanged = 0;
    AudioFormat mono;
    mono.codingType = CODING_APTX;
    mono.deviceMode = DEVICEMODE_MONO;
    mono.aptxOption = 1;
    m_decoder.SetDecodeFormat(&mono);
    return m_decoder.OpenDecoder();
}

int CIsdnAptxPath::WriteSend(const uint8_t* bytes, int n) {
    if (!bytes || n < 0 || (n & 1) || m_sendFill + n > static_cast<int>(m_send.size())) return 0;
    for (int k = 0; k < n; k += 2) {
        m_send[static_cast<size_t>(m_sendFill + k)] = static_cast<uint8_t>(~CBChannelFraming::Reverse(bytes[k + 1]));
        m_send[static_cast<size_t>(m_sendFill + k + 1)] = static_cast<uint8_t>(~CBChannelFraming::Reverse(bytes[k]));
    }
    m_sendFill += n;
    return 1;
}

int CIsdnAptxPath::ReadSend(uint8_t* dst, int n) {
    if (!dst || n <= 0) return 0;
    const int take = std::min(n, m_sendFill);
    std::memcpy(dst, m_send.data(), static_cast<size_t>(take));
    std::memmove(m_send.data(), m_send.data() + take, static_cast<size_t>(m_sendFill - take));
    m_sendFill -= take;
    return take;
}

int CIsdnAptxPath::WriteReceived(const uint8_t* bytes, int n) {
    if (!bytes || n < 0) return 0;
    const int whole = n + (m_pending >= 0 ? 1 : 0);
    if (m_receiveFill + (whole & ~1) > static_cast<int>(m_receive.size())) return 0;
    for (int k = 0; k < n; ++k) {
        const uint8_t b = static_cast<uint8_t>(~bytes[k]);
        if (m_pending < 0) {
            m_pending = b;
            continue;
        }
        // The line carries each word high byte first; the codec stores it low byte first.
        m_receive[static_cast<size_t>(m_receiveFill++)] = b;
        m_receive[static_cast<size_t>(m_receiveFill++)] = static_cast<uint8_t>(m_pending);
        m_pending = -1;
    }
    Decode();
    return 1;
}

void CIsdnAptxPath::Decode() {
    const int wasLocked = m_locked;
    for (;;) {
        int used = 0;
        const int pcm = m_decoder.Decode(m_receive.data() + m_decoded, m_receiveFill - m_decoded, &used, m_scratch.data(),
                                         kScratchSamples * 2);
        if (used <= 0) break;
        if (pcm > 0) {
            m_locked = 1;
            m_silentBytes = 0;
        } else if (m_locked) {
            // A sender that ran dry leaves idle fill on the line and the
            // decoder searches again: the stream is given up only when it
            // stays away, so a short gap costs no new start.
            m_silentBytes += used;
            if (m_silentBytes >= kLossBytes) m_locked = 0;
        }
        if (m_locked) {
            m_decoded += used;
        } else {
            // Bytes the decoder searched in are no audio of ours.
            std::memmove(m_receive.data() + m_decoded, m_receive.data() + m_decoded + used,
                         static_cast<size_t>(m_receiveFill - m_decoded - used));
            m_receiveFill -= used;
        }
    }
    if (!m_locked) Drop(m_decoded);
    if (m_locked != wasLocked) m_formatChanged = 1;
}

void CIsdnAptxPath::Drop(int n) {
    n = std::min(n, m_receiveFill);
    if (n <= 0) return;
    std::memmove(m_receive.data(), m_receive.data() + n, static_cast<size_t>(m_receiveFill - n));
    m_receiveFill -= n;
    m_decoded = std::max(0, m_decoded - n);
}

void CIsdnAptxPath::GetFormat(AudioFormat* format) {
    m_formatChanged = 0;
    if (!format) return;
    AudioFormat f;
    f.aptxOption = 0;
    if (m_locked) {
        f.codingType = CODING_APTX;
        f.bitRate = 64000;
        f.sampleRate = 16000;
        f.deviceMode = DEVICEMODE_MONO;
        f.frameBytes = m_blockLength;
        f.aptxOption = 1;
    }
    *format = f;
}

int CIsdnAptxPath::ReadReceived(uint8_t* dst, int n) {
    if (!dst || n <= 0) return 0;
    const int take = std::min(n, Available());
    std::memcpy(dst, m_receive.data(), static_cast<size_t>(take));
    Drop(take);
    return take;
}
