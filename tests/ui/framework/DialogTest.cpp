// The framework's Windows-shaped calls on a toolkit window (under Xvfb).
#include "ui/framework/Dialog.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/frame.h>

#include <string>
#include <vector>

#include "../WxTestEnvironment.h"

namespace {

std::vector<std::string> g_asserts;

void RecordAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
    (void)file;
    (void)line;
    (void)func;
    g_asserts.push_back(std::string(cond.utf8_str()) + ": " + std::string(msg.utf8_str()));
}

}  // namespace

// Call states 16, 17, 16 accept dropped files twice in a row: Windows takes
// the repeat, and so must the framework, without a toolkit assertion (whose
// box would hold the GUI thread and with it every later report).
TEST(DialogTest, DragAcceptFilesMayBeRepeated) {
    if (!WxUp()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    wxAssertHandler_t previous = wxSetAssertHandler(RecordAssert);
    g_asserts.clear();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "DialogTest");
    CDialog::DragAcceptFiles(frame, true);
    CDialog::DragAcceptFiles(frame, true);
    EXPECT_NE(frame->GetDropTarget(), nullptr);
    CDialog::DragAcceptFiles(frame, false);
    CDialog::DragAcceptFiles(frame, false);
    EXPECT_EQ(frame->GetDropTarget(), nullptr);
    CDialog::DragAcceptFiles(frame, true);
    EXPECT_NE(frame->GetDropTarget(), nullptr);
    CDialog::DragAcceptFiles(nullptr, true);
    EXPECT_TRUE(g_asserts.empty()) << g_asserts.front();
    frame->Destroy();
    wxSetAssertHandler(previous);
}
