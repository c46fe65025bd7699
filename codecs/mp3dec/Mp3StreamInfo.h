// Stream information for a Layer III stream held in memory: format, average bit
// rate, duration, Xing/VBRI headers and seek positions. Single-threaded use.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/mp3dec/Mp3Decoder.h"

struct Mp3StreamInfoBlock {
    int32_t bitRate;
    int32_t channels;
    int32_t sampleRate;
    int32_t durationMs;
    int32_t vbr;
    int32_t header;
    int32_t seekable;
};
static_assert(sizeof(Mp3StreamInfoBlock) == 28);

// Field for field the Windows MPEGLAYER3WAVEFORMAT.
struct Mp3WaveFormat {
    uint16_t formatTag = 0x55;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 1;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 12;
    uint16_t id = 1;
    uint32_t flags = 0;
    uint16_t blockSize = 0;
    uint16_t framesPerBlock = 0;
    uint16_t codecDelay = 0;
};

class IMp3StreamInfo {
public:
    virtual void Release() = 0;
    virtual int Open(const uint8_t* data, uint32_t length, uint32_t totalSize) = 0;
    virtual const Mp3StreamInfoBlock* GetInfo() = 0;
    virtual uint32_t PositionFromPercent(float percent) = 0;
    virtual uint32_t PositionFromTime(uint32_t ms) = 0;
    virtual ~IMp3StreamInfo() = default;
};

struct Mp3XingHeader {
    bool found = false;
    uint32_t flags = 0;
    uint32_t frames = 0;
    uint32_t bytes = 0;
    uint8_t toc[100] = {};
    uint32_t quality = 0;
};

struct Mp3VbriHeader {
    bool found = false;
    uint32_t version = 0;
    uint32_t delay = 0;
    uint32_t quality = 0;
    uint32_t bytes = 0;
    uint32_t frames = 0;
    uint32_t entries = 0;
    uint32_t scale = 0;
    uint32_t entrySize = 0;
    uint32_t framesPerEntry = 0;
    std::vector<uint32_t> positions;  // entries + 1
};

// Parsers over the bytes of a first frame (data points at its header).
// A header whose counts would be divided by or indexed with as zero is refused.
bool Mp3ParseXing(const uint8_t* frame, uint32_t available, int version, int channels, int sampleRate,
                  Mp3XingHeader& out);
bool Mp3ParseVbri(const uint8_t* frame, uint32_t available, Mp3VbriHeader& out);

class CMp3StreamInfo final : public IMp3StreamInfo {
public:
    void Release() override { delete this; }
    int Open(const uint8_t* data, uint32_t length, uint32_t totalSize) override;
    const Mp3StreamInfoBlock* GetInfo() override { return &m_block; }
    uint32_t PositionFromPercent(float percent) override;
    uint32_t PositionFromTime(uint32_t ms) override;

    const Mp3WaveFormat& Format() const { return m_format; }
    int32_t FirstFrameBitOffset() const { return m_firstFrameBits; }
    const Mp3XingHeader& Xing() const { return m_xing; }
    const Mp3VbriHeader& Vbri() const { return m_vbri; }

private:
    int32_t Scan(const uint8_t* data, uint32_t length);

    Mp3StreamInfoBlock m_block{};
    Mp3WaveFormat m_format;
    uint32_t m_totalSize = 0;
    int32_t m_firstFrameBits = -1;
    float m_frameDurationMs = 0.0f;
    Mp3XingHeader m_xing;
    Mp3VbriHeader m_vbri;
};

struct Mp3StreamInfoHandleRecord {
    char tag[4];  // "Mp3I"
    IMp3StreamInfo* object;
};
using Mp3StreamInfoHandle = Mp3StreamInfoHandleRecord*;

Mp3Status Mp3StreamInfoCreateObject(IMp3StreamInfo** object);
Mp3Status Mp3StreamInfoCreate(Mp3StreamInfoHandle* handle);
Mp3Status Mp3StreamInfoDestroy(Mp3StreamInfoHandle handle);
