#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreConfig.h"

#include <cmath>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

namespace {
EncError* Invalid(int line) { return ErrorCreate(__FILE__, line, nullptr, "invalid function parameter"); }

int IntOf(const void* value) {
    int v;
    std::memcpy(&v, value, sizeof v);
    return v;
}
}  // namespace

L3CoreConfig L3CoreDefaultConfig() { return L3CoreConfig{9, 0, 0.0f, 0, 0, 1, 0, 0}; }

EncError* L3CoreCreateConfig(L3CoreConfig** out) {
    if (!out) return Invalid(__LINE__);
    *out = static_cast<L3CoreConfig*>(AlignedMalloc(sizeof(L3CoreConfig), __FILE__, __LINE__));
    if (!*out) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    **out = L3CoreDefaultConfig();
    return nullptr;
}

EncError* L3CoreSetConfigParam(L3CoreConfig* c, int index, const void* value) {
    if (!c) return Invalid(__LINE__);
    switch (index) {
        case kL3CoreIntensityOff:
            c->intensityOff = 1;
            return nullptr;
        case kL3CoreMonoFallback:
            c->monoFallback = 1;
            return nullptr;
        case kL3CoreNoOptionScope:
            c->optionScope = 0;
            return nullptr;
        default:
            break;
    }
    if (!value) return Invalid(__LINE__);
    // Each value is checked here: an out-of-range word would otherwise reach
    // the option texts or the frame header.
    switch (index) {
        case kL3CoreQuality: {
            const int v = IntOf(value);
            if (v < 0 || v > 9) return Invalid(__LINE__);
            c->quality = v;
            return nullptr;
        }
        case kL3CorePadding: {
            const int v = IntOf(value);
            if (v < 0 || v > 2) return Invalid(__LINE__);
            c->paddingMode = v;
            return nullptr;
        }
        case kL3CoreHeaderBits: {
            const int v = IntOf(value);
            if (v < 0 || v > 7) return Invalid(__LINE__);
            c->headerBits = v;
            return nullptr;
        }
        case kL3CoreEmphasis: {
            const int v = IntOf(value);
            if (v < 0 || v > 3 || v == 2) return Invalid(__LINE__);  // 2 is reserved in the header
            c->emphasis = v;
            return nullptr;
        }
        case kL3CoreBandwidth: {
            float v;
            std::memcpy(&v, value, sizeof v);
            if (!std::isfinite(v)) return Invalid(__LINE__);
            c->bandwidth = v;
            return nullptr;
        }
        default:
            return Invalid(__LINE__);
    }
}

void L3CoreFreeConfig(L3CoreConfig* c) { AlignedFree(c); }
