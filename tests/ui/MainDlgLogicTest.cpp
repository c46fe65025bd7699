#include "ui/MainDlgLogic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <map>
#include <string>
#include <vector>

#include "common/MainWindowMessages.h"
#include "common/SharedState.h"
#include "common/Translator.h"
#include "platform/MessageBoxCodes.h"
#include "ui/MainPage.h"
#include "ui/StatusTexts.h"

namespace {

struct FakeEngine : CIdleEngine {
    std::vector<std::string> calls;
    ConnectionInfo info;
    AudioFormat decoder, encoder;
    StationIdentity identity;
    int receive = -1, send = -1;
    std::string errorText;
    int errorCode = 0;
    int active = 0;
    PhonebookEntry connected;

    int Connect(const PhonebookEntry& e) override {
        connected = e;
        calls.push_back("Connect");
        return 1;
    }
    void Disconnect() override { calls.push_back("Disconnect"); }
    void ContinueWithBandwidth() override { calls.push_back("Continue"); }
    void TestBandwidthAgain() override { calls.push_back("TestAgain"); }
    void ApplyConnectionSettings() override { calls.push_back("Apply"); }
    int IsConnectionActive() override { return active; }
    void GetConnectionInfo(ConnectionInfo& out) override { out = info; }
    void GetRemoteIdentity(StationIdentity& out) override { out = identity; }
    void GetDecoderFormat(AudioFormat& out) override { out = decoder; }
    void GetEncoderFormat(AudioFormat& out) override { out = encoder; }
    void GetBandwidth(int* r, int* s) override {
        if (receive != -1) *r = receive;
        if (send != -1) *s = send;
    }
    int TakeErrorText(char* buffer, size_t size) override {
        if (errorText.empty()) return 0;
        std::snprintf(buffer, size, "%s", errorText.c_str());
        errorText.clear();
        return 1;
    }
    int TakeErrorCode(int* code) override {
        if (!errorCode) return 0;
        *code = errorCode;
        errorCode = 0;
        return 1;
    }
};

struct FakeRip : CRemoteControl {
    std::vector<std::string> calls;
    std::vector<int> states;
    ConnectionInfo requested;
    AudioFormat requestedFormat;
    std::string errorText;
    int Init(HWND, int) override { return 1; }
    void Poll() override {}
    void SendState(int s) override { states.push_back(s); }
    void SetAvailableTransports(int mask) override { transports = mask; }
    int transports = -1;
    void SetConnectionInfo(const ConnectionInfo&) override { calls.push_back("ConnectionInfo"); }
    void SetRemoteIdentity(const StationIdentity&) override { calls.push_back("RemoteIdentity"); }
    void SetEncoderFormat(const AudioFormat&) override { calls.push_back("EncoderFormat"); }
    void SetDecoderFormat(const AudioFormat&) override { calls.push_back("DecoderFormat"); }
    void SendConnectionError(int, int, const char* text) override {
        calls.push_back("ConnectionError");
        errorText = text;
    }
    void GetRequestedDestination(ConnectionInfo& out) override { out = requested; }
    void GetRequestedFormat(AudioFormat& out) override { out = requestedFormat; }
    void SendBandwidthInfo(int, int) override {}
    int PollBandwidthAnswer() override { return 0; }
    void RefuseRequest(int command, int reason) override { refused.push_back({command, reason}); }
    std::vector<std::pair<int, int>> refused;
};

struct FakePage : CMainPage {
    int kind;
    explicit FakePage(int k) : kind(k) {}
    int state = -1, rx = -1, tx = -1, shownConnection = 0, inputLevel = -1, playLevel = 1;
    std::string receiveText, sendText, remoteName;
    std::vector<int> levels;
    bool hasSelection = false;
    PhonebookEntry selected;
    int Kind() const override { return kind; }
    int transports = -1;
    void SetTransports(int mask) override { transports = mask; }
    void SetState(int s, int) override { state = s; }
    bool CopySelectedEntry(PhonebookEntry& out) override {
        if (hasSelection) out = selected;
        return hasSelection;
    }
    void ShowConnection(const ConnectionInfo&) override { ++shownConnection; }
    void ShowReceiveFormat(const std::string& t) override { receiveText = t; }
    void ShowSendFormat(const std::string& t) override { sendText = t; }
    void ShowRxIndicator(int v) override { rx = v; }
    void ShowTxIndicator(int v) override { tx = v; }
    void ShowRemoteName(const char* n) override { remoteName = n; }
    void ShowLevels(const int* l, int count) override { levels.assign(l, l + count); }
    void SetDeviceNames(const std::string&, const std::string&, int) override {}
    void SetInputLevel(int level) override { inputLevel = level; }
    void SetPlayLevel(int dB) override { playLevel = dB; }
    void RefillList() override {}
};

struct FakeView : CMainDlgView {
    std::string status, rates = "unset", cpu, position, remaining;
    std::vector<std::string> errors;
    int accept = -1, idlePriority = -1, tabs = -1, selectedKind = 0, splashCloses = 0;
    std::map<UINT_PTR, UINT> timers;
    std::vector<PhonebookEntry> phonebook;
    std::vector<ErrorKind> errorKinds;
    std::string statusAtError;
    FakePage isdn{32}, ip{16}, multicast{128};
    MainMenuState menus;
    PlayerControls player;
    bool libraryShown = true;
    BandwidthAnswer answer = kBandwidthTestAgain;
    int dialogs = 0, dialogNeeded = 0;
    void ShowStatusLine(const std::string& t) override { status = t; }
    void ShowLinkRates(const std::string& t) override { rates = t; }
    void ShowCpuLoad(const std::string& t) override { cpu = t; }
    void ShowClipTimes(const std::string& p, const std::string& r) override {
        position = p;
        remaining = r;
    }
    void ShowErrorBox(ErrorKind kind, const std::string& t) override {
        errors.push_back(t);
        errorKinds.push_back(kind);
        statusAtError = status;
    }
    void AcceptDroppedFiles(bool a) override { accept = a; }
    void SetGuiPriority(bool idle) override { idlePriority = idle; }
    void ShowMenus(const MainMenuState& m) override { menus = m; }
    void ShowPlayerControls(const PlayerControls& c) override { player = c; }
    void EnableTabs(bool e) override { tabs = e; }
    void SelectPage(int kind) override { selectedKind = kind; }
    void ShowLibraryPanel(bool shown) override { libraryShown = shown; }
    void ArmTimer(UINT_PTR id, UINT ms) override { timers[id] = ms; }
    void StopTimer(UINT_PTR id) override { timers.erase(id); }
    void CloseSplash() override { ++splashCloses; }
    CMainPage* Page(int kind) override {
        switch (kind) {
            case 32: return &isdn;
            case 16: return &ip;
            case 128: return &multicast;
            default: return nullptr;
        }
    }
    bool FindPhonebookEntry(const char* name, int kind, PhonebookEntry& out) override {
        for (const PhonebookEntry& e : phonebook) {
            if (std::strcmp(e.name, name) == 0 && (e.connection.kind & kind)) {
                out = e;
                return true;
            }
        }
        return false;
    }
    bool LibraryHasSelection() override { return clipSelected; }
    std::string SelectedClipPath() override { return std::string(); }
    void LibrarySelectNext() override { library.push_back("next"); }
    int LibraryTakeSelection() override {
        library.push_back("take");
        return 1;
    }
    int LibrarySelectEntry(int n) override {
        library.push_back("entry " + std::to_string(n));
        return 1;
    }
    int LibrarySelectPrevious() override {
        library.push_back("previous");
        return 1;
    }
    void LibraryBrowseAndImport() override { library.push_back("import"); }
    void LibraryRemoveSelected() override { library.push_back("remove"); }
    bool clipSelected = false;
    std::vector<std::string> library;
    BandwidthAnswer RunBandwidthDialog(int needed, int, int) override {
        ++dialogs;
        dialogNeeded = needed;
        return answer;
    }
};

struct MainDlgLogicTest : ::testing::Test {
    SharedState m_state;
    SharedState* m_saved = g_sharedState;
    FakeEngine m_engine;
    FakeRip m_rip;
    FakeView m_view;
    CTranslator m_translator;
    CMainDlgLogic m_logic{m_engine, m_translator, m_view};

