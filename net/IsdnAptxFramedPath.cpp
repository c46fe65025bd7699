#include "net/IsdnAptxFramedPath.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"
#include "net/BChannelFraming.h"

namespace {
constexpr int kWords = 4;
constexpr uint32_t kSyncTail = 0x2FD;
constexpr uint32_t kCandidateMask = 0xF80003FF;
constexpr uint32_t kCandidateValue = 0xE80002FD;  // 0x2FD, after the previous word's last 5 bits
constexpr uint32_t kWordMask = (1u << 27) - 1;
constexpr int kScratchSamples = 1024;
// Bytes per channel of one detection attempt: 32 words, whole decode units of every decoder.
constexpr int kDetectUnitBytes = 64;
constexpr int kCircle = CIsdnAptxFramedPath::kCounterWrap * CIsdnAptxFramedPath::kWordBits;  // 5184 frames

int CounterOf(uint32_t word) { return static_cast<int>((word >> 19) & 0xFF); }
int ChannelsOf(uint32_t word) { return static_cast<int>((((word >> 15) - 1) & 7) + 1); }
int StreamOf(uint32_t word) { return static_cast<int>((((word >> 12) - 1) & 7) + 1); }

void SetBit(std::vector<uint8_t>& bits, int index, int value) {
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (index & 7));
    if (value) bits[static_cast<size_t>(index >> 3)] |= mask;
    else bits[static_cast<size_t>(index >> 3)] &= static_cast<uint8_t>(~mask);
}
int GetBit(const std::vector<uint8_t>& bits, int index) { return (bits[static_cast<size_t>(index >> 3)] >> (7 - (index & 7))) & 1; }
}  // namespace

int CIsdnAptxFramedPath::Init(int channels, int blockLength) {
    if (channels < 1 || channels > 2 || blockLength <= 0) return 0;
    m_channels = channels;
    m_blockLength = blockLength;
    m_in.assign(kBufferBytes, 0);
    m_inFill = 0;
    m_stride[0] = channels == 1 ? 0 : kWords;
    m_stride[1] = 1;
    m_bitIndex = kWordBits;
    for (int c = 0; c < 2; ++c) {
        m_out[c].assign(kBufferBytes, 0);
        m_outBytes[c] = m_outBit[c] = 0;
        m_ring[c].assign(kRingBytes, 0);
        m_ringBits[c] = m_ringBit[c] = m_zeroRun[c] = 0;
        m_history[c].assign(kHistoryBits / 8, 0);
        m_track[c] = Track();
        // The counter starts at 0, the bit 18 marker, the channel count,
        // the stream index + 1 (0 for a channel not used), the 0x2FD tail.
        const uint32_t stream = c < channels ? static_cast<uint32_t>(c + 1) : 0;
        m_sync[c] = (1u << 18) | (static_cast<uint32_t>(channels) << 15) | (stream << 12) | kSyncTail;
    }
    m_phase = 0;
    m_historyPos = 0;
    m_aligned = 0;
    m_output.assign(kBufferBytes, 0);
    m_outFill = 0;
    m_scratch.assign(kScratchSamples, 0);
    m_formatChanged = 0;
    m_holding = m_heldFrames = 0;
    RestartDetection();
    return m_stdMono.OpenDecoder() && m_stdStereo.OpenDecoder() && m_enhMono.OpenDecoder() && m_enhStereo.OpenDecoder()
               ? 1
               : 0;
}

void CIsdnAptxFramedPath::RestartDetection() {
    m_coding = m_mode = m_aptxFlag = 0;
    m_detected = m_successes = m_attempts = 0;
    AudioFormat f;
    f.aptxOption = 1;
    f.deviceMode = DEVICEMODE_MONO;
    m_stdMono.SetDecodeFormat(&f);
    m_enhMono.SetDecodeFormat(&f);
    f.deviceMode = DEVICEMODE_STEREO;
    m_stdStereo.SetDecodeFormat(&f);
    m_enhStereo.SetDecodeFormat(&f);
    // Fresh decoders: what they saw of an earlier alignment is no help.
    m_stdMono.OpenDecoder();
    m_stdStereo.OpenDecoder();
    m_enhMono.OpenDecoder();
    m_enhStereo.OpenDecoder();
}

bool CIsdnAptxFramedPath::Decodes(CCodec& decoder, const uint8_t* bytes, int n, int16_t* scratch) {
    bool produced = false;
    int at = 0;
    while (at < n) {
        int used = 0;
        const int pcm = decoder.Decode(bytes + at, n - at, &used, scratch, kScratchSamples * 2);
        if (used <= 0) break;
        produced = produced || pcm > 0;
        at += used;
    }
    return produced;
}

