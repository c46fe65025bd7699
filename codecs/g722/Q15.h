#pragma once
// Saturating 16-bit fixed-point operators of the G.722 arithmetic. Every
// intermediate is computed in 32 bits and clamped, so no operation overflows;
// the codec's results depend on exactly these roundings (floor shifts).
#include <cstdint>

namespace g722 {

inline constexpr int16_t Sat16(int32_t x) {
    return static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
}
inline constexpr int16_t SatAdd16(int16_t a, int16_t b) { return Sat16(int32_t{a} + b); }
inline constexpr int16_t SatSub16(int16_t a, int16_t b) { return Sat16(int32_t{a} - b); }
inline constexpr int16_t SatNeg16(int16_t a) { return Sat16(-int32_t{a}); }
// Q15 product: (a * b) >> 15 rounded toward minus infinity; only -1 * -1 saturates.
inline constexpr int16_t MulQ15(int16_t a, int16_t b) { return Sat16((int32_t{a} * b) >> 15); }
// Left shift with saturation; a negative count shifts right.
inline constexpr int16_t Shl16(int16_t a, int n) {
    if (n < 0) return static_cast<int16_t>(a >> (n < -15 ? 15 : -n));
    if (n > 15) return a == 0 ? 0 : (a > 0 ? 32767 : -32768);
    return Sat16(int32_t{a} * (int32_t{1} << n));  // at most 2^30: no overflow
}
// Arithmetic right shift; a negative count shifts left with saturation.
inline constexpr int16_t Shr16(int16_t a, int n) { return n < 0 ? Shl16(a, n < -16 ? 16 : -n) : Shl16(a, -n); }
// Limits a reconstructed or sub-band signal to the 15-bit range of the sub-band coders.
inline constexpr int16_t Limit15(int32_t x) {
    return static_cast<int16_t>(x > 16383 ? 16383 : (x < -16384 ? -16384 : x));
}

}  // namespace g722
