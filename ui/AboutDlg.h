#pragma once
// Help "About...": the program's name, version and build date, and its web address.
#include "ui/StandardDialog.h"

class CAboutDlg : public CStandardDialog {
public:
    CAboutDlg() : CStandardDialog(112, 0) {}

protected:
    void BuildView(wxTopLevelWindow& view) override;
};
