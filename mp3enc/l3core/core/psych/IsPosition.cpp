#include "mp3enc/l3core/core/psych/IsPosition.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kFloor = 1e-10f;
constexpr float kTwelveOverPi = 3.8197186f;
constexpr float kLog2Of10 = 3.321928f;

}  // namespace

IsPosition IntensityPosition(int rateClass, float left, float right, float twiceMid) {
    IsPosition p{};
    const float mid = std::max(twiceMid, kFloor);
    if (rateClass == 0) {
        const float y = std::sqrt(left / std::max(std::max(left * kFloor, kFloor), right));
        p.position = static_cast<int>(0.5f + kTwelveOverPi * std::atan(y));
        if (p.position == 0 && y > 0.03f) p.position = 1;
        if (p.position == 6 && y < 33.0f) p.position = 5;
        p.factor = (std::sqrt(left) + std::sqrt(right)) / std::sqrt(mid);
        return p;
    }
    // Two steps per bit of energy ratio: each step is 2^(-1/4) in level.
    const int k = static_cast<int>(2.0f * kLog2Of10 * std::log10(std::max(left, kFloor) / std::max(right, kFloor)));
    p.position = k >= 0 ? std::min(2 * k, 6) : std::min(-2 * k - 1, 5);
    p.factor = std::sqrt(std::max(left, right) / mid);
    return p;
}

float UnmergedFactor(int rateClass, float left, float right) {
    const float ratio = std::sqrt(right / std::max(left, kFloor));
    if (rateClass == 0) return 1.0f + ratio;
    return right >= left ? ratio : 1.0f;
}
