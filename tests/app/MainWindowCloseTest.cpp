// The main window leaves the screen as soon as the operator closes it; the
// closing work (hang-up, engine stop, saving) runs after. An engine that takes
// as long as the test likes to stop shows the order.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "XDisplay.h"
#include "ui/CodecApp.h"
#include "ui/MainDlg.h"
#include "ui/framework/WinApp.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPatience = std::chrono::seconds(60);
constexpr char kMainTitle[] = "Velmora Transvoria";

// Stops only once the test lets it (or after the patience, so no run hangs).
class CSlowStoppingEngine : public CIdleEngine {
public:
    ~CSlowStoppingEngine() override {
        std::ofstream("stopping");
        const auto deadline = Clock::now() + kPatience;
        while (!fs::exists("release") && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

struct MainWindowCloseTest : ::testing::Test {
    CXDisplay m_x;
    fs::path m_dir;
    pid_t m_child = -1;

    void SetUp() override {
        if (!m_x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
        m_dir = fs::temp_directory_path() / ("velmora_close_" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
        if (!m_dir.empty()) fs::remove_all(m_dir);
    }
    bool Running() {
        int status = 0;
        return waitpid(m_child, &status, WNOHANG) == 0;
    }
};

TEST_F(MainWindowCloseTest, TheWindowIsGoneBeforeTheEngineHasStopped) {
    m_child = fork();
    if (m_child == 0) {
        if (chdir(m_dir.c_str()) != 0) _exit(97);
        std::ofstream("Velmora.Ini") << "[Main]\nNoSplash=1\nFastCPU=1\n";
        CMainDlgHooks hooks;
        hooks.makeEngine = [] { return std::unique_ptr<CMainEngine>(new CSlowStoppingEngine); };
        CMainDlg::SetHooks(hooks);
        int result;
        {
            CCodecApp app;
            char name[] = "Velmora";
            char* argv[] = {name, nullptr};
            result = AfxWinMain(1, argv);
        }
        _exit(result);
    }
    unsigned long window = 0;
    for (const auto deadline = Clock::now() + kPatience; !window && Clock::now() < deadline && Running();) {
        window = m_x.FindWindowOf(kMainTitle, m_child);
        if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(window, 0u) << "no main window appeared";
    ASSERT_TRUE(m_x.Close(window));

    // The engine cannot finish stopping until released: a window still
    // mapped here waits for the end of the program.
    bool gone = false;
    for (const auto deadline = Clock::now() + kPatience; !gone && Clock::now() < deadline && Running();) {
        gone = m_x.FindWindowOf(kMainTitle, m_child) == 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(gone) << "the window stayed on the screen while the program closed down";
    EXPECT_TRUE(Running());
    std::ofstream(m_dir / "release");

    int status = 0;
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
        if (waitpid(m_child, &status, WNOHANG) == m_child) {
            m_child = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(m_child, -1) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(m_dir / "stopping"));  // the engine did stop after the window went
}

}  // namespace
