#include "net/ChannelAligner.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"
#include "common/MpegHeader.h"
#include "net/BChannelFraming.h"

namespace {
constexpr int kMinSearchBytes = 768;
constexpr int kLockInFrames = 4;
constexpr int kUnlockedTakeLimit = 17;
constexpr int kFirstMarker = 24;   // the block with counter 0
constexpr int kSecondMarker = 25;  // the block with counter 1
constexpr int kStraddlingMarker = 26;
// A channel's marker comes round once in 16 of its frames: the partner of a
// marker is the other channel's marker that came off the line less than
// half that before or after it.
constexpr int kMarkerWindowFrames = 8;

constexpr int kMarkerCycleFrames = 17;

bool IsPairMarker(int m) { return m == kFirstMarker || m == kSecondMarker; }
constexpr int kCounterMask = 0x1F;
constexpr int kCounterHalfCircle = 16;
constexpr int kHeldHalves = 16;
// Layer II leaves at most a few bytes of its own that are 0xFF next to fill
// (Layer III, inverted on the line, may end a frame in a long run of them):
// its cut takes all of a run but those.
constexpr int kOwnFfBytes = 8;

bool IsFamily48(int sampleRate) { return sampleRate == 48000 || sampleRate == 24000; }

int ModeOf(int headerMode) {
    static constexpr int kModes[] = {DEVICEMODE_STEREO, DEVICEMODE_JOINT_STEREO, DEVICEMODE_DUAL_MONO,
                                     DEVICEMODE_MONO};
    return kModes[headerMode & 3];
}

bool SameFormat(const AudioFormat& a, const AudioFormat& b) {
    if (a.codingType != b.codingType || a.sampleRate != b.sampleRate || a.bitRate != b.bitRate) return false;
    return a.deviceMode == b.deviceMode ||
           (b.deviceMode == DEVICEMODE_JOINT_STEREO && a.deviceMode == DEVICEMODE_STEREO);
}

// The format a header stands for on a B-channel; false for a header no
// framing of ours carries. One channel carries 64 kbit/s of either layer and
// MPEG-2 at 128 kbit/s; 128 kbit/s MPEG-1 on one channel is Layer III only
// (Layer II at that rate is split over two channels).
bool FormatOfHeader(const MpegHeader& h, int coding, AudioFormat* out) {
    if (h.version != 1 && h.version != 2) return false;
    if (h.samplingIndex != 1 && h.samplingIndex != 2) return false;
    if (h.bitRate != 64000 && h.bitRate != 128000) return false;
    if (h.version == 1 && h.layer == 2 && h.bitRate == 128000) return false;
    AudioFormat f;
    f.codingType = coding;
    f.bitRate = h.bitRate;
    f.sampleRate = h.sampleRate;
    f.deviceMode = ModeOf(h.mode);
    f.frameBytes = MpegBytesPer1152Samples(h.bitRate, h.sampleRate);
    if (f.frameBytes <= 0) return false;
    *out = f;
    return true;
}
}  // namespace

int CChannelAligner::Init(int channels, int blockLength) {
    if (channels < 1 || channels > kMaxChannels || blockLength <= 0) return 0;
    m_channelCount = channels;
    m_blockLength = blockLength;
    for (int i = 0; i < 256; ++i) {
        int o = 0;
        o |= (i & 0x80);
        o |= ((i >> 6) & 1) << 5;
        o |= ((i >> 5) & 1) << 3;
        o |= ((i >> 4) & 1) << 1;
        o |= ((i >> 3) & 1) << 6;
        o |= ((i >> 2) & 1) << 4;
        o |= ((i >> 1) & 1) << 2;
        o |= i & 1;
        m_interleave[i] = static_cast<uint8_t>(o);
    }
    m_out.assign(static_cast<size_t>(6 * blockLength), 0);
    m_scratch.assign(static_cast<size_t>(kChannelBytes), 0);
    for (Channel& c : m_channels) {
        c = Channel();
        c.buffer.assign(kChannelBytes + 1, 0);
    }
    FullReset();
    m_paired = 0;
    m_formatChanged = 0;
    return 1;
}

void CChannelAligner::FullReset() {
    m_outCapacity = 6 * m_blockLength;
    m_detected = AudioFormat();
    m_output = AudioFormat();
    m_first = -1;
    m_formatChanged = 1;
    m_lockIn = 0;
    m_outFill = 0;
    m_locked = 0;
}

int CChannelAligner::ChannelFill(int channel) const {
    return channel >= 0 && channel < m_channelCount ? m_channels[channel].fill : 0;
}

