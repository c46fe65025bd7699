// The main window's start-up without a display: every way it ends before the
// window opens, with the exact text the operator reads, and the order of the
// steps that lead there.
#include "ui/MainStartup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "common/Settings.h"
#include "common/Translator.h"
#include "platform/MessageBoxCodes.h"
#include "support/TempDir.h"
#include "ui/MainEngine.h"

namespace {

constexpr uint32_t kStart = 0xFFFFF000u;  // the clock wraps during the delay

struct Box {
    std::string text, caption;
    UINT style;
};

class CRecordingServer : public CRemoteControl {
public:
    explicit CRecordingServer(int result) : m_result(result) {}
    int Init(HWND, int port) override {
        m_port = port;
        return m_result;
    }
    void Poll() override {}
    void SendState(int) override {}
    void SetAvailableTransports(int) override {}
    void SetConnectionInfo(const ConnectionInfo&) override {}
    void SetRemoteIdentity(const StationIdentity&) override {}
    void SetEncoderFormat(const AudioFormat&) override {}
    void SetDecoderFormat(const AudioFormat&) override {}
    void SendConnectionError(int, int, const char*) override {}
    void RefuseRequest(int, int) override {}
    void GetRequestedDestination(ConnectionInfo&) override {}
    void GetRequestedFormat(AudioFormat&) override {}
    void SendBandwidthInfo(int, int) override {}
    int PollBandwidthAnswer() override { return 0; }
    int m_port = -1;

private:
    int m_result;
};

// The window as the start-up sees it: each step is logged, each may fail.
class CScriptedWindow : public CMainStartupView, public CTranslatorWindow {
public:
    int phonebookInit = 1, phonebookLoad = 1, engineStart = 1, cpuAnswer = IDOK;
    bool phonebookExists = true;
    int serverMade = 1, serverInit = 1;  // 0: no object / Init fails
    std::vector<std::string> steps;
    std::vector<Box> boxes;
    uint32_t release = 0;
    int fastCpuAtStart = -2, playLevel = 99, clipLevel = 99;

    void ShowSplash() override { steps.push_back("splash"); }
    void CloseSplash() override { steps.push_back("close splash"); }
    void WaitUntil(uint32_t when) override {
        release = when;
        steps.push_back("wait");
    }
    void MarkPlatform() override { steps.push_back("platform"); }
    int AskCpuSpeed() override {
        steps.push_back("ask cpu");
        return cpuAnswer;
    }
    void UseModes(bool miniIsdn, int trace) override {
        steps.push_back("modes " + std::to_string(miniIsdn) + " " + std::to_string(trace));
    }
    int InitPhonebook(const std::string& file) override {
        steps.push_back("phonebook " + file);
        return phonebookInit;
    }
    int LoadPhonebook() override {
        steps.push_back("load");
        return phonebookLoad;
    }
    bool FileExists(const std::string&) override { return phonebookExists; }
    int StartEngine(const char* program, int fastCpu) override {
        steps.push_back(std::string("engine ") + program);
        fastCpuAtStart = fastCpu;
        return engineStart;
    }
    void UseLevels(int play, int clip) override {
        steps.push_back("levels");
        playLevel = play;
        clipLevel = clip;
    }
    std::unique_ptr<CRemoteControl> MakeRemoteControl() override {
        if (!serverMade) return nullptr;
        return std::make_unique<CRecordingServer>(serverInit);
    }
    int MessageBox(const char* text, const char* caption, UINT style) override {
        boxes.push_back({text, caption, style});
        steps.push_back("box");
        return IDOK;
    }
    bool SetItemText(int, const char*) override { return false; }
    int AddComboString(int, const char*) override { return -1; }
    bool SetComboItemData(int, int, intptr_t) override { return false; }
    int SelectComboString(int, const char*) override { return -1; }
    bool GetComboSelection(int, std::string&) override { return false; }
};

struct MainStartupTest : ::testing::Test {
    CTempDir m_dir{"main-startup"};
    std::string m_ini = (m_dir.Path() / "Velmora.Ini").string();
    CSettings m_settings{m_ini};
    CScriptedWindow m_window;
    CTranslator m_translator;