// Every decoder that may still fit sees the same words; the last that
// produces samples names the kind. One attempt is one piece of words, so
// the time detection takes follows the stream, not the polls. The words
// tried are not audio to play.
void CIsdnAptxFramedPath::Detect() {
    const int n = kDetectUnitBytes * m_channels;
    if (m_outFill < n) return;
    ++m_attempts;
    int coding = 0, mode = 0;
    if (m_coding != CODING_APTX_ENH) {
        if (m_mode != DEVICEMODE_STEREO && Decodes(m_stdMono, m_output.data(), n, m_scratch.data())) {
            coding = CODING_APTX;
            mode = DEVICEMODE_MONO;
        }
        if (m_channels == 2 && m_mode != DEVICEMODE_MONO && Decodes(m_stdStereo, m_output.data(), n, m_scratch.data())) {
            coding = CODING_APTX;
            mode = DEVICEMODE_STEREO;
        }
    }
    if (m_coding != CODING_APTX) {
        if (Decodes(m_enhMono, m_output.data(), n, m_scratch.data())) {
            coding = CODING_APTX_ENH;
            mode = DEVICEMODE_MONO;
        }
        if (m_channels == 2 && Decodes(m_enhStereo, m_output.data(), n, m_scratch.data())) {
            coding = CODING_APTX_ENH;
            mode = DEVICEMODE_STEREO;
        }
    }
    std::memmove(m_output.data(), m_output.data() + n, static_cast<size_t>(m_outFill - n));
    m_outFill -= n;
    if (coding != 0) {
        // A run counts for one kind only.
        if (coding != m_coding || mode != m_mode) m_successes = 0;
        m_coding = coding;
        m_mode = mode;
        m_aptxFlag = 1;
        ++m_successes;
    } else {
        // A false start of one kind must not keep the others from trying.
        m_successes = 0;
        m_coding = m_mode = 0;
    }
    if (m_successes >= kDetectSuccesses) {
        m_detected = 1;
        m_formatChanged = 1;
    } else if (m_attempts >= kDetectAttempts) {
        m_coding = CODING_APTX;
        m_mode = DEVICEMODE_MONO;
        m_aptxFlag = 0;
        m_detected = 1;
        m_formatChanged = 1;
    }
}

void CIsdnAptxFramedPath::GetFormat(AudioFormat* format) {
    m_formatChanged = 0;
    if (!format) return;
    AudioFormat f;
    f.aptxOption = 0;
    if (m_detected) {
        f.codingType = m_coding;
        f.deviceMode = m_mode;
        f.bitRate = m_channels * 64000;
        f.sampleRate = m_channels * 15754 / (m_mode == DEVICEMODE_STEREO ? 2 : 1);
        f.frameBytes = m_blockLength * m_channels;
        f.aptxOption = m_aptxFlag;
    }
    *format = f;
}

uint32_t CIsdnAptxFramedPath::Advance(uint32_t word) {
    const int counter = CounterOf(word);
    const uint32_t next = counter + 1 >= kCounterWrap ? 0 : static_cast<uint32_t>(counter + 1);
    return (word & ~(0xFFu << 19)) | (next << 19);
}

int CIsdnAptxFramedPath::WriteSend(const uint8_t* bytes, int n) {
    if (!bytes || n < 0 || m_inFill + n > kBufferBytes) return 0;
    std::memcpy(m_in.data() + m_inFill, bytes, static_cast<size_t>(n));
    m_inFill += n;
    return 1;
}

void CIsdnAptxFramedPath::PutBits(int channel, uint32_t value, int bits) {
    for (int b = bits - 1; b >= 0; --b) {
        SetBit(m_out[channel], m_outBytes[channel] * 8 + m_outBit[channel], (value >> b) & 1);
        if (++m_outBit[channel] == 8) {
            m_outBit[channel] = 0;
            ++m_outBytes[channel];
        }
    }
}

void CIsdnAptxFramedPath::Frame() {
    int rounds = m_inFill / 8 / m_channels;
    for (int c = 0; c < m_channels; ++c) rounds = std::min(rounds, ((kBufferBytes - m_outBytes[c]) * 8 - m_outBit[c] - 8) / kFrameBits);
    int taken = 0;
    for (int r = 0; r < rounds; ++r) {
        const uint8_t* words = m_in.data() + taken;
        if (--m_bitIndex < 0) {
            m_bitIndex = kWordBits - 1;
            for (uint32_t& s : m_sync) s = Advance(s);
        }
        for (int c = 0; c < m_channels; ++c) {
            for (int k = 0; k < kWords; ++k) {
                const int w = c * m_stride[0] + k * m_stride[1];
                // Code words as the codec stores them: low byte first.
                PutBits(c, static_cast<uint32_t>(words[2 * w] | words[2 * w + 1] << 8), 16);
            }
            PutBits(c, (m_sync[c] >> m_bitIndex) & 1, 1);
        }
        taken += 8 * m_channels;
    }
    std::memmove(m_in.data(), m_in.data() + taken, static_cast<size_t>(m_inFill - taken));
    m_inFill -= taken;
}

