#include "codecs/mpeg2/Spl.h"

#include "codecs/mpeg2/Mp2Kernels.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

thread_local int t_status = 0;
thread_local int t_errorMode = SPL_ErrorModeLeaf;
thread_local SplErrorHandler t_handler = SplDefaultErrorHandler;
thread_local char t_message[512];
thread_local char t_unknownText[64];

constexpr int kRoundMask = CONVERT_ROUND | CONVERT_TRUNC_ZERO | CONVERT_TRUNC_NEG | CONVERT_TRUNC_POS;

double RoundValue(double x, int rounding) {
    switch (rounding) {
        case CONVERT_TRUNC_ZERO: return std::trunc(x);
        case CONVERT_TRUNC_NEG: return std::floor(x);
        case CONVERT_TRUNC_POS: return std::ceil(x);
        default: {
            // Nearest, ties to even, independent of the thread's FPU mode.
            const double f = std::floor(x);
            const double d = x - f;
            if (d > 0.5) return f + 1.0;
            if (d < 0.5) return f;
            return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
        }
    }
}

// Low wordBits of v, read back as the signed or unsigned word.
int64_t Wrap(double v, int wordBits, bool isUnsigned) {
    // Beyond 2^62 the low bits are not meaningful anyway; keep the cast defined.
    if (!(v > -4.6e18 && v < 4.6e18)) v = 0.0;
    const uint64_t bits = static_cast<uint64_t>(static_cast<int64_t>(v));
    const uint64_t mask = wordBits == 64 ? ~0ull : ((1ull << wordBits) - 1);
    const uint64_t low = bits & mask;
    if (isUnsigned) return static_cast<int64_t>(low);
    const uint64_t sign = 1ull << (wordBits - 1);
    return (low & sign) ? static_cast<int64_t>(low) - static_cast<int64_t>(mask) - 1 : static_cast<int64_t>(low);
}

// The decoder's case, 16 bits rounded and clipped: the decoder's own
// conversion, which needs no library call and no particular FPU mode.
void RoundClip16(const float* src, int16_t* dst, int len) {
    for (int i = 0; i < len; ++i) dst[i] = Mp2RoundClip16(src[i]);
}

void Store(void* dst, int i, int wordBits, int64_t v) {
    switch (wordBits) {
        case 8: static_cast<uint8_t*>(dst)[i] = static_cast<uint8_t>(v); break;
        case 16: static_cast<uint16_t*>(dst)[i] = static_cast<uint16_t>(v); break;
        default: static_cast<uint32_t*>(dst)[i] = static_cast<uint32_t>(v); break;
    }
}

}  // namespace

void splsbFloatToInt(const float* src, void* dst, int len, int wordBits, int flags) {
    static const char kFunc[] = "splsbFloatToInt";
    static const char kFile[] = "splcvrts";
    t_status = 0;
    if (len <= 0) SplReportError(SPL_StsBadArg, kFunc, "len<=0", kFile, 280);
    if (src == nullptr) SplReportError(SPL_StsBadArg, kFunc, "src==0", kFile, 280);
    if (dst == nullptr) SplReportError(SPL_StsBadArg, kFunc, "dst==0", kFile, 280);
    if (wordBits != 8 && wordBits != 16 && wordBits != 32)
        SplReportError(SPL_StsBadArg, kFunc, "Invalid size of an integer", kFile, 280);
    const int rounding = flags & kRoundMask;
    if (rounding != CONVERT_ROUND && rounding != CONVERT_TRUNC_ZERO && rounding != CONVERT_TRUNC_NEG &&
        rounding != CONVERT_TRUNC_POS)
        SplReportError(SPL_StsBadArg, kFunc, "Invalid conversion flag", kFile, 280);
    if (t_status < 0) return;
    if (wordBits == 16 && flags == (CONVERT_ROUND | CONVERT_CLIP)) {
        RoundClip16(src, static_cast<int16_t*>(dst), len);
        return;
    }

    int direction = rounding;
    if (wordBits == 32 && flags == (CONVERT_UNSIGNED | CONVERT_TRUNC_ZERO | CONVERT_OVERFLOW_ERROR))
        direction = CONVERT_TRUNC_NEG;
    const bool isUnsigned = (flags & CONVERT_UNSIGNED) != 0;
    const double lo = isUnsigned ? 0.0 : -std::ldexp(1.0, wordBits - 1);
    const double hi = isUnsigned ? std::ldexp(1.0, wordBits) - 1.0 : std::ldexp(1.0, wordBits - 1) - 1.0;
    bool outside = false;
    for (int i = 0; i < len; ++i) {
        const double x = src[i];
        double r = RoundValue(x, direction);
        if (std::isnan(x)) {
            outside = true;
            r = 0.0;
        }
        if (flags & CONVERT_CLIP) {
            if (r > hi) {
                r = hi;
                outside = true;
            } else if (r < lo) {
                r = lo;
                outside = true;
            }
            Store(dst, i, wordBits, static_cast<int64_t>(r));
        } else {
            if (r > hi || r < lo) outside = true;
            Store(dst, i, wordBits, Wrap(r, wordBits, isUnsigned));
        }
    }
    if (outside && (flags & CONVERT_OVERFLOW_ERROR))
        SplReportError(SPL_StsBadArg, kFunc, "A float exceeds an integer", kFile, 284);
}

