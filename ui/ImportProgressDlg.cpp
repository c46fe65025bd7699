#include "ui/ImportProgressDlg.h"

#include <wx/activityindicator.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "ui/framework/MessageBox.h"

CImportProgressDlg::CImportProgressDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Downloading...", wxDefaultPosition, wxDefaultSize, wxCAPTION) {
    m_translator.SetSection(2);
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto* animation = new wxActivityIndicator(this, kAnimation);
    animation->Start();  // runs while the dialog is open
    column->Add(animation, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 10);
    m_name = new wxStaticText(this, kFileName, "", wxDefaultPosition, wxSize(340, -1),
                              wxST_ELLIPSIZE_MIDDLE | wxST_NO_AUTORESIZE);
    column->Add(m_name, 0, wxEXPAND | wxLEFT | wxRIGHT, 14);
    m_bar = new wxGauge(this, kProgress, 100, wxDefaultPosition, wxSize(340, 18));
    column->Add(m_bar, 0, wxEXPAND | wxALL, 14);
    auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
    column->Add(cancel, 0, wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT | wxBOTTOM, 14);
    SetSizerAndFit(column);
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { AskCancel(); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { AskCancel(); });
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_ESCAPE) {
            AskCancel();
            return;
        }
        e.Skip();
    });
    CentreOnParent();
}

void CImportProgressDlg::SetFileName(const std::string& name) { m_name->SetLabel(wxString::FromUTF8(name)); }

bool CImportProgressDlg::SetProgress(int percent) {
    if (m_cancelled) return false;
    m_bar->SetValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
    return true;
}

int CImportProgressDlg::Progress() const { return m_bar->GetValue(); }

void CImportProgressDlg::AskCancel() {
    if (m_asking) return;  // the timer keeps ticking under the question
    m_asking = true;
    const int answer = AfxMessageBox(nullptr, m_translator.GetSectionText(2, 25, "Cancel the operation?"),
                                     m_translator.GetSectionText(CTranslator::kErrorSection, 1, "Confirm?"),
                                     MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND);
    m_cancelled = answer == IDYES;
    m_asking = false;
}
