#include "ui/destinations/DestinationDlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstring>

#include "common/Codes.h"
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

void CDestinationDlg::AddReconnectGroup(wxSizer& to, const ReconnectIds& ids) {
    m_reconnect = ids;
    to.Add(Check(this, ids.autoCheck, ids.firstLine, "Auto reconnect"), 0, wxBOTTOM, 2);
    to.Add(Radio(this, ids.same, ids.firstLine + 1, "To the same destination.", true), 0, wxLEFT | wxBOTTOM, 2);
    to.Add(Radio(this, ids.other, ids.firstLine + 2, "To the following destination:"), 0, wxLEFT | wxBOTTOM, 2);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    wxChoice* kind = Combo(this, ids.kind, 110);
    kind->Append("ISDN");
    kind->Append("Network / IP");
    row->Add(kind, 0, wxRIGHT, 4);
    row->Add(Combo(this, ids.name, 170), 1);
    to.Add(row, 0, wxLEFT, 2);
    SetTip(ids.autoCheck, "Automatically reconnect when Velmora gets disconnected");
    SetTip(ids.same, "Reconnect to the same destination");
    SetTip(ids.other, "Reconnect to a different (backup?) destination");
    SetTip(ids.kind, "The type of connection used to auto-reconnect");
    SetTip(ids.name, "The name of the destination used to auto reconnect to");
}

void CDestinationDlg::StartReconnectGroup() {
    const ReconnectIds ids = m_reconnect;
    static_cast<wxCheckBox*>(Control(ids.autoCheck))->SetValue(m_logic.Entry().autoReconnect != 0);
    ShowReconnect();
    Control(ids.autoCheck)->Bind(wxEVT_CHECKBOX, [this, ids](wxCommandEvent&) {
        m_logic.SetAutoReconnect(static_cast<wxCheckBox*>(Control(ids.autoCheck))->GetValue());
        ShowReconnect();
    });
    for (const bool same : {true, false}) {
        Control(same ? ids.same : ids.other)->Bind(wxEVT_RADIOBUTTON, [this, same](wxCommandEvent&) {
            m_logic.SetSameDestination(same);
            ShowReconnect();
        });
    }
    auto* kind = static_cast<wxChoice*>(Control(ids.kind));
    kind->Bind(wxEVT_CHOICE, [this, kind](wxCommandEvent&) {
        m_logic.SetReconnectKind(kind->GetSelection() == 0 ? TRANSPORT_ISDN : TRANSPORT_TCP);
        ShowReconnect();
    });
    auto* names = static_cast<wxChoice*>(Control(ids.name));
    names->Bind(wxEVT_CHOICE, [this, names](wxCommandEvent&) {
        m_logic.SetReconnectName(names->GetSelection() < 0 ? "" : names->GetStringSelection().utf8_string());
    });
}

void CDestinationDlg::ShowReconnect() {
    const ReconnectIds& ids = m_reconnect;
    const PhonebookEntry& e = m_logic.Entry();
    const bool on = e.autoReconnect != 0;
    const bool same = m_logic.IsSameDestination();
    static_cast<wxRadioButton*>(Control(same ? ids.same : ids.other))->SetValue(true);
    Control(ids.same)->Enable(on);
    Control(ids.other)->Enable(on);
    auto* kind = static_cast<wxChoice*>(Control(ids.kind));
    auto* names = static_cast<wxChoice*>(Control(ids.name));
    kind->Enable(on && !same);
    names->Enable(on && !same);
    kind->SetSelection(e.reconnectKind == TRANSPORT_ISDN ? 0 : e.reconnectKind == TRANSPORT_TCP ? 1 : ids.kindItemOfOthers);
    names->Clear();
    for (const std::string& n : m_logic.ReconnectChoices()) names->Append(wxString::FromUTF8(n.c_str()));
    const std::string name(e.reconnectName, strnlen(e.reconnectName, sizeof(e.reconnectName)));
    names->SetStringSelection(wxString::FromUTF8(name.c_str()));
}
