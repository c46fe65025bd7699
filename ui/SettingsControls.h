#pragma once
// Small builders shared by the settings dialogs and pages: labels, boxes and
// lists in a dialog's colours (edits and lists draw text 1 on background 1,
// labels text 1 on background 2, the dialog's marked texts text 2).
//
// Threads: GUI thread.
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "ui/ColourTriple.h"
#include "ui/DialogColours.h"

namespace SettingsControls {

inline wxStaticText* Label(wxWindow* parent, int id, const wxString& text, COLORREF colour, int wrap = 0) {
    auto* label = new wxStaticText(parent, id, text);
    label->SetForegroundColour(WxColour(colour));
    if (wrap > 0) label->Wrap(wrap);
    return label;
}

inline wxCheckBox* Check(wxWindow* parent, int id, const wxString& text, COLORREF colour) {
    auto* box = new wxCheckBox(parent, id, text);
    box->SetForegroundColour(WxColour(colour));
    return box;
}

inline wxRadioButton* Radio(wxWindow* parent, int id, const wxString& text, COLORREF colour, bool first = false) {
    auto* radio = new wxRadioButton(parent, id, text, wxDefaultPosition, wxDefaultSize, first ? wxRB_GROUP : 0);
    radio->SetForegroundColour(WxColour(colour));
    return radio;
}

inline wxTextCtrl* Edit(wxWindow* parent, int id, const DialogColours& c, int maxLength, int width = 160,
                        long style = 0) {
    auto* edit = new wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxSize(width, -1), style);
    edit->SetMaxLength(static_cast<unsigned long>(maxLength));
    edit->SetForegroundColour(WxColour(c.buttonText));
    edit->SetBackgroundColour(WxColour(c.face));
    return edit;
}

inline wxChoice* List(wxWindow* parent, int id, const DialogColours& c, int width = 180) {
    auto* list = new wxChoice(parent, id, wxDefaultPosition, wxSize(width, -1));
    list->SetForegroundColour(WxColour(c.buttonText));
    list->SetBackgroundColour(WxColour(c.face));
    return list;
}

}  // namespace SettingsControls
