#include "ui/GlobalSettingsDlg.h"

#include <wx/sizer.h>
#include <wx/toplevel.h>

#include "common/Settings.h"
#include "ui/ExplorerFileDialog.h"
#include "ui/HoverButton.h"
#include "ui/ImageButton.h"
#include "ui/ResourceBitmaps.h"
#include "ui/SettingsControls.h"

using namespace SettingsControls;

void CGlobalSettingsDlg::BuildView(wxTopLevelWindow& view) {
    const DialogColours& c = m_colours;
    view.SetTitle(Text(0, "Global Settings"));
    PaintBackground(view);
    m_logic.Load(CSettings(), m_phonebook);
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* grid = new wxFlexGridSizer(2, 8, 10);
    auto row = [&](int id, int line, const char* text, wxWindow* control) {
        grid->Add(Label(&view, id, Text(line, text), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(control, 0, wxALIGN_CENTER_VERTICAL);
    };
    m_id = Edit(&view, 1201, c, CGlobalSettingsLogic::kIdLength, 300);
    row(5047, 1, "Station identification:", m_id);
    m_language = List(&view, 1220, c, 300);
    row(5048, 7, "Language (from the next start):", m_language);

    auto* laws = new wxBoxSizer(wxHORIZONTAL);
    m_aLaw = Radio(&view, 1213, Text(12, "G.711 A-Law (Europe)"), c.otherText, true);
    m_uLaw = Radio(&view, 1214, Text(13, "G.711 u-Law (USA)"), c.otherText);
    laws->Add(m_aLaw, 0, wxRIGHT, 16);
    laws->Add(m_uLaw);
    grid->Add(Label(&view, 5050, Text(14, "Telephone coding:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(laws);
    m_fast = Check(&view, 1219, Text(9, "This PC is faster than 1 GHz"), c.otherText);
    grid->Add(Label(&view, 5049, Text(10, "Processor:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(m_fast);

    auto* location = new wxBoxSizer(wxHORIZONTAL);
    m_location = Edit(&view, 1211, c, 260, 240);
    location->Add(m_location, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    CImageButton* browse = AddImageButton(&view, 3, 3, Text(18, "Browse..."));
    browse->SetBitmap(130, kBitmapTransparent);
    browse->SetMinSize(wxSize(browse->GetBestSize().x, 28));
    location->Add(browse, 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(Label(&view, 5051, Text(17, "Library location:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(location);

    m_autoDial = Check(&view, 1215, Text(19, "Connect at start-up"), c.otherText);
    grid->Add(m_autoDial, 0, wxALIGN_CENTER_VERTICAL);
    grid->AddSpacer(0);
    m_kind = List(&view, 1216, c, 300);
    m_kind->Append("ISDN");
    m_kind->Append("Network / IP");
    m_kind->Append("Multicast Network");
    row(5054, 16, "Destination kind:", m_kind);
    m_name = List(&view, 1217, c, 300);
    row(5052, 4, "Destination:", m_name);
    top->Add(grid, 0, wxALL, 10);

    m_id->ChangeValue(wxString::FromUTF8(m_logic.IdString()));
    for (const std::string& language : m_logic.Languages()) m_language->Append(wxString::FromUTF8(language));
    if (m_logic.LanguageIndex() >= 0) m_language->SetSelection(m_logic.LanguageIndex());
    (m_logic.Law() == 4 ? m_uLaw : m_aLaw)->SetValue(true);
    m_fast->SetValue(m_logic.FastCpu());
    m_location->ChangeValue(wxString::FromUTF8(m_logic.Location()));
    m_autoDial->SetValue(m_logic.AutoDial());
    m_kind->SetSelection(m_logic.KindEntry());
    FillNames();

    m_language->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) { m_logic.SelectLanguage(e.GetSelection()); });
    m_aLaw->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_logic.SetLaw(2); });
    m_uLaw->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_logic.SetLaw(4); });
    m_fast->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) { m_logic.SetFastCpu(e.IsChecked()); });
    m_autoDial->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) {
        m_logic.SetAutoDial(e.IsChecked());
        m_kind->Enable(m_logic.AutoDial());
        m_name->Enable(m_logic.AutoDial());
    });
    m_kind->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) {
        m_logic.SelectKindEntry(e.GetSelection());
        FillNames();
    });
    m_name->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) { m_logic.SelectName(e.GetSelection()); });
    browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Browse(); });
    m_kind->Enable(m_logic.AutoDial());
    m_name->Enable(m_logic.AutoDial());

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    CHoverButton* ok = AddButton(&view, 1, "OK");
    CHoverButton* cancel = AddButton(&view, 2, "Cancel");
    ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
    buttons->Add(ok, 0, wxRIGHT, 10);
    buttons->Add(cancel);
    top->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    view.SetSizerAndFit(top);
    view.CentreOnScreen();
}

void CGlobalSettingsDlg::FillNames() {
    m_name->Clear();
    for (const std::string& name : m_logic.Names()) m_name->Append(wxString::FromUTF8(name));
    if (m_logic.NameIndex() >= 0) m_name->SetSelection(m_logic.NameIndex());
}

void CGlobalSettingsDlg::Browse() {
    const std::string location = m_location->GetValue().utf8_string();
    CExplorerFileDialog dialog(true, "", CGlobalSettingsLogic::BrowseStartName(location).c_str(),
                               "All files (*.*)|*.*||");
    if (dialog.DoModal(View()) != 1) return;
    m_location->ChangeValue(wxString::FromUTF8(CGlobalSettingsLogic::FolderOf(dialog.Path())));
}

void CGlobalSettingsDlg::OnOK() {
    m_logic.SetIdString(m_id->GetValue().utf8_string());
    m_logic.SetLocation(m_location->GetValue().utf8_string());
    m_logic.Store(CSettings());
    EndDialog(1);
}
