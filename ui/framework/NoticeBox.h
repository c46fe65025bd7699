#pragma once
// A message box that does not wait: reports from the network and the call
// engine arrive while the station runs, and a modal box per report would
// stack without limit and hold up the window behind it. One box per kind of
// report; a later report of the same kind replaces the text of the box that
// is still open. Closing the owner closes the box.
//
// GUI thread only.
#include <string>

#include "platform/MessageBoxCodes.h"
#include "platform/WindowMessages.h"

class wxDialog;
class wxStaticText;

class CNoticeBox {
public:
    CNoticeBox(const char* caption, UINT style);  // style: MB_ICONERROR, MB_ICONWARNING, ...
    ~CNoticeBox();
    CNoticeBox(const CNoticeBox&) = delete;
    CNoticeBox& operator=(const CNoticeBox&) = delete;

    // Opens the box on the owner, or gives the open box the new text.
    void Show(HWND owner, const std::string& text);
    void Close();
    bool IsOpen() const { return m_box != nullptr; }

private:
    void Open(HWND owner, const std::string& text);

    std::string m_caption;
    UINT m_style;
    wxDialog* m_box = nullptr;
    wxStaticText* m_text = nullptr;
};
