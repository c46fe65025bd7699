#pragma once
// What the device dialog lists of the three audio interfaces. The program
// reads the real devices (CSystemDeviceSource); tests give fixed lists.
//
// Threads: the GUI thread that runs the dialog.
#include <optional>
#include <string>
#include <vector>

struct DeviceName {
    int index = 0;
    std::string name;
};

struct MixerLineName {
    int index = 0;   // the line's place in the mixer's list
    int lineId = 0;  // what [Rec] Input keeps
    std::string name;
};

class CDeviceSource {
public:
    virtual ~CDeviceSource() = default;
    // WAVE devices of a direction (1 input, 0 output) that take the program's format.
    virtual std::vector<DeviceName> WaveDevices(int direction) = 0;
    // The recording source lines of a WAVE input device with a selector.
    virtual std::vector<MixerLineName> WaveInputLines(int device) = 0;
    // Endpoints of a direction whose names can be read.
    virtual std::vector<DeviceName> Endpoints(int direction) = 0;
    // The ASIO drivers; nullopt when the driver list cannot be read.
    virtual std::optional<std::vector<DeviceName>> AsioDrivers() = 0;
    // Channel names of a driver's direction; nullopt when it does not open.
    virtual std::optional<std::vector<std::string>> AsioChannels(int driver, int direction) = 0;
    // Whether a driver's own control panel exists, and showing it.
    virtual bool AsioHasControlPanel(int driver) = 0;
    virtual bool ShowAsioControlPanel(int driver) = 0;
};
