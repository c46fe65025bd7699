#pragma once
// Splits a packet-protocol byte stream (PCM packets with a 12-byte header
// starting FF 7x, MPEG Layer II/III frames as they are, peer-information
// packets FF 1x) into audio for the decoder, the detected format and the
// peer's block. Used by one thread: the TCP transport's owner, or the
// multicast receiver.
#include <cstdint>

#include "common/Records.h"
#include "net/PeerBlock.h"

// A peer-information packet (FF 10, subtype 16) found in a control-frame
// stream: how a peer speaking the packet protocol introduces itself.
struct PeerPacketMatch {
    enum Status { None, Partial, Found };
    Status status = None;
    int offset = 0;
    int length = 0;  // of the block after the 6-byte header
};

class CStreamParser {
public:
    enum Result { kInvalid = 0, kConsumed = 10, kNeedMore = 12, kOutputFull = 15, kOutput = 20 };
    static constexpr int kInputBytes = 2048;
    static constexpr int kOutputBytes = 8192;
    static constexpr int kMaxPacketBytes = 1600;

    CStreamParser();

    int GetInputRoom() const { return kInputBytes - m_inputFill; }
    int Append(const uint8_t* data, int len);  // bytes taken, at most the room
    // 1 after a packet consumed without output (call again, maybe after
    // reading more); 0 when more bytes are needed, the output is full, the
    // input ran dry or fifteen packets were handled.
    int Parse();
    int Read(uint8_t* dst, int len);  // moves up to len bytes of audio out
    int GetOutputFill() const { return m_outputFill; }

    int IsFormatReady() const { return m_formatAvailable; }
    void TakeFormat(AudioFormat* out);
    int IsPeerBlockReady() const { return m_peerAvailable; }
    void TakePeerBlock(uint8_t* out);  // 164 bytes

    // One packet at the front of the input; the result codes above.
    int ParseOne();

    // Looks for a peer packet starting before `end` in data[0..fill); one
    // that could not fit in `limit` bytes is no packet.
    static PeerPacketMatch FindPeerPacket(const uint8_t* data, int fill, int end, int limit);

private:
    int ParsePeer();
    int ParseSkipped();
    int ParsePcm();
    int ParseMpeg();
    void Remove(int bytes);
    void Output(const uint8_t* data, int len);
    void CountIdentical();

    int m_inputFill = 0;
    uint8_t m_input[kInputBytes];
    int m_outputFill = 0;
    uint8_t m_output[kOutputBytes];
    int m_formatAvailable = 0;
    AudioFormat m_format;
    int m_identical = 0;  // packets seen in the detected format
    int m_peerAvailable = 0;
    uint8_t m_peerBlock[kPeerBlockBytes];
};
