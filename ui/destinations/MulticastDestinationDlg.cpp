#include "ui/destinations/MulticastDestinationDlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/Codes.h"

namespace {
constexpr int kName = 4101, kAddress = 4102, kPort = 4103, kUseDefault = 4104, kTransmit = 4105, kReceive = 4106;
constexpr int kType1 = 4107, kType2 = 4108, kType3 = 4109, kReliable = 4110, kLowDelay = 4111;
constexpr int kCompression = 4112, kBitRate = 4113, kSampleRate = 4114, kMode = 4115;
constexpr int kHopsBefore = 4116, kHopsAfter = 4117, kHops = 4118;

std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }
}  // namespace

CMulticastDestinationDlg::CMulticastDestinationDlg(wxWindow* parent)
    : CDestinationDlg(parent, "Multicast Destination", 5, m_logic) {}

void CMulticastDestinationDlg::BuildControls(wxBoxSizer& column) {
    const PhonebookEntry& e = m_logic.Entry();
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    auto* left = new wxBoxSizer(wxVERTICAL);
    auto* right = new wxBoxSizer(wxVERTICAL);
    const int gap = 4;

    left->Add(Label(this, 5023, 1, "Please give this location a unique name:"), 0, wxBOTTOM, gap);
    left->Add(Edit(this, kName, Field(e.name, sizeof(e.name)), CDestinationLogic::kNameChars, 260), 0, wxBOTTOM, 8);
    left->Add(Label(this, 5024, 2, "Please specify the multicast network address and port number:"), 0, wxBOTTOM, gap);
    auto* address = new wxBoxSizer(wxHORIZONTAL);
    address->Add(Label(this, 5025, 3, "Address:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    address->Add(Edit(this, kAddress, Field(e.connection.address, sizeof(e.connection.address)),
                      CDestinationLogic::kAddressChars, 200),
                 1);
    left->Add(address, 0, wxEXPAND | wxBOTTOM, gap);
    auto* port = new wxBoxSizer(wxHORIZONTAL);
    port->Add(Label(this, 5026, 4, "Port:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    wxTextCtrl* portEdit = Edit(this, kPort, std::to_string(e.connection.port), CDestinationLogic::kPortChars, 70);
    port->Add(portEdit, 0, wxRIGHT, 8);
    wxCheckBox* useDefault = Check(this, kUseDefault, 5, "Use default");
    port->Add(useDefault, 0, wxALIGN_CENTER_VERTICAL);
    left->Add(port, 0, wxBOTTOM, 8);
    left->Add(Label(this, 5033, 6, "What is it you wish to do?"), 0, wxBOTTOM, gap);
    left->Add(Radio(this, kReceive, 7, "Receive audio from the above multicast address.", true), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kTransmit, 8, "Transmit audio to the above multicast address."), 0, wxBOTTOM, 8);
    auto* typeLabel = Label(this, 5027, 9,
                            "Select the connection type below according to the type of IP network you are using for "
                            "your connection:");
    typeLabel->Wrap(380);
    left->Add(typeLabel, 0, wxBOTTOM, gap);
    left->Add(Radio(this, kType1, 10, "Type 1: very low delay (for reliable networks).", true), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kType2, 11, "Type 2: low delay (suitable for most network/internet connections) ."), 0,
              wxBOTTOM, 2);
    left->Add(Radio(this, kType3, 12, "Type 3: extra safe mode (for problematic network/internet connections)."), 0,
              wxBOTTOM, 2);
    left->Add(Radio(this, kReliable, 13, "Optimise for improved reliabillity.", true), 0, wxLEFT | wxBOTTOM, 2);
    left->Add(Radio(this, kLowDelay, 14, "Optimise for a lower delay."), 0, wxLEFT, 2);

    right->Add(Label(this, 5028, 15, "Over how many routers should the multicast packets go?"), 0, wxBOTTOM, gap);
    // The sentence around the hop count on two lines: in a wordier language
    // one line would not fit beside the left column.
    right->Add(Label(this, kHopsBefore, 16, "The most remote receiver is no more than", false), 0, wxBOTTOM, 4);
    auto* hops = new wxBoxSizer(wxHORIZONTAL);
    auto* hopEdit = new wxSpinCtrl(this, kHops, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS, 1, 255,
                                   CMulticastDestinationLogic::ClampHops(e.connection.hops));
    Remember(kHops, hopEdit);
    hops->Add(hopEdit, 0, wxRIGHT, 4);
    hops->Add(Label(this, kHopsAfter, 17, "routers away.", false), 0, wxALIGN_CENTER_VERTICAL);
    right->Add(hops, 0, wxBOTTOM, 8);
    right->Add(Label(this, 5032, 18, "What compression would you like to use:"), 0, wxBOTTOM, gap);
    wxChoice* compression = Combo(this, kCompression, 220);
    compression->Append(wxString::FromUTF8(Text(19, "No compression (PCM)")));
    compression->Append(wxString::FromUTF8(Text(20, "MPEG Layer 3 (MP3)")));
    compression->Append(wxString::FromUTF8(Text(21, "MPEG Layer 2 (MP2)")));
    compression->Append(wxString::FromUTF8(Text(37, "Standard APTx")));
    compression->Append(wxString::FromUTF8(Text(38, "Enhanced APTx")));
    right->Add(compression, 0, wxBOTTOM, gap);
    right->Add(Label(this, 5029, 22, "And with which bitrate:"), 0, wxBOTTOM, gap);
    wxChoice* bitRate = Combo(this, kBitRate, 220);
    right->Add(bitRate, 0, wxBOTTOM, gap);
    right->Add(Label(this, 5030, 23, "Please also select the samplerate:"), 0, wxBOTTOM, gap);
    wxChoice* sampleRate = Combo(this, kSampleRate, 220);
    right->Add(sampleRate, 0, wxBOTTOM, gap);
    right->Add(Label(this, 5031, 24, "And the audio mode:"), 0, wxBOTTOM, gap);
    wxChoice* mode = Combo(this, kMode, 220);
    right->Add(mode, 0);

    columns->Add(left, 0, wxALL, 10);
    columns->Add(right, 0, wxALL, 10);
    column.Add(columns, 1, wxEXPAND);

    SetTip(kName, "The phonebook name for the multicast destination");
    SetTip(kAddress, "The multicast network address");
    SetTip(kPort, "The network port number Velmora will use");
    SetTip(kUseDefault, "Use the default network port");
    SetTip(kTransmit, "Send audio to the network");
    SetTip(kReceive, "Receive audio from the network");
    SetTip(kHops, "The maximal number of routers between here and the most remote receiver");

    const bool isDefault = e.connection.port == CMulticastDestinationLogic::kDefaultPort;
    useDefault->SetValue(isDefault);
    portEdit->Enable(!isDefault);
    static_cast<wxRadioButton*>(Control(m_logic.IsSender() ? kTransmit : kReceive))->SetValue(true);
    m_formats.Attach(compression, bitRate, sampleRate, mode, &m_translator, 25);
    ShowRole();

    useDefault->Bind(wxEVT_CHECKBOX, [this, portEdit, useDefault](wxCommandEvent&) {
        portEdit->Enable(!useDefault->GetValue());
        portEdit->SetValue(std::to_string(useDefault->GetValue() ? CMulticastDestinationLogic::kDefaultPort
                                                                 : m_logic.Entry().connection.port));
    });
    for (int id : {kTransmit, kReceive})
        Control(id)->Bind(wxEVT_RADIOBUTTON, [this, id](wxCommandEvent&) {
            m_logic.SetSender(id == kTransmit);
            ShowRole();
        });
    const struct {
        int id;
        ConnectionRadio radio;
    } radios[] = {{kType1, ConnectionRadio::Type1},
                  {kType2, ConnectionRadio::Type2},
                  {kType3, ConnectionRadio::Type3},
                  {kLowDelay, ConnectionRadio::LowDelay},
                  {kReliable, ConnectionRadio::Reliable}};
    for (const auto& r : radios)
        Control(r.id)->Bind(wxEVT_RADIOBUTTON, [this, radio = r.radio](wxCommandEvent&) {
            m_logic.ChooseConnection(radio);
            ShowRole();
        });
    auto show = [this](const FormatLists& lists) { m_formats.Show(m_logic.Entry().format, lists); };
    m_formats.OnChange([this, show](int i) { show(m_logic.ChooseCompression(i)); },
                       [this, show](int v) { show(m_logic.ChooseBitRate(v)); },
                       [this, show](int v) { show(m_logic.ChooseSampleRate(v)); },
                       [this, show](int v) { show(m_logic.ChooseMode(v)); });
}

