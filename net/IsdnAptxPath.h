#pragma once
// Standard apt-X at 64 kbit/s on one B-channel, unframed: the code words go
// out as the codec makes them (bytes of each word swapped, bit-reversed,
// inverted). The receiver knows the stream only by decoding it: it is
// locked while the standard decoder, searching for the codec's embedded
// sync pattern, produces samples. Call worker's thread only.
#include <cstdint>
#include <vector>

#include "codecs/AptxStdCodec.h"
#include "common/Records.h"

class CIsdnAptxPath {
public:
    // A locked stream that decodes to nothing for this long (one second of
    // the line) is lost.
    static constexpr int kLossBytes = 8000;
    // A run of this many zero code bytes (idle fill, inverted) in a locked
    // stream is held back until the sync pattern after it tells how much of
    // it was fill: the fill is cut out, so the stream goes on in step.
    static constexpr int kMinFillRun = 6;

    // 1, or 0 for a bad block length or a decoder that cannot be made.
    int Init(int blockLength);
    // Starts a new call: nothing queued, nothing locked.
    int Clear() { return Init(m_blockLength); }
    // Code bytes from the encoder, whole words: 1, or 0 when they do not fit.
    int WriteSend(const uint8_t* bytes, int n);
    int SendAvailable() const { return m_sendFill; }
    // Line bytes for the first channel.
    int ReadSend(uint8_t* dst, int n);
    // Channel 0's received bytes, already bit-reversed: 1, or 0 when the
    // buffer has no room for them (they are dropped).
    int WriteReceived(const uint8_t* bytes, int n);
    int IsLocked() const { return m_locked; }
    int IsFormatChanged() const { return m_formatChanged; }
    // Locked: coding 256, 64000 bit/s, 16000 Hz, mono, one B3 block a frame,
    // apt-X option 1; else an empty coding. Clears the flag.
    void GetFormat(AudioFormat* format);
    int Available() const { return m_locked ? m_decoded : 0; }
    int ReadReceived(uint8_t* dst, int n);

    // Bytes of idle fill cut out of the locked stream since Init.
    long FillBytesCut() const { return m_fillCut; }

private:
    void Take(uint8_t b);
    void Emit(uint8_t b);
    void EmitZeros(int n);
    void ResolveRun();
    int FillInRun() const;
    int LastSyncInHistory() const;
    bool SyncStepsOn(int slot, int zeros) const;
    int VirtualBit(long pos, int zeros) const;
    void Decode();
    void Drop(int n);

    int m_blockLength = 0;
    int m_locked = 0;
    int m_formatChanged = 0;
    int m_silentBytes = 0;  // consumed without samples since the decoder last produced
    std::vector<uint8_t> m_send;
    int m_sendFill = 0;
    std::vector<uint8_t> m_receive;
    int m_receiveFill = 0;
    int m_decoded = 0;  // front bytes the decoder has seen
    int m_pending = -1;  // first byte of a word cut by the end of a read
    std::vector<int16_t> m_scratch;
    CAptxStdCodec m_decoder;
    // Inverted line bytes handed on last (the newest at the back), where the
    // sync pattern of the stream before a run is found.
    std::vector<uint8_t> m_history;
    int m_run = 0;                 // zero bytes held back
    std::vector<uint8_t> m_after;  // bytes after a long run, held until its cut is known
    std::vector<uint8_t> m_replay;  // m_after, handed on once the cut is known
    long m_fillCut = 0;
};
