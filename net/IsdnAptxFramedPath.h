#pragma once
// apt-X in 65-bit frames on one or two B-channels: four 16-bit code words
// and one bit of a 27-bit synchronisation word per frame and channel. The
// sync word lets the receiver find the frame position at any bit offset,
// tell the channels apart and undo up to about two seconds of delay between
// them. Call worker's thread only.
#include <cstdint>
#include <vector>

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"
#include "common/Records.h"

class CIsdnAptxFramedPath {
public:
    static constexpr int kBufferBytes = 3840;
    static constexpr int kFrameBits = 65;
    static constexpr int kWordBits = 27;
    static constexpr int kCounterWrap = 192;
    static constexpr int kHistoryBits = 128000;
    static constexpr int kMaxDelayBits = kHistoryBits - 97;
    // A channel's idle fill is left out, so its partner's bytes wait in their
    // ring for as long as the history can undo.
    static constexpr int kRingBytes = kBufferBytes + kHistoryBits / 8;
    // Every sync word has a 1 at least every ninth bit (the longest run of
    // 0 is a counter of 0), so framed apt-X never carries more than
    // 8 x 65 + 64 = 584 bits of 0 in a row: a run this long is a starved
    // sender's idle fill (0xFF on the line), not code.
    static constexpr int kIdleBits = 8 * kFrameBits + 64 + 1;
    // Detection: this many successes in a row name the kind; after this
    // many attempts without them the stream is taken as standard mono.
    static constexpr int kDetectSuccesses = 100;
    static constexpr int kDetectAttempts = 250;
    // Frames (about one second) a lost alignment may take to come back
    // before the kind found is given up.
    static constexpr int kHoldFrames = 1000;

    // 1, or 0 for a bad argument or a decoder that cannot be made.
    int Init(int channels, int blockLength);
    // Starts a new call: nothing queued, locked or detected.
    int Clear() { return Init(m_channels, m_blockLength); }
    // Coded apt-X from the encoder: 1, or 0 when it would overflow.
    int WriteSend(const uint8_t* bytes, int n);
    // Frames as many rounds as the input and the outputs allow.
    void Frame();
    int Available(int channel) const;
    // A channel's line bytes: bit-reversed and inverted.
    int ReadChannel(int channel, uint8_t* dst, int n);
    // A channel's received bytes, already bit-reversed; dropped when full.
    // Idle fill is left out in whole bytes at any bit offset, so the
    // channel's frames go on where they stopped.
    int WriteReceived(int channel, const uint8_t* bytes, int n);
    // Unpacks, tracks the sync words, aligns the channels and collects the
    // code words in the send order.
    void Receive();
    int IsAligned() const { return m_aligned; }
    int IsLocked(int channel) const { return m_track[channel].locked; }
    int GetDelayBits(int channel) const { return m_track[channel].delay; }
    // The words wait for their kind to be told.
    int ReceivedAvailable() const { return m_detected ? m_outFill : 0; }
    int ReadReceived(uint8_t* dst, int n);
    // The kind of apt-X found by decoding the aligned words (standard or
    // enhanced, mono or stereo).
    int IsDetected() const { return m_detected; }
    int IsFormatChanged() const { return m_formatChanged; }
    // Detected: the kind and mode, n x 64000 bit/s, n x 15754 Hz (halved in
    // stereo), n B3 blocks a frame; else an empty coding. Clears the flag.
    void GetFormat(AudioFormat* format);
    // The sync word a channel sends now (tests).
    uint32_t SyncWord(int channel) const { return m_sync[channel]; }

private:
    struct Candidate {
        uint32_t word = 0;
        int bit = -1;
    };
    struct Track {
        uint32_t registers[kFrameBits] = {};
        Candidate candidates[8];
        int next = 0;
        int locked = 0;
        int phase = 0;
        int confidence = 0;
        uint32_t expected = 0;
        int bit = 0;
        int delay = 0;
    };

    static uint32_t Advance(uint32_t word);
    void PutBits(int channel, uint32_t value, int bits);
    uint32_t GetBits(int channel, int bits);
    void PutReceivedBit(int channel, int bit);
    void TrackSync(int channel, const uint8_t* frameBits);
    bool Align();
    void RestartDetection();
    void Detect();
    static bool Decodes(CCodec& decoder, const uint8_t* bytes, int n, int16_t* scratch);

    int m_channels = 0;
    int m_blockLength = 0;
    std::vector<uint8_t> m_in;
    int m_inFill = 0;
    std::vector<uint8_t> m_out[2];
    int m_outBytes[2] = {};
    int m_outBit[2] = {};
    std::vector<uint8_t> m_ring[2];
    int m_ringBits[2] = {};  // written
    int m_ringBit[2] = {};   // read
    int m_zeroRun[2] = {};   // 0 bits held back: code or idle fill
    int m_bitIndex = kWordBits;
    uint32_t m_sync[2] = {};
    int m_stride[2] = {0, 1};
    Track m_track[2];
    int m_phase = 0;
    std::vector<uint8_t> m_history[2];
    int m_historyPos = 0;
    int m_aligned = 0;
    std::vector<uint8_t> m_output;
    int m_outFill = 0;

    int m_coding = 0;
    int m_mode = 0;
    int m_aptxFlag = 0;
    int m_detected = 0;
    int m_successes = 0;
    int m_attempts = 0;
    int m_formatChanged = 0;
    int m_holding = 0;  // alignment lost, the kind found kept for a while
    int m_heldFrames = 0;
    CAptxStdCodec m_stdMono;
    CAptxStdCodec m_stdStereo;
    CAptxEnhCodec m_enhMono;
    CAptxEnhCodec m_enhStereo;
    std::vector<int16_t> m_scratch;
};
