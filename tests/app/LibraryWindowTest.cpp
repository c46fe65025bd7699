// The audio library box on the main window, on an X display: files dropped
// on the library panel are imported one after another with the progress
// dialog, the list shows the new clips and every control keeps its place.
// Each case runs the whole start-up in a child process and writes its
// screenshots to ui-screens/ in the build tree.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <wx/activityindicator.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.h"
#include "MainWindowInChild.h"
#include "XDisplay.h"
#include "ui/CodecApp.h"
#include "ui/ImportProgressDlg.h"
#include "ui/LibraryBox.h"
#include "ui/MainDlg.h"
#include "ui/framework/GuiPump.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using DialogDriver::Settle;
using DialogDriver::WaitUntil;

using DialogDriver::Screenshot;

// The shown children of a window: inside its client area, none overlapping a sibling.
void CheckChildren(wxWindow* window, const std::vector<wxWindow*>& children) {
    const wxRect client(window->ClientToScreen(wxPoint(0, 0)), window->GetClientSize());
    for (size_t i = 0; i < children.size(); ++i) {
        wxWindow* w = children[i];
        ASSERT_NE(w, nullptr) << i;
        EXPECT_TRUE(w->IsShownOnScreen()) << i;
        const wxRect r = w->GetScreenRect();
        EXPECT_GT(r.width, 0) << i;
        EXPECT_GT(r.height, 0) << i;
        EXPECT_TRUE(client.Contains(r)) << "child " << i << " at " << r.x << "," << r.y << " " << r.width << "x"
                                        << r.height << " outside its window";
        for (size_t j = i + 1; j < children.size(); ++j) {
            if (children[j] && w->GetParent() == children[j]->GetParent()) {
                EXPECT_FALSE(r.Intersects(children[j]->GetScreenRect())) << i << " overlaps " << j;
            }
        }
    }
}