int CIsdnAptxFramedPath::Available(int channel) const {
    return channel >= 0 && channel < m_channels ? m_outBytes[channel] : 0;
}

int CIsdnAptxFramedPath::ReadChannel(int channel, uint8_t* dst, int n) {
    if (channel < 0 || channel >= m_channels || !dst || n <= 0) return 0;
    const int take = std::min(n, m_outBytes[channel]);
    for (int k = 0; k < take; ++k) dst[k] = static_cast<uint8_t>(~CBChannelFraming::Reverse(m_out[channel][k]));
    // The partial byte moves to the front with the rest.
    std::memmove(m_out[channel].data(), m_out[channel].data() + take, static_cast<size_t>(m_outBytes[channel] - take + 1));
    m_outBytes[channel] -= take;
    return take;
}

int CIsdnAptxFramedPath::WriteReceived(int channel, const uint8_t* bytes, int n) {
    if (channel < 0 || channel >= m_channels || !bytes || n < 0) return 0;
    const long room = static_cast<long>(kRingBytes) * 8 - m_ringBits[channel];
    if (std::min(m_zeroRun[channel], kIdleBits) + 8L * n > room) return 0;
    for (int k = 0; k < n; ++k) {
        const uint8_t b = static_cast<uint8_t>(~bytes[k]);
        for (int i = 7; i >= 0; --i) PutReceivedBit(channel, (b >> i) & 1);
    }
    return 1;
}

// A run of 0 bits is held until a 1 ends it. A short run was code; from a
// long one the whole bytes of fill go (the fill came in whole bytes, and
// removing any of them from a run of like bits leaves the same stream).
void CIsdnAptxFramedPath::PutReceivedBit(int channel, int bit) {
    int& run = m_zeroRun[channel];
    if (!bit) {
        // Capped in whole bytes, so the remainder stays.
        if (++run >= kIdleBits + 8) run -= 8;
        return;
    }
    const int zeros = run < kIdleBits ? run : run % 8;
    for (int k = 0; k < zeros; ++k) SetBit(m_ring[channel], m_ringBits[channel]++, 0);
    SetBit(m_ring[channel], m_ringBits[channel]++, 1);
    run = 0;
}

uint32_t CIsdnAptxFramedPath::GetBits(int channel, int bits) {
    uint32_t v = 0;
    for (int b = 0; b < bits; ++b) v = v << 1 | static_cast<uint32_t>(GetBit(m_ring[channel], m_ringBit[channel]++));
    return v;
}

void CIsdnAptxFramedPath::TrackSync(int channel, const uint8_t* frameBits) {
    Track& t = m_track[channel];
    for (int k = 0; k < kFrameBits; ++k) t.registers[k] = t.registers[k] << 1 | frameBits[k];
    if (t.locked) {
        if (m_phase != t.phase) return;
        if ((t.registers[t.bit] & kWordMask) == t.expected) {
            t.confidence = 2;
        } else if (--t.confidence <= 0) {
            t.locked = 0;
        }
        t.expected = Advance(t.expected);
        return;
    }
    for (int k = 0; k < kFrameBits && !t.locked; ++k) {
        if ((t.registers[k] & kCandidateMask) != kCandidateValue) continue;
        const uint32_t w = t.registers[k] & kWordMask;
        for (const Candidate& c : t.candidates) {
            if (c.bit == k && c.word == w && ChannelsOf(w) == m_channels && StreamOf(w) <= m_channels) {
                t.locked = 1;
                t.phase = m_phase;
                t.confidence = 2;
                t.expected = Advance(w);
                t.bit = k;
                break;
            }
        }
        t.candidates[t.next] = {Advance(w), k};
        t.next = (t.next + 1) & 7;
    }
}

