#include "net/IsdnAptxPath.h"

#include <algorithm>
#include <cstring>

#include "codecs/aptx/AptxStdEngine.h"
#include "common/Codes.h"
#include "net/BChannelFraming.h"

namespace {
constexpr int kScratchSamples = 1024;
// One poll's read of a channel fits beside what waits, so a late poll loses nothing.
constexpr int kPollReadBytes = 2400;
// The standard engine's sync pattern 0 (the apt-X flag of the format):
// 10 bits, one in bit 7 of each of 10 consecutive code words, once in a
// block of 128 words; on the line (high byte first) 16 bits apart, in a
// period of 2048 bits.
constexpr int kSyncPattern = kAptxStdSyncPatterns[0];
constexpr int kSyncBits = 10;
constexpr int kSyncSpan = 16 * (kSyncBits - 1) + 1;
constexpr long kBlockBits = 2048;
// The history holds two whole blocks of pattern before a run; what follows a
// run is held until two whole patterns have come after it, wherever it ends.
constexpr int kHistoryBytes = static_cast<int>((2 * kBlockBits + kSyncSpan) / 8) + 2;
constexpr int kAfterBytes = static_cast<int>((2 * kBlockBits + kSyncSpan) / 8) + 2;
// A stream's own zero bytes never cover a pattern: fewer than a block's.
constexpr int kLongestOwnRun = static_cast<int>(kBlockBits / 8) - 1;
}  // namespace

int CIsdnAptxPath::Init(int blockLength) {
    if (blockLength <= 0 || (blockLength & 1)) return 0;
    m_blockLength = blockLength;
    m_send.assign(static_cast<size_t>(2 * blockLength), 0);
    m_receive.assign(static_cast<size_t>(2 * blockLength + kPollReadBytes + kAfterBytes + kLongestOwnRun), 0);
    // Room for the most each holds, so that receiving never allocates.
    m_history.clear();
    m_history.reserve(2 * kHistoryBytes + 1);
    m_after.clear();
    m_after.reserve(kAfterBytes);
    m_replay.clear();
    m_replay.reserve(kAfterBytes);
    m_run = 0;
    m_fillCut = 0;
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
    // What is held back may come out with these bytes: a run's kept zeros
    // and the bytes after it.
    const int held = static_cast<int>(m_after.size()) + std::min(m_run, kLongestOwnRun) + 1;
    if (m_receiveFill + n + held > static_cast<int>(m_receive.size())) return 0;
    for (int k = 0; k < n; ++k) Take(static_cast<uint8_t>(~bytes[k]));
    Decode();
    return 1;
}

// One inverted line byte. A held-up sender leaves idle fill on the line,
// zero bytes here: in a locked stream a run of them is held back and cut to
// the stream's own zeros once the bytes after it show where its sync
// pattern went on.
void CIsdnAptxPath::Take(uint8_t b) {
    if (!m_after.empty()) {
        m_after.push_back(b);
        if (static_cast<int>(m_after.size()) >= kAfterBytes) ResolveRun();
        return;
    }
    if (b == 0 && (m_run > 0 || m_locked)) {
        if (++m_run >= kLossBytes) {
            // The sender is gone: the stream is lost.
            m_run = 0;
            m_locked = 0;
            m_formatChanged = 1;
        }
        return;
    }
    if (m_run >= kMinFillRun) {
        m_after.push_back(b);
        return;
    }
    EmitZeros(m_run);
    m_run = 0;
    Emit(b);
}

void CIsdnAptxPath::EmitZeros(int n) {
    for (int k = 0; k < n; ++k) Emit(0);
}

void CIsdnAptxPath::Emit(uint8_t b) {
    m_history.push_back(b);
    if (static_cast<int>(m_history.size()) > 2 * kHistoryBytes)
        m_history.erase(m_history.begin(), m_history.end() - kHistoryBytes);
    if (m_pending < 0) {
        m_pending = b;
        return;
    }
    // The line carries each word high byte first; the codec stores it low byte first.
    m_receive[static_cast<size_t>(m_receiveFill++)] = b;
    m_receive[static_cast<size_t>(m_receiveFill++)] = static_cast<uint8_t>(m_pending);
    m_pending = -1;
}

void CIsdnAptxPath::ResolveRun() {
    const int fill = FillInRun();
    m_fillCut += fill;
    EmitZeros(m_run - fill);
    m_run = 0;
    // A run and the bytes after it are longer than what is replayed, so no
    // replay resolves a run of its own.
    m_replay.assign(m_after.begin(), m_after.end());
    m_after.clear();
    for (uint8_t b : m_replay) Take(b);
}

// How many bytes of the held run are fill: the most whose cut leaves the
// sync pattern going on in step, from the last two blocks before the run
// through the zeros kept and on in the bytes after it. Unknown (no pattern
// before, none after in step): all of it.
int CIsdnAptxPath::FillInRun() const {
    const int slot = LastSyncInHistory();
    if (slot < 0) return m_run;
    for (int kept = 0; kept <= std::min(m_run, kLongestOwnRun); ++kept) {
        if (SyncStepsOn(slot, kept)) return m_run - kept;
    }
    return m_run;
}

// The bit position (in the history) of the last pattern that the block
// before it also shows; -1 when there is none.
int CIsdnAptxPath::LastSyncInHistory() const {
    const long bits = 8 * static_cast<long>(m_history.size());
    for (long p = bits - kSyncSpan; p >= kBlockBits && p > bits - kSyncSpan - kBlockBits; --p) {
        bool both = true;
        for (long at : {p, p - kBlockBits}) {
            for (int m = 0; m < kSyncBits && both; ++m)
                both = VirtualBit(at + 16 * m, 0) == ((kSyncPattern >> (kSyncBits - 1 - m)) & 1);
        }
        if (both) return static_cast<int>(p);
    }
    return -1;
}

// Whether, with `zeros` of the run kept, every pattern after the one at
// `slot` that the held bytes hold whole is in its place: at least two past
// the run.
bool CIsdnAptxPath::SyncStepsOn(int slot, int zeros) const {
    const long start = 8 * static_cast<long>(m_history.size() + static_cast<size_t>(zeros));
    const long end = start + 8 * static_cast<long>(m_after.size());
    int past = 0;
    for (long at = slot + kBlockBits; at + kSyncSpan <= end; at += kBlockBits) {
        for (int m = 0; m < kSyncBits; ++m)
            if (VirtualBit(at + 16 * m, zeros) != ((kSyncPattern >> (kSyncBits - 1 - m)) & 1)) return false;
        if (at >= start) ++past;
    }
    return past >= 2;
}

// Bit `pos` (first bit of a byte its top bit) of the history, `zeros` zero
// bytes, and the bytes held after the run.
int CIsdnAptxPath::VirtualBit(long pos, int zeros) const {
    long byte = pos >> 3;
    const int shift = 7 - static_cast<int>(pos & 7);
    const long history = static_cast<long>(m_history.size());
    if (byte < history) return (m_history[static_cast<size_t>(byte)] >> shift) & 1;
    byte -= history + zeros;
    if (byte < 0) return 0;
    return (m_after[static_cast<size_t>(byte)] >> shift) & 1;
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
