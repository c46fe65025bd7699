#pragma once
// The receiving side of a multicast group. It follows the first source it
// hears (others are ignored) until that source has been silent for 2 s,
// reads the stream either as coded audio with control frames in it or, when
// the source speaks the packet protocol, through a stream parser, and keeps
// the format the source announces. While no format is known it tries the
// two readings in turn, 10 s each; a control frame heard in the parser's
// reading ends it, whatever the parser made of the audio.
//
// Datagrams are taken whole: what does not fit the room there is now is
// kept for the next pass, never cut off.
//
// Threads: only the owner's (the call engine's worker); no locking.
#include <cstdint>
#include <vector>

#include "common/Records.h"
#include "common/Stopwatch.h"
#include "net/DatagramSource.h"
#include "net/StreamParser.h"

class CMulticastReceiver {
public:
    enum ParseMode { kModeInitial = 0, kModeControl = 10, kModeAudio = 20 };
    static constexpr uint32_t kSourceTimeoutMs = 2000;
    static constexpr uint32_t kModeToggleMs = 10000;
    static constexpr int kDatagramBytes = 65536;        // the largest UDP datagram fits
    static constexpr int kParserDatagramBytes = 2048;
    static constexpr int kMaxPeerPacketLength = 1494;

    // Buffers are sized here, once.
    void Init(int bufferSize);
    // Forgets everything heard: source, format, buffered bytes, pending frame.
    void Reset();
    // One receive step: at most one datagram in the raw readings, as many as
    // the parser takes in the packet reading.
    void Poll(CDatagramSource& source);

    // Audio: 0 while a control frame is pending or only partly received.
    int Read(uint8_t* dst, int len);
    int GetAvailable() const { return m_partial ? 0 : m_fill; }
    // Drops buffered audio; a control frame still arriving keeps its bytes.
    void Flush();

    const AudioFormat& GetFormat() const { return m_format; }
    int IsFormatChanged() const { return m_formatChanged; }
    void ClearFormatChanged() { m_formatChanged = 0; }

    int GetControlType() const { return m_controlType; }
    int GetControlLength() const { return m_controlLength; }
    void DiscardControl();
    int ReadControl(void* dst, int len);

    int GetParseMode() const { return m_mode; }
    int IsPartial() const { return m_partial; }
    int HasSource() const { return m_haveSource; }
    ws::SocketAddress GetSource() const { return m_source; }
    uint32_t GetIgnoredDatagrams() const { return m_ignored; }

private:
    bool HoldDatagram(CDatagramSource& source);
    bool HeldIsControlFrame() const;
    int TakeDatagram(CDatagramSource& source, uint8_t* dst, int room);
    void ForgetSource();
    void ReceiveRaw(CDatagramSource& source);
    void ReceiveThroughParser(CDatagramSource& source);
    bool ScanControl();
    bool ScanPacket();
    void TakeFormat(const AudioFormat& f);
    void SetPendingIdentity(const uint8_t* block, int length);
    void DropBeforeSync();
    void Cut(int offset, int bytes);
    int Limit() const;

    int m_bufferSize = 0;
    std::vector<uint8_t> m_buffer;
    int m_fill = 0;
    int m_limit = 0;
    int m_mode = kModeInitial;
    int m_partial = 0;
    int m_partialOffset = 0;
    AudioFormat m_format;
    int m_formatChanged = 0;
    int m_controlType = 0;
    int m_controlLength = 0;
    std::vector<uint8_t> m_controlPayload;
    // The datagram being taken, and how much of it is still to go.
    std::vector<uint8_t> m_held;
    int m_heldOffset = 0;
    int m_heldFill = 0;
    int m_haveSource = 0;
    ws::SocketAddress m_source;
    uint32_t m_ignored = 0;
    CStopwatch m_sourceTimeout;
    CStopwatch m_modeToggle;
    CStreamParser m_parser;
};
