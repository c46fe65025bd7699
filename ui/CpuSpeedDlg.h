#pragma once
// The one-time question about the processor's speed; DoModal returns 1 for
// "1 GHz or faster." and 2 for "Less than 1 GHz.". Only its OK ends it.
#include "ui/CpuSpeedLogic.h"
#include "ui/StandardDialog.h"

class wxRadioButton;
class CHoverButton;

class CCpuSpeedDlg : public CStandardDialog {
public:
    static constexpr int kSlower = 1181, kFaster = 1182, kOk = 1183;

    CCpuSpeedDlg() : CStandardDialog(135, 12) {}
    const CCpuSpeedLogic& Logic() const { return m_logic; }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnTimer(UINT_PTR id) override;

private:
    void Show();

    CCpuSpeedLogic m_logic;
    wxRadioButton* m_unanswered = nullptr;
    wxRadioButton* m_slower = nullptr;
    wxRadioButton* m_faster = nullptr;
    CHoverButton* m_ok = nullptr;
};
