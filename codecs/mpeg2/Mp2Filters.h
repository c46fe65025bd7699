#pragma once
// The IIR filters of the reduced-rate mode: the decoder's x2 and x4
// interpolation filters and the encoder's x2 and x4 decimation filters, all
// direct form II transposed with the state kept by the caller per channel.
namespace mp2 {

struct IirFilter {
    int order;
    const double* b;  // order + 1 values
    const double* a;  // order + 1 values, a[0] = 1
};

const IirFilter& DecoderInterpolateX2();
const IirFilter& DecoderInterpolateX4();
const IirFilter& EncoderDecimateX2();
const IirFilter& EncoderDecimateX4();

// One sample through the filter; state holds order values.
inline double IirStep(const IirFilter& f, double* state, double x) {
    const double y = f.b[0] * x + state[0];
    for (int i = 1; i < f.order; ++i) state[i - 1] = f.b[i] * x - f.a[i] * y + state[i];
    state[f.order - 1] = f.b[f.order] * x - f.a[f.order] * y;
    return y;
}

}  // namespace mp2
