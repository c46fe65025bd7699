#pragma once
// The spectral analysis window of the psychoacoustic FFTs: sin^2 over the
// block (types 0 and 2 alike).
#include "mp3enc/util/EncError.h"

struct AnalysisWindow {
    float* values;
    int length;
};

// Null or an error object; a type other than 0 or 2 is our own bug and ends
// the process (the model passes only those two).
EncError* CreateAnalysisWindow(AnalysisWindow** out, int type, int length);
// data[i] *= window[i] for the window's length.
void ApplyAnalysisWindow(const AnalysisWindow* window, float* data);
void DeleteAnalysisWindow(AnalysisWindow* window);
