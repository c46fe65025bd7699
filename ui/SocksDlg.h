#pragma once
// The SOCKS proxy: a thin view over CSocksLogic. OK checks every field
// before anything is written; a refused field gets the focus and an error
// box, and the dialog stays.
//
// Threads: GUI thread.
#include "ui/SocksLogic.h"
#include "ui/StandardDialog.h"

class wxCheckBox;
class wxRadioButton;
class wxTextCtrl;

class CSocksDlg : public CStandardDialog {
public:
    static constexpr DialogColours kColours = {0x556644, 0x113311, 0xFFFFDD, 0xBBCCAA};

    CSocksDlg() : CStandardDialog(141, 9) { m_colours = kColours; }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    void OnOK() override;

private:
    void Read();
    void Show();

    CSocksLogic m_logic;
    wxCheckBox* m_use = nullptr;
    wxRadioButton* m_v4 = nullptr;
    wxRadioButton* m_v5 = nullptr;
    wxTextCtrl* m_address = nullptr;
    wxTextCtrl* m_port = nullptr;
    wxCheckBox* m_login = nullptr;
    wxTextCtrl* m_user = nullptr;
    wxTextCtrl* m_password = nullptr;
};
