#pragma once
// The number to dial in the simplified ISDN mode: one number, or two for
// an MPEG call. A thin view over CNumberRequestLogic; DoModal returns IDOK
// ("Dial") or IDCANCEL.
//
// Threads: GUI thread.
#include "ui/NumberRequestLogic.h"
#include "ui/StandardDialog.h"

class wxTextCtrl;

class CNumberRequestDlg : public CStandardDialog {
public:
    CNumberRequestDlg() : CStandardDialog(146, 0) {}
    void SetKind(int kind) { m_logic.SetKind(kind); }
    void SetColors(const DialogColours& colours) { SetColours(colours); }
    void GetNumber(int index, char* buffer, int length) const { m_logic.GetNumber(index, buffer, length); }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    void OnOK() override;

private:
    CNumberRequestLogic m_logic;
    wxTextCtrl* m_numbers[2] = {};
};
