#pragma once
// The multicast destination dialog's window over CMulticastDestinationLogic.
// GUI thread only.
#include "ui/destinations/DestinationDlg.h"
#include "ui/destinations/FormatCombos.h"
#include "ui/destinations/MulticastDestinationLogic.h"

class CMulticastDestinationDlg : public CDestinationDlg {
public:
    explicit CMulticastDestinationDlg(wxWindow* parent);

    CMulticastDestinationLogic& Logic() { return m_logic; }

private:
    void BuildControls(wxBoxSizer& column) override;
    bool Accept() override;
    void ShowRole();

    CMulticastDestinationLogic m_logic{CSettings()};
    CFormatCombos m_formats;
};
