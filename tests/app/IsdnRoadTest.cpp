// The operator's road on the ISDN page under Xvfb, through the simulated
// exchange: the operator adds a destination with the far station's number in
// the ISDN dialog, selects it and dials; the page shows the line, the meter
// moves, Hang up returns both stations to idle, and the entry is in the saved
// phonebook. The test starts and stops the exchange and the far station.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/radiobut.h>
#include <wx/stattext.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "DialogDriver.h"
#include "MainWindowInChild.h"
#include "OperatorHand.h"
#include "RipWatcher.h"
#include "StationProcess.h"
#include "XDisplay.h"
#include "common/Phonebook.h"
#include "ui/LevelMeter.h"
#include "ui/MainDlg.h"
#include "ui/StatusPanel.h"
#include "ui/destinations/DestinationLogic.h"
#include "ui/pages/PhonebookPage.h"

namespace fs = std::filesystem;
using namespace OperatorHand;
using DialogDriver::Screenshot;
using DialogDriver::WaitUntil;

namespace {

constexpr auto kPatience = std::chrono::seconds(120);
constexpr int kIsdn = 32;
constexpr int kAdd = 2035, kDial = 2016, kLine1 = 2022;
constexpr int kDlgName = 2101, kDlgNumber1 = 2104, kDlgG711 = 2110;

std::string StationIni(int ripPort, int controller, const char* msn, int accept, const char* name, int x, int y) {
    return "[ARIP]\nPortNumber=" + std::to_string(ripPort) +
           "\n[TCP]\nAnswerAcceptCalls=0\n[ISDN]\nG711Type=2\nController=" + std::to_string(controller) +
           "\nMSN-0=" + msn + "\nAnswerAcceptCalls=" + std::to_string(accept) +
           "\n[Main]\nNoSplash=1\nFastCPU=1\nLibrary=0\nXPos=" + std::to_string(x) + "\nYPos=" +
           std::to_string(y) + "\nIDString=" + name + "\n[Audio]\nInterface=1\n";
}

}  // namespace

TEST(IsdnRoadTest, OperatorDialsAFarStationFromTheIsdnPageAndHangsUp) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const int base = 36000 + (getpid() % 3000) * 2;
    const fs::path root = fs::temp_directory_path() / ("velmora_isdnroad_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(root / "exchange.conf") << "controller 1 2 3411\ncontroller 2 2 3412\n";
    std::ofstream(b / "Velmora.Ini") << StationIni(base + 1, 1, "12", 1, "Studio B", 560, 520);
    const std::string socket = (root / "exchange.sock").string();
    setenv("VELMORA_ISDN_EXCHANGE", socket.c_str(), 1);  // for the exchange and both stations

    const pid_t exchange = fork();
    if (exchange == 0) {
        execl(VELMORA_EXCHANGE, VELMORA_EXCHANGE, "--config", (root / "exchange.conf").c_str(),
              static_cast<char*>(nullptr));
        _exit(96);
    }
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(socket); }, kPatience)) << "the exchange never came up";
    const pid_t stationB = StartStation(b, "Virtual B,tone=440", {{{"VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000"}}, {}});
    CRipWatcher watchB(base + 1);
    ASSERT_TRUE(WaitUntil([&] { return watchB.Poll() && watchB.Saw(16); }, kPatience)) << "station B never came up";

    CMainDlgHooks hooks;
    hooks.onShown = [&watchB](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }, kPatience));
        ASSERT_TRUE(KeyUntil(frame, '1', wxMOD_ALT, [&] { return dlg.ActivePageKind() == kIsdn; }, kPatience));
        CPhonebookPage* page = dlg.PhonebookPage(kIsdn);

        CDestinationDlg* box = nullptr;
        CDialogSteps steps(kPatience);
        // A name longer than the entry's field stops at the field's length.
        const std::string wordy(CDestinationLogic::kNameChars + 8, 'n');
        steps.Add(TypeStep(box, kDlgName, wordy, wordy.substr(0, CDestinationLogic::kNameChars)));
        steps.Add(TypeStep(box, kDlgName, "Line to B"));
        steps.Add(TypeStep(box, kDlgNumber1, "3412"));
        steps.Add(ClickStep(box, kDlgG711, [&box] { return static_cast<wxRadioButton*>(box->Control(kDlgG711))->GetValue(); }));
        steps.Add([&box](int&) {
            Screenshot(box, "dialog-isdn-filled");
            EXPECT_TRUE(ClickOn(box->Control(wxID_OK)));
            return true;
        });
        ASSERT_TRUE(AddThroughDialog(page->Control(kAdd), "ISDN Destination", steps, box, kPatience));
        const PhonebookEntry* added = dlg.Phonebook().FindEntry("Line to B", kIsdn);
        ASSERT_NE(added, nullptr);
        EXPECT_STREQ(added->connection.isdn.number1, "3412");

        // The new entry is selected; Dial.
        wxWindow* dial = page->Control(kDial);
        ASSERT_TRUE(WaitUntil([&] { return dial->IsEnabled(); }, kPatience));
        ASSERT_TRUE(ClickOn(dial));
        ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 50; }, kPatience))
            << "A's call state " << dlg.Logic().CallState();
        EXPECT_EQ(static_cast<CStatusPanel*>(page->Control(kLine1))->Text(), "Line 1: 3412");
        EXPECT_TRUE(WaitUntil([&] { return watchB.Poll() && watchB.LastState() == 50; }, kPatience))
            << "B's last state " << watchB.LastState();
        CLevelMeter* meter = page->Meter();
        EXPECT_TRUE(WaitUntil([&] { return meter->Model().IsActive() && meter->Model().Level(0) > 0; }, kPatience));
        EXPECT_FALSE(page->Control(kAdd)->IsEnabled());
        frame->Raise();
        Screenshot(frame, "page-isdn-connected");

        // Hang up with the page's own button: both stations idle again.
        ASSERT_TRUE(WaitUntil([&] { return dial->IsEnabled(); }, kPatience));
        ASSERT_TRUE(ClickOn(dial));
        ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 16; }, kPatience));
        EXPECT_TRUE(WaitUntil([&] { return watchB.Poll() && watchB.LastState() == 16; }, kPatience))
            << "B's last state " << watchB.LastState();
        EXPECT_TRUE(page->Control(kAdd)->IsEnabled());
        frame->Close();
    };
    const pid_t stationA = StartMainWindowInChild(a, StationIni(base, 0, "3411", 0, "Studio A", 0, 0), hooks, [] {
        setenv("VELMORA_VIRTUAL_AUDIO", "Virtual A,tone=1000", 1);
        return true;
    });
    EXPECT_EQ(WaitForMainWindowChild(stationA, std::chrono::seconds(400)), 0);
    StopStation(stationB);
    kill(exchange, SIGTERM);
    waitpid(exchange, nullptr, 0);
    unsetenv("VELMORA_ISDN_EXCHANGE");

    CPhonebook saved;
    saved.Init((a / "My Phonebook.Pb").c_str());
    ASSERT_TRUE(saved.Load(true));
    const PhonebookEntry* entry = saved.FindEntry("Line to B", kIsdn);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->connection.isdn.number1, "3412");
    if (!HasFailure()) fs::remove_all(root);
}
