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

private:
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
};
