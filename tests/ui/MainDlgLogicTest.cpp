#include "ui/MainDlgLogic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/MainWindowMessages.h"
#include "common/SharedState.h"
#include "common/Translator.h"
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
    void SetAvailableTransports(int) override {}
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
};

struct FakeView : CMainDlgView {
    std::string status, receiveText, sendText, remoteName;
    std::vector<std::string> errors;
    std::vector<ErrorKind> errorKinds;
    std::string statusAtError;
    int accept = -1, idlePriority = -1, rx = -1, tx = -1, pageState = -1, shownKind = -1;
    BandwidthAnswer answer = kBandwidthTestAgain;
    int dialogs = 0, dialogNeeded = 0;
    void ShowStatusLine(const std::string& t) override { status = t; }
    void ShowErrorBox(ErrorKind kind, const std::string& t) override {
        errors.push_back(t);
        errorKinds.push_back(kind);
        statusAtError = status;
    }
    void AcceptDroppedFiles(bool a) override { accept = a; }
    void SetGuiPriority(bool idle) override { idlePriority = idle; }
    void RefreshMenus(int) override {}
    void PageSetState(int state, int) override { pageState = state; }
    void PageShowConnection(int kind, const ConnectionInfo&) override { shownKind = kind; }
    void PageShowReceiveFormat(int, const std::string& t) override { receiveText = t; }
    void PageShowSendFormat(int, const std::string& t) override { sendText = t; }
    void PageShowRxIndicator(int, int v) override { rx = v; }
    void PageShowTxIndicator(int, int v) override { tx = v; }
    void PageShowRemoteName(int, const char* n) override { remoteName = n; }
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
};

TEST_F(MainDlgLogicTest, StartedAndStateChanges) {
    EXPECT_EQ(m_logic.EngineStarted(), 0);
    Send(WM_ENGINE_STARTED);
    EXPECT_EQ(m_logic.EngineStarted(), 1);
    Send(WM_ENGINE_STATE, 32, 16);
    EXPECT_EQ(m_view.accept, 0);
    EXPECT_EQ(m_view.pageState, 32);
    EXPECT_EQ(m_view.status, "Connecting");
    Send(WM_ENGINE_STATE, 50, 16);
    EXPECT_EQ(m_view.idlePriority, 1);
    EXPECT_EQ(m_view.status, "Connected");
    m_engine.errorText = "Unable to open the audio device.";
    m_engine.errorCode = static_cast<int>(0xF000F010u);
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.accept, 1);
    EXPECT_EQ(m_view.idlePriority, 0);
    ASSERT_EQ(m_view.errors.size(), 1u);
    EXPECT_EQ(m_view.errors[0], "Unable to open the audio device.");
    EXPECT_EQ(m_rip.states, (std::vector<int>{32, 50, 16}));
    ASSERT_FALSE(m_rip.calls.empty());
    EXPECT_EQ(m_rip.calls.back(), "ConnectionError");
    EXPECT_LE(m_rip.errorText.size(), 80u);
    EXPECT_EQ(m_logic.LastError().rfind("The remote version of Velmora", 0), 0u);
    EXPECT_EQ(m_logic.CallState(), 16);
    EXPECT_EQ(m_logic.IdleFlag(), 1);
    // The next idle report without an error clears it.
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.status, "Idle");
    UINT other = WM_USER + 99;
    LRESULT r;
    EXPECT_FALSE(m_logic.HandleMessage(other, 0, 0, r));
}

