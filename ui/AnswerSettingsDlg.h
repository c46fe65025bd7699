#pragma once
// How calls are answered: the ISDN and Network / IP tabs. DoModal returns
// IDOK once both tabs stored their keys (Network / IP first, checked before
// anything is written) or IDCANCEL with nothing written.
//
// Threads: GUI thread.
#include <memory>

#include "ui/StandardDialog.h"

class CAnswerIsdnPage;
class CAnswerIpPage;
class wxNotebook;

class CAnswerSettingsDlg : public CStandardDialog {
public:
    static constexpr int kTabs = 1121;

    CAnswerSettingsDlg();
    ~CAnswerSettingsDlg() override;
    // Makes both pages; start is the tab to open on (0 ISDN, 1 Network / IP;
    // any other index opens the first). 0 when a page cannot be made.
    int CreatePages(int start);

protected:
    void BuildView(wxTopLevelWindow& view) override;
    void OnOK() override;

private:
    std::unique_ptr<CAnswerIsdnPage> m_isdn;
    std::unique_ptr<CAnswerIpPage> m_ip;
    wxNotebook* m_tabs = nullptr;
    int m_start = 0;
};
