#pragma once
// Small signal-processing library: float-to-integer conversion with rounding
// and saturation for the Layer II decoder's output, integer-to-float
// conversions, and the library's status word, error mode and error handler.
// The status, mode and handler are per thread here, so that two decoders on
// two threads never see each other's status; on one thread they behave as
// one library-wide set.
#include <cstdint>

enum : int {
    CONVERT_ROUND = 0x80,
    CONVERT_TRUNC_ZERO = 0x100,
    CONVERT_TRUNC_NEG = 0x200,
    CONVERT_TRUNC_POS = 0x400,
    CONVERT_UNSIGNED = 0x800,
    CONVERT_CLIP = 0x1000,
    CONVERT_OVERFLOW_ERROR = 0x2000,
};

enum : int {
    SPL_ErrorModeLeaf = 0,
    SPL_ErrorModeParent = 1,
    SPL_ErrorModeSilent = 2,
};

enum : int {
    SPL_StsNoErr = 0,
    SPL_StsBackTrace = -1,
    SPL_StsError = -2,
    SPL_StsInternal = -3,
    SPL_StsNoMem = -4,
    SPL_StsBadArg = -5,
    SPL_StsBadFunc = -6,
    SPL_StsNoConv = -7,
    SPL_StsAutoTrace = -8,
};

using SplErrorHandler = int (*)(int status, const char* function, const char* context, const char* file, int line);

struct SplVersion {
    int major;
    int minor;
    int build;
    const char* name;
    const char* release;
    const char* buildText;
    const char* date;
};

// Converts len floats to words of wordBits (8, 16 or 32) bits in native byte
// order, as flags say (exactly one rounding flag; CONVERT_UNSIGNED,
// CONVERT_CLIP, CONVERT_OVERFLOW_ERROR optional). Bad arguments are reported
// and nothing is converted.
void splsbFloatToInt(const float* src, void* dst, int len, int wordBits, int flags);

int SplGetStatus();
void SplSetStatus(int status);
int* SplStatusAddress();
int SplGetErrorMode();
void SplSetErrorMode(int mode);
// Installs handler (null: the default one) and returns the previous handler.
SplErrorHandler SplSetErrorHandler(SplErrorHandler handler);
int SplReportError(int status, const char* function, const char* context, const char* file, int line);
const char* SplStatusText(int status);
int SplExitOnLeafMode(int status);
const SplVersion* SplGetVersion();
// The default handler. It never ends the process (no message box exists here):
// in modes 0 and 1 it writes the message to stderr and keeps it for
// SplLastMessage; in mode 2 it is silent.
int SplDefaultErrorHandler(int status, const char* function, const char* context, const char* file, int line);
const char* SplLastMessage();

void SplIntToFloat8s(const int8_t* src, float* dst, int len);
void SplIntToFloat8u(const uint8_t* src, float* dst, int len);
void SplIntToFloat16s(const int16_t* src, float* dst, int len);
void SplIntToFloat16u(const uint16_t* src, float* dst, int len);
void SplIntToFloat32s(const int32_t* src, float* dst, int len);
void SplIntToFloat32u(const uint32_t* src, float* dst, int len);
// The scaled forms multiply by 2^-scale.
void SplIntToFloat8sScaled(const int8_t* src, float* dst, int len, int scale);
void SplIntToFloat8uScaled(const uint8_t* src, float* dst, int len, int scale);
void SplIntToFloat16sScaled(const int16_t* src, float* dst, int len, int scale);
void SplIntToFloat16uScaled(const uint16_t* src, float* dst, int len, int scale);
void SplIntToFloat32sScaled(const int32_t* src, float* dst, int len, int scale);
void SplIntToFloat32uScaled(const uint32_t* src, float* dst, int len, int scale);
