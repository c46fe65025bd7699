// Layer III frame headers and the synchronising input stream over the input ring.
// Used by the thread that owns the decoder object.
#pragma once

#include <cstdint>

#include "codecs/mp3dec/Mp3BitRing.h"
#include "codecs/mp3dec/Mp3Decoder.h"

struct Mp3Header {
    int32_t sync = 0;
    int32_t id = 0;        // bit 19
    int32_t id25 = 0;      // bit 20 (0 with id 0: MPEG-2.5)
    int32_t layer = 0;
    int32_t protection = 0;  // 1 when a CRC word follows
    int32_t bitRateIndex = 0;
    int32_t sampleRateIndex = 0;
    int32_t padding = 0;
    int32_t privateBit = 0;
    int32_t mode = 0;
    int32_t modeExtension = 0;
    int32_t copyright = 0;
    int32_t original = 0;
    int32_t emphasis = 0;
    int32_t valid = 0;
    int32_t version = 0;   // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bitRate = 0;
    int32_t frameLengthBits = 0;
    float durationMs = 0.0f;
    uint32_t word = 0;

    int SamplesPerFrame() const;
    // Parses w; returns the valid flag. Invalid words clear every field.
    bool Parse(uint32_t w);
};

// Samples per channel of one frame of a version (0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5).
int Mp3SamplesPerFrame(int version);
inline int Mp3Header::SamplesPerFrame() const { return Mp3SamplesPerFrame(version); }

inline constexpr uint32_t kMp3HeaderMask = 0xFFFE0C00u;

class CMp3InputStream {
public:
    bool Create(uint32_t size) { return m_ring.Create(size); }
    void CreateOver(uint8_t* storage, uint32_t size, bool full) { m_ring.CreateOver(storage, size, full); }
    void Reset();
    Mp3Status Synchronise();

    CMp3BitRing& Ring() { return m_ring; }
    const Mp3Header& Header() const { return m_header; }
    Mp3Status State() const { return m_state; }
    int32_t SkippedBits() const { return m_skipped; }
    void ClearSkipped() { m_skipped = 0; }

private:
    Mp3Status Search();
    Mp3Status Check();

    CMp3BitRing m_ring;
    Mp3Header m_header;
    Mp3Status m_state = MP3STATUS_W_SEARCHED;
    uint32_t m_locked = 0;
    int32_t m_verify = 0;
    int32_t m_skipped = 0;
};
