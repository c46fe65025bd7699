#pragma once
// Inputs for comparing a vector path with the scalar one bit for bit.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

// Values over many magnitudes and signs with some exact zeros, so summing in
// any other order or fusing a multiply-add would show in the bits.
inline std::vector<float> PatternValues(int n, uint32_t seed) {
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) {
        seed = seed * 1664525u + 1013904223u;
        const int e = static_cast<int>(seed >> 27) - 16;
        const float m = static_cast<float>((seed >> 8) & 0xFFFF) / 65536.0f - 0.5f;
        x = (seed & 0x70) == 0 ? 0.0f : std::ldexp(m, e);
    }
    return v;
}

inline bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}