int CChannelAligner::Write(int channel, const uint8_t* bytes, int n) {
    if (channel < 0 || channel >= m_channelCount || !bytes || n <= 0) return 0;
    if (channel == 0) m_clock += n;
    Channel& c = m_channels[channel];
    if (n > kChannelBytes) {
        bytes += n - kChannelBytes;
        n = kChannelBytes;
    }
    if (kChannelBytes - c.fill < n) {
        const int drop = n - (kChannelBytes - c.fill);
        Drop(c, drop);
    }
    std::memcpy(c.buffer.data() + c.fill, bytes, static_cast<size_t>(n));
    c.fill += n;
    return 1;
}

void CChannelAligner::GetFormat(AudioFormat* format) {
    if (format) *format = m_output;
    m_formatChanged = 0;
}

int CChannelAligner::Read(uint8_t* dst, int n) {
    if (!dst || n <= 0) return 0;
    const int take = std::min(n, m_outFill);
    std::memcpy(dst, m_out.data(), static_cast<size_t>(take));
    std::memmove(m_out.data(), m_out.data() + take, static_cast<size_t>(m_outFill - take));
    m_outFill -= take;
    return take;
}

void CChannelAligner::Drop(Channel& c, int n) {
    n = std::clamp(n, 0, c.fill);
    std::memmove(c.buffer.data(), c.buffer.data() + n, static_cast<size_t>(c.fill - n));
    c.fill -= n;
    c.search = std::max(0, c.search - n);
}

void CChannelAligner::Unlock(Channel& c) {
    c.locked = 0;
    c.quietSince = kNever;
    c.taken = 0;
    c.search = 0;
    c.shift = 0;
    c.idle = 0;
    c.held = 0;
    c.broken = 0;
}

// Whether the next frame of the locked stream (the same framing, rate and
// length) starts at a locked channel's position plus pos; without
// counterSeen, by its header alone (fill may still hide its counter byte).
bool CChannelAligner::FrameStartsAt(const Channel& c, int pos, bool counterSeen) const {
    AudioFormat f;
    if (m_detected.bitRate == 64000) {
        const bool inverted = m_detected.codingType == CODING_MPEG_L3;
        return CheckHeader(c, pos, c.shift, inverted, &f) && f.codingType == m_detected.codingType &&
               f.sampleRate == m_detected.sampleRate && f.bitRate == m_detected.bitRate;
    }
    if (m_detected.codingType == CODING_MPEG_L2) {
        int role = 0, half = 0, rate = 0;
        return CheckHalfHeader(c, pos, c.shift, IsFamily48(m_detected.sampleRate), &role, &half, &rate,
                               counterSeen) &&
               half == c.frameLength && rate == m_detected.sampleRate && role == c.role;
    }
    return CheckHeader(c, pos, c.shift, true, &f) && f.bitRate == 128000 && f.frameBytes == c.frameLength;
}

// A held-up sender's line carries idle fill (0xFF) where its next frame
// would be, and the frame follows once the sender goes on: the fill is
// skipped and the channel keeps its lock, so the stream goes on whole and
// in its format. Fill always ends where a frame begins; no frame of ours
// begins with two 0xFF bytes, and a Layer II one with at most one.
CChannelAligner::Idle CChannelAligner::SkipIdleFill(Channel& c) {
    const int readable = c.fill - 1;  // a shifted byte needs the next one
    int run = 0;
    while (run < readable && ByteAt(c, run) == 0xFF) ++run;
    if (run == 0) {
        c.idle = 0;
        return Idle::kNone;
    }
    auto skip = [&](int n) {
        if (n <= 0) return;
        Drop(c, n);
        c.idle += n;
        CountIdle(c, n);
    };
    // Where a frame may begin with a 0xFF of its own, the run's last byte
    // may be that: it stays until the bytes after it tell.
    const int own = FirstByteMayBeFf(c) ? 1 : 0;
    if (run == readable || c.fill < run + c.frameLength + 2) {
        skip(run - own);
        return c.idle > kMaxIdleBytes ? Idle::kTooLong : Idle::kWaiting;
    }
    for (int p : {run - 1, run}) {
        if (!FrameStartsAt(c, p)) continue;
        if (p == 0 && c.idle == 0) return Idle::kNone;  // a frame's own first byte
        skip(p);
        c.idle = 0;
        return Idle::kSkipped;
    }
    // No whole frame follows: the sender was held up again inside it. The
    // frame begins after the fill, where its header stands (the fill may hide
    // its counter byte, never its header): on the even-bit channel of the
    // split that is the run's last byte without CRC, the byte after it with
    // CRC. The fill inside the frame is cut out later.
    const bool headerAfterRun = own && !FrameStartsAt(c, run - 1, false) && FrameStartsAt(c, run, false);
    skip(headerAfterRun ? run : run - own);
    c.idle = 0;
    return Idle::kNone;
}

// Whether a frame on a locked channel may begin with 0xFF: a Layer II
// header does, and the even-bit half of the split may; Layer III, inverted
// on the line, and the odd-bit half never do.
bool CChannelAligner::FirstByteMayBeFf(const Channel& c) const {
    if (m_detected.codingType != CODING_MPEG_L2) return false;
    return m_detected.bitRate == 64000 || c.role == 1;
}