bool CIsdnAptxFramedPath::Align() {
    int frame[2] = {};
    for (int c = 0; c < m_channels; ++c) {
        const Track& t = m_track[c];
        int counter = CounterOf(t.expected);
        if (!(m_phase > t.phase)) counter = counter == 0 ? kCounterWrap - 1 : counter - 1;
        frame[c] = t.phase + kWordBits * counter;
    }
    // The channel furthest behind: behind another when less than half the
    // circle earlier.
    int reference = 0;
    for (int c = 1; c < m_channels; ++c) {
        const int ahead = ((frame[reference] - frame[c]) % kCircle + kCircle) % kCircle;
        if (ahead > 0 && ahead < kCircle / 2) reference = c;
    }
    for (int c = 0; c < m_channels; ++c) {
        const int frames = ((frame[c] - frame[reference]) % kCircle + kCircle) % kCircle;
        const long delay = static_cast<long>(frames) * kFrameBits - m_track[c].bit + 64;
        if (delay > kMaxDelayBits) return false;
        m_track[c].delay = static_cast<int>(delay);
    }
    return true;
}

void CIsdnAptxFramedPath::Receive() {
    int frames = (kBufferBytes - m_outFill) / 8 / m_channels;
    for (int c = 0; c < m_channels; ++c) frames = std::min(frames, (m_ringBits[c] - m_ringBit[c]) / kFrameBits);
    for (int f = 0; f < frames; ++f) {
        m_phase = m_phase == 0 ? kWordBits - 1 : m_phase - 1;
        for (int c = 0; c < m_channels; ++c) {
            uint8_t bits[kFrameBits];
            for (int k = 0; k < kFrameBits; ++k) {
                bits[k] = static_cast<uint8_t>(GetBits(c, 1));
                SetBit(m_history[c], (m_historyPos + k) % kHistoryBits, bits[k]);
            }
            TrackSync(c, bits);
        }
        m_historyPos = (m_historyPos + kFrameBits) % kHistoryBits;
        bool locked = true;
        for (int c = 0; c < m_channels; ++c) locked = locked && m_track[c].locked;
        const int wasAligned = m_aligned;
        if (!locked) m_aligned = 0;
        else if (!m_aligned) m_aligned = Align() ? 1 : 0;
        if (m_aligned != wasAligned) {
            if (!m_aligned && m_detected) {
                // A sender that ran dry or a slip on one channel costs the
                // lock for a moment; the kind found stays while the channels
                // are found again.
                m_holding = 1;
                m_heldFrames = 0;
            } else if (m_aligned && m_holding) {
                m_holding = 0;
            } else {
                RestartDetection();
                m_outFill = 0;
            }
        }
        if (m_holding && !m_aligned && ++m_heldFrames > kHoldFrames) {
            m_holding = 0;
            m_formatChanged = 1;
            RestartDetection();
            m_outFill = 0;
        }
        // The frame that brought the alignment is not kept.
        if (!m_aligned || !wasAligned) continue;
        for (int c = 0; c < m_channels; ++c) {
            int at = m_historyPos - m_track[c].delay - kFrameBits;
            at = ((at % kHistoryBits) + kHistoryBits) % kHistoryBits;
            const int stream = StreamOf(m_track[c].expected) - 1;
            for (int k = 0; k < kWords; ++k) {
                uint32_t w = 0;
                for (int b = 0; b < 16; ++b) w = w << 1 | static_cast<uint32_t>(GetBit(m_history[c], (at + 16 * k + b) % kHistoryBits));
                const int slot = stream * m_stride[0] + k * m_stride[1];
                m_output[static_cast<size_t>(m_outFill + 2 * slot)] = static_cast<uint8_t>(w & 0xFF);
                m_output[static_cast<size_t>(m_outFill + 2 * slot + 1)] = static_cast<uint8_t>(w >> 8);
            }
        }
        m_outFill += 8 * m_channels;
    }
    while (m_aligned && !m_detected && m_outFill >= kDetectUnitBytes * m_channels) Detect();
    for (int c = 0; c < m_channels; ++c) {
        const int used = m_ringBit[c] / 8;
        if (used == 0) continue;
        // The partial byte being written moves with the rest.
        std::memmove(m_ring[c].data(), m_ring[c].data() + used, static_cast<size_t>((m_ringBits[c] + 7) / 8 - used));
        m_ringBits[c] -= used * 8;
        m_ringBit[c] -= used * 8;
    }
}

int CIsdnAptxFramedPath::ReadReceived(uint8_t* dst, int n) {
    if (!dst || n <= 0) return 0;
    const int take = std::min(n, ReceivedAvailable());
    std::memcpy(dst, m_output.data(), static_cast<size_t>(take));
    std::memmove(m_output.data(), m_output.data() + take, static_cast<size_t>(m_outFill - take));
    m_outFill -= take;
    return take;
}
