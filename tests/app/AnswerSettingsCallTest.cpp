// The answer settings chosen in the dialog decide how the program answers a
// call: station B, the real program in this test's child, opens Settings >
// Answer settings from its menu and either keeps "the same settings as the
// incoming call" or clicks it off (its fixed format is Layer III); station A
// then calls it through the remote control in Layer II, and both ends report
// the format B sends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/notebook.h>
#include <wx/timer.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "DialogDriver.h"
#include "XDisplay.h"
#include "common/Settings.h"
#include "ui/CodecApp.h"
#include "ui/MainDlg.h"
#include "ui/MainDlgLogic.h"
#include "ui/framework/WinApp.h"

namespace fs = std::filesystem;
using namespace DialogDriver;

namespace {

wxTopLevelWindow* FindShown(const wxString& title) {
    for (wxWindow* w : wxTopLevelWindows) {
        auto* top = dynamic_cast<wxTopLevelWindow*>(w);
        if (top && top->IsShown() && top->GetTitle() == title) return top;
    }
    return nullptr;
}

// Station B in a child: the real program, whose first act is the operator's
// answer settings. It runs until it is killed.
pid_t StartAnsweringStation(const fs::path& dir, bool fixedSettings) {
    const pid_t child = fork();
    if (child != 0) return child;
    if (chdir(dir.c_str()) != 0) _exit(97);
    setenv("VELMORA_VIRTUAL_AUDIO", "Virtual B,tone=440", 1);
    setenv("VELMORA_REGISTRY_FILE", (dir / "registry").c_str(), 1);
    setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000", 1);
    CMainDlgHooks hooks;
    hooks.onShown = [fixedSettings](CMainDlg& dlg) {
        static wxTimer driver;
        driver.Bind(wxEVT_TIMER, [fixedSettings](wxTimerEvent&) {
            wxTopLevelWindow* box = FindShown("Answer Settings");
            if (!box || !box->IsShownOnScreen()) return;
            driver.Stop();
            Settle();
            box->Raise();
            if (fixedSettings) {
                if (auto* tabs = dynamic_cast<wxNotebook*>(box->FindWindow(1121))) tabs->SetSelection(1);
                Settle();
                Click(box->FindWindow(3209));
            }
            Click(box->FindWindow(1));
        });
        driver.Start(100);
        PostMessage(dlg.GetSafeHwnd(), WM_COMMAND, MainCommand::kAnswerSettings, 0);
    };
    CMainDlg::SetHooks(hooks);
    {
        CCodecApp app;
        char name[] = "Velmora";
        char* argv[] = {name, nullptr};
        AfxWinMain(1, argv);
    }
    _exit(0);
}

pid_t StartCallingStation(const fs::path& dir) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("VELMORA_VIRTUAL_AUDIO", "Virtual A,tone=1000", 1);
        setenv("VELMORA_REGISTRY_FILE", (dir / "registry").c_str(), 1);
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000", 1);
        execl(VELMORA_PROGRAM, VELMORA_PROGRAM, static_cast<char*>(nullptr));
        _exit(96);
    }
    return child;
}

void Stop(pid_t child) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

struct AnswerSettingsCallTest : ::testing::TestWithParam<bool> {};

TEST_P(AnswerSettingsCallTest, DialogChoiceDecidesTheAnswerFormat) {
    const bool fixedSettings = GetParam();
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    const int base = 20000 + (getpid() % 900) * 10;
    const int ripA = base, portA = base + 1, portB = base + 2, ripB = base + 3;
    const fs::path root = fs::temp_directory_path() / ("velmora_answer_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripA << "\n[TCP]\nPortNumber=" << portA
                                     << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio A\n[Audio]\nInterface=1\n";
    std::ofstream(b / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripB << "\n[TCP]\nPortNumber=" << portB
                                     << "\nAnswerAcceptCalls=1\nAnswerSameSettings=1\n"
                                        "[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio B\n[Audio]\nInterface=1\n";
    const pid_t stationB = StartAnsweringStation(b, fixedSettings);
    // The dialog's OK writes the Network / IP keys; A starts only then, so
    // no other window takes the dialog's clicks.
    const CSettings settingsB((b / "Velmora.Ini").string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (settingsB.ReadInt("TCP", "Answer-DeviceMode", -1) == -1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(settingsB.ReadInt("TCP", "Answer-DeviceMode", -1), -1) << "the answer dialog never stored";
    EXPECT_EQ(settingsB.GetTCPAnswerSameSettings(), fixedSettings ? 0 : 1);
    const pid_t stationA = StartCallingStation(a);

    // A asks for Layer II at 256 kbit/s; the fixed answer is Layer III at 128 kbit/s.
    const int expectedCoding = fixedSettings ? 64 : 32;
    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_answer_call.py' " +
                            std::to_string(ripA) + " " + std::to_string(portB) + " " + std::to_string(ripB) +
                            " 32 256000 48000 20 " + std::to_string(expectedCoding) + " 48000";
    const int status = std::system(cmd.c_str());
    Stop(stationA);
    Stop(stationB);
    fs::remove_all(root);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(Answer, AnswerSettingsCallTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "FixedSettings" : "SameSettings");
                         });

}  // namespace