// Whether the block at a locked channel's front, its second byte at
// `second`, ends with its byte at `last` and the next block begins at
// `next`. A half header of the Layer II split is too short a sign alone
// (fill reads as one on the even-bit channel at 24 kHz): a half frame ends
// in its channel's counter (below 32 on the odd-bit channel, 32 to 63 on the
// even-bit one) and the next one begins as the one at the front does, but
// for the header bits that change from frame to frame (the mode extension,
// and stereo against joint stereo).
bool CChannelAligner::BlockEndsAt(const Channel& c, int second, int last, int next) const {
    if (m_detected.codingType != CODING_MPEG_L2 || m_detected.bitRate != 128000)
        return FrameStartsAt(c, next);
    const int steady = c.role == 0 ? 0xFFFB : 0xFFF3;
    const auto header = [&](int first, int then) {
        return (ByteAt(c, first) << 8 | ByteAt(c, then)) & steady;
    };
    return ByteAt(c, last) >> 5 == c.role && header(next, next + 1) == header(0, second);
}

// A sender held up inside one of its blocks (a frame, a half frame of the
// Layer II split, an MPEG-2 Layer III block of two frames) leaves the fill
// inside the block: the block is whole only when the next one's header
// follows it. Else a run of fill bytes whose length puts the headers there
// is cut out (any n bytes of a run of 0xFF leave the same bytes behind);
// kWaiting until the bytes after the block have come. A frame's own bytes
// may hold runs of 0xFF too (Layer III, inverted on the line, holds many):
// the run that holds the start of a B3 block (where a held-up sender's fill
// begins) is the fill, else the only run that fits; when several fit and
// none tells, the longest is cut, which keeps the next block in its place,
// and this one is marked broken, to be dropped.
CChannelAligner::Idle CChannelAligner::CutIdleFill(Channel& c) {
    const int len = c.frameLength;
    const int readable = c.fill - 1;
    if (readable < len + 5) return Idle::kWaiting;
    // An MPEG-2 Layer III block is two frames: fill as long as a frame
    // between them would put the second frame's header where the next
    // block's belongs.
    const bool twoFrames = m_detected.codingType == CODING_MPEG_L3 && m_detected.sampleRate < 32000;
    const int inner = twoFrames ? len / 2 : 0;
    // Whether the block is whole once the n bytes at p are cut out: its
    // byte k lies n further on before the cut when k >= p. The sender may
    // have been held up again right after the block (fillAfter): fill
    // between it and the next one is left for the next block's front.
    bool unseen = false;  // that fill goes on past what has come
    const auto whole = [&](int p, int n, bool fillAfter) {
        const auto before = [&](int k) { return k < p ? k : k + n; };
        if (inner != 0 && !FrameStartsAt(c, before(inner))) return false;
        const int end = before(len);
        if (BlockEndsAt(c, before(1), before(len - 1), end)) return true;
        if (!fillAfter) return false;
        int next = end;
        while (next < readable && ByteAt(c, next) == 0xFF) ++next;
        if (next == end) return false;
        if (next + 5 > readable) {
            unseen = true;
            return false;
        }
        // A Layer II half frame may begin with a 0xFF of its own.
        return BlockEndsAt(c, before(1), before(len - 1), next) ||
               BlockEndsAt(c, before(1), before(len - 1), next - 1);
    };
    if (whole(len, 0, true)) return Idle::kNone;
    struct Cut {
        int at, n, run;
        bool onBlock;
    };
    Cut chosen{0, 0, 0, false};
    int fits = 0;
    for (int p = 1; p <= len;) {
        if (ByteAt(c, p) != 0xFF) {
            ++p;
            continue;
        }
        int run = 0;
        while (p + run < readable && ByteAt(c, p + run) == 0xFF) ++run;
        if (p + run >= readable) return run > kMaxIdleBytes ? Idle::kTooLong : Idle::kWaiting;
        const int least = m_detected.codingType == CODING_MPEG_L2 ? std::max(1, run - kOwnFfBytes) : 1;
        if (len + run + 5 > readable) return Idle::kWaiting;
        // A cut that leaves fill after the block too is taken only when none
        // puts the next header right behind it: a shorter one would, where
        // the block ends in 0xFF bytes of its own.
        int n = least;
        while (n <= run && !whole(p, n, false)) ++n;
        if (n > run) {
            n = least;
            while (n <= run && !whole(p, n, true)) ++n;
        }
        if (n <= run) {
            // The fill begins where the sender's B3 block did: inside the
            // run, with what is before it the frame's own.
            const int blockStart = (p + m_blockLength - 1) / m_blockLength * m_blockLength;
            const Cut cut{p, n, run, blockStart <= p + run - n};
            ++fits;
            if (fits == 1 || (cut.onBlock && !chosen.onBlock) ||
                (cut.onBlock == chosen.onBlock && cut.run > chosen.run))
                chosen = cut;
        }
        p += run;
    }
    if (fits == 0) return unseen ? Idle::kWaiting : Idle::kNone;
    Excise(c, chosen.at, chosen.n);
    CountIdle(c, chosen.n);
    if (fits > 1 && !chosen.onBlock) c.broken = 1;
    return Idle::kSkipped;
}

