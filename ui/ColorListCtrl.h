#pragma once
// The phonebook pages' list: one column of names in the page's colours,
// full-row selection, a selection found by the first letters of a name, and
// label tips that show a name too long for the column.
//
// Threads: GUI thread only.
#include <wx/listctrl.h>

#include "platform/WinTypes.h"

class CColorListCtrl : public wxListCtrl {
public:
    CColorListCtrl(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size);

    // Colours, and the one column as wide as the control minus 16 pixels.
    void Init(COLORREF text, COLORREF background);
    void SetLabelTips(bool on);
    bool LabelTips() const { return m_labelTips; }
    // Selects the first item from `start` whose text begins with `name`
    // (case ignored) and scrolls it into view; 0 for an empty name or none
    // found, else 1.
    int SelectByName(int start, const wxString& name);
    // Focus follows the selection; returns the selected item (-1 none).
    int SyncSelection();
    COLORREF TextColour() const { return m_text; }
    COLORREF BackgroundColour() const { return m_background; }

private:
    void ShowTipAt(const wxPoint& pos);

    COLORREF m_text = 0;
    COLORREF m_background = 0xFFFFFF;
    bool m_labelTips = false;
};
