#include "mp3enc/l3core/core/psych/Mdct.h"

#include <cmath>
#include <cstring>

#include "common/L3Tables.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

enum Window { kNormal, kStart, kShort, kStop };

// Windows and cosines, pre-scaled (1/9 long, 1/3 short); built on first use,
// once for the process (thread-safe).
struct MdctTables {
    float longWindow[3][36];  // normal, start, stop
    float longCos[18][18];    // the 18-point DCT-IV the long MDCT folds to
    float shortWindow[12];
    float shortCos[6][12];
    float cs[8], ca[8];
    MdctTables() {
        for (int n = 0; n < 36; ++n) {
            const double normal = std::sin(M_PI / 36 * (n + 0.5));
            double start = normal;
            if (n >= 18) start = n < 24 ? 1.0 : n < 30 ? std::sin(M_PI / 12 * (n - 18 + 0.5)) : 0.0;
            longWindow[0][n] = static_cast<float>(normal);
            longWindow[1][n] = static_cast<float>(start);
        }
        for (int n = 0; n < 36; ++n) longWindow[2][n] = longWindow[1][35 - n];
        for (int m = 0; m < 18; ++m)
            for (int n = 0; n < 18; ++n)
                longCos[m][n] = static_cast<float>(std::cos(M_PI / 18 * (n + 0.5) * (m + 0.5)) / 9.0);
        for (int n = 0; n < 12; ++n) shortWindow[n] = static_cast<float>(std::sin(M_PI / 12 * (n + 0.5)));
        for (int m = 0; m < 6; ++m)
            for (int n = 0; n < 12; ++n)
                shortCos[m][n] = static_cast<float>(std::cos(M_PI / 24 * (2 * n + 7) * (2 * m + 1)) / 3.0);
        for (int i = 0; i < 8; ++i) {
            const double c = l3tables::kAliasCi[i];
            cs[i] = static_cast<float>(1.0 / std::sqrt(1.0 + c * c));
            ca[i] = static_cast<float>(c / std::sqrt(1.0 + c * c));
        }
    }
};

const MdctTables& Tables() {
    static const MdctTables tables;
    return tables;
}

// X[m] = 1/9 sum w z cos(pi/72 (2n+19)(2m+1)) by folding the 36 windowed
// values to 18 and an 18-point DCT-IV.
void LongMdct(const float* z, const float* w, float* out) {
    float x[36], u[18];
    for (int n = 0; n < 36; ++n) x[n] = z[n] * w[n];
    for (int n = 0; n < 9; ++n) {
        u[n] = -x[26 - n] - x[27 + n];
        u[n + 9] = x[n] - x[17 - n];
    }
    const MdctTables& t = Tables();
    for (int m = 0; m < 18; ++m) {
        float sum = 0.0f;
        for (int n = 0; n < 18; ++n) sum += t.longCos[m][n] * u[n];
        out[m] = sum;
    }
}

// Three 12-point MDCTs on z[6..17], z[12..23], z[18..29]; window w's line f at 6 w + f.
void ShortMdct(const float* z, float* out) {
    const MdctTables& t = Tables();
    for (int w = 0; w < 3; ++w) {
        const float* s = z + 6 + 6 * w;
        for (int m = 0; m < 6; ++m) {
            float sum = 0.0f;
            for (int n = 0; n < 12; ++n) sum += t.shortCos[m][n] * t.shortWindow[n] * s[n];
            out[6 * w + m] = sum;
        }
    }
}

Window WindowOf(int blockType, int subband, int longSubbands) {
    if (blockType >= 4 && subband < longSubbands) return kNormal;
    switch (blockType) {
        case 1: case 4: return kStart;
        case 2: case 5: return kShort;
        case 3: case 6: return kStop;
        default: return kNormal;
    }
}

}  // namespace

MdctState* CreateMdct(int version, const SfbParam* longBands) {
    if (!longBands || version < 0 || version > 2 || longBands->bandCount < 8) return nullptr;
    Tables();
    auto* s = static_cast<MdctState*>(AlignedCalloc(1, sizeof(MdctState), __FILE__, __LINE__));
    if (!s) return nullptr;
    s->longLines = longBands->start[version == 0 ? 8 : 6];
    s->longSubbands = s->longLines / 18;
    return s;
}

int MdctAnalyse(MdctState* state, int blockType, const float* subbands, float* spectrum) {
    if (blockType < 0 || blockType > 6) blockType = 0;
    const MdctTables& t = Tables();
    for (int sb = 0; sb < 32; ++sb) {
        float* z = state->buffer[sb];
        std::memcpy(z, z + 18, 18 * sizeof(float));
        // Odd subbands come out of the filter bank frequency-inverted.
        for (int k = 0; k < 18; ++k) z[18 + k] = (sb & k & 1) ? -subbands[32 * k + sb] : subbands[32 * k + sb];
        float* out = spectrum + 18 * sb;
        const Window w = WindowOf(blockType, sb, state->longSubbands);
        if (w == kShort) {
            ShortMdct(z, out);
        } else {
            LongMdct(z, t.longWindow[w == kNormal ? 0 : w == kStart ? 1 : 2], out);
        }
    }
    const int boundaries = blockType == 2 ? 0 : blockType == 5 ? state->longSubbands - 1 : 31;
    for (int b = 0; b < boundaries; ++b) {
        for (int i = 0; i < 8; ++i) {
            float& lower = spectrum[18 * b + 17 - i];
            float& upper = spectrum[18 * (b + 1) + i];
            const float lo = lower, up = upper;
            upper = up * t.cs[i] - lo * t.ca[i];
            lower = lo * t.cs[i] + up * t.ca[i];
        }
    }
    const int firstShort = blockType == 2 ? 0 : blockType == 5 ? state->longSubbands : 32;
    for (int sb = firstShort; sb < 32; ++sb) {
        float window[18];
        std::memcpy(window, spectrum + 18 * sb, sizeof window);
        for (int w = 0; w < 3; ++w)
            for (int f = 0; f < 6; ++f) spectrum[18 * sb + 3 * f + w] = window[6 * w + f];
    }
    spectrum[576] = 0.0f;
    spectrum[577] = 0.0f;
    return 1;
}

void DeleteMdct(MdctState* state) { AlignedFree(state); }
