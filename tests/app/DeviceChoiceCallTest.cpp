// The device chosen in the device dialog is the one the next call uses:
// station B, the real program in this test's child, records from its
// virtual WAVE device (a 440 Hz tone) until the operator picks the virtual
// ASIO driver (880 Hz) in the dialog its page's Select button opens; station A then calls B and must
// hear 880 Hz.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/listctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.h"
#include "OperatorHand.h"
#include "StationProcess.h"
#include "XDisplay.h"
#include "audio/ToneAnalysis.h"
#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "ui/CodecApp.h"
#include "ui/MainDlg.h"
#include "ui/SelectDeviceDlg.h"
#include "ui/pages/PageTraits.h"
#include "ui/pages/PhonebookPage.h"
#include "ui/framework/WinApp.h"

namespace fs = std::filesystem;
using namespace DialogDriver;

namespace {

constexpr char kAsioName[] = "Virtual Asio B";

wxTopLevelWindow* FindShown(const wxString& title) {
    for (wxWindow* w : wxTopLevelWindows) {
        auto* top = dynamic_cast<wxTopLevelWindow*>(w);
        if (top && top->IsShown() && top->GetTitle() == title) return top;
    }
    return nullptr;
}

// Clicks the first row whose device column starts with the name, then OK.
void ChooseRow(wxTopLevelWindow* box, const wxString& name) {
    auto* list = dynamic_cast<wxListCtrl*>(box->FindWindow(CSelectDeviceDlg::kList));
    ASSERT_NE(list, nullptr);
    long row = -1;
    for (long i = 0; i < list->GetItemCount() && row < 0; ++i)
        if (list->GetItemText(i, 2).StartsWith(name)) row = i;
    ASSERT_GE(row, 0) << "no entry for " << name;
    wxRect rect;
    ASSERT_TRUE(list->GetItemRect(row, rect));
    wxUIActionSimulator sim;
    sim.MouseMove(list->ClientToScreen(wxPoint(rect.x + 30, rect.y + rect.height / 2)));
    Settle();
    sim.MouseClick();
    ASSERT_TRUE(WaitUntil([&] { return list->GetItemState(row, wxLIST_STATE_SELECTED) != 0; }));
    ASSERT_TRUE(OperatorHand::ClickOn(box->FindWindow(1)));
}

pid_t StartStationB(const fs::path& dir) {
    const pid_t child = fork();
    if (child != 0) return child;
    if (chdir(dir.c_str()) != 0) _exit(97);
    setenv("VELMORA_VIRTUAL_AUDIO", "Virtual B,tone=440", 1);
    setenv("VELMORA_VIRTUAL_ASIO", (std::string(kAsioName) + ",tone=880").c_str(), 1);
    setenv("VELMORA_REGISTRY_FILE", (dir / "registry").c_str(), 1);
    setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000", 1);
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        static wxTimer driver;
        static bool opened = false;
        driver.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
            wxTopLevelWindow* box = FindShown("Please select the input device");
            if (!box || !box->IsShownOnScreen()) return;
            driver.Stop();
            opened = true;
            Settle();
            box->Raise();
            ChooseRow(box, kAsioName);
        });
        driver.Start(100);
        // The operator's click on the page's Select button for the input,
        // made again while no dialog came: on a slow machine a click may come
        // before the button has seen the pointer arrive, and does nothing.
        ASSERT_TRUE(WaitUntil([&] { return dlg.Window()->IsShownOnScreen(); }, std::chrono::seconds(120)));
        const int kind = dlg.ActivePageKind();
        wxWindow* select = dlg.PhonebookPage(kind)->Control(PageTraitsOf(kind).selectInput);
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        while (!opened && Clock::now() < deadline) {
            ASSERT_TRUE(OperatorHand::ClickOn(select));
            WaitUntil([] { return opened; }, std::chrono::seconds(5));
        }
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

// Median level (dB against half scale) of 100 ms pieces (whole periods of
// both tones) fitted to hz over the last seconds of a stereo raw file.
double MedianToneDb(const fs::path& raw, double hz) {
    std::ifstream in(raw, std::ios::binary);
    std::vector<int16_t> pcm(static_cast<size_t>(fs::file_size(raw)) / 2);
    in.read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
    const size_t frames = pcm.size() / 2;
    const size_t last = frames > 14400 ? frames - 14400 : 0, first = last > 96000 ? last - 96000 : 0;
    std::vector<double> levels;
    for (size_t w = first; w + 4800 <= last; w += 4800)
        levels.push_back(Db(FitTone(pcm.data(), w, 4800, 2, 0, hz, 48000.0).amplitude / (0.5 * 32767.0)));
    if (levels.empty()) return -200.0;
    std::sort(levels.begin(), levels.end());
    return levels[levels.size() / 2];
}

TEST(DeviceChoiceCallTest, TheChosenInputIsWhatTheFarEndHears) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    const int base = 50000 + (getpid() % 1000) * 10;
    const int ripA = base, portA = base + 1, portB = base + 2, ripB = base + 3;
    const fs::path root = fs::temp_directory_path() / ("velmora_device_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripA << "\n[TCP]\nPortNumber=" << portA
                                     << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio A\n[Audio]\nInterface=1\n";
    std::ofstream(b / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripB << "\n[TCP]\nPortNumber=" << portB
                                     << "\nAnswerAcceptCalls=1\nAnswerSameSettings=1\n"
                                        "[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio B\n[Audio]\nInterface=1\n";
    const pid_t stationB = StartStationB(b);
    const CSettings settingsB((b / "Velmora.Ini").string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    while (settingsB.GetAudioInterface() != 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(settingsB.GetAudioInterface(), 2) << "the device dialog never stored the ASIO input";
    EXPECT_EQ(settingsB.GetASIOInput(), 0);
    const pid_t stationA = StartStation(a, "Virtual A,tone=1000,sink=" + (a / "played.raw").string());
    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_two_stations.py' " +
                            std::to_string(ripA) + " " + std::to_string(portB) + " 32 256000 48000 20 4 " +
                            std::to_string(ripB);
    const int status = std::system(cmd.c_str());
    for (int i = 0; i < 200 && !fs::exists(a / "played.raw"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    StopStation(stationA);
    StopStation(stationB);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(fs::exists(a / "played.raw"));
    const double chosen = MedianToneDb(a / "played.raw", 880.0);
    const double former = MedianToneDb(a / "played.raw", 440.0);
    std::printf("A hears the chosen ASIO input at 880 Hz: %+.2f dB; the former WAVE input at 440 Hz: %+.2f dB\n",
                chosen, former);
    EXPECT_GT(chosen, -3.0);
    EXPECT_LT(former, chosen - 30.0);
    fs::remove_all(root);
}

}  // namespace
