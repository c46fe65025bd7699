#pragma once
// The picture shown while the program starts. It lives on the GUI thread
// (the toolkit has only one) and closes itself on the close request
// (WM_USER+40, posted to its handle), or after kLongestShowMs, whichever
// comes first; then it deletes itself. Owners keep only its handle: a request
// sent or posted after it has gone fails harmlessly.
//
// Threads: GUI thread only.
#include "platform/WindowMessages.h"

class wxFrame;

class CSplashWnd : public CMessageTarget {
public:
    static constexpr UINT kCloseRequest = WM_USER + 40;
    static constexpr UINT_PTR kSelfCloseTimer = 110;
    static constexpr UINT kLongestShowMs = 8000;

    // Shows the splash centred on the screen; null when it cannot be made.
    static CSplashWnd* Show();
    HWND Handle() const { return m_hwnd; }
    // The number of splash windows up (for the tests).
    static int CountUp();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Close();

    CSplashWnd() = default;
    ~CSplashWnd() override;

    HWND m_hwnd = nullptr;
    wxFrame* m_frame = nullptr;
};
