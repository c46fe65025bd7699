// The device dialog's lists on this machine's real backends: ALSA's PCMs
// (with the null plugin), a JACK server on its dummy driver, a PulseAudio
// server with a null sink, and the virtual devices. The lists must be what
// those servers report.
#include "ui/SystemDeviceSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "common/Settings.h"
#include "platform/VirtualAsio.h"
#include "platform/VirtualWave.h"
#include "support/JackServer.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "ui/SelectDeviceLogic.h"

namespace {
bool Have(const char* tools) {
    int code = -1;
    RunCommand(std::string("command -v ") + tools + " > /dev/null 2>&1", &code);
    return code == 0;
}

std::vector<std::string> Names(const std::vector<DeviceName>& list) {
    std::vector<std::string> names;
    for (const DeviceName& d : list) names.push_back(d.name);
    return names;
}

bool Contains(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

struct SystemDeviceSourceTest : ::testing::Test {
    void SetUp() override { setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1); }
    void TearDown() override {
        VirtualWaveClear();
        VirtualAsioClear();
        unsetenv("VELMORA_REGISTRY_FILE");
    }
    CTempDir m_dir{"device-source"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
};

TEST_F(SystemDeviceSourceTest, AlsaPcmsAndVirtualDevicesAreListed) {
    VirtualWaveConfig c;
    c.name = "Virtual Desk";
    ASSERT_EQ(VirtualWaveAdd(c), 1);
    CSystemDeviceSource source;
    const std::vector<std::string> outputs = Names(source.WaveDevices(0));
    const std::vector<std::string> inputs = Names(source.WaveDevices(1));
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs.front(), "Virtual Desk");  // virtual devices come first
    EXPECT_EQ(inputs.front(), "Virtual Desk");
    EXPECT_TRUE(Contains(outputs, "null")) << "ALSA's null PCM";
    if (Have("aplay")) {
        // Every listed ALSA PCM is one that ALSA itself lists.
        std::istringstream lines(RunCommand("aplay -L 2>/dev/null"));
        std::vector<std::string> alsa{"default"};
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != ' ') alsa.push_back(line);
        for (size_t i = 1; i < outputs.size(); ++i) EXPECT_TRUE(Contains(alsa, outputs[i])) << outputs[i];
    }
    // The virtual device's mixer has a recording line; its entry selects by id.
    const std::vector<MixerLineName> lines = source.WaveInputLines(0);
    m_settings.SetAudioInterface(1);
    m_settings.SetRecCard(0);
    if (!lines.empty()) m_settings.SetRecInput(lines.back().lineId);
    CSelectDeviceLogic logic(source, m_settings);
    logic.SetDirection(CSelectDeviceLogic::kInput);
    logic.Fill();
    ASSERT_GE(logic.Selection(), 0);
    EXPECT_EQ(logic.Entries()[static_cast<size_t>(logic.Selection())].text.rfind("WAVE\t0/", 0), 0u);
}

TEST_F(SystemDeviceSourceTest, JackDriverChannelsAreListedInPairs) {
    if (!Have("jackd jack_wait jack_lsp")) GTEST_SKIP() << "jackd missing (tools/setup-debian.sh installs it)";
    CJackServer jack;
    ASSERT_TRUE(jack.Start(m_dir.File("jackd.log"), 1024)) << jack.Log();
    CSystemDeviceSource source;
    const auto drivers = source.AsioDrivers();
    ASSERT_TRUE(drivers.has_value());
    int jackIndex = -1;
    for (const DeviceName& d : *drivers)
        if (d.name == "JACK") jackIndex = d.index;
    ASSERT_GE(jackIndex, 0);
    m_settings.SetAudioInterface(2);
    m_settings.SetASIOCard(jackIndex);
    m_settings.SetASIOInput(2);
    CSelectDeviceLogic logic(source, m_settings);
    logic.SetDirection(CSelectDeviceLogic::kInput);
    logic.Fill();
    std::vector<std::string> jackEntries;
    for (const DeviceEntry& e : logic.Entries())
        if (e.kind == 'A' && e.first == jackIndex) jackEntries.push_back(e.text);
    const std::string prefix = "ASIO\t" + std::to_string(jackIndex) + "/";
    EXPECT_EQ(jackEntries, (std::vector<std::string>{prefix + "0\tJACK (In 1)", prefix + "2\tJACK (In 3)",
                                                      prefix + "4\tJACK (In 5)", prefix + "6\tJACK (In 7)"}));
    ASSERT_GE(logic.Selection(), 0);
    EXPECT_EQ(logic.Entries()[static_cast<size_t>(logic.Selection())].text, prefix + "2\tJACK (In 3)");
    EXPECT_FALSE(logic.PropertiesEnabled());  // no driver window on Linux
    // Probing leaves no client behind on the server.
    EXPECT_EQ(jack.Ports().find("Velmora:"), std::string::npos) << jack.Ports();
}

TEST_F(SystemDeviceSourceTest, PulseEndpointsAreTheServersSinksAndSources) {
    if (!Have("pulseaudio pactl")) GTEST_SKIP() << "pulseaudio missing (tools/setup-debian.sh installs it)";
    CPulseServer pulse;
    ASSERT_TRUE(pulse.Start(m_dir.Path().string())) << pulse.Log();
    CSystemDeviceSource source;
    std::vector<std::string> sinks;
    std::istringstream lines(RunCommand("pactl list short sinks 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream cols(line);
        std::string index, name;
        if (cols >> index >> name) sinks.push_back(name);
    }
    EXPECT_EQ(Names(source.Endpoints(0)), sinks);
    EXPECT_EQ(Names(source.Endpoints(1)), std::vector<std::string>{CPulseServer::kMonitor});
    m_settings.SetAudioInterface(3);
    CSelectDeviceLogic logic(source, m_settings);
    logic.SetDirection(CSelectDeviceLogic::kOutput);
    logic.Fill();
    ASSERT_EQ(logic.Entries().size(), sinks.size());
    logic.Select(0);
    ASSERT_TRUE(logic.Store());
    EXPECT_EQ(m_settings.GetCoreAudioOutput(), 0);
}
}  // namespace
