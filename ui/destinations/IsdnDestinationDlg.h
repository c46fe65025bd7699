#pragma once
// The ISDN destination dialog's window over CIsdnDestinationLogic.
// GUI thread only.
#include "ui/destinations/DestinationDlg.h"
#include "ui/destinations/IsdnDestinationLogic.h"

class CIsdnDestinationDlg : public CDestinationDlg {
public:
    explicit CIsdnDestinationDlg(wxWindow* parent);

    CIsdnDestinationLogic& Logic() { return m_logic; }

private:
    void BuildControls(wxBoxSizer& column) override;
    bool Accept() override;
    void ShowChoices(const IsdnEnabled& on);

    CIsdnDestinationLogic m_logic{CSettings()};
};
