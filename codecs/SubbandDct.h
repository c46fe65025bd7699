#pragma once
// The matrixing step of the MPEG polyphase synthesis filter bank as a fast
// DCT-II, X[k] = sum x[n] cos(pi (2n + 1) k / 2N) for N = 16 or 32, by
// even/odd halving (B. G. Lee): 80 multiplications for 32 points instead of
// the 2048 of the direct matrix.
class CSubbandDct {
public:
    CSubbandDct();
    // x holds n values in and the n coefficients out; n is 16 or 32.
    void Run(float* x, int n) const;

private:
    template <int N>
    void Halve(float* x, float* scratch) const;

    // 1 / (2 cos(pi (2i + 1) / 4h)) for the halving steps of size 2h, h = 1, 2, 4, 8, 16.
    float m_factors[31];
};