    MainDlgLogicTest() { g_sharedState = &m_state; }
    ~MainDlgLogicTest() override { g_sharedState = m_saved; }
    void SetUp() override { m_logic.SetRemoteControl(&m_rip); }
    LRESULT Send(UINT message, WPARAM w = 0, LPARAM l = 0) {
        LRESULT r = -1;
        EXPECT_TRUE(m_logic.HandleMessage(message, w, l, r));
        return r;
    }
    static PhonebookEntry Entry(const char* name, int kind, const char* address, int bitRate = 128000) {
        PhonebookEntry e;
        std::snprintf(e.name, sizeof e.name, "%s", name);
        e.connection.kind = kind;
        std::snprintf(e.connection.address, sizeof e.connection.address, "%s", address);
        e.format.bitRate = bitRate;
        return e;
    }
    // The operator selects an entry on the page of its kind and presses Connect.
    void ConnectFromPage(const PhonebookEntry& e) {
        const int kind = e.connection.kind & 0xFFF0;
        CMainPage* page = m_view.Page(kind);
        ASSERT_NE(page, nullptr);
        static_cast<FakePage*>(page)->selected = e;
        static_cast<FakePage*>(page)->hasSelection = true;
        Send(WM_CONNECT_REQUEST, 0, kind);
    }
};

TEST_F(MainDlgLogicTest, StateChangesReachPagesServerMenusAndStatusLine) {
    EXPECT_EQ(m_logic.EngineStarted(), 0);
    Send(WM_ENGINE_STARTED);
    EXPECT_EQ(m_logic.EngineStarted(), 1);
    Send(WM_ENGINE_STATE, 16, 0);
    EXPECT_EQ(m_view.status, " Idle ");
    ConnectFromPage(Entry("Studio B", 16, "10.0.0.2"));
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Connect"}));
    EXPECT_EQ(m_logic.IdleFlag(), 0);
    Send(WM_ENGINE_STATE, 32, 16);
    EXPECT_EQ(m_view.accept, 0);
    EXPECT_EQ(m_view.tabs, 0);
    EXPECT_EQ(m_view.selectedKind, 16);
    EXPECT_EQ(m_view.ip.state, 32);
    EXPECT_EQ(m_view.isdn.state, 32);  // every page hears every state
    EXPECT_EQ(m_view.status, " Connecting (IP Network) to: 10.0.0.2");
    EXPECT_FALSE(m_view.menus.file);
    Send(WM_ENGINE_STATE, 50, 16);
    EXPECT_EQ(m_view.idlePriority, 1);
    EXPECT_EQ(m_view.status, " Connected (IP Network) to: 10.0.0.2");
    std::snprintf(m_engine.identity.stationName, sizeof m_engine.identity.stationName, "%s", "Studio B");
    std::snprintf(m_engine.identity.productName, sizeof m_engine.identity.productName, "%s", "Velmora");
    Send(WM_ENGINE_REMOTE_IDENTITY, 0, 0);
    EXPECT_EQ(m_view.status, " Connected (IP Network) to: Studio B");
    EXPECT_EQ(m_view.ip.remoteName, "");  // only an answered call names the far end on the page

    // The call placed here ends with an error: the text in a box, the code in the status line.
    m_engine.errorText = "Unable to open the audio device.";
    m_engine.errorCode = 10061;
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.accept, 1);
    EXPECT_EQ(m_view.idlePriority, 0);
    EXPECT_EQ(m_view.tabs, 1);
    EXPECT_EQ(m_view.errors, (std::vector<std::string>{"Unable to open the audio device."}));
    EXPECT_EQ(m_logic.LastError(), "10061 Connection refused");
    EXPECT_EQ(m_view.status, " Idle   (Last error: 10061 Connection refused)");
    EXPECT_EQ(m_rip.states, (std::vector<int>{16, 32, 50, 16}));
    EXPECT_EQ(m_rip.errorText, "10061 Connection refused");
    EXPECT_EQ(m_view.rates, "");
    EXPECT_TRUE(m_view.menus.file && m_view.menus.view && m_view.menus.settings && m_view.menus.help);
    EXPECT_EQ(m_logic.IdleFlag(), 1);
    // The next idle report clears the error; an answered call's errors are not shown.
    m_engine.errorText = "not ours";
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.status, " Idle ");
    EXPECT_EQ(m_view.errors.size(), 1u);
    LRESULT r;
    EXPECT_FALSE(m_logic.HandleMessage(WM_USER + 99, 0, 0, r));
}

