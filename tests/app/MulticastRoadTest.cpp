// The operator's road on the multicast page, on two real stations under
// Xvfb, each in a network namespace of its own: on each the operator adds the
// group in the multicast dialog (a receiver on one, a sender on the other),
// selects it and presses Start. The receiver names the sender, both
// meters move, Stop returns both to idle, and each entry is in its saved
// phonebook. The two stations take turns with the one pointer of the display:
// each waits for a mark the other leaves in the shared folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <wx/stattext.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "DialogDriver.h"
#include "MainWindowInChild.h"
#include "OperatorHand.h"
#include "XDisplay.h"
#include "common/Phonebook.h"
#include "ui/LevelMeter.h"
#include "ui/MainDlg.h"
#include "ui/StatusPanel.h"
#include "ui/pages/PhonebookPage.h"
#include "support/NetNamespace.h"

namespace fs = std::filesystem;
using namespace OperatorHand;
using DialogDriver::Screenshot;
using DialogDriver::WaitUntil;

namespace {

constexpr auto kPatience = std::chrono::seconds(120);
constexpr int kMulticast = 128;
constexpr int kAdd = 4003, kStart = 4007, kName = 4027, kAddress = 4013;
constexpr int kDlgName = 4101, kDlgAddress = 4102, kDlgTransmit = 4105, kDlgCompression = 4112;
const char kGroup[] = "239.255.31.7";

void Mark(const fs::path& root, const char* name) { std::ofstream(root / name) << name; }

bool AwaitMark(const fs::path& root, const char* name) {
    return WaitUntil([&] { return fs::exists(root / name); }, kPatience);
}

std::string Panel(CPhonebookPage* page, int id) {
    return static_cast<CStatusPanel*>(page->Control(id))->Text().utf8_string();
}

// The multicast page up and idle, in front.
CPhonebookPage* ShowMulticastPage(CMainDlg& dlg) {
    wxTopLevelWindow* frame = dlg.Window();
    if (!WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }, kPatience)) {
        ADD_FAILURE() << "call state " << dlg.Logic().CallState();
        return nullptr;
    }
    if (!KeyUntil(frame, '3', wxMOD_ALT, [&] { return dlg.ActivePageKind() == kMulticast; }, kPatience)) {
        ADD_FAILURE() << "the page shown is of kind " << dlg.ActivePageKind();
        return nullptr;
    }
    return dlg.PhonebookPage(kMulticast);
}

// Adds the entry through the page's dialog; the sender's also switches to
// Transmit, which opens the format choices.
bool AddGroup(CPhonebookPage* page, const std::string& name, bool sender) {
    CDestinationDlg* box = nullptr;
    CDialogSteps steps(kPatience);
    steps.Add(TypeStep(box, kDlgName, name));
    steps.Add(TypeStep(box, kDlgAddress, kGroup));
    if (sender) steps.Add(ClickStep(box, kDlgTransmit, [&box] { return box->Control(kDlgCompression)->IsEnabled(); }));
    steps.Add([&box, sender](int&) {
        Screenshot(box, sender ? "dialog-multicast-sender-filled" : "dialog-multicast-receiver-filled");
        EXPECT_TRUE(ClickOn(box->Control(wxID_OK)));
        return true;
    });
    return AddThroughDialog(page->Control(kAdd), "Multicast Destination", steps, box, kPatience);
}

// Presses Start (or Stop) once the button takes a click.
bool Press(CPhonebookPage* page) {
    wxWindow* button = page->Control(kStart);
    return WaitUntil([&] { return button->IsEnabled(); }, kPatience) && ClickOn(button);
}

bool MeterMoves(CPhonebookPage* page) {
    CLevelMeter* meter = page->Meter();
    return WaitUntil([&] { return meter->Model().IsActive() && meter->Model().Level(0) > 0; }, kPatience);
}

// The script of each station, then the window closes.
CMainDlgHooks Closing(std::function<void(CMainDlg&)> script) {
    CMainDlgHooks hooks;
    hooks.onShown = [script](CMainDlg& dlg) {
        script(dlg);
        if (dlg.Window() && dlg.Window()->IsShown()) dlg.Window()->Close();
    };
    return hooks;
}

std::string StationIni(const char* name, int x, int y) {
    return std::string("[Main]\nNoSplash=1\nFastCPU=1\nLibrary=0\nXPos=") + std::to_string(x) +
           "\nYPos=" + std::to_string(y) + "\nIDString=" + name + "\n[Audio]\nInterface=1\n";
}

}  // namespace

