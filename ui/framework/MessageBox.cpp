#include "ui/framework/MessageBox.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "ui/framework/Dialog.h"

namespace {

int AutoCloseMs() {
    const char* value = std::getenv("VELMORA_MESSAGEBOX_TIMEOUT_MS");
    if (!value) return 0;
    int ms = 0;
    const auto [end, ec] = std::from_chars(value, value + std::strlen(value), ms);
    return ec == std::errc() && end != value && ms > 0 ? ms : 0;
}

}  // namespace

int AfxMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
    const bool yesNo = (style & 0x0F) == MB_YESNO;
    const bool okCancel = (style & 0x0F) == MB_OKCANCEL;
    wxWindow* parent = CDialog::ViewOf(owner);
    wxDialog box(parent, wxID_ANY, wxString::FromUTF8(caption ? caption : ""), wxDefaultPosition, wxDefaultSize,
                 wxDEFAULT_DIALOG_STYLE);
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    wxArtID art = wxART_INFORMATION;
    switch (style & 0xF0) {
        case MB_ICONERROR: art = wxART_ERROR; break;
        case MB_ICONQUESTION: art = wxART_QUESTION; break;
        case MB_ICONWARNING: art = wxART_WARNING; break;
        default: break;
    }
    row->Add(new wxStaticBitmap(&box, wxID_ANY, wxArtProvider::GetBitmap(art, wxART_MESSAGE_BOX)), 0, wxALL, 10);
    row->Add(new wxStaticText(&box, wxID_ANY, wxString::FromUTF8(text ? text : "")), 1, wxALL | wxEXPAND, 10);
    top->Add(row, 1, wxEXPAND);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    int defaultAnswer = IDOK;
    auto addButton = [&](int wxId, int answer) {
        auto* b = new wxButton(&box, wxId);
        b->Bind(wxEVT_BUTTON, [&box, answer](wxCommandEvent&) { box.EndModal(answer); });
        buttons->Add(b, 0, wxALL, 5);
        return b;
    };
    if (yesNo) {
        addButton(wxID_YES, IDYES)->SetDefault();
        addButton(wxID_NO, IDNO);
        defaultAnswer = IDNO;
        box.SetEscapeId(wxID_NO);
    } else if (okCancel) {
        addButton(wxID_OK, IDOK)->SetDefault();
        addButton(wxID_CANCEL, IDCANCEL);
        defaultAnswer = IDCANCEL;
    } else {
        addButton(wxID_OK, IDOK)->SetDefault();
        box.SetEscapeId(wxID_OK);
    }
    box.Bind(wxEVT_CLOSE_WINDOW, [&box, defaultAnswer](wxCloseEvent&) { box.EndModal(defaultAnswer); });
    top->Add(buttons, 0, wxALIGN_RIGHT | wxALL, 5);
    box.SetSizerAndFit(top);
    box.CentreOnScreen();

    wxTimer autoClose;
    if (const int ms = AutoCloseMs()) {
        autoClose.Bind(wxEVT_TIMER, [&box, defaultAnswer](wxTimerEvent&) {
            if (box.IsModal()) box.EndModal(defaultAnswer);
        });
        autoClose.StartOnce(ms);
    }
    const int answer = box.ShowModal();
    autoClose.Stop();
    return answer;
}