    void SetUp() override { m_translator.AttachWindow(&m_window); }
    void Write(const std::string& text) { std::ofstream(m_ini) << text; }
    int Run(MainStartupSteps steps = {}) {
        CMainStartup startup(m_window, m_translator, m_settings, std::move(steps));
        return startup.Run("Velmora", kStart);
    }
};

// What the operator reads when the start-up ends, and how far it came.
TEST_F(MainStartupTest, EveryFailureEndsWithItsOwnText) {
    const struct {
        const char* name;
        int phonebookInit, engineStart;
        int result;
        const char* box;  // null: no box
        const char* lastStep;
    } cases[] = {
        {"all well", 1, 1, 1, nullptr, "levels"},
        {"phonebook object", 0, 1, 0, "Unable to init Phonebook object.", "box"},
        {"codec engine", 1, 0, 0, "Unable to init Codec object.", "box"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_window = CScriptedWindow();
        m_window.phonebookInit = c.phonebookInit;
        m_window.engineStart = c.engineStart;
        Write("[Main]\nFastCPU=1\nNoSplash=1\nPhoneFile=Book.Pb\n");
        EXPECT_EQ(Run(), c.result);
        ASSERT_FALSE(m_window.steps.empty());
        EXPECT_EQ(m_window.steps.back(), c.lastStep);
        if (!c.box) {
            EXPECT_TRUE(m_window.boxes.empty());
            continue;
        }
        ASSERT_EQ(m_window.boxes.size(), 1u);
        EXPECT_EQ(m_window.boxes[0].text, c.box);
        EXPECT_EQ(m_window.boxes[0].caption, "Error...");
        EXPECT_EQ(m_window.boxes[0].style, static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND));
    }
    // A phonebook object that cannot be made ends the start-up before the engine starts.
    m_window = CScriptedWindow();
    m_window.phonebookInit = 0;
    Run();
    for (const std::string& step : m_window.steps) EXPECT_NE(step.rfind("engine", 0), 0u) << step;
}

TEST_F(MainStartupTest, AnUnreadablePhonebookIsReportedAndTheStartUpGoesOn) {
    Write("[Main]\nFastCPU=0\nNoSplash=1\nPhoneFile=/nowhere/Book.Pb\n");
    m_window.phonebookLoad = 0;
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(m_window.boxes.size(), 1u);
    EXPECT_EQ(m_window.boxes[0].text, "Unable to open Phonebookfile:\n\n/nowhere/Book.Pb");
    EXPECT_EQ(m_window.boxes[0].caption, "Error...");
    EXPECT_EQ(m_window.steps.back(), "levels");

    // A first start has no file yet: nothing to report.
    m_window = CScriptedWindow();
    m_window.phonebookLoad = 0;
    m_window.phonebookExists = false;
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(m_window.boxes.empty());
}

TEST_F(MainStartupTest, StepsPutInPlaceEndTheStartUpWithoutABoxOfTheirOwn) {
    const char* const names[] = {"cpu", "isdn", "phonebook", "audio", "pages"};
    for (int failing = 0; failing < 5; ++failing) {
        SCOPED_TRACE(names[failing]);
        m_window = CScriptedWindow();
        Write("[Main]\nNoSplash=1\n");
        std::vector<std::string> ran;
        auto step = [&ran, failing](int n, const char* name) {
            return [&ran, failing, n, name] {
                ran.push_back(name);
                return n == failing ? 0 : 1;
            };
        };
        MainStartupSteps steps;
        steps.checkCpuSpeed = step(0, "cpu");
        steps.checkIsdnCard = step(1, "isdn");
        steps.initPhonebook = step(2, "phonebook");
        steps.initAudioDevices = step(3, "audio");
        steps.createPages = step(4, "pages");
        EXPECT_EQ(Run(std::move(steps)), 0);
        ASSERT_EQ(ran.size(), static_cast<size_t>(failing + 1));
        EXPECT_EQ(ran.back(), names[failing]);
        EXPECT_TRUE(m_window.boxes.empty());
        EXPECT_EQ(std::count(m_window.steps.begin(), m_window.steps.end(), "ask cpu"), 0);
        EXPECT_EQ(m_window.steps.back() == "engine Velmora", failing >= 3);  // the engine starts between phonebook and audio
    }
}

TEST_F(MainStartupTest, SplashDelayAndModesComeInOrderFromTheSettings) {
    Write("[Main]\nFastCPU=1\nStartDelay=3\nPhoneFile=Book.Pb\n[Options]\nTrace=5\n[MiniISDN]\nEnabled=1\n"
          "[Play]\nLevel=-4\n[Library]\nLevel=-12\n");
    EXPECT_EQ(Run(), 1);
    const std::vector<std::string> expected = {"splash", "wait",      "platform",       "modes 1 5",
                                               "phonebook Book.Pb", "load", "engine Velmora", "levels"};
    EXPECT_EQ(m_window.steps, expected);
    EXPECT_EQ(m_window.release, kStart + 3000u);  // from construction, across the clock's wrap
    EXPECT_EQ(m_window.playLevel, -4);
    EXPECT_EQ(m_window.clipLevel, -12);

    const struct {
        const char* delay;
        uint32_t release;
    } delays[] = {{"-5", kStart}, {"0", kStart}, {"999999", kStart + 86400u * 1000u}};
    for (const auto& d : delays) {
        m_window = CScriptedWindow();
        Write(std::string("[Main]\nFastCPU=1\nNoSplash=1\nStartDelay=") + d.delay + "\n");
        Run();
        EXPECT_EQ(m_window.release, d.release) << d.delay;
        EXPECT_EQ(m_window.steps.front(), "wait");
    }
}

TEST_F(MainStartupTest, TheCpuQuestionComesOnceWithTheSplashClosedAndItsAnswerIsKept) {
    const struct {
        const char* stored;
        int answer;
        bool asked;
        int kept;
    } cases[] = {{"", IDOK, true, 1}, {"-1", IDCANCEL, true, 0}, {"7", IDOK, true, 1},
                 {"0", IDOK, false, 0}, {"1", IDCANCEL, false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        m_window = CScriptedWindow();
        m_window.cpuAnswer = c.answer;
        Write(std::string("[Main]\n") + (*c.stored ? std::string("FastCPU=") + c.stored + "\n" : ""));
        EXPECT_EQ(Run(), 1);
        const auto asked = std::find(m_window.steps.begin(), m_window.steps.end(), "ask cpu");
        EXPECT_EQ(asked != m_window.steps.end(), c.asked);
        if (c.asked) {
            EXPECT_EQ(*(asked - 1), "close splash");
        }
        EXPECT_EQ(m_settings.GetMainFastCPU(), c.kept);
        EXPECT_EQ(m_window.fastCpuAtStart, c.kept);  // the engine hears the answer just given
        m_window = CScriptedWindow();
        Run();
        EXPECT_EQ(std::count(m_window.steps.begin(), m_window.steps.end(), "ask cpu"), 0);
    }
}

TEST_F(MainStartupTest, TheRemoteControlServerReportsWhatKeepsItAwayAndTheWindowGoesOn) {
    const struct {
        const char* port;
        int made, init;
        bool running;
        const char* box;
    } cases[] = {
        {"0", 1, 1, false, nullptr},
        {"65536", 1, 1, false, nullptr},  // only the low 16 bits count
        {"65537", 1, 1, true, nullptr},
        {"5000", 0, 1, false, "Unable to create RIP object."},
        {"5000", 1, 0, false, "Unable to init RIP object."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + std::to_string(c.made) + std::to_string(c.init));
        m_window = CScriptedWindow();
        m_window.serverMade = c.made;
        m_window.serverInit = c.init;
        Write(std::string("[ARIP]\nPortNumber=") + c.port + "\n");
        CMainStartup startup(m_window, m_translator, m_settings);
        std::unique_ptr<CRemoteControl> server = startup.StartRemoteControl(nullptr);
        EXPECT_EQ(server != nullptr, c.running);
        if (server) {
            EXPECT_EQ(static_cast<CRecordingServer&>(*server).m_port, 1);
        }
        if (!c.box) {
            EXPECT_TRUE(m_window.boxes.empty());
            continue;
        }
        ASSERT_EQ(m_window.boxes.size(), 1u);
        EXPECT_EQ(m_window.boxes[0].text, c.box);
        EXPECT_EQ(m_window.boxes[0].caption, "Error...");
    }
}

}  // namespace
