#include "ui/BandwidthDlg.h"

#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/toplevel.h>

#include "ui/HoverButton.h"

namespace {
constexpr UINT_PTR kTimeoutTimer = 101;
constexpr UINT_PTR kPollTimer = 104;
constexpr int kWrap = 460;
}  // namespace

void CBandwidthDlg::SetFigures(int limit, int receive, int send) {
    m_logic.SetFigures(limit, receive, send);
    if (m_rip) m_rip->SendBandwidthInfo(limit, m_logic.Measured());
}

void CBandwidthDlg::BuildView(wxTopLevelWindow& view) {
    view.SetTitle(Text(0, "Unsufficient Bandwidth on connection"));
    PaintBackground(view);
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(AddText(&view, 5074,
                     Text(1, "The bandwidth provided by the connection is not sufficent for the type of audio selected "
                             "for this transmission:"),
                     kWrap),
             0, wxALL, 14);
    auto* figures = new wxFlexGridSizer(2, 6, 16);
    figures->Add(AddText(&view, 5073, Text(2, "Your audio needs:"), 0));
    auto* need = AddText(&view, 1153, wxString::FromUTF8(m_logic.NeedText(m_translator.GetText(3, "incl protocol overhead"))), 0);
    need->SetFont(need->GetFont().Bold());
    figures->Add(need);
    figures->Add(AddText(&view, 5072, Text(4, "The connection provides:"), 0));
    auto* provided = AddText(&view, 1154, wxString::FromUTF8(m_logic.ProvidedText()), 0);
    provided->SetFont(provided->GetFont().Bold());
    figures->Add(provided);
    top->Add(figures, 0, wxLEFT | wxRIGHT | wxBOTTOM, 14);
    top->Add(AddText(&view, 5075, Text(5, "You now have the following options:"), 0), 0, wxLEFT | wxRIGHT | wxBOTTOM, 14);
    auto* choices = new wxFlexGridSizer(2, 8, 12);
    struct Row {
        int button, caption, text, textLine;
        const char* captionDefault;
        const char* textDefault;
        CBandwidthLogic::Answer answer;
    };
    const Row rows[] = {
        {kContinue, 6, 1155, 7, "Continue", "- Ignore this warning and continue with current settings.", CBandwidthLogic::kContinue},
        {kTestAgain, 8, 1156, 9, "Test again", "- Test the connection bandwidth again.", CBandwidthLogic::kTestAgain},
        {kDisconnect, 10, 1157, 11, "Disconnect", "- Disconnect to select a more suitable audio setting.",
         CBandwidthLogic::kDisconnect},
    };
    for (const Row& row : rows) {
        auto* button = AddButton(&view, row.button, Text(row.caption, row.captionDefault));
        const CBandwidthLogic::Answer answer = row.answer;
        button->Bind(wxEVT_BUTTON, [this, answer](wxCommandEvent&) { Finish(answer); });
        choices->Add(button);
        choices->Add(AddText(&view, row.text, Text(row.textLine, row.textDefault), 320), 0, wxALIGN_CENTER_VERTICAL);
    }
    top->Add(choices, 0, wxLEFT | wxRIGHT | wxBOTTOM, 14);
    view.SetSizerAndFit(top);
    view.CentreOnParent();
}

BOOL CBandwidthDlg::OnInitDialog() {
    SetTimer(GetSafeHwnd(), kTimeoutTimer, CBandwidthLogic::kTimeoutMs);
    if (m_rip) SetTimer(GetSafeHwnd(), kPollTimer, CBandwidthLogic::kPollMs);
    return TRUE;
}

void CBandwidthDlg::OnTimer(UINT_PTR id) {
    if (id == kTimeoutTimer) {
        Finish(CBandwidthLogic::kDisconnect);
    } else if (id == kPollTimer && m_rip) {
        const CBandwidthLogic::Answer answer = CBandwidthLogic::FromRemote(m_rip->PollBandwidthAnswer());
        if (answer != CBandwidthLogic::kNone) Finish(answer);
    }
}

void CBandwidthDlg::Finish(CBandwidthLogic::Answer answer) {
    if (m_answer != CBandwidthLogic::kNone) return;
    KillTimer(GetSafeHwnd(), kPollTimer);
    KillTimer(GetSafeHwnd(), kTimeoutTimer);
    m_answer = answer;
    EndDialog(answer == CBandwidthLogic::kDisconnect ? 2 : 1);
}
