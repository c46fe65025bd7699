#include "common/Color.h"

COLORREF LightenColor(COLORREF color, double percent) {
    if (!(percent >= 0.0)) percent = 0.0;  // also catches NaN
    if (percent > 100.0) percent = 100.0;
    COLORREF out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const DWORD c = (color >> shift) & 0xFF;
        const DWORD lit = static_cast<DWORD>(c + (255 - c) * percent * 0.01);
        out |= (lit > 255 ? 255 : lit) << shift;
    }
    return out;
}
