#include "ui/SelectDeviceLogic.h"

#include <gtest/gtest.h>

#include <map>

#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"
#include "ui/DeviceSource.h"

namespace {
// Two WAVE inputs (one with two selector lines, one without a mixer), one
// WAVE output, endpoints both ways and two ASIO drivers, the second of which
// does not open.
class CFakeDeviceSource : public CDeviceSource {
public:
    std::vector<DeviceName> WaveDevices(int direction) override {
        if (direction == 1) return {{0, "Desk"}, {2, "USB Mic"}};
        return {{0, "Desk Out"}};
    }
    std::vector<MixerLineName> WaveInputLines(int device) override {
        if (device == 0) return {{0, 7, "Line"}, {1, 9, "Mic"}};
        return {};
    }
    std::vector<DeviceName> Endpoints(int direction) override {
        if (direction == 1) return {{0, "Monitor of Null"}};
        return {{0, "Null Output"}, {1, "Headphones"}};
    }
    std::optional<std::vector<DeviceName>> AsioDrivers() override {
        if (!asioListed) return std::nullopt;
        return std::vector<DeviceName>{{0, "JACK"}, {1, "Broken"}};
    }
    std::optional<std::vector<std::string>> AsioChannels(int driver, int direction) override {
        if (driver != 0) return std::nullopt;
        std::vector<std::string> names;
        for (int i = 1; i <= (direction == 1 ? 8 : 4); ++i) names.push_back((direction ? "In " : "Out ") + std::to_string(i));
        return names;
    }
    bool AsioHasControlPanel(int) override { return panel; }
    bool ShowAsioControlPanel(int) override {
        ++panelsShown;
        return true;
    }
    bool asioListed = true;
    bool panel = false;
    int panelsShown = 0;
};

struct SelectDeviceLogicTest : ::testing::Test {
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const DeviceEntry& e : m_logic.Entries()) t.push_back(e.text);
        return t;
    }
    std::string Selected() const {
        return m_logic.Selection() < 0 ? "" : m_logic.Entries()[static_cast<size_t>(m_logic.Selection())].text;
    }
    void SelectText(const std::string& text) {
        for (size_t i = 0; i < m_logic.Entries().size(); ++i)
            if (m_logic.Entries()[i].text == text) m_logic.Select(static_cast<int>(i));
        ASSERT_EQ(Selected(), text);
    }

    CTempDir m_dir{"select-device"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
    CFakeDeviceSource m_source;
    CSelectDeviceLogic m_logic{m_source, m_settings};
};

TEST(SelectDeviceEntries, FormatAndParseRoundTrip) {
    struct Case {
        std::string text;
        char kind;
        int a, b;
    };
    for (const Case& c : {Case{CSelectDeviceLogic::FormatAsio(3, 6, "JACK", "In 7"), 'A', 3, 6},
                          Case{CSelectDeviceLogic::FormatWaveLine(1, 2, "Desk", "Mic"), 'W', 1, 2},
                          Case{CSelectDeviceLogic::FormatWave(12, "null"), 'W', 12, 0},
                          Case{CSelectDeviceLogic::FormatEndpoint(4, "Monitor of Null"), 'C', 4, 0}}) {
        DeviceEntry e;
        ASSERT_TRUE(CSelectDeviceLogic::Parse(c.text, e)) << c.text;
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_EQ(e.first, c.a);
        EXPECT_EQ(e.second, c.b);
    }
    EXPECT_EQ(CSelectDeviceLogic::FormatAsio(0, 2, "JACK", "In 3"), "ASIO\t0/2\tJACK (In 3)");
    EXPECT_EQ(CSelectDeviceLogic::FormatEndpoint(1, "Sink"), "CoreAudio\t1/0\tSink ");
    DeviceEntry e;
    for (const char* bad : {"", "ASIO", "ASIO\t", "XYZ\t1/2\tx", "WAVE\tx/2\ty", "WAVE\t1-2\ty", "WAVE\t1/"})
        EXPECT_FALSE(CSelectDeviceLogic::Parse(bad, e)) << bad;
}

TEST_F(SelectDeviceLogicTest, InputListHoldsEveryInterfaceSortedAndNothingChosenAtFirst) {
    m_logic.SetDirection(CSelectDeviceLogic::kInput);
    m_logic.Fill();
    const std::vector<std::string> expected = {
        "ASIO\t0/0\tJACK (In 1)",  "ASIO\t0/2\tJACK (In 3)",        "ASIO\t0/4\tJACK (In 5)",
        "ASIO\t0/6\tJACK (In 7)",  "CoreAudio\t0/0\tMonitor of Null ", "WAVE\t0/0\tDesk - Line",
        "WAVE\t0/1\tDesk - Mic",   "WAVE\t2/0\tUSB Mic"};
    EXPECT_EQ(Texts(), expected);
    EXPECT_EQ(m_logic.Selection(), -1);  // Interface 0: never chosen
    EXPECT_FALSE(m_logic.Store());
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());

    m_logic.SetDirection(CSelectDeviceLogic::kOutput);
    m_logic.Fill();
    EXPECT_TRUE(m_logic.Entries().empty());
}

