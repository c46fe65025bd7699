#pragma once
// The devices of this machine for the device dialog: WAVE devices on ALSA
// with their mixers, endpoints of the PulseAudio server and the ASIO
// drivers (JACK and the virtual ones), each opened only to be listed.
//
// Threads: the GUI thread that runs the dialog.
#include <memory>

#include "ui/DeviceSource.h"

class CAsioDevice;

class CSystemDeviceSource : public CDeviceSource {
public:
    CSystemDeviceSource();
    ~CSystemDeviceSource() override;

    std::vector<DeviceName> WaveDevices(int direction) override;
    std::vector<MixerLineName> WaveInputLines(int device) override;
    std::vector<DeviceName> Endpoints(int direction) override;
    std::optional<std::vector<DeviceName>> AsioDrivers() override;
    std::optional<std::vector<std::string>> AsioChannels(int driver, int direction) override;
    bool AsioHasControlPanel(int driver) override;
    bool ShowAsioControlPanel(int driver) override;

private:
    // Reads the driver list once; null when it cannot be read.
    CAsioDevice* Asio();

    std::unique_ptr<CAsioDevice> m_asio;
    bool m_asioRead = false;
};
