#pragma once
// Drives a modal dialog of the program on the X display as an operator
// would: the script runs once the dialog's window is on screen, clicks go
// through the toolkit's input simulator, and the checks see every control's
// place. Screenshots go to ui-screens/ in the build tree.
#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ui/framework/Dialog.h"
#include "ui/framework/GuiPump.h"

namespace DialogDriver {

using Clock = std::chrono::steady_clock;

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds patience = std::chrono::seconds(60)) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        if (wxEventLoopBase::GetActive()) {
            wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
            PumpGuiQueue();
        } else {
            PumpToolkitEvents();
        }
        wxMilliSleep(5);
    }
    return true;
}

inline void Settle() {
    const auto until = Clock::now() + std::chrono::milliseconds(300);
    WaitUntil([&] { return Clock::now() > until; });
}

inline void Click(wxWindow* window) {
    ASSERT_NE(window, nullptr);
    wxUIActionSimulator sim;
    const wxRect r = window->GetScreenRect();
    // Check boxes and radio buttons react on their box at the left.
    const bool box = dynamic_cast<wxCheckBox*>(window) || dynamic_cast<wxRadioButton*>(window);
    sim.MouseMove(box ? r.x + 8 : r.x + r.width / 2, r.y + r.height / 2);
    Settle();
    sim.MouseClick();
    Settle();
}

inline void Screenshot(wxWindow* window, const std::string& name) {
    Settle();
    const std::filesystem::path dir = std::filesystem::path(VELMORA_BINARY_DIR) / "ui-screens";
    std::filesystem::create_directories(dir);
    const wxRect r = window->GetScreenRect();
    const std::string cmd = "import -silent -window root -crop " + std::to_string(r.width) + "x" +
                            std::to_string(r.height) + "+" + std::to_string(r.x) + "+" + std::to_string(r.y) +
                            " +repage '" + (dir / (name + ".png")).string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// Every shown control lies inside the window's client area and overlaps no
// shown sibling; the check walks into panels and tab pages.
inline void CheckGeometry(wxWindow* parent, const wxRect& area) {
    std::vector<wxWindow*> shown;
    for (wxWindow* child : parent->GetChildren()) {
        if (!child->IsShownOnScreen() || child->IsTopLevel()) continue;
        const wxRect r = child->GetScreenRect();
        EXPECT_GT(r.width, 0) << child->GetId();
        EXPECT_GT(r.height, 0) << child->GetId();
        EXPECT_TRUE(area.Contains(r)) << "control " << child->GetId() << " (" << child->GetLabel() << ") at " << r.x
                                      << "," << r.y << " " << r.width << "x" << r.height << " outside " << area.x
                                      << "," << area.y << " " << area.width << "x" << area.height;
        shown.push_back(child);
        if (!child->GetChildren().empty()) CheckGeometry(child, r);
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->GetScreenRect().Intersects(shown[j]->GetScreenRect()))
                << shown[i]->GetId() << " (" << shown[i]->GetLabel() << ") overlaps " << shown[j]->GetId() << " ("
                << shown[j]->GetLabel() << ")";
}

inline void CheckGeometry(wxTopLevelWindow* window) {
    const wxRect client(window->ClientToScreen(wxPoint(0, 0)), window->GetClientSize());
    CheckGeometry(window, client);
}

// Every label 30 % longer, as a wordier language makes them, and the window
// laid out again.
inline void StretchTexts(wxWindow* parent) {
    for (wxWindow* child : parent->GetChildren()) {
        if (dynamic_cast<wxStaticText*>(child) || dynamic_cast<wxCheckBox*>(child) ||
            dynamic_cast<wxRadioButton*>(child)) {
            const wxString label = child->GetLabel();
            child->SetLabel(label + " " + wxString('w', (label.length() * 3 + 9) / 10));
            child->InvalidateBestSize();
        }
        StretchTexts(child);
    }
}

inline void Relayout(wxTopLevelWindow* window) {
    for (wxWindow* child : window->GetChildren()) child->InvalidateBestSize();
    window->GetSizer()->SetSizeHints(window);
    window->Layout();
    window->CentreOnScreen();
    Settle();
}

// Runs the dialog modally; the script gets its window once it is shown.
inline int Drive(CDialog& dialog, const std::function<void(wxTopLevelWindow*)>& script) {
    bool ran = false;
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        auto* view = dynamic_cast<wxTopLevelWindow*>(CDialog::ViewOf(dialog.GetSafeHwnd()));
        if (!ran && Clock::now() > giveUp) {
            timer.Stop();
            ADD_FAILURE() << "the dialog was not on screen within 60 s" << (view ? "" : " (no window made)");
            dialog.EndDialog(2);
            return;
        }
        if (ran || !view || !view->IsShownOnScreen()) return;
        ran = true;
        timer.Stop();
        Settle();
        view->Raise();
        script(view);
        // A script that failed early leaves the dialog to Cancel.
        if (!dialog.Ended()) dialog.EndDialog(2);
    });
    timer.Start(50);
    const int result = dialog.DoModal();
    timer.Stop();
    EXPECT_TRUE(ran);
    return result;
}

}  // namespace DialogDriver
