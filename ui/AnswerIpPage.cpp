#include "ui/AnswerIpPage.h"

#include <wx/panel.h>
#include <wx/sizer.h>

#include "common/Translator.h"
#include "ui/SettingsControls.h"

using namespace SettingsControls;

namespace {
constexpr int kModeValues[4] = {10, 21, 20, 22};

wxString Kbps(int bitsPerSecond) { return wxString::Format("%d kbps", bitsPerSecond / 1000); }
wxString Hz(int rate) { return wxString::Format("%d Hz", rate); }
}  // namespace

wxPanel* CAnswerIpPage::Create(wxWindow* parent, const CTranslator& translator, const CSettings& settings) {
    const DialogColours& c = kColours;
    auto text = [&](int line, const char* fallback) { return wxString::FromUTF8(translator.GetText(line, fallback)); };
    auto* page = new wxPanel(parent, 121);
    page->SetBackgroundColour(WxColour(c.background));
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(Label(page, 5062, text(25, "The settings on this page apply to incoming connections only!"),
                   c.otherText),
             0, wxALL, 8);
    m_accept = Check(page, 3208, text(26, "Accept incoming connections."), c.otherText);
    top->Add(m_accept, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    auto* port = new wxBoxSizer(wxHORIZONTAL);
    port->Add(Label(page, 5067, text(28, "IP Port:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    m_port = List(page, 3201, c, 110);
    port->Add(m_port, 0, wxRIGHT, 8);
    m_otherPort = Edit(page, 3202, c, CAnswerIpLogic::kPortLength, 80);
    port->Add(m_otherPort);
    top->Add(port, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    m_same = Check(page, 3209, text(29, "Use the same settings as the incoming call."), c.otherText);
    top->Add(m_same, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);

    auto* lists = new wxFlexGridSizer(2, 4, 8);
    m_coding = List(page, 3212, c, 220);
    m_bitrate = List(page, 3210, c, 220);
    m_samplerate = List(page, 3204, c, 220);
    lists->Add(Label(page, 5063, text(31, "Compression:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL);
    lists->Add(m_coding);
    lists->Add(Label(page, 5064, text(35, "Bitrate:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL);
    lists->Add(m_bitrate);
    lists->Add(Label(page, 5065, text(36, "Samplerate:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL);
    lists->Add(m_samplerate);
    top->Add(lists, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    top->Add(Label(page, 5066, text(37, "Audio mode:"), c.otherText), 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    const int modeIds[4] = {3205, 3206, 3207, 3211};
    const int modeLines[4] = {38, 39, 40, 41};
    const char* const modeTexts[4] = {"Mono - Voice only.", "Joint Stereo - Music / Programme Tx.", "Stereo",
                                      "Dual Mono - Two independent channels."};
    auto* modes = new wxFlexGridSizer(2, 2, 16);
    for (int i = 0; i < 4; ++i) {
        m_mode[i] = Radio(page, modeIds[i], text(modeLines[i], modeTexts[i]), c.buttonText, i == 0);
        modes->Add(m_mode[i]);
    }
    top->Add(modes, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    page->SetSizer(top);

    const std::string other = translator.GetText(42, "Other ->");
    m_logic.Load(settings, other);
    m_coding->Append(text(32, "No compression (PCM)"));
    m_coding->Append(text(33, "MPEG Layer 3 (MP3)"));
    m_coding->Append(text(34, "MPEG Layer 2 (MP2)"));
    m_coding->Append(text(45, "Standard APT-X"));
    m_coding->Append(text(46, "Enhanced APT-X"));
    for (const std::string& entry : m_logic.PortEntries()) m_port->Append(wxString::FromUTF8(entry));
    m_otherPort->ChangeValue(wxString::FromUTF8(m_logic.OtherPort()));
    m_accept->SetValue(m_logic.AcceptCalls());
    m_same->SetValue(m_logic.SameSettings());

    m_accept->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) {
        m_logic.SetAcceptCalls(e.IsChecked());
        Show();
    });
    m_same->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) {
        m_logic.SetSameSettings(e.IsChecked());
        Show();
    });
    m_port->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) {
        m_logic.SelectPort(e.GetString().utf8_string());
        Show();
    });
    m_otherPort->Bind(wxEVT_TEXT, [this](wxCommandEvent& e) { m_logic.SetOtherPort(e.GetString().utf8_string()); });
    m_coding->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) {
        m_logic.SelectCoding(e.GetSelection());
        Show();
    });
    m_bitrate->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) {
        const int i = e.GetSelection();
        m_logic.SelectBitrate(i >= 0 ? m_logic.Bitrates()[static_cast<size_t>(i)] : 0);
        Show();
    });
    m_samplerate->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) {
        const int i = e.GetSelection();
        m_logic.SelectSamplerate(i >= 0 ? m_logic.Samplerates()[static_cast<size_t>(i)] : 0);
        Show();
    });
    for (int i = 0; i < 4; ++i) {
        m_mode[i]->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) {
            m_logic.SetMode(kModeValues[i]);
            Show();
        });
    }
    Show();
    return page;
}

void CAnswerIpPage::Show() {
    const CAnswerIpLogic::Enabling& e = m_logic.Enabled();
    m_port->SetStringSelection(wxString::FromUTF8(m_logic.SelectedPort()));
    m_coding->SetSelection(m_logic.CodingEntry());
    m_bitrate->Clear();
    for (int rate : m_logic.Bitrates()) m_bitrate->Append(Kbps(rate));
    if (m_logic.Bitrate()) m_bitrate->SetStringSelection(Kbps(m_logic.Bitrate()));
    m_samplerate->Clear();
    for (int rate : m_logic.Samplerates()) m_samplerate->Append(Hz(rate));
    if (m_logic.Samplerate()) m_samplerate->SetStringSelection(Hz(m_logic.Samplerate()));
    for (int i = 0; i < 4; ++i) m_mode[i]->SetValue(kModeValues[i] == m_logic.Mode());
    m_port->Enable(e.portList);
    m_otherPort->Enable(e.portEdit);
    m_same->Enable(e.sameSettings);
    m_coding->Enable(e.coding);
    m_bitrate->Enable(e.bitrate);
    m_samplerate->Enable(e.samplerate);
    const bool modeOn[4] = {e.mono, e.joint, e.stereo, e.dual};
    for (int i = 0; i < 4; ++i) m_mode[i]->Enable(modeOn[i]);
}

CAnswerIpLogic::Result CAnswerIpPage::Validate() { return m_logic.Validate(); }

CAnswerIpLogic::Result CAnswerIpPage::Apply(const CSettings& settings) { return m_logic.Store(settings); }
