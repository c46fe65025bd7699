#include "codecs/mpeg2/Mp2Kernels.h"

namespace {

void Pcm16(const float* left, const float* right, int16_t* out, int n) {
    if (!right) {
        for (int i = 0; i < n; ++i) out[i] = Mp2RoundClip16(left[i]);
        return;
    }
    for (int i = 0; i < n; ++i) {
        out[2 * i] = Mp2RoundClip16(left[i]);
        out[2 * i + 1] = Mp2RoundClip16(right[i]);
    }
}

}  // namespace

namespace mp2kernels {
const SMp2Kernels kScalar = {Pcm16};
}
