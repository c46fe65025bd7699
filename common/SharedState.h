#pragma once
// Process-wide values that the main window, the call engine, the connections,
// the codecs and the translator reach through one global pointer. Written
// mostly on the GUI thread during start-up; the worker writes the engine clock,
// the peer identity and the ISDN block length. Single words or records read
// only after a posted message, so no lock.
#include <atomic>
#include <cstdint>

#include "common/StationIdentity.h"

class CCallEngine;

struct SharedState {
    CCallEngine* callEngine = nullptr;
    uint32_t registryVersion = 0;
    std::atomic<int> translatorReferences{0};  // any thread's translator counts
    int sectionCount = 0;
    char languageName[260] = {};
    void* sectionTable = nullptr;
    void* languageText = nullptr;
    uint32_t startupReleaseTime = 0;
    int isdnBlockLength = 0;  // 192 or 384 once the ISDN transport opened
    int miniIsdn = 0;
    int ntPlatform = 0;
    int endpointFlag = 0;
    int traceValue = 0;
    void* mainWindow = nullptr;  // window handle of the main dialog
    void* accelerators = nullptr;
    StationIdentity peerIdentity;
    uint32_t startTime = 0;
    uint32_t engineClock = 0;
};

// Null until the application object publishes its record; tests may point it
// at a record of their own.
extern SharedState* g_sharedState;
