#pragma once
// Psychoacoustic model 1 for the Layer I/II encoder: signal-to-mask ratio per
// subband from one FFT of the frame's input, and the fixed model that needs
// no FFT. One object per encoder channel set; not shared between threads.
#include <cstdint>
#include <vector>

#include "codecs/simd/VectorPath.h"

namespace mp2 {

class PsyModel1 {
public:
    // layer 1 or 2; codedRate one of the six rates; bitratePerChannel in bit/s.
    bool Init(int layer, int codedRate, int bitratePerChannel);
    // samples: N values on the 16-bit scale (N = 1024 for Layer II, 512 for Layer I);
    // scfMax: per subband the largest scale factor value; smr out per subband in dB.
    void Compute(const float* samples, const double* scfMax, int sblimit, int* smr);
    int FftSize() const { return m_n; }
    // The FFT's instruction set (the widest the processor has unless told);
    // every one gives the same bits.
    void UseVectorPath(EVectorPath path);

private:
    struct Line {
        int line;
        double bark;
        double thr;
    };
    int m_n = 0;
    EVectorPath m_path = BestVectorPath();
    std::vector<Line> m_lines;    // the model's frequency table
    std::vector<int> m_bandEdges;  // critical band boundaries (FFT lines)
    std::vector<int> m_indexOfLine;  // FFT line -> nearest table row
    std::vector<double> m_window;
    std::vector<double> m_twRe, m_twIm;  // FFT twiddle factors, stage by stage
    std::vector<uint16_t> m_bitrev;      // FFT input order
    std::vector<double> m_thrPow;        // threshold in quiet per row, as power
    int m_bandRows[32][2] = {};          // first and end row of each subband
    struct Masker {
        double level;
        int index;
        bool tonal;
    };
    // Working storage, sized by Init so that Compute does not allocate.
    std::vector<double> m_re, m_im, m_x, m_work, m_power, m_global, m_rowArg, m_rowPow;
    std::vector<int> m_rowOf;
    std::vector<Masker> m_maskers, m_kept;
};

// Fixed model: 8 x the per-subband value for the rate, adjusted by the spread
// of the subband's three scale-factor indices. joint: damped adjustment.
void FixedModelSmr(int codedRate, const int (*scfIndex)[3], int sblimit, bool joint, int* smr);

}  // namespace mp2
