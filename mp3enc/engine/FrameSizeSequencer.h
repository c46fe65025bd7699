#pragma once
// Chooses each frame's bit-rate index and padding bit so that the frame sizes
// average to the target bit rate, also for rates between two table rates.
namespace l3 {

class CFrameSizeSequencer {
public:
    // frameBits: length in bits of indexes 0 to 14 at the open rate. Padding
    // mode 0 standard, 1 never, 2 always, 3 by rounding. 0, or 1 when the
    // rate lies outside what the table can give.
    int Setup(int bitRate, int sampleRate, int samplesPerFrame, int paddingMode, const int* frameBits,
              const int* tableKbps);
    void Step(int* index, int* padding);
    int Period() const { return m_period; }
    int FrameBytes() const { return m_frameBytes; }
    int Lower() const { return m_lower; }
    int Upper() const { return m_upper; }

private:
    long long m_a = 0, m_b = 1, m_error = 0;
    int m_mode = 0;
    int m_lower = 0, m_upper = 0;
    int m_lowerBits = 0, m_upperBits = 0;
    int m_period = 1;
    int m_frameBytes = 1;
};

}  // namespace l3
