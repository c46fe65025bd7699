#include "ui/SelectDeviceLogic.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/Settings.h"
#include "ui/DeviceSource.h"

namespace {
constexpr int kWave = 1, kAsio = 2, kEndpoint = 3;
}

std::string CSelectDeviceLogic::FormatAsio(int driver, int channel, const std::string& driverName,
                                           const std::string& channelName) {
    return "ASIO\t" + std::to_string(driver) + "/" + std::to_string(channel) + "\t" + driverName + " (" +
           channelName + ")";
}

std::string CSelectDeviceLogic::FormatWaveLine(int device, int line, const std::string& deviceName,
                                               const std::string& lineName) {
    return "WAVE\t" + std::to_string(device) + "/" + std::to_string(line) + "\t" + deviceName + " - " + lineName;
}

std::string CSelectDeviceLogic::FormatWave(int device, const std::string& deviceName) {
    return "WAVE\t" + std::to_string(device) + "/0\t" + deviceName;
}

std::string CSelectDeviceLogic::FormatEndpoint(int endpoint, const std::string& name) {
    return "CoreAudio\t" + std::to_string(endpoint) + "/0\t" + name + " ";
}

bool CSelectDeviceLogic::Parse(const std::string& text, DeviceEntry& entry) {
    if (text.empty() || (text[0] != 'A' && text[0] != 'W' && text[0] != 'C')) return false;
    const size_t tab = text.find('\t');
    if (tab == std::string::npos || tab + 1 >= text.size()) return false;
    const char* p = text.data() + tab + 1;
    const char* end = text.data() + text.size();
    int a = 0, b = 0;
    auto first = std::from_chars(p, end, a);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != '/') return false;
    auto second = std::from_chars(first.ptr + 1, end, b);
    if (second.ec != std::errc()) return false;
    entry.kind = text[0];
    entry.first = a;
    entry.second = b;
    return true;
}

void CSelectDeviceLogic::Fill() {
    m_entries.clear();
    m_selection = -1;
    m_chosen.clear();
    const int interfaceKind = m_settings.GetAudioInterface();
    if (m_direction == kInput) {
        AddWave(interfaceKind);
        AddEndpoints(interfaceKind);
        AddAsio(interfaceKind, false);
    } else if (interfaceKind == kWave) {
        AddWave(interfaceKind);
    } else if (interfaceKind == kAsio) {
        AddAsio(interfaceKind, true);
    } else if (interfaceKind == kEndpoint) {
        AddEndpoints(interfaceKind);
    } else {
        m_hasAsio = m_source.AsioDrivers().has_value();
    }
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const DeviceEntry& x, const DeviceEntry& y) { return x.text < y.text; });
    for (size_t i = 0; i < m_entries.size() && !m_chosen.empty(); ++i)
        if (m_entries[i].text == m_chosen) m_selection = static_cast<int>(i);
}

void CSelectDeviceLogic::Add(DeviceEntry entry, bool chosen) {
    if (chosen && m_chosen.empty()) m_chosen = entry.text;
    m_entries.push_back(std::move(entry));
}

void CSelectDeviceLogic::AddWave(int interfaceKind) {
    const bool wave = interfaceKind == kWave;
    if (m_direction == kOutput) {
        for (const DeviceName& device : m_source.WaveDevices(kOutput))
            Add({'W', device.index, 0, -1, FormatWave(device.index, device.name)},
                wave && device.index == m_settings.GetPlayCard());
        return;
    }
    const int card = m_settings.GetRecCard();
    const int input = m_settings.GetRecInput();
    for (const DeviceName& device : m_source.WaveDevices(kInput)) {
        const std::vector<MixerLineName> lines = m_source.WaveInputLines(device.index);
        if (lines.empty()) {
            Add({'W', device.index, 0, -1, FormatWave(device.index, device.name)}, wave && device.index == card);
            continue;
        }
        // The entry shows the line's place; the settings keep its id.
        for (const MixerLineName& line : lines)
            Add({'W', device.index, line.index, line.lineId,
                 FormatWaveLine(device.index, line.index, device.name, line.name)},
                wave && device.index == card && line.lineId == input);
    }
}

