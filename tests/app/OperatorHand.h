#pragma once
// The operator's hand on the program's windows in a test child: clicks that
// wait until the pointer is over the control, typing into edits, and a
// modal dialog driven step by step from a timer, each step waiting until its
// effect is seen, so a slow machine only makes the road slower.
#include <gtest/gtest.h>

#include <wx/dialog.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "DialogDriver.h"
#include "XDisplay.h"
#include "ui/destinations/DestinationDlg.h"

namespace OperatorHand {

using DialogDriver::Clock;

// A click that lands: the pointer moves onto the control, and the button goes
// down only once the display reports the pointer over it (a window just shown
// on a busy machine may not be where the toolkit puts it yet).
inline bool ClickOn(wxWindow* control, std::chrono::seconds patience = std::chrono::seconds(60)) {
    wxUIActionSimulator sim;
    auto over = [control] {
        wxPoint at;
        for (wxWindow* w = wxFindWindowAtPointer(at); w; w = w->GetParent())
            if (w == control) return true;
        return false;
    };
    const bool landed = DialogDriver::WaitUntil([&] {
        const wxRect r = control->GetScreenRect();
        sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
        return over();
    }, patience);
    if (landed) sim.MouseClick();
    return landed;
}

// The pointer rests over the window: with no window manager on the display,
// keys go to the window under the pointer.
inline bool PointAt(wxWindow* window, std::chrono::seconds patience = std::chrono::seconds(60)) {
    wxUIActionSimulator sim;
    return DialogDriver::WaitUntil([&] {
        const wxRect r = window->GetScreenRect();
        sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
        wxPoint at;
        for (wxWindow* w = wxFindWindowAtPointer(at); w; w = w->GetParent())
            if (w == window) return true;
        return false;
    }, patience);
}

inline void Key(int key, int modifiers = wxMOD_NONE) {
    wxUIActionSimulator sim;
    sim.Char(key, modifiers);
}

// A key for the window, pressed again while it shows no effect: the
// keyboard may be with another program's window, so the window is given the
// keyboard before every press.
inline bool KeyUntil(wxTopLevelWindow* window, int key, int modifiers, const std::function<bool()>& done,
                     std::chrono::seconds patience = std::chrono::seconds(120)) {
    const auto deadline = Clock::now() + patience;
    CXDisplay x;
    while (Clock::now() < deadline) {
        window->Raise();
        if (!PointAt(window)) return false;
        x.Focus(x.FindWindowOf(window->GetTitle().utf8_string(), getpid()));
        Key(key, modifiers);
        if (DialogDriver::WaitUntil(done, std::chrono::seconds(5))) return true;
    }
    return false;
}

inline wxTopLevelWindow* FindTopLevel(const wxString& title) {
    for (wxWindow* w : wxTopLevelWindows) {
        auto* top = dynamic_cast<wxTopLevelWindow*>(w);
        if (top && top->IsShown() && top->GetTitle().Contains(title)) return top;
    }
    return nullptr;
}

class CDialogSteps {
public:
    using Step = std::function<bool(int& phase)>;  // true once done; acts by phase
    explicit CDialogSteps(std::chrono::seconds patience) : m_deadline(Clock::now() + patience) {}
    void Add(Step step) { m_steps.push_back(std::move(step)); }
    void Tick(wxDialog* box) {
        if (m_busy || Done()) return;
        m_busy = true;  // a click inside lets the toolkit run the timer again
        if (Clock::now() > m_deadline) {
            ADD_FAILURE() << "dialog step " << m_at << " not done, phase " << m_phase;
            m_failed = true;
            box->EndModal(wxID_CANCEL);
        } else if (m_steps[m_at](m_phase)) {
            ++m_at;
            m_phase = 0;
        }
        m_busy = false;
    }
    bool Done() const { return m_failed || m_at >= m_steps.size(); }
    bool Failed() const { return m_failed; }

private:
    std::vector<Step> m_steps;
    Clock::time_point m_deadline;
    size_t m_at = 0;
    int m_phase = 0;
    bool m_busy = false, m_failed = false;
};

// Clicks into the edit, selects what it holds and types the text over it.
// Done once the edit holds the text (or `held`, what an edit limited to its
// field keeps of a longer one). Another program's window may still hold
// the keyboard when the dialog opens (no window manager hands it over): the
// dialog asks for it, and the keys go again after a while without effect.
inline CDialogSteps::Step TypeStep(CDestinationDlg*& box, int id, std::string text, std::string held = {}) {
    if (held.empty()) held = text;
    return [&box, id, text, held](int& phase) {
        auto* edit = static_cast<wxTextCtrl*>(box->Control(id));
        if (edit->GetValue().utf8_string() == held) return true;
        if (phase++ % 25 != 0) return false;  // the timer ticks every 200 ms
        box->Raise();
        EXPECT_TRUE(ClickOn(edit)) << "the pointer never got over edit " << id;
        wxUIActionSimulator sim;
        sim.Char('a', wxMOD_CONTROL);
        sim.Text(text.c_str());
        return false;
    };
}

// Clicks a radio button or check box; done once the control it opens (or
// the clicked one itself) shows the effect.
inline CDialogSteps::Step ClickStep(CDestinationDlg*& box, int id, std::function<bool()> done) {
    return [&box, id, done](int& phase) {
        if (phase++ == 0) {
            EXPECT_TRUE(ClickOn(box->Control(id))) << "the pointer never got over control " << id;
        }
        return phase > 1 && done();
    };
}

// Runs the steps on the destination dialog of that caption, opened by the
// click on the page's Add button; true once the dialog has closed.
inline bool AddThroughDialog(wxWindow* addButton, const wxString& caption, CDialogSteps& steps, CDestinationDlg*& box,
                             std::chrono::seconds patience) {
    wxTimer driver;
    driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        box = dynamic_cast<CDestinationDlg*>(FindTopLevel(caption));
        if (box && box->IsShownOnScreen()) steps.Tick(box);
    });
    driver.Start(200);
    const bool clicked = ClickOn(addButton, patience);
    const bool closed = clicked && DialogDriver::WaitUntil([&] { return steps.Done() && !FindTopLevel(caption); }, patience);
    driver.Stop();
    return closed && !steps.Failed();
}

}  // namespace OperatorHand