TEST_F(MainDlgLogicTest, StatusLineByStateAndKind) {
    struct Case {
        int state, kind, sender;
        const char* expected;
    };
    const Case cases[] = {
        {16, 16, 0, " Idle "},
        {21, 16, 0, " Playing "},
        {22, 16, 0, " Paused "},
        {32, 32, 0, " Connecting (ISDN) to: 0301234"},
        {48, 16, 0, " Connected (IP Network) to: 0301234"},
        {49, 16, 0, " Checking (IP Network) to: 0301234"},
        {50, 128, 1, " Multicasting to: 0301234"},
        {58, 128, 0, " Receiving multicast from: 0301234"},
        {59, 64, 0, " Connected  Unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        m_rip.requested = ConnectionInfo();
        m_rip.requested.kind = c.kind;
        m_rip.requested.flag = c.sender;
        std::snprintf(m_rip.requested.address, sizeof m_rip.requested.address, "%s", "0301234");
        Send(WM_RIP_CONNECT);
        Send(WM_ENGINE_STATE, static_cast<WPARAM>(c.state), c.kind);
        EXPECT_EQ(m_view.status, c.expected);
        EXPECT_EQ(m_logic.StatusLine(), c.expected);
    }
    // A state without a word leaves the line as it was.
    Send(WM_ENGINE_STATE, 17, 0);
    EXPECT_EQ(m_view.status, " Connected  Unknown");
}

TEST_F(MainDlgLogicTest, RepeatedFailingCallsShowTheTrueStateBehindOneKindOfBox) {
    for (int call = 0; call < 500; ++call) {
        ConnectFromPage(Entry("Studio B", 16, "10.0.0.2"));
        Send(WM_ENGINE_STATE, 48, 16);
        Send(WM_ENGINE_STATE, 50, 16);
        m_engine.errorText = "Output device error: The audio format is not supported.";
        Send(WM_ENGINE_STATE, 16, 16);
        ASSERT_EQ(m_view.statusAtError, " Idle ");  // the window is up to date before the box
        ASSERT_EQ(m_view.ip.state, 16);
    }
    EXPECT_EQ(m_view.errors.size(), 500u);
    for (auto kind : m_view.errorKinds) ASSERT_EQ(kind, CMainDlgView::kEngineError);
    EXPECT_EQ(m_logic.CallState(), 16);
    EXPECT_EQ(m_view.accept, 1);
}

TEST_F(MainDlgLogicTest, SetupWarningStandsInTheStatusLineWhileNoCallRuns) {
    m_logic.SetSetupWarning("No sound interface chosen");
    EXPECT_EQ(m_view.status, "  (No sound interface chosen)");
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.status, " Idle   (No sound interface chosen)");
    Send(WM_ENGINE_STATE, 50, 16);
    EXPECT_EQ(m_view.status, " Connected  Unknown");
}

