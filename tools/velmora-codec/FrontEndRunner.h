#pragma once
// Drives the Layer III encoder front end directly, for what the codec object
// never asks of it: a preset and a coded rate other than the input's. The
// front end then picks its engine by its own rule.
#include <cstdint>
#include <string>
#include <vector>

struct FrontEndRun {
    int inputRate = 0;
    int channels = 0;       // of the input; coded as many
    int codedRate = 0;      // 0: the input rate
    int bitRate = 0;        // bit/s, all channels
    int preset = 0;         // 0, 1 or 2
    bool jointStereo = false;  // allows intensity stereo, as the codec does for its joint mode
};

// The engine the front end chose and what it reported, for the user.
struct FrontEndReport {
    const char* engine = "";
    int delay = 0;
    int paddingPeriod = 0;
    int paddingBytes = 0;
};

bool RunFrontEnd(const FrontEndRun& run, const std::vector<int16_t>& pcm, std::vector<uint8_t>* coded,
                 FrontEndReport* report, std::string* error);
