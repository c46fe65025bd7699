#include "ui/SocksDlg.h"

#include <wx/sizer.h>
#include <wx/toplevel.h>

#include "common/Settings.h"
#include "ui/HoverButton.h"
#include "ui/SettingsControls.h"
#include "ui/framework/MessageBox.h"

using namespace SettingsControls;

void CSocksDlg::BuildView(wxTopLevelWindow& view) {
    const DialogColours& c = m_colours;
    view.SetTitle(Text(0, "Network proxy / SOCKS settings"));
    PaintBackground(view);
    m_logic.Load(CSettings());
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(Label(&view, 5041,
                   Text(1, "A SOCKS proxy server carries the Network / IP connections through a firewall."),
                   c.otherText, 420),
             0, wxALL, 10);
    m_use = Check(&view, 1413, Text(3, "Use SOCKS Proxy server support"), c.otherText);
    top->Add(m_use, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    auto* versions = new wxBoxSizer(wxHORIZONTAL);
    versions->Add(Label(&view, 5042, Text(4, "Version:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
    m_v4 = Radio(&view, 1401, Text(5, "SOCKS version 4"), c.otherText, true);
    m_v5 = Radio(&view, 1402, Text(6, "SOCKS version 5"), c.otherText);
    versions->Add(m_v4, 0, wxRIGHT, 16);
    versions->Add(m_v5);
    top->Add(versions, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    auto* server = new wxFlexGridSizer(2, 6, 10);
    m_address = Edit(&view, 1403, c, CSocksLogic::kAddressLength, 260);
    m_port = Edit(&view, 1404, c, CSocksLogic::kPortLength, 80);
    server->Add(Label(&view, 5043, Text(7, "Address:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL);
    server->Add(m_address);
    server->Add(Label(&view, 1408, Text(10, "Port:"), c.buttonText), 0, wxALIGN_CENTER_VERTICAL);
    server->Add(m_port);
    top->Add(server, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    m_login = Check(&view, 1405, Text(13, "Yes, the SOCKS 5 proxy server needs a password."), c.otherText);
    top->Add(m_login, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    auto* login = new wxFlexGridSizer(2, 6, 10);
    m_user = Edit(&view, 1406, c, CSocksLogic::kLoginLength, 160);
    m_password = Edit(&view, 1407, c, CSocksLogic::kLoginLength, 160, wxTE_PASSWORD);
    login->Add(Label(&view, 1411, Text(15, "Username:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    login->Add(m_user);
    login->Add(Label(&view, 1412, Text(16, "Password:"), c.otherText), 0, wxALIGN_CENTER_VERTICAL);
    login->Add(m_password);
    top->Add(login, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);

    m_use->SetValue(m_logic.UseProxy());
    (m_logic.Version() == 4 ? m_v4 : m_v5)->SetValue(true);
    m_address->ChangeValue(wxString::FromUTF8(m_logic.Address()));
    m_port->ChangeValue(wxString::FromUTF8(m_logic.Port()));
    m_login->SetValue(m_logic.NeedLogin());
    m_user->ChangeValue(wxString::FromUTF8(m_logic.Username()));
    m_password->ChangeValue(wxString::FromUTF8(m_logic.Password()));
    for (wxWindow* w : std::initializer_list<wxWindow*>{m_use, m_login})
        w->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { Show(); });
    for (wxWindow* w : std::initializer_list<wxWindow*>{m_v4, m_v5})
        w->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { Show(); });

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
    Show();
}

void CSocksDlg::Read() {
    m_logic.SetUseProxy(m_use->GetValue());
    m_logic.SetVersion(m_v4->GetValue() ? 4 : 5);
    m_logic.SetAddress(m_address->GetValue().utf8_string());
    m_logic.SetPort(m_port->GetValue().utf8_string());
    m_logic.SetNeedLogin(m_login->GetValue());
    m_logic.SetUsername(m_user->GetValue().utf8_string());
    m_logic.SetPassword(m_password->GetValue().utf8_string());
}

void CSocksDlg::Show() {
    Read();
    const CSocksLogic::Enabling e = m_logic.Controls();
    m_v4->Enable(e.version);
    m_v5->Enable(e.version);
    m_address->Enable(e.address);
    m_port->Enable(e.port);
    m_login->Enable(e.login);
    m_user->Enable(e.credentials);
    m_password->Enable(e.credentials);
}

void CSocksDlg::OnOK() {
    Read();
    const CSocksLogic::Check check = m_logic.Store(CSettings());
    if (check.line == 0) {
        EndDialog(1);
        return;
    }
    static const char* const kTexts[] = {"Please specify the address of the SOCKS proxy server",
                                         "Please specify the port of the SOCKS proxy server",
                                         "Please specify a username for the SOCKS5 proxy server"};
    const std::string text = m_translator.GetText(check.line, kTexts[check.line - 17]);
    const std::string caption = m_translator.GetSectionText(CTranslator::kErrorSection, 0, "Error...");
    AfxMessageBox(GetSafeHwnd(), text.c_str(), caption.c_str(), MB_ICONERROR | MB_SETFOREGROUND);
    wxTextCtrl* field = check.field == CSocksLogic::kAddress ? m_address
                        : check.field == CSocksLogic::kPort  ? m_port
                                                             : m_user;
    field->SetFocus();
}
