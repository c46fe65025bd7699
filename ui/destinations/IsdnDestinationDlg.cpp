#include "ui/destinations/IsdnDestinationDlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/Codes.h"

namespace {
constexpr int kName = 2101, kOne = 2102, kTwo = 2103, kNumber1 = 2104, kNumber2 = 2105;
constexpr int kLayer2 = 2106, kLayer3 = 2107, kAptx = 2108, kG722 = 2109, kG711 = 2110, kAptxEnh = 2123;
constexpr int k48 = 2111, k32 = 2112, k24 = 2113;
constexpr int kMono = 2114, kJoint = 2115, kStereo = 2116, kDual = 2117;
constexpr int kAuto = 2118, kSame = 2119, kOther = 2120, kReconnectKind = 2121, kReconnectName = 2122;

std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

const std::pair<int, IsdnChoice> kChoices[] = {
    {kOne, IsdnChoice::OneChannel},  {kTwo, IsdnChoice::TwoChannels},  {kG711, IsdnChoice::G711},
    {kG722, IsdnChoice::G722},       {kLayer2, IsdnChoice::Layer2},    {kLayer3, IsdnChoice::Layer3},
    {kAptx, IsdnChoice::Aptx},       {kAptxEnh, IsdnChoice::AptxEnhanced}, {k48, IsdnChoice::Rate48000},
    {k32, IsdnChoice::Rate32000},    {k24, IsdnChoice::Rate24000},     {kMono, IsdnChoice::Mono},
    {kJoint, IsdnChoice::JointStereo}, {kStereo, IsdnChoice::Stereo},  {kDual, IsdnChoice::DualMono}};
}  // namespace

CIsdnDestinationDlg::CIsdnDestinationDlg(wxWindow* parent) : CDestinationDlg(parent, "ISDN Destination", 3, m_logic) {}

void CIsdnDestinationDlg::BuildControls(wxBoxSizer& column) {
    const PhonebookEntry& e = m_logic.Entry();
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    auto* left = new wxBoxSizer(wxVERTICAL);
    auto* right = new wxBoxSizer(wxVERTICAL);
    const int gap = 4;
    left->Add(Label(this, 5003, 1, "Please give this destination a unique name:"), 0, wxBOTTOM, gap);
    left->Add(Edit(this, kName, Field(e.name, sizeof(e.name)), CDestinationLogic::kNameChars, 260), 0, wxBOTTOM, 8);
    left->Add(Label(this, 5006, 2, "How many channels would you like to use?"), 0, wxBOTTOM, gap);
    left->Add(Radio(this, kOne, 3, "1 channel (64kbps) - Speech only", true), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kTwo, 4, "2 channels (128kbps) - For speech and music."), 0, wxBOTTOM, 8);
    left->Add(Label(this, 5007, 5, "Please specify below the channel number(s):"), 0, wxBOTTOM, gap);
    for (int i = 0; i < 2; ++i) {
        auto* line = new wxBoxSizer(wxHORIZONTAL);
        line->Add(Label(this, i ? 5005 : 5004, 6 + i, i ? "Channel 2:" : "Channel 1:"), 0,
                  wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
        const char* number = i ? e.connection.isdn.number2 : e.connection.isdn.number1;
        line->Add(Edit(this, i ? kNumber2 : kNumber1, Field(number, 40), CDestinationLogic::kNumberChars, 200), 1);
        left->Add(line, 0, wxEXPAND | wxBOTTOM, gap);
    }
    left->AddSpacer(4);
    left->Add(Label(this, 5008, 8, "Select below the type of compression:"), 0, wxBOTTOM, gap);
    left->Add(Radio(this, kLayer2, 9, "MPEG Layer 2 - Best for speech / music.", true), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kLayer3, 10, "MPEG Layer 3 - Music only / no speech."), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kAptx, 30, "Standard APTx -"), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kAptxEnh, 31, "Enhanced APTx -"), 0, wxBOTTOM, 2);
    auto* g722 = Radio(this, kG722, 11, "G.722 - For a low quality, mono, small delay, high compatibillity mode.");
    left->Add(g722, 0, wxBOTTOM, 2);
    left->Add(Radio(this, kG711, 12, "G.711 - Connecting to a normal telephone."), 0);

    right->Add(Label(this, 5009, 13, "Please also select the samplerate:"), 0, wxBOTTOM, gap);
    right->Add(Radio(this, k48, 14, "48 kHz", true), 0, wxBOTTOM, 2);
    right->Add(Radio(this, k32, 15, "32 kHz"), 0, wxBOTTOM, 2);
    right->Add(Radio(this, k24, 16, "24 kHz - For improving single channel mono quality (larger delay)."), 0, wxBOTTOM,
               8);
    right->Add(Label(this, 5010, 17, "What is the audio mode?"), 0, wxBOTTOM, gap);
    right->Add(Radio(this, kMono, 18, "Mono - Voice only.", true), 0, wxBOTTOM, 2);
    right->Add(Radio(this, kJoint, 19, "Joint Stereo - Music / Programme Tx."), 0, wxBOTTOM, 2);
    right->Add(Radio(this, kStereo, 20, "Stereo - Voice only."), 0, wxBOTTOM, 2);
    right->Add(Radio(this, kDual, 21, "Dual Mono - For two completely independent audio channels."), 0, wxBOTTOM, 8);
    auto* autoText = Label(this, 5011, 22,
                           "Velmora can automatically make a new connection if this one breaks. Please select if you "
                           "wish to use this functionality and the entry that should be used.");
    autoText->Wrap(330);
    right->Add(autoText, 0, wxBOTTOM, gap);
    AddReconnectGroup(*right, {kAuto, kSame, kOther, kReconnectKind, kReconnectName, 23, 0});

    columns->Add(left, 0, wxALL, 10);
    columns->Add(right, 0, wxALL, 10);
    column.Add(columns, 1, wxEXPAND);

    SetTip(kName, "The phonebook name for the ISDN destination");
    SetTip(kOne, "Only make a single channel connection");
    SetTip(kTwo, "Use both channels to make the connection");
    SetTip(kNumber1, "The ISDN number for the first channel");
    SetTip(kNumber2, "The ISDN number for the second channel");
    SetTip(kLayer2, "Use MPEG layer 2 audio compression");
    SetTip(kLayer3, "Use MPEG layer 3 audio compression");
    SetTip(kG722, "Use G.722 audio compression (only for single channel connections)");
    SetTip(kG711, "Make a standard (single channel) phone call");
    for (int id : {k48, k32, k24}) SetTip(id, "Select the samplerate for the connection");
    SetTip(kMono, "Mono gives the highest quality for voice-only connections");
    SetTip(kJoint, "Joint-stereo gives the highest quality for music and program content");
    SetTip(kStereo, "Two independent mono audio channels");
    SetTip(kDual, "Two independent mono audio channels");

    ShowChoices(m_logic.ApplyRules());
    StartReconnectGroup();

    for (const auto& [id, choice] : kChoices)
        Control(id)->Bind(wxEVT_RADIOBUTTON, [this, choice = choice](wxCommandEvent&) { ShowChoices(m_logic.Choose(choice)); });
}

