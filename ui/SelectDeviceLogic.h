#pragma once
// The device dialog: one sorted list of every usable input (or of the
// current interface's outputs), the entry of the stored choice selected,
// and OK storing the choice in the interface's keys. The entry text is the
// record of a choice: "<interface>\t<a>/<b>\t<name>". Plain logic under
// CSelectDeviceDlg.
//
// Threads: GUI thread.
#include <string>
#include <vector>

class CDeviceSource;
class CSettings;

struct DeviceEntry {
    char kind = 0;    // 'A' ASIO, 'W' WAVE, 'C' endpoint
    int first = 0;    // driver, WAVE device or endpoint index
    int second = 0;   // first channel of the pair, or mixer line index
    int lineId = -1;  // WAVE input line: its id
    std::string text;
};

class CSelectDeviceLogic {
public:
    enum Direction { kOutput = 0, kInput = 1 };

    CSelectDeviceLogic(CDeviceSource& source, const CSettings& settings) : m_source(source), m_settings(settings) {}

    void SetDirection(int direction) { m_direction = direction == kInput ? kInput : kOutput; }
    int Direction() const { return m_direction; }
    // Lists the devices for the direction and selects the stored choice.
    void Fill();

    const std::vector<DeviceEntry>& Entries() const { return m_entries; }
    int Selection() const { return m_selection; }  // -1 without one
    void Select(int index);
    // OK and a double click: false (nothing stored) without a usable selection.
    bool Store() const;

    bool PropertiesEnabled() const;
    // Why Properties is disabled for the selected entry; empty when it is not.
    std::string PropertiesHint() const;
    // The driver's control panel of a selected ASIO entry; the list is refilled after it.
    bool ShowProperties();

    // Entry texts, and reading the two numbers back from one.
    static std::string FormatAsio(int driver, int channel, const std::string& driverName,
                                  const std::string& channelName);
    static std::string FormatWaveLine(int device, int line, const std::string& deviceName,
                                      const std::string& lineName);
    static std::string FormatWave(int device, const std::string& deviceName);
    static std::string FormatEndpoint(int endpoint, const std::string& name);
    // False when the text has no interface letter or no numbers after its tab.
    static bool Parse(const std::string& text, DeviceEntry& entry);

private:
    void AddWave(int interfaceKind);
    void AddEndpoints(int interfaceKind);
    void AddAsio(int interfaceKind, bool onlyStoredDriver);
    void Add(DeviceEntry entry, bool chosen);

    CDeviceSource& m_source;
    const CSettings& m_settings;
    int m_direction = kInput;
    std::vector<DeviceEntry> m_entries;
    int m_selection = -1;
    bool m_hasAsio = false;
    std::string m_chosen;  // the text of the stored choice's entry
};
