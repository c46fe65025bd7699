#pragma once
// The ASIO driver interface the program drives, on Linux. Drivers are
// in-process classes created by class id (platform/Com.h); two are built in:
//  - "JACK" joins the JACK server named by JACK_DEFAULT_SERVER (else the
//    default one); its process callback is the buffer switch, at the
//    server's rate and period, and it never starts a server itself;
//  - virtual drivers (VirtualAsio.h), whose own thread calls the buffer
//    switch on a clocked period, for tests and machines without a server.
// AsioInstallDrivers lists them under "software\asio" of the registry
// stand-in, as a driver's installer does on Windows.
//
// Threads: every driver method on one application thread at a time; the
// callbacks run on the driver's own thread and must not block or allocate.
#include <cstdint>

#include "platform/WinTypes.h"

using ASIOError = long;
using ASIOBool = long;
using ASIOSampleRate = double;
using ASIOSampleType = long;

constexpr ASIOBool ASIOFalse = 0;
constexpr ASIOBool ASIOTrue = 1;

constexpr ASIOError ASE_OK = 0;
constexpr ASIOError ASE_SUCCESS = 0x3f4847a0;
constexpr ASIOError ASE_NotPresent = -1000;
constexpr ASIOError ASE_HWMalfunction = -999;
constexpr ASIOError ASE_InvalidParameter = -998;
constexpr ASIOError ASE_InvalidMode = -997;
constexpr ASIOError ASE_SPNotAdvancing = -996;
constexpr ASIOError ASE_NoClock = -995;
constexpr ASIOError ASE_NoMemory = -994;

constexpr ASIOSampleType ASIOSTInt16LSB = 16;
constexpr ASIOSampleType ASIOSTInt32LSB = 18;

// asioMessage selectors.
constexpr long kAsioSelectorSupported = 1;
constexpr long kAsioEngineVersion = 2;
constexpr long kAsioResetRequest = 3;
constexpr long kAsioBufferSizeChange = 4;
constexpr long kAsioResyncRequest = 5;
constexpr long kAsioLatenciesChanged = 6;
constexpr long kAsioSupportsTimeInfo = 7;
constexpr long kAsioSupportsTimeCode = 8;

struct ASIOChannelInfo {
    long channel = 0;
    ASIOBool isInput = ASIOFalse;
    ASIOBool isActive = ASIOFalse;
    long channelGroup = 0;
    ASIOSampleType type = 0;
    char name[32] = {};
};

struct ASIOBufferInfo {
    ASIOBool isInput = ASIOFalse;
    long channelNum = 0;
    void* buffers[2] = {};  // filled by createBuffers: the two halves
};

struct ASIOTime {
    double samplePosition = 0;
    double systemTimeNs = 0;
    ASIOSampleRate sampleRate = 0;
    unsigned long flags = 0;
};

struct ASIOCallbacks {
    void (*bufferSwitch)(long doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate rate);
    long (*asioMessage)(long selector, long value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);
};

// The driver's methods in their slot order.
class IAsioDriver {
public:
    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0;  // up to 32 bytes
    virtual long getDriverVersion() = 0;
    virtual void getErrorMessage(char* text) = 0;  // up to 124 bytes
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(long* numInputs, long* numOutputs) = 0;
    virtual ASIOError getLatencies(long* inputLatency, long* outputLatency) = 0;
    virtual ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate rate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* rate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate rate) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                    const ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError outputReady() = 0;
    // Stops, disposes and frees the driver; the object is gone afterwards.
    virtual unsigned long Release() = 0;

protected:
    virtual ~IAsioDriver() = default;
};

// Lists the built-in drivers in the registry stand-in ("software\asio\<name>"
// with "clsid" and "description"; the class id under HKEY_CLASSES_ROOT with
// its "InprocServer32" path). JACK always, each virtual driver while it
// exists. Returns the number listed.
int AsioInstallDrivers();
