#include "ui/NumberRequestDlg.h"

#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include "common/Settings.h"
#include "ui/ImageButton.h"
#include "ui/Resources.h"
#include "ui/SettingsControls.h"
#include "ui/framework/MessageBox.h"

using namespace SettingsControls;

void CNumberRequestDlg::BuildView(wxTopLevelWindow& view) {
    const DialogColours& c = m_colours;
    view.SetTitle(m_logic.Caption());
    PaintBackground(view);
    m_logic.Load(CSettings());
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* grid = new wxFlexGridSizer(2, 8, 10);
    const bool two = m_logic.HasSecondNumber();
    const int labelIds[2] = {1172, 1174};
    const int editIds[2] = {1171, 1173};
    for (int i = 0; i < (two ? 2 : 1); ++i) {
        grid->Add(Label(&view, labelIds[i], two ? (i == 0 ? "Number 1:" : "Number 2:") : "Number:", c.otherText), 0,
                  wxALIGN_CENTER_VERTICAL);
        m_numbers[i] = Edit(&view, editIds[i], c, 30, 220);
        m_numbers[i]->ChangeValue(wxString::FromUTF8(m_logic.Number(i)));
        grid->Add(m_numbers[i]);
    }
    top->Add(grid, 0, wxALL, 10);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    CHoverButton* ok = AddImageButton(&view, 1, 0, "Dial");
    CHoverButton* cancel = AddImageButton(&view, 2, 2, "Cancel");
    ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
    buttons->Add(ok, 0, wxRIGHT, 10);
    buttons->Add(cancel);
    top->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    view.SetSizerAndFit(top);
    view.CentreOnScreen();
}

void CNumberRequestDlg::OnOK() {
    for (int i = 0; i < 2; ++i)
        if (m_numbers[i]) m_logic.SetNumber(i, m_numbers[i]->GetValue().utf8_string());
    if (!m_logic.Dial(CSettings())) {
        AfxMessageBox(GetSafeHwnd(), "Please fill in the number you wish to dial...", kProductName, MB_OK);
        m_numbers[0]->SetFocus();
        return;
    }
    EndDialog(1);
}
