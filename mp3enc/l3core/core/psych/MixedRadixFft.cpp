#include "mp3enc/l3core/core/psych/MixedRadixFft.h"

#include <cmath>
#include <utility>

namespace {

// Where the decimation-in-frequency passes leave bin k.
int Position(int k, int n, const int* factors, int count) {
    int pos = 0, span = n;
    for (int i = 0; i < count; ++i) {
        span /= factors[i];
        pos += (k % factors[i]) * span;
        k /= factors[i];
    }
    return pos;
}

// One pass: for each group of f values span/f apart, an f-point DFT, then the
// twiddle W_span^(p k) of the remaining span, advanced by recurrence in p.
void Pass(float* re, float* im, int n, int span, int f, double sign) {
    const int sub = span / f;
    const double twoPi = 2.0 * 3.14159265358979323846;
    double xr[kFftMaxRadix], xi[kFftMaxRadix], cr[kFftMaxRadix], ci[kFftMaxRadix];
    for (int q = 0; q < f; ++q) {
        cr[q] = std::cos(sign * twoPi * q / f);
        ci[q] = std::sin(sign * twoPi * q / f);
    }
    for (int block = 0; block < n; block += span) {
        for (int k = 0; k < sub; ++k) {
            const double step = sign * twoPi * k / span;
            const double wr = std::cos(step), wi = std::sin(step);
            for (int q = 0; q < f; ++q) {
                xr[q] = re[block + k + q * sub];
                xi[q] = im[block + k + q * sub];
            }
            double tr = 1.0, ti = 0.0;
            for (int p = 0; p < f; ++p) {
                double yr = 0.0, yi = 0.0;
                for (int q = 0, pq = 0; q < f; ++q, pq = (pq + p) % f) {
                    yr += xr[q] * cr[pq] - xi[q] * ci[pq];
                    yi += xr[q] * ci[pq] + xi[q] * cr[pq];
                }
                const int at = block + k + p * sub;
                re[at] = static_cast<float>(yr * tr - yi * ti);
                im[at] = static_cast<float>(yr * ti + yi * tr);
                const double nr = tr * wr - ti * wi;
                ti = tr * wi + ti * wr;
                tr = nr;
            }
        }
    }
}

}  // namespace

int FftFactor(int n, int* factors) {
    if (n < 2) return 0;
    int front[kFftMaxFactors], squares = 0, rest[32], restCount = 0;
    int k = n;
    while (k % 16 == 0) {
        if (squares >= kFftMaxFactors) return 0;
        front[squares++] = 4;
        k /= 16;
    }
    for (int j = 3; j * j <= k; j += 2) {
        while (k % (j * j) == 0) {
            if (squares >= kFftMaxFactors) return 0;
            front[squares++] = j;
            k /= j * j;
        }
    }
    if (k % 4 == 0) {
        rest[restCount++] = 2;
        k /= 4;
        rest[restCount++] = 2;  // the 2 stands for the 4 once mirrored: 4 = 2 x 2
    }
    for (int j = 2; k > 1 && restCount < 32; ++j) {
        while (k % j == 0 && restCount < 32) {
            rest[restCount++] = j;
            k /= j;
        }
        if (j * j > k && k > 1 && restCount < 32) {
            rest[restCount++] = k;
            k = 1;
        }
    }
    const int count = 2 * squares + restCount;
    if (k != 1 || count > kFftMaxFactors) return 0;
    int at = 0;
    for (int i = 0; i < squares; ++i) factors[at++] = front[i];
    for (int i = 0; i < restCount; ++i) factors[at++] = rest[i];
    for (int i = squares - 1; i >= 0; --i) factors[at++] = front[i];
    return count;
}

int MixedRadixFft(float* re, float* im, int n, int sign) {
    int factors[kFftMaxFactors];
    const int count = FftFactor(n, factors);
    if (count == 0 || !re || !im) return 0;
    for (int i = 0; i < count; ++i)
        if (factors[i] > kFftMaxRadix) return 0;
    const double s = sign < 0 ? -1.0 : 1.0;
    int span = n;
    for (int i = 0; i < count; ++i) {
        Pass(re, im, n, span, factors[i], s);
        span /= factors[i];
    }
    // Bin k sits at Position(k): follow each permutation cycle once, from its smallest member.
    for (int k = 0; k < n; ++k) {
        int j = Position(k, n, factors, count);
        while (j > k) j = Position(j, n, factors, count);
        if (j < k) continue;
        float r = re[k], m = im[k];
        int cur = k, next = Position(k, n, factors, count);
        while (next != k) {
            re[cur] = re[next];
            im[cur] = im[next];
            cur = next;
            next = Position(next, n, factors, count);
        }
        re[cur] = r;
        im[cur] = m;
    }
    return 1;
}
