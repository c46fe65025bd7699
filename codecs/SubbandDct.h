#pragma once
// The matrixing step of the MPEG polyphase synthesis filter bank as a fast
// DCT-II, X[k] = sum x[n] cos(pi (2n + 1) k / 2N) for N = 16 or 32, by
// even/odd halving (B. G. Lee): 80 multiplications for 32 points instead of
// the 2048 of the direct matrix.
class CSubbandDct {
public:
    CSubbandDct();
    // x holds n values in and the n coefficients out; n is 16 or 32. The
    // butterflies of 8 points and more run four at a time through SSE2 where
    // the build has it, with the bits of the portable path.
    void Run(float* x, int n) const;
    void RunPortable(float* x, int n) const;

private:
    template <int N, bool kVector>
    void Halve(float* x, float* scratch) const;

    // 1 / (2 cos(pi (2i + 1) / 4h)) for the halving steps of size 2h, h = 1, 2, 4, 8, 16.
    float m_factors[31];
};
