#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CorePadding.h"

#include <numeric>

#include "common/MpegHeader.h"

L3CorePaddingCycle L3CoreGetPaddingCycle(int paddingMode, int codedRate, int bitRate) {
    const L3CorePaddingCycle unknown{1, 1};
    if (codedRate <= 0 || bitRate <= 0) return unknown;
    const long long k = codedRate >= 32000 ? 144 : 72;
    auto frameBytes = [&](long long r) { return static_cast<int>(k * r / codedRate); };
    if (paddingMode == 0 && (k * bitRate) % codedRate != 0) return unknown;
    const int pad = paddingMode == 2 ? 1 : 0;
    // The standard rates of the stream's version, from the one header table.
    const int version = codedRate >= 32000 ? 1 : 2;
    int lower = 0, upper = 0;
    for (int index = 1; index <= 14; ++index) {
        const int r = 1000 * MpegBitRateKbps(version, 3, index);
        if (r <= bitRate) lower = r;
        if (r > bitRate && upper == 0) upper = r;
    }
    if (lower == bitRate) return {1, frameBytes(lower) + pad};
    if (lower == 0 || upper == 0) return unknown;
    const int g = std::gcd(upper - bitRate, bitRate - lower);
    const int atLower = (upper - bitRate) / g, atUpper = (bitRate - lower) / g;
    const int period = atLower + atUpper;
    return {period, atLower * frameBytes(lower) + atUpper * frameBytes(upper) + period * pad};
}
