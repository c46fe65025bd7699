#include "ui/pages/PhonebookPageLogic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/MainWindowMessages.h"
#include "common/Phonebook.h"
#include "common/Translator.h"
#include "tests/support/TempDir.h"
#include "ui/pages/ListSearch.h"

namespace {

struct FakePageView : CPhonebookPageView {
    std::vector<std::string> items;  // top first
    int selected = -1;
    std::map<PageControl, bool> enabled;
    bool connectedFace = false;
    SelectionTexts selection;
    std::string connectionName;
    ConnectionLines lines;
    bool meterActive = false;
    std::string devices;
    std::vector<std::pair<UINT, WPARAM>> sent;
    std::vector<std::string> errors;
    int dialogRuns = 0;
    bool dialogOk = true;
    PhonebookEntry dialogResult;
    bool confirm = true;

    void DeleteAllItems() override {
        items.clear();
        selected = -1;
    }
    void InsertItemAtTop(const char* name, int) override {
        items.insert(items.begin(), name);
        if (selected >= 0) ++selected;
    }
    const char* GetSelectionMarkText() override { return selected < 0 ? nullptr : items[selected].c_str(); }
    bool SelectListItem(const std::string& text, bool prefix) override {
        const int i = FindListName(items, text, prefix);
        if (i >= 0) selected = i;
        return i >= 0;
    }
    void EnableControl(PageControl c, bool on) override { enabled[c] = on; }
    void ShowConnectFace(bool connected) override { connectedFace = connected; }
    void ShowSelection(const SelectionTexts& t) override { selection = t; }
    void ShowConnectionName(const std::string& t) override { connectionName = t; }
    void ShowConnectionLines(const ConnectionLines& l) override { lines = l; }
    void ShowReceiveFormat(const std::string&) override {}
    void ShowTransmitFormat(const std::string&) override {}
    void ShowIndicators(int, int) override {}
    void SetMeterActive(bool on) override { meterActive = on; }
    void ShowDeviceNames(const std::string& in, const std::string& out) override { devices = in + "|" + out; }
    void SendToMain(UINT m, WPARAM w) override { sent.emplace_back(m, w); }
    bool RunDestinationDialog(const PhonebookEntry* entry, PhonebookEntry& out) override {
        ++dialogRuns;
        out = dialogResult;
        if (entry && !dialogResult.name[0]) out = *entry;
        return dialogOk;
    }
    bool RunDeviceDialog(int) override { return dialogOk; }
    bool Confirm(const std::string&) override { return confirm; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
};

PhonebookEntry Entry(const char* name, int kind) {
    PhonebookEntry e;
    std::strncpy(e.name, name, sizeof(e.name) - 1);
    e.connection.kind = kind;
    e.format.codingType = CODING_MPEG_L2;
    e.format.bitRate = 128000;
    e.format.sampleRate = 48000;
    e.format.deviceMode = DEVICEMODE_STEREO;
    return e;
}

struct PhonebookPageLogicTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_phonebook.Init(m_file.c_str());
        PhonebookEntry studio = Entry("Studio Berlin", TRANSPORT_TCP);
        std::strcpy(studio.connection.address, "10.0.0.7");
        studio.connection.port = 5003;
        m_phonebook.AddEntry(studio);
        m_phonebook.AddEntry(Entry("studio Paris", TRANSPORT_TCP));
        m_phonebook.AddEntry(Entry("London", TRANSPORT_TCP));
        m_phonebook.AddEntry(Entry("Isdn one", TRANSPORT_ISDN));
    }
    void Start(CPhonebookPageLogic& page, bool devices = true) {
        page.SetPhonebook(&m_phonebook);
        page.SetAvailableTransports(0xB0);
        page.Start();
        if (devices) {
            page.SetInputDeviceName("in");
            page.SetOutputDeviceName("out");
        }
    }
    CTempDir m_dir{"pages"};
    std::string m_file = m_dir.File("Test.Pb");
    CSettings m_settings{m_dir.File("Velmora.Ini")};
    CTranslator m_translator;
    CPhonebook m_phonebook;
    FakePageView m_view;
    CPhonebookPageLogic m_page{TRANSPORT_TCP, m_view, m_translator, m_settings};
};

