#pragma once
// The response a converter's coefficient table promises: the polyphase
// phases put back together into one prototype filter at L x the input rate.
#include <complex>
#include <numeric>
#include <vector>

#include "audio/SampleRateConverter.h"

struct SrcDesign {
    std::vector<double> proto;  // prototype taps, Q16 scale removed
    double protoRate = 0;
    int L = 1;

    // With a common factor g of L and M only L/g distinct phases exist; the
    // prototype then runs at L/g x the input rate.
    SrcDesign(const CSampleRateConverter& c, double inRate) {
        const int g = std::gcd(c.GetL(), c.GetM());
        L = c.GetL() / g;
        protoRate = inRate * L;
        const int taps = c.GetTaps();
        proto.assign(static_cast<size_t>(taps) * L, 0.0);
        for (int j = 0; j < c.GetL(); ++j) {
            const int k = static_cast<int>((static_cast<long long>(j) * c.GetM()) % c.GetL()) / g;
            for (int i = 0; i < taps; ++i) proto[static_cast<size_t>(i * L - k + (L - 1))] = c.GetCoefficient(j, i) / 65536.0;
        }
    }
    // Gain from input to output at frequency f (Hz), 1.0 = unity.
    double Gain(double f) const {
        std::complex<double> sum = 0;
        const double w = -2.0 * M_PI * f / protoRate;
        for (size_t n = 0; n < proto.size(); ++n) sum += proto[n] * std::polar(1.0, w * static_cast<double>(n));
        return std::abs(sum) / L;  // zero-stuffing divides by L
    }
};
