#include "mp3enc/l3core/core/psych/FloatFifo.h"

#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

float* Rotate(FloatFifo* f) {
    float* oldest = f->vectors[f->depth - 1];
    std::memmove(f->vectors + 1, f->vectors, sizeof(float*) * (f->depth - 1));
    f->vectors[0] = oldest;
    if (f->fill < f->depth) ++f->fill;
    return oldest;
}

}  // namespace

EncError* CreateFloatFifo(FloatFifo** out, int depth, int length) {
    if (!out || depth < 1 || length < 1) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* f = static_cast<FloatFifo*>(AlignedCalloc(1, sizeof(FloatFifo), __FILE__, __LINE__));
    if (!f) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    f->vectors = static_cast<float**>(AlignedCalloc(depth, sizeof(float*), __FILE__, __LINE__));
    f->depth = depth;
    f->length = length;
    bool ok = f->vectors != nullptr;
    for (int i = 0; ok && i < depth; ++i) {
        f->vectors[i] = static_cast<float*>(AlignedCalloc(length, sizeof(float), __FILE__, __LINE__));
        ok = f->vectors[i] != nullptr;
    }
    if (!ok) {
        DeleteFloatFifo(f);
        return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    }
    *out = f;
    return nullptr;
}

void FloatFifoPush(FloatFifo* fifo, const float* values) {
    std::memcpy(Rotate(fifo), values, sizeof(float) * fifo->length);
}

void FloatFifoPushZeros(FloatFifo* fifo) { std::memset(Rotate(fifo), 0, sizeof(float) * fifo->length); }

const float* FloatFifoEntry(const FloatFifo* fifo, int i) {
    return i >= 0 && i < fifo->fill ? fifo->vectors[i] : nullptr;
}

void DeleteFloatFifo(FloatFifo* fifo) {
    if (!fifo) return;
    if (fifo->vectors)
        for (int i = 0; i < fifo->depth; ++i) AlignedFree(fifo->vectors[i]);
    AlignedFree(fifo->vectors);
    AlignedFree(fifo);
}