TEST(ListSearchTest, PrefixIgnoresCaseExactDoesNot) {
    const std::vector<std::string> names = {"London", "studio Paris", "Studio Berlin"};
    EXPECT_EQ(FindListName(names, "STU", true), 1);
    EXPECT_EQ(FindListName(names, "studio b", true), 2);
    EXPECT_EQ(FindListName(names, "lONDON", true), 0);
    EXPECT_EQ(FindListName(names, "Londonderry", true), -1);
    EXPECT_EQ(FindListName(names, "london", false), -1);
    EXPECT_EQ(FindListName(names, "London", false), 0);
}

TEST_F(PhonebookPageLogicTest, ListShowsItsKindAndSelectsTheSavedName) {
    m_settings.SetTCPSelection("London");
    Start(m_page);
    EXPECT_EQ(m_view.items.size(), 3u);
    ASSERT_GE(m_view.selected, 0);
    EXPECT_EQ(m_view.items[m_view.selected], "London");
    EXPECT_EQ(m_view.selection.name, "London");
    EXPECT_TRUE(m_view.enabled[PageControl::Edit]);
    EXPECT_TRUE(m_view.enabled[PageControl::Connect]);
}

TEST_F(PhonebookPageLogicTest, SearchSelectsIgnoringCaseAndRewritesTheSetting) {
    Start(m_page);
    m_page.OnSearchChanged("STUDIO p");
    EXPECT_EQ(m_view.selection.name, "studio Paris");
    EXPECT_EQ(m_settings.GetTCPSelection(), "studio Paris");
    m_page.OnSearchChanged("");  // clearing keeps the selection
    EXPECT_EQ(m_view.selection.name, "studio Paris");
}

TEST_F(PhonebookPageLogicTest, ConnectNeedsDevicesTransportAndIdle) {
    Start(m_page, false);
    m_page.OnSearchChanged("Lon");
    EXPECT_FALSE(m_view.enabled[PageControl::Connect]);
    EXPECT_EQ(m_view.devices, "No device selected!|No device selected!");
    m_page.SetInputDeviceName("Mic");
    EXPECT_FALSE(m_view.enabled[PageControl::Connect]);
    m_page.SetOutputDeviceName("Speaker");
    EXPECT_TRUE(m_view.enabled[PageControl::Connect]);
    // A failed call (17) leaves the buttons as they were.
    m_page.OnCallState(CALL_FAILED, TRANSPORT_TCP);
    m_view.enabled[PageControl::Edit] = false;
    m_page.OnSelectionChanged();
    EXPECT_FALSE(m_view.enabled[PageControl::Edit]);

    FakePageView view;
    CPhonebookPageLogic page(TRANSPORT_TCP, view, m_translator, m_settings);
    page.SetPhonebook(&m_phonebook);
    page.SetAvailableTransports(TRANSPORT_ISDN);
    page.Start();
    page.SetInputDeviceName("in");
    page.SetOutputDeviceName("out");
    page.OnSearchChanged("L");
    EXPECT_FALSE(view.enabled[PageControl::Connect]);
    EXPECT_EQ(view.lines.first, "Network is not available");
    EXPECT_EQ(view.lines.second, "");
}

TEST_F(PhonebookPageLogicTest, ConnectStopFollowsTheCallState) {
    Start(m_page);
    m_page.OnSearchChanged("Studio B");
    m_page.OnConnectPressed();
    EXPECT_FALSE(m_view.enabled[PageControl::Connect]);
    ASSERT_EQ(m_view.sent.size(), 1u);
    EXPECT_EQ(m_view.sent[0].first, WM_CONNECT_REQUEST);
    EXPECT_EQ(m_view.connectionName, "Name: Studio Berlin");
    EXPECT_EQ(m_view.lines.first, "Addr: 10.0.0.7");
    EXPECT_EQ(m_view.lines.second, "Port: 5003");

    m_page.OnCallState(CALL_CONNECTED, TRANSPORT_TCP);
    EXPECT_TRUE(m_view.connectedFace);
    EXPECT_TRUE(m_view.meterActive);
    EXPECT_TRUE(m_view.enabled[PageControl::Connect]);
    for (PageControl c : {PageControl::Add, PageControl::Edit, PageControl::Copy, PageControl::Delete,
                          PageControl::Search, PageControl::List, PageControl::SelectInput})
        EXPECT_FALSE(m_view.enabled[c]);
    m_page.OnConnectPressed();
    EXPECT_EQ(m_view.sent.back().first, WM_STOP_REQUEST);

    m_page.OnCallState(CALL_IDLE, TRANSPORT_TCP);
    EXPECT_FALSE(m_view.connectedFace);
    EXPECT_FALSE(m_view.meterActive);
    EXPECT_EQ(m_view.connectionName, "");
    EXPECT_EQ(m_view.lines.first, "Addr: ");
    EXPECT_TRUE(m_view.enabled[PageControl::Connect]);  // the selection is back
    // Another page's call shows the idle face here.
    m_page.OnCallState(CALL_CONNECTED, TRANSPORT_ISDN);
    EXPECT_FALSE(m_view.connectedFace);
}