int SplGetStatus() { return t_status; }
void SplSetStatus(int status) { t_status = status; }
int* SplStatusAddress() { return &t_status; }
int SplGetErrorMode() { return t_errorMode; }
void SplSetErrorMode(int mode) { t_errorMode = mode; }

SplErrorHandler SplSetErrorHandler(SplErrorHandler handler) {
    const SplErrorHandler previous = t_handler;
    t_handler = handler ? handler : SplDefaultErrorHandler;
    return previous;
}

int SplReportError(int status, const char* function, const char* context, const char* file, int line) {
    if (status != SPL_StsBackTrace && status != SPL_StsAutoTrace) t_status = status;
    if (status == 0) return 0;
    return t_handler(status, function, context, file, line);
}

const char* SplStatusText(int status) {
    switch (status) {
        case 0: return "No Error";
        case -1: return "Backtrace";
        case -2: return "Unknown error";
        case -3: return "Internal error (bad state)";
        case -4: return "Out of memory";
        case -5: return "Bad argument";
        case -6: return "Unsupported function";
        case -7: return "Iteration convergence failed";
        case -8: return "Autotrace call";
        default:
            std::snprintf(t_unknownText, sizeof t_unknownText, "Unknown %s code %d", status < 0 ? "error" : "status",
                          status);
            return t_unknownText;
    }
}

int SplExitOnLeafMode(int status) {
    if (t_errorMode == SPL_ErrorModeLeaf) std::exit(1);
    return status;
}

const SplVersion* SplGetVersion() {
    static const SplVersion kVersion{3, 0, 11, "velmora spl", "3.0", "11", __DATE__};
    return &kVersion;
}

int SplDefaultErrorHandler(int status, const char* function, const char* context, const char* file, int line) {
    if (t_errorMode == SPL_ErrorModeSilent) return status;
    if (!function) function = "<unknown>";
    if (!context) context = "";
    if (!file) file = "";
    if (line < 0) line = 0;
    const char* modeText = t_errorMode == SPL_ErrorModeLeaf
                               ? "\n\nErrMode=SPL_ErrorModeLeaf\n\nTerminate the application?"
                               : "\n\nErrMode=SPL_ErrorModeParent\n\nContinue?";
    char body[400];
    if (status == SPL_StsBackTrace)
        std::snprintf(body, sizeof body, "called from [%s:%d]:%s():\n %s%s", file, line, function, context, modeText);
    else if (status == SPL_StsAutoTrace)
        std::snprintf(body, sizeof body, "called from [%s:%d]:\n %s(%s)%s", file, line, function, context, modeText);
    else
        std::snprintf(body, sizeof body, "in function [%s:%d]:%s():\n %s%s", file, line, function, context, modeText);
    std::snprintf(t_message, sizeof t_message, "SPL Library Error: %s\n%s", SplStatusText(t_status), body);
    // No message box here, and ending the process from a codec thread would be
    // worse than the fault reported: show the text and let the caller go on.
    std::fprintf(stderr, "%s\n", t_message);
    return status;
}

const char* SplLastMessage() { return t_message; }

namespace {
template <typename T>
void ToFloat(const T* src, float* dst, int len, float factor) {
    if (!src || !dst) return;
    for (int i = 0; i < len; ++i) dst[i] = static_cast<float>(src[i]) * factor;
}
float ScaleFactor(int scale) {
    // 1.0 with scale subtracted from its exponent.
    return std::ldexp(1.0f, -scale);
}
}  // namespace

void SplIntToFloat8s(const int8_t* src, float* dst, int len) { ToFloat(src, dst, len, 1.0f); }
void SplIntToFloat8u(const uint8_t* src, float* dst, int len) { ToFloat(src, dst, len, 1.0f); }
void SplIntToFloat16s(const int16_t* src, float* dst, int len) { ToFloat(src, dst, len, 1.0f); }
void SplIntToFloat16u(const uint16_t* src, float* dst, int len) { ToFloat(src, dst, len, 1.0f); }
void SplIntToFloat32s(const int32_t* src, float* dst, int len) { ToFloat(src, dst, len, 1.0f); }
void SplIntToFloat32u(const uint32_t* src, float* dst, int len) { ToFloat(src, dst, len, 1.0f); }
void SplIntToFloat8sScaled(const int8_t* src, float* dst, int len, int s) { ToFloat(src, dst, len, ScaleFactor(s)); }
void SplIntToFloat8uScaled(const uint8_t* src, float* dst, int len, int s) { ToFloat(src, dst, len, ScaleFactor(s)); }
void SplIntToFloat16sScaled(const int16_t* src, float* dst, int len, int s) { ToFloat(src, dst, len, ScaleFactor(s)); }
void SplIntToFloat16uScaled(const uint16_t* src, float* dst, int len, int s) { ToFloat(src, dst, len, ScaleFactor(s)); }
void SplIntToFloat32sScaled(const int32_t* src, float* dst, int len, int s) { ToFloat(src, dst, len, ScaleFactor(s)); }
void SplIntToFloat32uScaled(const uint32_t* src, float* dst, int len, int s) { ToFloat(src, dst, len, ScaleFactor(s)); }