struct LibraryWindowTest : ::testing::Test {
    CXDisplay m_x;
    fs::path m_dir;
    void SetUp() override {
        if (!m_x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
        if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox missing";
        m_dir = fs::temp_directory_path() / ("velmora_library_" + std::to_string(getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        if (!m_dir.empty()) fs::remove_all(m_dir);
    }
    void MakeWav(const std::string& name, int rate, int channels, double seconds) {
        const std::string cmd = "sox -q -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                                " -b 16 '" + (m_dir / name).string() + "' synth " + std::to_string(seconds) +
                                " sine 600 vol 0.5";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    // The program in a child, with an engine that places no calls; 0 when
    // every check in the child held.
    int Run(const std::string& ini, std::function<void(CMainDlg&)> script) {
        CMainDlgHooks hooks;
        hooks.makeEngine = [] { return std::unique_ptr<CMainEngine>(new CIdleEngine); };
        hooks.onShown = [script](CMainDlg& dlg) {
            script(dlg);
            if (dlg.Window() && dlg.Window()->IsShown()) dlg.Window()->Close();
        };
        return RunMainWindowInChild(m_dir, ini, hooks, std::chrono::seconds(180));
    }
};

const char kIni[] = "[Main]\nNoSplash=1\nFastCPU=1\nXPos=100\nYPos=80\nLibrary=1\nPage=1\n";

TEST_F(LibraryWindowTest, ThreeDroppedFilesAreImportedLastFirstWithTheProgressDialogAndListed) {
    MakeWav("Alpha.wav", 48000, 1, 1.0);
    MakeWav("Bravo.wav", 44100, 2, 1.0);
    MakeWav("Charlie.wav", 48000, 2, 0.5);
    const fs::path dir = m_dir;
    const int result = Run(kIni, [dir](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        CLibraryBox* box = dlg.LibraryBox();
        ASSERT_NE(box, nullptr);
        auto* list = dynamic_cast<wxListBox*>(dlg.Control(MainControl::kLibraryList));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetCount(), 0u);
        EXPECT_TRUE(fs::is_directory(dir / "Library"));

        // The drop, as the desktop delivers it to the panel.
        auto* files = new wxString[3];
        files[0] = (dir / "Alpha.wav").string();
        files[1] = (dir / "Bravo.wav").string();
        files[2] = (dir / "Charlie.wav").string();
        wxDropFilesEvent drop(wxEVT_DROP_FILES, 3, files);  // takes the names
        wxWindow* panel = dlg.Control(MainControl::kLibraryPanel);
        drop.SetEventObject(panel);
        panel->GetEventHandler()->ProcessEvent(drop);

        // The last dropped file comes first; hold its ticks while the dialog is looked at.
        CImportProgressDlg* progress = box->ProgressDialog();
        ASSERT_NE(progress, nullptr);
        box->ImportTimer().Stop();
        EXPECT_TRUE(box->Logic().Importing());
        EXPECT_EQ(box->Logic().QueuedCount(), 2u);
        EXPECT_TRUE(progress->IsShown());
        EXPECT_EQ(progress->GetTitle(), "Importing into the audio library...");
        auto* name = dynamic_cast<wxStaticText*>(progress->FindWindow(CImportProgressDlg::kFileName));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->GetLabel(), "Charlie.wav");
        EXPECT_TRUE(WaitUntil([&] { return progress->IsShownOnScreen(); }));
        Settle();
        CheckChildren(progress, {progress->FindWindow(CImportProgressDlg::kAnimation), name,
                                 progress->FindWindow(CImportProgressDlg::kProgress), progress->FindWindow(wxID_CANCEL)});
        Screenshot(progress, "library-import-progress");

        // Then the other two in turn (their slots tell the order).
        box->ImportTimer().Start(10);
        ASSERT_TRUE(WaitUntil([&] { return !box->Logic().Importing() && box->Logic().QueuedCount() == 0; }));
        EXPECT_EQ(box->ProgressDialog(), nullptr);

        // The list shows them in slot order, and the clips are whole.
        ASSERT_EQ(list->GetCount(), 3u);
        EXPECT_EQ(list->GetString(0).Trim(false), "1 Charlie");
        EXPECT_EQ(list->GetString(1).Trim(false), "2 Bravo");
        EXPECT_EQ(list->GetString(2).Trim(false), "3 Alpha");
        EXPECT_EQ(fs::file_size(dir / "Library" / "0001 Charlie.spcm"), 96000u);
        EXPECT_EQ(fs::file_size(dir / "Library" / "0003 Alpha.mpcm"), 96000u);
        EXPECT_NEAR(static_cast<double>(fs::file_size(dir / "Library" / "0002 Bravo.spcm")), 192000.0, 192000 * 0.02);
        EXPECT_EQ(list->GetSelection(), 0);
        EXPECT_TRUE(box->Logic().HasSelection());

        // A click on an entry selects its clip, and the player can play it.
        wxUIActionSimulator sim;
        frame->Raise();
        const wxRect r = list->GetScreenRect();
        const int row = list->GetCharHeight() + 8;
        sim.MouseMove(r.x + r.width / 2, r.y + row + row / 2 + 2);
        Settle();
        sim.MouseClick();
        EXPECT_TRUE(WaitUntil([&] { return box->Logic().SelectedSlot() == 2; })) << box->Logic().SelectedSlot();
        EXPECT_TRUE(WaitUntil([&] { return dlg.Control(MainControl::kPlay)->IsEnabled(); }));

        // Every control of the panel in place, the new rows within the list.
        std::vector<wxWindow*> controls;
        for (int id : {MainControl::kLibraryList, MainControl::kPosition, MainControl::kRemaining, MainControl::kAdd,
                       MainControl::kRemove, MainControl::kVoiceover, MainControl::kPlay, MainControl::kPause,
                       MainControl::kStop, MainControl::kCloseLibrary, MainControl::kFileLevelLabel,
                       MainControl::kFileLevel}) {
            controls.push_back(dlg.Control(id));
        }
        CheckChildren(panel, controls);
        CheckChildren(frame, {panel});
        Screenshot(frame, "main-library-clips");
    });
    EXPECT_EQ(result, 0);
    // The selection is kept for the next start.
    std::ifstream ini(m_dir / "Velmora.Ini");
    const std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Selection=2"), std::string::npos) << text;
}

TEST_F(LibraryWindowTest, CancelInTheProgressDialogAsksThenEndsOnlyThatFile) {
    MakeWav("Kept.wav", 48000, 1, 0.5);
    MakeWav("Dropped.wav", 48000, 2, 3.0);
    const fs::path dir = m_dir;
    const int result = Run(kIni, [dir](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        CLibraryBox* box = dlg.LibraryBox();
        box->ImportDropped({(dir / "Kept.wav").string(), (dir / "Dropped.wav").string()});
        box->ImportTimer().Stop();
        CImportProgressDlg* progress = box->ProgressDialog();
        ASSERT_NE(progress, nullptr);
        wxWindow* cancel = progress->FindWindow(wxID_CANCEL);
        ASSERT_TRUE(WaitUntil([&] { return cancel->IsShownOnScreen(); }));
        Settle();
        // The question is modal: the operator's Yes comes from a timer inside its loop.
        bool asked = false;
        wxTimer answer;
        answer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            for (wxWindow* w : wxTopLevelWindows) {
                auto* top = dynamic_cast<wxTopLevelWindow*>(w);
                if (!top || !top->IsShown() || top->GetTitle() != "Confirm?") continue;
                wxWindow* yes = top->FindWindow(wxID_YES);
                if (!yes) continue;
                answer.Stop();
                asked = true;
                wxUIActionSimulator sim;
                const wxRect r = yes->GetScreenRect();
                sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
                sim.MouseClick();
            }
        });
        answer.Start(200);
        wxUIActionSimulator sim;
        const wxRect r = cancel->GetScreenRect();
        sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
        Settle();
        sim.MouseClick();
        ASSERT_TRUE(WaitUntil([&] { return progress->Cancelled(); }));
        EXPECT_TRUE(asked);
        EXPECT_TRUE(progress->IsShown());  // the dialog waits for the next step
        box->ImportTimer().Start(10);
        ASSERT_TRUE(WaitUntil([&] { return !box->Logic().Importing() && box->Logic().QueuedCount() == 0; }));
        auto* list = dynamic_cast<wxListBox*>(dlg.Control(MainControl::kLibraryList));
        ASSERT_EQ(list->GetCount(), 1u);
        EXPECT_EQ(list->GetString(0).Trim(false), "1 Kept");
        EXPECT_FALSE(fs::exists(dir / "Library" / "0001 Dropped.spcm"));
    });
    EXPECT_EQ(result, 0);
}

