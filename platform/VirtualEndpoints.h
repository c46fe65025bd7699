#pragma once
// Virtual endpoints for the endpoint functions (Auxlet.h): a playback and a
// capture endpoint per name, whose stream clients run on a real or
// simulated clock (VirtualWaveAdvanceMs) at 48000 Hz x (1 + rate error). The
// capture endpoint plays a tone (right channel at 1.5 times its frequency);
// what the playback endpoint played is kept.
//
// A user gets them only on purpose: VELMORA_VIRTUAL_ENDPOINTS names them,
// with optional settings after commas (as VELMORA_VIRTUAL_AUDIO):
//   VELMORA_VIRTUAL_ENDPOINTS="Desk,rate_error=0.5,tone=1000,level=0.25,clock=sim"
// Application side only.
#include <cstddef>
#include <cstdint>
#include <string>

struct VirtualEndpointConfig {
    std::string name = "Velmora Virtual Endpoint";
    double rateErrorPercent = 0.0;
    bool simulatedClock = false;
    double toneHz = 1000.0;
    double toneLevel = 0.5;
    int periodMs = 5;        // transfer unit of the endpoint's own thread
    int blockTimeMs = 0;     // block time the client reports; 0 = the one asked for
    int sinkSeconds = 30;
};

struct VirtualEndpointStats {
    uint64_t framesPlayed = 0;     // playback: frames that left, silence included
    uint64_t underrunFrames = 0;   // playback: silent frames for want of data
    uint64_t framesCaptured = 0;   // capture: frames made while started
    uint64_t overrunFrames = 0;    // capture: frames lost for want of room
    float volume[2] = {1.0f, 1.0f};  // master volume of playback and capture
};

int VirtualEndpointAdd(const VirtualEndpointConfig& config);
int VirtualEndpointClear();  // 1 when no removed endpoint had a client
int VirtualEndpointParse(const char* text, VirtualEndpointConfig* config);
int VirtualEndpointGetStats(const char* name, VirtualEndpointStats* stats);
// Played samples [from, from + max) of the endpoint's last playback client.
size_t VirtualEndpointReadSink(const char* name, size_t from, int16_t* dst, size_t max);