TEST_F(MainDlgLogicTest, FormatsGoToThePageAndTheServer) {
    m_engine.decoder.codingType = 32;
    m_engine.decoder.deviceMode = 20;
    m_engine.decoder.sampleRate = 48000;
    m_engine.decoder.bitRate = 128000;
    Send(WM_ENGINE_DECODER_FORMAT, 0, 16);
    EXPECT_EQ(m_view.ip.receiveText, "MP-L2 S 48kHz 128kbps ");
    m_engine.decoder.direction = 16;
    Send(WM_ENGINE_DECODER_FORMAT, 0, 16);
    EXPECT_EQ(m_view.ip.receiveText, "(Not in use)");
    EXPECT_TRUE(m_logic.NoReceive());
    m_engine.encoder.codingType = 1;
    m_engine.encoder.deviceMode = 10;
    m_engine.encoder.sampleRate = 32000;
    Send(WM_ENGINE_ENCODER_FORMAT, 0, 16);
    EXPECT_EQ(m_view.ip.sendText, "PCM M 32kHz ");
    m_engine.encoder.direction = 32;
    Send(WM_ENGINE_ENCODER_FORMAT, 0, 16);
    EXPECT_EQ(m_view.ip.sendText, "(Not in use)");
    Send(WM_ENGINE_TX_INDICATOR, 32, 16);
    EXPECT_EQ(m_view.ip.tx, 0);  // nothing is sent
    Send(WM_ENGINE_RX_INDICATOR, 32, 16);
    EXPECT_EQ(m_view.ip.rx, 32);
    EXPECT_EQ(m_rip.calls, (std::vector<std::string>{"DecoderFormat", "DecoderFormat", "EncoderFormat", "EncoderFormat"}));
}

TEST_F(MainDlgLogicTest, MulticastSenderHasNoReceiveSideAndAnsweredCallsNameTheFarEnd) {
    m_engine.info.kind = 128;
    m_engine.info.flag = 1;  // this station sends to the group
    Send(WM_ENGINE_INCOMING);
    EXPECT_EQ(m_view.multicast.shownConnection, 1);
    EXPECT_EQ(m_logic.CurrentEntry().connection.kind, 128);
    Send(WM_ENGINE_DECODER_FORMAT, 0, 128);
    EXPECT_EQ(m_view.multicast.receiveText, "");
    Send(WM_ENGINE_RX_INDICATOR, 32, 128);
    EXPECT_EQ(m_view.multicast.rx, -1);

    std::memset(m_engine.identity.stationName, 'A', sizeof m_engine.identity.stationName);  // unterminated
    Send(WM_ENGINE_REMOTE_IDENTITY, 0, 0);
    EXPECT_EQ(m_view.multicast.remoteName, std::string(39, 'A'));
    EXPECT_TRUE(m_view.errors.empty());
}

TEST_F(MainDlgLogicTest, FarEndWithoutFixedDelayEndsTheCallWithItsText) {
    ConnectFromPage(Entry("Old station", 16, "10.0.0.3"));
    m_engine.calls.clear();
    Send(WM_ENGINE_REMOTE_IDENTITY, 0, 0);
    EXPECT_TRUE(m_engine.calls.empty());
    Send(WM_ENGINE_REMOTE_IDENTITY, 0, ERROR_REMOTE_NO_FIXED_DELAY);
    ASSERT_EQ(m_view.errors.size(), 1u);
    EXPECT_NE(m_view.errors[0].find("fixed delay mode.\n\n- Please upgrade"), std::string::npos);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Disconnect"}));
}

