#pragma once
// What the three destination dialogs' windows share: the four colours, the
// OK and Cancel buttons, the working entry behind Load and GetEntry, and the
// refusal box. Each kind adds its controls and hands OK to its logic.
// GUI thread only.
#include <wx/dialog.h>

#include <map>
#include <string>

#include "common/Translator.h"
#include "ui/DialogColours.h"
#include "ui/destinations/DestinationLogic.h"

class wxBoxSizer;
class wxSizer;
class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxStaticText;
class wxTextCtrl;
class CHoverButton;
class CPhonebook;

class CDestinationDlg : public wxDialog {
public:
    CDestinationDlg(wxWindow* parent, const char* caption, int section, CDestinationLogic& logic);

    void SetColours(const DialogColours& colours) { m_colours = colours; }
    void Load(CPhonebook* phonebook, const PhonebookEntry* entry) { m_logic.Load(phonebook, entry); }
    void GetEntry(PhonebookEntry& out) const { m_logic.GetEntry(out); }
    // Builds the controls, runs the dialog; wxID_OK or wxID_CANCEL.
    int Run();

    wxWindow* Control(int id) const;
    const std::map<int, wxWindow*>& Controls() const { return m_controls; }

protected:
    virtual void BuildControls(wxBoxSizer& column) = 0;
    // Whether OK may close the dialog (the logic stored everything).
    virtual bool Accept() = 0;

    // Shows a refusal and focuses its control; false when there was one.
    bool Refuse(const DestinationRefusal& refusal);
    const char* Text(int line, const char* text) const { return m_translator.GetSectionText(m_section, line, text); }
    wxStaticText* Label(wxWindow* parent, int id, int line, const char* text, bool question = true);
    wxTextCtrl* Edit(wxWindow* parent, int id, const std::string& value, int maxChars, int width);
    wxRadioButton* Radio(wxWindow* parent, int id, int line, const char* text, bool firstOfGroup = false);
    wxCheckBox* Check(wxWindow* parent, int id, int line, const char* text);
    wxChoice* Combo(wxWindow* parent, int id, int width);
    // A radio group without a checked member: GTK always checks one, so each
    // group gets a hidden member that holds the check when none should show.
    void CheckInGroup(wxRadioButton* radio, bool on);
    wxWindow* Remember(int id, wxWindow* window);
    void SetTip(int id, const char* tip);

    // The auto-reconnect group: its check box, the same/other destination
    // radios, and the other destination's kind ("ISDN", "Network / IP") and
    // name. Its three texts are lines firstLine.. of the dialog's section; a
    // kind neither list item names shows as kindItemOfOthers.
    struct ReconnectIds {
        int autoCheck, same, other, kind, name;
        int firstLine;
        int kindItemOfOthers;
    };
    void AddReconnectGroup(wxSizer& to, const ReconnectIds& ids);
    // Shows the loaded entry in the group and binds the group to the logic.
    void StartReconnectGroup();
    void ShowReconnect();

    CTranslator m_translator;
    DialogColours m_colours = kStandardDialogColours;
    int m_section;
    std::map<int, wxWindow*> m_controls;
    std::map<wxRadioButton*, wxRadioButton*> m_noneOfGroup;

private:
    void OnOk();
    CDestinationLogic& m_logic;
    ReconnectIds m_reconnect{};
};
