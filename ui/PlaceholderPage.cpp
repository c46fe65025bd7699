#include "ui/PlaceholderPage.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include <cstring>

#include "platform/Clock.h"
#include "ui/ColourTriple.h"
#include "ui/LevelMeter.h"
#include "ui/MainDlgLogic.h"

CPlaceholderPage::CPlaceholderPage(wxWindow* parent, int kind, const wxString& title)
    : wxPanel(parent, wxID_ANY), m_kind(kind) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* lines = new wxBoxSizer(wxVERTICAL);
    m_title = new wxStaticText(this, wxID_ANY, wxEmptyString);
    m_title->SetFont(m_title->GetFont().Bold().Larger());
    m_title->SetLabel(title);
    // Measured in its own font: a page not yet shown is laid out with the default one.
    const wxSize extent = m_title->GetTextExtent(title);
    m_title->SetMinSize(wxSize(extent.x + 4, extent.y));
    lines->Add(m_title, 0, wxBOTTOM, 8);
    auto addLine = [&](const char* caption, wxStaticText*& value) {
        auto* grid = new wxBoxSizer(wxHORIZONTAL);
        grid->Add(new wxStaticText(this, wxID_ANY, caption, wxDefaultPosition, wxSize(110, -1)), 0);
        value = new wxStaticText(this, wxID_ANY, "-", wxDefaultPosition, wxSize(260, -1), wxST_ELLIPSIZE_END);
        grid->Add(value, 1);
        lines->Add(grid, 0, wxEXPAND | wxBOTTOM, 4);
    };
    addLine("State:", m_state);
    addLine("Destination:", m_destination);
    addLine("Far end:", m_remote);
    addLine("Receiving:", m_receive);
    addLine("Sending:", m_send);
    addLine("Devices:", m_devices);
    row->Add(lines, 1, wxEXPAND | wxALL, 12);
    m_meter = new CLevelMeter(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, kind == 128 ? 2 : 4,
                              [] { return static_cast<uint32_t>(timeGetTime()); });
    m_meter->SetMinSize(m_meter->GetBestSize());
    row->Add(m_meter, 0, wxALL, 12);
    SetSizer(row);
}

void CPlaceholderPage::SetSchemeColours(COLORREF text, COLORREF light, COLORREF mid) {
    SetBackgroundColour(WxColour(light));
    for (wxWindow* child : GetChildren()) {
        if (child != m_meter) child->SetForegroundColour(WxColour(text));
    }
    m_meter->SetColours(light, mid);
    Refresh();
}

void CPlaceholderPage::SetLine(wxStaticText* line, const std::string& text) {
    const wxString value = text.empty() ? wxString("-") : wxString::FromUTF8(text.c_str());
    if (line->GetLabel() != value) line->SetLabel(value);
}

void CPlaceholderPage::SetTransports(int mask) {
    m_transports = mask;
    if (!(mask & m_kind)) SetLine(m_state, "Not available on this station");
}

void CPlaceholderPage::SetState(int state, int kind) {
    int line = 0;
    const char* word = CMainDlgLogic::StateText(state, &line);
    if (word && (kind == m_kind || state == 16)) SetLine(m_state, word);
    const bool active = kind == m_kind && (state == 48 || state == 49 || state == 50 || state == 58 || state == 59);
    m_meter->SetActive(active);
    if (state == 16) {
        SetLine(m_destination, "");
        SetLine(m_remote, "");
        SetLine(m_receive, "");
        SetLine(m_send, "");
    }
}

void CPlaceholderPage::ShowConnection(const ConnectionInfo& info) {
    if (m_kind == 32) {
        SetLine(m_destination, std::string(info.isdn.number1, strnlen(info.isdn.number1, sizeof info.isdn.number1)));
    } else {
        std::string text(info.address, strnlen(info.address, sizeof info.address));
        if (info.port) text += ":" + std::to_string(info.port);
        SetLine(m_destination, text);
    }
}

void CPlaceholderPage::ShowReceiveFormat(const std::string& text) { SetLine(m_receive, text); }
void CPlaceholderPage::ShowSendFormat(const std::string& text) { SetLine(m_send, text); }
void CPlaceholderPage::ShowRemoteName(const char* name) { SetLine(m_remote, name ? name : ""); }
void CPlaceholderPage::ShowLevels(const int* levels, int count) { m_meter->SetLevels(levels, count); }

void CPlaceholderPage::SetDeviceNames(const std::string& input, const std::string& output, int) {
    SetLine(m_devices, input.empty() && output.empty() ? std::string() : input + " / " + output);
}
