#include "ui/SelectDeviceDlg.h"

#include <wx/dcclient.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/toplevel.h>
#include <wx/utils.h>

#include "common/Settings.h"
#include "ui/HoverButton.h"
#include "ui/SystemDeviceSource.h"

namespace {
// The entry text's fields between its tabs.
std::vector<std::string> Columns(const std::string& text) {
    std::vector<std::string> columns;
    size_t start = 0;
    for (size_t tab = text.find('\t'); columns.size() < 2 && tab != std::string::npos; tab = text.find('\t', start)) {
        columns.push_back(text.substr(start, tab - start));
        start = tab + 1;
    }
    columns.push_back(text.substr(start));
    return columns;
}
}  // namespace

int CSelectDeviceDlg::Choose(int direction, const DialogColours& colours) {
    CSystemDeviceSource source;
    const CSettings settings;
    CSelectDeviceDlg dialog(source, settings);
    dialog.SetColours(colours);
    if (direction == CSelectDeviceLogic::kInput) {
        dialog.SetInputMode();
    } else {
        dialog.SetOutputMode();
    }
    return dialog.DoModal();
}

CSelectDeviceDlg::CSelectDeviceDlg(CDeviceSource& source, const CSettings& settings)
    : CStandardDialog(109, 11), m_logic(source, settings) {}

void CSelectDeviceDlg::BuildView(wxTopLevelWindow& view) {
    const bool input = m_logic.Direction() == CSelectDeviceLogic::kInput;
    view.SetTitle(input ? Text(1, "Please select the input device") : Text(2, "Please select the playback device"));
    PaintBackground(view);
    // Nearly white at the left edge, the plain background at the right.
    view.Bind(wxEVT_PAINT, [this, &view](wxPaintEvent&) {
        wxPaintDC dc(&view);
        dc.GradientFillLinear(view.GetClientRect(), *wxWHITE, WxColour(m_colours.background), wxRIGHT);
    });
    auto* top = new wxBoxSizer(wxVERTICAL);
    m_list = new wxListCtrl(&view, kList, wxDefaultPosition, wxSize(560, 260),
                            wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN);
    m_list->SetForegroundColour(WxColour(m_colours.buttonText));
    m_list->SetBackgroundColour(WxColour(m_colours.face));
    m_list->AppendColumn("Interface", wxLIST_FORMAT_LEFT, 90);
    m_list->AppendColumn("Channel", wxLIST_FORMAT_LEFT, 70);
    m_list->AppendColumn("Device", wxLIST_FORMAT_LEFT, 380);
    top->Add(m_list, 1, wxEXPAND | wxALL, 10);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    CHoverButton* properties = AddButton(&view, kProperties, Text(0, "Properties"));
    properties->SetFont(properties->GetFont().GetBaseFont());
    m_properties = properties;
    CHoverButton* ok = AddButton(&view, 1, "OK");
    CHoverButton* cancel = AddButton(&view, 2, "Cancel");
    buttons->Add(properties);
    buttons->AddStretchSpacer();
    buttons->Add(ok, 0, wxRIGHT, 10);
    buttons->Add(cancel);
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    properties->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowProperties(); });
    ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
    m_list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) {
        m_logic.Select(static_cast<int>(e.GetIndex()));
        const std::string hint = m_logic.PropertiesHint();
        m_properties->Enable(m_logic.PropertiesEnabled());
        m_properties->SetToolTip(wxString::FromUTF8(hint));
        m_properties->Refresh(false);
    });
    m_list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent& e) {
        m_logic.Select(static_cast<int>(e.GetIndex()));
        OnOK();
    });
    view.SetSizerAndFit(top);
    view.CentreOnScreen();
    Fill();
}

void CSelectDeviceDlg::Fill() {
    wxBusyCursor wait;
    m_logic.Fill();
    m_list->DeleteAllItems();
    long row = 0;
    for (const DeviceEntry& entry : m_logic.Entries()) {
        const std::vector<std::string> columns = Columns(entry.text);
        m_list->InsertItem(row, wxString::FromUTF8(columns[0]));
        for (size_t c = 1; c < columns.size(); ++c)
            m_list->SetItem(row, static_cast<int>(c), wxString::FromUTF8(columns[c]));
        ++row;
    }
    const int selection = m_logic.Selection();
    if (selection >= 0) {
        m_list->SetItemState(selection, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                             wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        m_list->EnsureVisible(selection);
    }
    m_properties->Enable(m_logic.PropertiesEnabled());
    m_properties->SetToolTip(wxString::FromUTF8(m_logic.PropertiesHint()));
}

void CSelectDeviceDlg::ShowProperties() {
    if (!m_logic.PropertiesEnabled()) return;
    wxBusyCursor wait;
    m_logic.ShowProperties();
    Fill();
}

void CSelectDeviceDlg::OnOK() {
    if (m_logic.Store()) EndDialog(1);
}
