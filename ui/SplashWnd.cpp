#include "ui/SplashWnd.h"

#include <wx/dcbuffer.h>
#include <wx/frame.h>
#include <wx/graphics.h>

#include "ui/Resources.h"
#include "ui/framework/GuiPump.h"

namespace {

int g_up = 0;

// Our own picture: a deep green field with a lighter band and the name.
void PaintSplash(wxDC& dc, const wxSize& size) {
    dc.GradientFillLinear(wxRect(0, 0, size.x, size.y), wxColour(0x11, 0x33, 0x11), wxColour(0x44, 0x66, 0x55),
                          wxSOUTH);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(0xBB, 0xEE, 0xCC)));
    dc.DrawRectangle(0, size.y * 2 / 3, size.x, 4);
    // Five rising bars: a level meter as the emblem.
    const wxColour bars[] = {wxColour(0x44, 0xFF, 0x44), wxColour(0x44, 0xFF, 0x44), wxColour(0xFF, 0xFF, 0x44),
                             wxColour(0xFF, 0x44, 0x44), wxColour(0xFF, 0xAA, 0xAA)};
    for (int i = 0; i < 5; ++i) {
        dc.SetBrush(wxBrush(bars[i]));
        const int h = 18 + i * 12;
        dc.DrawRectangle(36 + i * 16, size.y * 2 / 3 - 12 - h, 10, h);
    }
    wxFont title(wxFontInfo(30).Family(wxFONTFAMILY_SWISS).Bold());
    dc.SetFont(title);
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText("Velmora", 140, 44);
    wxFont subtitle(wxFontInfo(18).Family(wxFONTFAMILY_SWISS));
    dc.SetFont(subtitle);
    dc.SetTextForeground(wxColour(0xBB, 0xEE, 0xCC));
    dc.DrawText("Transvoria", 142, 96);
    wxFont small(wxFontInfo(10).Family(wxFONTFAMILY_SWISS));
    dc.SetFont(small);
    dc.SetTextForeground(wxColour(0xDD, 0xDD, 0xDD));
    dc.DrawText(wxString::Format("%s  -  starting...", kVersionText), 36, size.y * 2 / 3 + 16);
    dc.DrawText(kMakerAddress, 36, size.y - 28);
}

}  // namespace

CSplashWnd* CSplashWnd::Show() {
    auto* splash = new CSplashWnd;
    splash->m_frame = new wxFrame(nullptr, wxID_ANY, "Velmora start-up", wxDefaultPosition,
                                  wxSize(480, 260), wxFRAME_NO_TASKBAR | wxSTAY_ON_TOP | wxBORDER_NONE);
    splash->m_frame->SetBackgroundStyle(wxBG_STYLE_PAINT);
    splash->m_frame->Bind(wxEVT_PAINT, [frame = splash->m_frame](wxPaintEvent&) {
        wxAutoBufferedPaintDC dc(frame);
        PaintSplash(dc, frame->GetClientSize());
    });
    // Neither Enter, Escape nor the window manager's close takes it down.
    splash->m_frame->Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& e) { e.Veto(); });
    splash->m_frame->CentreOnScreen();
    splash->m_frame->Show();
    splash->m_frame->Update();
    splash->m_hwnd = CreateWindowHandle(GuiQueue(), splash);
    SetTimer(splash->m_hwnd, kSelfCloseTimer, kLongestShowMs);
    ++g_up;
    return splash;
}

int CSplashWnd::CountUp() { return g_up; }

CSplashWnd::~CSplashWnd() {
    if (m_frame) m_frame->Destroy();
    --g_up;
}

LRESULT CSplashWnd::WindowProc(UINT message, WPARAM, LPARAM) {
    if (message == kCloseRequest || (message == WM_TIMER)) Close();  // nothing may follow: it is gone
    return 0;
}

void CSplashWnd::Close() {
    KillTimer(m_hwnd, kSelfCloseTimer);
    DestroyWindowHandle(m_hwnd);
    delete this;
}