// Fill is no stream time: a channel waiting for its marker waits as many
// frames of the stream however long the sender was held up.
void CChannelAligner::CountIdle(Channel& c, int n) {
    m_idleSkipped += n;
    if (c.quietSince != kNever) c.quietSince += n;
}

// Removes bytes pos .. pos + n - 1 of a channel as read at its bit shift:
// the byte at pos keeps its top `shift` bits (the end of the byte before)
// and takes the rest from the byte at pos + n.
void CChannelAligner::Excise(Channel& c, int pos, int n) {
    const auto keep = static_cast<uint8_t>(0xFF00 >> c.shift);
    c.buffer[pos] = static_cast<uint8_t>((c.buffer[pos] & keep) | (c.buffer[pos + n] & ~keep));
    std::memmove(c.buffer.data() + pos + 1, c.buffer.data() + pos + n + 1, static_cast<size_t>(c.fill - pos - n - 1));
    c.fill -= n;
}

void CChannelAligner::TakeFrame(Channel& c) {
    if (c.fill < c.frameLength) return;
    Drop(c, c.frameLength);
    c.broken = 0;
    if (m_locked) return;
    if (++c.taken > kUnlockedTakeLimit) Unlock(c);
}

// Byte k of a channel read at its bit shift; needs byte k + 1 when shifted.
int CChannelAligner::ByteAt(const Channel& c, int k) const {
    if (c.shift == 0) return c.buffer[k];
    return ((c.buffer[k] << 8 | c.buffer[k + 1]) >> (8 - c.shift)) & 0xFF;
}

bool CChannelAligner::CheckHeader(const Channel& c, int pos, int shift, bool inverted, AudioFormat* found) const {
    if (pos + 5 > c.fill) return false;
    uint64_t bits = 0;
    for (int i = 0; i < 5; ++i) bits = bits << 8 | c.buffer[pos + i];
    uint32_t word = static_cast<uint32_t>(bits >> (8 - shift));
    if (inverted) word = ~word;
    if ((word >> 20) != 0xFFF) return false;
    MpegHeader h;
    if (!ParseMpegHeaderWord(word, &h)) return false;
    if (h.layer != (inverted ? 3 : 2)) return false;
    return FormatOfHeader(h, inverted ? CODING_MPEG_L3 : CODING_MPEG_L2, found);
}

bool CChannelAligner::CheckHalfHeader(const Channel& c, int pos, int shift, bool family48, int* role,
                                      int* half, int* rateOut, bool counterSeen) const {
    if (pos + 3 > c.fill) return false;
    const int w = ((c.buffer[pos] << 16 | c.buffer[pos + 1] << 8 | c.buffer[pos + 2]) >> (8 - shift)) & 0xFFFF;
    if (w <= 0xFBFF) return false;
    int rate = 0;
    if (family48) {
        if (w & 0x20) {
            *role = 1;
            rate = (w & 0x80) ? 24000 : 48000;
        } else {
            if ((w & 0xF0) != 0x80) return false;
            *role = 0;
            rate = (w & 0x200) ? 48000 : 24000;
        }
    } else {
        if (w & 0x20) {
            if ((w & 0xF0) != 0xA0) return false;
            *role = 0;
            rate = (w & 0x200) ? 32000 : 16000;
        } else {
            *role = 1;
            rate = (w & 0x80) ? 16000 : 32000;
        }
    }
    // The bits every half header of the split has besides: the odd-bit half
    // begins 0xFC or 0xFE, the even-bit half 0xFE or 0xFF with the bit-rate
    // bit 0x40 clear (both 128 kbit/s indices have it so).
    if (*role == 0 ? (w & 0x100) != 0 : (w & 0xFE00) != 0xFE00 || (w & 0x40) != 0) return false;
    if (m_locked && (rate != m_detected.sampleRate || m_detected.codingType != CODING_MPEG_L2 ||
                     m_detected.bitRate != 128000))
        return false;
    *half = MpegBytesPer1152Samples(128000, rate) / 2;
    if (*half <= 0) return false;
    *rateOut = rate;
    if (!counterSeen) return true;
    if (pos + *half + 1 > c.fill) return false;
    // The counter byte of the half frame.
    const int k = pos + *half - 1;
    const int counter = shift == 0 ? c.buffer[k] : ((c.buffer[k] << 8 | c.buffer[k + 1]) >> (8 - shift)) & 0xFF;
    return counter != 0xFF;
}

