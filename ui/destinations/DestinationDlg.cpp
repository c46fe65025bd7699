#include "ui/destinations/DestinationDlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "ui/ColourTriple.h"
#include "ui/HoverButton.h"

CDestinationDlg::CDestinationDlg(wxWindow* parent, const char* caption, int section, CDestinationLogic& logic)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(caption)), m_section(section), m_logic(logic) {
    m_translator.SetSection(section);
    SetTitle(wxString::FromUTF8(Text(0, caption)));
}

int CDestinationDlg::Run() {
    SetBackgroundColour(WxColour(m_colours.background));
    auto* column = new wxBoxSizer(wxVERTICAL);
    BuildControls(*column);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* ok = new CHoverButton(this, wxID_OK, "OK", wxDefaultPosition, wxSize(90, 28));
    auto* cancel = new CHoverButton(this, wxID_CANCEL, "Cancel", wxDefaultPosition, wxSize(90, 28));
    for (CHoverButton* b : {ok, cancel}) {
        b->SetColours(m_colours.otherText, m_colours.background, m_colours.face);
        Remember(b->GetId(), b);
    }
    buttons->AddStretchSpacer();
    buttons->Add(ok, 0, wxRIGHT, 8);
    buttons->Add(cancel, 0);
    column->Add(buttons, 0, wxEXPAND | wxALL, 10);
    SetSizerAndFit(column);
    CentreOnParent();
    Bind(wxEVT_BUTTON, [this](wxCommandEvent& e) {
        if (e.GetId() == wxID_OK)
            OnOk();
        else if (e.GetId() == wxID_CANCEL)
            EndModal(wxID_CANCEL);
        else
            e.Skip();
    });
    return ShowModal();
}

void CDestinationDlg::OnOk() {
    if (Accept()) EndModal(wxID_OK);
}

bool CDestinationDlg::Refuse(const DestinationRefusal& refusal) {
    if (!refusal) return true;
    wxMessageDialog box(this, wxString::FromUTF8(Text(refusal.line, refusal.text)),
                        wxString::FromUTF8(m_translator.GetSectionText(CTranslator::kErrorSection, 0, "Error...")),
                        wxOK | wxICON_ERROR);
    box.ShowModal();
    if (wxWindow* focus = Control(refusal.focusId)) focus->SetFocus();
    return false;
}

wxWindow* CDestinationDlg::Remember(int id, wxWindow* window) {
    m_controls[id] = window;
    return window;
}

wxWindow* CDestinationDlg::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDestinationDlg::SetTip(int id, const char* tip) {
    if (!m_translator.IsDefaultLanguage()) return;  // tips exist in English only
    if (wxWindow* w = Control(id)) w->SetToolTip(tip);
}

wxStaticText* CDestinationDlg::Label(wxWindow* parent, int id, int line, const char* text, bool question) {
    auto* label = new wxStaticText(parent, id ? id : wxID_ANY, wxString::FromUTF8(Text(line, text)));
    label->SetForegroundColour(WxColour(question ? m_colours.otherText : m_colours.buttonText));
    if (id) Remember(id, label);
    return label;
}

wxTextCtrl* CDestinationDlg::Edit(wxWindow* parent, int id, const std::string& value, int maxChars, int width) {
    auto* edit = new wxTextCtrl(parent, id, wxString::FromUTF8(value.c_str()), wxDefaultPosition, wxSize(width, -1));
    edit->SetMaxLength(static_cast<unsigned long>(maxChars));
    edit->SetBackgroundColour(WxColour(m_colours.face));
    edit->SetForegroundColour(WxColour(m_colours.buttonText));
    Remember(id, edit);
    return edit;
}

wxRadioButton* CDestinationDlg::Radio(wxWindow* parent, int id, int line, const char* text, bool firstOfGroup) {
    wxRadioButton* none = nullptr;
    if (firstOfGroup) {
        none = new wxRadioButton(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
        none->Hide();
    }
    auto* radio = new wxRadioButton(parent, id, wxString::FromUTF8(Text(line, text)));
    radio->SetForegroundColour(WxColour(m_colours.buttonText));
    Remember(id, radio);
    if (none) m_noneOfGroup[radio] = none;
    return radio;
}

void CDestinationDlg::CheckInGroup(wxRadioButton* radio, bool on) {
    if (on) {
        radio->SetValue(true);
        return;
    }
    if (!radio->GetValue()) return;
    // Find the group's hidden member: the one registered for the group's first radio.
    for (wxWindow* w = radio; w; w = w->GetPrevSibling()) {
        auto* r = dynamic_cast<wxRadioButton*>(w);
        if (!r) continue;
        auto it = m_noneOfGroup.find(r);
        if (it != m_noneOfGroup.end()) {
            it->second->SetValue(true);
            return;
        }
    }
}

wxCheckBox* CDestinationDlg::Check(wxWindow* parent, int id, int line, const char* text) {
    auto* check = new wxCheckBox(parent, id, wxString::FromUTF8(Text(line, text)));
    check->SetForegroundColour(WxColour(m_colours.buttonText));
    Remember(id, check);
    return check;
}

wxChoice* CDestinationDlg::Combo(wxWindow* parent, int id, int width) {
    auto* combo = new wxChoice(parent, id, wxDefaultPosition, wxSize(width, -1));
    Remember(id, combo);
    return combo;
}