TEST_F(SelectDeviceLogicTest, WaveLineIsFoundByItsIdAndStoredByItsId) {
    m_settings.SetAudioInterface(1);
    m_settings.SetRecCard(0);
    m_settings.SetRecInput(9);  // the id of line 1
    m_logic.SetDirection(CSelectDeviceLogic::kInput);
    m_logic.Fill();
    EXPECT_EQ(Selected(), "WAVE\t0/1\tDesk - Mic");
    SelectText("WAVE\t0/0\tDesk - Line");
    ASSERT_TRUE(m_logic.Store());
    EXPECT_EQ(m_settings.GetRecInput(), 7);
    EXPECT_EQ(m_settings.GetRecCard(), 0);
    // A device without lines is chosen whole and keeps the stored line.
    SelectText("WAVE\t2/0\tUSB Mic");
    ASSERT_TRUE(m_logic.Store());
    EXPECT_EQ(m_settings.GetRecCard(), 2);
    EXPECT_EQ(m_settings.GetRecInput(), 7);
    m_logic.Fill();
    EXPECT_EQ(Selected(), "WAVE\t2/0\tUSB Mic");
}

TEST_F(SelectDeviceLogicTest, AsioInputStoresOnePairForBothDirections) {
    m_logic.SetDirection(CSelectDeviceLogic::kInput);
    m_logic.Fill();
    SelectText("ASIO\t0/4\tJACK (In 5)");
    ASSERT_TRUE(m_logic.Store());
    const std::map<std::string, std::string> expected = {
        {"Audio/Interface", "2"}, {"ASIO/Card", "0"}, {"ASIO/Output", "4"}, {"ASIO/Input", "4"}};
    EXPECT_EQ(IniKeys(m_settings.GetPath()), expected);
    m_logic.Fill();
    EXPECT_EQ(Selected(), "ASIO\t0/4\tJACK (In 5)");
    // The output list now holds only that driver's pairs.
    m_logic.SetDirection(CSelectDeviceLogic::kOutput);
    m_logic.Fill();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"ASIO\t0/0\tJACK (Out 1)", "ASIO\t0/2\tJACK (Out 3)"}));
    EXPECT_EQ(m_logic.Selection(), -1);  // pair 4 does not exist on the output side
    SelectText("ASIO\t0/2\tJACK (Out 3)");
    ASSERT_TRUE(m_logic.Store());
    EXPECT_EQ(m_settings.GetASIOOutput(), 2);
    EXPECT_EQ(m_settings.GetASIOInput(), 4);
}

TEST_F(SelectDeviceLogicTest, EndpointOutputStoresOnlyItsKey) {
    m_settings.SetAudioInterface(3);
    m_settings.SetCoreAudioOutput(1);
    m_logic.SetDirection(CSelectDeviceLogic::kOutput);
    m_logic.Fill();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"CoreAudio\t0/0\tNull Output ", "CoreAudio\t1/0\tHeadphones "}));
    EXPECT_EQ(Selected(), "CoreAudio\t1/0\tHeadphones ");
    const auto before = IniKeys(m_settings.GetPath());
    SelectText("CoreAudio\t0/0\tNull Output ");
    ASSERT_TRUE(m_logic.Store());
    auto after = IniKeys(m_settings.GetPath());
    EXPECT_EQ(after["CoreAudio/Output"], "0");
    after["CoreAudio/Output"] = before.at("CoreAudio/Output");
    EXPECT_EQ(after, before);
}

TEST_F(SelectDeviceLogicTest, WaveOutputAndTheWaveInputKeys) {
    m_settings.SetAudioInterface(1);
    m_logic.SetDirection(CSelectDeviceLogic::kOutput);
    m_logic.Fill();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"WAVE\t0/0\tDesk Out"}));
    EXPECT_EQ(m_logic.Selection(), 0);
    ASSERT_TRUE(m_logic.Store());
    EXPECT_EQ(m_settings.GetPlayCard(), 0);
}

TEST_F(SelectDeviceLogicTest, PropertiesFollowOneRuleAndSayWhyNot) {
    m_logic.SetDirection(CSelectDeviceLogic::kInput);
    m_logic.Fill();
    SelectText("WAVE\t0/0\tDesk - Line");
    EXPECT_FALSE(m_logic.PropertiesEnabled());
    EXPECT_EQ(m_logic.PropertiesHint(), "");
    SelectText("CoreAudio\t0/0\tMonitor of Null ");
    EXPECT_FALSE(m_logic.PropertiesEnabled());
    EXPECT_NE(m_logic.PropertiesHint(), "");
    SelectText("ASIO\t0/2\tJACK (In 3)");
    EXPECT_FALSE(m_logic.PropertiesEnabled());
    EXPECT_NE(m_logic.PropertiesHint(), "");
    EXPECT_FALSE(m_logic.ShowProperties());
    m_source.panel = true;
    EXPECT_TRUE(m_logic.PropertiesEnabled());
    EXPECT_EQ(m_logic.PropertiesHint(), "");
    EXPECT_TRUE(m_logic.ShowProperties());
    EXPECT_EQ(m_source.panelsShown, 1);
    EXPECT_EQ(m_logic.Entries().size(), 8u);  // refilled
}

TEST_F(SelectDeviceLogicTest, WithoutTheDriverListNoAsioEntries) {
    m_source.asioListed = false;
    m_source.panel = true;
    m_settings.SetAudioInterface(2);
    m_logic.SetDirection(CSelectDeviceLogic::kInput);
    m_logic.Fill();
    EXPECT_EQ(m_logic.Entries().size(), 4u);
    m_logic.SetDirection(CSelectDeviceLogic::kOutput);
    m_logic.Fill();
    EXPECT_TRUE(m_logic.Entries().empty());
}
}  // namespace
