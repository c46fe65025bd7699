#include "ui/ColorListCtrl.h"

#include <wx/dcclient.h>

#include "ui/ColourTriple.h"

CColorListCtrl::CColorListCtrl(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxLC_NO_HEADER | wxLC_SINGLE_SEL) {
    InsertColumn(0, "", wxLIST_FORMAT_LEFT, size.x > 16 ? size.x - 16 : size.x);
    SetLabelTips(true);
    Bind(wxEVT_MOTION, [this](wxMouseEvent& e) {
        ShowTipAt(e.GetPosition());
        e.Skip();
    });
}

void CColorListCtrl::Init(COLORREF text, COLORREF background) {
    m_text = text;
    m_background = background;
    SetBackgroundColour(WxColour(background));
    SetForegroundColour(WxColour(text));
    SetTextColour(WxColour(text));
    const int width = GetClientSize().x > 0 ? GetClientSize().x : GetSize().x;
    SetColumnWidth(0, width > 16 ? width - 16 : width);
    Refresh();
}

void CColorListCtrl::SetLabelTips(bool on) {
    m_labelTips = on;
    if (!on) UnsetToolTip();
}

void CColorListCtrl::ShowTipAt(const wxPoint& pos) {
    if (!m_labelTips) return;
    int flags = 0;
    const long item = HitTest(pos, flags);
    if (item < 0) {
        UnsetToolTip();
        return;
    }
    const wxString text = GetItemText(item);
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    // Only a name the column cuts needs a tip.
    if (dc.GetTextExtent(text).x + 20 > GetColumnWidth(0)) {
        if (!GetToolTip() || GetToolTipText() != text) SetToolTip(text);
    } else {
        UnsetToolTip();
    }
}

int CColorListCtrl::SelectByName(int start, const wxString& name) {
    if (name.empty()) return 0;
    const wxString wanted = name.Lower();
    const int count = GetItemCount();
    for (int i = start < 0 ? 0 : start; i < count; ++i) {
        if (!GetItemText(i).Lower().StartsWith(wanted)) continue;
        const long previous = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED);
        if (previous >= 0 && previous != i) SetItemState(previous, 0, wxLIST_STATE_FOCUSED);
        SetItemState(i, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        EnsureVisible(i);
        return 1;
    }
    return 0;
}

int CColorListCtrl::SyncSelection() {
    const long selected = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    for (int i = 0; i < GetItemCount(); ++i) {
        const bool focused = GetItemState(i, wxLIST_STATE_FOCUSED) != 0;
        if (i == selected && !focused) SetItemState(i, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
        if (i != selected && focused && selected >= 0) SetItemState(i, 0, wxLIST_STATE_FOCUSED);
    }
    return static_cast<int>(selected);
}