void CSelectDeviceLogic::AddEndpoints(int interfaceKind) {
    const int stored = m_direction == kInput ? m_settings.GetCoreAudioInput() : m_settings.GetCoreAudioOutput();
    for (const DeviceName& endpoint : m_source.Endpoints(m_direction))
        Add({'C', endpoint.index, 0, -1, FormatEndpoint(endpoint.index, endpoint.name)},
            interfaceKind == kEndpoint && endpoint.index == stored);
}

void CSelectDeviceLogic::AddAsio(int interfaceKind, bool onlyStoredDriver) {
    const auto drivers = m_source.AsioDrivers();
    m_hasAsio = drivers.has_value();
    if (!drivers) return;
    const int card = m_settings.GetASIOCard();
    const int pair = m_direction == kInput ? m_settings.GetASIOInput() : m_settings.GetASIOOutput();
    for (auto driver = drivers->rbegin(); driver != drivers->rend(); ++driver) {
        if (onlyStoredDriver && driver->index != card) continue;
        const auto channels = m_source.AsioChannels(driver->index, m_direction);
        if (!channels) continue;
        for (size_t channel = 0; channel < channels->size(); channel += 2) {
            const int c = static_cast<int>(channel);
            Add({'A', driver->index, c, -1, FormatAsio(driver->index, c, driver->name, (*channels)[channel])},
                interfaceKind == kAsio && driver->index == card && c == pair);
        }
    }
}

void CSelectDeviceLogic::Select(int index) {
    m_selection = index >= 0 && index < static_cast<int>(m_entries.size()) ? index : -1;
}

bool CSelectDeviceLogic::Store() const {
    if (m_selection < 0) return false;
    const DeviceEntry& chosen = m_entries[static_cast<size_t>(m_selection)];
    DeviceEntry entry;
    if (!Parse(chosen.text, entry)) return false;
    const CSettings& s = m_settings;
    if (m_direction == kInput) {
        switch (entry.kind) {
            case 'A':
                s.SetAudioInterface(kAsio);
                s.SetASIOCard(entry.first);
                s.SetASIOOutput(entry.second);
                s.SetASIOInput(entry.second);
                break;
            case 'C':
                s.SetAudioInterface(kEndpoint);
                s.SetCoreAudioInput(entry.first);
                break;
            default:
                s.SetAudioInterface(kWave);
                s.SetRecCard(entry.first);
                if (chosen.lineId >= 0) s.SetRecInput(chosen.lineId);
                break;
        }
        return true;
    }
    switch (entry.kind) {
        case 'A':
            s.SetAudioInterface(kAsio);
            s.SetASIOOutput(entry.second);
            break;
        case 'C':
            s.SetAudioInterface(kEndpoint);
            s.SetCoreAudioOutput(entry.first);
            break;
        default:
            s.SetAudioInterface(kWave);
            s.SetPlayCard(entry.first);
            break;
    }
    return true;
}

bool CSelectDeviceLogic::PropertiesEnabled() const {
    if (m_selection < 0) return false;
    const DeviceEntry& entry = m_entries[static_cast<size_t>(m_selection)];
    return entry.kind == 'A' && m_hasAsio && m_source.AsioHasControlPanel(entry.first);
}

std::string CSelectDeviceLogic::PropertiesHint() const {
    if (m_selection < 0 || PropertiesEnabled()) return {};
    switch (m_entries[static_cast<size_t>(m_selection)].kind) {
        case 'A': return "This ASIO driver has no settings window: connect its ports with a JACK patchbay.";
        case 'C': return "The sound server's devices are set up with the server's own tools.";
        default: return {};
    }
}

bool CSelectDeviceLogic::ShowProperties() {
    if (!PropertiesEnabled()) return false;
    const bool shown = m_source.ShowAsioControlPanel(m_entries[static_cast<size_t>(m_selection)].first);
    Fill();
    return shown;
}
