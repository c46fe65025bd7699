#include "mp3enc/l3core/core/psych/FloatRing.h"

#include <algorithm>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

void Put(FloatRing* r, const float* values, int n) {
    if (n <= 0) return;
    if (n > r->size) {  // only the last size values survive
        if (values) values += n - r->size;
        r->writePosition = (r->writePosition + n - r->size) % r->size;
        n = r->size;
    }
    const int first = std::min(n, r->size - r->writePosition);
    float* at = r->data + r->writePosition;
    if (values) {
        std::memcpy(at, values, sizeof(float) * first);
        std::memcpy(r->data, values + first, sizeof(float) * (n - first));
    } else {
        std::memset(at, 0, sizeof(float) * first);
        std::memset(r->data, 0, sizeof(float) * (n - first));
    }
    r->writePosition = (r->writePosition + n) % r->size;
}

}  // namespace

FloatRing* CreateFloatModuleBuffer(int size) {
    if (size < 1) return nullptr;
    auto* r = static_cast<FloatRing*>(AlignedCalloc(1, sizeof(FloatRing), __FILE__, __LINE__));
    float* data = static_cast<float*>(AlignedCalloc(size, sizeof(float), __FILE__, __LINE__));
    if (!r || !data) {
        AlignedFree(r);
        AlignedFree(data);
        return nullptr;
    }
    r->data = data;
    r->size = size;
    return r;
}

void FloatRingWrite(FloatRing* ring, const float* values, int n) {
    if (values) Put(ring, values, n);
}

void FloatRingWriteZeros(FloatRing* ring, int n) { Put(ring, nullptr, n); }

int FloatRingRead(const FloatRing* ring, float* out, int n, int delay) {
    if (n < 0 || delay < 0 || n > ring->size || delay > ring->size) return 0;
    const int start = (ring->size + ring->writePosition - delay) % ring->size;
    const int first = std::min(n, ring->size - start);
    std::memcpy(out, ring->data + start, sizeof(float) * first);
    std::memcpy(out + first, ring->data, sizeof(float) * (n - first));
    return 1;
}

void DeleteFloatModuleBuffer(FloatRing* ring) {
    if (!ring) return;
    AlignedFree(ring->data);
    AlignedFree(ring);
}