// One pass of the sync search over at most one block of byte positions.
void CChannelAligner::Search(Channel& c, int index) {
    if (c.locked || c.fill < kMinSearchBytes) return;
    const int end = c.fill - m_blockLength;
    int j = c.search;
    int i = c.shift;
    bool found = false;
    bool waiting = false;
    for (; j < end && j < m_blockLength; ++j, i = 0) {
        if (c.buffer[j + 2] == 0xFF) continue;
        for (; i < 8; ++i) {
            const int word = ((c.buffer[j] << 8 | c.buffer[j + 1]) << i) & 0xFFFF;
            const int top = word >> 8;
            const bool normal = top == 0xFF || top == 0xFE || top == 0xFC;
            const bool inverted = word < 0x100;
            if (!normal && !inverted) continue;
            AudioFormat f;
            if (CheckHeader(c, j, i, inverted, &f)) {
                m_detected = f;
                m_paired = 0;
                c.frameLength = f.frameBytes;
                if (f.bitRate == 64000 && m_first < 0) m_first = index;
                found = true;
                break;
            }
            if (!normal) continue;
            int role = 0, half = 0, rate = 0;
            bool ok = false;
            for (bool family48 : {true, false}) {
                if (!CheckHalfHeader(c, j, i, family48, &role, &half, &rate)) continue;
                // The next half frame must follow, begin alike and end in the
                // channel's next counter.
                const int k1 = j + half - 1;
                const int k2 = j + 2 * half - 1;
                auto at = [&](int k) { return ((c.buffer[k] << 8 | c.buffer[k + 1]) >> (8 - i)) & 0xFF; };
                const int e = at(k1);
                if (e >> 5 != role) continue;
                if (j + 2 * half + 1 > c.fill) {
                    // At 24 and 16 kHz two half frames are more than a pass
                    // leaves: the candidate waits for its second rather than
                    // being dropped.
                    waiting = true;
                    break;
                }
                int role2 = 0, half2 = 0, rate2 = 0;
                const int g = at(k2);
                if (CheckHalfHeader(c, j + half, i, family48, &role2, &half2, &rate2) && role2 == role &&
                    rate2 == rate && g >> 5 == role && ((g - e) & kCounterMask) == 1) {
                    ok = true;
                    break;
                }
            }
            if (ok) {
                AudioFormat f2 = m_detected;
                f2.codingType = CODING_MPEG_L2;
                f2.bitRate = 128000;
                f2.sampleRate = rate;
                f2.frameBytes = 2 * half;
                m_detected = f2;
                c.frameLength = half;
                c.role = role;
                found = true;
                break;
            }
            if (waiting) break;
        }
        if (found || waiting) break;
    }
    if (found) {
        Drop(c, j);
        c.shift = i;
        c.locked = 1;
        c.quietSince = kNever;
        c.taken = 0;
        c.search = 0;
        m_lockIn = 0;
        return;
    }
    // Drop the positions searched; the rest waits for more bytes.
    Drop(c, j);
    c.shift = waiting ? i : 0;
    c.search = 0;
}

// False while a channel waits in idle fill, or once the fill lasted too
// long: then the stream is gone and the search starts over.
bool CChannelAligner::GoesOn(Channel& c, Idle idle) {
    if (idle == Idle::kTooLong) {
        Unlock(c);
        if (m_locked) FullReset();
    }
    return idle != Idle::kWaiting && idle != Idle::kTooLong;
}

// Fill at a locked channel's front. Only a stream the aligner has locked on
// is waited for: a channel still locking in may have found a false header
// (in the line's idle ones before the stream, say) and must lose it as it
// would.
bool CChannelAligner::RideIdleFill(Channel& c) {
    if (!m_locked && !c.held) return true;
    return GoesOn(c, SkipIdleFill(c));
}

void CChannelAligner::PublishDetected() {
    if (SameFormat(m_detected, m_output)) return;
    m_output = m_detected;
    m_formatChanged = 1;
}

// A frame taken while the aligner is unlocked: after four in a row it locks.
void CChannelAligner::LockIn(int frameLength) {
    if (++m_lockIn < kLockInFrames) return;
    m_locked = 1;
    PublishDetected();
    m_outCapacity = frameLength;
    m_outFill = 0;
}

void CChannelAligner::Run() {
    if (m_channelCount == 0) return;
    if (!m_locked) {
        bool any = false;
        for (int i = 0; i < m_channelCount; ++i) {
            Search(m_channels[i], i);
            any = any || m_channels[i].locked;
        }
        if (!any) m_detected = AudioFormat();
    }
    if (m_detected.bitRate == 64000) Extract64k();
    else if (m_detected.bitRate == 128000 && m_detected.codingType == CODING_MPEG_L2) Reassemble128kLayer2();
    else if (m_detected.bitRate == 128000 && m_detected.codingType == CODING_MPEG_L3) Alternate128kLayer3();
    if (m_locked) PublishDetected();
}

