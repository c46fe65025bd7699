// The program as a whole on an X display: it starts, shows its main window
// and ends with exit code 0 when that window is closed; a start-up step that
// fails shows its message and ends the program cleanly without a window; a
// display it cannot use fails it with the toolkit's reason on stderr.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "XDisplay.h"
#include "common/MainWindowMessages.h"
#include "common/SharedState.h"
#include "platform/MessageSink.h"
#include "ui/CodecApp.h"
#include "ui/MainDlg.h"
#include "ui/Resources.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPatience = std::chrono::seconds(30);

// Polls for a window; the program runs in another process, on its own time.
unsigned long WaitForWindow(CXDisplay& x, const std::string& title, pid_t child) {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
        if (unsigned long w = x.FindWindow(title)) return w;
        int status;
        if (waitpid(child, &status, WNOHANG) == child) return 0;  // gone already
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

// Exit status of the child, or -1 after the patience ran out (it is killed).
int WaitForExit(pid_t child) {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

struct StartupTest : ::testing::Test {
    CXDisplay m_x;
    fs::path m_dir;
    void SetUp() override {
        if (!m_x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
        m_dir = fs::temp_directory_path() / ("velmora_startup_" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        if (!m_dir.empty()) fs::remove_all(m_dir);
    }
};

TEST_F(StartupTest, ProgramShowsItsWindowAndEndsWithZeroWhenClosed) {
    const std::string program = VELMORA_PROGRAM;
    ASSERT_TRUE(fs::exists(program)) << program;
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(m_dir.c_str()) != 0) _exit(97);
        std::ofstream("Velmora.Ini") << "[Main]\nNoSplash=1\nFastCPU=1\n";
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "20000", 1);
        setenv("LSAN_OPTIONS", "suppressions=" VELMORA_SOURCE_DIR "/tools/lsan-suppressions.txt", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(96);
    }
    const unsigned long window = WaitForWindow(m_x, "Velmora Transvoria", child);
    ASSERT_NE(window, 0u) << "no main window appeared";
    EXPECT_TRUE(m_x.Close(window));
    const int status = WaitForExit(child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(m_dir / "ERRORLOG.TXT"));
}

TEST_F(StartupTest, ProgramWithoutAUsableDisplaySaysWhyAndFails) {
    int unused = 999;
    const auto taken = [](int n) {
        return fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
               fs::exists("/tmp/.X" + std::to_string(n) + "-lock");
    };
    while (taken(unused)) --unused;
    const fs::path errors = m_dir / "stderr.txt";
    const std::string program = VELMORA_PROGRAM;
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(m_dir.c_str()) != 0 || !freopen(errors.c_str(), "w", stderr)) _exit(97);
        setenv("DISPLAY", (":" + std::to_string(unused)).c_str(), 1);
        setenv("LSAN_OPTIONS", "suppressions=" VELMORA_SOURCE_DIR "/tools/lsan-suppressions.txt", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(96);
    }
    const int status = WaitForExit(child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_NE(WEXITSTATUS(status), 0);
    std::ifstream in(errors);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(said.find("DISPLAY"), std::string::npos) << "stderr: " << said;
}

class CFailingEngine : public CIdleEngine {
public:
    int Start(const char*, int) override { return 0; }
};

TEST_F(StartupTest, FailingEngineStartShowsItsMessageAndEndsCleanly) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "20000", 1);
        CMainDlgHooks hooks;
        hooks.makeEngine = [] { return std::unique_ptr<CMainEngine>(new CFailingEngine); };
        hooks.checkCpuSpeed = [](CMainDlg&) { return 1; };
        CMainDlg::SetHooks(hooks);
        CCodecApp app;
        char name[] = "Velmora";
        char* argv[] = {name, nullptr};
        _exit(AfxWinMain(1, argv));
    }
    const unsigned long box = WaitForWindow(m_x, "Error...", child);
    ASSERT_NE(box, 0u) << "no error box appeared";
    EXPECT_EQ(m_x.FindWindow("Velmora Transvoria"), 0u);
    EXPECT_TRUE(m_x.Close(box));
    const int status = WaitForExit(child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(StartupTest, SharedStateIsClearUntilTheStartUpSetsIt) {
    const pid_t child = fork();
    if (child == 0) {
        static int problems = 0;
        CMainDlgHooks hooks;
        hooks.showSplash = [](CMainDlg&) {
            const SharedState& s = *g_sharedState;
            problems += s.ntPlatform + s.endpointFlag + s.miniIsdn + s.traceValue + s.isdnBlockLength;
            problems += s.mainWindow != nullptr;
            problems += s.accelerators == nullptr;  // loaded by the constructor
            problems += s.translatorReferences != 2;  // the application's and the window's
        };
        hooks.checkCpuSpeed = [](CMainDlg&) { return 1; };
        hooks.initPhonebook = [](CMainDlg&) {
            problems += g_sharedState->ntPlatform != 1;
            return 0;  // ends the start-up without a window
        };
        CMainDlg::SetHooks(hooks);
        CCodecApp app;
        app.State().ntPlatform = 7;  // InitInstance clears the record
        char name[] = "Velmora";
        char* argv[] = {name, nullptr};
        const int result = AfxWinMain(1, argv);
        _exit(result == 0 && problems == 0 ? 0 : 10 + problems);
    }
    const int status = WaitForExit(child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CodecAppTest, AcceleratorsReachTheMainWindowOnlyOnceItHasAHandle) {
    CCodecApp app;  // not started: the filter alone
    SharedState state;
    SharedState* saved = g_sharedState;
    g_sharedState = &state;
    CMessageSink window;
    MSG key;
    key.message = WM_KEYDOWN;
    key.wParam = 'O';
    key.keyState = FCONTROL;
    state.accelerators = LoadMainAccelerators();
    EXPECT_FALSE(app.ProcessMessageFilter(0, &key));
    state.mainWindow = window.Handle();
    EXPECT_TRUE(app.ProcessMessageFilter(0, &key));
    key.wParam = VK_F1 + 4;  // F5: play
    key.keyState = 0;
    EXPECT_TRUE(app.ProcessMessageFilter(0, &key));
    key.wParam = 'Q';
    EXPECT_FALSE(app.ProcessMessageFilter(0, &key));
    const auto sent = window.Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].message, WM_COMMAND);
    EXPECT_EQ(LOWORD(sent[0].wParam), 40008);
    EXPECT_EQ(LOWORD(sent[1].wParam), 1816);
    DestroyAcceleratorTable(static_cast<HACCEL>(state.accelerators));
    g_sharedState = saved;
}

}  // namespace
