#include "codecs/mpeg2/Mp2Filters.h"

namespace mp2 {
namespace {

constexpr double kDx2B[] = {0.0039088433, 0.015502506, 0.040256888, 0.073355272, 0.10376179, 0.11589436,
                            0.10376179,   0.073355272, 0.040256888, 0.015502506, 0.0039088433};
constexpr double kDx2A[] = {1,         -3.0426073, 7.0576711,   -11.058942, 13.863793, -13.548405,
                            10.63855,  -6.5355983, 3.0588188,   -0.99742973, 0.18854138};

// The x4 interpolator's published design has one pole pair at radius 1.0095,
// so it rings up without bound. The pair is mirrored into the unit circle
// (p -> 1/conj(p)), which keeps the magnitude response's shape exactly and
// scales it by 1/|p|^2; b is divided by the same factor, so pass band, stop
// band and gain are those of the published design and only the phase differs.
constexpr double kDx4B[] = {0.000241197059878, -0.000851173563862, 0.0018846297672,   -0.0025228526639,
                            0.00233930535782,  -0.000880390859716, -0.000880390859716, 0.00233930535782,
                            -0.0025228526639,  0.0018846297672,   -0.000851173563862, 0.000241197059878};
constexpr double kDx4A[] = {1,
                            -8.46725092274,
                            34.0368104095,
                            -85.3543936423,
                            147.948061172,
                            -185.776408062,
                            172.243888441,
                            -117.842934569,
                            58.2958446488,
                            -19.8657018724,
                            4.20070051884,
                            -0.418202795521};

constexpr double kEx2B[] = {0.029197855, 0.078319028, 0.15617725,  0.20714149,
                            0.20714149,  0.15617725,  0.078319028, 0.029197855};
constexpr double kEx2A[] = {1, -1.7682011, 3.3124909, -3.405051, 3.0094573, -1.7806737, 0.76039308, -0.1867443};

constexpr double kEx4B[] = {0.0050475574, -0.014824847, 0.028992798,  -0.036877155, 0.04129434,
                            -0.036877155, 0.028992798,  -0.014824847, 0.0050475574};
constexpr double kEx4A[] = {1,          -5.9435415, 16.541391,  -27.822537, 30.772175,
                            -22.850255, 11.113241,  -3.2378409, 0.43369278};

constexpr IirFilter kDx2{10, kDx2B, kDx2A};
constexpr IirFilter kDx4{11, kDx4B, kDx4A};
constexpr IirFilter kEx2{7, kEx2B, kEx2A};
constexpr IirFilter kEx4{8, kEx4B, kEx4A};

}  // namespace

const IirFilter& DecoderInterpolateX2() { return kDx2; }
const IirFilter& DecoderInterpolateX4() { return kDx4; }
const IirFilter& EncoderDecimateX2() { return kEx2; }
const IirFilter& EncoderDecimateX4() { return kEx4; }

}  // namespace mp2