void CChannelAligner::Extract64k() {
    if (m_first < 0) return;
    for (int i = 0; i < m_channelCount; ++i) {
        if (i != m_first) m_channels[i].fill = 0;
    }
    Channel& c = m_channels[m_first];
    if (!c.locked || c.fill < 5) return;
    if (!RideIdleFill(c)) return;
    const bool inverted = m_detected.codingType == CODING_MPEG_L3;
    AudioFormat f;
    if (!CheckHeader(c, 0, c.shift, inverted, &f)) {
        Drop(c, 1);
        Unlock(c);
        if (m_locked) FullReset();
        return;
    }
    const int len = c.frameLength;
    if (m_locked && !GoesOn(c, CutIdleFill(c))) return;
    if (c.fill < len + 1) return;
    if (m_outCapacity - m_outFill < len || c.broken) {
        if (!inverted || c.broken) TakeFrame(c);
        return;
    }
    // Locking in: the newest whole frame is the one to take, so that the
    // output starts without a backlog and without a gap.
    if (!m_locked) Drop(c, ((c.fill - 1) / len - 1) * len);
    uint8_t* out = m_out.data() + m_outFill;
    const uint8_t flip = inverted ? 0xFF : 0x00;
    for (int k = 0; k < len; ++k) out[k] = static_cast<uint8_t>(ByteAt(c, k) ^ flip);
    TakeFrame(c);
    if (!m_locked) LockIn(len);
    if (m_locked) m_outFill += len;
}

void CChannelAligner::Reassemble128kLayer2() {
    Channel& a = m_channels[0];
    Channel& b = m_channels[1];
    if (m_channelCount < 2) return;
    for (Channel* c : {&a, &b}) {
        if (c->locked && c->fill <= c->frameLength) return;
    }
    for (Channel* c : {&a, &b}) {
        if (c->locked && !RideIdleFill(*c)) return;
    }
    // Fill inside a half frame goes before its counter is read.
    if (m_locked) {
        for (Channel* c : {&a, &b}) {
            if (!GoesOn(*c, CutIdleFill(*c))) return;
        }
    }
    bool valid[2] = {false, false};
    int roles[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        Channel& c = m_channels[i];
        if (!c.locked) continue;
        int role = 0, half = 0, rate = 0;
        valid[i] = CheckHalfHeader(c, 0, c.shift, IsFamily48(m_detected.sampleRate), &role, &half, &rate) &&
                   half == c.frameLength && rate == m_detected.sampleRate;
        roles[i] = role;
        if (!valid[i]) {
            Drop(c, 1);
            Unlock(c);
            if (m_locked) FullReset();
        }
    }
    if (!valid[0] && !valid[1]) return;
    if (valid[0] != valid[1]) {
        // The other channel of a split that was paired searches again: this
        // one keeps its newest half frames for it, as many as the counters
        // can still tell apart. Taking them all as they come would leave the
        // other channel, once found again, behind by the delay and the search
        // together: 16 or more frames, which the 5-bit counters pair with the
        // wrong halves.
        Channel& c = valid[0] ? a : b;
        if (!m_paired || c.fill > kHeldHalves * c.frameLength) TakeFrame(c);
        return;
    }
    auto resync = [&] {
        for (Channel* c : {&a, &b}) {
            Drop(*c, 1);
            Unlock(*c);
        }
        if (m_locked) FullReset();
    };
    if (roles[0] == roles[1]) {
        resync();
        return;
    }
    const int h = ByteAt(a, a.frameLength - 1) & kCounterMask;
    const int l = ByteAt(b, b.frameLength - 1) & kCounterMask;
    if (h != l) {
        const int lead = FrontLead(a, b, h, l);
        if (lead == 0) {
            resync();
            return;
        }
        // The channel behind takes a frame.
        TakeFrame(lead > 0 ? b : a);
        return;
    }
    const int frame = 2 * a.frameLength;
    if (!m_locked) {
        // Locking in: the newest pair of whole halves is the one to take;
        // both channels drop as many, so the pairs stay matched.
        const int whole = std::min((a.fill - 1) / a.frameLength, (b.fill - 1) / b.frameLength);
        Drop(a, (whole - 1) * a.frameLength);
        Drop(b, (whole - 1) * b.frameLength);
    }
    if (m_outCapacity - m_outFill < frame || a.broken || b.broken) {
        TakeFrame(a);
        TakeFrame(b);
        return;
    }
    const Channel& odd = roles[0] == 0 ? a : b;
    const Channel& even = roles[0] == 0 ? b : a;
    uint8_t* out = m_out.data() + m_outFill;
    for (int k = 0; k < a.frameLength; ++k) {
        const int d = ByteAt(odd, k);
        const int e = ByteAt(even, k);
        out[2 * k] = m_interleave[(d & 0xF0) | (e >> 4)];
        out[2 * k + 1] = m_interleave[((d << 4) & 0xF0) | (e & 0x0F)];
    }
    MpegHeader hd;
    const bool ok = ParseMpegHeader(out, &hd) && hd.layer == 2 && hd.bitRate == 128000 &&
                    (hd.version == 1 || hd.version == 2) && (hd.samplingIndex == 1 || hd.samplingIndex == 2) &&
                    MpegBytesPer1152Samples(128000, hd.sampleRate) == frame;
    if (!ok) {
        resync();
        return;
    }
    m_detected.codingType = CODING_MPEG_L2;
    m_detected.bitRate = 128000;
    m_detected.sampleRate = hd.sampleRate;
    m_detected.frameBytes = frame;
    m_detected.deviceMode = ModeOf(hd.mode);
    // A matched pair proves both locks: only false locks run out of takes.
    m_paired = 1;
    a.taken = 0;
    b.taken = 0;
    TakeFrame(a);
    TakeFrame(b);
    if (!m_locked) LockIn(frame);
    if (m_locked) m_outFill += frame;
}

