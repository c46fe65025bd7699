#include "ui/AudioSettingsDlg.h"

#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/toplevel.h>

#include "common/Settings.h"
#include "ui/HoverButton.h"
#include "ui/SettingsControls.h"

using namespace SettingsControls;
using Block = CAudioSettingsLogic::Block;

void CAudioSettingsDlg::BuildView(wxTopLevelWindow& view) {
    const DialogColours& c = m_colours;
    view.SetTitle(Text(0, "Audio Settings"));
    PaintBackground(view);
    m_logic.Load(CSettings());
    auto* top = new wxBoxSizer(wxVERTICAL);

    top->Add(Label(&view, 1131, Text(2, "Processing quality"), c.otherText), 0, wxALL, 10);
    auto* quality = new wxFlexGridSizer(2, 6, 10);
    m_mp2 = List(&view, 1134, c, 180);
    m_mp2->Append(Text(3, "Fast Coding"));
    m_mp2->Append(Text(4, "Studio Quality"));
    m_mp3 = List(&view, 1135, c, 180);
    m_mp3->Append(Text(4, "Studio Quality"));
    quality->Add(Label(&view, 5034, Text(1, "MPEG Layer 2:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    quality->Add(m_mp2);
    quality->Add(Label(&view, 5035, Text(5, "MPEG Layer 3:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    quality->Add(m_mp3);
    top->Add(quality, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    if (m_logic.Mp2Selection() >= 0) m_mp2->SetSelection(m_logic.Mp2Selection());
    if (m_logic.Mp3Selection() >= 0) m_mp3->SetSelection(m_logic.Mp3Selection());
    m_mp2->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) { m_logic.SelectMp2(e.GetSelection()); });
    m_mp3->Bind(wxEVT_CHOICE, [this](wxCommandEvent& e) { m_logic.SelectMp3(e.GetSelection()); });

    top->Add(Label(&view, 1132, Text(6, "Buffer times"), c.otherText), 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    auto* times = new wxFlexGridSizer(3, 6, 10);
    const struct {
        Block block;
        int label, slider, time, line;
        const char* text;
    } rows[] = {{CAudioSettingsLogic::kPlay, 5036, 1136, 1137, 7, "WAVE playback:"},
                {CAudioSettingsLogic::kRec, 5037, 1138, 1139, 8, "WAVE recording:"},
                {CAudioSettingsLogic::kAsio, 5038, 1140, 1141, 9, "ASIO:"},
                {CAudioSettingsLogic::kEndpoint, 5040, 1142, 1144, 10, "Endpoints:"}};
    for (const auto& row : rows) {
        const Block block = row.block;
        times->Add(Label(&view, row.label, Text(row.line, row.text), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
        m_sliders[block] = new wxSlider(&view, row.slider, m_logic.SliderPosition(block),
                                        CAudioSettingsLogic::SliderMin(block), CAudioSettingsLogic::SliderMax(block),
                                        wxDefaultPosition, wxSize(180, -1), wxSL_HORIZONTAL | wxSL_AUTOTICKS);
        m_sliders[block]->SetTickFreq(1);
        times->Add(m_sliders[block], 0, wxALIGN_CENTER_VERTICAL);
        m_times[block] = Label(&view, row.time, "0000 ms", c.otherText);
        m_times[block]->SetMinSize(m_times[block]->GetBestSize());
        times->Add(m_times[block], 0, wxALIGN_CENTER_VERTICAL);
        ShowTime(block);
        m_sliders[block]->Bind(wxEVT_SLIDER, [this, block](wxCommandEvent& e) {
            m_logic.MoveSlider(block, e.GetInt());
            ShowTime(block);
        });
    }
    top->Add(times, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);

    top->Add(Label(&view, 1133, Text(11, "Samplerate conversion"), c.otherText), 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    m_noSrc = Check(&view, 1143, Text(12, "Disable samplerate conversion."), c.otherText);
    m_noSrc->SetValue(m_logic.SrcDisabled());
    m_noSrc->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) { m_logic.SetSrcDisabled(e.IsChecked()); });
    top->Add(m_noSrc, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);

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

void CAudioSettingsDlg::ShowTime(Block block) {
    m_times[block]->SetLabel(wxString::Format("%3d ms", m_logic.BlockTime(block)));
}

void CAudioSettingsDlg::OnOK() {
    m_logic.Store(CSettings());
    EndDialog(1);
}
