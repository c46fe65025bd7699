#include "ui/AnswerSettingsDlg.h"

#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/toplevel.h>

#include <new>

#include "common/Settings.h"
#include "ui/AnswerIpPage.h"
#include "ui/AnswerIsdnPage.h"
#include "ui/HoverButton.h"
#include "ui/Resources.h"
#include "ui/framework/MessageBox.h"

CAnswerSettingsDlg::CAnswerSettingsDlg() : CStandardDialog(119, 8) {}
CAnswerSettingsDlg::~CAnswerSettingsDlg() = default;

int CAnswerSettingsDlg::CreatePages(int start) {
    m_isdn.reset(new (std::nothrow) CAnswerIsdnPage);
    m_ip.reset(new (std::nothrow) CAnswerIpPage);
    m_start = start == 1 ? 1 : 0;
    return m_isdn && m_ip ? 1 : 0;
}

void CAnswerSettingsDlg::BuildView(wxTopLevelWindow& view) {
    if (!m_isdn || !m_ip) CreatePages(m_start);
    view.SetTitle(Text(0, "Answer Settings"));
    PaintBackground(view);
    const CSettings settings;
    auto* top = new wxBoxSizer(wxVERTICAL);
    m_tabs = new wxNotebook(&view, kTabs);
    m_tabs->AddPage(m_isdn->Create(m_tabs, m_translator, settings), Text(1, "ISDN"));
    m_tabs->AddPage(m_ip->Create(m_tabs, m_translator, settings), Text(2, "Network / IP"));
    m_tabs->SetSelection(static_cast<size_t>(m_start));
    top->Add(m_tabs, 1, wxEXPAND | wxALL, 10);
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

void CAnswerSettingsDlg::OnOK() {
    const CAnswerIpLogic::Result check = m_ip->Validate();
    if (check != CAnswerIpLogic::kOk) {
        m_tabs->SetSelection(1);
        const char* text = check == CAnswerIpLogic::kNeedCodingRate ? "Please select a coding rate"
                                                                     : "Please select a samplerate";
        AfxMessageBox(GetSafeHwnd(), text, kProductName, MB_OK);
        return;
    }
    const CSettings settings;
    m_ip->Apply(settings);
    m_isdn->Apply(settings);
    EndDialog(1);
}