// By how many halves the front of `a` is newer than the front of `b` (their
// counters h and l differ); 0 when that cannot be told. The counters repeat
// every 32 halves, and a channel that holds halves back while the other
// searches (or a channel delayed on the line) may be more than 16 behind at
// its front. The newest whole halves of the two channels came off the line
// together, though: their counters give the skew of the channels, and the
// fronts lie that skew plus what each channel holds apart.
int CChannelAligner::FrontLead(const Channel& a, const Channel& b, int h, int l) const {
    const int wa = (a.fill - 1) / a.frameLength;
    const int wb = (b.fill - 1) / b.frameLength;
    const int na = ByteAt(a, wa * a.frameLength - 1) & kCounterMask;
    const int nb = ByteAt(b, wb * b.frameLength - 1) & kCounterMask;
    const int skew = (na - nb) & kCounterMask;
    if (skew != kCounterHalfCircle) {
        const int lead = (skew > kCounterHalfCircle ? skew - 2 * kCounterHalfCircle : skew) - (wa - wb);
        // Only when the newest halves carry the counters the fronts lead to.
        if (((h - l - lead) & kCounterMask) == 0) return lead;
    }
    // The fronts alone, as far as their counters tell: the smaller counter is
    // behind, unless the counters wrapped between the two.
    const int diff = (h - l) & kCounterMask;
    if (diff == kCounterHalfCircle) return 0;
    return diff < kCounterHalfCircle ? diff : diff - 2 * kCounterHalfCircle;
}

// When the front frame of a channel came off the line, in bytes of line
// time: the newest bytes of both channels came together, just now.
int64_t CChannelAligner::ArrivedAt(const Channel& c) const { return m_clock - c.fill; }

// Channel x holds a marker at its front and the other channel does not: the
// other channel's marker that came off the line within the window around it
// is its partner. When the other channel showed it already, or its front
// is past the window without one, x's marker has no partner left and x goes
// on to its next; else the other channel takes frames towards it. The
// counters alone cannot tell which channel is ahead: the other channel's
// marker of the next cycle would pair blocks 32 apart.
void CChannelAligner::SeekMarkerPartner(int x) {
    Channel& holder = m_channels[x];
    Channel& other = m_channels[1 - x];
    const int64_t at = ArrivedAt(holder);
    const int64_t window = static_cast<int64_t>(kMarkerWindowFrames) * holder.frameLength;
    const int64_t seen = m_markerSeenAt[1 - x];
    const bool passed = seen > at - window && seen < at + window;
    if (passed || ArrivedAt(other) >= at + window) TakeFrame(holder);
    else TakeFrame(other);
}

// The Layer III marker of a channel's frame at its position, or -1 when the
// header there is no 128 kbit/s Layer III header.
int CChannelAligner::Layer3Marker(const Channel& c, AudioFormat* found) {
    if (!CheckHeader(c, 0, c.shift, true, found) || found->bitRate != 128000) return -1;
    const int len = found->frameBytes;
    if (len != c.frameLength || c.fill < len + 1) return -1;
    for (int k = 0; k < len; ++k) m_scratch[k] = static_cast<uint8_t>(ByteAt(c, k) ^ 0xFF);
    return CBChannelFraming::ReadLayer3Marker(m_scratch.data(), len);
}

// The channels taken in turn hand on the blocks in the order sent: the
// block after one with counter 0 has counter 1, and only that one. A
// channel that lost a block of its own (a receiver held up past what the
// line queues) breaks the turn while both headers still hold.
bool CChannelAligner::InTurn(int marker) const {
    if (marker < 0) return false;
    if (m_lastMarker == kFirstMarker) return marker == kSecondMarker;
    return marker != kSecondMarker || m_lastMarker < 0;
}

