#pragma once
// A small modal dialog of the program in the standard colours: the four
// colours from its opener, hover buttons and a translator of its own.
//
// Threads: GUI thread only.
#include <wx/string.h>

#include "common/Translator.h"
#include "ui/DialogColours.h"
#include "ui/framework/Dialog.h"

class wxSizer;
class wxStaticText;
class wxWindow;
class CHoverButton;
class CImageButton;

class CStandardDialog : public CDialog {
public:
    CStandardDialog(UINT templateId, int section);
    void SetColours(const DialogColours& colours) { m_colours = colours; }
    const DialogColours& Colours() const { return m_colours; }

protected:
    // A wrapped text in the other-text colour.
    wxStaticText* AddText(wxWindow* parent, int id, const wxString& text, int wrapWidth);
    // A hover button: text colour other-text, hover the background, face the edit colour, weight 700.
    CHoverButton* AddButton(wxWindow* parent, int id, const wxString& caption);
    // A plain push button (kind 1 OK, 2 Cancel, else the caption given).
    CImageButton* AddImageButton(wxWindow* parent, int id, int kind, const wxString& caption);
    void PaintBackground(wxWindow& view);
    // The line of the dialog's section, or the default.
    wxString Text(int line, const char* defaultText) const;

    CTranslator m_translator;
    DialogColours m_colours = kStandardDialogColours;
};