TEST(MulticastRoadTest, OperatorStartsSenderAndReceiverFromThePagesAndStopsBoth) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    CTestNetwork net("sr");
    if (!net.IsUp()) GTEST_SKIP() << net.Why();
    const fs::path root = fs::temp_directory_path() / ("velmora_mcroad_" + std::to_string(getpid()));
    const fs::path s = root / "s", r = root / "r";
    fs::create_directories(s);
    fs::create_directories(r);

    // The receiver listens first, so that it hears the sender from its first packet.
    CMainDlgHooks receiver = Closing([&root](CMainDlg& dlg) {
        CPhonebookPage* page = ShowMulticastPage(dlg);
        ASSERT_NE(page, nullptr) << "the receiver's multicast page never came up";
        ASSERT_TRUE(AddGroup(page, "From the group", false));
        ASSERT_NE(dlg.Phonebook().FindEntry("From the group", kMulticast), nullptr);
        ASSERT_TRUE(Press(page));
        ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 50; }, kPatience))
            << "receiver's call state " << dlg.Logic().CallState();
        EXPECT_EQ(Panel(page, kAddress), std::string("Addr: ") + kGroup);
        EXPECT_FALSE(page->Control(kAdd)->IsEnabled());
        Mark(root, "receiving");

        ASSERT_TRUE(AwaitMark(root, "sending")) << "the sender never started";
        dlg.Window()->Raise();
        auto status = [&] { return static_cast<wxStaticText*>(dlg.Control(MainControl::kStatus))->GetLabel(); };
        EXPECT_TRUE(WaitUntil([&] { return status().Contains("Studio S"); }, kPatience)) << status();
        EXPECT_EQ(Panel(page, kName), "Name: From the group");
        EXPECT_TRUE(MeterMoves(page)) << "the receiver's meter stayed still";
        Screenshot(dlg.Window(), "page-multicast-receiving");
        ASSERT_TRUE(Press(page));  // Stop
        EXPECT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 16; }, kPatience))
            << "receiver's call state " << dlg.Logic().CallState();
        EXPECT_TRUE(page->Control(kAdd)->IsEnabled());
        EXPECT_EQ(Panel(page, kName), "");
        Mark(root, "receiver-idle");
    });
    CMainDlgHooks sender = Closing([&root](CMainDlg& dlg) {
        ASSERT_TRUE(AwaitMark(root, "receiving")) << "the receiver never started";
        CPhonebookPage* page = ShowMulticastPage(dlg);
        ASSERT_NE(page, nullptr) << "the sender's multicast page never came up";
        ASSERT_TRUE(AddGroup(page, "To the group", true));
        const PhonebookEntry* added = dlg.Phonebook().FindEntry("To the group", kMulticast);
        ASSERT_NE(added, nullptr);
        EXPECT_STREQ(added->connection.address, kGroup);
        ASSERT_TRUE(Press(page));
        ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 50; }, kPatience))
            << "sender's call state " << dlg.Logic().CallState();
        EXPECT_EQ(Panel(page, kAddress), std::string("Addr: ") + kGroup);
        EXPECT_TRUE(MeterMoves(page)) << "the sender's meter stayed still";
        dlg.Window()->Raise();
        Screenshot(dlg.Window(), "page-multicast-connected");
        Mark(root, "sending");

        ASSERT_TRUE(AwaitMark(root, "receiver-idle")) << "the receiver never stopped";
        dlg.Window()->Raise();
        ASSERT_TRUE(Press(page));  // Stop
        EXPECT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 16; }, kPatience))
            << "sender's call state " << dlg.Logic().CallState();
        EXPECT_TRUE(page->Control(kAdd)->IsEnabled());
    });

    auto into = [&net](char station, const char* device) {
        return [&net, station, device] {
            setenv("VELMORA_VIRTUAL_AUDIO", device, 1);
            // Never left: the child is the station from here on.
            return (new CNamespaceScope(net, station))->IsIn();
        };
    };
    const pid_t receiving = StartMainWindowInChild(r, StationIni("Studio R", 0, 0), receiver,
                                                   into('r', "Virtual R,tone=440"));
    // Side by side, never over each other: a window that comes up late on top of the other
    // station's button would take the click meant for it.
    const pid_t sending = StartMainWindowInChild(s, StationIni("Studio S", 560, 520), sender,
                                                 into('s', "Virtual S,tone=1000,level=0.25"));
    EXPECT_EQ(WaitForMainWindowChild(receiving, std::chrono::seconds(400)), 0);
    EXPECT_EQ(WaitForMainWindowChild(sending, std::chrono::seconds(60)), 0);

    // Each entry reached its station's phonebook file.
    for (const auto& [dir, name] : {std::pair{r, "From the group"}, std::pair{s, "To the group"}}) {
        CPhonebook saved;
        saved.Init((dir / "My Phonebook.Pb").c_str());
        ASSERT_TRUE(saved.Load(true)) << dir;
        const PhonebookEntry* entry = saved.FindEntry(name, kMulticast);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_STREQ(entry->connection.address, kGroup);
    }
    if (!HasFailure()) fs::remove_all(root);
}
