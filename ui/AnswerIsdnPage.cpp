#include "ui/AnswerIsdnPage.h"

#include <wx/panel.h>
#include <wx/sizer.h>

#include "common/Translator.h"
#include "ui/SettingsControls.h"

using namespace SettingsControls;

namespace {
constexpr int kWrap = 520;
constexpr int kCodingValues[4] = {-1, 32, 64, 8};
constexpr int kRateValues[4] = {-1, 48000, 32000, 24000};
constexpr int kModeValues[5] = {-1, 10, 21, 20, 22};
}  // namespace

wxPanel* CAnswerIsdnPage::Create(wxWindow* parent, const CTranslator& translator, const CSettings& settings) {
    const DialogColours& c = kColours;
    auto text = [&](int line, const char* fallback) { return wxString::FromUTF8(translator.GetText(line, fallback)); };
    auto* page = new wxPanel(parent, 120);
    page->SetBackgroundColour(WxColour(c.background));
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(Label(page, 5056, text(3, "The settings on this page apply to incoming calls only!"), c.otherText), 0,
             wxALL, 8);
    m_accept = Check(page, 2203, text(4, "Accept incoming calls."), c.otherText);
    m_voice = Check(page, 2204, text(5, "Accept voice calls."), c.otherText);
    auto* boxes = new wxBoxSizer(wxHORIZONTAL);
    boxes->Add(m_accept, 0, wxRIGHT, 24);
    boxes->Add(m_voice);
    top->Add(boxes, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    top->Add(Label(page, 1013,
                   text(6, "If you use multiple numbers on your ISDN line, please enter below the numbers you want to "
                           "use with Velmora. Just leave them blank if you want Velmora to answer calls on any "
                           "number."),
                   c.buttonText, kWrap),
             0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    auto* msns = new wxFlexGridSizer(2, 4, 8);
    const int msnLabels[2] = {5057, 5058};
    const char* msnTexts[2] = {"MSN Channel 1:", "MSN Channel 2:"};
    for (int i = 0; i < 2; ++i) {
        msns->Add(Label(page, msnLabels[i], text(7 + i, msnTexts[i]), c.buttonText), 0, wxALIGN_CENTER_VERTICAL);
        m_msn[i] = Edit(page, 2201 + i, c, CAnswerIsdnLogic::kMsnLength, 200);
        msns->Add(m_msn[i]);
    }
    top->Add(msns, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);

    auto* format = new wxBoxSizer(wxHORIZONTAL);
    auto group = [&](int labelId, int line, const char* fallback, wxRadioButton** radios, const int* ids,
                     const int* lines, const char* const* texts, int count) {
        auto* column = new wxBoxSizer(wxVERTICAL);
        column->Add(Label(page, labelId, text(line, fallback), c.otherText), 0, wxBOTTOM, 4);
        for (int i = 0; i < count; ++i) {
            radios[i] = Radio(page, ids[i], text(lines[i], texts[i]), c.buttonText, i == 0);
            column->Add(radios[i], 0, wxBOTTOM, 2);
        }
        format->Add(column, 0, wxRIGHT, 16);
    };
    const int codingIds[4] = {2217, 2206, 2207, 2208};
    const int codingLines[4] = {10, 11, 12, 13};
    const char* const codingTexts[4] = {"The same compression as the incoming call.",
                                        "MPEG Layer 2 - Best for speech / music.",
                                        "MPEG Layer 3 - Music only / no speech.",
                                        "G.722 - For a low quality, mono, small delay."};
    const int rateIds[4] = {2218, 2209, 2210, 2211};
    const int rateLines[4] = {15, 16, 17, 18};
    const char* const rateTexts[4] = {"The same samplerate as the incoming call.", "48 kHz", "32 kHz", "24 kHz"};
    const int modeIds[5] = {2215, 2212, 2213, 2214, 2216};
    const int modeLines[5] = {20, 21, 22, 23, 24};
    const char* const modeTexts[5] = {"The same audio mode as the incoming call.", "Mono - Voice only.",
                                      "Joint Stereo - Music / Programme Tx.", "Stereo - Voice only.",
                                      "Dual Mono - Two independent channels."};
    group(5059, 9, "Compression:", m_coding, codingIds, codingLines, codingTexts, 4);
    group(5060, 14, "Samplerate:", m_rate, rateIds, rateLines, rateTexts, 4);
    top->Add(format, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    auto* modes = new wxBoxSizer(wxHORIZONTAL);
    format = modes;
    group(5061, 19, "Audio mode:", m_mode, modeIds, modeLines, modeTexts, 5);
    top->Add(modes, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    page->SetSizer(top);

    m_logic.Load(settings);
    for (int i = 0; i < 2; ++i) m_msn[i]->ChangeValue(wxString::FromUTF8(m_logic.Msn(i)));
    m_accept->SetValue(m_logic.AcceptCalls());
    m_voice->SetValue(m_logic.AcceptVoice());
    for (int i = 0; i < 4; ++i) m_coding[i]->SetValue(kCodingValues[i] == m_logic.CodingType());
    for (int i = 0; i < 4; ++i) m_rate[i]->SetValue(kRateValues[i] == m_logic.Samplerate());
    for (int i = 0; i < 5; ++i) m_mode[i]->SetValue(kModeValues[i] == m_logic.DeviceMode());

    m_accept->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) {
        m_logic.SetAcceptCalls(e.IsChecked());
        Show();
    });
    m_voice->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) { m_logic.SetAcceptVoice(e.IsChecked()); });
    for (int i = 0; i < 4; ++i) {
        m_coding[i]->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) {
            m_logic.SetCodingType(kCodingValues[i]);
            Show();
        });
        m_rate[i]->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) { m_logic.SetSamplerate(kRateValues[i]); });
    }
    for (int i = 0; i < 5; ++i)
        m_mode[i]->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) { m_logic.SetDeviceMode(kModeValues[i]); });
    Show();
    return page;
}

void CAnswerIsdnPage::Show() {
    const bool calls = m_logic.CallControlsEnabled();
    const bool format = m_logic.FormatControlsEnabled();
    for (wxTextCtrl* msn : m_msn) msn->Enable(calls);
    m_voice->Enable(calls);
    for (wxRadioButton* r : m_coding) r->Enable(calls);
    for (wxRadioButton* r : m_rate) r->Enable(format);
    for (wxRadioButton* r : m_mode) r->Enable(format);
}

void CAnswerIsdnPage::Apply(const CSettings& settings) {
    for (int i = 0; i < 2; ++i) m_logic.SetMsn(i, m_msn[i]->GetValue().utf8_string());
    m_logic.Store(settings);
}