void CIsdnDestinationDlg::ShowChoices(const IsdnEnabled& on) {
    const AudioFormat& f = m_logic.Entry().format;
    Control(kG711)->Enable(on.g711);
    Control(kG722)->Enable(on.g722);
    Control(kNumber2)->Enable(on.number2);
    for (int id : {k48, k32, k24}) Control(id)->Enable(on.sampleRates);
    Control(kJoint)->Enable(on.jointStereo);
    Control(kStereo)->Enable(on.stereo);
    Control(kDual)->Enable(on.dualMono);
    auto check = [this](int id, bool value) { CheckInGroup(static_cast<wxRadioButton*>(Control(id)), value); };
    const int c = f.codingType;
    check(kG711, c == CODING_G711_ALAW || c == CODING_G711_ULAW);
    check(kG722, c == CODING_G722);
    check(kLayer2, c == CODING_MPEG_L2);
    check(kLayer3, c == CODING_MPEG_L3);
    check(kAptx, c == CODING_APTX);
    check(kAptxEnh, c == CODING_APTX_ENH);
    check(k48, f.sampleRate == 48000);
    check(k32, f.sampleRate == 32000);
    check(k24, f.sampleRate == 24000);
    check(kOne, f.bitRate == 64000);
    check(kTwo, f.bitRate == 128000);
    check(kMono, f.deviceMode == DEVICEMODE_MONO);
    check(kJoint, f.deviceMode == DEVICEMODE_JOINT_STEREO);
    check(kStereo, f.deviceMode == DEVICEMODE_STEREO);
    check(kDual, f.deviceMode == DEVICEMODE_DUAL_MONO);
}

bool CIsdnDestinationDlg::Accept() {
    m_logic.SetName(static_cast<wxTextCtrl*>(Control(kName))->GetValue().utf8_string());
    m_logic.SetNumbers(static_cast<wxTextCtrl*>(Control(kNumber1))->GetValue().utf8_string(),
                       static_cast<wxTextCtrl*>(Control(kNumber2))->GetValue().utf8_string());
    return Refuse(m_logic.Ok());
}