TEST_F(MainDlgLogicTest, RepeatedFailingCallsShowTheTrueStateBehindOneKindOfBox) {
    for (int call = 0; call < 500; ++call) {
        Send(WM_ENGINE_STATE, 48, 16);
        Send(WM_ENGINE_STATE, 50, 16);
        m_engine.errorText = "Output device error: The audio format is not supported.";
        Send(WM_ENGINE_STATE, 16, 16);
        ASSERT_EQ(m_view.statusAtError, "Idle");  // the window is up to date before the box
        ASSERT_EQ(m_view.pageState, 16);
    }
    EXPECT_EQ(m_view.errors.size(), 500u);
    for (auto kind : m_view.errorKinds) ASSERT_EQ(kind, CMainDlgView::kEngineError);
    EXPECT_EQ(m_logic.CallState(), 16);
    EXPECT_EQ(m_view.accept, 1);
}

TEST_F(MainDlgLogicTest, SetupWarningStandsInTheStatusLineWhileNoCallRuns) {
    m_logic.SetSetupWarning("No usable sound interface ([Audio] Interface=0): calls carry no audio");
    EXPECT_EQ(m_view.status, "  (No usable sound interface ([Audio] Interface=0): calls carry no audio)");
    Send(WM_ENGINE_STATE, 16, 16);
    EXPECT_EQ(m_view.status.rfind("Idle  (No usable sound interface", 0), 0u);
    Send(WM_ENGINE_STATE, 50, 16);
    EXPECT_EQ(m_view.status, "Connected");
}

TEST_F(MainDlgLogicTest, FormatsGoToThePageAndTheServer) {
    m_engine.decoder.codingType = 32;
    m_engine.decoder.deviceMode = 20;
    m_engine.decoder.sampleRate = 48000;
    m_engine.decoder.bitRate = 128000;
    Send(WM_ENGINE_DECODER_FORMAT, 0, 16);
    EXPECT_EQ(m_view.receiveText, "MP-L2 S 48kHz 128kbps ");
    m_engine.decoder.direction = 16;
    Send(WM_ENGINE_DECODER_FORMAT, 0, 16);
    EXPECT_EQ(m_view.receiveText, "(Not in use)");
    EXPECT_TRUE(m_logic.NoReceive());
    m_engine.encoder.codingType = 1;
    m_engine.encoder.deviceMode = 10;
    m_engine.encoder.sampleRate = 32000;
    Send(WM_ENGINE_ENCODER_FORMAT, 0, 0);
    EXPECT_EQ(m_view.sendText, "PCM M 32kHz ");
    m_engine.encoder.direction = 32;
    Send(WM_ENGINE_ENCODER_FORMAT, 0, 0);
    EXPECT_EQ(m_view.sendText, "(Not in use)");
    Send(WM_ENGINE_TX_INDICATOR, 32, 16);
    EXPECT_EQ(m_view.tx, 0);  // nothing is sent
    Send(WM_ENGINE_RX_INDICATOR, 32, 16);
    EXPECT_EQ(m_view.rx, 32);
    EXPECT_EQ(m_rip.calls, (std::vector<std::string>{"DecoderFormat", "DecoderFormat", "EncoderFormat", "EncoderFormat"}));
}

TEST_F(MainDlgLogicTest, IncomingAndRemoteIdentity) {
    m_engine.info.kind = 128;
    m_engine.info.flag = 1;  // this station sends to the group
    Send(WM_ENGINE_INCOMING);
    EXPECT_EQ(m_view.shownKind, 128);
    EXPECT_EQ(m_logic.CurrentEntry().connection.kind, 128);
    // A multicast sender has no receive side to show.
    Send(WM_ENGINE_DECODER_FORMAT, 0, 128);
    EXPECT_EQ(m_view.receiveText, "");
    Send(WM_ENGINE_RX_INDICATOR, 32, 128);
    EXPECT_EQ(m_view.rx, -1);

    std::memset(m_engine.identity.stationName, 'A', sizeof m_engine.identity.stationName);  // unterminated
    Send(WM_ENGINE_REMOTE_IDENTITY, 0, 0);
    EXPECT_EQ(m_view.remoteName, std::string(39, 'A'));
    EXPECT_TRUE(m_view.errors.empty());
    Send(WM_ENGINE_REMOTE_IDENTITY, 0, ERROR_REMOTE_NO_FIXED_DELAY);
    ASSERT_EQ(m_view.errors.size(), 1u);
    EXPECT_NE(m_view.errors[0].find("fixed delay mode.\n\n- Please upgrade"), std::string::npos);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Disconnect"}));
}