TEST_F(MainDlgLogicTest, LowBandwidthDecidesByTheNeededRatePlusATenth) {
    Send(WM_ENGINE_STATE, 16, 0);
    ConnectFromPage(Entry("Studio B", 16, "10.0.0.2", 128000));
    m_engine.calls.clear();
    struct Case {
        int receive, send;
        FakeView::BandwidthAnswer answer;
        const char* expected;
    };
    const Case cases[] = {
        {-1, -1, FakeView::kBandwidthContinue, "Disconnect"},       // both unknown
        {140800, -1, FakeView::kBandwidthContinue, "Disconnect"},   // one unknown
        {140800, 150000, FakeView::kBandwidthContinue, "Continue"}, // at the limit: no question
        {140799, 150000, FakeView::kBandwidthContinue, "Continue"}, // below: the operator continues
        {140799, 150000, FakeView::kBandwidthTestAgain, "TestAgain"},
        {150000, 96000, FakeView::kBandwidthDisconnect, "Disconnect"},
    };
    int dialogs = 0;
    for (const Case& c : cases) {
        m_engine.receive = c.receive;
        m_engine.send = c.send;
        m_view.answer = c.answer;
        Send(WM_ENGINE_LOW_BANDWIDTH, 0, 16);
        ASSERT_FALSE(m_engine.calls.empty());
        EXPECT_EQ(m_engine.calls.back(), c.expected) << c.receive << " " << c.send;
        if (c.receive != -1 && c.send != -1 && (c.receive < 140800 || c.send < 140800)) ++dialogs;
    }
    EXPECT_EQ(m_view.dialogs, dialogs);
    EXPECT_EQ(m_view.dialogNeeded, 140800);
}

TEST_F(MainDlgLogicTest, PageConnectWhileConnectedHangsUpFirstAndDialsAtOnce) {
    Send(WM_ENGINE_STATE, 16, 0);
    PhonebookEntry first = Entry("Studio B", 16, "10.0.0.2");
    first.connection.kind = 0x11;  // kinds are masked before dialling
    first.format.direction = 32;   // receive only
    ConnectFromPage(first);
    EXPECT_EQ(m_engine.connected.connection.kind, 16);
    EXPECT_TRUE(m_logic.NoSend());
    EXPECT_FALSE(m_logic.NoReceive());
    EXPECT_EQ(m_view.ip.shownConnection, 1);
    m_engine.active = 1;
    ConnectFromPage(Entry("Studio C", 32, "0301234"));
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Connect", "Disconnect", "Connect"}));
    EXPECT_STREQ(m_engine.connected.name, "Studio C");
    EXPECT_EQ(m_view.timers.count(kHangUpRepeatTimer), 0u);  // no hang-up repeat for a page's connect
    // A page without a selection dials nothing.
    m_view.multicast.hasSelection = false;
    m_engine.active = 0;
    Send(WM_CONNECT_REQUEST, 0, 128);
    EXPECT_EQ(m_engine.calls.size(), 3u);
}

TEST_F(MainDlgLogicTest, CallEndingByItselfRedialsItsReconnectDestinationAfterASecond) {
    PhonebookEntry backup = Entry("Backup", 32, "0309999");
    m_view.phonebook.push_back(backup);
    Send(WM_ENGINE_STATE, 16, 0);
    PhonebookEntry main = Entry("Main line", 16, "10.0.0.2");
    main.autoReconnect = 1;
    main.reconnectKind = 32;
    std::snprintf(main.reconnectName, sizeof main.reconnectName, "%s", "Backup");
    ConnectFromPage(main);
    Send(WM_ENGINE_STATE, 50, 16);
    Send(WM_ENGINE_STATE, 16, 16);  // the line dropped
    ASSERT_EQ(m_view.timers.count(kReconnectTimer), 1u);
    EXPECT_EQ(m_view.timers[kReconnectTimer], 1000u);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Connect"}));
    EXPECT_TRUE(m_logic.HandleTimer(kReconnectTimer));
    EXPECT_EQ(m_view.timers.count(kReconnectTimer), 0u);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Connect", "Connect"}));
    EXPECT_STREQ(m_engine.connected.name, "Backup");
    EXPECT_EQ(m_engine.connected.connection.kind, 32);

    // The operator's stop clears the flag: no reconnect follows.
    ConnectFromPage(main);
    Send(WM_ENGINE_STATE, 50, 16);
    Send(WM_STOP_REQUEST, 0, 0);
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.timers.count(kReconnectTimer), 0u);
    // A reconnect destination that is gone from the phonebook dials nothing.
    m_view.phonebook.clear();
    ConnectFromPage(main);
    Send(WM_ENGINE_STATE, 16, 16);
    const size_t before = m_engine.calls.size();
    m_logic.HandleTimer(kReconnectTimer);
    EXPECT_EQ(m_engine.calls.size(), before);
}

