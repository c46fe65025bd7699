#pragma once
// The control frame: the peers' own messages inside the TCP and multicast
// streams. A 16-byte header (magic "Qiv" and a zero byte, type, length,
// checksum, all little-endian) and the payload. Also the payload records of
// the frame types other Parts share.
#include <cstddef>
#include <cstdint>

constexpr int CTRL_KEEPALIVE = 1;
constexpr int CTRL_FORMAT = 10;
constexpr int CTRL_PEERINFO = 20;
constexpr int CTRL_DELAY = 30;
constexpr int CTRL_BUFFERING = 40;

constexpr int kControlHeaderBytes = 16;
constexpr uint8_t kControlMagic[4] = {'Q', 'i', 'v', 0};
constexpr int kFormatFrameBytes = 88;  // format payload over TCP: AudioFormat, 1, BufferingValues

// Sum over the frame's bytes of (index + byte as signed 8-bit), with the
// checksum field (bytes 12..15) taken as zero; 32-bit, wrapping.
int32_t ControlFrameChecksum(const uint8_t* frame, size_t totalBytes);

// Writes the whole frame into out; its size (16 + len), or 0 when len is
// negative, the payload is missing or out is too small.
int BuildControlFrame(int type, const void* payload, int len, uint8_t* out, int outSize);

// What a scan of a received byte stream found.
struct ControlFrameMatch {
    enum Status { None, Partial, Found };
    Status status = None;
    int offset = 0;  // where the frame starts (Partial and Found)
    int type = 0;    // Found only
    int length = 0;  // payload bytes, Found only
};

// Looks for the first valid frame in data[0..fill). limit is the most bytes
// the caller's buffer can ever hold: a frame that could not fit there is not
// waited for (its bytes stay audio), nor is a negative length. A possible
// frame cut off by the end of the data - even inside its magic - is Partial.
ControlFrameMatch FindControlFrame(const uint8_t* data, int fill, int limit);

struct BufferingValues {
    int32_t connectionType = 0;
    int32_t bufferingMode = 0;
    int32_t bufferMs = 0;
};
constexpr int kBufferingValuesBytes = 12;
void StoreBufferingValues(const BufferingValues& v, uint8_t* out);
BufferingValues LoadBufferingValues(const uint8_t* in);

struct DelayFrame {
    int32_t size = 32;
    int32_t exchangeCount = 0;  // -1 ends the measurement
    int32_t connectionType = 0;
    int32_t callerTime = 0;
    int32_t answererTime = 0;
    int32_t maxMs = 0;
    int32_t minMs = 0;
    int32_t blockSize = 0;
};
constexpr int kDelayFrameBytes = 32;
void StoreDelayFrame(const DelayFrame& f, uint8_t* out);
DelayFrame LoadDelayFrame(const uint8_t* in);