// Both channels keep their locks and the format stands; only their pairing
// is found again behind the markers, as when locking in.
void CChannelAligner::PairAgain() {
    m_locked = 0;
    m_lockIn = 0;
    for (int i = 0; i < kMaxChannels; ++i) {
        m_channels[i].quietSince = kNever;
        m_markerSeenAt[i] = kNever;
    }
}

void CChannelAligner::Alternate128kLayer3() {
    if (m_channelCount < 2) return;
    Channel& a = m_channels[0];
    Channel& b = m_channels[1];
    if (a.locked != b.locked) {
        Channel& c = a.locked ? a : b;
        if (c.fill > c.frameLength) TakeFrame(c);
        return;
    }
    if (!a.locked) return;
    if (!RideIdleFill(a) || !RideIdleFill(b)) return;
    if (a.fill <= a.frameLength || b.fill <= b.frameLength) return;
    int m[2] = {-1, -1};
    AudioFormat f[2];
    for (int i = 0; i < 2; ++i) {
        m[i] = Layer3Marker(m_channels[i], &f[i]);
        if (m[i] < 0) {
            Drop(m_channels[i], 1);
            Unlock(m_channels[i]);
            if (m_locked) FullReset();
        }
    }
    if (m[0] < 0 || m[1] < 0) return;
    // A block of two MPEG-2 mono frames carries its marker one bit in each:
    // read from a block's second frame on, the bits of two blocks give a
    // value no block carries. That channel moves on by one frame.
    for (int i = 0; i < 2; ++i) {
        if (m[i] != kStraddlingMarker) continue;
        // Locked, the channel lost a frame of its own: both keep their
        // locks on the format (a full reset would leave them locked on
        // none, and nothing would ever take their frames again).
        Channel& c = m_channels[i];
        Drop(c, c.frameLength / 2);
        c.held = 0;
        if (m_locked) PairAgain();
        return;
    }
    // Both headers hold: the locks are good, however long the markers take
    // to come round (once in 16 frames of a channel).
    a.taken = 0;
    b.taken = 0;
    if (!m_locked) {
        for (Channel* c : {&a, &b}) {
            if (!c->held) {
                c->held = c->fill > c->frameLength + 5 && FrameStartsAt(*c, c->frameLength);
                continue;
            }
            if (!GoesOn(*c, CutIdleFill(*c))) return;
        }
        for (int i = 0; i < 2; ++i) {
            Channel& c = m_channels[i];
            if (c.quietSince == kNever) c.quietSince = ArrivedAt(c);
            if (IsPairMarker(m[i])) {
                m_markerSeenAt[i] = ArrivedAt(c);
                c.quietSince = ArrivedAt(c);
            }
        }
        // A channel locked on a block's second frame never shows a marker:
        // after a whole marker cycle without one it searches again.
        for (int i = 0; i < 2; ++i) {
            Channel& c = m_channels[i];
            if (ArrivedAt(c) - c.quietSince <= kMarkerCycleFrames * static_cast<int64_t>(c.frameLength)) continue;
            Drop(c, 1);
            Unlock(c);
            return;
        }
        const bool pair =
            (m[0] == kFirstMarker && m[1] == kSecondMarker) || (m[0] == kSecondMarker && m[1] == kFirstMarker);
        const int64_t apart = ArrivedAt(a) - ArrivedAt(b);
        const int64_t window = static_cast<int64_t>(kMarkerWindowFrames) * a.frameLength;
        if (pair && (apart >= window || apart <= -window)) {
            // Markers of two cycles: the older one's partner went by.
            TakeFrame(apart < 0 ? a : b);
        } else if (pair) {
            m_locked = 1;
            m_lastMarker = -1;
            m_next = m[0] == kFirstMarker ? 0 : 1;
            m_detected = f[m_next];
            PublishDetected();
            m_outCapacity = m_detected.frameBytes;
            m_lockIn = 0;
            m_outFill = 0;
            TakeFrame(a);
            TakeFrame(b);
        } else if (IsPairMarker(m[0]) != IsPairMarker(m[1])) {
            SeekMarkerPartner(IsPairMarker(m[0]) ? 0 : 1);
        } else {
            TakeFrame(a);
            TakeFrame(b);
        }
        return;
    }
    Channel& c = m_channels[m_next];
    if (!GoesOn(c, CutIdleFill(c))) return;
    AudioFormat found;
    const int marker = Layer3Marker(c, &found);
    if (!InTurn(marker)) {
        PairAgain();
        return;
    }
    m_lastMarker = marker;
    const int len = c.frameLength;
    if (m_outCapacity - m_outFill >= len && !c.broken) {
        uint8_t* out = m_out.data() + m_outFill;
        for (int k = 0; k < len; ++k) out[k] = static_cast<uint8_t>(ByteAt(c, k) ^ 0xFF);
        m_outFill += len;
    }
    TakeFrame(c);
    m_next ^= 1;
}