TEST_F(MainDlgLogicTest, AutoDialRunsOnceAndNeverInMiniIsdn) {
    m_view.phonebook.push_back(Entry("Morning show", 16, "10.0.0.7"));
    m_logic.SetAutoDial(1, "Morning show", 16);
    m_logic.StartAutoDial();
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Connect"}));
    EXPECT_STREQ(m_engine.connected.connection.address, "10.0.0.7");
    EXPECT_EQ(m_logic.AutoDialFlag(), 0);
    m_logic.StartAutoDial();
    EXPECT_EQ(m_engine.calls.size(), 1u);
    m_logic.SetAutoDial(1, "Morning show", 16);
    m_logic.SetMiniIsdn(true);
    m_logic.StartAutoDial();
    EXPECT_EQ(m_engine.calls.size(), 1u);
}

TEST_F(MainDlgLogicTest, StopRequestRepeatsTheHangUpEverySecondWhileActive) {
    m_engine.active = 1;
    Send(WM_STOP_REQUEST, 0, 1);
    EXPECT_EQ(m_view.timers[kHangUpRepeatTimer], 1000u);
    EXPECT_TRUE(m_logic.HandleTimer(kHangUpRepeatTimer));
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Disconnect", "Disconnect"}));
    m_engine.active = 0;
    m_logic.HandleTimer(kHangUpRepeatTimer);  // the line is down: the repeat ends
    EXPECT_EQ(m_view.timers.count(kHangUpRepeatTimer), 0u);
    EXPECT_EQ(m_engine.calls.size(), 2u);
    // Without a connection a stop request kills the repeat and still hangs up.
    m_view.timers[kHangUpRepeatTimer] = 1000;
    Send(WM_STOP_REQUEST, 0, 1);
    EXPECT_EQ(m_view.timers.count(kHangUpRepeatTimer), 0u);
}

// The handler's own rules hold for the remote control's requests: a connect
// while connected hangs up with the 1 s repeat armed, whatever the state.
TEST_F(MainDlgLogicTest, RemoteConnectWhileConnectedHangsUpWithRepeatThenDials) {
    m_rip.requested.kind = 32;
    std::snprintf(m_rip.requested.isdn.number1, sizeof m_rip.requested.isdn.number1, "%s", "0301234");
    m_rip.requestedFormat.direction = 32;
    Send(WM_ENGINE_STATE, 50, 32);
    m_engine.active = 1;
    Send(WM_RIP_CONNECT);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Disconnect", "Connect"}));
    EXPECT_EQ(m_view.timers.count(kHangUpRepeatTimer), 1u);
    EXPECT_STREQ(m_engine.connected.connection.isdn.number1, "0301234");
    EXPECT_EQ(m_engine.connected.index, 0);
    EXPECT_TRUE(m_logic.NoSend());
    EXPECT_EQ(m_logic.IdleFlag(), 0);
    EXPECT_EQ(m_view.isdn.shownConnection, 1);
    Send(WM_RIP_DISCONNECT);
    EXPECT_EQ(m_engine.calls.back(), "Disconnect");
    Send(WM_RIP_ANSWER_SETTINGS);
    EXPECT_EQ(m_engine.calls.back(), "Apply");
    // Without a server a connect request does nothing.
    m_logic.SetRemoteControl(nullptr);
    m_engine.calls.clear();
    Send(WM_RIP_CONNECT);
    EXPECT_TRUE(m_engine.calls.empty());
}

// ISDN gone since start-up (a rebuild whose ISDN open failed): the engine
// refuses the request, and the control application and the status line say so.
TEST_F(MainDlgLogicTest, RemoteConnectTheEngineRefusesIsAnsweredAndShown) {
    struct RefusingEngine : FakeEngine {
        int Connect(const PhonebookEntry& e) override {
            FakeEngine::Connect(e);
            return 0;
        }
        int GetAvailableTransports() override { return 0x10; }
    };
    RefusingEngine engine;
    CMainDlgLogic logic(engine, m_translator, m_view);
    logic.SetRemoteControl(&m_rip);
    LRESULT r = 0;
    ASSERT_TRUE(logic.HandleMessage(WM_ENGINE_STATE, 16, 0, r));
    m_rip.requested.kind = 32;
    std::snprintf(m_rip.requested.isdn.number1, sizeof m_rip.requested.isdn.number1, "%s", "3412");
    ASSERT_TRUE(logic.HandleMessage(WM_RIP_CONNECT, 0, 0, r));
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"Connect"}));
    EXPECT_EQ(m_rip.refused, (std::vector<std::pair<int, int>>{{0x100, 16}}));
    EXPECT_EQ(m_rip.transports, 0x10);
    EXPECT_EQ(m_view.isdn.transports, 0x10) << "the page shows ISDN as not available";
    EXPECT_EQ(m_view.isdn.shownConnection, 0);
    EXPECT_EQ(m_view.status, " Idle   (Last error: ISDN is not available!)");
    // A transport that is there but refuses the destination: reason 32.
    m_rip.requested.kind = 0x11;
    ASSERT_TRUE(logic.HandleMessage(WM_RIP_CONNECT, 0, 0, r));
    EXPECT_EQ(m_rip.refused.back(), (std::pair<int, int>{0x100, 32}));
}

