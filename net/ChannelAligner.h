#pragma once
// Recovers MPEG frames from the bytes of one or two B-channels: finds frame
// headers at any bit offset and either polarity, locks each channel, knows
// the B-channel framings (64 kbit/s frames on one channel, the two-channel
// Layer II split with its 5-bit counters, Layer III frames alternating
// between the channels behind their private-bit markers), reassembles whole
// frames and reports the format it found. Fed with bit-reversed bytes per
// channel; read one frame at a time.
//
// Call engine worker thread only.
#include <cstdint>
#include <vector>

#include "common/Records.h"

class CChannelAligner {
public:
    static constexpr int kChannelBytes = 20480;
    static constexpr int kMaxChannels = 2;
    // Idle fill (0xFF) a held-up sender leaves on a channel, between frames
    // or between the B3 blocks of one, is left out and the lock kept for up
    // to this long (720 ms); longer, the stream counts as gone and the search
    // starts over.
    static constexpr int kMaxIdleBytes = 5760;

    // 1, or 0 for a bad argument.
    int Init(int channels, int blockLength);
    // 1, or 0 for a bad channel or no bytes. A full channel drops its oldest
    // bytes first.
    int Write(int channel, const uint8_t* bytes, int n);
    // One pass of search and reassembly.
    void Run();
    int IsFormatChanged() const { return m_formatChanged; }
    // Copies the format found and clears the changed flag.
    void GetFormat(AudioFormat* format);
    int Available() const { return m_outFill; }
    int Read(uint8_t* dst, int n);
    void Flush() { m_outFill = 0; }
    int IsLocked() const { return m_locked; }
    // The channel a 64 kbit/s stream's frames are taken from; -1 unknown.
    int FirstChannel() const { return m_first; }
    // Tests: a channel's buffered byte count.
    int ChannelFill(int channel) const;
    // Bytes of idle fill skipped since Init.
    long IdleBytesSkipped() const { return m_idleSkipped; }

private:
    static constexpr int64_t kNever = -(int64_t{1} << 40);  // line time before any byte

    struct Channel {
        std::vector<uint8_t> buffer;
        int fill = 0;
        int locked = 0;
        int frameLength = 0;  // half a frame in the two-channel Layer II split
        int shift = 0;
        int search = 0;
        int taken = 0;        // frames taken while the aligner is not locked
        int role = 0;         // Layer II split: 0 odd bits, 1 even bits
        int idle = 0;         // idle fill skipped in the current stretch
        // Layer III: a header was found one block after the locked one; the
        // lock is real and rides out idle fill while locking in.
        int held = 0;
        // Fill was cut out of the front block where its own bytes could not
        // be told from it: the block is dropped, the lock kept.
        int broken = 0;
        // Layer III: line time of the front when the channel last showed a
        // marker, or when it was first looked at after locking.
        int64_t quietSince = kNever;
    };
    enum class Idle { kNone, kWaiting, kSkipped, kTooLong };

    void FullReset();
    void Search(Channel& c, int index);
    bool CheckHeader(const Channel& c, int pos, int shift, bool inverted, AudioFormat* found) const;
    // counterSeen false: the header alone, whatever the half frame's counter byte.
    bool CheckHalfHeader(const Channel& c, int pos, int shift, bool family48, int* role, int* half,
                         int* rate, bool counterSeen = true) const;
    int ByteAt(const Channel& c, int k) const;
    void Drop(Channel& c, int n);
    void TakeFrame(Channel& c);
    void Unlock(Channel& c);
    void Extract64k();
    void Reassemble128kLayer2();
    int FrontLead(const Channel& a, const Channel& b, int h, int l) const;
    void Alternate128kLayer3();
    void LockIn(int frameLength);
    void PublishDetected();
    int Layer3Marker(const Channel& c, AudioFormat* found);
    bool FrameStartsAt(const Channel& c, int pos, bool counterSeen = true) const;
    bool BlockEndsAt(const Channel& c, int second, int last, int next) const;
    Idle SkipIdleFill(Channel& c);
    bool FirstByteMayBeFf(const Channel& c) const;
    Idle CutIdleFill(Channel& c);
    void Excise(Channel& c, int pos, int n);
    void CountIdle(Channel& c, int n);
    bool GoesOn(Channel& c, Idle idle);
    bool RideIdleFill(Channel& c);
    int64_t ArrivedAt(const Channel& c) const;
    void SeekMarkerPartner(int x);
    bool InTurn(int marker) const;
    void PairAgain();

    int m_channelCount = 0;
    int m_blockLength = 0;
    Channel m_channels[kMaxChannels];
    int m_first = -1;
    int m_next = 0;
    int m_lockIn = 0;
    int64_t m_clock = 0;  // bytes written to the first channel: line time
    // When each channel last showed a Layer III marker at its front (24 or 25).
    int64_t m_markerSeenAt[kMaxChannels] = {kNever, kNever};
    int m_locked = 0;
    int m_lastMarker = -1;  // Layer III: the marker of the block handed on last; -1 none since locking
    int m_paired = 0;  // the two-channel split has been reassembled since the last other framing
    AudioFormat m_detected;
    AudioFormat m_output;
    int m_formatChanged = 1;
    std::vector<uint8_t> m_out;
    int m_outCapacity = 0;
    int m_outFill = 0;
    std::vector<uint8_t> m_scratch;
    uint8_t m_interleave[256] = {};
    long m_idleSkipped = 0;
};
