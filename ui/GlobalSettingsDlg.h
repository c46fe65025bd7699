#pragma once
// Station identification, language, processor speed, G.711 law, library
// location and the connection made at start-up: a thin view over
// CGlobalSettingsLogic. DoModal returns IDOK after storing, IDCANCEL with
// nothing written.
//
// Threads: GUI thread.
#include "ui/GlobalSettingsLogic.h"
#include "ui/StandardDialog.h"

class CPhonebook;
class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxTextCtrl;

class CGlobalSettingsDlg : public CStandardDialog {
public:
    CGlobalSettingsDlg() : CStandardDialog(113, 6) {}
    void SetPhonebook(CPhonebook* phonebook) { m_phonebook = phonebook; }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    void OnOK() override;

private:
    void FillNames();
    void Browse();

    CGlobalSettingsLogic m_logic;
    CPhonebook* m_phonebook = nullptr;
    wxTextCtrl* m_id = nullptr;
    wxChoice* m_language = nullptr;
    wxRadioButton* m_aLaw = nullptr;
    wxRadioButton* m_uLaw = nullptr;
    wxCheckBox* m_fast = nullptr;
    wxTextCtrl* m_location = nullptr;
    wxCheckBox* m_autoDial = nullptr;
    wxChoice* m_kind = nullptr;
    wxChoice* m_name = nullptr;
};
