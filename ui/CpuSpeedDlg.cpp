#include "ui/CpuSpeedDlg.h"

#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/toplevel.h>

#include "ui/ColourTriple.h"
#include "ui/HoverButton.h"

namespace {
constexpr UINT_PTR kFirstTickTimer = 101;
constexpr int kWrap = 420;
}  // namespace

void CCpuSpeedDlg::BuildView(wxTopLevelWindow& view) {
    view.SetTitle(Text(0, "CPU Speed"));
    PaintBackground(view);
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(AddText(&view, 1184,
                     Text(1, "Velmora Transvoria works well on most PCs (the minimum requirement is a Pentium II 350MHz, "
                             "or other manufacturer's equivalent processor)."),
                     kWrap),
             0, wxALL, 14);
    top->Add(AddText(&view, 1185,
                     Text(2, "Performance in the Transvoria software is now optimised for your PC's processor.  To take "
                             "advantage of these optimisations, please select your PC's processor speed:"),
                     kWrap),
             0, wxLEFT | wxRIGHT | wxBOTTOM, 14);
    // A group always has one button checked: a hidden first one holds the
    // check until the operator answers, so the question opens with none chosen.
    m_unanswered = new wxRadioButton(&view, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    m_unanswered->Hide();
    m_slower = new wxRadioButton(&view, kSlower, Text(3, "Less than 1 GHz."));
    m_faster = new wxRadioButton(&view, kFaster, Text(4, "1 GHz or faster."));
    m_unanswered->SetValue(true);
    for (wxRadioButton* radio : {m_slower, m_faster}) {
        radio->SetForegroundColour(WxColour(m_colours.buttonText));
        top->Add(radio, 0, wxLEFT | wxRIGHT | wxBOTTOM, 14);
    }
    m_slower->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
        m_logic.Choose(CCpuSpeedLogic::kSlower);
        Show();
    });
    m_faster->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
        m_logic.Choose(CCpuSpeedLogic::kFaster);
        Show();
    });
    top->Add(AddText(&view, 1186,
                     Text(5, "You can change this setting later in the Global Settings window."), kWrap),
             0, wxLEFT | wxRIGHT | wxBOTTOM, 14);
    m_ok = AddButton(&view, kOk, "OK");
    m_ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        switch (m_logic.PressOk()) {
            case CCpuSpeedLogic::kEndFast: EndDialog(1); break;
            case CCpuSpeedLogic::kEndSlow: EndDialog(2); break;
            case CCpuSpeedLogic::kStayOpen: Show(); break;
        }
    });
    top->Add(m_ok, 0, wxALIGN_RIGHT | wxALL, 14);
    view.SetSizerAndFit(top);
    view.CentreOnScreen();
}

BOOL CCpuSpeedDlg::OnInitDialog() {
    SetTimer(GetSafeHwnd(), kFirstTickTimer, 50);
    return TRUE;
}

void CCpuSpeedDlg::OnTimer(UINT_PTR id) {
    if (id != kFirstTickTimer) return;
    KillTimer(GetSafeHwnd(), kFirstTickTimer);
    m_logic.FirstTick();
    Show();
}

void CCpuSpeedDlg::Show() {
    // A group of independent buttons: keep exactly the chosen one checked.
    switch (m_logic.Chosen()) {
        case CCpuSpeedLogic::kSlower: m_slower->SetValue(true); break;
        case CCpuSpeedLogic::kFaster: m_faster->SetValue(true); break;
        case CCpuSpeedLogic::kNone: m_unanswered->SetValue(true); break;
    }
    m_ok->Enable(m_logic.OkEnabled());
    m_ok->Refresh(false);
}
