#pragma once
// Virtual ASIO drivers: a thread of the driver's own calls the buffer switch
// once per period of a clock running at the rate times (1 + rate error),
// real or simulated (VirtualWaveAdvanceMs moves the simulated one). Every
// input plays a tone; what the first two active outputs play is kept.
//
// A user gets one only on purpose: VELMORA_VIRTUAL_ASIO names it, with
// optional settings after commas (as VELMORA_VIRTUAL_AUDIO):
//   VELMORA_VIRTUAL_ASIO="Studio Asio,rate_error=0.5,tone=1000,level=0.25,
//                         type=16,buffer=256,clock=sim"
// Application side only.
#include <cstddef>
#include <cstdint>
#include <string>

struct VirtualAsioConfig {
    std::string name = "Velmora Virtual ASIO";
    double rateErrorPercent = 0.0;
    bool simulatedClock = false;
    double sampleRate = 48000.0;  // the only rate it runs at
    long minSize = 32, maxSize = 2048, preferredSize = 192;  // buffer limits in frames
    long sampleType = 18;  // 16 (int16) or 18 (int32)
    int inputs = 2, outputs = 2;
    double toneHz = 1000.0;
    double toneLevel = 0.5;  // peak, fraction of full scale
    int sinkSeconds = 30;
};

struct VirtualAsioStats {
    uint64_t switches = 0;      // buffer switches since the last start
    uint64_t framesPlayed = 0;  // frames kept in the sink
    long bufferSize = 0;        // frames per switch of the running buffers
};

int VirtualAsioAdd(const VirtualAsioConfig& config);  // 0 when the name is taken or unusable
int VirtualAsioClear();                               // 1 when no removed driver was in use
int VirtualAsioParse(const char* text, VirtualAsioConfig* config);
int VirtualAsioGetStats(const char* name, VirtualAsioStats* stats);
// Played frames [from, from + max/2) of the first two active outputs, as
// interleaved int16 (int32 samples by their upper 16 bits).
size_t VirtualAsioReadSink(const char* name, size_t from, int16_t* dst, size_t max);
