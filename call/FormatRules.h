#pragma once
// How the call engine completes an audio format it takes (a connect request,
// a format the peer announced, the reply format of an answered call), and how
// it sizes the delay buffers of a buffered connection. Pure functions; any
// thread.
#include <cstdint>

#include "common/Records.h"

// Largest coded frame one worker pass moves each way (the pass buffers).
constexpr int kPassBufferBytes = 6144;

enum class FormatUse { Request, Received, Answer };

// Coded bytes of one frame of the format.
int ComputeFrameBytes(const AudioFormat& format, int fastCpu);

// Completes `format` in place: device mode, bit rate (received and answer
// only) and frame bytes. Returns 0 only for a request without a sample rate.
int NormalizeFormat(AudioFormat& format, FormatUse use, int fastCpu);

// Same coding type, bit rate, sample rate and mode (and, for standard apt-X,
// the option word).
bool SameFormat(const AudioFormat& a, const AudioFormat& b);
inline bool IsEmptyFormat(const AudioFormat& f) { return f.codingType == 0; }

// Whether one frame of a completed, non-empty format can go through a pass.
bool FrameFitsPass(const AudioFormat& format);

// TCP and multicast do not carry the apt-X option word: the receiving
// transport hands every format on with option 1, so its standard apt-X
// decoder looks for the sync pattern. A format sent that way must therefore
// carry the pattern, whatever the destination entry held.
void MatchAptxOptionToTransport(AudioFormat& format, int transportKind);

// Bytes of a delay buffer holding `delayMs` of the format: at least ten
// frames; 0 when the format has no frame duration.
uint32_t DelayBufferCapacity(const AudioFormat& format, int delayMs);

// The delay buffer time a finished delay measurement gives.
int DelayTimeFromMeasurement(int bufferingMode, uint32_t maxMs, uint32_t minMs);