TEST_F(PhonebookPageLogicTest, ConnectWithoutSelectionStaysDisabled) {
    Start(m_page);
    m_view.selected = -1;
    m_page.OnConnectPressed();
    EXPECT_FALSE(m_view.enabled[PageControl::Connect]);
    EXPECT_TRUE(m_view.sent.empty());
}

TEST_F(PhonebookPageLogicTest, AddEditCopyDeleteReachTheFileAsTheyShould) {
    Start(m_page);
    m_view.dialogResult = Entry("New York", TRANSPORT_TCP);
    m_page.OnAdd();
    EXPECT_EQ(m_view.items.size(), 4u);
    EXPECT_EQ(m_view.selection.name, "New York");
    {
        CPhonebook saved;
        saved.Init(m_file.c_str());
        ASSERT_TRUE(saved.Load(true));
        EXPECT_NE(saved.FindEntry("New York", TRANSPORT_TCP), nullptr);
    }
    // Edit writes over the same record.
    PhonebookEntry edited = Entry("New York 2", TRANSPORT_TCP);
    m_view.dialogResult = edited;
    m_page.OnEdit();
    EXPECT_EQ(m_phonebook.FindEntry("New York", TRANSPORT_TCP), nullptr);
    EXPECT_NE(m_phonebook.FindEntry("New York 2", TRANSPORT_TCP), nullptr);
    EXPECT_EQ(m_view.selection.name, "New York 2");
    m_page.OnCopy();
    EXPECT_EQ(m_view.items.size(), 5u);
    // Delete leaves the file as it is until the next save.
    const auto sizeBefore = std::filesystem::file_size(m_file);
    m_page.OnSearchChanged("London");
    m_page.OnDelete();
    EXPECT_EQ(m_view.items.size(), 4u);
    EXPECT_EQ(std::filesystem::file_size(m_file), sizeBefore);
    // A cancelled dialog stores nothing.
    m_view.dialogOk = false;
    m_page.OnAdd();
    EXPECT_EQ(m_view.items.size(), 4u);
}

TEST_F(PhonebookPageLogicTest, MissingAutoRedialDestinationOpensTheEditor) {
    PhonebookEntry e = Entry("Redial", TRANSPORT_TCP);
    e.autoReconnect = 1;
    e.reconnectKind = TRANSPORT_TCP;
    std::strcpy(e.reconnectName, "Nowhere");
    m_phonebook.AddEntry(e);
    Start(m_page);
    m_view.dialogOk = false;
    const int runs = m_view.dialogRuns;
    m_page.OnSearchChanged("Redial");
    ASSERT_EQ(m_view.errors.size(), 1u);
    EXPECT_NE(m_view.errors[0].find("does not exist.\n\nThe edit dialog"), std::string::npos);
    EXPECT_EQ(m_view.dialogRuns, runs + 1);
    // Pointing it at an existing entry silences it.
    m_phonebook.FindEntry("Redial", TRANSPORT_TCP)->reconnectKind = TRANSPORT_ISDN;
    std::strcpy(m_phonebook.FindEntry("Redial", TRANSPORT_TCP)->reconnectName, "Isdn one");
    m_page.OnSearchChanged("Redial");
    EXPECT_EQ(m_view.errors.size(), 1u);
}

