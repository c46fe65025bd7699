#pragma once
// The warning that a link carries less than the chosen audio needs: the
// operator continues, tests again or disconnects; a remote-control client
// may answer instead; after 30 s without an answer the call is dropped.
#include "ui/BandwidthLogic.h"
#include "ui/MainEngine.h"
#include "ui/StandardDialog.h"

class CBandwidthDlg : public CStandardDialog {
public:
    static constexpr int kContinue = 1152, kTestAgain = 1151, kDisconnect = 3;

    CBandwidthDlg() : CStandardDialog(115, 14) {}
    // May be null. Reports the figures to it at once.
    void SetServer(CRemoteControl* rip) { m_rip = rip; }
    void SetFigures(int limit, int receive, int send);
    CBandwidthLogic::Answer Answer() const { return m_answer; }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    BOOL OnInitDialog() override;
    void OnOK() override { Finish(CBandwidthLogic::kContinue); }         // Enter
    void OnCancel() override { Finish(CBandwidthLogic::kDisconnect); }  // Escape, close box
    void OnTimer(UINT_PTR id) override;

private:
    void Finish(CBandwidthLogic::Answer answer);

    CBandwidthLogic m_logic;
    CRemoteControl* m_rip = nullptr;
    CBandwidthLogic::Answer m_answer = CBandwidthLogic::kNone;
};