TEST_F(MainDlgLogicTest, LevelsGoToThePageOfTheCallAndClipLevelsToAll) {
    struct LevelEngine : FakeEngine {
        void GetLevels(int side, int* l, int* r) override {
            *l = side ? 300 : 100;
            *r = side ? 400 : 200;
        }
        void GetClipPosition(int* played, int* length) override {
            *played = 61250;
            *length = 90000;
        }
    };
    LevelEngine engine;
    FakeView view;
    CMainDlgLogic logic(engine, m_translator, view);
    LRESULT r;
    logic.HandleMessage(WM_ENGINE_STATE, 16, 0, r);
    PhonebookEntry e = Entry("Group", 128, "239.1.1.1");
    e.connection.flag = 1;  // sender
    view.multicast.selected = e;
    view.multicast.hasSelection = true;
    logic.HandleMessage(WM_CONNECT_REQUEST, 0, 128, r);
    logic.HandleMessage(WM_ENGINE_STATE, 50, 128, r);
    EXPECT_TRUE(logic.HandleTimer(kLevelTimer));
    EXPECT_EQ(view.multicast.levels, (std::vector<int>{300, 400}));  // a sender shows what it sends
    EXPECT_TRUE(view.ip.levels.empty());
    EXPECT_EQ(view.timers[kLevelTimer], 30u);  // re-armed after its work
    // A clip without a call: its levels are the sending side's, on every page.
    logic.HandleMessage(WM_ENGINE_STATE, 21, 0, r);
    logic.HandleTimer(kLevelTimer);
    EXPECT_EQ(view.ip.levels, (std::vector<int>{0, 0, 100, 200}));
    EXPECT_EQ(view.isdn.levels, (std::vector<int>{0, 0, 100, 200}));
    EXPECT_EQ(view.multicast.levels, (std::vector<int>{100, 200}));
    EXPECT_EQ(view.position, "1:01.3");
    EXPECT_EQ(view.remaining, "0:28.8");
}

TEST_F(MainDlgLogicTest, StatusTickShowsCpuRatesAndClosesTheSplash) {
    int cpu = -1;
    m_logic.SetCpuSampler([&] { return cpu; });
    m_logic.HandleTimer(kStatusTimer);
    EXPECT_EQ(m_view.cpu, "CPU: 0%");
    EXPECT_EQ(m_view.splashCloses, 1);
    EXPECT_EQ(m_view.rates, "");  // no network call
    cpu = 37;
    Send(WM_ENGINE_STATE, 16, 0);
    ConnectFromPage(Entry("Studio B", 16, "10.0.0.2"));
    Send(WM_ENGINE_STATE, 50, 16);
    m_engine.receive = 128000;
    m_engine.send = 10000;
    m_logic.HandleTimer(kStatusTimer);
    EXPECT_EQ(m_view.cpu, "CPU: 37%");
    EXPECT_EQ(m_view.rates, "RX:128kbps TX:10000bps");
}

TEST_F(MainDlgLogicTest, ViewCommandsAndLibraryFollowTheCallState) {
    Send(WM_ENGINE_STATE, 16, 0);
    EXPECT_TRUE(m_logic.HandleCommand(MainCommand::kViewMulticast));
    EXPECT_EQ(m_view.selectedKind, 128);
    m_logic.HandleCommand(MainCommand::kShowLibrary);
    EXPECT_FALSE(m_view.libraryShown);
    EXPECT_EQ(m_view.accept, 0);
    m_logic.HandleCommand(MainCommand::kShowLibrary);
    EXPECT_TRUE(m_view.libraryShown);
    Send(WM_ENGINE_STATE, 50, 16);
    m_view.selectedKind = 0;
    m_logic.HandleCommand(MainCommand::kViewIsdn);  // not while connected
    m_logic.HandleCommand(MainCommand::kShowLibrary);
    EXPECT_EQ(m_view.selectedKind, 0);
    EXPECT_TRUE(m_view.libraryShown);
    EXPECT_FALSE(m_view.player.minimizeBox);
    Send(WM_PAGE_SHOWN, 0, 2);  // page 2 is the multicast page
    EXPECT_EQ(m_view.selectedKind, 128);
    Send(WM_SET_PLAY_LEVEL, static_cast<WPARAM>(-6), 16);
    EXPECT_EQ(m_view.isdn.playLevel, -6);
    EXPECT_EQ(m_view.ip.playLevel, 1);  // the sender already knows
    Send(WM_ENGINE_STATE, 16, 0);
    m_logic.SetMiniIsdn(true);
    m_view.selectedKind = 0;
    m_logic.HandleCommand(MainCommand::kViewNetwork);
    EXPECT_EQ(m_view.selectedKind, 0);
    m_logic.HandleCommand(MainCommand::kViewIsdn);
    EXPECT_EQ(m_view.selectedKind, 32);
}