TEST_F(MainDlgLogicTest, LowBandwidthDecidesByTheNeededRatePlusATenth) {
    m_engine.info.kind = 16;
    Send(WM_ENGINE_INCOMING);
    // Needed rate comes from the current entry: set it through a remote request.
    m_rip.requested.kind = 0x11;
    m_rip.requestedFormat.bitRate = 128000;
    Send(WM_ENGINE_STATE, 16, 16);
    Send(WM_RIP_CONNECT);
    EXPECT_EQ(m_engine.connected.connection.kind, 16);  // 0x11 masked
    m_engine.calls.clear();

    Send(WM_ENGINE_LOW_BANDWIDTH, 0, 16);  // both unknown
    m_engine.receive = 140800;
    Send(WM_ENGINE_LOW_BANDWIDTH, 0, 16);  // one unknown
    m_engine.send = 140800;
    Send(WM_ENGINE_LOW_BANDWIDTH, 0, 16);  // both exactly at the limit
    m_engine.send = 140799;
    Send(WM_ENGINE_LOW_BANDWIDTH, 0, 16);  // one below: the dialog
    EXPECT_EQ(m_view.dialogs, 1);
    EXPECT_EQ(m_view.dialogNeeded, 140800);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Disconnect", "Disconnect", "Continue", "TestAgain"}));
}

TEST_F(MainDlgLogicTest, RemoteRequestsOnlyWhileIdle) {
    m_rip.requested.kind = 32;
    std::snprintf(m_rip.requested.isdn.number1, sizeof m_rip.requested.isdn.number1, "%s", "0301234");
    m_rip.requestedFormat.direction = 32;
    Send(WM_RIP_CONNECT);  // no state reported yet
    EXPECT_TRUE(m_engine.calls.empty());
    Send(WM_ENGINE_STATE, 16, 0);
    m_engine.active = 1;
    Send(WM_RIP_CONNECT);
    EXPECT_EQ(m_engine.calls, (std::vector<std::string>{"Disconnect", "Connect"}));
    EXPECT_STREQ(m_engine.connected.connection.isdn.number1, "0301234");
    EXPECT_EQ(m_engine.connected.index, 0);
    EXPECT_TRUE(m_logic.NoSend());
    EXPECT_EQ(m_logic.IdleFlag(), 0);
    EXPECT_EQ(m_view.shownKind, 32);
    Send(WM_RIP_DISCONNECT);
    Send(WM_RIP_ANSWER_SETTINGS);
    EXPECT_EQ(m_engine.calls.back(), "Apply");
    EXPECT_EQ(m_engine.calls[2], "Disconnect");
    // Without a server a connect request does nothing.
    m_logic.SetRemoteControl(nullptr);
    Send(WM_ENGINE_STATE, 16, 0);
    m_engine.calls.clear();
    Send(WM_RIP_CONNECT);
    EXPECT_TRUE(m_engine.calls.empty());
}

TEST(StatusTextTest, AudioFormatTexts) {
    AudioFormat f;
    f.codingType = 272;
    f.deviceMode = 11;
    f.sampleRate = 44100;
    f.bitRate = 384499;
    EXPECT_EQ(FormatAudioFormat(f), "EnhAPTx 44kHz 384kbps ");
    f.codingType = 3;
    EXPECT_EQ(FormatAudioFormat(f), "");
    f.codingType = 4;
    f.deviceMode = 22;
    f.sampleRate = 7999;
    f.bitRate = 64000;
    EXPECT_EQ(FormatAudioFormat(f), "G.711 DM 8kHz 64kbps ");
}

}  // namespace
