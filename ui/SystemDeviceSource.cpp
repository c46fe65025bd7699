#include "ui/SystemDeviceSource.h"

#include "audio/AsioDevice.h"
#include "audio/EndpointEnum.h"
#include "audio/MixerControl.h"
#include "audio/WaveDeviceInfo.h"

namespace {
constexpr int kNameBytes = 256;
}

CSystemDeviceSource::CSystemDeviceSource() = default;
CSystemDeviceSource::~CSystemDeviceSource() = default;

std::vector<DeviceName> CSystemDeviceSource::WaveDevices(int direction) {
    std::vector<DeviceName> devices;
    const CWaveDeviceInfo info(direction);
    const int count = info.GetDeviceCount();
    for (int id = 0; id < count; ++id) {
        char name[kNameBytes];
        if (!info.SupportsFormat(id) || !info.GetDeviceName(id, name, kNameBytes)) continue;
        devices.push_back({id, name});
    }
    return devices;
}

std::vector<MixerLineName> CSystemDeviceSource::WaveInputLines(int device) {
    std::vector<MixerLineName> lines;
    CMixerControl mixer;
    if (!mixer.Open(device, 1, nullptr)) return lines;
    for (int index = 0; index < mixer.GetLineCount(); ++index) {
        int lineId = -1;
        char name[40];
        if (mixer.GetLineInfo(index, &lineId, name, kMixerSelector)) lines.push_back({index, lineId, name});
    }
    return lines;
}

std::vector<DeviceName> CSystemDeviceSource::Endpoints(int direction) {
    std::vector<DeviceName> endpoints;
    const CEndpointEnum list(direction);
    const int count = list.GetCount();
    for (int index = 0; index < count; ++index) {
        char name[kNameBytes];
        if (list.GetName(index, name, kNameBytes)) endpoints.push_back({index, name});
    }
    return endpoints;
}

CAsioDevice* CSystemDeviceSource::Asio() {
    if (!m_asioRead) {
        m_asioRead = true;
        m_asio = std::make_unique<CAsioDevice>();
        if (!m_asio->EnumerateDrivers()) m_asio.reset();
    }
    return m_asio.get();
}

std::optional<std::vector<DeviceName>> CSystemDeviceSource::AsioDrivers() {
    CAsioDevice* asio = Asio();
    if (!asio) return std::nullopt;
    std::vector<DeviceName> drivers;
    for (int index = 0; index < asio->GetDriverCount(); ++index) {
        char name[kNameBytes];
        if (asio->GetDriverName(index, name, kNameBytes)) drivers.push_back({index, name});
    }
    return drivers;
}

std::optional<std::vector<std::string>> CSystemDeviceSource::AsioChannels(int driver, int direction) {
    CAsioDevice* asio = Asio();
    if (!asio) return std::nullopt;
    asio->SelectDriver(driver, 0, 0);
    if (!asio->Open(nullptr, 1)) {
        asio->Close();
        return std::nullopt;
    }
    std::vector<std::string> names;
    const int count = asio->GetChannelCount(direction);
    for (int channel = 0; channel < count; ++channel) {
        char name[kNameBytes];
        names.emplace_back(asio->GetChannelName(channel, direction, name, kNameBytes) ? name : "");
    }
    asio->Close();
    return names;
}

bool CSystemDeviceSource::AsioHasControlPanel(int driver) {
    (void)driver;
    return false;  // neither the JACK nor the virtual drivers have a window of their own
}

bool CSystemDeviceSource::ShowAsioControlPanel(int driver) {
    CAsioDevice* asio = Asio();
    if (!asio) return false;
    asio->SelectDriver(driver, 0, 0);
    if (!asio->Open(nullptr, 0)) {
        asio->Close();
        return false;
    }
    const bool shown = asio->ShowControlPanel() != 0;
    asio->Close();
    return shown;
}