// The operator's answer to the window's questions.
struct AnsweringWindow : CTranslatorWindow {
    int answer = IDNO;
    std::vector<std::string> asked;
    bool SetItemText(int, const char*) override { return false; }
    int AddComboString(int, const char*) override { return -1; }
    bool SetComboItemData(int, int, intptr_t) override { return false; }
    int SelectComboString(int, const char*) override { return -1; }
    bool GetComboSelection(int, std::string&) override { return false; }
    int MessageBox(const char* text, const char*, UINT) override {
        asked.emplace_back(text);
        return answer;
    }
};

TEST_F(MainDlgLogicTest, LibraryCommandsReachTheBoxWhileItIsShown) {
    AnsweringWindow window;
    m_translator.AttachWindow(&window);
    m_view.clipSelected = true;
    Send(WM_ENGINE_STATE, 16, 0);
    using namespace MainCommand;
    for (int id : {kAdd, kNext, kPrevious, kSelectTenth, kSelectTenth + 3, kLibraryList}) m_logic.HandleCommand(id);
    EXPECT_EQ(m_view.library,
              (std::vector<std::string>{"import", "next", "previous", "entry 10", "entry 3", "take"}));
    // Remove asks first; only a Yes removes.
    m_view.library.clear();
    m_logic.HandleCommand(kRemove);
    ASSERT_EQ(window.asked.size(), 1u);
    EXPECT_EQ(window.asked[0], "Are you sure you want to remove this entry from the library?");
    window.answer = IDYES;
    m_logic.HandleCommand(kRemove);
    EXPECT_EQ(m_view.library, (std::vector<std::string>{"remove"}));
    // Connected: no import and no removal, the selection still moves.
    m_view.library.clear();
    Send(WM_ENGINE_STATE, 50, 16);
    for (int id : {kAdd, kRemove, kNext}) m_logic.HandleCommand(id);
    EXPECT_EQ(m_view.library, (std::vector<std::string>{"next"}));
    // Hidden: nothing reaches the box.
    Send(WM_ENGINE_STATE, 16, 0);
    m_logic.HandleCommand(kShowLibrary);
    ASSERT_FALSE(m_view.libraryShown);
    m_view.library.clear();
    for (int id : {kAdd, kRemove, kNext, kPrevious, kSelectTenth + 1, kLibraryList}) m_logic.HandleCommand(id);
    EXPECT_TRUE(m_view.library.empty());
    m_translator.AttachWindow(nullptr);
}

// The engine's worker posts from its own thread; the window handles the
// messages on its queue in the order they were posted.
TEST_F(MainDlgLogicTest, WorkerPostsArriveInOrder) {
    struct Target : CMessageTarget {
        CMainDlgLogic* logic;
        int handled = 0;
        LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
            LRESULT r = 0;
            if (logic->HandleMessage(message, w, l, r)) ++handled;
            return r;
        }
    } target;
    target.logic = &m_logic;
    CMessageQueue queue;
    const HWND window = CreateWindowHandle(queue, &target);
    constexpr int kRounds = 200;
    const int states[] = {32, 48, 50, 16};
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) PostMessage(window, WM_ENGINE_STATE, static_cast<WPARAM>(states[i % 4]), 16);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (target.handled < kRounds && std::chrono::steady_clock::now() < deadline) {
        MSG msg;
        if (queue.WaitMessage(msg, 100)) target.WindowProc(msg.message, msg.wParam, msg.lParam);
    }
    worker.join();
    DestroyWindowHandle(window);
    ASSERT_EQ(target.handled, kRounds);
    ASSERT_EQ(m_rip.states.size(), static_cast<size_t>(kRounds));
    for (int i = 0; i < kRounds; ++i) ASSERT_EQ(m_rip.states[i], states[i % 4]) << i;
    EXPECT_EQ(m_logic.CallState(), 16);
}

}  // namespace
