#pragma once
// The Network / IP destination dialog's window over CNetworkDestinationLogic.
// GUI thread only.
#include "ui/destinations/DestinationDlg.h"
#include "ui/destinations/FormatCombos.h"
#include "ui/destinations/NetworkDestinationLogic.h"

class wxSpinButton;

class CNetworkDestinationDlg : public CDestinationDlg {
public:
    explicit CNetworkDestinationDlg(wxWindow* parent);

    CNetworkDestinationLogic& Logic() { return m_logic; }

private:
    void BuildControls(wxBoxSizer& column) override;
    bool Accept() override;
    void ShowConnectionType(const ConnectionTypeMarks& marks);

    CNetworkDestinationLogic m_logic{CSettings()};
    CFormatCombos m_formats;
};
