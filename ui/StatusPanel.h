#pragma once
// A coloured text panel: plain or gradient background (a background of
// 0x1000000 or more means none: only the text is painted). Draw() paints
// into any DC. GUI thread only.
#include <wx/control.h>

#include "platform/WinTypes.h"

class CStatusPanel : public wxControl {
public:
    static constexpr COLORREF kNoBackground = 0x1000000;

    CStatusPanel(wxWindow* parent, int id, const wxString& text, const wxPoint& pos, const wxSize& size,
                 long align = wxALIGN_LEFT);

    void SetAll(const wxString* text, COLORREF textColour, COLORREF background, int weight);
    void SetText(const wxString& text);
    void SetGradient(bool on);
    const wxString& Text() const { return m_text; }

    void Draw(wxDC& dc) const;
    wxSize DoGetBestSize() const override;
    bool AcceptsFocus() const override { return false; }

private:
    wxString m_text;
    long m_align;
    COLORREF m_textColour = 0;
    COLORREF m_background = kNoBackground;
    int m_weight = 700;
    bool m_gradient = false;
};
