#pragma once
// The Network / IP tab of the answer settings: a thin view over
// CAnswerIpLogic.
//
// Threads: GUI thread.
#include "ui/AnswerIpLogic.h"
#include "ui/DialogColours.h"

class CTranslator;
class wxCheckBox;
class wxChoice;
class wxPanel;
class wxRadioButton;
class wxTextCtrl;
class wxWindow;

class CAnswerIpPage {
public:
    static constexpr DialogColours kColours = {0x556644, 0x113311, 0xFFFFDD, 0xBBCCAA};

    wxPanel* Create(wxWindow* parent, const CTranslator& translator, const CSettings& settings);
    // The check OK makes before anything is written.
    CAnswerIpLogic::Result Validate();
    CAnswerIpLogic::Result Apply(const CSettings& settings);
    const CAnswerIpLogic& Logic() const { return m_logic; }

private:
    void FillLists();
    void Show();

    CAnswerIpLogic m_logic;
    wxCheckBox* m_accept = nullptr;
    wxChoice* m_port = nullptr;
    wxTextCtrl* m_otherPort = nullptr;
    wxCheckBox* m_same = nullptr;
    wxChoice* m_coding = nullptr;
    wxChoice* m_bitrate = nullptr;
    wxChoice* m_samplerate = nullptr;
    wxRadioButton* m_mode[4] = {};
};