void CMulticastDestinationDlg::ShowRole() {
    const bool sender = m_logic.IsSender();
    Control(kHops)->Enable(sender);
    const int radioIds[] = {kType1, kType2, kType3, kReliable, kLowDelay};
    if (sender) {
        for (int id : radioIds) Control(id)->Enable(false);  // their marks stay
        m_formats.Enable(true);
        m_formats.Show(m_logic.Entry().format, m_logic.UpdateFormats());
        return;
    }
    const ConnectionTypeMarks marks = m_logic.ConnectionMarks();
    for (int id : {kType1, kType2, kType3}) Control(id)->Enable(true);
    CheckInGroup(static_cast<wxRadioButton*>(Control(kType1)), marks.type == ConnectionRadio::Type1);
    CheckInGroup(static_cast<wxRadioButton*>(Control(kType2)), marks.type == ConnectionRadio::Type2);
    CheckInGroup(static_cast<wxRadioButton*>(Control(kType3)), marks.type == ConnectionRadio::Type3);
    CheckInGroup(static_cast<wxRadioButton*>(Control(kReliable)), marks.buffer == ConnectionRadio::Reliable);
    CheckInGroup(static_cast<wxRadioButton*>(Control(kLowDelay)), marks.buffer == ConnectionRadio::LowDelay);
    Control(kReliable)->Enable(marks.bufferingEnabled);
    Control(kLowDelay)->Enable(marks.bufferingEnabled);
    // A receiver keeps the format it was loaded with: shown, not offered.
    FormatLists shown;
    const AudioFormat& f = m_logic.Entry().format;
    shown.bitRates = {f.bitRate};
    shown.sampleRates = {f.sampleRate};
    shown.modes = {f.deviceMode};
    m_formats.Show(f, shown);
    m_formats.Enable(false);
}

