#pragma once
// Clocked virtual sound devices: a capture device that plays a tone or a raw
// file into the WAVE input calls and a playback device that records what the
// WAVE output calls play. They run on a real clock or on a simulated one that
// only VirtualWaveAdvanceMs moves, at the nominal rate times (1 + rate error).
//
// A user gets one only on purpose: the environment variable
// VELMORA_VIRTUAL_AUDIO names it, with optional settings after commas:
//   VELMORA_VIRTUAL_AUDIO="Studio Loop,rate_error=0.5,tone=1000,level=0.25,
//                          source=/tmp/in.raw,sink=/tmp/out.raw,clock=sim"
// Tests add devices directly with VirtualWaveAdd. Virtual devices are listed
// before the ALSA ones, so the default card 0 is the virtual one.
//
// Application side only (never from a WAVE callback).
#include <cstddef>
#include <cstdint>
#include <string>

struct VirtualWaveConfig {
    std::string name = "Velmora Virtual";
    double rateErrorPercent = 0.0;  // +0.5: the device clock runs 0.5 % fast
    bool simulatedClock = false;    // true: moves only with VirtualWaveAdvanceMs
    int periodMs = 5;               // device transfer unit
    double toneHz = 1000.0;         // capture source when no file is given
    double toneLevel = 0.5;         // peak, as a fraction of full scale
    std::string sourceFile;         // raw s16le at the opened format, looped
    std::string sinkFile;           // raw s16le written when the output closes
    int sinkSeconds = 30;           // how much played audio is kept; 0 = count only
};

struct VirtualWaveStats {
    uint64_t framesPlayed = 0;    // output: device frames that left (incl. silence)
    uint64_t underrunFrames = 0;  // output: silent frames because no block was queued
    uint64_t framesCaptured = 0;  // input: device frames produced while started
    uint64_t overrunFrames = 0;   // input: frames lost because no buffer was queued
};

// Adds one input and one output device of that name. Returns 1, or 0 when the
// name is already taken or the configuration is unusable.
int VirtualWaveAdd(const VirtualWaveConfig& config);
// Removes every virtual device that is not open; 1 when all went.
int VirtualWaveClear();
// Parses a VELMORA_VIRTUAL_AUDIO value; 0 on a bad setting.
int VirtualWaveParse(const char* text, VirtualWaveConfig* config);

// Simulated clock: moves it by ms and returns once every open simulated
// stream has processed its frames up to the new time.
void VirtualWaveAdvanceMs(uint32_t ms);
uint64_t VirtualWaveNowMs();

int VirtualWaveGetStats(const char* name, int output, VirtualWaveStats* stats);
// Copies played samples [from, from + max) of the last output stream of that
// device (interleaved int16); returns how many were copied.
size_t VirtualWaveReadSink(const char* name, size_t from, int16_t* dst, size_t max);
