#pragma once
// Receive path of G.722 on channel 0 of a data call: finds the bit offset
// of the code bytes in the received stream by the bits a G.722 encoder sets
// most often, locks once one offset held for 9600 bytes, and hands on the
// bytes realigned. Call worker's thread only.
#include <cstdint>
#include <vector>

#include "common/Records.h"

class CIsdnG722Path {
public:
    // 1/0; each buffer holds `capacity` bytes (at least one block).
    int Init(int blockLength, int capacity);
    // A new call: unlocked, counts and buffers empty.
    void Clear();
    // 1, or 0 when the bytes do not fit (dropped).
    int Write(const uint8_t* bytes, int n);
    // Runs the detector over the waiting input, then realigns it into the
    // output when locked, else drops it.
    void Process();
    int IsFormatChanged() const { return m_formatChanged; }
    // Locked: G.722, 64000 bit/s, 16000 Hz, mono, one block a frame;
    // unlocked: all zero. Clears the flag.
    void GetFormat(AudioFormat* format);
    int Read(uint8_t* dst, int n);
    int Available() const { return m_outFill; }
    int IsLocked() const { return m_locked; }
    int GetShift() const { return m_shift; }

    static constexpr int kLockBytes = 9600;
    static constexpr int kUnlockBytes = 5760;
    // A held-up sender's idle fill (0xFF) is no code: a locked path leaves
    // out runs of at least this many 0xFF code bytes, and gives the stream
    // up only when the fill lasts longer than kUnlockBytes.
    static constexpr int kMinIdleRun = 16;

private:
    int Detect();
    void Align();

    int m_blockLength = 0;
    std::vector<uint8_t> m_in;
    int m_inFill = 0;
    std::vector<uint8_t> m_out;
    int m_outFill = 0;
    int m_shift = 0;
    uint8_t m_previous = 0;
    int m_locked = 0;
    int m_formatChanged = 0;
    int m_matches = 0;
    int m_mismatches = 0;
    int m_idleRun = 0;    // 0xFF code bytes held back: fill, or code if the run stays short
    int m_idleBytes = 0;  // input of nothing but fill in a row
};
