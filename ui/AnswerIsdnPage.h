#pragma once
// The ISDN tab of the answer settings: a thin view over CAnswerIsdnLogic.
//
// Threads: GUI thread.
#include "ui/AnswerIsdnLogic.h"
#include "ui/DialogColours.h"

class CTranslator;
class wxCheckBox;
class wxPanel;
class wxRadioButton;
class wxTextCtrl;
class wxWindow;

class CAnswerIsdnPage {
public:
    static constexpr DialogColours kColours = {0x775555, 0x552222, 0xFFDDDD, 0xDDBBBB};

    // Builds the page as a child of the tab control, filled from the settings.
    wxPanel* Create(wxWindow* parent, const CTranslator& translator, const CSettings& settings);
    // Stores the controls (no checks).
    void Apply(const CSettings& settings);
    const CAnswerIsdnLogic& Logic() const { return m_logic; }

private:
    void Show();

    CAnswerIsdnLogic m_logic;
    wxTextCtrl* m_msn[2] = {};
    wxCheckBox* m_accept = nullptr;
    wxCheckBox* m_voice = nullptr;
    wxRadioButton* m_coding[4] = {};
    wxRadioButton* m_rate[4] = {};
    wxRadioButton* m_mode[5] = {};
};
