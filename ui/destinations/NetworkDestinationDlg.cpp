#include "ui/destinations/NetworkDestinationDlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/spinbutt.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/Codes.h"

namespace {
constexpr int kName = 3101, kAddress = 3102, kPort = 3103, kUseDefault = 3104, kProxy = 3105;
constexpr int kType1 = 3106, kType2 = 3107, kType3 = 3108, kLowDelay = 3109, kReliable = 3110, kFixed = 3111;
constexpr int kSeconds = 3113, kSpin = 3114, kSecondsLabel = 3112;
constexpr int kDirection = 3115, kCompression = 3116, kBitRate = 3117, kSampleRate = 3118, kMode = 3119;
constexpr int kAuto = 3120, kSame = 3121, kOther = 3122, kReconnectKind = 3123, kReconnectName = 3124;

std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }
}  // namespace

CNetworkDestinationDlg::CNetworkDestinationDlg(wxWindow* parent)
    : CDestinationDlg(parent, "Network / IP Destination", 4, m_logic) {}

void CNetworkDestinationDlg::BuildControls(wxBoxSizer& column) {
    const PhonebookEntry& e = m_logic.Entry();
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    auto* left = new wxBoxSizer(wxVERTICAL);
    auto* right = new wxBoxSizer(wxVERTICAL);
    const int gap = 4;

    left->Add(Label(this, 5012, 1, "Please give this destination a unique name:"), 0, wxBOTTOM, gap);
    left->Add(Edit(this, kName, Field(e.name, sizeof(e.name)), CDestinationLogic::kNameChars, 260), 0, wxBOTTOM, 8);
    left->Add(Label(this, 5013, 2, "Please specify the destinations network address and port number:"), 0, wxBOTTOM,
              gap);
    auto* address = new wxBoxSizer(wxHORIZONTAL);
    address->Add(Label(this, 5014, 3, "Address:", false), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    address->Add(Edit(this, kAddress, Field(e.connection.address, sizeof(e.connection.address)),
                      CDestinationLogic::kAddressChars, 200),
                 1);
    left->Add(address, 0, wxEXPAND | wxBOTTOM, gap);
    auto* port = new wxBoxSizer(wxHORIZONTAL);
    port->Add(Label(this, 5015, 4, "Port:", false), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    wxTextCtrl* portEdit =
        Edit(this, kPort, std::to_string(e.connection.port), CDestinationLogic::kPortChars, 70);
    port->Add(portEdit, 0, wxRIGHT, 8);
    wxCheckBox* useDefault = Check(this, kUseDefault, 5, "Use default");
    port->Add(useDefault, 0, wxALIGN_CENTER_VERTICAL);
    left->Add(port, 0, wxBOTTOM, gap);
    wxCheckBox* proxy = Check(this, kProxy, 6, "Use Proxy Server (see \"SOCKS Proxy Settings\" in the \"Settings\" menu)");
    left->Add(proxy, 0, wxBOTTOM, 8);
    left->Add(Label(this, 5017, 7, "Select the connection type below according to the type of IP network you are using "
                                   "for your connection:"),
              0, wxBOTTOM, gap);
    static_cast<wxStaticText*>(Control(5017))->Wrap(380);
    left->Add(Radio(this, kType1, 8, "Type 1: very low delay (for reliable networks).", true), 0, wxBOTTOM, 2);
    left->Add(Radio(this, kType2, 9, "Type 2: low delay (suitable for most network/internet connections) ."), 0,
              wxBOTTOM, 2);
    left->Add(Radio(this, kType3, 10, "Type 3: extra safe mode (for problematic network/internet connections)."), 0,
              wxBOTTOM, 2);
    left->Add(Radio(this, kReliable, 11, "Measure the connection and optimise for reliabillity.", true), 0,
              wxLEFT | wxBOTTOM, 2);
    left->Add(Radio(this, kLowDelay, 12, "Measure the connection and optimise for delay."), 0, wxLEFT | wxBOTTOM, 2);
    auto* fixed = new wxBoxSizer(wxHORIZONTAL);
    fixed->Add(Radio(this, kFixed, 13, "Use a fixed buffer of"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    wxTextCtrl* seconds = Edit(this, kSeconds, m_logic.BufferText(), 4, 50);
    seconds->SetEditable(false);
    fixed->Add(seconds, 0, wxRIGHT, 2);
    auto* spin = new wxSpinButton(this, kSpin, wxDefaultPosition, wxDefaultSize, wxSP_VERTICAL);
    spin->SetRange(1, CNetworkDestinationLogic::kMaxBufferSteps);
    spin->SetValue(m_logic.BufferSteps());
    Remember(kSpin, spin);
    fixed->Add(spin, 0, wxRIGHT, 4);
    fixed->Add(Label(this, kSecondsLabel, 14, "seconds.", false), 0, wxALIGN_CENTER_VERTICAL);
    left->Add(fixed, 0, wxLEFT, 2);

    right->Add(Label(this, 5022, 15, "The  type of audio connection:"), 0, wxBOTTOM, gap);
    wxChoice* direction = Combo(this, kDirection, 220);
    direction->Append(wxString::FromUTF8(Text(16, "Bi-directional (default)")));
    direction->Append(wxString::FromUTF8(Text(17, "Receive only")));
    direction->Append(wxString::FromUTF8(Text(18, "Transmit only")));
    right->Add(direction, 0, wxBOTTOM, 8);
    right->Add(Label(this, 5020, 19, "What compression would you like to use:"), 0, wxBOTTOM, gap);
    wxChoice* compression = Combo(this, kCompression, 220);
    compression->Append(wxString::FromUTF8(Text(20, "No compression (PCM)")));
    compression->Append(wxString::FromUTF8(Text(21, "MPEG Layer 3 (MP3)")));
    compression->Append(wxString::FromUTF8(Text(22, "MPEG Layer 2 (MP2)")));
    compression->Append(wxString::FromUTF8(Text(40, "Standard APTx")));
    compression->Append(wxString::FromUTF8(Text(41, "Enhanced APTx")));
    right->Add(compression, 0, wxBOTTOM, gap);
    right->Add(Label(this, 5021, 23, "And with which bitrate:"), 0, wxBOTTOM, gap);
    wxChoice* bitRate = Combo(this, kBitRate, 220);
    right->Add(bitRate, 0, wxBOTTOM, gap);
    right->Add(Label(this, 5019, 24, "Please also select the samplerate:"), 0, wxBOTTOM, gap);
    wxChoice* sampleRate = Combo(this, kSampleRate, 220);
    right->Add(sampleRate, 0, wxBOTTOM, gap);
    right->Add(Label(this, 5018, 25, "And the audio mode:"), 0, wxBOTTOM, gap);
    wxChoice* mode = Combo(this, kMode, 220);
    right->Add(mode, 0, wxBOTTOM, 8);
    auto* autoText = Label(this, 5016, 30,
                           "Velmora can automatically make a new connection if this one breaks. please select if you "
                           "wish to use this functionality and the entry that should be used.");
    autoText->Wrap(300);
    right->Add(autoText, 0, wxBOTTOM, gap);
    AddReconnectGroup(*right, {kAuto, kSame, kOther, kReconnectKind, kReconnectName, 31, 1});

    columns->Add(left, 0, wxALL, 10);
    columns->Add(right, 0, wxALL, 10);
    column.Add(columns, 1, wxEXPAND);

    SetTip(kName, "The phonebook name for the TCP/IP destination");
    SetTip(kAddress, "The destination internet/network address");
    SetTip(kPort, "The network port number Velmora will connect to");
    SetTip(kUseDefault, "Use the default network port to connect to");
    SetTip(kProxy, "Does the network use a proxy server to connect to the Internet?");
    SetTip(kDirection, "The type of TCP/IP connection to be made");
    SetTip(kCompression, "The algorithm used for the connection");
    SetTip(kBitRate, "The audio bitrate used for the connection");
    SetTip(kSampleRate, "The samplerate used for the connection");
    SetTip(kMode, "The device mode used for the connection");

    // Initial state.
    const bool isDefault = e.connection.port == CNetworkDestinationLogic::kDefaultPort;
    useDefault->SetValue(isDefault);
    portEdit->Enable(!isDefault);
    proxy->Enable(m_logic.ProxyEnabled());
    proxy->SetValue(e.connection.flag != 0);
    ShowConnectionType(m_logic.ConnectionMarks());
    direction->SetSelection(m_logic.DirectionIndex());
    m_formats.Attach(compression, bitRate, sampleRate, mode, &m_translator, 26);
    m_formats.Show(m_logic.Entry().format, m_logic.UpdateFormats());
    StartReconnectGroup();

    // Handlers.
    useDefault->Bind(wxEVT_CHECKBOX, [this, portEdit, useDefault](wxCommandEvent&) {
        portEdit->Enable(!useDefault->GetValue());
        portEdit->SetValue(std::to_string(useDefault->GetValue() ? CNetworkDestinationLogic::kDefaultPort
                                                                 : m_logic.Entry().connection.port));
    });
    spin->Bind(wxEVT_SPIN, [this, spin, seconds](wxSpinEvent&) {
        m_logic.SetBufferSteps(spin->GetValue());
        seconds->SetValue(m_logic.BufferText());
    });
    direction->Bind(wxEVT_CHOICE, [this, direction](wxCommandEvent&) { m_logic.SetDirectionIndex(direction->GetSelection()); });
    const struct {
        int id;
        ConnectionRadio radio;
    } radios[] = {{kType1, ConnectionRadio::Type1},       {kType2, ConnectionRadio::Type2},
                  {kType3, ConnectionRadio::Type3},       {kLowDelay, ConnectionRadio::LowDelay},
                  {kReliable, ConnectionRadio::Reliable}, {kFixed, ConnectionRadio::FixedBuffer}};
    for (const auto& r : radios)
        Control(r.id)->Bind(wxEVT_RADIOBUTTON,
                            [this, radio = r.radio](wxCommandEvent&) { ShowConnectionType(m_logic.ChooseConnection(radio)); });
    auto show = [this](const FormatLists& lists) { m_formats.Show(m_logic.Entry().format, lists); };
    m_formats.OnChange([this, show](int i) { show(m_logic.ChooseCompression(i)); },
                       [this, show](int v) { show(m_logic.ChooseBitRate(v)); },
                       [this, show](int v) { show(m_logic.ChooseSampleRate(v)); },
                       [this, show](int v) { show(m_logic.ChooseMode(v)); });
}

void CNetworkDestinationDlg::ShowConnectionType(const ConnectionTypeMarks& marks) {
    const std::pair<ConnectionRadio, int> types[] = {
        {ConnectionRadio::Type1, kType1}, {ConnectionRadio::Type2, kType2}, {ConnectionRadio::Type3, kType3}};
    for (const auto& [radio, id] : types) CheckInGroup(static_cast<wxRadioButton*>(Control(id)), marks.type == radio);
    const std::pair<ConnectionRadio, int> buffers[] = {{ConnectionRadio::Reliable, kReliable},
                                                       {ConnectionRadio::LowDelay, kLowDelay},
                                                       {ConnectionRadio::FixedBuffer, kFixed}};
    for (const auto& [radio, id] : buffers) CheckInGroup(static_cast<wxRadioButton*>(Control(id)), marks.buffer == radio);
    for (int id : {kLowDelay, kReliable, kFixed, kSeconds, kSpin, kSecondsLabel})
        Control(id)->Enable(marks.bufferingEnabled);
}

bool CNetworkDestinationDlg::Accept() {
    m_logic.SetName(static_cast<wxTextCtrl*>(Control(kName))->GetValue().utf8_string());
    const std::string address = static_cast<wxTextCtrl*>(Control(kAddress))->GetValue().utf8_string();
    const std::string port = static_cast<wxTextCtrl*>(Control(kPort))->GetValue().utf8_string();
    const bool useDefault = static_cast<wxCheckBox*>(Control(kUseDefault))->GetValue();
    const bool proxy = static_cast<wxCheckBox*>(Control(kProxy))->GetValue();
    return Refuse(m_logic.Ok(address, port, useDefault, proxy));
}
