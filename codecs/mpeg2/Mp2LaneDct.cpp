#include "codecs/mpeg2/Mp2LaneDct.h"

#include "codecs/simd/LaneDct.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "codecs/simd/KernelSet.h"
#endif

CMp2LaneDct::CMp2LaneDct() : m_wide(VectorPathSupported(EVectorPath::Avx2)) {}

#if defined(__SSE2__)
void CMp2LaneDct::Run4(float (*blocks)[32]) const {
    __m128 x[32];
    __m128 scratch[32];
    for (int q = 0; q < 32; q += 4) {
        __m128 r0 = _mm_loadu_ps(blocks[0] + q), r1 = _mm_loadu_ps(blocks[1] + q);
        __m128 r2 = _mm_loadu_ps(blocks[2] + q), r3 = _mm_loadu_ps(blocks[3] + q);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        x[q] = r0;
        x[q + 1] = r1;
        x[q + 2] = r2;
        x[q + 3] = r3;
    }
    lanedct::Halve<lanedct::Sse2Lanes, 32>(x, scratch, lanedct::DctFactors().f);
    for (int q = 0; q < 32; q += 4) {
        __m128 r0 = x[q], r1 = x[q + 1], r2 = x[q + 2], r3 = x[q + 3];
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(blocks[0] + q, r0);
        _mm_storeu_ps(blocks[1] + q, r1);
        _mm_storeu_ps(blocks[2] + q, r2);
        _mm_storeu_ps(blocks[3] + q, r3);
    }
}
#else
void CMp2LaneDct::Run4(float (*blocks)[32]) const {
    for (int l = 0; l < 4; ++l) m_portable.RunPortable(blocks[l], 32);
}
#endif

#if defined(__x86_64__) || defined(__i386__)
namespace {

// lanedct::Halve eight lanes wide, written out because its intrinsics need a
// function compiled for AVX2; called only after the processor has reported it.
template <int N>
[[gnu::always_inline]] inline VELMORA_AVX2 void Halve8(const float* factors, __m256* x, __m256* scratch) {
    if constexpr (N > 1) {
        constexpr int h = N / 2;
        const float* f = factors + (h - 1);
        __m256* a = scratch;
        __m256* b = scratch + h;
        for (int i = 0; i < h; ++i) {
            const __m256 u = x[i];
            const __m256 v = x[N - 1 - i];
            a[i] = _mm256_add_ps(u, v);
            b[i] = _mm256_mul_ps(_mm256_sub_ps(u, v), _mm256_set1_ps(f[i]));
        }
        Halve8<h>(factors, a, x);
        Halve8<h>(factors, b, x + h);
        for (int k = 0; k < h; ++k) x[2 * k] = a[k];
        for (int k = 0; k < h - 1; ++k) x[2 * k + 1] = _mm256_add_ps(b[k], b[k + 1]);
        x[N - 1] = b[h - 1];
    }
}

// Blocks 0-3 in the low halves, 4-7 in the high ones, each four-by-four
// group turned so that a vector holds one value of every block.
VELMORA_AVX2 void Run8Avx2(const float* factors, float (*blocks)[32]) {
    __m256 x[32];
    __m256 scratch[32];
    for (int q = 0; q < 32; q += 4) {
        __m128 lo[4], hi[4];
        for (int l = 0; l < 4; ++l) {
            lo[l] = _mm_loadu_ps(blocks[l] + q);
            hi[l] = _mm_loadu_ps(blocks[l + 4] + q);
        }
        _MM_TRANSPOSE4_PS(lo[0], lo[1], lo[2], lo[3]);
        _MM_TRANSPOSE4_PS(hi[0], hi[1], hi[2], hi[3]);
        for (int i = 0; i < 4; ++i) x[q + i] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo[i]), hi[i], 1);
    }
    Halve8<32>(factors, x, scratch);
    for (int q = 0; q < 32; q += 4) {
        __m128 lo[4], hi[4];
        for (int i = 0; i < 4; ++i) {
            lo[i] = _mm256_castps256_ps128(x[q + i]);
            hi[i] = _mm256_extractf128_ps(x[q + i], 1);
        }
        _MM_TRANSPOSE4_PS(lo[0], lo[1], lo[2], lo[3]);
        _MM_TRANSPOSE4_PS(hi[0], hi[1], hi[2], hi[3]);
        for (int l = 0; l < 4; ++l) {
            _mm_storeu_ps(blocks[l] + q, lo[l]);
            _mm_storeu_ps(blocks[l + 4] + q, hi[l]);
        }
    }
}

}  // namespace
#endif

void CMp2LaneDct::Run8(float (*blocks)[32]) const {
#if defined(__x86_64__) || defined(__i386__)
    if (m_wide) {
        Run8Avx2(lanedct::DctFactors().f, blocks);
        return;
    }
#endif
    Run4(blocks);
    Run4(blocks + 4);
}