TEST_F(LibraryWindowTest, DraggingAClipWithTheMouseMovesItAndItsNeighbours) {
    fs::create_directories(m_dir / "Library");
    for (const char* name : {"0001 One.mpcm", "0002 Two.mpcm", "0003 Three.mpcm", "0004 Four.mpcm"}) {
        std::ofstream(m_dir / "Library" / name) << std::string(9600, '\0');
    }
    const fs::path dir = m_dir;
    const int result = Run(kIni, [dir](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        CLibraryBox* box = dlg.LibraryBox();
        auto* list = dynamic_cast<wxListBox*>(dlg.Control(MainControl::kLibraryList));
        ASSERT_EQ(list->GetCount(), 4u);
        frame->Raise();
        Settle();
        // Row centres, from the list's own hit test.
        auto rowY = [&](int row) {
            for (int y = 0; y < list->GetClientSize().y; ++y) {
                if (list->HitTest(wxPoint(10, y)) == row) {
                    int end = y;
                    while (list->HitTest(wxPoint(10, end + 1)) == row) ++end;
                    return list->ClientToScreen(wxPoint(0, (y + end) / 2)).y;
                }
            }
            return -1;
        };
        const int x = list->GetScreenRect().x + list->GetClientSize().x / 2;
        const int from = rowY(3), to = rowY(0);
        ASSERT_GT(from, 0);
        ASSERT_GT(to, 0);
        wxUIActionSimulator sim;
        sim.MouseMove(x, from);
        Settle();
        sim.MouseDown();
        Settle();
        for (int y = from - 2; y >= to; y -= 4) {
            sim.MouseMove(x, y);
            wxMilliSleep(10);
            WaitUntil([] { return true; });
        }
        sim.MouseMove(x, to);
        ASSERT_TRUE(WaitUntil([&] { return box->DragLabel() != nullptr; }));
        Screenshot(frame, "library-drag");
        sim.MouseUp();
        ASSERT_TRUE(WaitUntil([&] { return box->DragLabel() == nullptr && list->GetString(0).Contains("Four"); }));
        EXPECT_EQ(list->GetString(1).Trim(false), "2 One");
        EXPECT_EQ(list->GetString(3).Trim(false), "4 Three");
        EXPECT_TRUE(fs::exists(dir / "Library" / "0001 Four.mpcm"));
        EXPECT_EQ(box->Logic().SelectedSlot(), 1);
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
