#include "ui/framework/NoticeBox.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "ui/framework/Dialog.h"

CNoticeBox::CNoticeBox(const char* caption, UINT style) : m_caption(caption ? caption : ""), m_style(style) {}

CNoticeBox::~CNoticeBox() { Close(); }

void CNoticeBox::Show(HWND owner, const std::string& text) {
    if (!m_box) {
        Open(owner, text);
        return;
    }
    m_text->SetLabel(wxString::FromUTF8(text.c_str()));
    m_box->GetSizer()->Fit(m_box);
    m_box->Raise();
}

void CNoticeBox::Open(HWND owner, const std::string& text) {
    wxWindow* parent = CDialog::ViewOf(owner);
    // Not modal, so the owner's loop goes on running the station behind it.
    auto* box = new wxDialog(parent, wxID_ANY, wxString::FromUTF8(m_caption.c_str()), wxDefaultPosition,
                             wxDefaultSize, wxDEFAULT_DIALOG_STYLE);
    wxArtID art = wxART_INFORMATION;
    switch (m_style & 0xF0) {
        case MB_ICONERROR: art = wxART_ERROR; break;
        case MB_ICONWARNING: art = wxART_WARNING; break;
        default: break;
    }
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticBitmap(box, wxID_ANY, wxArtProvider::GetBitmap(art, wxART_MESSAGE_BOX)), 0, wxALL, 10);
    m_text = new wxStaticText(box, wxID_ANY, wxString::FromUTF8(text.c_str()));
    row->Add(m_text, 1, wxALL | wxEXPAND, 10);
    top->Add(row, 1, wxEXPAND);
    auto* ok = new wxButton(box, wxID_OK);
    ok->SetDefault();
    top->Add(ok, 0, wxALIGN_RIGHT | wxALL, 5);
    box->SetEscapeId(wxID_OK);
    box->SetSizerAndFit(top);
    ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    box->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Close(); });
    box->CentreOnScreen();
    m_box = box;
    box->Show();
    box->Raise();
}

void CNoticeBox::Close() {
    if (!m_box) return;
    wxDialog* box = m_box;
    m_box = nullptr;
    m_text = nullptr;
    box->Destroy();  // deferred by the toolkit until its events are done
}
