#include "mp3enc/l3core/core/psych/AnalysisWindow.h"

#include <cmath>

#include "mp3enc/util/AlignedAlloc.h"
#include "mp3enc/util/VectorOps.h"

EncError* CreateAnalysisWindow(AnalysisWindow** out, int type, int length) {
    if (type != 0 && type != 2) FatalError("CalculateWindow() called with invalid window type", __FILE__, __LINE__);
    if (!out || length < 2) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* w = static_cast<AnalysisWindow*>(AlignedCalloc(1, sizeof(AnalysisWindow), __FILE__, __LINE__));
    float* values = static_cast<float*>(AlignedMalloc(sizeof(float) * length, __FILE__, __LINE__));
    if (!w || !values) {
        AlignedFree(w);
        AlignedFree(values);
        return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    }
    for (int i = 0; i < length / 2; ++i) {
        const double s = std::sin(M_PI * (i + 0.5) / length);
        values[i] = values[length - 1 - i] = static_cast<float>(s * s);
    }
    if (length % 2) values[length / 2] = 1.0f;
    w->values = values;
    w->length = length;
    *out = w;
    return nullptr;
}

void ApplyAnalysisWindow(const AnalysisWindow* window, float* data) {
    VecMul(window->values, data, data, window->length);
}

void DeleteAnalysisWindow(AnalysisWindow* window) {
    if (!window) return;
    AlignedFree(window->values);
    AlignedFree(window);
}