bool CMulticastDestinationDlg::Accept() {
    m_logic.SetName(static_cast<wxTextCtrl*>(Control(kName))->GetValue().utf8_string());
    const std::string address = static_cast<wxTextCtrl*>(Control(kAddress))->GetValue().utf8_string();
    const std::string port = static_cast<wxTextCtrl*>(Control(kPort))->GetValue().utf8_string();
    const bool useDefault = static_cast<wxCheckBox*>(Control(kUseDefault))->GetValue();
    const int hops = static_cast<wxSpinCtrl*>(Control(kHops))->GetValue();
    const CMulticastDestinationLogic::OkResult r = m_logic.Ok(address, port, useDefault, hops);
    if (!Refuse(r.refusal)) return false;
    if (!r.askNotMulticast) return true;
    const std::string text = std::string(Text(34, "The destination address is NOT a valid multicast address.")) + "\n\n" +
                             Text(35, "Valid multicast addresses are in the range: 225.0.0.0 to 239.255.255.255.") +
                             "\n\n" + Text(36, "Do you want to use the address anyway?");
    wxMessageDialog ask(this, wxString::FromUTF8(text),
                        wxString::FromUTF8(m_translator.GetSectionText(CTranslator::kErrorSection, 2, "Warning")),
                        wxYES_NO | wxICON_EXCLAMATION);
    if (ask.ShowModal() != wxID_YES) {
        Control(kAddress)->SetFocus();
        return false;
    }
    return Refuse(m_logic.OkAnyway(hops));
}
