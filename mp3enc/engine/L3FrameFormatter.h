#pragma once
// Frame formatting of the second encoder engine: header, CRC, side
// information and main data of each frame, with the bit reservoir's
// main_data_begin. A frame leaves only when its main-data slot is full, so
// frames wait in a queue of 64. Created at open; no allocation afterwards.
#include <cstdint>

#include "mp3enc/engine/BitRing.h"
#include "mp3enc/engine/L3Granule.h"

namespace l3 {

class CL3FrameFormatter {
public:
    CL3FrameFormatter();
    // 0, or 1 for a mode outside 0..3, a rate outside the nine, or no memory.
    int Setup(int mode, int sampleRate, bool crc, bool privateBit, bool copyright, bool original);
    int SideBits() const { return m_sideBits; }
    int Version() const { return m_version; }
    int Granules() const { return m_granules; }
    int Channels() const { return m_channels; }
    // Frame length in bits of a bit-rate index, without padding.
    int FrameBits(int index) const;
    // Returns the bits the frame took: stuffing + side information + part-2/3 bits.
    int Format(GranuleResult* granules, int index, int padding, int modeExtension, uint8_t* out, int capacity,
               int* written);
    // Writes out every queued frame, filling missing main data with zeros.
    void Flush(uint8_t* out, int capacity, int* written);
    int Pending() const { return m_queued; }
    // Count followed by the byte length of each frame written since the last clear.
    const int32_t* FrameSizes() const { return m_sizes; }
    void ClearFrameSizes() { m_sizes[0] = 0; }

private:
    void Drain(uint8_t* out, int capacity, int* written, bool flush);
    void WriteMainData(GranuleChannel& g);

    struct Pending_ {
        int sideBits;
        int slotBits;
    };
    int m_mode = 1;
    int m_version = 0;
    int m_sampleRateIndex = 0;
    int m_sampleRate = 0;
    int m_granules = 2;
    int m_channels = 2;
    bool m_crc = false, m_private = false, m_copyright = false, m_original = false;
    int m_sideBits = 0;
    int m_fill = 0;  // bytes: main_data_begin of the next frame
    CBitRing m_header;
    CBitRing m_main;
    Pending_ m_queue[64];
    int m_queueHead = 0;
    int m_queued = 0;
    int32_t m_sizes[1 + 64];
};

}  // namespace l3