TEST_F(PhonebookPageLogicTest, SelectionPanelTexts) {
    PhonebookEntry net = Entry("Net", TRANSPORT_TCP);
    std::strcpy(net.connection.address, "host");
    net.connection.port = 6000;
    net.connection.connectionType = CONNTYPE_3;
    net.connection.bufferingMode = BUFMODE_FIXED;
    net.connection.bufferMs = 1500;
    net.autoReconnect = 1;
    SelectionTexts t = SelectionTextsOf(m_translator, TRANSPORT_TCP, net);
    EXPECT_EQ(t.second, "6000 - Type 3, 1.5s");
    EXPECT_EQ(t.autoReconnect, "Auto");
    EXPECT_EQ(t.icon, 0);
    EXPECT_FALSE(t.format.empty());

    PhonebookEntry mc = Entry("Group", TRANSPORT_MULTICAST);
    mc.connection.port = 5005;
    mc.connection.flag = 1;
    mc.connection.hops = 1;
    t = SelectionTextsOf(m_translator, TRANSPORT_MULTICAST, mc);
    EXPECT_EQ(t.second, "5005 - Max 1 router");
    EXPECT_EQ(t.icon, 1);
    EXPECT_EQ(t.direction, "Transmit");
    EXPECT_EQ(t.activity, "Transmitting");
    mc.connection.hops = 5;
    EXPECT_EQ(SelectionTextsOf(m_translator, TRANSPORT_MULTICAST, mc).second, "5005 - Max 5 routers");
    mc.connection.flag = 0;
    mc.connection.connectionType = CONNTYPE_3;
    mc.connection.bufferingMode = BUFMODE_FIXED;
    t = SelectionTextsOf(m_translator, TRANSPORT_MULTICAST, mc);
    EXPECT_EQ(t.second, "5005 - ");  // no fixed buffer for a receiver
    EXPECT_EQ(t.format, "");
    EXPECT_EQ(t.activity, "Receiving");

    PhonebookEntry isdn = Entry("Line", TRANSPORT_ISDN);
    std::strcpy(isdn.connection.isdn.number1, "111");
    std::strcpy(isdn.connection.isdn.number2, "222");
    isdn.format.bitRate = 64000;
    EXPECT_EQ(SelectionTextsOf(m_translator, TRANSPORT_ISDN, isdn).second, "");
    isdn.format.bitRate = 128000;
    EXPECT_EQ(SelectionTextsOf(m_translator, TRANSPORT_ISDN, isdn).second, "222");
}

TEST_F(PhonebookPageLogicTest, IsdnConnectEntryDialsOneNumberOnOneChannel) {
    PhonebookEntry* stored = m_phonebook.FindEntry("Isdn one", TRANSPORT_ISDN);
    std::strcpy(stored->connection.isdn.number1, "111");
    std::strcpy(stored->connection.isdn.number2, "222");
    stored->format.bitRate = 64000;
    CPhonebookPageLogic page(TRANSPORT_ISDN, m_view, m_translator, m_settings);
    Start(page);
    page.OnSearchChanged("isdn");
    PhonebookEntry out;
    ASSERT_TRUE(page.GetConnectEntry(out));
    EXPECT_STREQ(out.connection.isdn.number2, "");
    EXPECT_STREQ(stored->connection.isdn.number2, "222");
    EXPECT_EQ(m_view.lines.first, "Line 1: ");
}

TEST_F(PhonebookPageLogicTest, MiniIsdnQuickButtons) {
    CPhonebookPageLogic page(TRANSPORT_ISDN, m_view, m_translator, m_settings);
    Start(page);
    page.OnQuickButton(2026, "1", "2");
    EXPECT_TRUE(m_view.sent.empty());  // only in MiniISDN mode
    page.SetMiniIsdn(true);
    page.OnQuickButton(2026, "1", "2");
    ASSERT_EQ(m_view.sent.size(), 1u);
    PhonebookEntry out;
    ASSERT_TRUE(page.GetConnectEntry(out));
    EXPECT_EQ(out.connection.kind, TRANSPORT_ISDN);
    EXPECT_EQ(out.format.codingType, CODING_MPEG_L2);
    EXPECT_EQ(out.format.deviceMode, DEVICEMODE_JOINT_STEREO);
    EXPECT_STREQ(out.connection.isdn.number2, "2");
    m_settings.SetISDNG711Type(CODING_G711_ULAW);
    page.OnQuickButton(2024, "0301", "");
    ASSERT_TRUE(page.GetConnectEntry(out));
    EXPECT_EQ(out.format.codingType, CODING_G711_ULAW);
    EXPECT_EQ(out.format.sampleRate, 8000);
    EXPECT_STREQ(out.connection.isdn.number2, "");
    page.OnQuickButton(2023, "", "");
    EXPECT_EQ(m_view.sent.back().first, WM_STOP_REQUEST);
}

}  // namespace
